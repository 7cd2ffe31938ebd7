// CREATE TABLE, CREATE TEMPORARY TABLE, DROP TABLE, RENAME TABLE and
// EMPTY TABLE of a local database.
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

// ---------------------------------------------------------------------------
// Shared lookups

TBRNBaseTable* FindDdlTable(TBRNLocalDatabaseManager& database, const std::string& name) {
  TBRNCatalog& catalog = *database.Catalog;
  return static_cast<TBRNBaseTable*>(catalog.FindTable(catalog.DefaultSchema, name,
                                                      database.GetCurrentUser(), true, true));
}

TBRNBaseTable* FindStoredTable(TBRNLocalDatabaseManager& database, const std::string& name) {
  return static_cast<TBRNBaseTable*>(database.Catalog->DefaultSchema->BaseTables->FindByNameForUser(
      name, database.GetCurrentUser(), true));
}

bool IsSessionOnly(const TBRNConfigObject* object) {
  return object->GetTransient() || object->GetTemporary();
}

TBRNTableManager& TableManagerOf(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  auto* manager = dynamic_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
  if (manager == nullptr) throw std::logic_error("The table has no table manager");
  return *manager;
}

void InvalidateInformationTable(TBRNLocalDatabaseManager& database, const std::string& name) {
  TBRNSchema* schema = database.Catalog->InformationSchema;
  if (schema == nullptr) return;
  TBRNConfigObject* table = schema->BaseTables->FindByName(name, false);
  if (table != nullptr) database.SetSystemTableFilled(table, false);
}

namespace {

// Closes a kept-open manager of the table that has no users, so that an
// Exclusive lock is not refused by this session's own Shared lock.
void closeIdleManager(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  if (table->ManagerHandle == 0) return;
  TBRNSchemaObjectManager* manager = database.TableManagers->GetManager(table);
  if (manager->GetOpen() && manager->GetUserCount() == 0) manager->Close(true, true);
}

// A rename between Name and a listed table that a crash cut short (its
// marks still there) may have left that table's files under Name: its open,
// while the catalog does not hold Name yet, moves them back, before a new
// table of that name keeps them as its ".Old" copies. A table that does not
// open is left to its own next open.
void settleCutRename(TBRNLocalDatabaseManager& database, const std::string& name) {
  TBRNBaseTables& tables = *database.Catalog->DefaultSchema->BaseTables;
  if (tables.Count() == 0) return;
  // Any table's manager reads the marks of the schema's folder.
  const std::string partnerName =
      TableManagerOf(database, static_cast<TBRNBaseTable*>(tables.GetItem(0)))
          .RenameMarkPartner(name);
  if (partnerName.empty()) return;
  auto* partner = static_cast<TBRNBaseTable*>(tables.FindByName(partnerName, false));
  if (partner == nullptr) return;
  TBRNTableManager& manager = TableManagerOf(database, partner);
  if (!TextEqualsIgnoreCase(manager.RenameMarkPartner(partner->Name), name)) return;
  try {
    TBRNSchemaObjectManager* opened =
        database.TableManagers->OpenManager(partner, kBRNLockTypeShared);
    opened->Close(false, true);
  } catch (const EBRNException&) {
    // Its error belongs to its own open; the marks stay for that.
  }
}

// Makes the empty files of a table that has none, through one open and
// close of its manager (no "file was not present" warning: the engine
// made them on purpose).
void createFiles(TBRNLocalDatabaseManager& database, TBRNBaseTable* table,
                 TBRNTableManager& manager) {
  manager.SetCreatingFiles(true);
  try {
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
  } catch (...) {
    // A failed open frees a manager left without users.
    if (table->ManagerHandle != 0) TableManagerOf(database, table).SetCreatingFiles(false);
    throw;
  }
  manager.SetCreatingFiles(false);
  manager.Close(true, true);
}

}  // namespace

// ---------------------------------------------------------------------------
// CREATE TABLE

