// OPTIMIZE TABLE and ALTER TABLE of a local database: the working copy,
// the file swap with ".Old" safety copies, and the catalog commit.
//
// Order of a swap, which the open-time repair of the table manager relies
// on (RecoverInterruptedSwap): every ".Old" copy of the table is deleted,
// the selected files are renamed to their ".Old" copies, the copy's files
// are renamed to the table's names. For ALTER the new structure checksum is
// then stamped into the files not swapped (after copying them to ".Old"
// as well) and only then is the catalog committed. A crash before the
// commit therefore always finds either a missing file or a checksum that
// is not the catalog's, next to ".Old" copies that are exactly the table's
// previous files.
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
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

namespace {

constexpr int32_t kAlterFiles = 0x1;
constexpr int32_t kAlterFull = 0x2;
constexpr int32_t kAlterRowsInPlace = 0x4;
constexpr int32_t kAlterIndexFile = 0x8;
constexpr int32_t kAlterPublishedUpdates = 0x20;
constexpr int32_t kAlterIdentityRestarts = 0x40;
constexpr int32_t kAlterExclusive = 0x80;
constexpr int32_t kAlterConstraintsChanged = 0x2000;
constexpr int32_t kAlterCheckRows = 0x20000 | 0x40000;
constexpr int32_t kAlterNoRowCheck = 0x80000;

std::string nowText() {
  return FormatTimestampLiteral(true, CurrentTimestamp(false));
}

// The files that the flags replace.
uint8_t selectedFiles(int32_t flags) {
  if ((flags & kAlterFull) != 0) return kTableFilesAll;
  uint8_t selection = 0;
  if ((flags & kAlterRowsInPlace) != 0) selection |= kTableFileRows | kTableFileBlobs;
  if ((flags & kAlterIndexFile) != 0) selection |= kTableFileIndexes;
  if ((flags & kAlterPublishedUpdates) != 0) selection |= kTableFilePublishedUpdates;
  return selection;
}

// An Exclusive open of a table's manager for the enclosing scope; the
// destructor closes it (errors dropped), Close closes it with errors.
class ExclusiveOpen {
 public:
  ExclusiveOpen(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
    manager_ = &dynamic_cast<TBRNTableManager&>(
        *database.TableManagers->OpenManager(table, kBRNLockTypeExclusive));
  }
  ~ExclusiveOpen() {
    if (manager_ == nullptr) return;
    try {
      manager_->Close(false, true);
    } catch (...) {
      // The error leaving the scope is the one reported.
    }
  }
  ExclusiveOpen(const ExclusiveOpen&) = delete;
  ExclusiveOpen& operator=(const ExclusiveOpen&) = delete;

  TBRNTableManager& operator*() const { return *manager_; }
  TBRNTableManager* operator->() const { return manager_; }
  void Close() {
    TBRNTableManager* manager = manager_;
    manager_ = nullptr;
    manager->Close(false, true);
  }

