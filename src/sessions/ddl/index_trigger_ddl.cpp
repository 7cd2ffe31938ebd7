// CREATE, ALTER, DROP and RENAME of indexes and triggers, and ENABLE and
// DISABLE of triggers, of a local database.
#include <memory>
#include <stdexcept>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

TBRNIndex* findIndex(TBRNBaseTable* table, const std::string& name) {
  return static_cast<TBRNIndex*>(table->Indexes->FindByName(name, true));
}

TBRNTrigger* findTrigger(TBRNBaseTable* table, const std::string& name) {
  return static_cast<TBRNTrigger*>(table->Triggers->FindByName(name, true));
}

// Opens the table's manager Exclusive for the enclosing scope; the
// destructor closes it (errors dropped), Close closes it with errors, and
// Discard frees the manager so that the next open starts from the catalog.
class ExclusiveTableOpen {
 public:
  ExclusiveTableOpen(TBRNLocalDatabaseManager& database, TBRNBaseTable* table)
      : database_(database), table_(table) {
    manager_ = &dynamic_cast<TBRNTableManager&>(
        *database_.TableManagers->OpenManager(table_, kBRNLockTypeExclusive));
  }
  ~ExclusiveTableOpen() {
    if (manager_ == nullptr) return;
    try {
      manager_->Close(false, true);
    } catch (...) {
    }
  }
  ExclusiveTableOpen(const ExclusiveTableOpen&) = delete;
  ExclusiveTableOpen& operator=(const ExclusiveTableOpen&) = delete;

  TBRNTableManager& operator*() const { return *manager_; }
  TBRNTableManager* operator->() const { return manager_; }
  void Close() {
    TBRNTableManager* manager = manager_;
    manager_ = nullptr;
    manager->Close(false, true);
  }
  void Discard() noexcept {
    manager_ = nullptr;
    try {
      database_.TableManagers->ReleaseManager(table_);
    } catch (...) {
    }
  }

 private:
  TBRNLocalDatabaseManager& database_;
  TBRNBaseTable* table_;
  TBRNTableManager* manager_ = nullptr;
};

// Moves the trigger at from to position (negative counts as 0, at or past
// the end appends).
void placeTrigger(TBRNTriggers& triggers, int32_t from, int32_t position) {
  std::unique_ptr<TBRNConfigObject> trigger(triggers.RemoveObject(from));
  if (position < 0) position = 0;
  if (position >= triggers.Count())
    triggers.AddObject(trigger.get());
  else
    triggers.InsertObject(position, trigger.get());
  trigger.release();
}

}  // namespace

// ---------------------------------------------------------------------------
// CREATE INDEX

TBRNIndex* TBRNLocalDatabaseManager::CreateIndex(const std::string& tableName,
                                                 TBRNBaseTable*& table,
                                                 const std::string& indexName) {
  const std::string statement = DdlStatementText("CREATE INDEX %s ON %s", {indexName, tableName});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* found = FindDdlTable(*this, tableName);
  const bool sessionOnly = IsSessionOnly(found);
  if (sessionOnly) update.Cancel();
  CheckNotSystemUnlessSystemUser(*this, found);
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    CheckDdlPrivilege(*this, found, pkCreate, statement);
  }
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(found->Indexes->NewItem()));
  index->Name = indexName;
  Session->ReportCreateStatus(osStarting, index.get());
  update.Release();
  table = found;
  return index.release();
}

bool TBRNLocalDatabaseManager::CommitCreateIndex(TBRNBaseTable* table, TBRNIndex* index) {
  if (table == nullptr || index == nullptr)
    throw std::invalid_argument("CommitCreateIndex without a table and an index");
  // Open before the index joins the table: the index file lists the
  // indexes the catalog had, and the build adds the new one to it.
  ExclusiveTableOpen manager(*this, table);
  bool built = false;
  try {
    table->Indexes->AddObject(index);
    // A failed build (a duplicate key of a unique index among them) has
    // put the index file back already.
    built = manager->AddIndex(index, false);
  } catch (...) {
    manager.Discard();
    throw;
  }
  if (!built) {
    manager.Discard();
    RollbackCreateIndex(table, index);
    return false;
  }
  try {
    table->UpdateStructureChecksum();
    CommitCatalogUpdate(*this);
  } catch (...) {
    // The files' headers (with the new checksum) were never written: the
    // index file's copy and the old catalog belong together again.
    try {
      manager->RestoreIndexFile();
    } catch (...) {
    }
    manager.Discard();
    throw;
  }
  manager.Close();
  Session->ReportCreateStatus(osCompleted, index);
  return true;
}