TBRNBaseTable* TBRNLocalDatabaseManager::CreateTable(const std::string& name) {
  const std::string statement = DdlStatementText("CREATE TABLE %s", {name});
  RequireOpenAndWritable(*this, statement);
  RequireNoTransaction(statement);
  CheckDdlPrivilege(*this, Database, pkCreate, statement);
  CheckNotSystemUnlessSystemUser(*this, Database);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTables& tables = *Catalog->DefaultSchema->BaseTables;
  std::unique_ptr<TBRNBaseTable> table(
      static_cast<TBRNBaseTable*>(tables.NewItemOwnedBy(GetCurrentUser())));
  table->Name = name;
  table->LoadedName = name;
  table->SetLockNumber(Catalog->NextTableLockNumber());
  table->ApplyDefaultGrants();
  Session->ReportCreateStatus(osStarting, table.get());
  update.Release();
  return table.release();
}

void TBRNLocalDatabaseManager::CommitCreateTable(TBRNBaseTable* table) {
  if (table == nullptr) throw std::invalid_argument("CommitCreateTable without a table");
  TBRNBaseTables& tables = *Catalog->DefaultSchema->BaseTables;
  settleCutRename(*this, table->Name);
  tables.AddObject(table);
  table->UpdateStructureChecksum();
  // Files left under this name (by a table dropped outside the engine, or
  // a failed drop) are kept as ".Old" copies and the table gets fresh empty
  // files before the catalog commit: a table file missing beside its
  // ".Old" copy is what a cut swap leaves, which an open refuses.
  TBRNTableManager& manager = TableManagerOf(*this, table);
  // ".Old" copies beside no file are those of an earlier table of this
  // name (a DROP keeps them); they go, as a kept copy replaces them too:
  // left there, they would make the first open refuse to create the files.
  uint8_t existing = 0;
  std::vector<std::string> staleCopies;
  for (auto [kind, bit] : {std::pair{TBRNTableFileKind::Rows, kTableFileRows},
                           std::pair{TBRNTableFileKind::Indexes, kTableFileIndexes},
                           std::pair{TBRNTableFileKind::Blobs, kTableFileBlobs},
                           std::pair{TBRNTableFileKind::PublishedUpdates,
                                     kTableFilePublishedUpdates}}) {
    const std::string name = GetSchemaFolder("") + table->Name + GetFileExtension(kind);
    if (FileManager->FileExists(name)) {
      existing = uint8_t(existing | bit);
    } else if (FileManager->FileExists(name + ".Old")) {
      staleCopies.push_back(name + ".Old");
    }
  }
  bool keptOld = false;
  bool created = false;
  try {
    for (const std::string& name : staleCopies) FileManager->DeleteFile(name);
    if (existing != 0) {
      manager.MakeOldCopies(true, existing);
      keptOld = true;
    }
    manager.DeleteFiles();
    created = true;
    createFiles(*this, table, manager);
    CommitCatalogUpdate(*this);
  } catch (...) {
    // The files go back as they were; a failure of that is dropped for
    // the commit's own (".Old" copies left stay for the user to put back).
    try {
      // A failed open may have freed the manager: a fresh one (closed)
      // does the clean-up.
      TBRNTableManager& closed = TableManagerOf(*this, table);
      closed.Close(true, true);
      if (created) closed.DeleteFiles();
      if (keptOld) closed.RestoreOldCopies(true, existing);
    } catch (...) {
    }
    TableManagers->ReleaseManager(table);
    throw;
  }
  TableManagers->ReleaseManager(table);
  LastCreatedTable = table;
  Session->ReportCreateStatus(osCompleted, table);
}

void TBRNLocalDatabaseManager::RollbackCreateTable(TBRNBaseTable* table) {
  LastCreatedTable = nullptr;
  if (table != nullptr) {
    ReportStageQuietly(ReportDdlCreate(*this, table), osNotCompleted);
    if (table->Index < 0) {
      TableManagers->ReleaseManager(table);
      delete table;
    }
  }
  CancelCatalogUpdate(*this);
}

// ---------------------------------------------------------------------------
// CREATE TEMPORARY TABLE

