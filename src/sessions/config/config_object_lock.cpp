#include "sessions/config/config_object_lock.h"

#include "sessions/config/config_command_frame.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNConfigObject* BeginAlterConfigObject(
    TBRNLocalSessionManager& session, const std::function<TBRNConfigObject*()>& find,
    const std::function<void(TBRNConfigObject*)>& prepare) {
  TBRNConfigUpdateBracket update(session);
  TBRNConfigObject* object = find();
  session.ReportAlterStatus(osStarting, object);
  try {
    prepare(object);
  } catch (...) {
    try {
      session.ReportAlterStatus(osNotCompleted, object);
    } catch (...) {
      // The error of the preparation is the one to report.
    }
    throw;
  }
  update.Release();
  return object;
}

}  // namespace brn
