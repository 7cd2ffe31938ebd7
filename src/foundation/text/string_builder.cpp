#include "foundation/text/string_builder.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

namespace brn {

namespace {

int32_t checkedLength(size_t size) {
  if (size > size_t(INT32_MAX)) throw std::length_error("TBRNStringBuilder: text too long");
  return int32_t(size);
}

int32_t grownLength(int32_t length, size_t added) {
  int64_t total = int64_t(length) + int64_t(checkedLength(added));
  if (total > INT32_MAX) throw std::length_error("TBRNStringBuilder: text too long");
  return int32_t(total);
}

}  // namespace

TBRNStringBuilder::TBRNStringBuilder(std::string_view initialText) {
  Append(initialText);
}

// Text taken from this builder itself must be copied before the buffer moves.
bool TBRNStringBuilder::overlapsBuffer(std::string_view s) const {
  const char* begin = Buffer.get();
  return begin != nullptr && std::less_equal<const char*>()(begin, s.data()) &&
         std::less<const char*>()(s.data(), begin + Capacity);
}

void TBRNStringBuilder::SetLength(int32_t n) {
  if (n < 0) throw std::invalid_argument("TBRNStringBuilder: negative length");
  int32_t oldLength = Length;
  resize(n);
  // Characters that come into use are zero, also where a shorter length left
  // old text behind.
  if (n > oldLength) std::memset(Buffer.get() + oldLength, 0, size_t(n - oldLength));
}

// Sets the length; new characters are left for the caller to fill. The
// buffer grows to at least twice its capacity (and to a multiple of 32), so
// appending n characters one by one copies O(n) characters in all.
void TBRNStringBuilder::resize(int32_t n) {
  if (n == Length) return;
  if (n == 0) {
    Buffer.reset();
    Capacity = 0;
  } else if (n > Capacity) {
    const int64_t doubled = std::max<int64_t>(int64_t(Capacity) * 2, 32);
    const int64_t rounded = (int64_t(n) + 31) / 32 * 32;
    const int32_t newCapacity = int32_t(std::min<int64_t>(std::max(doubled, rounded), INT32_MAX));
    // realloc keeps the text and frees the old buffer itself; on failure the
    // old buffer stays as it was.
    char* grown = static_cast<char*>(std::realloc(Buffer.get(), size_t(newCapacity)));
    if (grown == nullptr) throw std::bad_alloc();
    (void)Buffer.release();
    Buffer.reset(grown);
    Capacity = newCapacity;
  }
  Length = n;
}

void TBRNStringBuilder::appendGrowing(std::string_view s) {
  if (s.empty()) return;
  if (overlapsBuffer(s)) return appendGrowing(std::string(s));
  int32_t oldLength = Length;
  resize(grownLength(Length, s.size()));
  std::memcpy(Buffer.get() + oldLength, s.data(), s.size());
}

void TBRNStringBuilder::Insert(int32_t pos, std::string_view s) {
  if (pos < 0 || pos > Length) throw std::out_of_range("TBRNStringBuilder: insert position");
  if (s.empty()) return;
  if (overlapsBuffer(s)) return Insert(pos, std::string(s));
  int32_t oldLength = Length;
  resize(grownLength(Length, s.size()));
  std::memmove(Buffer.get() + pos + s.size(), Buffer.get() + pos, size_t(oldLength - pos));
  std::memcpy(Buffer.get() + pos, s.data(), s.size());
}

void TBRNStringBuilder::InsertChar(int32_t pos, char c) {
  Insert(pos, std::string_view(&c, 1));
}

void TBRNStringBuilder::Delete(int32_t pos, int32_t count) {
  if (count <= 0) return;
  if (pos < 0 || int64_t(pos) + count > Length)
    throw std::out_of_range("TBRNStringBuilder: delete range");
  std::memmove(Buffer.get() + pos, Buffer.get() + pos + count, size_t(Length - pos - count));
  resize(Length - count);
}

}  // namespace brn