TBRNBaseTable* TBRNLocalDatabaseManager::CreateTemporaryTable(const std::string& name,
                                                              bool checked) {
  const std::string statement = DdlStatementText("CREATE TEMPORARY TABLE %s", {name});
  if (checked) {
    RequireOpenAndWritable(*this, statement);
    CheckNotSystemUnlessSystemUser(*this, Database);
  }
  TBRNTemporaryTables& tables = *Catalog->DefaultSchema->TemporaryTables;
  std::unique_ptr<TBRNBaseTable> table(
      static_cast<TBRNBaseTable*>(tables.NewItemOwnedBy(GetCurrentUser())));
  if (checked)
    table->SetTemporary(true);
  else
    table->SetTransient(true);
  table->Name = checked ? name : tables.MakeUniqueName(name);
  table->LoadedName = tables.MakeUniqueIdentifier(Database->Name);
  if (table->Name.empty()) table->Name = table->LoadedName;
  if (checked) Session->ReportCreateStatus(osStarting, table.get());
  return table.release();
}

void TBRNLocalDatabaseManager::CommitCreateTemporaryTable(TBRNBaseTable* table) {
  if (table == nullptr) throw std::invalid_argument("CommitCreateTemporaryTable without a table");
  Catalog->DefaultSchema->TemporaryTables->AddObject(table);
  if (table->GetTemporary()) {
    InvalidateInformationTable(*this, "TemporaryTables");
    Session->ReportCreateStatus(osCompleted, table);
  }
}

void TBRNLocalDatabaseManager::RollbackCreateTemporaryTable(TBRNBaseTable* table) {
  if (table == nullptr) return;
  if (table->GetTemporary()) ReportStageQuietly(ReportDdlCreate(*this, table), osNotCompleted);
  if (table->Index < 0) {
    TableManagers->ReleaseManager(table);
    delete table;
  }
}

void TBRNLocalDatabaseManager::DropTemporaryTable(TBRNBaseTable* table) {
  TBRNTemporaryTables& tables = *Catalog->DefaultSchema->TemporaryTables;
  if (table == nullptr || table->Index < 0 || table->Index >= tables.Count() ||
      tables.GetItem(table->Index) != table)
    throw std::invalid_argument("DropTemporaryTable of a table that is not a temporary table");
  TableManagers->ReleaseManager(table);
  std::unique_ptr<TBRNConfigObject> owned(tables.RemoveObject(table->Index));
}

// ---------------------------------------------------------------------------
// DROP TABLE

void TBRNLocalDatabaseManager::DropTable(const std::string& name) {
  const std::string statement = DdlStatementText("DROP TABLE %s", {name});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindDdlTable(*this, name);
  const bool sessionOnly = IsSessionOnly(table);
  if (sessionOnly) update.Cancel();
  TBRNStatusStages stages(ReportDdlDrop(*this, table));
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    CheckDdlPrivilege(*this, Database, pkDrop, statement);
  }
  CheckNotSystemUnlessSystemUser(*this, table);

  closeIdleManager(*this, table);
  TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
  table->CheckNotReferenced("dropped");
  TBRNTableManager& manager = TableManagerOf(*this, table);

  if (sessionOnly) {
    manager.DeleteFiles();
    manager.DeleteOldCopies();
    table->DetachForeignKeys();
    TBRNTemporaryTables& tables = *Catalog->DefaultSchema->TemporaryTables;
    TableManagers->ReleaseManager(table);
    lock.Unlock();
    std::unique_ptr<TBRNConfigObject> owned(tables.RemoveObject(table->Index));
    if (table->GetTemporary()) InvalidateInformationTable(*this, "TemporaryTables");
    stages.Complete();
    return;
  }

  // The catalog file stops listing the table before its files go: a failed
  // catalog write then leaves the table listed with its files intact. The
  // table stays this object until the commit succeeded, so that a failed
  // one puts the very same object back before the catalog is reloaded.
  TBRNBaseTables& tables = *Catalog->DefaultSchema->BaseTables;
  const int32_t position = table->Index;
  // The removal goes by position: a stale one would free another table
  // while its manager stays listed.
  if (position < 0 || position >= tables.Count() || tables.GetItem(position) != table)
    throw std::logic_error("DropTable of a table that is not at its place among the base tables");
  table->DetachForeignKeys();
  std::unique_ptr<TBRNConfigObject> owned(tables.RemoveObject(position));
  try {
    update.Commit();
  } catch (...) {
    try {
      tables.InsertObject(position, owned.get());
      owned.release();
    } catch (...) {
      // The reload below makes the table anew from the file; this object
      // goes with owned, so nothing may name it afterwards.
      try {
        stages.Fail();
      } catch (...) {
      }
      try {
        lock.Unlock();
      } catch (...) {
      }
      TableManagers->ReleaseManager(table);
    }
    throw;
  }
  manager.DeleteFiles();
  TableManagers->ReleaseManager(table);
  lock.Unlock();
  stages.Complete();
  owned.reset();
}