 private:
  TBRNTableManager* manager_ = nullptr;
};

// Closes a kept-open manager of the table that has no users, so that the
// Exclusive open is not refused by this session's own Shared lock.
void closeIdleManager(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  if (table->ManagerHandle == 0) return;
  TBRNSchemaObjectManager* manager = database.TableManagers->GetManager(table);
  if (manager->GetOpen() && manager->GetUserCount() == 0) manager->Close(true, true);
}

// The copy's manager, which makes fresh files when opened.
ExclusiveOpen* openCopy(TBRNLocalDatabaseManager& database, TBRNBaseTable* copy,
                        std::unique_ptr<ExclusiveOpen>& holder) {
  TBRNTableManager& manager = TableManagerOf(database, copy);
  manager.SetCreatingFiles(true);
  try {
    holder = std::make_unique<ExclusiveOpen>(database, copy);
  } catch (...) {
    // A failed open may have released (freed) the manager.
    if (copy->ManagerHandle != 0) TableManagerOf(database, copy).SetCreatingFiles(false);
    throw;
  }
  manager.SetCreatingFiles(false);
  return holder.get();
}

// The kinds of the stored table that have a ".Old" copy on disk.
uint8_t kindsWithOldCopies(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  uint8_t found = 0;
  const std::string base = database.GetSchemaFolder("") + table->Name;
  for (auto [kind, bit] :
       {std::pair{TBRNTableFileKind::Rows, kTableFileRows},
        std::pair{TBRNTableFileKind::Indexes, kTableFileIndexes},
        std::pair{TBRNTableFileKind::Blobs, kTableFileBlobs},
        std::pair{TBRNTableFileKind::PublishedUpdates, kTableFilePublishedUpdates}}) {
    if (database.FileManager->FileExists(base + database.GetFileExtension(kind) + ".Old"))
      found = uint8_t(found | bit);
  }
  return found;
}

// Deletes every ".Old" copy of the table's files by name. (The table
// manager's DeleteOldCopies must not run on an open manager: the file
// layer re-initialises each open file's header on the way.)
void deleteOldCopies(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) {
  const std::string base = database.GetSchemaFolder("") + table->Name;
  for (TBRNTableFileKind kind : {TBRNTableFileKind::Rows, TBRNTableFileKind::Indexes,
                                 TBRNTableFileKind::Blobs, TBRNTableFileKind::PublishedUpdates}) {
    const std::string name = base + database.GetFileExtension(kind) + ".Old";
    if (database.FileManager->FileExists(name)) database.FileManager->DeleteFile(name);
  }
}

// Puts back every ".Old" copy of the table (the previous files of a swap
// that is being undone) and ends the swap; failures are dropped, as the
// error that undoes the swap is the one reported.
void restoreOldCopiesQuietly(TBRNLocalDatabaseManager& database, TBRNBaseTable* table) noexcept {
  try {
    TBRNTableManager& manager = TableManagerOf(database, table);
    const uint8_t kinds = kindsWithOldCopies(database, table);
    if (kinds != 0) manager.RestoreOldCopies(true, kinds);
    manager.EndFileSwap();
  } catch (...) {
    // The ".Old" copies and the swap's mark stay; the next open puts the
    // copies back.
  }
}

// Replaces the table's selected files by the copy's (both managers
// closed); the table's files become ".Old" copies. The caller deleted every
// earlier ".Old" copy. A failure puts the table's files back and passes on.
void swapInFiles(TBRNLocalDatabaseManager& database, TBRNBaseTable* table, TBRNBaseTable* copy,
                 uint8_t selection) {
  TBRNTableManager& stored = TableManagerOf(database, table);
  TBRNTableManager& copied = TableManagerOf(database, copy);
  stored.MakeOldCopies(true, selection);
  try {
    copied.RenameFiles(stored.GetFileTableName(), selection);
  } catch (...) {
    restoreOldCopiesQuietly(database, table);
    throw;
  }
  copied.DeleteFiles();
}

// Before a swap or a stamp (the stored manager open, its work done but not
// flushed): the swap's mark is made and every earlier ".Old" copy goes, so
// that each one left belongs to this change. With a new checksum or
// restarted identity counters the files that are not swapped are copied to
// ".Old" (the new checksum is then stamped into them), so that until the
// catalog commits the previous files are all there to put back.
void prepareStoredFiles(TBRNLocalDatabaseManager& database, TBRNBaseTable* table,
                        TBRNTableManager& stored, uint8_t swapped, uint32_t checksum,
                        uint32_t oldChecksum, bool identityRestarted) {
  stored.BeginFileSwap();
  deleteOldCopies(database, table);
  const uint8_t unswapped = uint8_t(kTableFilesAll & ~swapped);
  if (unswapped == 0 || (checksum == oldChecksum && !identityRestarted)) return;
  // The copies are taken from the disk, before this open's changes.
  stored.MakeOldCopies(false, unswapped);
  if (checksum != oldChecksum) stored.StampStructureChecksum(checksum, unswapped);
}

// The structure checksum of a working copy under the stored table's name.
uint32_t copyChecksum(TBRNBaseTable* copy, const std::string& name) {
  const std::string copyName = copy->Name;
  copy->Name = name;
  const uint32_t checksum = copy->GetStructureChecksum();
  copy->Name = copyName;
  return checksum;
}

}  // namespace

// ---------------------------------------------------------------------------
// Working copies

