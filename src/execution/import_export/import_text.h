// The characters of an import file: its encoding detected or taken as
// given, its bytes read in chunks of at most 64 KiB and decoded to the
// engine's single-byte (Windows-1252) text, one chunk in memory at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brn {

class TBRNStream;

// The encodings of transfer files.
inline constexpr int32_t kTransferEncodingAuto = -1;
inline constexpr int32_t kTransferEncodingAnsi = 0;
inline constexpr int32_t kTransferEncodingUnicode = 1;

// The bytes of an import file read at once, at most.
inline constexpr int32_t kImportChunkBytes = 65536;

// The UTF-16 unit of a Windows-1252 character (every byte has one).
char16_t AnsiToUnicode(unsigned char c);
// The Windows-1252 byte of a UTF-16 unit; -1 when the page has none.
int32_t UnicodeToAnsi(char16_t c);

// Reads the text of a stream from its current position.
//
// Encoding kTransferEncodingAuto reads two bytes: FF FE selects UTF-16
// little-endian and is skipped; otherwise a zero byte among them selects
// UTF-16, anything else single bytes, and reading starts again at the
// beginning. kTransferEncodingUnicode skips FF FE when present.
//
// A chunk that the stream cannot deliver in full, a lone last byte of
// UTF-16 text, and a UTF-16 character outside Windows-1252 call the fail
// event with the reason when the reader reaches that character, so that
// the reader reports the position it stands on; the event must raise
// (without one, std::logic_error). Used by one thread.
class TBRNImportText {
 public:
  using TBRNFailEvent = std::function<void(const std::string& reason)>;

  TBRNImportText(TBRNStream& stream, int32_t encoding);
  void SetFailEvent(TBRNFailEvent fail) { fail_ = std::move(fail); }

  // Whether a character is left; reads the next chunk when the current one
  // is used up.
  bool More() { return position_ < end_ || refill(); }
  // The current character; precondition: More() answered true.
  char Peek() const { return buffer_[size_t(position_)]; }
  void Advance() { ++position_; }
  // Characters consumed since the start of the text.
  int64_t Consumed() const { return base_ + position_; }
  // Bytes of the file read so far and in all.
  int64_t BytesRead() const { return bytesRead_; }
  int64_t BytesTotal() const { return bytesTotal_; }
  bool IsUnicode() const { return unicode_; }

 private:
  bool refill();
  [[noreturn]] void fail(const std::string& reason);

  TBRNStream& stream_;
  TBRNFailEvent fail_;
  bool unicode_ = false;
  std::string buffer_;
  std::vector<unsigned char> bytes_;
  int64_t position_ = 0;
  int64_t end_ = 0;
  int64_t base_ = 0;
  // The buffer position of a character that cannot be decoded, or -1.
  int64_t badAt_ = -1;
  std::string badReason_;
  int64_t bytesRead_ = 0;
  int64_t bytesTotal_ = 0;
};

}  // namespace brn
