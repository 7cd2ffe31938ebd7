// The handles a session opens in a database (cursors on tables and views,
// statement, procedure and script handles) and the database transaction
// (START TRANSACTION, COMMIT, ROLLBACK) over a set of tables.
//
// A database transaction is not atomic across tables: COMMIT flushes each
// table of the transaction in turn, and a failure or a crash part-way
// leaves every table with all of the transaction's changes, none of them,
// or its files marked for repair (the write-incomplete error), but the
// tables may differ in which of these they got.
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "foundation/locks/lockable.h"
#include "foundation/runtime/clean_up_steps.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_differences.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

constexpr int32_t kOperationStartTransaction = 40;
constexpr int32_t kOperationCommitTransaction = 41;
constexpr int32_t kOperationRollbackTransaction = 42;
constexpr int32_t kOperationOpenTable = 123;
constexpr int32_t kOperationPrepareStatement = 250;
constexpr int32_t kOperationPrepareProcedure = 260;
constexpr int32_t kOperationPrepareScript = 360;

// The code of an engine failure that no specific error covers.
constexpr int32_t kNotAvailableCode = 9999;

// Sets the session's forced buffer flush for a scope (the table managers
// read it from the table settings while they commit).
class TForceFlush {
 public:
  TForceFlush(bool& setting, bool force) : setting_(setting), saved_(setting) {
    if (force) setting_ = true;
  }
  ~TForceFlush() { setting_ = saved_; }
  TForceFlush(const TForceFlush&) = delete;
  TForceFlush& operator=(const TForceFlush&) = delete;

