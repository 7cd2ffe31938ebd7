#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sessions/ddl/schema_object_execution.h"
#include "storage/tables/schema_object_manager.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

class TBRNLocalDatabaseManager;
class TBRNTableManager;
class TBRNView;

// One session's manager of one view: it makes the view look like a table.
// Cursors on it come from the view's query; every row, index, BLOB and
// transaction operation goes to the manager of the base table that the
// query reads (a view over views is followed down to its table).
//
// Open: the view is compiled and its query manager made; prepared: the
// query is prepared and the base table manager found. The base table
// manager is valid only while the manager is prepared; a forwarded
// operation outside that is a std::logic_error.
//
// Used by the session's thread only.
class TBRNViewManager : public TBRNVirtualTableManager {
 public:
  // Neither is owned; both outlive the manager.
  TBRNViewManager(TBRNLocalDatabaseManager& database, TBRNView* view);
  ~TBRNViewManager() override;

  TBRNView* GetView() const { return view_; }
  TBRNLocalDatabaseManager& GetDatabase() const { return database_; }
  // nullptr while closed.
  TBRNViewQueryManager* GetQueryManager() const { return queryManager_.get(); }
  // nullptr while not prepared.
  TBRNTableManager* GetBaseTableManager() const { return baseManager_; }

  // ---- TBRNSchemaObjectManager
  void DoOpen() override;
  void DoPrepare() override;
  void DoUnprepare() override;
  void DoClose() override;

  // ---- TBRNVirtualTableManager
  // The query's result as a local cursor with a filter level of its own;
  // Exclusive is not used.
  std::unique_ptr<TBRNCursor> CreateCursor(const std::string& Name, bool ReadOnly, bool Exclusive,
                                           bool Indexed) override;
  TBRNRowsetManager* GetRowsetManager() override;
  TBRNIndexManager* GetIndexManager() override;
  TBRNBlobManager* GetBlobManager() override;
  TBRNPublishedUpdatesManager* GetPublishedUpdatesManager() override;
  int32_t GetRowCount() override;
  int32_t GetPhysicalRowCount() override;
  int32_t GetRowSize() override;
  int64_t GetChangeCount() override;
  int32_t GetRowCacheCapacity() override;
  bool GetEncrypted() override;
  TBRNColumns* GetColumns() override;
  TBRNIndexes* GetIndexes() override;
  void InsertRow(TBRNRowValues& Values, int32_t& RowNumber, int32_t& RowVersion,
                 int32_t& UpdateCounter, bool Copying) override;
  void UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) override;
  void DeleteRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) override;
  bool HasChanged(bool Refresh) override;
  void StartTransaction() override;
  void FlushTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  void Flush() override;
  void CheckRowCurrent(int32_t Row, int32_t RowVersion, int32_t UpdateCounter, bool SkipDetection,
                       bool ForceDetection) override;
  bool LockRowForUpdate(TBRNHandleObject* Holder, int32_t Row, int32_t RowVersion,
                        int32_t UpdateCounter, bool SkipDetection, bool ForceDetection,
                        int32_t Keep) override;
  void CheckRowVisible(int32_t Row, int32_t VisibleRow) override;
  void UnlockRow(int32_t Row) override;
  void UnlockRows(TBRNHandleObject* Holder) override;
  std::unique_ptr<TBRNRowsetRow> NewRowBuffer() override;
  TBRNRowsetRow* GetRow(int32_t Row, bool ReadAhead) override;
  void ReleaseRow(TBRNRowsetRow* Buffer) override;
  bool AddIndex(TBRNIndex* Index, bool LeaveEmpty) override;
  void ClearIndex(TBRNIndex* Index) override;
  void RebuildIndex(TBRNIndex* Index, bool Repair) override;
  void CancelIndexChange() override;
  bool DropIndex(TBRNIndex* Index, bool WithBackup) override;
  // The base's answer first; only when that is true the base table is
  // emptied, and its answer is the result.
  bool EmptyTable(bool SkipScan) override;
  void ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                bool Compressed) override;
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;
  void ReadPublishedUpdate(int32_t& Block, TBRNMemoryStream& Stream, bool Compressed) override;
  void AppendPublishedUpdate(TBRNMemoryStream& Stream, int32_t Compression) override;

 private:
  // The base table manager; std::logic_error while not prepared.
  TBRNTableManager& base() const;

  TBRNLocalDatabaseManager& database_;
  TBRNView* view_;
  std::unique_ptr<TBRNViewQueryManager> queryManager_;
  TBRNTableManager* baseManager_ = nullptr;
};

// The open view managers of one database, at most 4096.
class TBRNViewManagers : public TBRNSchemaObjectManagers {
 public:
  explicit TBRNViewManagers(TBRNLocalDatabaseManager& database);
  // A view manager; std::invalid_argument for an object that is not a view.
  std::unique_ptr<TBRNSchemaObjectManager> CreateManager(
      TBRNPrivilegedSchemaObject* catalogObject) override;
  int32_t GetCapacity() const override { return 4096; }

 private:
  TBRNLocalDatabaseManager& database_;
};

}  // namespace brn