void TBRNLocalDatabaseManager::RollbackCreateIndex(TBRNBaseTable* table, TBRNIndex* index) {
  if (index != nullptr) {
    ReportStageQuietly(ReportDdlCreate(*this, index), osNotCompleted);
    if (index->Index >= 0 && table != nullptr && index->Index < table->Indexes->Count() &&
        table->Indexes->GetItem(index->Index) == index) {
      // Added but not committed: a temporary table keeps no file copy to
      // reload from, so the index leaves its table here.
      if (IsSessionOnly(table)) delete table->Indexes->RemoveObject(index->Index);
    } else {
      delete index;
    }
  }
  CancelCatalogUpdate(*this);
}

// ---------------------------------------------------------------------------
// ALTER INDEX

TBRNIndex* TBRNLocalDatabaseManager::AlterIndex(const std::string& tableName,
                                                TBRNBaseTable*& table,
                                                const std::string& indexName) {
  const std::string statement = DdlStatementText("ALTER INDEX %s ON %s", {indexName, tableName});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* found = FindStoredTable(*this, tableName);
  RequireNoTransaction(statement);
  CheckDdlPrivilege(*this, found, pkAlter, statement);
  TBRNIndex* index = findIndex(found, indexName);
  CheckNotSystemUnlessSystemUser(*this, index);
  TBRNStatusStages stages(ReportDdlAlter(*this, index));
  {
    ExclusiveTableOpen manager(*this, found);
    manager->ClearIndex(index);
    manager.Close();
  }
  stages.Release();
  update.Release();
  table = found;
  return index;
}

void TBRNLocalDatabaseManager::CommitAlterIndex(TBRNBaseTable* table, TBRNIndex* index) {
  if (table == nullptr || index == nullptr)
    throw std::invalid_argument("CommitAlterIndex without a table and an index");
  ExclusiveTableOpen manager(*this, table);
  manager->RebuildIndex(index, false);
  try {
    table->UpdateStructureChecksum();
    CommitCatalogUpdate(*this);
  } catch (...) {
    try {
      manager->CancelIndexChange();
    } catch (...) {
    }
    manager.Discard();
    throw;
  }
  manager.Close();
  Session->ReportAlterStatus(osCompleted, index);
}

void TBRNLocalDatabaseManager::RollbackAlterIndex(TBRNBaseTable* table, TBRNIndex* index) {
  if (index != nullptr) ReportStageQuietly(ReportDdlAlter(*this, index), osNotCompleted);
  if (table != nullptr) {
    try {
      ExclusiveTableOpen manager(*this, table);
      manager->CancelIndexChange();
      manager.Close();
    } catch (...) {
      // The cancel of the catalog update must happen all the same.
    }
  }
  CancelCatalogUpdate(*this);
}

// ---------------------------------------------------------------------------
// DROP INDEX, RENAME INDEX

void TBRNLocalDatabaseManager::DropIndex(const std::string& tableName,
                                         const std::string& indexName) {
  const std::string statement = DdlStatementText("DROP INDEX %s FROM %s", {indexName, tableName});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindDdlTable(*this, tableName);
  const bool sessionOnly = IsSessionOnly(table);
  if (sessionOnly) update.Cancel();
  TBRNIndex* index = findIndex(table, indexName);
  TBRNStatusStages stages(ReportDdlDrop(*this, index));
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    CheckDdlPrivilege(*this, table, pkDrop, statement);
  }
  CheckNotSystemUnlessSystemUser(*this, index);
  index->CheckNotReferenced("dropped");
  ExclusiveTableOpen manager(*this, table);
  bool dropped = false;
  try {
    dropped = manager->DropIndex(index, true);
  } catch (...) {
    manager.Discard();
    throw;
  }
  if (!dropped) {
    manager.Discard();
    stages.Fail();
    return;
  }
  std::unique_ptr<TBRNConfigObject> owned;
  try {
    owned.reset(table->Indexes->RemoveObject(index->Index));
    table->UpdateStructureChecksum();
    update.Commit();
  } catch (...) {
    try {
      manager->RestoreIndexFile();
    } catch (...) {
    }
    manager.Discard();
    if (owned != nullptr && !sessionOnly) {
      // Back in its place before the reload, so that it stays this object.
      try {
        table->Indexes->InsertObject(index->Index < 0 ? table->Indexes->Count() : index->Index,
                                     owned.get());
        owned.release();
      } catch (...) {
      }
    }
    throw;
  }
  manager.Discard();
  stages.Complete();
}

