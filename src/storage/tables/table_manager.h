#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "storage/files/table_file_host.h"
#include "storage/files/table_file_set.h"
#include "storage/indexes/index_file.h"
#include "storage/rows/row_file.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

class TBRNBaseTable;
class TBRNColumn;
class TBRNConstraint;
class TBRNCompressionManager;
class TBRNExprToken;
class TBRNFileManager;
class TBRNIndexKeyLayout;
class TBRNIndexLayoutKeyValues;
class TBRNIndexNavigator;
class TBRNRowLocks;
class TBRNRowsetNavigator;
class TBRNTableFileManager;
class TBRNWordList;

// A selection of a table's files for the maintenance operations; a file
// not in use (BLOBs without BLOB or CLOB columns, published updates of an
// unpublished table) is left out whatever the selection says.
inline constexpr uint8_t kTableFileRows = 1;
inline constexpr uint8_t kTableFileIndexes = 2;
inline constexpr uint8_t kTableFileBlobs = 4;
inline constexpr uint8_t kTableFilePublishedUpdates = 8;
inline constexpr uint8_t kTableFilesAll = 15;

// One session's manager of one base table of a local database: it owns the
// table's files (rows and indexes always, BLOBs only with BLOB or CLOB
// columns, published updates only while the table is published) with their
// file set, navigators, key buffers and row-lock lists; it opens and closes
// them under the table's locks in the database lock file, takes part in
// table-level and database-level transactions, and notices changes other
// sessions and processes made. It is the host of its own files.
//
// Locks on the table: Shared while open (taken by whoever opens the
// manager), Read while opening existing files and while checking for
// changes, Transaction while creating files and around every table-level
// transaction and row change, Write while flushing. Every bracket taken
// here is released here, also when the work inside fails.
//
// Files exist only while the manager is open (or for the length of one
// maintenance call). A manager of a Temporary table deletes the table's
// files when it is destroyed.
//
// Used by the session's thread only.
class TBRNTableManager : public TBRNVirtualTableManager,
                         public TBRNTableFileHost,
                         public TBRNRowsetHost,
                         public TBRNIndexFileHost {
 public:
  // Neither is owned; both outlive the manager.
  TBRNTableManager(TBRNTableEnvironment& Environment, TBRNBaseTable* Table);
  ~TBRNTableManager() override;

  TBRNBaseTable* GetBaseTable() const;
  // The file manager of the table's schema.
  TBRNFileManager* GetFileManager() const;
  bool UsesBlobFile() const;
  bool UsesPublishedUpdatesFile() const;
  // The files in use, rows first; empty while closed.
  const std::vector<TBRNTableFileManager*>& GetFiles() const { return files; }
  TBRNTableFileSet& GetFileSet() { return fileSet; }
  TBRNRowsetNavigator* GetRowNavigator() const { return rowNavigator.get(); }
  // Index i of the table's indexes (0 <= i < count), while open.
  TBRNIndexNavigator* GetIndexNavigator(int32_t Index) const;
  TBRNIndexLayoutKeyValues* GetIndexKey(int32_t Index) const;
  TBRNRowLocks* GetRowLocks() const { return rowLocks.get(); }
  TBRNRowLocks* GetTransactionRowLocks() const { return transactionRowLocks.get(); }
  TBRNRowLocks* GetReferencedKeyLocks() const { return referencedKeyLocks.get(); }

  // Set while the engine itself makes the table's files (CREATE TABLE, a
  // working copy): a file created then is not reported as recreated, and
  // ".Old" copies beside missing files are kept ones (CREATE TABLE keeps
  // the files it finds under the name), not the half of a cut swap, unless
  // a swap is pending.
  void SetCreatingFiles(bool Value) { creatingFiles = Value; }
  // Opening does not open the tables linked by foreign keys.
  bool SuppressReferences = false;
  // The linked table that DoOpenReferences opens with an exclusive lock
  // (the target of a foreign key being added); nullptr: none.
  TBRNBaseTable* ExclusiveReference = nullptr;

  // ---- TBRNSchemaObjectManager
  bool GetKeepOpen() override;
  void DoOpen() override;
  void DoRefresh() override;
  void DoOpenReferences() override;
  void DoPrepare() override;
  void DoUnprepare() override;
  void DoCloseReferences() override;
  void DoClose() override;

  // ---- TBRNVirtualTableManager
  TBRNRowsetManager* GetRowsetManager() override { return rowsetFile.get(); }
  TBRNIndexManager* GetIndexManager() override { return indexFile.get(); }
  TBRNBlobManager* GetBlobManager() override { return blobFile.get(); }
  TBRNPublishedUpdatesManager* GetPublishedUpdatesManager() override {
    return publishedUpdatesFile.get();
  }
  // The answers of the row file (0 while closed).
  int32_t GetRowCount() override;
  int32_t GetPhysicalRowCount() override;
  int32_t GetRowSize() override;
  // The change counters of the row and index files, plus the BLOB file's
  // when in use; each counter wraps within int32, the sum never does.
  int64_t GetChangeCount() override;
  int32_t GetRowCacheCapacity() override;
  bool GetEncrypted() override;
  TBRNColumns* GetColumns() override;
  TBRNIndexes* GetIndexes() override;
  void InsertRow(TBRNRowValues& Values, int32_t& RowNumber, int32_t& RowVersion,
                 int32_t& UpdateCounter, bool Copying) override;
  void UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) override;
  void DeleteRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) override;
  // A system information table is filled (or refilled) here and answers
  // true then. Otherwise: whether another session or process changed the
  // row, index or BLOB file; each changed file has dropped its cache, the
  // others keep theirs. The Read lock it takes is released before it
  // returns, also on failure.
  bool HasChanged(bool Refresh) override;
  // Table-level transaction (no database transaction runs): nothing when
  // the table is in one already. A failure leaves no lock, no state bit and
  // the keep-open flag as it was.
  void StartTransaction() override;
  void FlushTransaction() override;
  // A failing flush leaves the transaction open (the caller rolls back).
  void CommitTransaction() override;
  void RollbackTransaction() override;
  // FlushFiles(true).
  void Flush() override;
  void CheckRowCurrent(int32_t Row, int32_t RowVersion, int32_t UpdateCounter, bool SkipDetection,
                       bool ForceDetection) override;
  bool LockRowForUpdate(TBRNHandleObject* Holder, int32_t Row, int32_t RowVersion,
                        int32_t UpdateCounter, bool SkipDetection, bool ForceDetection,
                        int32_t Keep) override;
  void CheckRowVisible(int32_t Row, int32_t VisibleRow) override;
  void UnlockRow(int32_t Row) override;
  // In a transaction Holder nullptr releases the locks kept for it and
  // another holder releases nothing; outside one (or while the manager
  // closes) the locks of Holder, of every holder for nullptr. 1006 when a
  // lock byte cannot be released.
  void UnlockRows(TBRNHandleObject* Holder) override;
  std::unique_ptr<TBRNRowsetRow> NewRowBuffer() override;
  TBRNRowsetRow* GetRow(int32_t Row, bool ReadAhead) override;
  void ReleaseRow(TBRNRowsetRow* Buffer) override;
  bool AddIndex(TBRNIndex* Index, bool LeaveEmpty) override;
  void ClearIndex(TBRNIndex* Index) override;
  void RebuildIndex(TBRNIndex* Index, bool Repair) override;
  void CancelIndexChange() override;
  bool DropIndex(TBRNIndex* Index, bool WithBackup) override;
  // Compression 0 or less, or an empty stream, stores the bytes as they
  // are; otherwise the zlib stream at that level. Nothing without a BLOB
  // file (reads answer an empty stream).
  void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                bool Compressed) override;
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;
  // The same rule around the published-updates log; std::logic_error when
  // the table is not published.
  void ReadPublishedUpdate(int32_t& Block, TBRNMemoryStream& Stream, bool Compressed) override;
  void AppendPublishedUpdate(TBRNMemoryStream& Stream, int32_t Compression) override;

  // ---- Added, in slot order
  // 100 "There is an error in the metadata for the %s %s (%s)".
  [[noreturn]] virtual void RaiseMetadataError(const std::string& Detail);
  // The same with "A write operation did not complete and a repair is
  // required": a file of the table holds an interrupted flush.
  [[noreturn]] virtual void RaiseWriteIncomplete();
  // Inside a transaction only each file's change counter moves (nothing is
  // written); otherwise the flush bracket over every file with changes,
  // under the Transaction lock when the caller holds none. A failure
  // discards every file's unflushed changes and passes on.
  virtual void FlushFiles(bool OSFlush);
  // Joins the database transaction the table is in (state bit 1 set by the
  // database, this manager not its owner); OnlyIfOpen skips a closed
  // manager. A failure leaves the files out of the transaction.
  virtual void StartDatabaseTransaction(bool OnlyIfOpen);
  virtual void CommitDatabaseTransaction();
  virtual void RollbackDatabaseTransaction();
  // Renames the selected files (the manager closed); a failure renames the
  // ones done back.
  virtual void RenameFiles(const std::string& NewName, uint8_t Selection);
  // ByRename: the manager is closed and each file moves to its ".Old" copy
  // (a failure moves the ones done back); else copies of the open files (a
  // failure deletes the copies made).
  virtual void MakeOldCopies(bool ByRename, uint8_t Selection);
  // Puts every selected copy back, going on past a failure and raising the
  // first one at the end.
  virtual void RestoreOldCopies(bool ByRename, uint8_t Selection);
  // Every file in use; failures are ignored (a clean-up step).
  virtual void DeleteOldCopies();
  virtual void DeleteFiles();

  // ---- Row locks and row state (the manager open). Row locks are bytes of
  // the row file's lock range, so they exclude other sessions and processes
  // alike; a table held exclusively takes none. Keep 1 marks a lock kept
  // until the database transaction ends, 0 a plain one.
  // Tries at most RecordLockRetryCount + 1 times, sleeping RecordLockWaitTime
  // between tries (no sleep at a count of 0); answers success.
  bool LockRow(TBRNHandleObject* Holder, int32_t Row, int32_t Keep);
  bool ReleaseRowLock(int32_t Row);
  bool IsRowLocked(int32_t Row, bool WithTransaction);
  // Holder nullptr: every holder.
  bool ReleaseHandleRowLocks(TBRNHandleObject* Holder);
  bool ReleaseTransactionRowLocks();
  // 0 current, 1 deleted or replaced, 3 modified; positions the row
  // navigator on Row.
  int32_t CheckRowState(int32_t Row, int32_t RowVersion, int32_t UpdateCounter, bool SkipDetection,
                        bool ForceDetection);

  // ---- Row access (the manager open)
  void GotoRowNumber(int32_t Row);
  bool ReadRowByNumber(int32_t Row, TBRNRowValues& Target);
  bool FirstRowByIndex(TBRNRowValues& Target, int32_t Index);
  bool NextRowByIndex(TBRNRowValues& Target, int32_t Index);
  void ReadIndexRow(TBRNRowValues& Target, int32_t Index);
  bool FindRowByKey(TBRNRowValues& Target, const TBRNRowValues& Values, int32_t Index,
                    bool CopyRow);

  // ---- Keys and index upkeep (Index: the position in the table's indexes)
  void BuildIndexKey(const TBRNRowValues& Values, int32_t Index, bool WithRowID);
  bool KeyHasNull(int32_t Index);
  bool KeyAllNull(int32_t Index);
  bool IndexKeyChanged(const TBRNRowValues& Values, int32_t Index);
  bool RowChanged(const TBRNRowValues& Values);
  std::vector<std::string> TextIndexWords(const TBRNRowValues& Values, int32_t Index);
  void InsertKey(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  void InsertTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  void DeleteKey(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  void DeleteTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  void UpdateKey(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  void UpdateTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  bool HasRowKey(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  // Whether the index holds the key of every word of the row.
  bool HasRowTextKeys(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  bool KeyExists(TBRNIndexLayoutKeyValues& Key, int32_t Index, int32_t ExceptRow);
  bool LockReferencedKey(int32_t Index);
  void ReleaseReferencedKeyLocks();
  // Index maintenance helpers. BuildIndex answers false when cancelled
  // with StopOnCancel. Without Repair, a row whose key a primary-key or
  // unique index already holds fails the build with 1004 "Duplicate key %s
  // found" (the owning constraint's violation text, or its own code and
  // message); a unique index skips keys whose values are all NULL. A key
  // otherwise refused as corrupt (601) leaves its row unindexed, or with
  // Repair (duplicates included) deletes the row with its keys in the
  // other indexes and sets RebuildDeletedRows; other failures pass on.
  // BackupIndexFile flushes first (outside a transaction), so that the
  // ".Old" copy holds every change made so far, and remembers the index
  // layouts that copy was written under. RestoreIndexFile first puts those
  // layouts back (indexes added since leave the manager, dropped or
  // rebuilt ones return with their own layouts and fresh navigators), then
  // puts the copy back, deletes it, and drops every file's unflushed
  // changes; without a remembered backup (another open took it) the
  // layouts stay as they are.
  bool BuildIndex(int32_t Index, bool StopOnCancel, bool Repair);
  void BackupIndexFile();
  void RestoreIndexFile();
  // Set by a Repair build that deleted rows; the caller clears it.
  bool RebuildDeletedRows = false;

  // ---- Column values (Values: row values of the table's columns)
  // A cached-updates copy keeps the identity and DEFAULT values it is given.
  bool KeepGivenValues = false;
  // Set while table alteration fills the table: no identity, generated or
  // DEFAULT value is assigned, except to new columns (AlterSourcePosition
  // -1) when AlterationFillsNewColumns.
  bool FillingByAlteration = false;
  bool AlterationFillsNewColumns = false;
  void AssignIdentityValues(TBRNRowValues& Values);
  // Generated columns that All, a function call in their expression or a
  // modified value (a source column changed) asks for.
  void ComputeGeneratedColumns(TBRNRowValues& Values, bool All);
  // DEFAULT values of NULL columns.
  void ComputeColumns(TBRNRowValues& Values) override;

  // ---- Constraints and row changes
  // Check types: 0 insert, 1 update, 2 delete, 4 verification of a stored
  // row.
  void CheckRowConstraints(TBRNRowValues& Values, int32_t Row, int32_t Type, bool ForeignKeysOnly);
  void CheckConstraint(TBRNConstraint* Constraint, TBRNRowValues& Values, int32_t Row, int32_t Type,
                       bool ForeignKeysOnly);
  // Answers false when the user cancelled.
  bool CheckConstraintsPass(int32_t Mode, const std::string& Detail,
                            const std::string& ErrorPattern);
  bool EmptyTable(bool SkipScan) override;
  // The published-update record of a row change (Operation 0 insert, 1
  // update, 2 delete) of a published table, called inside the change's
  // operation before the row file is touched (for update and delete with
  // the row navigator on the stored row). See the publishing section below.
  virtual void WritePublishedUpdate(int32_t Operation, TBRNRowValues& Values);
  // 1004 "The %s %s in the %s %s cannot be NULL", or the column's own code
  // and message.
  [[noreturn]] virtual void RaiseColumnNotNull(TBRNColumn* Column);
  // 1004 "The %s %s for the %s %s has been violated (%s)", or the
  // constraint's own code and message.
  [[noreturn]] virtual void RaiseConstraintViolation(TBRNConstraint* Constraint,
                                                     const std::string& Detail);
  // 402 "The %s %s must be open in order to perform this operation (%s)"
  // with "CHECK CONSTRAINT".
  [[noreturn]] virtual void RaiseReferencedTableNotOpen(TBRNBaseTable* Table);

  // ---- Publishing and update records (BEGIN)
  // A published table logs every row change as a record in its
  // published-updates file (little-endian; a string is an int32 length and
  // the characters):
  //   int32 site count N, N site IDs (the PublishIDs of the tables the
  //   change passed through, this table's last), int32 operation (1
  //   insert, 2 update, 3 delete), int64 timestamp, for update and delete
  //   the key block (the primary-key columns of the stored row before the
  //   change), for insert and update the column block (the new values:
  //   with PublishColumnMode 0 the modified columns, with 1 every column;
  //   Internal columns never). A block is an int32 count, then per column
  //   its name, int32 data type, int32 subtype and the value's stream form.
  // Records read from an update file are untrusted: every count and length
  // is checked against the bytes that remain before it is used; damage
  // raises RaiseUpdateFileReadError.
  //
  // Publishes the table (the manager closed): Published with a new
  // PublishID, the published-updates file created, the column mode set, the
  // structure checksum recomputed. The catalog update is the caller's.
  void PublishTable(int32_t ColumnMode);
  // Unpublishes the table (the manager closed): the published-updates file
  // kept as its ".Old" copy and deleted, Published cleared.
  void UnpublishTable();
  // Empties the published-updates file and flushes it (OS flush); the
  // manager open.
  void EmptyPublishedUpdates();
  // Writes every record of the log as an int32 length and the record
  // (deflated at Compression when above 0) through Write, which answers
  // whether it wrote all it was given (false raises
  // RaiseUpdateFileWriteError). Counter grows by the log bytes each record
  // used; progress is Counter / Total. Answers false when the user
  // cancelled. LastTimestamp: the last record's timestamp (unchanged with
  // no record). Failures other than 1304 become RaiseSaveUpdatesUnknownError.
  using TBRNUpdateWriter = std::function<bool(TBRNMemoryStream&)>;
  bool WriteUpdateRecords(const TBRNUpdateWriter& Write, int64_t& Counter, int64_t Total,
                          int64_t& LastTimestamp, int32_t Compression);
  // Reads one int32-length-prefixed record from Source's position into the
  // update record (inflated when Compression is above 0, at most
  // MaxInflated bytes, beyond which RaiseUpdatesBufferExceeded); Counter
  // grows by the bytes consumed, which are answered. A length that is
  // negative or runs past Source's end raises RaiseUpdateFileReadError.
  // Failures other than 1305 become RaiseLoadUpdatesUnknownError.
  static constexpr int32_t kMaxUpdateRecordSize = 2147483647;
  int64_t ReadUpdateRecord(TBRNMemoryStream& Source, int64_t& Counter, int32_t Compression,
                           int32_t MaxInflated = kMaxUpdateRecordSize);
  // The update record read last (for a caller that fills it itself).
  TBRNMemoryStream& GetUpdateRecord() { return *loadedRecord_; }
  // The timestamp of the update record (read error when damaged).
  int64_t ReadRecordTimestamp();
  // Remembers the position of the table's declared primary-key index;
  // none (or only the internal "__PrimaryKey" on the row identifier)
  // raises RaiseNoPrimaryKey.
  void CheckPrimaryKey();
  // Applies the update record by primary key (CheckPrimaryKey first; the
  // manager open). A record whose sites include this table's PublishID is
  // skipped. Answers whether the record changed a row.
  bool ApplyUpdateRecord(bool IgnoreMissing);
  // The same, 1305 errors passing unchanged and any other failure wrapped
  // by RaiseLoadUpdatesUnknownError.
  bool ApplyUpdateRecordSafe(bool IgnoreMissing);
  // Applies the int32-length-prefixed records of Stream (from its
  // position) while fewer than ByteCount bytes are consumed; a record that
  // runs past ByteCount or Stream's end raises RaiseUpdateFileReadError.
  void ApplyUpdateRecords(TBRNMemoryStream& Stream, bool IgnoreMissing, int64_t ByteCount);
  // The update record as rows of an updates table (columns: row ID,
  // TableName, UpdateType, UpdateTimeStamp, Manifest, KeyData, RowData),
  // inserted through InsertRowWithTriggers of UpdatesTable: one row per
  // record, KeyData for update and delete, RowData for insert and update.
  void RecordToRow(TBRNVirtualTableManager& UpdatesTable);
  // Reads one block of the update record at its position as
  // "<column>: <value>" lines (CR LF after each).
  void FormatColumnValues(TBRNMemoryStream& Record, std::string& Text);
  // Error details (1304 through the environment's RaiseSaveUpdatesError,
  // 1305 through RaiseLoadUpdatesError), the table named by kind and name.
  [[noreturn]] void RaiseNotPublished();
  [[noreturn]] void RaiseUpdateFileWriteError();
  [[noreturn]] void RaiseSaveUpdatesUnknownError(const std::string& Message);
  [[noreturn]] void RaiseNoPrimaryKey();
  [[noreturn]] void RaiseUpdatesBufferExceeded();
  [[noreturn]] void RaiseUpdateFileReadError();
  [[noreturn]] void RaiseUpdateMetadataMismatch(TBRNColumn* Column);
  [[noreturn]] void RaiseUpdateRowNotFound(const std::string& KeyText);
  [[noreturn]] void RaiseLoadUpdatesUnknownError(const std::string& Message);
  // ---- Publishing and update records (END)

  // ---- Helpers of the maintenance and session Parts (the manager open
  // unless said otherwise)
  // Sizes on disk of the row, index and BLOB files, plus the
  // published-updates file when asked and published; the manager may be
  // closed.
  int64_t GetFilesSize(bool WithPublished);
  // Block size times block count of the published-updates file; 0 when not
  // published.
  int64_t GetPublishedUpdatesSize();
  // Every file in use exists on disk; the manager may be closed.
  bool FilesExist();
  bool OldCopiesExist();
  void OpenFiles();
  void OpenOrCreateFiles();
  void InitFileHeaders();
  // Closes every file, going on past a failure and raising the first one.
  void CloseFiles();
  void RefreshFiles();
  // Outside a transaction, re-reads the headers of shared files.
  void RefreshFilesIfShared();
  void ReloadFileHeaders();
  void MarkFilesChanged();
  // Takes over the header counters of Other's files (a rebuilt table).
  void CopyFileHeaders(TBRNTableManager& Other);

  // ---- TBRNTableFileHost
  std::string GetTableName() const override;
  std::string GetFileTableName() const override;
  std::string GetTableKindName() const override;
  std::string GetFolder() const override;
  uint32_t GetStructureChecksum() const override;
  bool IsEncrypted() const override;
  bool IsTransient() const override;
  bool IsTemporary() const override;
  bool IsReadOnly() const override;
  void SetReadOnly() override;
  bool SkipWriteCheck() const override;
  bool SkipStructureCheck() const override;
  bool IsCreatedByEngine() const override { return creatingFiles; }
  bool HoldsExclusiveLock() const override;
  bool HoldsTransactionLock() const override;
  void BeginRead() override;
  void BeginDeferredRead() override;
  void EndRead() override;
  void BeginWrite() override;
  void EndWrite() override;
  bool TableHasChanged() override;
  const TBRNDigest& GetSignatureDigest() const override;
  bool IsValidSignature(const TBRNDigest& digest) const override;
  const TBRNDigest& GetEncryptionDigest() const override;
  std::string GetFileExtension(TBRNTableFileKind kind) const override;
  void LogMessage(const std::string& text) override;
  void WriteWarningEvent(const std::string& text) override;
  bool UpdateProgress(int32_t percent) override;
  [[noreturn]] void RaiseBackupError(const std::string& text) override;
  [[noreturn]] void RaiseRestoreError(const std::string& text) override;
  void BeginProgress() override;
  void EndProgress() override;
  void AdvanceTimestamp(int64_t timestamp) override;

  // ---- TBRNIndexFileHost
  int32_t GetIndexCount() override;
  const TBRNIndexKeyLayout* GetIndexLayout(int32_t i) override;
  void SetRebuildNeeded(int32_t i, bool value) override;
  int32_t GetIndexPageSize() const override;
  int32_t GetMaxIndexBufferSize() const override;
  bool IsSystemTable() const override;
  int32_t GetRowFileLastBlock() override;

  // ---- Verification and repair (BEGIN)
  // VERIFY and REPAIR TABLE: every file verifies itself (VerifyFiles), then,
  // unless StructureOnly, every live row is checked: its BLOB references,
  // its constraints (a stored row's check, foreign keys left out) and its
  // keys in every index. Findings are logged and set ErrorsFound, never
  // raised; errors of the checks other than a constraint violation (1004,
  // or the code of a column's or constraint's own error) pass on. With
  // Repair the findings are mended, a row that violates a constraint is
  // deleted, the indexes found damaged (every index after an interrupted
  // flush) are rebuilt from the rows and the files are flushed; the index
  // file's ".Old" copy of the last rebuild stays. Answers false when the
  // user cancelled
  // (what was mended stays). The opening and closing lines are logged in
  // every case. Precondition: the manager is open; without Repair the
  // caller holds the table's Read lock (the files are only read), with
  // Repair its Exclusive lock.
  bool VerifyTable(bool& ErrorsFound, bool Repair, bool StructureOnly);
  // Verify of the rows file and, each while the one before answered true,
  // of the index file, the BLOB file and the published-updates file in
  // use; answers the last answer.
  bool VerifyFiles(bool& ErrorsFound, bool Repair);
  // One finding in the session's log output; SubObjectKind empty: a
  // finding about the table itself.
  void LogVerificationError(const std::string& Message, const std::string& SubObjectKind,
                            const std::string& SubObjectName, bool Repair);
  // The verify start stage with the step as its detail.
  void ReportVerifyStatus(const std::string& Detail) override;
  // Set by a repair that deleted rows; cleared when a verification starts.
  bool RowsDeleted = false;
  // ---- Verification and repair (END)

  // ---- Optimisation, working copies and alteration (BEGIN)
  // The steps below run on the stored table's manager, open Exclusive,
  // with Target the open (Exclusive) manager of its working copy; each
  // answers false when the user cancelled through the progress callback.
  // A row's error is logged with the row's primary-key values and passes
  // on. Rows reach the target as copies: their row ID, identity and
  // generated values are kept (only new columns are filled), BLOB values
  // are loaded first, and no published-update record is written.
  //
  // Live rows in the order of index Index (a position in this table's
  // indexes; -1: row order), then the published updates and the header
  // counters (last row ID and version, identity counters).
  bool OptimizeTable(TBRNTableManager& Target, int32_t Index);
  // The published-update records in order (decompressed and compressed
  // again at the target's level) and the header counters; nothing when
  // either table is not published.
  bool CopyPublishedUpdates(TBRNTableManager& Target);
  // Every live row inserted anew into the target's columns (alteration
  // fill rule, unconvertible values set NULL and logged).
  bool AlterRowsFull(TBRNTableManager& Target);
  // Every row, deleted ones included, at the same row number in the
  // target's fresh rows file.
  bool AlterRowsInPlace(TBRNTableManager& Target);
  bool CheckAlteredConstraints(TBRNBaseTable* NewDefinition);
  // The copy's fresh index file: every index of the copy built from the
  // rows (the copy's own when its rows were rewritten in place, else this
  // table's); a duplicate key of a unique index fails with 1004.
  bool RebuildIndexes(TBRNTableManager& Target);
  void ApplyIdentityRestarts(TBRNBaseTable* NewDefinition);
  // Sets the table's structure checksum and marks the headers of the
  // selected files changed, so that the next flush writes it into them.
  void StampStructureChecksum(uint32_t Checksum, uint8_t Selection = kTableFilesAll);
  // On the working copy's manager: the keys of index Index from the live
  // rows of Source's rows file (Source: this manager or the stored one).
  bool BuildIndexFromRows(TBRNTableManager& Source, int32_t Index);
  // 1004 for a NULL in a NOT NULL column of Definition.
  void CheckRequiredColumns(TBRNBaseTable* Definition, TBRNRowValues& Row);
  // Only when Definition's AlterationFlags have bit 13 and bit 17 or 18.
  void CheckChangedChecks(TBRNBaseTable* Definition, TBRNRowValues& Row);
  // The swap mark of a table: a file next to the table's files (the rows
  // file's name with ".Swap") that exists from before the first file of an
  // OPTIMIZE or ALTER swap is touched until the change is complete (for
  // ALTER, committed to the catalog). While it exists, the ".Old" copies of
  // the table are exactly its files before the change; without it they may
  // be older than the files and are never put back by themselves. Begin
  // makes it durable before returning; the manager may be closed.
  void BeginFileSwap();
  void EndFileSwap();
  bool FileSwapPending();
  // Puts the table's files back together after a swap that a crash cut
  // short (its mark still there): every ".Old" copy is put back when a
  // file in use is missing, or when Mismatch (the files fail the header
  // checks against the catalog definition, structure checksum or
  // encryption: an ALTER whose catalog commit never happened), and the
  // mark goes. Answers whether anything was put back, and logs it as a
  // warning event. The manager is closed; the caller holds the table's
  // Transaction lock.
  bool RecoverInterruptedSwap(bool Mismatch);
  // The rename marks of RENAME TABLE: one file beside each name's files
  // (the rows file's name with ".Rename") holding the other name. Both
  // exist, durable, from before the first file moves until the catalog
  // holds the new name (or, after a failed commit, the files are back).
  // While the mark of the catalog's name exists, each file of the table is
  // under one of the two names, and an open gathers them under the
  // catalog's name: that finishes a committed rename and undoes one that
  // was not. Begin runs while the table has its old name; End, with the
  // table under the name it keeps, deletes the other name's mark (when it
  // names this one) and then this name's. The manager is closed.
  void BeginFileRename(const std::string& NewName);
  void EndFileRename(const std::string& OtherName);
  bool FileRenamePending();
  // The other name the rename mark beside TableName's files holds (any
  // table of the same database answers for any name); empty without a
  // complete mark.
  std::string RenameMarkPartner(const std::string& TableName);
  // Moves every file in use that is missing under the table's name from
  // the name its mark holds, unless the catalog holds a table of that name
  // too (the mark is then left alone); then ends the marks. Answers whether
  // a file moved, and logs it as a warning event. The files are not open
  // and the caller holds the table's Transaction lock, unless every file is
  // in place (an open that succeeded: only the marks go).
  bool RecoverInterruptedRename();
  // ---- Optimisation, working copies and alteration (END)

 protected:
  bool GetLoadingUpdates() override;

 private:
  // The file managers of one table, in use or made for one call.
  struct FileManagers {
    std::unique_ptr<TBRNRowsetManager> Rows;
    std::unique_ptr<TBRNIndexManager> Indexes;
    std::unique_ptr<TBRNBlobManager> Blobs;
    std::unique_ptr<TBRNPublishedUpdatesManager> PublishedUpdates;
    // Rows, indexes, BLOBs, published updates: those made.
    std::vector<TBRNTableFileManager*> All;
    std::vector<TBRNTableFileManager*> Selected(uint8_t Selection) const;
  };

  std::string schemaName() const;
  std::string fileNameOf(TBRNTableFileKind Kind) const;
  // The rename mark beside the files of the table named TableName.
  std::string renameMarkOf(const std::string& TableName) const;
  std::vector<TBRNTableFileKind> kindsInUse() const;
  void buildLayouts();
  FileManagers makeFileManagers();
  void createMembers();
  void freeMembers() noexcept;
  // The locks of the table through the environment: Lock answers whether
  // a lock was taken (a Transaction lock is counted and always released).
  bool lock(uint8_t LockType);
  void unlock(uint8_t LockType);
  // Releases while another error unwinds: a second failure is dropped.
  void unlockQuietly(uint8_t LockType) noexcept;
  // Runs Work; the file layer's bare write-incomplete error becomes this
  // table's RaiseWriteIncomplete.
  template <typename Work>
  void surfacingWriteIncomplete(Work&& Work_);
  bool filesChanged();
  bool refreshSystemTable(bool Refresh);
  void fillSystemTable();
  TBRNCompressionManager& compression();
  bool inFileTransaction() const;
  // Checks its preconditions through inFileTransaction.
  friend class TBRNRowAppender;
  // ---- Per-row services
  // std::logic_error unless the files are open.
  void requireFiles(const char* Operation) const;
  // Positions the row navigator on Row, repeating a read another writer
  // restarted; false when Row lies outside the row file.
  bool gotoRow(int32_t Row);
  // Copies the navigator's current row into Target (with the row header
  // when Target is bound to a row of this file).
  void copyCurrentRow(TBRNRowValues& Target);
  // Releases both lock lists' bytes, going on past a failure.
  bool releaseAllRowLocks();
  void releaseRowLockQuietly(int32_t Row) noexcept;
  int32_t indexPosition(TBRNIndex* Index) const;
  // A new navigator and key buffer for index i over its layout.
  void makeIndexMembers(int32_t i);
  // Keeps a layout that pages may still name alive until the manager goes.
  void retireLayout(std::unique_ptr<TBRNIndexKeyLayout> Layout);
  void restoreIndexFileQuietly() noexcept;
  // Makes the layouts those BackupIndexFile remembered, with new
  // navigators and key buffers for every index.
  void putBackBackupLayouts();
  // The duplicate-key error of a build of index Index, whose key buffer
  // holds the refused key.
  [[noreturn]] void raiseDuplicateBuildKey(int32_t Index);
  std::unique_ptr<TBRNWordList> wordListOf(const TBRNValues& Values, int32_t Index);
  bool textSourceModified(const TBRNRowValues& Values, int32_t Index);
  void changeTextKeys(const TBRNWordList& Words, int32_t RowID, int32_t Row, int32_t Index,
                      bool Insert);
  // A key of a build refused: the row stays unindexed, or with Repair goes.
  void deleteRowForRepair(const TBRNRowValues& Values, int32_t Row, int32_t Index);
  // The row pass of BuildIndex inside its progress bracket.
  bool buildIndexRows(int32_t Index, bool StopOnCancel, bool Repair);
  // Whether a value is assigned to Column under the alteration rule.
  bool fillsColumn(const TBRNColumn* Column) const;
  void assignExpression(TBRNExprToken* Root, TBRNRowValues& Values, int32_t Position);

  TBRNFileManager* fileManager = nullptr;
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> layouts;
  std::unique_ptr<TBRNRowsetManager> rowsetFile;
  std::unique_ptr<TBRNIndexManager> indexFile;
  std::unique_ptr<TBRNBlobManager> blobFile;
  std::unique_ptr<TBRNPublishedUpdatesManager> publishedUpdatesFile;
  std::vector<TBRNTableFileManager*> files;
  TBRNTableFileSet fileSet;
  std::unique_ptr<TBRNRowsetNavigator> rowNavigator;
  std::vector<std::unique_ptr<TBRNIndexNavigator>> indexNavigators;
  std::vector<std::unique_ptr<TBRNIndexLayoutKeyValues>> indexKeys;
  std::unique_ptr<TBRNRowLocks> rowLocks;
  std::unique_ptr<TBRNRowLocks> transactionRowLocks;
  std::unique_ptr<TBRNRowLocks> referencedKeyLocks;
  // Work buffers: the compressed form of BLOB data, and a published-update
  // record with its compressed form.
  std::unique_ptr<TBRNMemoryStream> blobBuffer;
  std::unique_ptr<TBRNMemoryStream> updateBuffer;
  std::unique_ptr<TBRNMemoryStream> compressedUpdateBuffer;
  std::unique_ptr<TBRNCompressionManager> compressor;
  bool creatingFiles = false;
  // The host's counted brackets and whether their outermost level took the
  // lock. readAsked: the Read lock was asked for in the open brackets (a
  // deferred group asks only once a bracket inside it needs the files).
  int32_t readDepth = 0;
  bool readTaken = false;
  bool readAsked = false;
  int32_t writeDepth = 0;
  bool writeTaken = false;
  int32_t progressDepth = 0;
  // Re-entrancy guards of the system-table refresh.
  bool fillingSystemTable = false;
  bool reloadingSystemSource = false;
  // Layouts replaced or dropped while open (cached pages may still name
  // them).
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> retiredLayouts_;
  // ---- Publishing and update records: private (BEGIN)
  struct TRecordReader;
  void writeRecordBlock(TBRNMemoryStream& Record, const TBRNRowValues& Values, bool KeyOnly,
                        bool ModifiedOnly);
  void readRecordBlock(TRecordReader& Reader, TBRNRowValues& Target);
  // The record's sites into loadedSites_; whether they name this table.
  bool readRecordSites(TRecordReader& Reader);
  // The work rows of applying, made on first use.
  void makeWorkRows();
  // Finds the stored row whose primary key the first work row holds and
  // reads it into the second; false when there is none.
  bool findTargetRow(int32_t& RowNumber, int32_t& RowVersion, int32_t& UpdateCounter);
  bool applyRecordStep(TRecordReader& Reader, int32_t Operation, int64_t BlockEnd,
                       bool IgnoreMissing);
  std::string loadedKeyText();
  std::unique_ptr<TBRNMemoryStream> loadedRecord_;
  std::unique_ptr<TBRNMemoryStream> inflatedRecord_;
  std::vector<std::string> loadedSites_;
  int32_t primaryKeyIndex_ = -1;
  std::unique_ptr<TBRNRowsetRow> firstWorkBuffer_;
  std::unique_ptr<TBRNRowsetRow> secondWorkBuffer_;
  std::unique_ptr<TBRNRowsetRowValues> firstWorkRow_;
  std::unique_ptr<TBRNRowsetRowValues> secondWorkRow_;
  const TBRNRowsetManager* workRowsFile_ = nullptr;
  // ---- Publishing and update records: private (END)
  // The layouts in force when the index file's ".Old" copy was taken, in
  // index order; each is in layouts or retiredLayouts_. None while this
  // open holds no copy.
  std::optional<std::vector<const TBRNIndexKeyLayout*>> backupLayouts_;
};

// Appends rows to one table in batches: the rows of a batch are one
// operation over the table's files (see TBRNTableFileSet::BeginBatch), so a
// row pays no operation frame of its own (no header fields saved and no
// block images noted per row and per file; the last row block and index
// leaf are noted once per batch). Each row is stored exactly as
// InsertRow(Values, ..., false) stores it, its keys, BLOBs, generated and
// DEFAULT values and constraint checks included.
//
// A batch begins with the first Append after construction or EndBatch and
// ends with EndBatch, after kRowsPerBatch rows, or in the destructor; the
// rows of an ended batch stay. When an Append fails, the whole open batch
// is rolled back (the rows appended since it began leave every file with
// their keys and BLOBs, the header counters return) and the failure passes
// on: the table holds whole rows only, those of earlier batches.
//
// Preconditions: the manager is open and the table is in a transaction or
// held exclusively, so that no row change flushes; the files stay open for
// the appender's life. Between Appends the caller may read the table (it
// sees every row appended so far) and change rows (each change nests in
// the batch), but it ends the batch before it flushes, commits or rolls
// back. Used by the table manager's thread only.
class TBRNRowAppender {
 public:
  static constexpr int32_t kRowsPerBatch = 1024;

  // std::logic_error when the preconditions do not hold.
  explicit TBRNRowAppender(TBRNTableManager& Table);
  // Ends an open batch, keeping its rows.
  ~TBRNRowAppender();
  TBRNRowAppender(const TBRNRowAppender&) = delete;
  TBRNRowAppender& operator=(const TBRNRowAppender&) = delete;

  // Answers the new row's number.
  int32_t Append(TBRNRowValues& Values);
  void EndBatch();

 private:
  void rollBackBatch() noexcept;
  void clearNavigators() noexcept;

  TBRNTableManager& table_;
  int32_t rowsInBatch_ = 0;
  bool open_ = false;
};

// The table managers of one database. CreateManager makes the manager of
// a query-result table through the registered table object factory, and a
// TBRNTableManager for every other base table. Used by the session's thread
// only.
class TBRNTableManagers : public TBRNSchemaObjectManagers {
 public:
  using TBRNSchemaObjectManagers::TBRNSchemaObjectManagers;

  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* CatalogObject) override;
  int32_t GetCapacity() const override { return 4096; }

  // Whether Table holds the result of a query: a Transient table, not a
  // System one, whose first column is the Internal row-ID column (what
  // DefineResultTable makes).
  static bool IsQueryResultTable(const TBRNBaseTable* Table);

  // The database transaction over every registered table manager. Start
  // joins the open ones; a failure rolls back the ones that joined. Commit
  // and rollback go on past a failing manager and raise the first failure.
  void StartDatabaseTransaction();
  void CommitDatabaseTransaction();
  void RollbackDatabaseTransaction();
};

}  // namespace brn
