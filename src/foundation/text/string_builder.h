#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace brn {

// The growable character buffer behind the engine's text transformations.
// Positions are 0-based. The capacity grows geometrically (at least doubling,
// from 32, to a multiple of 32), so appending costs amortised constant time
// per character; it shrinks only when the length drops to 0, which releases
// the buffer. The buffer grows with realloc, so a large text is extended in
// place (or remapped) instead of being copied into freshly touched memory.
class TBRNStringBuilder {
 public:
  explicit TBRNStringBuilder(std::string_view initialText = {});

  // Characters that come into use read as zero.
  void SetLength(int32_t n);
  int32_t GetLength() const { return Length; }
  int32_t GetCapacity() const { return Capacity; }

  // Unchecked, like indexing a buffer: pos must lie in [0, Length).
  char GetChar(int32_t pos) const { return Buffer.get()[pos]; }
  void SetChar(int32_t pos, char c) { Buffer.get()[pos] = c; }

  // Inline while the text fits the capacity (the common case of small
  // pieces); growing goes out of line.
  void Append(std::string_view s) {
    if (s.size() <= size_t(Capacity - Length)) {
      // Within the capacity the buffer stays, so s may even be text of the
      // builder itself (which lies before Length, apart from the target).
      if (!s.empty()) std::memcpy(Buffer.get() + Length, s.data(), s.size());
      Length += int32_t(s.size());
      return;
    }
    appendGrowing(s);
  }
  void AppendChar(char c) {
    if (Length < Capacity) {
      Buffer.get()[Length++] = c;
      return;
    }
    appendGrowing(std::string_view(&c, 1));
  }
  // pos in [0, Length]; the characters from pos on move up.
  void Insert(int32_t pos, std::string_view s);
  void InsertChar(int32_t pos, char c);
  // Removes count characters at pos; pos + count must not exceed Length.
  void Delete(int32_t pos, int32_t count);

  std::string GetText() const { return std::string(View()); }
  std::string_view View() const { return std::string_view(Buffer.get(), size_t(Length)); }
  bool IsEmpty() const { return Length == 0; }

 private:
  bool overlapsBuffer(std::string_view s) const;
  void appendGrowing(std::string_view s);
  void resize(int32_t n);

  struct FreeBuffer {
    void operator()(char* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<char, FreeBuffer> Buffer;
  int32_t Capacity = 0;
  int32_t Length = 0;
};

}  // namespace brn
