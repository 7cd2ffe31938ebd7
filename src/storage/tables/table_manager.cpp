#include "storage/tables/table_manager.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "foundation/files/file_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_differences.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/table_environment.h"

namespace brn {

namespace {

constexpr int32_t kMetadataErrorCode = 100;
// Header checks that fail when a table's files and its catalog definition
// come from the two sides of an ALTER TABLE (an encrypted header read as a
// plain one fails on its character set).
constexpr const char* kDefinitionMismatchTexts[] = {
    "The internal structure does not match the structure in the catalog",
    "The encryption status does not match the encryption status in the configuration or catalog",
    "The character set does not match the character set in use by the engine"};

bool isDefinitionMismatch(const EBRNException& error) {
  if (error.ErrorCode != kMetadataErrorCode) return false;
  for (const char* text : kDefinitionMismatchTexts) {
    if (error.ErrorMessage.find(text) != std::string::npos) return true;
  }
  return false;
}
constexpr const char* kWriteIncompleteText =
    "A write operation did not complete and a repair is required";
constexpr const char* kInformationSchemaName = "Information";

// A file manager whose header steps, protected in the file layer, the
// table manager may call: the table's files are always made as these.
template <typename File>
class TBRNManagedFile final : public File {
 public:
  using File::CopyHeaderFrom;
  using File::File;
  using File::InitHeader;
  using File::ReadHeader;
};

template <typename File>
TBRNManagedFile<File>& managed(TBRNTableFileManager* file) {
  return static_cast<TBRNManagedFile<File>&>(*file);
}

// The header steps of a file of any kind.
void initHeaderOf(TBRNTableFileManager* file) {
  if (auto* rows = dynamic_cast<TBRNManagedFile<TBRNRowsetManager>*>(file)) {
    rows->InitHeader();
  } else if (auto* indexes = dynamic_cast<TBRNManagedFile<TBRNIndexManager>*>(file)) {
    indexes->InitHeader();
  } else if (auto* blobs = dynamic_cast<TBRNManagedFile<TBRNBlobManager>*>(file)) {
    blobs->InitHeader();
  } else {
    managed<TBRNPublishedUpdatesManager>(file).InitHeader();
  }
}

void readHeaderOf(TBRNTableFileManager* file) {
  if (auto* rows = dynamic_cast<TBRNManagedFile<TBRNRowsetManager>*>(file)) {
    rows->ReadHeader(true);
  } else if (auto* indexes = dynamic_cast<TBRNManagedFile<TBRNIndexManager>*>(file)) {
    indexes->ReadHeader(true);
  } else if (auto* blobs = dynamic_cast<TBRNManagedFile<TBRNBlobManager>*>(file)) {
    blobs->ReadHeader(true);
  } else {
    managed<TBRNPublishedUpdatesManager>(file).ReadHeader(true);
  }
}

void copyHeaderOf(TBRNTableFileManager* file, const TBRNTableFileManager& source) {
  if (auto* rows = dynamic_cast<TBRNManagedFile<TBRNRowsetManager>*>(file)) {
    rows->CopyHeaderFrom(source);
  } else if (auto* indexes = dynamic_cast<TBRNManagedFile<TBRNIndexManager>*>(file)) {
    indexes->CopyHeaderFrom(source);
  } else if (auto* blobs = dynamic_cast<TBRNManagedFile<TBRNBlobManager>*>(file)) {
    blobs->CopyHeaderFrom(source);
  } else {
    managed<TBRNPublishedUpdatesManager>(file).CopyHeaderFrom(source);
  }
  file->SetHeaderModified();
}

bool isWriteIncomplete(const EBRNException& error) {
  return error.ErrorCode == kMetadataErrorCode && error.ErrorMessage == kWriteIncompleteText;
}

// Runs Step on every file, going on past a failure; the first failure is
// raised at the end.
template <typename Step>
void forEachFile(const std::vector<TBRNTableFileManager*>& files, Step&& step) {
  std::exception_ptr first;
  for (TBRNTableFileManager* file : files) {
    try {
      step(file);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

// The same where another error is unwinding: failures are dropped.
template <typename Step>
void forEachFileQuietly(const std::vector<TBRNTableFileManager*>& files, Step&& step) noexcept {
  for (TBRNTableFileManager* file : files) {
    try {
      step(file);
    } catch (...) {
      // The error that is unwinding is the one reported.
    }
  }
}

bool tableHoldsLock(const TBRNBaseTable* table, uint8_t lockType) {
  return (table->GetHeldLocks() & LockTypeBit(lockType)) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TBRNTableManager::TBRNTableManager(TBRNTableEnvironment& Environment, TBRNBaseTable* Table)
    : TBRNVirtualTableManager(Environment, Table) {}

TBRNTableManager::~TBRNTableManager() {
  // The base cannot close through these hooks once this part is gone.
  if (GetOpen()) {
    try {
      ForceClose();
    } catch (...) {
      // A destructor has no caller to tell; the files are closed and freed
      // whatever the close raised.
    }
  }
  freeMembers();
  if (IsTemporary()) DeleteFiles();
}

TBRNBaseTable* TBRNTableManager::GetBaseTable() const {
  return static_cast<TBRNBaseTable*>(GetTable());
}

TBRNFileManager* TBRNTableManager::GetFileManager() const {
  return GetEnvironment().GetSchemaFileManager(schemaName());
}

bool TBRNTableManager::UsesBlobFile() const {
  TBRNColumns* columns = GetBaseTable()->Columns.get();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    if (columns->GetItem(i)->DataType == dtLob) return true;
  }
  return false;
}

bool TBRNTableManager::UsesPublishedUpdatesFile() const {
  return GetBaseTable()->Published;
}

TBRNIndexNavigator* TBRNTableManager::GetIndexNavigator(int32_t Index) const {
  return indexNavigators.at(size_t(Index)).get();
}

TBRNIndexLayoutKeyValues* TBRNTableManager::GetIndexKey(int32_t Index) const {
  return indexKeys.at(size_t(Index)).get();
}

std::string TBRNTableManager::schemaName() const {
  TBRNSchema* schema = GetBaseTable()->GetSchema();
  return schema != nullptr ? schema->Name : std::string();
}

std::string TBRNTableManager::fileNameOf(TBRNTableFileKind Kind) const {
  return GetFolder() + GetFileTableName() + GetFileExtension(Kind);
}

std::vector<TBRNTableFileKind> TBRNTableManager::kindsInUse() const {
  std::vector<TBRNTableFileKind> kinds{TBRNTableFileKind::Rows, TBRNTableFileKind::Indexes};
  if (UsesBlobFile()) kinds.push_back(TBRNTableFileKind::Blobs);
  if (UsesPublishedUpdatesFile()) kinds.push_back(TBRNTableFileKind::PublishedUpdates);
  return kinds;
}

void TBRNTableManager::buildLayouts() {
  if (!layouts.empty()) return;
  TBRNIndexes* indexes = GetBaseTable()->Indexes.get();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    layouts.push_back(std::make_unique<TBRNIndexKeyLayout>(*indexes->GetItem(i)));
  }
}

std::vector<TBRNTableFileManager*> TBRNTableManager::FileManagers::Selected(
    uint8_t Selection) const {
  std::vector<TBRNTableFileManager*> selected;
  if ((Selection & kTableFileRows) != 0 && Rows) selected.push_back(Rows.get());
  if ((Selection & kTableFileIndexes) != 0 && Indexes) selected.push_back(Indexes.get());
  if ((Selection & kTableFileBlobs) != 0 && Blobs) selected.push_back(Blobs.get());
  if ((Selection & kTableFilePublishedUpdates) != 0 && PublishedUpdates) {
    selected.push_back(PublishedUpdates.get());
  }
  return selected;
}

TBRNTableManager::FileManagers TBRNTableManager::makeFileManagers() {
  TBRNBaseTable* table = GetBaseTable();
  TBRNFileManager* files = GetFileManager();
  buildLayouts();
  FileManagers made;
  TBRNRowsetLayout layout;
  layout.Columns = table->Columns.get();
  layout.RowSize = table->RowSize;
  layout.MaxRowBufferSize = table->MaxRowBufferSize;
  layout.SystemTable = table->System;
  made.Rows = std::make_unique<TBRNManagedFile<TBRNRowsetManager>>(this, files, layout, this);
  made.Indexes = std::make_unique<TBRNManagedFile<TBRNIndexManager>>(this, this, files);
  made.All = {made.Rows.get(), made.Indexes.get()};
  if (UsesBlobFile()) {
    made.Blobs = std::make_unique<TBRNManagedFile<TBRNBlobManager>>(
        this, files, table->BlobBlockSize, table->MaxBlobBufferSize, table->System);
    made.All.push_back(made.Blobs.get());
  }
  if (UsesPublishedUpdatesFile()) {
    made.PublishedUpdates = std::make_unique<TBRNManagedFile<TBRNPublishedUpdatesManager>>(
        this, files, table->PublishBlockSize, table->MaxPublishBufferSize, table->System);
    made.All.push_back(made.PublishedUpdates.get());
  }
  return made;
}

void TBRNTableManager::createMembers() {
  TBRNBaseTable* table = GetBaseTable();
  fileManager = GetFileManager();
  FileManagers made = makeFileManagers();
  rowsetFile = std::move(made.Rows);
  indexFile = std::move(made.Indexes);
  blobFile = std::move(made.Blobs);
  publishedUpdatesFile = std::move(made.PublishedUpdates);
  files = made.All;
  for (TBRNTableFileManager* file : files) fileSet.Add(file);

  rowNavigator = std::make_unique<TBRNRowsetNavigator>(rowsetFile.get());
  for (size_t i = 0; i < layouts.size(); ++i) {
    indexNavigators.push_back(std::make_unique<TBRNIndexNavigator>(indexFile.get(), int32_t(i)));
    if (layouts[i]->IsTextIndex()) {
      indexKeys.push_back(std::make_unique<TBRNContainedIndexKeyValues>(*layouts[i]));
    } else {
      indexKeys.push_back(std::make_unique<TBRNIndexKeyValues>(*layouts[i]));
    }
  }
  rowLocks = std::make_unique<TBRNRowLocks>();
  transactionRowLocks = std::make_unique<TBRNRowLocks>();
  referencedKeyLocks = std::make_unique<TBRNRowLocks>();
  blobBuffer = std::make_unique<TBRNMemoryStream>();
  blobBuffer->SetBlockSize(table->BlobBlockSize);
  updateBuffer = std::make_unique<TBRNMemoryStream>();
  updateBuffer->SetBlockSize(table->PublishBlockSize);
  compressedUpdateBuffer = std::make_unique<TBRNMemoryStream>();
  compressedUpdateBuffer->SetBlockSize(table->PublishBlockSize);
}

void TBRNTableManager::freeMembers() noexcept {
  compressor.reset();
  compressedUpdateBuffer.reset();
  updateBuffer.reset();
  blobBuffer.reset();
  referencedKeyLocks.reset();
  transactionRowLocks.reset();
  rowLocks.reset();
  indexKeys.clear();
  indexNavigators.clear();
  rowNavigator.reset();
  for (TBRNTableFileManager* file : files) fileSet.Remove(file);
  files.clear();
  publishedUpdatesFile.reset();
  blobFile.reset();
  indexFile.reset();
  rowsetFile.reset();
  backupLayouts_.reset();
  layouts.clear();
}

// ---------------------------------------------------------------------------
// Locks and errors

bool TBRNTableManager::lock(uint8_t LockType) {
  return GetEnvironment().LockObject(GetBaseTable(), LockType);
}

void TBRNTableManager::unlock(uint8_t LockType) {
  GetEnvironment().UnlockObject(GetBaseTable(), LockType);
}

void TBRNTableManager::unlockQuietly(uint8_t LockType) noexcept {
  try {
    unlock(LockType);
  } catch (...) {
    // Called while another error unwinds: that error is the one reported.
  }
}

template <typename Work>
void TBRNTableManager::surfacingWriteIncomplete(Work&& Work_) {
  try {
    Work_();
  } catch (const EBRNException& error) {
    if (isWriteIncomplete(error)) RaiseWriteIncomplete();
    throw;
  }
}

void TBRNTableManager::RaiseMetadataError(const std::string& Detail) {
  throw EBRNException(kMetadataErrorCode,
                      FormatText("There is an error in the metadata for the %s %s (%s)",
                                 {GetTableKindName(), GetTableName(), Detail}));
}

void TBRNTableManager::RaiseWriteIncomplete() {
  RaiseMetadataError(kWriteIncompleteText);
  // An override that returned broke its contract.
  throw std::logic_error("RaiseMetadataError returned");
}

// ---------------------------------------------------------------------------
// Lifecycle

bool TBRNTableManager::GetKeepOpen() {
  return GetEnvironment().GetTableSettings().KeepTablesOpen && !IsTransient() &&
         !HoldsExclusiveLock();
}

void TBRNTableManager::DoOpen() {
  GetBaseTable()->Compile();
  createMembers();
  InitFileHeaders();
  // The files of an interrupted swap are put back (under the Transaction
  // and Write locks, with the files closed) before they are opened.
  auto recoverSwapAndOpen = [this](bool mismatch) {
    forEachFileQuietly(files, [](TBRNTableFileManager* file) { file->Close(); });
    freeMembers();
    lock(kBRNLockTypeTransaction);
    try {
      bool written = lock(kBRNLockTypeWrite);
      try {
        RecoverInterruptedSwap(mismatch);
      } catch (...) {
        if (written) unlockQuietly(kBRNLockTypeWrite);
        throw;
      }
      if (written) unlock(kBRNLockTypeWrite);
      createMembers();
      InitFileHeaders();
      if (!FilesExist()) {
        RaiseMetadataError(
            "A table file is missing and its previous copy (.Old) exists; the copy must be "
            "restored");
      }
      OpenFiles();
    } catch (...) {
      unlockQuietly(kBRNLockTypeTransaction);
      throw;
    }
    unlock(kBRNLockTypeTransaction);
  };
  if (FilesExist()) {
    bool taken = lock(kBRNLockTypeRead);
    bool mismatch = false;
    try {
      OpenFiles();
    } catch (const EBRNException& error) {
      if (taken) unlockQuietly(kBRNLockTypeRead);
      // Files of a swap whose catalog commit never happened (see
      // RecoverInterruptedSwap): put back under the Transaction lock below.
      mismatch = isDefinitionMismatch(error) && FileSwapPending() && OldCopiesExist();
      if (!mismatch) throw;
    } catch (...) {
      if (taken) unlockQuietly(kBRNLockTypeRead);
      throw;
    }
    if (mismatch) {
      recoverSwapAndOpen(true);
    } else {
      if (taken) unlock(kBRNLockTypeRead);
      // The files open with the catalog's definition: a mark left by a
      // swap that was complete when its process died has done its work.
      try {
        if (FileSwapPending()) EndFileSwap();
      } catch (...) {
        // It stays for the next open to try again.
      }
      // Likewise the marks of a rename that either never moved a file or
      // moved them all and committed.
      try {
        if (FileRenamePending()) RecoverInterruptedRename();
      } catch (...) {
        // They stay for the next open to try again.
      }
    }
  } else {
    // Creating: one session at a time, and it checks again under the lock
    // (another may have made the files meanwhile).
    lock(kBRNLockTypeTransaction);
    try {
      // Files that an interrupted rename left under the other name come
      // back first: a file made empty here would hide them.
      if (FileRenamePending()) {
        bool written = lock(kBRNLockTypeWrite);
        try {
          RecoverInterruptedRename();
        } catch (...) {
          if (written) unlockQuietly(kBRNLockTypeWrite);
          throw;
        }
        if (written) unlock(kBRNLockTypeWrite);
      }
      if (FilesExist()) {
        OpenFiles();
      } else {
        // A missing file whose ".Old" copy is there is the half of an
        // interrupted swap: recreating it empty would lose the copy's rows.
        // Not so while the engine makes the files on purpose (CREATE TABLE
        // keeps the files it finds under the name as ".Old" copies) and no
        // swap is pending.
        if (OldCopiesExist() && (!creatingFiles || FileSwapPending())) {
          // Only the copies of a swap that was cut short are put back;
          // older ones may predate later changes of the table.
          if (!FileSwapPending()) {
            RaiseMetadataError(
                "A table file is missing and its previous copy (.Old) exists; the copy must be "
                "restored");
          }
          recoverSwapAndOpen(false);
        } else {
          bool written = lock(kBRNLockTypeWrite);
          try {
            OpenOrCreateFiles();
          } catch (...) {
            if (written) unlockQuietly(kBRNLockTypeWrite);
            throw;
          }
          if (written) unlock(kBRNLockTypeWrite);
        }
      }
    } catch (...) {
      unlockQuietly(kBRNLockTypeTransaction);
      throw;
    }
    unlock(kBRNLockTypeTransaction);
  }
  StartDatabaseTransaction(false);
}

void TBRNTableManager::DoRefresh() {
  if (files.empty() || GetBaseTable()->IsInTransaction()) return;
  bool taken = lock(kBRNLockTypeRead);
  try {
    RefreshFiles();
  } catch (...) {
    if (taken) unlockQuietly(kBRNLockTypeRead);
    throw;
  }
  if (taken) unlock(kBRNLockTypeRead);
}

void TBRNTableManager::DoOpenReferences() {
  TBRNBaseTable* table = GetBaseTable();
  if (SuppressReferences || !table->HasReferencedTables()) return;
  TBRNSchemaObjectManagers* managers = GetEnvironment().GetTableManagers();
  if (managers == nullptr) throw std::logic_error("the database has no table managers");
  TBRNReferencedTables* linked = table->GetReferencedTables();
  std::vector<TBRNSchemaObjectManager*> opened;
  GetEnvironment().PushUser(nullptr);
  try {
    for (int32_t i = 0; i < linked->Count(); ++i) {
      auto* other = static_cast<TBRNBaseTable*>(linked->GetItem(i));
      TBRNSchemaObjectManager* manager = managers->GetManager(other);
      bool exclusive = other == ExclusiveReference;
      uint8_t lockType = exclusive ? kBRNLockTypeExclusive : kBRNLockTypeShared;
      bool locking = !manager->GetOpening() && !(exclusive && manager->GetUserCount() > 0 &&
                                                 tableHoldsLock(other, ltExclusive));
      if (locking) manager->LockObject(lockType);
      try {
        manager->Open(false);
      } catch (...) {
        if (locking && manager->GetUserCount() == 0) {
          try {
            manager->UnlockObject(lockType);
          } catch (...) {
            // The open's error is the one reported.
          }
        }
        throw;
      }
      opened.push_back(manager);
    }
  } catch (...) {
    for (auto it = opened.rbegin(); it != opened.rend(); ++it) {
      try {
        (*it)->Close(false, false);
      } catch (...) {
        // The open's error is the one reported.
      }
    }
    GetEnvironment().PopUser();
    throw;
  }
  GetEnvironment().PopUser();
}

void TBRNTableManager::DoCloseReferences() {
  TBRNBaseTable* table = GetBaseTable();
  if (SuppressReferences || !table->HasReferencedTables()) return;
  TBRNSchemaObjectManagers* managers = GetEnvironment().GetTableManagers();
  if (managers == nullptr) return;
  TBRNReferencedTables* linked = table->GetReferencedTables();
  std::exception_ptr first;
  for (int32_t i = linked->Count() - 1; i >= 0; --i) {
    try {
      managers->GetManager(static_cast<TBRNBaseTable*>(linked->GetItem(i)))->Close(false, false);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

// The DEFAULT, generated-column and check expressions were compiled with
// the table (DoOpen); the evaluator prepares each tree at its first
// evaluation in this manager's context, so preparing them here is only the
// referenced-table list and the triggers.
void TBRNTableManager::DoPrepare() {
  if (!SuppressReferences) GetBaseTable()->RebuildReferencedTables();
  CompileTriggers();
}

void TBRNTableManager::DoUnprepare() {
  UncompileTriggers();
  GetBaseTable()->ResetReferencedTables();
}

void TBRNTableManager::DoClose() {
  TBRNBaseTable* table = GetBaseTable();
  std::exception_ptr first;
  auto step = [&first](auto&& work) {
    try {
      work();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  };
  step([&] {
    if (schemaName() == kInformationSchemaName &&
        GetEnvironment().GetSystemTableKind(table) == TBRNSystemTableKind::Information) {
      GetEnvironment().SetSystemTableFilled(table, false);
    }
  });
  step([&] { table->Uncompile(); });
  step([&] { UnlockRows(nullptr); });
  step([&] { CloseFiles(); });
  freeMembers();
  readDepth = writeDepth = 0;
  readTaken = writeTaken = readAsked = false;
  if (first) std::rethrow_exception(first);
}

// ---------------------------------------------------------------------------
// Accessors

int32_t TBRNTableManager::GetRowCount() {
  return rowsetFile ? rowsetFile->RowCount : 0;
}

int32_t TBRNTableManager::GetPhysicalRowCount() {
  return rowsetFile ? rowsetFile->GetBlockCount() : 0;
}

int32_t TBRNTableManager::GetRowSize() {
  return rowsetFile ? rowsetFile->GetBlockSize() : GetBaseTable()->RowSize;
}

int64_t TBRNTableManager::GetChangeCount() {
  int64_t sum = 0;
  if (rowsetFile) sum += int64_t(rowsetFile->ChangeCounter);
  if (indexFile) sum += int64_t(indexFile->ChangeCounter);
  if (blobFile) sum += int64_t(blobFile->ChangeCounter);
  return sum;
}

int32_t TBRNTableManager::GetRowCacheCapacity() {
  return rowsetFile ? rowsetFile->GetCapacity() : 0;
}

bool TBRNTableManager::GetEncrypted() {
  return GetBaseTable()->Encrypted;
}

TBRNColumns* TBRNTableManager::GetColumns() {
  return GetBaseTable()->Columns.get();
}

TBRNIndexes* TBRNTableManager::GetIndexes() {
  return GetBaseTable()->Indexes.get();
}

bool TBRNTableManager::GetLoadingUpdates() {
  return GetBaseTable()->PendingUpdatePosition != 0;
}

// ---------------------------------------------------------------------------
// Row buffers

std::unique_ptr<TBRNRowsetRow> TBRNTableManager::NewRowBuffer() {
  if (!rowsetFile) throw std::logic_error("NewRowBuffer on a closed table manager");
  return rowsetFile->NewRowBuffer();
}

TBRNRowsetRow* TBRNTableManager::GetRow(int32_t Row, bool ReadAhead) {
  if (!rowsetFile) throw std::logic_error("GetRow on a closed table manager");
  return rowsetFile->GetRow(Row, ReadAhead, 1, rowsetFile->GetReadAheadCount());
}

void TBRNTableManager::ReleaseRow(TBRNRowsetRow* Buffer) {
  if (rowsetFile) rowsetFile->ReleaseRow(Buffer);
}

// ---------------------------------------------------------------------------
// BLOBs and published updates

TBRNCompressionManager& TBRNTableManager::compression() {
  if (!compressor) compressor = std::make_unique<TBRNCompressionManager>();
  return *compressor;
}

void TBRNTableManager::ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                                bool Compressed) {
  if (!blobFile) {
    Stream.SetSize(0);
    return;
  }
  if (!Compressed) {
    blobFile->ReadBlob(RowVersion, BlockRef, Stream);
    return;
  }
  blobBuffer->SetSize(0);
  blobFile->ReadBlob(RowVersion, BlockRef, *blobBuffer);
  Stream.SetSize(0);
  if (blobBuffer->GetSize() == 0) return;
  blobBuffer->SetPosition(0);
  compression().DecompressStream(*blobBuffer, Stream);
  Stream.SetPosition(0);
}

void TBRNTableManager::WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                                 int32_t Compression, int32_t& StoredLength) {
  if (!blobFile) return;
  if (Stream.GetSize() == 0 || Compression <= 0) {
    blobFile->WriteBlob(RowVersion, BlockRef, Stream);
    StoredLength = int32_t(Stream.GetSize());
    return;
  }
  compression().SetCompressionLevel(Compression);
  int64_t position = Stream.GetPosition();
  blobBuffer->SetSize(0);
  Stream.SetPosition(0);
  compression().CompressStream(Stream, *blobBuffer);
  Stream.SetPosition(position);
  blobFile->WriteBlob(RowVersion, BlockRef, *blobBuffer);
  StoredLength = int32_t(blobBuffer->GetSize());
}

void TBRNTableManager::ReadPublishedUpdate(int32_t& Block, TBRNMemoryStream& Stream,
                                           bool Compressed) {
  if (!publishedUpdatesFile) throw std::logic_error("the table is not published");
  if (!Compressed) {
    publishedUpdatesFile->ReadEntry(Block, Stream);
    return;
  }
  compressedUpdateBuffer->SetSize(0);
  publishedUpdatesFile->ReadEntry(Block, *compressedUpdateBuffer);
  Stream.SetSize(0);
  if (compressedUpdateBuffer->GetSize() == 0) return;
  compressedUpdateBuffer->SetPosition(0);
  compression().DecompressStream(*compressedUpdateBuffer, Stream);
  Stream.SetPosition(0);
}

void TBRNTableManager::AppendPublishedUpdate(TBRNMemoryStream& Stream, int32_t Compression) {
  if (!publishedUpdatesFile) throw std::logic_error("the table is not published");
  if (Stream.GetSize() == 0 || Compression <= 0) {
    publishedUpdatesFile->AppendEntry(Stream);
    return;
  }
  compression().SetCompressionLevel(Compression);
  int64_t position = Stream.GetPosition();
  compressedUpdateBuffer->SetSize(0);
  Stream.SetPosition(0);
  compression().CompressStream(Stream, *compressedUpdateBuffer);
  Stream.SetPosition(position);
  publishedUpdatesFile->AppendEntry(*compressedUpdateBuffer);
}

// ---------------------------------------------------------------------------
// Change detection

bool TBRNTableManager::filesChanged() {
  bool changed = false;
  surfacingWriteIncomplete([&] {
    changed = rowsetFile->HasChanged();
    changed = indexFile->HasChanged() || changed;
    if (blobFile) changed = blobFile->HasChanged() || changed;
  });
  return changed;
}

bool TBRNTableManager::HasChanged(bool Refresh) {
  TBRNTableEnvironment& environment = GetEnvironment();
  if (environment.GetSystemTableKind(GetBaseTable()) != TBRNSystemTableKind::None) {
    return refreshSystemTable(Refresh);
  }
  if (!rowsetFile) return false;
  // In a transaction the table's Transaction lock keeps every other writer
  // out, and the change counters move without a write: a re-read would
  // take this session's own changes for another's and drop them.
  if (inFileTransaction()) return false;
  // Scoped, unlike the Read lock of old that the caller released: a Read
  // byte left behind by a failure here would stall every other process's
  // flush of the table.
  bool taken = lock(kBRNLockTypeRead);
  bool changed = false;
  try {
    changed = filesChanged();
  } catch (...) {
    if (taken) unlockQuietly(kBRNLockTypeRead);
    throw;
  }
  if (taken) unlock(kBRNLockTypeRead);
  return changed;
}

bool TBRNTableManager::refreshSystemTable(bool Refresh) {
  TBRNTableEnvironment& environment = GetEnvironment();
  TBRNBaseTable* table = GetBaseTable();
  if (fillingSystemTable || reloadingSystemSource) return false;
  if (!environment.IsSystemTableFilled(table)) {
    fillSystemTable();
    return true;
  }
  if (!Refresh) return false;
  if (environment.IsSystemTableRefreshable(table)) {
    fillSystemTable();
    return true;
  }
  reloadingSystemSource = true;
  try {
    environment.ReloadSystemSource(table);
  } catch (...) {
    reloadingSystemSource = false;
    throw;
  }
  reloadingSystemSource = false;
  // The reload marks the table stale when its source moved (another
  // process changed the configuration or the catalog): this read already
  // sees the new rows.
  if (!environment.IsSystemTableFilled(table)) {
    fillSystemTable();
    return true;
  }
  return false;
}

void TBRNTableManager::fillSystemTable() {
  TBRNTableEnvironment& environment = GetEnvironment();
  fillingSystemTable = true;
  environment.PushUser(nullptr);
  try {
    StartTransaction();
    try {
      EmptyTable(true);
      environment.FillSystemTable(*this);
      CommitTransaction();
    } catch (...) {
      try {
        RollbackTransaction();
      } catch (...) {
        // The fill's error is the one reported.
      }
      throw;
    }
  } catch (...) {
    environment.PopUser();
    fillingSystemTable = false;
    throw;
  }
  environment.PopUser();
  fillingSystemTable = false;
  environment.SetSystemTableFilled(GetBaseTable(), true);
}

// ---------------------------------------------------------------------------
// Transactions

bool TBRNTableManager::inFileTransaction() const {
  return rowsetFile && rowsetFile->GetAccessMode() == TBRNTableFileAccess::InTransaction;
}

void TBRNTableManager::StartTransaction() {
  TBRNBaseTable* table = GetBaseTable();
  if (table->IsInTransaction()) return;
  SaveKeepOpen();
  lock(kBRNLockTypeTransaction);
  table->SetTransactionOwner();
  table->SetInTransaction();
  try {
    surfacingWriteIncomplete([&] {
      for (TBRNTableFileManager* file : files) file->BeginTransaction();
    });
  } catch (...) {
    forEachFileQuietly(files, [](TBRNTableFileManager* file) { file->RollbackTransaction(); });
    RestoreKeepOpen();
    table->ClearTransactionOwner();
    table->ClearInTransaction();
    unlockQuietly(kBRNLockTypeTransaction);
    throw;
  }
  SetKeepOpenFlag(true);
}

void TBRNTableManager::FlushTransaction() {
  if (!GetBaseTable()->IsTransactionOwner()) return;
  {
    TableWriteBracket bracket(this);
    fileSet.Flush(GetEnvironment().GetTableSettings().ForceBufferFlush);
    for (TBRNTableFileManager* file : files) file->TrimCache(false);
  }
  UnlockRows(nullptr);
}

void TBRNTableManager::CommitTransaction() {
  TBRNBaseTable* table = GetBaseTable();
  if (!table->IsTransactionOwner()) return;
  {
    TableWriteBracket bracket(this);
    bool osFlush = GetEnvironment().GetTableSettings().ForceBufferFlush;
    for (TBRNTableFileManager* file : files) file->CommitTransaction(osFlush, true);
  }
  unlock(kBRNLockTypeTransaction);
  UnlockRows(nullptr);
  RestoreKeepOpen();
  table->ClearTransactionOwner();
  table->ClearInTransaction();
}

void TBRNTableManager::RollbackTransaction() {
  TBRNBaseTable* table = GetBaseTable();
  if (!table->IsTransactionOwner()) return;
  std::exception_ptr first;
  try {
    surfacingWriteIncomplete([&] {
      forEachFile(files, [](TBRNTableFileManager* file) { file->RollbackTransaction(); });
    });
  } catch (...) {
    first = std::current_exception();
  }
  UnlockRows(nullptr);
  RestoreKeepOpen();
  table->ClearTransactionOwner();
  table->ClearInTransaction();
  if (first) {
    unlockQuietly(kBRNLockTypeTransaction);
    std::rethrow_exception(first);
  }
  unlock(kBRNLockTypeTransaction);
}

void TBRNTableManager::StartDatabaseTransaction(bool OnlyIfOpen) {
  TBRNBaseTable* table = GetBaseTable();
  if (OnlyIfOpen && !GetOpen()) return;
  if (!table->IsInTransaction() || table->IsTransactionOwner()) return;
  // Joined already (a re-open of a kept-open manager, or the database's
  // start after this manager's own open).
  if (files.empty() || inFileTransaction()) return;
  SaveKeepOpen();
  try {
    surfacingWriteIncomplete([&] {
      for (TBRNTableFileManager* file : files) file->BeginTransaction();
    });
  } catch (...) {
    forEachFileQuietly(files, [](TBRNTableFileManager* file) { file->RollbackTransaction(); });
    RestoreKeepOpen();
    throw;
  }
  SetKeepOpenFlag(true);
}

void TBRNTableManager::CommitDatabaseTransaction() {
  TBRNBaseTable* table = GetBaseTable();
  if (!GetOpen() || !inFileTransaction() || table->IsTransactionOwner()) return;
  {
    TableWriteBracket bracket(this);
    bool osFlush = GetEnvironment().GetTableSettings().ForceBufferFlush;
    for (TBRNTableFileManager* file : files) file->CommitTransaction(osFlush, false);
  }
  UnlockRows(nullptr);
  RestoreKeepOpen();
}

void TBRNTableManager::RollbackDatabaseTransaction() {
  TBRNBaseTable* table = GetBaseTable();
  if (!GetOpen() || !inFileTransaction() || table->IsTransactionOwner()) return;
  std::exception_ptr first;
  try {
    surfacingWriteIncomplete([&] {
      forEachFile(files, [](TBRNTableFileManager* file) { file->RollbackTransaction(); });
    });
  } catch (...) {
    first = std::current_exception();
  }
  UnlockRows(nullptr);
  RestoreKeepOpen();
  if (first) std::rethrow_exception(first);
}

void TBRNTableManager::FlushFiles(bool OSFlush) {
  if (files.empty()) return;
  if (inFileTransaction()) {
    for (TBRNTableFileManager* file : files) file->IncrementChangeCounter();
    return;
  }
  // A row change holds the Transaction lock already; a flush of its own
  // takes it, so that the Write lock of the flush can be had.
  bool locking = !HoldsTransactionLock();
  if (locking) lock(kBRNLockTypeTransaction);
  try {
    fileSet.Flush(OSFlush);
  } catch (...) {
    forEachFileQuietly(files, [](TBRNTableFileManager* file) { file->DiscardChanges(); });
    if (locking) unlockQuietly(kBRNLockTypeTransaction);
    throw;
  }
  if (locking) unlock(kBRNLockTypeTransaction);
}

void TBRNTableManager::Flush() {
  FlushFiles(true);
}

// ---------------------------------------------------------------------------
// Files

bool TBRNTableManager::FilesExist() {
  TBRNFileManager* manager = GetFileManager();
  for (TBRNTableFileKind kind : kindsInUse()) {
    if (!manager->FileExists(fileNameOf(kind))) return false;
  }
  return true;
}

bool TBRNTableManager::OldCopiesExist() {
  TBRNFileManager* manager = GetFileManager();
  for (TBRNTableFileKind kind : kindsInUse()) {
    if (manager->FileExists(fileNameOf(kind) + ".Old")) return true;
  }
  return false;
}

int64_t TBRNTableManager::GetFilesSize(bool WithPublished) {
  TBRNFileManager* manager = GetFileManager();
  int64_t size = 0;
  for (TBRNTableFileKind kind : kindsInUse()) {
    if (kind == TBRNTableFileKind::PublishedUpdates && !WithPublished) continue;
    std::string name = fileNameOf(kind);
    if (manager->FileExists(name)) size += manager->GetFileSize(name);
  }
  return size;
}

int64_t TBRNTableManager::GetPublishedUpdatesSize() {
  if (!publishedUpdatesFile) return 0;
  return int64_t(publishedUpdatesFile->GetBlockSize()) * publishedUpdatesFile->GetBlockCount();
}

void TBRNTableManager::OpenFiles() {
  surfacingWriteIncomplete([&] {
    for (TBRNTableFileManager* file : files) file->Open();
  });
}

void TBRNTableManager::OpenOrCreateFiles() {
  surfacingWriteIncomplete([&] {
    for (TBRNTableFileManager* file : files) file->OpenOrCreate();
  });
}

void TBRNTableManager::InitFileHeaders() {
  for (TBRNTableFileManager* file : files) initHeaderOf(file);
}

void TBRNTableManager::CloseFiles() {
  forEachFile(files, [](TBRNTableFileManager* file) { file->Close(); });
}

void TBRNTableManager::RefreshFiles() {
  surfacingWriteIncomplete([&] {
    for (TBRNTableFileManager* file : files) file->Refresh();
  });
}

void TBRNTableManager::RefreshFilesIfShared() {
  if (inFileTransaction()) return;
  surfacingWriteIncomplete([&] {
    for (TBRNTableFileManager* file : files) file->RefreshIfShared();
  });
}

void TBRNTableManager::ReloadFileHeaders() {
  surfacingWriteIncomplete([&] {
    for (TBRNTableFileManager* file : files) readHeaderOf(file);
  });
}

void TBRNTableManager::MarkFilesChanged() {
  for (TBRNTableFileManager* file : files) file->SetHeaderModified();
}

void TBRNTableManager::CopyFileHeaders(TBRNTableManager& Other) {
  auto copy = [](TBRNTableFileManager* target, TBRNTableFileManager* source) {
    if (target != nullptr && source != nullptr) copyHeaderOf(target, *source);
  };
  copy(rowsetFile.get(), Other.rowsetFile.get());
  copy(indexFile.get(), Other.indexFile.get());
  copy(blobFile.get(), Other.blobFile.get());
  copy(publishedUpdatesFile.get(), Other.publishedUpdatesFile.get());
}

void TBRNTableManager::RenameFiles(const std::string& NewName, uint8_t Selection) {
  if (!files.empty()) throw std::logic_error("RenameFiles on an open table manager");
  FileManagers made = makeFileManagers();
  std::vector<TBRNTableFileManager*> selected = made.Selected(Selection);
  std::string oldName = GetFileTableName();
  size_t done = 0;
  try {
    for (; done < selected.size(); ++done) selected[done]->Rename(NewName);
  } catch (...) {
    // Back under the old name: the file managers now name the new one.
    for (size_t i = done; i-- > 0;) {
      try {
        selected[i]->Rename(oldName);
      } catch (...) {
        // The rename's error is the one reported.
      }
    }
    layouts.clear();
    throw;
  }
  layouts.clear();
}

void TBRNTableManager::MakeOldCopies(bool ByRename, uint8_t Selection) {
  FileManagers made;
  std::vector<TBRNTableFileManager*> selected;
  if (ByRename) {
    if (!files.empty()) throw std::logic_error("MakeOldCopies by rename on an open table manager");
    made = makeFileManagers();
    selected = made.Selected(Selection);
  } else {
    if ((Selection & kTableFileRows) != 0 && rowsetFile) selected.push_back(rowsetFile.get());
    if ((Selection & kTableFileIndexes) != 0 && indexFile) selected.push_back(indexFile.get());
    if ((Selection & kTableFileBlobs) != 0 && blobFile) selected.push_back(blobFile.get());
    if ((Selection & kTableFilePublishedUpdates) != 0 && publishedUpdatesFile) {
      selected.push_back(publishedUpdatesFile.get());
    }
  }
  size_t done = 0;
  try {
    for (; done < selected.size(); ++done) selected[done]->MakeOldCopy(ByRename);
  } catch (...) {
    for (size_t i = done; i-- > 0;) {
      try {
        if (ByRename) {
          selected[i]->RestoreOldCopy(true);
        } else {
          selected[i]->DeleteOldCopy();
        }
      } catch (...) {
        // The copy's error is the one reported.
      }
    }
    if (ByRename) layouts.clear();
    throw;
  }
  if (ByRename) layouts.clear();
}

// A restore is itself the way back from a failed swap: it cannot undo a
// file put back, so it puts back every copy it can.
void TBRNTableManager::RestoreOldCopies(bool ByRename, uint8_t Selection) {
  FileManagers made;
  std::vector<TBRNTableFileManager*> selected;
  if (ByRename) {
    if (!files.empty()) {
      throw std::logic_error("RestoreOldCopies by rename on an open table manager");
    }
    made = makeFileManagers();
    selected = made.Selected(Selection);
  } else {
    if ((Selection & kTableFileRows) != 0 && rowsetFile) selected.push_back(rowsetFile.get());
    if ((Selection & kTableFileIndexes) != 0 && indexFile) selected.push_back(indexFile.get());
    if ((Selection & kTableFileBlobs) != 0 && blobFile) selected.push_back(blobFile.get());
    if ((Selection & kTableFilePublishedUpdates) != 0 && publishedUpdatesFile) {
      selected.push_back(publishedUpdatesFile.get());
    }
  }
  try {
    forEachFile(selected,
                [ByRename](TBRNTableFileManager* file) { file->RestoreOldCopy(ByRename); });
  } catch (...) {
    if (ByRename) layouts.clear();
    throw;
  }
  if (ByRename) layouts.clear();
}

void TBRNTableManager::DeleteOldCopies() {
  try {
    if (!files.empty()) {
      forEachFileQuietly(files, [](TBRNTableFileManager* file) { file->DeleteOldCopy(); });
      return;
    }
    FileManagers made = makeFileManagers();
    forEachFileQuietly(made.All, [](TBRNTableFileManager* file) { file->DeleteOldCopy(); });
    layouts.clear();
  } catch (...) {
    // A clean-up step: what cannot be deleted stays.
  }
}

void TBRNTableManager::DeleteFiles() {
  try {
    if (!files.empty()) return;  // open files cannot be deleted
    FileManagers made = makeFileManagers();
    forEachFileQuietly(made.All, [](TBRNTableFileManager* file) { file->DeleteFile(); });
    layouts.clear();
  } catch (...) {
    // A clean-up step: what cannot be deleted stays.
  }
}

// ---------------------------------------------------------------------------
// TBRNTableFileHost

std::string TBRNTableManager::GetTableName() const {
  return GetBaseTable()->Name;
}

std::string TBRNTableManager::GetFileTableName() const {
  const TBRNBaseTable* table = GetBaseTable();
  const bool stored = table->Transient || table->Temporary;
  return stored && !table->LoadedName.empty() ? table->LoadedName : table->Name;
}

std::string TBRNTableManager::GetTableKindName() const {
  return GetBaseTable()->GetObjectTypeName();
}

std::string TBRNTableManager::GetFolder() const {
  return GetEnvironment().GetSchemaFolder(schemaName());
}

uint32_t TBRNTableManager::GetStructureChecksum() const {
  return GetBaseTable()->StructureChecksum;
}

bool TBRNTableManager::IsEncrypted() const {
  return GetBaseTable()->Encrypted;
}

bool TBRNTableManager::IsTransient() const {
  return GetBaseTable()->Transient;
}

bool TBRNTableManager::IsTemporary() const {
  return GetBaseTable()->Temporary;
}

bool TBRNTableManager::IsReadOnly() const {
  return GetBaseTable()->ReadOnly;
}

void TBRNTableManager::SetReadOnly() {
  GetBaseTable()->ReadOnly = true;
}

bool TBRNTableManager::SkipWriteCheck() const {
  return GetBaseTable()->GetSkipWriteCheck();
}

bool TBRNTableManager::SkipStructureCheck() const {
  return GetBaseTable()->GetSkipStructureCheck();
}

bool TBRNTableManager::HoldsExclusiveLock() const {
  return tableHoldsLock(GetBaseTable(), ltExclusive);
}

bool TBRNTableManager::HoldsTransactionLock() const {
  return tableHoldsLock(GetBaseTable(), ltTransaction);
}

void TBRNTableManager::BeginRead() {
  if (!readAsked) {
    readTaken = lock(kBRNLockTypeRead);
    readAsked = true;
  }
  ++readDepth;
}

void TBRNTableManager::BeginDeferredRead() {
  ++readDepth;
}

void TBRNTableManager::EndRead() {
  if (readDepth <= 0) throw std::logic_error("EndRead without BeginRead");
  if (--readDepth > 0) return;
  readAsked = false;
  if (readTaken) {
    readTaken = false;
    unlock(kBRNLockTypeRead);
  }
}

void TBRNTableManager::BeginWrite() {
  if (writeDepth == 0) writeTaken = lock(kBRNLockTypeWrite);
  ++writeDepth;
}

void TBRNTableManager::EndWrite() {
  if (writeDepth <= 0) throw std::logic_error("EndWrite without BeginWrite");
  if (--writeDepth == 0 && writeTaken) {
    writeTaken = false;
    unlock(kBRNLockTypeWrite);
  }
}

bool TBRNTableManager::TableHasChanged() {
  return filesChanged();
}

const TBRNDigest& TBRNTableManager::GetSignatureDigest() const {
  return GetEnvironment().GetSignatureDigest();
}

bool TBRNTableManager::IsValidSignature(const TBRNDigest& digest) const {
  return GetEnvironment().IsValidSignature(digest);
}

const TBRNDigest& TBRNTableManager::GetEncryptionDigest() const {
  return GetEnvironment().GetEncryptionDigest();
}

std::string TBRNTableManager::GetFileExtension(TBRNTableFileKind kind) const {
  return GetEnvironment().GetFileExtension(kind);
}

void TBRNTableManager::LogMessage(const std::string& text) {
  GetEnvironment().LogMessage(text);
}

void TBRNTableManager::WriteWarningEvent(const std::string& text) {
  GetEnvironment().WriteWarningEvent(text);
}

bool TBRNTableManager::UpdateProgress(int32_t percent) {
  return GetEnvironment().UpdateProgress(percent);
}

void TBRNTableManager::RaiseBackupError(const std::string& text) {
  GetEnvironment().RaiseBackupError(text);
  throw std::logic_error("RaiseBackupError returned");
}

void TBRNTableManager::RaiseRestoreError(const std::string& text) {
  GetEnvironment().RaiseRestoreError(text);
  throw std::logic_error("RaiseRestoreError returned");
}

void TBRNTableManager::BeginProgress() {
  ++progressDepth;
  GetEnvironment().BeginProgress();
}

void TBRNTableManager::EndProgress() {
  if (progressDepth <= 0) throw std::logic_error("EndProgress without BeginProgress");
  --progressDepth;
  GetEnvironment().EndProgress();
}

void TBRNTableManager::AdvanceTimestamp(int64_t timestamp) {
  GetEnvironment().AdvanceTimestamp(timestamp);
}

// ---------------------------------------------------------------------------
// TBRNIndexFileHost

int32_t TBRNTableManager::GetIndexCount() {
  return int32_t(layouts.size());
}

const TBRNIndexKeyLayout* TBRNTableManager::GetIndexLayout(int32_t i) {
  return layouts.at(size_t(i)).get();
}

void TBRNTableManager::SetRebuildNeeded(int32_t i, bool value) {
  GetBaseTable()->Indexes->GetItem(i)->RebuildNeeded = value;
}

int32_t TBRNTableManager::GetIndexPageSize() const {
  return GetBaseTable()->IndexPageSize;
}

int32_t TBRNTableManager::GetMaxIndexBufferSize() const {
  return GetBaseTable()->MaxIndexBufferSize;
}

bool TBRNTableManager::IsSystemTable() const {
  return GetBaseTable()->System;
}

int32_t TBRNTableManager::GetRowFileLastBlock() {
  return rowsetFile ? rowsetFile->GetBlockCount() : 0;
}

// ---------------------------------------------------------------------------
// TBRNTableManagers

bool TBRNTableManagers::IsQueryResultTable(const TBRNBaseTable* Table) {
  // System information tables are Transient with a row-ID column too, but
  // their rows are produced by the engine, not by a query.
  if (!Table->Transient || Table->System || Table->Columns->Count() == 0) return false;
  const TBRNColumn* first = Table->Columns->GetItem(0);
  return first->Internal && first->Name == kRowIDColumnName;
}

std::unique_ptr<TBRNSchemaObjectManager> TBRNTableManagers::CreateManager(
    TBRNPrivilegedSchemaObject* CatalogObject) {
  auto* table = dynamic_cast<TBRNBaseTable*>(CatalogObject);
  if (table == nullptr) throw std::invalid_argument("a table manager needs a base table");
  if (IsQueryResultTable(table)) {
    return GetTableObjectFactory().CreateQueryResultTableManager(GetEnvironment(), table);
  }
  return std::make_unique<TBRNTableManager>(GetEnvironment(), table);
}

void TBRNTableManagers::StartDatabaseTransaction() {
  std::vector<TBRNTableManager*> joined;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  try {
    while (NextManager(handle, manager)) {
      auto* tableManager = dynamic_cast<TBRNTableManager*>(manager);
      if (tableManager == nullptr) continue;
      tableManager->StartDatabaseTransaction(true);
      joined.push_back(tableManager);
    }
  } catch (...) {
    for (auto it = joined.rbegin(); it != joined.rend(); ++it) {
      try {
        (*it)->RollbackDatabaseTransaction();
      } catch (...) {
        // The start's error is the one reported.
      }
    }
    throw;
  }
}

void TBRNTableManagers::CommitDatabaseTransaction() {
  std::exception_ptr first;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (NextManager(handle, manager)) {
    auto* tableManager = dynamic_cast<TBRNTableManager*>(manager);
    if (tableManager == nullptr) continue;
    try {
      tableManager->CommitDatabaseTransaction();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TBRNTableManagers::RollbackDatabaseTransaction() {
  std::exception_ptr first;
  int32_t handle = 0;
  TBRNSchemaObjectManager* manager = nullptr;
  while (NextManager(handle, manager)) {
    auto* tableManager = dynamic_cast<TBRNTableManager*>(manager);
    if (tableManager == nullptr) continue;
    try {
      tableManager->RollbackDatabaseTransaction();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace brn