 private:
  bool& setting_;
  bool saved_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Logging of failed operations

namespace {

template <typename Work>
auto logFailure(TBRNLocalSessionManager& session, int32_t operation, Work&& work)
    -> decltype(work()) {
  try {
    return work();
  } catch (const std::exception& error) {
    session.LogOperationError(error, operation);
    throw;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Schemas and managers

TBRNSchema* TBRNLocalDatabaseManager::FindSchema(const std::string& schemaName) {
  if (schemaName.empty()) return Catalog->DefaultSchema;
  return static_cast<TBRNSchema*>(Catalog->Schemas->FindByName(schemaName, true));
}

TBRNSchemaObjectManager* TBRNLocalDatabaseManager::OpenSchemaObjectManager(
    const std::string& schemaName, const std::string& name, bool exclusive) {
  TBRNCatalogReadBracket read(*this);
  TBRNSchema* schema = FindSchema(schemaName);
  TBRNPrivilegedConfigObject* object =
      Catalog->FindTableOrView(schema, name, GetCurrentUser(), true, true);
  uint8_t lockType = exclusive ? kBRNLockTypeExclusive : kBRNLockTypeShared;
  TBRNSchemaObjectManager* manager = nullptr;
  bool refresh = true;
  if (auto* table = dynamic_cast<TBRNBaseTable*>(object)) {
    if (!table->ReadOnly && Database->ReadOnly) table->ReadOnly = true;
    if (table->WorkingCopy) {
      // The copy belongs to the ALTER or OPTIMIZE that made it and holds
      // no locks of its own.
      manager = TableManagers->GetManager(table);
      manager->Open(true);
    } else {
      manager = TableManagers->OpenManager(table, lockType);
    }
  } else if (auto* view = dynamic_cast<TBRNView*>(object)) {
    manager = ViewManagers->OpenManager(view, lockType);
    refresh = !view->Transient;
  } else {
    throw std::logic_error("the catalog found a table or view of an unknown kind");
  }
  if (refresh) {
    if (auto* tableManager = dynamic_cast<TBRNVirtualTableManager*>(manager)) {
      try {
        tableManager->HasChanged(true);
      } catch (...) {
        try {
          manager->Close(false, true);
        } catch (...) {
          // The refresh's error is the one reported.
        }
        throw;
      }
    }
  }
  return manager;
}

TBRNSchemaObjectManager* TBRNLocalDatabaseManager::OpenRoutineManager(
    const std::string& schemaName, const std::string& routineName) {
  TBRNCatalogReadBracket read(*this);
  TBRNSchema* schema = FindSchema(schemaName);
  auto* routine =
      static_cast<TBRNPrivilegedSchemaObject*>(schema->AllRoutines->FindByName(routineName, true));
  if (!routine->IsVisibleTo(GetCurrentUser()))
    schema->AllRoutines->RaiseNotFoundByName(routineName);
  return RoutineManagers->OpenManager(routine, kBRNLockTypeShared);
}

// ---------------------------------------------------------------------------
// Cursors

namespace {

// Opens the manager, makes the cursor on it and registers the cursor in
// cursors. The cursor takes over the manager's user as soon as it is made;
// a failure gives that user back exactly once: through the cursor's own
// close when the cursor was made and freed again, else here. The manager
// is this session's, so its count changes only under this thread.
TBRNCursor* openCursor(TBRNLocalDatabaseManager& database, const std::string& schemaName,
                       const std::string& tableName, bool readOnly, bool exclusive, bool indexed) {
  TBRNSchemaObjectManager* manager =
      database.OpenSchemaObjectManager(schemaName, tableName, exclusive);
  const int32_t users = manager->GetUserCount();
  std::unique_ptr<TBRNCursor> cursor;
  try {
    auto* tableManager = dynamic_cast<TBRNVirtualTableManager*>(manager);
    if (tableManager == nullptr)
      throw std::logic_error("the manager of a table or view makes no cursors");
    cursor = tableManager->CreateCursor(tableName, readOnly, exclusive, indexed);
  } catch (...) {
    try {
      if (manager->GetUserCount() == users) manager->Close(false, true);
    } catch (...) {
      // The cursor's error is the one reported.
    }
    throw;
  }
  database.Cursors.AddObject(cursor.get(), false);
  return cursor.release();
}

}  // namespace

TBRNCursor* TBRNLocalDatabaseManager::OpenTable(const std::string& schemaName,
                                                const std::string& tableName, bool exclusive,
                                                bool readOnly) {
  return logFailure(*Session, kOperationOpenTable, [&] {
    RequireOpen(FormatText("OPEN TABLE %s", {tableName}));
    return openCursor(*this, schemaName, tableName, readOnly, exclusive, true);
  });
}

TBRNCursor* TBRNLocalDatabaseManager::OpenTableCursor(const std::string& schemaName,
                                                      const std::string& tableName, bool readOnly) {
  return logFailure(*Session, kOperationOpenTable, [&] {
    RequireOpen(FormatText("OPEN TABLE %s", {tableName}));
    return openCursor(*this, schemaName, tableName, readOnly, false, false);
  });
}

// ---------------------------------------------------------------------------
// Statement, procedure and script handles

TBRNStatementManager* TBRNLocalDatabaseManager::PrepareStatement(const std::string& sql) {
  return PrepareStatementEx(sql, 0, 0);
}

namespace {

std::mutex& statementFactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

TBRNLocalDatabaseManager::TBRNStatementHandleFactory& statementFactory() {
  static TBRNLocalDatabaseManager::TBRNStatementHandleFactory factory;
  return factory;
}

}  // namespace

TBRNLocalDatabaseManager::TBRNStatementHandleFactory
TBRNLocalDatabaseManager::SetStatementHandleFactory(TBRNStatementHandleFactory factory) {
  std::lock_guard<std::mutex> guard(statementFactoryMutex());
  return std::exchange(statementFactory(), std::move(factory));
}

TBRNStatementManager* TBRNLocalDatabaseManager::PrepareStatementEx(const std::string& sql,
                                                                   int32_t lineOffset,
                                                                   int32_t columnOffset) {
  return logFailure(*Session, kOperationPrepareStatement, [&]() -> TBRNStatementManager* {
    std::string operation = FormatText("PREPARE STATEMENT %s", {sql});
    RequireOpen(operation);
    TBRNStatementHandleFactory factory;
    {
      std::lock_guard<std::mutex> guard(statementFactoryMutex());
      factory = statementFactory();
    }
    if (factory) return factory(*this, sql, lineOffset, columnOffset);
    throw EBRNException(
        kNotAvailableCode,
        FormatText("SQL statements cannot be executed by this engine yet (%s)", {operation}));
  });
}

namespace {

std::mutex& routineFactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

TBRNLocalDatabaseManager::TBRNProcedureHandleFactory& procedureFactory() {
  static TBRNLocalDatabaseManager::TBRNProcedureHandleFactory factory;
  return factory;
}

TBRNLocalDatabaseManager::TBRNScriptHandleFactory& scriptFactory() {
  static TBRNLocalDatabaseManager::TBRNScriptHandleFactory factory;
  return factory;
}

}  // namespace

TBRNLocalDatabaseManager::TBRNProcedureHandleFactory
TBRNLocalDatabaseManager::SetProcedureHandleFactory(TBRNProcedureHandleFactory factory) {
  std::lock_guard<std::mutex> guard(routineFactoryMutex());
  return std::exchange(procedureFactory(), std::move(factory));
}

TBRNLocalDatabaseManager::TBRNScriptHandleFactory
TBRNLocalDatabaseManager::SetScriptHandleFactory(TBRNScriptHandleFactory factory) {
  std::lock_guard<std::mutex> guard(routineFactoryMutex());
  return std::exchange(scriptFactory(), std::move(factory));
}

TBRNProcedureManager* TBRNLocalDatabaseManager::PrepareProcedure(const std::string& procedureName) {
  return logFailure(*Session, kOperationPrepareProcedure, [&]() -> TBRNProcedureManager* {
    std::string operation = FormatText("PREPARE PROCEDURE %s", {procedureName});
    RequireOpen(operation);
    TBRNProcedureHandleFactory factory;
    {
      std::lock_guard<std::mutex> guard(routineFactoryMutex());
      factory = procedureFactory();
    }
    if (factory) return factory(*this, procedureName);
    throw EBRNException(
        kNotAvailableCode,
        FormatText("Procedures cannot be executed by this engine yet (%s)", {operation}));
  });
}

TBRNScriptManager* TBRNLocalDatabaseManager::PrepareScript(const std::string& script) {
  return logFailure(*Session, kOperationPrepareScript, [&]() -> TBRNScriptManager* {
    std::string operation = FormatText("PREPARE SCRIPT %s", {script});
    RequireOpen(operation);
    TBRNScriptHandleFactory factory;
    {
      std::lock_guard<std::mutex> guard(routineFactoryMutex());
      factory = scriptFactory();
    }
    if (factory) return factory(*this, script);
    throw EBRNException(
        kNotAvailableCode,
        FormatText("Scripts cannot be executed by this engine yet (%s)", {operation}));
  });
}

// ---------------------------------------------------------------------------
// Transaction tables

void TBRNLocalDatabaseManager::BuildTransactionTables(const TBRNStringsList& names) {
  TBRNSchema* schema = Catalog->DefaultSchema;
  TBRNReferencedTables& list = *schema->TransactionTables;
  list.Clear();
  try {
    if (names.GetCount() == 0) {
      for (int32_t i = 0; i < schema->BaseTables->Count(); ++i)
        list.AddObject(schema->BaseTables->GetItem(i));
    } else {
      for (int32_t i = 0; i < names.GetCount(); ++i) {
        TBRNPrivilegedConfigObject* table =
            Catalog->FindTable(schema, names.GetItem(i), GetCurrentUser(), true, false);
        list.AddObject(table);
      }
    }
    list.SortByLockNumber();
    list.RemoveDuplicates();
  } catch (...) {
    list.Clear();
    throw;
  }
}

void TBRNLocalDatabaseManager::ClearTransactionTables() {
  if (Catalog->DefaultSchema != nullptr) Catalog->DefaultSchema->TransactionTables->Clear();
}

bool TBRNLocalDatabaseManager::TransactionCoversDatabase() const {
  TBRNSchema* schema = Catalog->DefaultSchema;
  return schema->TransactionTables->Count() == schema->BaseTables->Count();
}

void TBRNLocalDatabaseManager::LockTransactionTables(uint8_t lockType, int32_t waitMs) {
  if (TransactionCoversDatabase()) {
    LockManager->LockObject(Database, lockType, waitMs);
    return;
  }
  TBRNReferencedTables& list = *Catalog->DefaultSchema->TransactionTables;
  int32_t locked = 0;
  try {
    for (; locked < list.Count(); ++locked) {
      auto* table = static_cast<TBRNBaseTable*>(list.GetItem(locked));
      LockManager->LockObject(table, lockType, waitMs);
    }
  } catch (...) {
    while (locked > 0) {
      --locked;
      try {
        LockManager->UnlockObject(static_cast<TBRNBaseTable*>(list.GetItem(locked)), lockType);
      } catch (...) {
        // The lock failure is the one reported.
      }
    }
    throw;
  }
}

void TBRNLocalDatabaseManager::UnlockTransactionTables(uint8_t lockType) {
  if ((Database->GetHeldLocks() & LockTypeBit(ltTransaction)) != 0) {
    LockManager->UnlockObject(Database, lockType);
    return;
  }
  TBRNReferencedTables& list = *Catalog->DefaultSchema->TransactionTables;
  TBRNCleanUpSteps steps;
  for (int32_t i = list.Count() - 1; i >= 0; --i) {
    auto* table = static_cast<TBRNBaseTable*>(list.GetItem(i));
    steps.Run([&] { LockManager->UnlockObject(table, lockType); });
  }
  steps.RaiseFirst();
}

// ---------------------------------------------------------------------------
// The database transaction
//
// The tables of the list carry the in-transaction bit before any lock is
// taken: a Transaction or Write lock of the database entry passes its marks
// and counts to exactly the tables that carry the bit. For the same reason
// the locks are released before the bits are cleared.

void TBRNLocalDatabaseManager::StartTransaction(const TBRNStringsList& tables, int32_t lockWaitMs) {
  logFailure(*Session, kOperationStartTransaction, [&] {
    std::string operation = FormatText("START TRANSACTION ON %s", {Database->Name});
    RequireOpen(operation);
    RequireNoTransaction(operation);
    TBRNCatalogReadBracket read(*this);
    BuildTransactionTables(tables);
    TBRNReferencedTables& list = *Catalog->DefaultSchema->TransactionTables;
    auto clearBits = [&] {
      for (int32_t i = 0; i < list.Count(); ++i)
        static_cast<TBRNBaseTable*>(list.GetItem(i))->ClearInTransaction();
      Database->ClearInTransaction();
    };
    for (int32_t i = 0; i < list.Count(); ++i)
      static_cast<TBRNBaseTable*>(list.GetItem(i))->SetInTransaction();
    try {
      LockTransactionTables(kBRNLockTypeTransaction, lockWaitMs);
    } catch (...) {
      clearBits();
      ClearTransactionTables();
      throw;
    }
    try {
      Database->SetInTransaction();
      TableManagers->StartDatabaseTransaction();
    } catch (...) {
      // Nothing of the transaction is left: the managers that joined have
      // rolled back, and the locks and bits go, so that other sessions can
      // start on these tables at once.
      try {
        UnlockTransactionTables(kBRNLockTypeTransaction);
      } catch (...) {
        // The start's error is the one reported.
      }
      clearBits();
      ClearTransactionTables();
      throw;
    }
  });
}

void TBRNLocalDatabaseManager::Commit(bool forceFlush, bool flushOnly) {
  logFailure(*Session, kOperationCommitTransaction, [&] {
    std::string operation = FormatText("COMMIT ON %s", {Database->Name});
    RequireTransaction(operation);
    LockTransactionTables(kBRNLockTypeWrite, -1);
    {
      TBRNCleanUpSteps steps;
      steps.Run([&] {
        TForceFlush force(Session->ForceBufferFlush, forceFlush);
        TableManagers->CommitDatabaseTransaction();
      });
      steps.Run([&] { UnlockTransactionTables(kBRNLockTypeWrite); });
      // A failure leaves the transaction active: ROLLBACK restores what
      // was not written.
      steps.RaiseFirst();
    }
    if (flushOnly) {
      // The managers' files left transaction mode with the flush; they join
      // again, since the transaction and its locks go on.
      TableManagers->StartDatabaseTransaction();
      return;
    }
    TBRNCleanUpSteps steps;
    steps.Run([&] { UnlockTransactionTables(kBRNLockTypeTransaction); });
    Database->ClearInTransaction();
    steps.Run([&] { TableManagers->CloseIdleManagers(); });
    ClearTransactionTables();
    steps.RaiseFirst();
  });
}

void TBRNLocalDatabaseManager::Rollback() {
  logFailure(*Session, kOperationRollbackTransaction, [&] {
    std::string operation = FormatText("ROLLBACK ON %s", {Database->Name});
    RequireTransaction(operation);
    TBRNCleanUpSteps steps;
    steps.Run([&] { TableManagers->RollbackDatabaseTransaction(); });
    steps.Run([&] { UnlockTransactionTables(kBRNLockTypeTransaction); });
    Database->ClearInTransaction();
    steps.Run([&] { TableManagers->CloseIdleManagers(); });
    ClearTransactionTables();
    steps.RaiseFirst();
  });
}

}  // namespace brn
