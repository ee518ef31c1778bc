// Charset decoding on Windows: the system's "Adodb.Stream" text stream,
// driven through IDispatch. The body is written as binary, read back as text
// in the declared charset, and the text converted to code page 936. The
// stream takes the system's (MLang) charset names; pages' names are mapped to
// those first, and a name outside the table is reported, never guessed.
#include <algorithm>
#include <array>
#include <string>

#include "platform/charset_decoder.h"
#include "platform/codepage.h"

// After the interface: the system headers define names it also uses.
#include "platform/automation_windows.h"

namespace timesync {
namespace platform {
namespace {

thread_local bool failOpenForTest = false;

constexpr long kAdTypeBinary = 1;
constexpr long kAdTypeText = 2;
constexpr long kAdReadAll = -1;

struct CharsetAlias {
  std::string_view name;  // lower case
  std::string_view systemName;
};

// gb2312 is the system's name for code page 936 (GBK included).
constexpr std::array kCharsets = std::to_array<CharsetAlias>({
    {"utf-8", "utf-8"},
    {"utf8", "utf-8"},
    {"unicode-1-1-utf-8", "utf-8"},
    {"x-unicode20utf8", "utf-8"},
    {"gb2312", "gb2312"},
    {"gbk", "gb2312"},
    {"cp936", "gb2312"},
    {"ms936", "gb2312"},
    {"windows-936", "gb2312"},
    {"x-gbk", "gb2312"},
    {"chinese", "gb2312"},
    {"csgb2312", "gb2312"},
    {"csiso58gb231280", "gb2312"},
    {"gb_2312-80", "gb2312"},
    {"iso-ir-58", "gb2312"},
    {"gb18030", "gb18030"},
    {"hz-gb-2312", "hz-gb-2312"},
    {"big5", "big5"},
    {"cn-big5", "big5"},
    {"csbig5", "big5"},
    {"x-x-big5", "big5"},
    {"cp950", "big5"},
    {"shift_jis", "shift_jis"},
    {"shift-jis", "shift_jis"},
    {"sjis", "shift_jis"},
    {"x-sjis", "shift_jis"},
    {"ms_kanji", "shift_jis"},
    {"csshiftjis", "shift_jis"},
    {"windows-31j", "shift_jis"},
    {"cp932", "shift_jis"},
    {"euc-jp", "euc-jp"},
    {"x-euc-jp", "euc-jp"},
    {"cseucpkdfmtjapanese", "euc-jp"},
    {"iso-2022-jp", "iso-2022-jp"},
    {"csiso2022jp", "iso-2022-jp"},
    {"euc-kr", "ks_c_5601-1987"},
    {"cseuckr", "ks_c_5601-1987"},
    {"ks_c_5601-1987", "ks_c_5601-1987"},
    {"ks_c_5601", "ks_c_5601-1987"},
    {"ksc_5601", "ks_c_5601-1987"},
    {"korean", "ks_c_5601-1987"},
    {"cp949", "ks_c_5601-1987"},
    {"iso-2022-kr", "iso-2022-kr"},
    {"us-ascii", "us-ascii"},
    {"ascii", "us-ascii"},
    {"iso-8859-1", "iso-8859-1"},
    {"iso8859-1", "iso-8859-1"},
    {"iso_8859-1", "iso-8859-1"},
    {"latin1", "iso-8859-1"},
    {"l1", "iso-8859-1"},
    {"cp819", "iso-8859-1"},
    {"iso-8859-2", "iso-8859-2"},
    {"latin2", "iso-8859-2"},
    {"iso-8859-3", "iso-8859-3"},
    {"iso-8859-4", "iso-8859-4"},
    {"iso-8859-5", "iso-8859-5"},
    {"iso-8859-6", "iso-8859-6"},
    {"iso-8859-7", "iso-8859-7"},
    {"iso-8859-8", "iso-8859-8"},
    {"iso-8859-9", "iso-8859-9"},
    {"latin5", "iso-8859-9"},
    {"iso-8859-13", "iso-8859-13"},
    {"iso-8859-15", "iso-8859-15"},
    {"latin-9", "iso-8859-15"},
    {"windows-874", "windows-874"},
    {"tis-620", "windows-874"},
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
    {"koi8-r", "koi8-r"},
    {"cskoi8r", "koi8-r"},
    {"koi8-u", "koi8-u"},
    {"cp866", "cp866"},
    {"ibm866", "cp866"},
    {"macintosh", "macintosh"},
    {"utf-16", "unicode"},
    {"utf-16le", "unicode"},
    {"unicode", "unicode"},
    {"utf-16be", "unicodeFFFE"},
    {"unicodefffe", "unicodeFFFE"},
});

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view lower) {
  return a.size() == lower.size() && std::equal(a.begin(), a.end(), lower.begin(),
                                                [](char x, char y) { return LowerAscii(x) == y; });
}

std::wstring WidenAscii(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

struct CharsetDecoder::Converter {
  AutomationObject stream;
  std::wstring charset;
};

std::optional<std::string_view> ConverterNameForCharset(std::string_view charset) {
  for (const CharsetAlias& alias : kCharsets) {
    if (EqualsIgnoringAsciiCase(charset, alias.name)) return alias.systemName;
  }
  return std::nullopt;
}

CharsetDecoder::CharsetDecoder() = default;
CharsetDecoder::~CharsetDecoder() = default;

CharsetDecoder::OpenResult CharsetDecoder::Open(std::string_view charset) {
  Release();
  const std::optional<std::string_view> systemName = ConverterNameForCharset(charset);
  if (!systemName) return OpenResult::kUnknownCharset;
  if (failOpenForTest) return OpenResult::kUnavailable;
  auto converter = std::make_unique<Converter>();
  converter->stream = CreateAutomationObject(L"Adodb.Stream");
  if (!converter->stream) return OpenResult::kUnavailable;
  converter->charset = WidenAscii(*systemName);
  converter_ = std::move(converter);
  return OpenResult::kOpened;
}

bool CharsetDecoder::IsOpen() const { return converter_ != nullptr; }

std::string CharsetDecoder::ReadText(std::string_view bytes) const {
  if (!converter_ || bytes.empty()) return {};
  const AutomationObject& stream = converter_->stream;
  std::wstring wide;
  if (PutProperty(stream, L"Type", VariantFromLong(kAdTypeBinary))) {
    CallMethod(stream, L"Open");
    const Variant body = VariantFromBytes(bytes);
    CallMethod(stream, L"Write", {&body});
    // The charset can be chosen only at position 0 of a text stream.
    PutProperty(stream, L"Position", VariantFromLong(0));
    if (PutProperty(stream, L"Type", VariantFromLong(kAdTypeText)) &&
        PutProperty(stream, L"Charset", VariantFromText(converter_->charset))) {
      const Variant all = VariantFromLong(kAdReadAll);
      wide = VariantToText(CallMethod(stream, L"ReadText", {&all}));
    }
    CallMethod(stream, L"Close");
  }
  if (!wide.empty() && wide.front() == L'\xFEFF') wide.erase(0, 1);  // byte-order mark
  return Utf16ToCp936(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

void CharsetDecoder::Release() { converter_.reset(); }

ScopedCharsetDecoderFailure::ScopedCharsetDecoderFailure() : previous_(failOpenForTest) {
  failOpenForTest = true;
}

ScopedCharsetDecoderFailure::~ScopedCharsetDecoderFailure() { failOpenForTest = previous_; }

}  // namespace platform
}  // namespace timesync
