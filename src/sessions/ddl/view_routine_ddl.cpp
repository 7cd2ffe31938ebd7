// CREATE, ALTER, DROP and RENAME of views, procedures and functions, and
// the disposal of temporary views.
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/locks/lockable.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/views.h"
#include "metadata/config/privileges.h"
#include "metadata/core/config_objects.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

// The engine's code of "The maximum number of ... has been reached".
constexpr int32_t kMaximumReachedError = 405;

TBRNSchema& defaultSchema(TBRNLocalDatabaseManager& database) {
  return *database.Catalog->DefaultSchema;
}

// Releases the object's manager when this session keeps it open without
// users, so that its Shared lock does not stand in the way of the
// Exclusive lock of a definition change and the next open sees the new
// definition. A manager in use is left alone: the lock decides.
void releaseIdleManager(TBRNSchemaObjectManagers& managers, TBRNPrivilegedSchemaObject* object) {
  if (object->ManagerHandle == 0) return;
  if (managers.GetManager(object)->GetUserCount() == 0) managers.ReleaseManager(object);
}

// The statements of one kind of schema object (views, functions,
// procedures): where they live, their manager list and their word in the
// statement texts.
struct TObjectKind {
  TBRNPrivilegedCatalogObjects* Collection;
  TBRNSchemaObjectManagers* Managers;
  const char* Word;  // "VIEW", "FUNCTION", "PROCEDURE"
  bool Routine;
};

TObjectKind viewKind(TBRNLocalDatabaseManager& database) {
  return {defaultSchema(database).Views.get(), database.ViewManagers.get(), "VIEW", false};
}
TObjectKind functionKind(TBRNLocalDatabaseManager& database) {
  return {defaultSchema(database).Functions.get(), database.RoutineManagers.get(), "FUNCTION",
          true};
}
TObjectKind procedureKind(TBRNLocalDatabaseManager& database) {
  return {defaultSchema(database).Procedures.get(), database.RoutineManagers.get(), "PROCEDURE",
          true};
}

std::string statementText(const char* verb, const TObjectKind& kind, const std::string& name) {
  return DdlStatementText(std::string(verb) + " " + kind.Word + " %s", {name});
}

// Functions and procedures share the schema's list of all routines and
// its maximum.
void checkRoutineRoom(TBRNLocalDatabaseManager& database) {
  TBRNSchema& schema = defaultSchema(database);
  const int32_t maximum = schema.AllRoutines->GetMaxCount();
  if (schema.Functions->Count() + schema.Procedures->Count() < maximum) return;
  throw EBRNException(kMaximumReachedError,
                      FormatText("The maximum number of %ss has been reached (%s)",
                                 {"routine", IntegerToString(maximum)}));
}

// CREATE, begin step: checks, catalog update, the new object (owned by the
// current user, lowest free lock number of its kind, default grants),
// stage 0. The update stays open.
TBRNPrivilegedSchemaObject* beginCreate(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                                        const std::string& name) {
  const std::string statement = statementText("CREATE", kind, name);
  RequireOpenAndWritable(database, statement);
  database.RequireNoTransaction(statement);
  CheckDdlPrivilege(database, database.Database, pkCreate, statement);
  CheckNotSystemUnlessSystemUser(database, database.Database);
  TBRNCatalogUpdateBracket update(database);
  if (kind.Routine) checkRoutineRoom(database);
  std::unique_ptr<TBRNPrivilegedSchemaObject> object(static_cast<TBRNPrivilegedSchemaObject*>(
      kind.Collection->NewItemOwnedBy(database.GetCurrentUser())));
  object->Name = name;
  object->LoadedName = name;
  kind.Collection->CheckDuplicate(object.get());
  TBRNCatalog& catalog = *database.Catalog;
  if (auto* view = dynamic_cast<TBRNView*>(object.get())) {
    view->SetLockNumber(catalog.NextTableLockNumber());
  } else {
    static_cast<TBRNRoutine*>(object.get())->SetLockNumber(catalog.NextRoutineLockNumber());
  }
  object->ApplyDefaultGrants();
  ReportDdlCreate(database, object.get())(osStarting);
  update.Release();
  return object.release();
}

// CREATE, commit step: add, commit, stage 2. On failure the error passes
// on and the caller rolls back.
void commitCreate(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                  TBRNPrivilegedSchemaObject* object) {
  kind.Collection->AddObject(object);
  CommitCatalogUpdate(database);
  ReportDdlCreate(database, object)(osCompleted);
}

