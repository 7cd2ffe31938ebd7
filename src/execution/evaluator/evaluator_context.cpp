#include "execution/evaluator/evaluator_context.h"

#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

void TBRNEvaluatorContext::SetDatabaseManager(TBRNLocalDatabaseManager* manager) {
  DefaultDatabase = manager;
  CurrentDatabase = manager;
}

void TBRNEvaluatorContext::SetCurrentDatabase(TBRNLocalDatabaseManager* manager) {
  CurrentDatabase = manager;
}

void TBRNEvaluatorContext::RestoreDefaultDatabase() {
  if (CurrentDatabase == DefaultDatabase) return;
  TBRNLocalDatabaseManager* other = CurrentDatabase;
  // The default comes back before the close, so that a failing close still
  // leaves the context on its own database.
  CurrentDatabase = DefaultDatabase;
  if (other != nullptr) other->CloseDatabase(false);
}

void TBRNEvaluatorContext::BindSessionEvents(TBRNLocalSessionManager& session) {
  TBRNLocalSessionManager* target = &session;
  OnProgress = [target](int32_t percentDone) { return target->ForceProgress(percentDone); };
  OnStatusMessage = [target](const std::string& text) { target->StatusMessage(text, false); };
  OnLogMessage = [target](const std::string& text) { target->LogMessage(text); };
}

}  // namespace brn
