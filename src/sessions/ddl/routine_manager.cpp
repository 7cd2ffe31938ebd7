#include "sessions/ddl/routine_manager.h"

#include <stdexcept>

#include "metadata/catalog/routines.h"
#include "sessions/databases/local_database_manager.h"

namespace brn {

namespace {

// The System user is current for the scope; the user before comes back on
// every exit.
class TSystemUserScope {
 public:
  explicit TSystemUserScope(TBRNLocalDatabaseManager& database) : database_(database) {
    database_.PushUser(nullptr);
  }
  ~TSystemUserScope() { database_.PopUser(); }
  TSystemUserScope(const TSystemUserScope&) = delete;
  TSystemUserScope& operator=(const TSystemUserScope&) = delete;

 private:
  TBRNLocalDatabaseManager& database_;
};

}  // namespace

TBRNRoutineManager::TBRNRoutineManager(TBRNLocalDatabaseManager& database, TBRNRoutine* routine)
    : TBRNSchemaObjectManager(database, routine), database_(database), routine_(routine) {}

TBRNRoutineManager::~TBRNRoutineManager() = default;

void TBRNRoutineManager::DoOpen() {
  TSystemUserScope system(database_);
  if (routine_->Implementation == kRoutineExternal) {
    routine_->Compile();
    // A failed open leaves the module released again.
    routine_->OpenExternal();
    return;
  }
  TBRNSchemaObjectExecution& execution = GetSchemaObjectExecution();
  routine_->Compile();
  execution.PrepareRoutineBody(*routine_, GetContext());
}

void TBRNRoutineManager::DoClose() {
  if (routine_->Implementation == kRoutineExternal) {
    if (routine_->IsExternalOpen()) routine_->CloseExternal();
    return;
  }
  // Without SQL execution no body was ever prepared.
  if (TBRNSchemaObjectExecution* execution = FindSchemaObjectExecution())
    execution->UnprepareRoutineBody(*routine_);
  routine_->Uncompile();
}

TBRNRoutineManagers::TBRNRoutineManagers(TBRNLocalDatabaseManager& database)
    : TBRNSchemaObjectManagers(database), database_(database) {}

std::unique_ptr<TBRNSchemaObjectManager> TBRNRoutineManagers::CreateManager(
    TBRNPrivilegedSchemaObject* catalogObject) {
  auto* routine = dynamic_cast<TBRNRoutine*>(catalogObject);
  if (routine == nullptr)
    throw std::invalid_argument("A routine manager needs a procedure or function");
  return std::make_unique<TBRNRoutineManager>(database_, routine);
}

}  // namespace brn
