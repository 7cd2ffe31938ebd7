#include "foundation/text/exception.h"

#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

std::string displayText(int32_t errorCode, const std::string& message) {
  if (errorCode >= 1 && errorCode <= 9999) {
    return FormatText("Brindle Error #%s ", {IntegerToString(errorCode)}) + message;
  }
  return message;
}

}  // namespace

EBRNException::EBRNException(int32_t errorCode, const std::string& message)
    : std::runtime_error(displayText(errorCode, message)),
      ErrorCode(errorCode),
      ErrorMessage(message) {}

EBRNException::EBRNException(int32_t errorCode, const std::string& message, int32_t line,
                             int32_t column)
    : EBRNException(errorCode, message) {
  ErrorLine = line;
  ErrorColumn = column;
}

void RaiseAbortException(const std::string& message) {
  throw EBRNAbortException(message);
}

void RaiseConversionFailure(std::string_view kind, std::string_view name, std::string_view detail) {
  throw EBRNException(kConversionErrorCode,
                      FormatText("An error occurred with the %s %s (%s)", {kind, name, detail}));
}

}  // namespace brn
