// REPAIR TABLE and VERIFY TABLE of a local database.
#include <optional>
#include <string>

#include "metadata/catalog/tables.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The table's Read lock for the scope, when this session did not hold it.
class ReadLockScope {
 public:
  ReadLockScope(TBRNLocalDatabaseManager& database, TBRNBaseTable* table)
      : database_(database), table_(table) {
    taken_ = database_.LockObject(table_, kBRNLockTypeRead);
  }
  ~ReadLockScope() {
    if (!taken_) return;
    try {
      database_.UnlockObject(table_, kBRNLockTypeRead);
    } catch (...) {
      // The lock goes with the lock file at the latest; the operation's
      // own outcome is the one to report.
    }
  }
  ReadLockScope(const ReadLockScope&) = delete;
  ReadLockScope& operator=(const ReadLockScope&) = delete;

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNBaseTable* table_;
  bool taken_ = false;
};

// The skip-write-check bit of the table for the scope: its files open even
// when their last flush did not complete.
class SkipWriteCheckScope {
 public:
  explicit SkipWriteCheckScope(TBRNBaseTable* table) : table_(table) {
    table_->SetSkipWriteCheck();
  }
  ~SkipWriteCheckScope() { table_->ClearSkipWriteCheck(); }
  SkipWriteCheckScope(const SkipWriteCheckScope&) = delete;
  SkipWriteCheckScope& operator=(const SkipWriteCheckScope&) = delete;

 private:
  TBRNBaseTable* table_;
};

// The manager of the table, opened for the scope and closed at its end:
// forced, unless a cursor of this session still uses it.
class MaintenanceOpen {
 public:
  MaintenanceOpen(TBRNLocalDatabaseManager& database, TBRNBaseTable* table, uint8_t lockType) {
    // A manager kept open by an earlier statement holds its files as they
    // were opened then (with the write check, in shared access): the
    // verification opens them afresh.
    if (table->ManagerHandle != 0) {
      TBRNSchemaObjectManager* known = database.TableManagers->GetManager(table);
      if (known->GetOpen() && known->GetUserCount() == 0) known->Close(true, true);
      inUse_ = known->GetOpen();
    }
    manager_ =
        &dynamic_cast<TBRNTableManager&>(*database.TableManagers->OpenManager(table, lockType));
  }
  ~MaintenanceOpen() {
    if (closed_) return;
    try {
      manager_->Close(!inUse_, true);
    } catch (...) {
      // Called while the operation's error unwinds: that error is the one
      // to report.
    }
  }
  MaintenanceOpen(const MaintenanceOpen&) = delete;
  MaintenanceOpen& operator=(const MaintenanceOpen&) = delete;

  TBRNTableManager* operator->() const { return manager_; }
  // Closes now, so that a failure of the close (a repair's last flush)
  // reaches the caller.
  void Close() {
    closed_ = true;
    manager_->Close(!inUse_, true);
  }

 private:
  TBRNTableManager* manager_ = nullptr;
  bool inUse_ = false;
  bool closed_ = false;
};

bool verifyOrRepair(TBRNLocalDatabaseManager& database, const std::string& pattern,
                    const std::string& tableName, bool repair, bool structureOnly) {
  const std::string statement = DdlStatementText(pattern, {tableName});
  database.RequireOpen(statement);
  database.RequireWritable(statement);
  database.RequireNoTransaction(statement);
  TBRNCatalogReadBracket read(database);
  TBRNBaseTable* table = FindStoredTable(database, tableName);
  CheckDdlPrivilege(database, database.Database, pkMaintain, statement);
  CheckNotSystemUnlessSystemUser(database, table);
  TBRNLocalSessionManager* session = database.Session;
  auto reporter = [session, table](TBRNOperationStage stage) {
    session->ReportVerifyStatus(stage, table);
  };
  // REPAIR opens files whose last flush was cut short. VERIFY takes the
  // Read lock before the open, so that no writer's flush lands between the
  // headers the open reads and the walk.
  std::optional<SkipWriteCheckScope> skipWriteCheck;
  std::optional<ReadLockScope> readLock;
  if (repair) {
    skipWriteCheck.emplace(table);
  } else {
    // A table not opened since its creation has no files yet: its first
    // open makes them under the Write lock, which this session's own Read
    // lock would refuse. So that open comes first.
    if (!TableManagerOf(database, table).FilesExist()) {
      MaintenanceOpen(database, table, kBRNLockTypeShared).Close();
    }
    readLock.emplace(database, table);
  }
  MaintenanceOpen manager(database, table, repair ? kBRNLockTypeExclusive : kBRNLockTypeShared);
  TBRNStatusStages stages(reporter);
  bool errorsFound = false;
  const bool completed = manager->VerifyTable(errorsFound, repair, structureOnly);
  manager.Close();
  if (completed)
    stages.Complete();
  else
    stages.Fail();
  return errorsFound;
}

}  // namespace

bool TBRNLocalDatabaseManager::RepairTable(const std::string& tableName, bool structureOnly) {
  return verifyOrRepair(*this, "REPAIR TABLE %s", tableName, true, structureOnly);
}

bool TBRNLocalDatabaseManager::VerifyTable(const std::string& tableName, bool structureOnly) {
  return verifyOrRepair(*this, "VERIFY TABLE %s", tableName, false, structureOnly);
}

}  // namespace brn