// CREATE, rollback step: stage 1, the update cancelled; a new object not
// added is freed here (an added one goes with the reload).
void rollbackCreate(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                    TBRNPrivilegedSchemaObject* object) {
  std::unique_ptr<TBRNPrivilegedSchemaObject> owned;
  if (object != nullptr && !IsMemberOf(*kind.Collection, object)) owned.reset(object);
  if (object != nullptr) ReportStageQuietly(ReportDdlCreate(database, object), osNotCompleted);
  CancelCatalogUpdate(database);
}

TBRNPrivilegedSchemaObject* findObject(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                                       const std::string& name) {
  return static_cast<TBRNPrivilegedSchemaObject*>(
      kind.Collection->FindByNameForUser(name, database.GetCurrentUser(), true));
}

// ALTER, begin step: the object found inside the update, stage 0, the
// Alter privilege, then the object locked Exclusive until the commit or
// rollback.
TBRNPrivilegedSchemaObject* beginAlter(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                                       const std::string& name) {
  const std::string statement = statementText("ALTER", kind, name);
  RequireOpenAndWritable(database, statement);
  database.RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(database);
  TBRNPrivilegedSchemaObject* object = findObject(database, kind, name);
  TBRNStatusStages stages(ReportDdlAlter(database, object));
  CheckDdlPrivilege(database, database.Database, pkAlter, statement);
  releaseIdleManager(*kind.Managers, object);
  TBRNObjectLockScope lock(database, object, kBRNLockTypeExclusive);
  lock.Release();
  stages.Release();
  update.Release();
  return object;
}

void commitAlter(TBRNLocalDatabaseManager& database, TBRNPrivilegedSchemaObject* object) {
  CommitCatalogUpdate(database);
  database.UnlockObject(object, kBRNLockTypeExclusive);
  ReportDdlAlter(database, object)(osCompleted);
}

void rollbackAlter(TBRNLocalDatabaseManager& database, TBRNPrivilegedSchemaObject* object) {
  ReportStageQuietly(ReportDdlAlter(database, object), osNotCompleted);
  try {
    CancelCatalogUpdate(database);
  } catch (...) {
    try {
      database.UnlockObject(object, kBRNLockTypeExclusive);
    } catch (...) {
      // The cancel's error is the one reported.
    }
    throw;
  }
  database.UnlockObject(object, kBRNLockTypeExclusive);
}

void dropObject(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                const std::string& name) {
  const std::string statement = statementText("DROP", kind, name);
  RequireOpenAndWritable(database, statement);
  database.RequireNoTransaction(statement);
  // Freed after the update ended: a failed commit reloads the catalog,
  // which brings the object back as a new one.
  std::unique_ptr<TBRNConfigObject> detached;
  TBRNCatalogUpdateBracket update(database);
  TBRNPrivilegedSchemaObject* object = findObject(database, kind, name);
  TBRNStatusStages stages(ReportDdlDrop(database, object));
  CheckDdlPrivilege(database, database.Database, pkDrop, statement);
  CheckNotSystemUnlessSystemUser(database, object);
  object->CheckNotReferenced("dropped");
  releaseIdleManager(*kind.Managers, object);
  {
    TBRNObjectLockScope lock(database, object, kBRNLockTypeExclusive);
    kind.Collection->Detach(object);
    detached.reset(object);
    kind.Managers->ReleaseManager(object);
    lock.Unlock();
  }
  update.Commit();
  stages.Complete();
}

void renameObject(TBRNLocalDatabaseManager& database, const TObjectKind& kind,
                  const std::string& name, const std::string& newName) {
  const std::string statement =
      DdlStatementText(std::string("RENAME ") + kind.Word + " %s TO %s", {name, newName});
  RequireOpenAndWritable(database, statement);
  database.RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(database);
  TBRNPrivilegedSchemaObject* object = findObject(database, kind, name);
  const std::string oldName = object->Name;
  TBRNStatusStages stages(ReportDdlRename(database, object));
  CheckDdlPrivilege(database, database.Database, pkAlter, statement);
  CheckNotSystemUnlessSystemUser(database, object);
  releaseIdleManager(*kind.Managers, object);
  {
    TBRNObjectLockScope lock(database, object, kBRNLockTypeExclusive);
    kind.Collection->CheckNewName(object, newName);
    // Views and routines that name the object (and a routine's own text)
    // follow the new name.
    object->NotifyRenamed(newName);
    object->SetName(newName);
    if (!object->Temporary) object->LoadedName = newName;
    lock.Unlock();
  }
  try {
    update.Commit();
  } catch (...) {
    // The failure stage names the object as it stays: the cancel's reload
    // brings the old name back in any case.
    object->Name = oldName;
    throw;
  }
  stages.Complete();
}

}  // namespace

// ---- Views