void TBRNLocalDatabaseManager::RenameIndex(const std::string& tableName,
                                           const std::string& indexName,
                                           const std::string& newName) {
  const std::string statement =
      DdlStatementText("RENAME INDEX %s ON %s TO %s", {indexName, tableName, newName});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindDdlTable(*this, tableName);
  const bool sessionOnly = IsSessionOnly(table);
  if (sessionOnly) update.Cancel();
  TBRNIndex* index = findIndex(table, indexName);
  TBRNStatusStages stages(ReportDdlRename(*this, index));
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    CheckDdlPrivilege(*this, table, pkAlter, statement);
  }
  CheckNotSystemUnlessSystemUser(*this, index);
  ExclusiveTableOpen manager(*this, table);
  table->Indexes->CheckNewName(index, newName);
  const std::string oldName = index->Name;
  index->Name = newName;
  index->SetModified(true);
  try {
    update.Commit();
  } catch (...) {
    // The failure stage names the index as the catalog file still does.
    index->Name = oldName;
    throw;
  }
  manager.Close();
  stages.Complete();
}

// ---------------------------------------------------------------------------
// Triggers

TBRNTrigger* TBRNLocalDatabaseManager::CreateTrigger(const std::string& tableName,
                                                     TBRNBaseTable*& table,
                                                     const std::string& triggerName) {
  const std::string statement =
      DdlStatementText("CREATE TRIGGER %s ON %s", {triggerName, tableName});
  RequireOpenAndWritable(*this, statement);
  RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* found = FindStoredTable(*this, tableName);
  CheckNotSystemUnlessSystemUser(*this, found);
  CheckDdlPrivilege(*this, found, pkCreate, statement);
  TBRNObjectLockScope lock(*this, found, kBRNLockTypeExclusive);
  std::unique_ptr<TBRNTrigger> trigger(static_cast<TBRNTrigger*>(found->Triggers->NewItem()));
  trigger->Name = triggerName;
  Session->ReportCreateStatus(osStarting, trigger.get());
  lock.Release();
  update.Release();
  table = found;
  return trigger.release();
}

void TBRNLocalDatabaseManager::CommitCreateTrigger(TBRNBaseTable* table, TBRNTrigger* trigger,
                                                   int32_t position) {
  if (table == nullptr || trigger == nullptr)
    throw std::invalid_argument("CommitCreateTrigger without a table and a trigger");
  TBRNTriggers& triggers = *table->Triggers;
  triggers.AddObject(trigger);
  if (position != kKeepTriggerPosition) placeTrigger(triggers, trigger->Index, position);
  CommitCatalogUpdate(*this);
  UnlockObject(table, kBRNLockTypeExclusive);
  Session->ReportCreateStatus(osCompleted, trigger);
}

void TBRNLocalDatabaseManager::RollbackCreateTrigger(TBRNBaseTable* table, TBRNTrigger* trigger) {
  if (trigger != nullptr) {
    ReportStageQuietly(ReportDdlCreate(*this, trigger), osNotCompleted);
    if (trigger->Index < 0) delete trigger;
  }
  try {
    CancelCatalogUpdate(*this);
  } catch (...) {
    if (table != nullptr) UnlockObject(table, kBRNLockTypeExclusive);
    throw;
  }
  if (table != nullptr) UnlockObject(table, kBRNLockTypeExclusive);
}

TBRNTrigger* TBRNLocalDatabaseManager::AlterTrigger(const std::string& tableName,
                                                    TBRNBaseTable*& table,
                                                    const std::string& triggerName) {
  const std::string statement =
      DdlStatementText("ALTER TRIGGER %s ON %s", {triggerName, tableName});
  RequireOpenAndWritable(*this, statement);
  RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* found = FindStoredTable(*this, tableName);
  CheckDdlPrivilege(*this, found, pkAlter, statement);
  TBRNTrigger* trigger = findTrigger(found, triggerName);
  TBRNObjectLockScope lock(*this, found, kBRNLockTypeExclusive);
  Session->ReportAlterStatus(osStarting, trigger);
  lock.Release();
  update.Release();
  table = found;
  return trigger;
}

void TBRNLocalDatabaseManager::CommitAlterTrigger(TBRNBaseTable* table, TBRNTrigger* trigger,
                                                  int32_t position) {
  if (table == nullptr || trigger == nullptr)
    throw std::invalid_argument("CommitAlterTrigger without a table and a trigger");
  TBRNTriggers& triggers = *table->Triggers;
  if (position != kKeepTriggerPosition)
    placeTrigger(triggers, trigger->Index, position);
  else
    triggers.RebuildEventLists();
  trigger->SetModified(true);
  CommitCatalogUpdate(*this);
  UnlockObject(table, kBRNLockTypeExclusive);
  Session->ReportAlterStatus(osCompleted, trigger);
}

void TBRNLocalDatabaseManager::RollbackAlterTrigger(TBRNBaseTable* table, TBRNTrigger* trigger) {
  if (trigger != nullptr) ReportStageQuietly(ReportDdlAlter(*this, trigger), osNotCompleted);
  try {
    CancelCatalogUpdate(*this);
  } catch (...) {
    if (table != nullptr) UnlockObject(table, kBRNLockTypeExclusive);
    throw;
  }
  if (table != nullptr) UnlockObject(table, kBRNLockTypeExclusive);
}

