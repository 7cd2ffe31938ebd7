#include "sessions/ddl/ddl_frame.h"

#include <vector>

#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/core/config_object.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

std::string DdlStatementText(const std::string& pattern,
                             std::initializer_list<std::string> args) {
  std::vector<std::string> values(args);
  return FormatText(pattern, std::span<const std::string>(values));
}

// ---- Checks

void RequireOpenAndWritable(TBRNLocalDatabaseManager& database, const std::string& statement) {
  database.RequireOpen(statement);
  database.RequireWritable(statement);
}

void CheckDdlPrivilege(TBRNLocalDatabaseManager& database, TBRNPrivilegedConfigObject* object,
                       int32_t kind, const std::string& statement) {
  database.Session->CheckPrivilege(object, kind, statement);
}

void CheckNotSystemUnlessSystemUser(TBRNLocalDatabaseManager& database,
                                    const TBRNConfigObject* object) {
  if (!database.Session->IsSystemUser()) object->CheckNotSystem();
}

// ---- The catalog update

void BeginCatalogUpdate(TBRNLocalDatabaseManager& database) {
  database.CatalogManager->BeginUpdate();
}

void CommitCatalogUpdate(TBRNLocalDatabaseManager& database) {
  database.CatalogManager->CommitUpdate();
}

void CancelCatalogUpdate(TBRNLocalDatabaseManager& database) {
  TBRNCatalogManager& manager = *database.CatalogManager;
  if (!manager.InUpdate) return;
  // Not every in-memory change sets the modified flag (a flag the setters
  // do not track, a member changed before it was added): setting it makes
  // the cancel reload the catalog in every case.
  database.Catalog->SetModified(true);
  manager.CancelUpdate();
}

bool InCatalogUpdate(const TBRNLocalDatabaseManager& database) {
  return database.CatalogManager->InUpdate;
}

TBRNCatalogUpdateBracket::TBRNCatalogUpdateBracket(TBRNLocalDatabaseManager& database)
    : database_(database) {
  BeginCatalogUpdate(database_);
}

TBRNCatalogUpdateBracket::~TBRNCatalogUpdateBracket() {
  if (!open_) return;
  try {
    CancelCatalogUpdate(database_);
  } catch (...) {
    // The error that left the scope is the one to report.
  }
}

void TBRNCatalogUpdateBracket::Commit() {
  if (!open_) return;
  CommitCatalogUpdate(database_);
  open_ = false;
}

void TBRNCatalogUpdateBracket::Cancel() {
  if (!open_) return;
  open_ = false;
  CancelCatalogUpdate(database_);
}

void TBRNCatalogUpdateBracket::Release() {
  open_ = false;
}

TBRNCatalogReadBracket::TBRNCatalogReadBracket(TBRNLocalDatabaseManager& database)
    : database_(database) {
  database_.CatalogManager->BeginRead();
}

TBRNCatalogReadBracket::~TBRNCatalogReadBracket() {
  try {
    database_.CatalogManager->EndRead();
  } catch (...) {
    // Releasing a read cannot be reported from a destructor; the work's own
    // error (if any) is the one that counts.
  }
}

// ---- Object locks

TBRNObjectLockScope::TBRNObjectLockScope(TBRNLocalDatabaseManager& database, TBRNLockable* object,
                                         uint8_t lockType)
    : database_(database), object_(object), lockType_(lockType) {
  database_.LockObject(object_, lockType_);
  held_ = true;
}

TBRNObjectLockScope::~TBRNObjectLockScope() {
  if (!held_) return;
  try {
    database_.UnlockObject(object_, lockType_);
  } catch (...) {
    // A failed release must not hide the error that left the scope; the
    // lock goes with the lock file at the latest.
  }
}

void TBRNObjectLockScope::Unlock() {
  if (!held_) return;
  held_ = false;
  database_.UnlockObject(object_, lockType_);
}

// ---- Status stages

namespace {

using TObjectReporter = void (TBRNLocalSessionManager::*)(TBRNOperationStage,
                                                          const TBRNConfigObject*);

TBRNStageReporter objectReporter(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object, TObjectReporter report) {
  TBRNLocalSessionManager* session = database.Session;
  return [session, object, report](TBRNOperationStage stage) { (session->*report)(stage, object); };
}

}  // namespace

TBRNStageReporter ReportDdlCreate(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object) {
  return objectReporter(database, object, &TBRNLocalSessionManager::ReportCreateStatus);
}

TBRNStageReporter ReportDdlAlter(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object) {
  TBRNLocalSessionManager* session = database.Session;
  return [session, object](TBRNOperationStage stage) {
    session->ReportAlterStatus(stage, object);
  };
}

TBRNStageReporter ReportDdlDrop(TBRNLocalDatabaseManager& database,
                                const TBRNConfigObject* object) {
  return objectReporter(database, object, &TBRNLocalSessionManager::ReportDropStatus);
}

TBRNStageReporter ReportDdlRename(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object) {
  return objectReporter(database, object, &TBRNLocalSessionManager::ReportRenameStatus);
}

TBRNStageReporter ReportDdlEmpty(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object) {
  return objectReporter(database, object, &TBRNLocalSessionManager::ReportEmptyStatus);
}

TBRNStageReporter ReportDdlGrant(TBRNLocalDatabaseManager& database,
                                 const TBRNConfigObject* object,
                                 const std::string& privilegeName) {
  TBRNLocalSessionManager* session = database.Session;
  return [session, object, privilegeName](TBRNOperationStage stage) {
    session->ReportGrantPrivilegeStatus(stage, object, privilegeName);
  };
}

TBRNStageReporter ReportDdlRevoke(TBRNLocalDatabaseManager& database,
                                  const TBRNConfigObject* object,
                                  const std::string& privilegeName) {
  TBRNLocalSessionManager* session = database.Session;
  return [session, object, privilegeName](TBRNOperationStage stage) {
    session->ReportRevokePrivilegeStatus(stage, object, privilegeName);
  };
}

void ReportStageQuietly(const TBRNStageReporter& reporter, TBRNOperationStage stage) noexcept {
  try {
    reporter(stage);
  } catch (...) {
    // The failure being reported is the one that matters.
  }
}

}  // namespace brn