TBRNView* TBRNLocalDatabaseManager::CreateView(const std::string& name) {
  return static_cast<TBRNView*>(beginCreate(*this, viewKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitCreateView(TBRNView* view) {
  commitCreate(*this, viewKind(*this), view);
}

void TBRNLocalDatabaseManager::RollbackCreateView(TBRNView* view) {
  rollbackCreate(*this, viewKind(*this), view);
}

TBRNView* TBRNLocalDatabaseManager::AlterView(const std::string& name) {
  return static_cast<TBRNView*>(beginAlter(*this, viewKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitAlterView(TBRNView* view) {
  commitAlter(*this, view);
}

void TBRNLocalDatabaseManager::RollbackAlterView(TBRNView* view) {
  rollbackAlter(*this, view);
}

void TBRNLocalDatabaseManager::DropView(const std::string& name) {
  dropObject(*this, viewKind(*this), name);
}

void TBRNLocalDatabaseManager::RenameView(const std::string& name, const std::string& newName) {
  renameObject(*this, viewKind(*this), name, newName);
}

// ---- Functions and procedures

TBRNFunction* TBRNLocalDatabaseManager::CreateFunction(const std::string& name) {
  return static_cast<TBRNFunction*>(beginCreate(*this, functionKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitCreateFunction(TBRNFunction* function) {
  commitCreate(*this, functionKind(*this), function);
}

void TBRNLocalDatabaseManager::RollbackCreateFunction(TBRNFunction* function) {
  rollbackCreate(*this, functionKind(*this), function);
}

TBRNProcedure* TBRNLocalDatabaseManager::CreateProcedure(const std::string& name) {
  return static_cast<TBRNProcedure*>(beginCreate(*this, procedureKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitCreateProcedure(TBRNProcedure* procedure) {
  commitCreate(*this, procedureKind(*this), procedure);
}

void TBRNLocalDatabaseManager::RollbackCreateProcedure(TBRNProcedure* procedure) {
  rollbackCreate(*this, procedureKind(*this), procedure);
}

TBRNFunction* TBRNLocalDatabaseManager::AlterFunction(const std::string& name) {
  return static_cast<TBRNFunction*>(beginAlter(*this, functionKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitAlterFunction(TBRNFunction* function) {
  commitAlter(*this, function);
}

void TBRNLocalDatabaseManager::RollbackAlterFunction(TBRNFunction* function) {
  rollbackAlter(*this, function);
}

TBRNProcedure* TBRNLocalDatabaseManager::AlterProcedure(const std::string& name) {
  return static_cast<TBRNProcedure*>(beginAlter(*this, procedureKind(*this), name));
}

void TBRNLocalDatabaseManager::CommitAlterProcedure(TBRNProcedure* procedure) {
  commitAlter(*this, procedure);
}

void TBRNLocalDatabaseManager::RollbackAlterProcedure(TBRNProcedure* procedure) {
  rollbackAlter(*this, procedure);
}

void TBRNLocalDatabaseManager::DropFunction(const std::string& name) {
  dropObject(*this, functionKind(*this), name);
}

void TBRNLocalDatabaseManager::DropProcedure(const std::string& name) {
  dropObject(*this, procedureKind(*this), name);
}

void TBRNLocalDatabaseManager::RenameFunction(const std::string& name, const std::string& newName) {
  renameObject(*this, functionKind(*this), name, newName);
}

void TBRNLocalDatabaseManager::RenameProcedure(const std::string& name,
                                               const std::string& newName) {
  renameObject(*this, procedureKind(*this), name, newName);
}

// ---- Temporary views

TBRNBaseTable* TBRNLocalDatabaseManager::GetTemporaryViewsTable() {
  TBRNSchema* schema = Catalog->InformationSchema;
  if (schema == nullptr) return nullptr;
  auto* table =
      static_cast<TBRNBaseTable*>(schema->BaseTables->FindByName("TemporaryViews", false));
  if (table != nullptr) SetSystemTableFilled(table, false);
  return table;
}

bool TBRNLocalDatabaseManager::DropTemporaryViewIfUnused(TBRNView* view) {
  TBRNTemporaryViews& views = *defaultSchema(*this).TemporaryViews;
  if (!IsMemberOf(views, view))
    throw std::invalid_argument("DropTemporaryViewIfUnused needs a temporary view");
  if (view->ManagerHandle != 0) {
    if (ViewManagers->GetManager(view)->GetUserCount() > 0) return false;
    ViewManagers->ReleaseManager(view);
  }
  std::unique_ptr<TBRNConfigObject> owned(views.RemoveObject(view->Index));
  GetTemporaryViewsTable();
  return true;
}

}  // namespace brn
