#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brn {

// The one exception the engine reports to its callers: an error code, the
// plain message and, for errors in SQL text, the 1-based line and column.
// what() is the display text: "Brindle Error #<code> <message>" for codes
// 1..9999, the message alone otherwise.
class EBRNException : public std::runtime_error {
 public:
  EBRNException(int32_t errorCode, const std::string& message);
  EBRNException(int32_t errorCode, const std::string& message, int32_t line, int32_t column);

  const char* Message() const noexcept { return what(); }

  int32_t ErrorCode = 0;
  std::string ErrorMessage;
  int32_t ErrorLine = 0;
  int32_t ErrorColumn = 0;
};

// A silent abort: the user already knows why the operation stopped.
class EBRNAbortException : public std::runtime_error {
 public:
  explicit EBRNAbortException(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] void RaiseAbortException(const std::string& message);

// The conversion error 1011 of values, parameters and date arithmetic:
// "An error occurred with the <kind> <name> (<detail>)".
inline constexpr int32_t kConversionErrorCode = 1011;
[[noreturn]] void RaiseConversionFailure(std::string_view kind, std::string_view name,
                                         std::string_view detail);

}  // namespace brn