// ---------------------------------------------------------------------------
// RENAME TABLE

void TBRNLocalDatabaseManager::RenameTable(const std::string& name, const std::string& newName) {
  const std::string statement = DdlStatementText("RENAME TABLE %s TO %s", {name, newName});
  RequireOpenAndWritable(*this, statement);
  TBRNCatalogUpdateBracket update(*this);
  TBRNBaseTable* table = FindDdlTable(*this, name);
  const bool sessionOnly = IsSessionOnly(table);
  if (sessionOnly) update.Cancel();
  TBRNStatusStages stages(ReportDdlRename(*this, table));
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    CheckDdlPrivilege(*this, Database, pkAlter, statement);
  }
  CheckNotSystemUnlessSystemUser(*this, table);

  closeIdleManager(*this, table);
  TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
  Catalog->DefaultSchema->BaseTables->CheckNewName(table, newName);
  const std::string oldName = table->Name;
  TBRNTableManager* manager = nullptr;
  // The marks under both names come first and go only once the files are
  // where the catalog file says (see TBRNTableManager::BeginFileRename):
  // an open after a crash in between gathers the files under the name the
  // catalog holds.
  auto endMarksQuietly = [&](const std::string& otherName) {
    try {
      if (manager->FilesExist()) manager->EndFileRename(otherName);
    } catch (...) {
      // They stay for the next open, which ends them.
    }
  };
  if (!sessionOnly) {
    manager = &TableManagerOf(*this, table);
    try {
      manager->BeginFileRename(newName);
      manager->RenameFiles(newName, kTableFilesAll);
    } catch (...) {
      endMarksQuietly(newName);
      throw;
    }
  }
  try {
    table->NotifyRenamed(newName);
    table->Name = newName;
    if (!sessionOnly) table->LoadedName = newName;
    table->SetModified(true);
    update.Commit();
  } catch (...) {
    if (manager != nullptr) {
      // The files go back to the name the catalog file still gives.
      bool back = false;
      try {
        table->Name = newName;
        manager->RenameFiles(oldName, kTableFilesAll);
        back = true;
      } catch (...) {
        // The rename's error is the one reported.
      }
      table->Name = oldName;
      if (back) endMarksQuietly(newName);
    }
    throw;
  }
  if (manager != nullptr) {
    endMarksQuietly(oldName);
    TableManagers->ReleaseManager(table);
  }
  stages.Complete();
}

// ---------------------------------------------------------------------------
// EMPTY TABLE

void TBRNLocalDatabaseManager::EmptyTable(const std::string& name, bool skipConstraintCheck) {
  const std::string statement = DdlStatementText("EMPTY TABLE %s", {name});
  RequireOpenAndWritable(*this, statement);
  TBRNBaseTable* table = FindDdlTable(*this, name);
  const bool sessionOnly = IsSessionOnly(table);
  TBRNStatusStages stages(ReportDdlEmpty(*this, table));
  if (!sessionOnly) {
    RequireNoTransaction(statement);
    if (skipConstraintCheck)
      Session->RequireAdministrator(statement);
    else
      CheckDdlPrivilege(*this, table, pkDelete, statement);
  }
  CheckNotSystemUnlessSystemUser(*this, table);
  TBRNSchemaObjectManager* opened = TableManagers->OpenManager(table, kBRNLockTypeShared);
  bool emptied = false;
  try {
    emptied = dynamic_cast<TBRNTableManager&>(*opened).EmptyTable(skipConstraintCheck);
  } catch (...) {
    try {
      opened->Close(false, true);
    } catch (...) {
    }
    throw;
  }
  opened->Close(false, true);
  if (emptied)
    stages.Complete();
  else
    stages.Fail();
}

}  // namespace brn