TBRNBaseTable* TBRNLocalDatabaseManager::CreateWorkingCopy(TBRNBaseTable* table) {
  if (table == nullptr) throw std::invalid_argument("CreateWorkingCopy without a table");
  TBRNTemporaryTables& tables = *Catalog->DefaultSchema->TemporaryTables;
  std::unique_ptr<TBRNBaseTable> copy(
      static_cast<TBRNBaseTable*>(tables.NewItemOwnedBy(GetCurrentUser())));
  copy->Assign(table, true);
  copy->StructureChecksum = table->StructureChecksum;
  copy->WasTemporary = table->GetTemporary();
  copy->SetTemporary(true);
  copy->WorkingCopy = true;
  copy->Name = tables.MakeUniqueIdentifier(Database->Name);
  copy->LoadedName = copy->Name;
  TBRNColumns* columns = copy->Columns.get();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    columns->GetItem(i)->AlterSourcePosition = i;
    columns->GetItem(i)->RestartIdentity = false;
  }
  tables.AddObject(copy.get());
  table->BeingAltered = true;
  return copy.release();
}

// ---------------------------------------------------------------------------
// OPTIMIZE TABLE

bool TBRNLocalDatabaseManager::OptimizeTable(const std::string& tableName,
                                             const std::string& indexName) {
  const std::string statement =
      indexName.empty() ? DdlStatementText("OPTIMIZE TABLE %s", {tableName})
                        : DdlStatementText("OPTIMIZE TABLE %s USING %s", {tableName, indexName});
  RequireOpen(statement);
  RequireWritable(statement);
  RequireNoTransaction(statement);
  TBRNCatalogReadBracket read(*this);
  TBRNBaseTable* table = FindStoredTable(*this, tableName);
  int32_t index = -1;
  if (!indexName.empty()) {
    index = static_cast<TBRNIndex*>(table->Indexes->FindByName(indexName, true))->Index;
  } else {
    TBRNConstraints* constraints = table->Constraints.get();
    for (int32_t i = 0; i < constraints->Count() && index < 0; ++i) {
      TBRNConstraint* constraint = constraints->GetItem(i);
      if (constraint->ConstraintType == kConstraintPrimaryKey && constraint->HasEnforcingIndex())
        index = constraint->GetEnforcingIndex()->Index;
    }
    if (index < 0 && table->Indexes->Count() > 0) index = 0;
  }
  CheckPrivilege(Database, pkMaintain, statement);
  CheckNotSystemUnlessSystemUser(*this, table);

  closeIdleManager(*this, table);
  TBRNBaseTable* copy = CreateWorkingCopy(table);
  auto dropCopy = [&]() noexcept {
    table->BeingAltered = false;
    try {
      DropTemporaryTable(copy);
    } catch (...) {
      // A clean-up step: the database's close drops what is left.
    }
  };
  TBRNStatusStages stages(
      [this, table](TBRNOperationStage stage) { Session->ReportOptimizeStatus(stage, table); });
  bool ok = false;
  try {
    {
      ExclusiveOpen stored(*this, table);
      std::unique_ptr<ExclusiveOpen> copied;
      openCopy(*this, copy, copied);
      ok = stored->OptimizeTable(**copied, index);
      if (ok) {
        stored->BeginFileSwap();
        deleteOldCopies(*this, table);
      }
      copied->Close();
      stored.Close();
    }
    if (ok) {
      TBRNObjectLockScope lock(*this, table, kBRNLockTypeExclusive);
      swapInFiles(*this, table, copy, kTableFilesAll);
      TableManagerOf(*this, table).EndFileSwap();
      TableManagers->ReleaseManager(table);
      lock.Unlock();
    } else {
      TableManagerOf(*this, copy).DeleteFiles();
    }
  } catch (...) {
    TableManagers->ReleaseManager(table);
    dropCopy();
    throw;
  }
  dropCopy();
  if (!ok) {
    stages.Fail();
    return false;
  }
  stages.Complete();
  Catalog->ResetAllLinks();
  return true;
}

// ---------------------------------------------------------------------------
// ALTER TABLE

