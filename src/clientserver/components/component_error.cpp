#include "clientserver/components/component_error.h"

#include "foundation/text/exception.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

EBRNError::EBRNError(const std::exception& cause) : EDatabaseError(cause.what()) {
  if (const auto* engineError = dynamic_cast<const EBRNException*>(&cause)) {
    ErrorCode = engineError->ErrorCode;
    ErrorMessage = engineError->ErrorMessage;
    ErrorLine = engineError->ErrorLine;
    ErrorColumn = engineError->ErrorColumn;
  } else {
    ErrorCode = kBRNUnknownErrorCode;
    ErrorMessage = cause.what();
  }
}

void RaiseAsComponentError() {
  try {
    throw;
  } catch (const EBRNAbortException&) {
    Abort();
  } catch (const EDatabaseError&) {
    throw;
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
}

}  // namespace brn
