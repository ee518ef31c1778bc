// Charset decoding over ICU converters, with the output written in code page
// 936 through the system's own conversion.
#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/charset_decoder.h"
#include "platform/codepage.h"
#include "platform/icu_converter_linux.h"

namespace timesync {
namespace platform {
namespace {

thread_local bool failOpenForTest = false;

struct CharsetAlias {
  std::string_view name;  // lower case
  std::string_view converter;
};

// Names as pages and browsers write them. gb2312 is deliberately not left to
// ICU's own alias, which names a narrower EUC-CN table: pages that say gb2312
// are written in code page 936.
constexpr std::string_view kCp936 = "windows-936-2000";
constexpr std::array kCharsets = std::to_array<CharsetAlias>({
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"gb2312", kCp936},
    {"gbk", kCp936},
    {"cp936", kCp936},
    {"ms936", kCp936},
    {"windows-936", kCp936},
    {"x-gbk", kCp936},
    {"chinese", kCp936},
    {"csgb2312", kCp936},
    {"csiso58gb231280", kCp936},
    {"gb_2312-80", kCp936},
    {"iso-ir-58", kCp936},
    {"gb18030", "gb18030"},
    {"hz-gb-2312", "HZ"},
    {"big5", "windows-950-2000"},
    {"cn-big5", "windows-950-2000"},
    {"csbig5", "windows-950-2000"},
    {"x-x-big5", "windows-950-2000"},
    {"cp950", "windows-950-2000"},
    {"shift_jis", "ibm-943_P15A-2003"},
    {"shift-jis", "ibm-943_P15A-2003"},
    {"sjis", "ibm-943_P15A-2003"},
    {"x-sjis", "ibm-943_P15A-2003"},
    {"ms_kanji", "ibm-943_P15A-2003"},
    {"csshiftjis", "ibm-943_P15A-2003"},
    {"windows-31j", "ibm-943_P15A-2003"},
    {"cp932", "ibm-943_P15A-2003"},
    {"euc-jp", "EUC-JP"},
    {"x-euc-jp", "EUC-JP"},
    {"cseucpkdfmtjapanese", "EUC-JP"},
    {"iso-2022-jp", "ISO_2022,locale=ja,version=0"},
    {"csiso2022jp", "ISO_2022,locale=ja,version=0"},
    {"euc-kr", "windows-949-2000"},
    {"cseuckr", "windows-949-2000"},
    {"ks_c_5601-1987", "windows-949-2000"},
    {"ks_c_5601", "windows-949-2000"},
    {"ksc_5601", "windows-949-2000"},
    {"korean", "windows-949-2000"},
    {"cp949", "windows-949-2000"},
    {"iso-2022-kr", "ISO_2022,locale=ko,version=0"},
    {"us-ascii", "US-ASCII"},
    {"ascii", "US-ASCII"},
    {"iso-8859-1", "ISO-8859-1"},
    {"iso8859-1", "ISO-8859-1"},
    {"iso_8859-1", "ISO-8859-1"},
    {"latin1", "ISO-8859-1"},
    {"l1", "ISO-8859-1"},
    {"cp819", "ISO-8859-1"},
    {"iso-8859-2", "ISO-8859-2"},
    {"latin2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"iso-8859-9", "ISO-8859-9"},
    {"latin5", "ISO-8859-9"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-15", "ISO-8859-15"},
    {"latin-9", "ISO-8859-15"},
    {"windows-874", "windows-874-2000"},
    {"tis-620", "windows-874-2000"},
    {"windows-1250", "windows-1250"},
    {"windows-1251", "windows-1251"},
    {"windows-1252", "windows-1252"},
    {"windows-1253", "windows-1253"},
    {"windows-1254", "windows-1254"},
    {"windows-1255", "windows-1255"},
    {"windows-1256", "windows-1256"},
    {"windows-1257", "windows-1257"},
    {"windows-1258", "windows-1258"},
    {"cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"cp1252", "windows-1252"},
    {"koi8-r", "KOI8-R"},
    {"cskoi8r", "KOI8-R"},
    {"koi8-u", "KOI8-U"},
    {"cp866", "ibm-866"},
    {"ibm866", "ibm-866"},
    {"macintosh", "macintosh"},
    {"utf-16", "UTF-16LE"},
    {"utf-16le", "UTF-16LE"},
    {"unicode", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
    {"unicodefffe", "UTF-16BE"},
});

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view lower) {
  return a.size() == lower.size() && std::equal(a.begin(), a.end(), lower.begin(),
                                                [](char x, char y) { return LowerAscii(x) == y; });
}

}  // namespace

struct CharsetDecoder::Converter {
  IcuConverter handle;
};

std::optional<std::string_view> ConverterNameForCharset(std::string_view charset) {
  for (const CharsetAlias& alias : kCharsets) {
    if (EqualsIgnoringAsciiCase(charset, alias.name)) return alias.converter;
  }
  return std::nullopt;
}

CharsetDecoder::CharsetDecoder() = default;
CharsetDecoder::~CharsetDecoder() = default;

CharsetDecoder::OpenResult CharsetDecoder::Open(std::string_view charset) {
  Release();
  const std::optional<std::string_view> converterName = ConverterNameForCharset(charset);
  if (!converterName) return OpenResult::kUnknownCharset;
  if (failOpenForTest) return OpenResult::kUnavailable;
  const std::string name(*converterName);  // zero-terminated for ICU
  auto converter = std::make_unique<Converter>();
  converter->handle = OpenIcuConverter(name.c_str());
  if (!converter->handle) return OpenResult::kUnavailable;
  converter_ = std::move(converter);
  return OpenResult::kOpened;
}

bool CharsetDecoder::IsOpen() const { return converter_ != nullptr; }

std::string CharsetDecoder::ReadText(std::string_view bytes) const {
  if (!converter_ || bytes.empty()) return {};
  std::optional<std::u16string> decoded = IcuToUtf16(converter_->handle.get(), bytes);
  if (!decoded) return {};
  std::u16string& wide = *decoded;
  if (!wide.empty() && wide.front() == u'\xFEFF') wide.erase(0, 1);  // byte-order mark
  return Utf16ToCp936(wide);
}

void CharsetDecoder::Release() { converter_.reset(); }

ScopedCharsetDecoderFailure::ScopedCharsetDecoderFailure() : previous_(failOpenForTest) {
  failOpenForTest = true;
}
ScopedCharsetDecoderFailure::~ScopedCharsetDecoderFailure() { failOpenForTest = previous_; }

}  // namespace platform
}  // namespace timesync