TBRNBaseTable* TBRNLocalDatabaseManager::BeginAlterTable(const std::string& tableName) {
  const std::string statement = DdlStatementText("ALTER TABLE %s", {tableName});
  TBRNBaseTable* table = nullptr;
  try {
    RequireOpen(statement);
    RequireWritable(statement);
    BeginCatalogUpdate(*this);
    table = FindDdlTable(*this, tableName);
    if (!IsSessionOnly(table)) RequireNoTransaction(statement);
    Session->ReportAlterStatus(osStarting, table);
    CheckPrivilege(Database, pkAlter, statement);
    table->CheckNotSystem();
  } catch (...) {
    TBRNBaseTable* none = nullptr;
    try {
      RollbackAlterTable(table, none);
    } catch (...) {
      // The check's error is the one reported.
    }
    throw;
  }
  return table;
}

bool TBRNLocalDatabaseManager::AlterTable(TBRNBaseTable* table, TBRNBaseTable*& copy) {
  if (table == nullptr || copy == nullptr)
    throw std::invalid_argument("AlterTable without a table and its working copy");
  const int32_t flags = copy->AlterationFlags;
  copy->Validate();
  closeIdleManager(*this, table);
  const std::string kind = table->GetObjectTypeName();
  const std::string name = table->Name;
  LogMessage(FormatText("Alteration of the %s %s started at %s", {kind, name, nowText()}));
  // The checksum of the definition as it will be stored. A working copy's
  // structure record differs from its stored table's even unchanged (it
  // lives among the temporary tables): an unchanged copy of the table is
  // the baseline, and matching it keeps the table's checksum.
  const uint32_t oldChecksum = table->StructureChecksum;
  uint32_t checksum = oldChecksum;
  {
    TBRNBaseTable* probe = CreateWorkingCopy(table);
    const uint32_t baseline = copyChecksum(probe, table->Name);
    DropTemporaryTable(probe);
    const uint32_t altered = copyChecksum(copy, table->Name);
    if (altered != baseline) checksum = altered;
  }
  copy->StructureChecksum = checksum;
  bool ok = true;
  // Set once the swap's mark exists (prepareStoredFiles).
  bool marked = false;
  // Held from the close of the table's files to the catalog commit: no
  // other session opens the table while files and catalog disagree.
  std::unique_ptr<TBRNObjectLockScope> lock;
  try {
    if ((flags & kAlterFiles) != 0) {
      const uint8_t selection = selectedFiles(flags);
      {
        ExclusiveOpen stored(*this, table);
        std::unique_ptr<ExclusiveOpen> copiedHolder;
        ExclusiveOpen& copied = *openCopy(*this, copy, copiedHolder);
        if ((flags & kAlterFull) != 0) {
          ok = stored->AlterRowsFull(*copied);
        } else {
          if ((flags & kAlterRowsInPlace) != 0) {
            ok = stored->AlterRowsInPlace(*copied);
          } else {
            if ((flags & kAlterConstraintsChanged) != 0 && (flags & kAlterCheckRows) != 0 &&
                (flags & kAlterNoRowCheck) == 0) {
              ok = stored->CheckAlteredConstraints(copy);
            }
            if (ok && (flags & kAlterIdentityRestarts) != 0) stored->ApplyIdentityRestarts(copy);
          }
          if (ok && (flags & kAlterIndexFile) != 0) ok = stored->RebuildIndexes(*copied);
          if (ok && (flags & kAlterPublishedUpdates) != 0)
            ok = stored->CopyPublishedUpdates(*copied);
        }
        if (ok) {
          prepareStoredFiles(*this, table, *stored, selection, checksum, oldChecksum,
                             (flags & kAlterIdentityRestarts) != 0);
          marked = true;
        }
        copied.Close();
        stored.Close();
      }
      if (ok) {
        lock = std::make_unique<TBRNObjectLockScope>(*this, table, kBRNLockTypeExclusive);
        if (selection != 0) swapInFiles(*this, table, copy, selection);
      } else {
        TableManagerOf(*this, copy).DeleteFiles();
      }
    } else if ((flags & (kAlterExclusive | kAlterIdentityRestarts)) != 0 ||
               ((flags & kAlterConstraintsChanged) != 0 &&
                (flags & (kAlterCheckRows | kAlterNoRowCheck)) != 0)) {
      {
        ExclusiveOpen stored(*this, table);
        if ((flags & kAlterConstraintsChanged) != 0 && (flags & kAlterNoRowCheck) == 0) {
          ok = stored->CheckAlteredConstraints(copy);
        }
        if (ok && (flags & kAlterIdentityRestarts) != 0) stored->ApplyIdentityRestarts(copy);
        if (ok) {
          prepareStoredFiles(*this, table, *stored, 0, checksum, oldChecksum,
                             (flags & kAlterIdentityRestarts) != 0);
          marked = true;
        }
        stored.Close();
      }
      if (ok) lock = std::make_unique<TBRNObjectLockScope>(*this, table, kBRNLockTypeExclusive);
    } else if (checksum != oldChecksum) {
      // A catalog-only change that still moves the checksum: the files
      // take it as well.
      {
        ExclusiveOpen stored(*this, table);
        prepareStoredFiles(*this, table, *stored, 0, checksum, oldChecksum,
                           (flags & kAlterIdentityRestarts) != 0);
        marked = true;
        stored.Close();
      }
      lock = std::make_unique<TBRNObjectLockScope>(*this, table, kBRNLockTypeExclusive);
    }
    TableManagers->ReleaseManager(table);
  } catch (...) {
    TableManagers->ReleaseManager(table);
    if (marked) restoreOldCopiesQuietly(*this, table);
    try {
      LogMessage(FormatText("Alteration of the %s %s ended at %s", {kind, name, nowText()}));
    } catch (...) {
      // The alteration's error is the one reported.
    }
    throw;
  }
  LogMessage(FormatText("Alteration of the %s %s ended at %s", {kind, name, nowText()}));
  if (!ok) {
    RollbackAlterTable(table, copy);
    return false;
  }

  // The stored definition becomes the copy's.
  // Assign takes the copy's place among the temporary tables as well: the
  // stored table keeps its own, which DROP and the catalog write go by.
  const int32_t position = table->Index;
  const std::string tableName = table->Name;
  const std::string loadedName = table->LoadedName;
  const bool wasTemporary = copy->WasTemporary;
  try {
    copy->ResetReferencedTables();
    copy->Uncompile();
    table->Assign(copy, true);
    table->StructureChecksum = checksum;
    table->AlterationFlags = flags;
    table->Index = position;
    table->Name = tableName;
    table->LoadedName = loadedName;
    if (table->GetTemporary() != wasTemporary) table->SetTemporary(wasTemporary);
    table->WorkingCopy = false;
    table->BeingAltered = false;
    TBRNBaseTable* dropped = copy;
    copy = nullptr;
    DropTemporaryTable(dropped);
    table->ResetReferencedTables();
    table->Uncompile();
    table->Compile();
    table->Validate();
    table->SetModified(true);
    if (!IsSessionOnly(table)) {
      CommitCatalogUpdate(*this);
    } else {
      CancelCatalogUpdate(*this);
    }
  } catch (...) {
    TableManagers->ReleaseManager(table);
    if (marked) restoreOldCopiesQuietly(*this, table);
    throw;
  }
  if (marked) {
    try {
      TableManagerOf(*this, table).EndFileSwap();
      TableManagers->ReleaseManager(table);
    } catch (...) {
      // The change is committed: a mark left behind is removed by the next
      // open, which finds the files matching the catalog.
    }
  }
  lock.reset();
  Session->ReportAlterStatus(osCompleted, table);
  return true;
}

void TBRNLocalDatabaseManager::RollbackAlterTable(TBRNBaseTable* table, TBRNBaseTable*& copy) {
  if (table != nullptr) {
    ReportStageQuietly(
        [this, table](TBRNOperationStage stage) { Session->ReportAlterStatus(stage, table); },
        osNotCompleted);
    table->BeingAltered = false;
  }
  if (copy != nullptr) {
    TBRNBaseTable* dropped = copy;
    copy = nullptr;
    try {
      TableManagers->ReleaseManager(dropped);
    } catch (...) {
    }
    DropTemporaryTable(dropped);
  }
  CancelCatalogUpdate(*this);
}

}  // namespace brn
