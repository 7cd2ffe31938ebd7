#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/types/literal_text.h"
#include "foundation/core/memory_stream.h"

namespace brn::testing {

// Runs action and returns the engine error it raises; a test failure (and an
// error of code 0) when it raises none.
template <typename Action>
EBRNException CaughtError(Action&& action) {
  try {
    action();
  } catch (const EBRNException& e) {
    return e;
  }
  ADD_FAILURE() << "no engine error";
  return EBRNException(0, "");
}

// The whole contents of a memory stream, as bytes and as upper-case hex.
inline std::vector<uint8_t> StreamBytes(const TBRNMemoryStream& stream) {
  const uint8_t* data = stream.GetMemory();
  return std::vector<uint8_t>(data, data + stream.GetSize());
}

inline std::string StreamHex(const TBRNMemoryStream& stream) {
  return FormatBytesLiteral(std::span(stream.GetMemory(), size_t(stream.GetSize())));
}

}  // namespace brn::testing