void TBRNLocalDatabaseManager::DropTrigger(const std::string& tableName,
                                           const std::string& triggerName) {
  const std::string statement =
      DdlStatementText("DROP TRIGGER %s FROM %s", {triggerName, tableName});
  RequireOpenAndWritable(*this, statement);
  RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindStoredTable(*this, tableName);
  TBRNTrigger* trigger = findTrigger(table, triggerName);
  TBRNStatusStages stages(ReportDdlDrop(*this, trigger));
  CheckDdlPrivilege(*this, table, pkDrop, statement);
  CheckNotSystemUnlessSystemUser(*this, table);
  TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
  trigger->CheckNotReferenced("dropped");
  const int32_t position = trigger->Index;
  std::unique_ptr<TBRNConfigObject> owned(table->Triggers->RemoveObject(position));
  try {
    update.Commit();
  } catch (...) {
    try {
      table->Triggers->InsertObject(position, owned.get());
      owned.release();
    } catch (...) {
      try {
        stages.Fail();
      } catch (...) {
      }
    }
    throw;
  }
  lock.Unlock();
  stages.Complete();
}

void TBRNLocalDatabaseManager::RenameTrigger(const std::string& tableName,
                                             const std::string& triggerName,
                                             const std::string& newName) {
  const std::string statement =
      DdlStatementText("RENAME TRIGGER %s ON %s TO %s", {triggerName, tableName, newName});
  RequireOpenAndWritable(*this, statement);
  RequireNoTransaction(statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindStoredTable(*this, tableName);
  TBRNTrigger* trigger = findTrigger(table, triggerName);
  TBRNStatusStages stages(ReportDdlRename(*this, trigger));
  CheckDdlPrivilege(*this, table, pkAlter, statement);
  CheckNotSystemUnlessSystemUser(*this, table);
  TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
  table->Triggers->CheckNewName(trigger, newName);
  const std::string oldName = trigger->Name;
  trigger->Name = newName;
  trigger->SetModified(true);
  try {
    update.Commit();
  } catch (...) {
    // The failure stage names the trigger as the catalog file still does.
    trigger->Name = oldName;
    throw;
  }
  lock.Unlock();
  stages.Complete();
}

namespace {

void setTriggersEnabled(TBRNLocalDatabaseManager& database, const std::string& statement,
                        const std::string& tableName, const std::string* triggerName,
                        bool enabled) {
  database.RequireOpen(statement);
  TBRNCatalogReadBracket read(database);
  TBRNBaseTable* table = FindStoredTable(database, tableName);
  TBRNTrigger* only =
      triggerName != nullptr
          ? static_cast<TBRNTrigger*>(table->Triggers->FindByName(*triggerName, true))
          : nullptr;
  CheckDdlPrivilege(database, table, pkAlter, statement);
  CheckNotSystemUnlessSystemUser(database, table);
  TBRNTriggers& triggers = *table->Triggers;
  for (int32_t i = 0; i < triggers.Count(); ++i) {
    TBRNTrigger* trigger = triggers.GetItem(i);
    if (only != nullptr && trigger != only) continue;
    trigger->Enabled = enabled;
  }
  triggers.RebuildEventLists();
  InvalidateInformationTable(database, "Triggers");
  for (int32_t i = 0; i < triggers.Count(); ++i) {
    TBRNTrigger* trigger = triggers.GetItem(i);
    if (only != nullptr && trigger != only) continue;
    if (enabled)
      database.Session->ReportEnabled(trigger);
    else
      database.Session->ReportDisabled(trigger);
  }
}

}  // namespace

void TBRNLocalDatabaseManager::EnableTrigger(const std::string& tableName,
                                             const std::string& triggerName) {
  setTriggersEnabled(*this, DdlStatementText("ENABLE TRIGGER %s ON %s", {triggerName, tableName}),
                     tableName, &triggerName, true);
}

void TBRNLocalDatabaseManager::EnableTriggers(const std::string& tableName) {
  setTriggersEnabled(*this, DdlStatementText("ENABLE TRIGGERS ON %s", {tableName}), tableName,
                     nullptr, true);
}

void TBRNLocalDatabaseManager::DisableTrigger(const std::string& tableName,
                                              const std::string& triggerName) {
  setTriggersEnabled(*this,
                     DdlStatementText("DISABLE TRIGGER %s ON %s", {triggerName, tableName}),
                     tableName, &triggerName, false);
}

void TBRNLocalDatabaseManager::DisableTriggers(const std::string& tableName) {
  setTriggersEnabled(*this, DdlStatementText("DISABLE TRIGGERS ON %s", {tableName}), tableName,
                     nullptr, false);
}

}  // namespace brn
