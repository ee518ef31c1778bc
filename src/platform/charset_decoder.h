// Decoding a page body from the charset it declares into code page 936, in
// place of the system's text stream component.
//
// Charset names are taken as pages write them, in any case: "utf-8", "UTF8",
// "gb2312", "gbk", "gb18030", "big5", "shift_jis", "euc-jp", "euc-kr",
// "iso-8859-1", "windows-1252", "koi8-r" and their usual aliases. "gb2312" and
// "gbk" both mean code page 936. A name outside the table is reported as
// unknown; nothing is guessed.
//
//   CharsetDecoder decoder;
//   if (decoder.Open("utf-8") == CharsetDecoder::OpenResult::kOpened) {
//     std::string text = decoder.ReadText("\xE4\xB8\xAD");  // "\xD6\xD0" (中)
//   }
//   decoder.Release();
//
// The output is code page 936: characters that code page cannot hold become
// their best-fit byte or "?", and bytes that form no character in the
// declared charset become "?". A byte-order mark (U+FEFF) that opens the
// decoded text is dropped. Zero bytes decode to zero bytes.
#ifndef TIMESYNC_PLATFORM_CHARSET_DECODER_H_
#define TIMESYNC_PLATFORM_CHARSET_DECODER_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace timesync {
namespace platform {

// The converter behind a charset name as a page writes it, or nullopt when
// the name is not in the table.
//   ConverterNameForCharset("GBK") == "windows-936-2000"
std::optional<std::string_view> ConverterNameForCharset(std::string_view charset);

// One decoder slot: empty until Open succeeds, emptied by Release (and on
// destruction). Not copyable.
class CharsetDecoder {
 public:
  enum class OpenResult {
    kOpened,
    kUnknownCharset,  // the name is not in the table
    kUnavailable,     // the converter could not be made
  };

  CharsetDecoder();
  ~CharsetDecoder();
  CharsetDecoder(const CharsetDecoder&) = delete;
  CharsetDecoder& operator=(const CharsetDecoder&) = delete;

  // Makes the decoder for `charset`, replacing any held one. On failure the
  // slot is empty.
  OpenResult Open(std::string_view charset);
  bool IsOpen() const;
  // The bytes decoded into code page 936; empty when the slot is empty.
  std::string ReadText(std::string_view bytes) const;
  // Empties the slot; harmless when it is already empty.
  void Release();

 private:
  struct Converter;
  std::unique_ptr<Converter> converter_;
};

// While alive, every CharsetDecoder::Open on this thread whose name is known
// fails with kUnavailable, as a component that cannot be created would.
class ScopedCharsetDecoderFailure {
 public:
  ScopedCharsetDecoderFailure();
  ~ScopedCharsetDecoderFailure();
  ScopedCharsetDecoderFailure(const ScopedCharsetDecoderFailure&) = delete;
  ScopedCharsetDecoderFailure& operator=(const ScopedCharsetDecoderFailure&) = delete;

 private:
  bool previous_;
};

}  // namespace platform
}  // namespace timesync

#endif  // TIMESYNC_PLATFORM_CHARSET_DECODER_H_
