#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/component.h"

namespace brn {

// The exception every component raises for an engine failure: the engine's
// code, message, line and column (9999 and the message of any other
// exception, line and column 0).
class EBRNError : public EDatabaseError {
 public:
  explicit EBRNError(const std::exception& cause);

  int32_t ErrorCode = 0;
  std::string ErrorMessage;
  int32_t ErrorLine = 0;
  int32_t ErrorColumn = 0;
};

// Called inside a catch handler: raises the exception being handled as
// components raise engine failures. An engine abort becomes the framework's
// silent abort; framework errors and aborts pass unchanged; any other
// exception becomes EBRNError.
[[noreturn]] void RaiseAsComponentError();

}  // namespace brn
