#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"

namespace brn::fuzz {

// Reads a fuzzer input front to back; past the end every read gives zeros,
// so any input drives the whole target.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint32_t Word32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t(Byte()) << (8 * i);
    return value;
  }
  // The text up to the next newline (or the end).
  std::string Line() {
    std::string text;
    while (position_ < size_ && data_[position_] != '\n') text += char(data_[position_++]);
    if (position_ < size_) ++position_;
    return text;
  }
  // Everything not read yet.
  std::string_view Rest() const {
    if (position_ >= size_) return {};
    return {reinterpret_cast<const char*>(data_ + position_), size_ - position_};
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// A stream holding bytes, positioned at its start.
inline void FillStream(TBRNMemoryStream& stream, std::string_view bytes) {
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
}

inline std::string StreamText(const TBRNMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.GetMemory()), size_t(stream.GetSize()));
}

// A broken property: report it and stop, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property broken: %s [%.*s]\n", what, int(detail.size()), detail.data());
  std::abort();
}

// Runs action; an engine error is an allowed outcome for hostile input, any
// other exception escapes (and libFuzzer reports it).
template <typename Action>
bool Try(Action&& action) {
  try {
    action();
    return true;
  } catch (const EBRNException&) {
    return false;
  }
}

}  // namespace brn::fuzz
