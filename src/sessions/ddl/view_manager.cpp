#include "sessions/ddl/view_manager.h"

#include <stdexcept>

#include "metadata/catalog/views.h"
#include "sessions/databases/local_database_manager.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/row_file.h"
#include "storage/tables/table_manager.h"

namespace brn {

TBRNViewManager::TBRNViewManager(TBRNLocalDatabaseManager& database, TBRNView* view)
    : TBRNVirtualTableManager(database, view), database_(database), view_(view) {}

TBRNViewManager::~TBRNViewManager() = default;

void TBRNViewManager::DoOpen() {
  view_->Compile();
  queryManager_ = GetSchemaObjectExecution().CreateViewQueryManager(*this, true, view_->Updateable);
}

void TBRNViewManager::DoPrepare() {
  queryManager_->Prepare();
  // The query reads a view: follow the views' queries down to a table.
  TBRNVirtualTableManager* manager = queryManager_->GetResultManager();
  while (auto* viewManager = dynamic_cast<TBRNViewManager*>(manager)) {
    TBRNViewQueryManager* query = viewManager->GetQueryManager();
    manager = query != nullptr ? query->GetResultManager() : nullptr;
  }
  baseManager_ = dynamic_cast<TBRNTableManager*>(manager);
  if (baseManager_ == nullptr)
    throw std::logic_error("The query of the view " + view_->Name + " reads no table");
}

void TBRNViewManager::DoUnprepare() {
  baseManager_ = nullptr;
  if (queryManager_) queryManager_->Unprepare(!view_->Transient);
}

void TBRNViewManager::DoClose() {
  queryManager_.reset();
  view_->Uncompile();
}

TBRNTableManager& TBRNViewManager::base() const {
  if (baseManager_ == nullptr)
    throw std::logic_error("The view manager of " + view_->Name + " is not prepared");
  return *baseManager_;
}

std::unique_ptr<TBRNCursor> TBRNViewManager::CreateCursor(const std::string& Name, bool ReadOnly,
                                                          bool /*Exclusive*/, bool Indexed) {
  if (!queryManager_) throw std::logic_error("The view manager of " + view_->Name + " is not open");
  std::unique_ptr<TBRNCursor> cursor = queryManager_->ExecuteQuery(Name, Indexed, ReadOnly);
  queryManager_->OpenFilterLevel(*cursor);
  return cursor;
}

// ---- Forwarded to the base table manager

TBRNRowsetManager* TBRNViewManager::GetRowsetManager() {
  return base().GetRowsetManager();
}
TBRNIndexManager* TBRNViewManager::GetIndexManager() {
  return base().GetIndexManager();
}
TBRNBlobManager* TBRNViewManager::GetBlobManager() {
  return base().GetBlobManager();
}
TBRNPublishedUpdatesManager* TBRNViewManager::GetPublishedUpdatesManager() {
  return base().GetPublishedUpdatesManager();
}
int32_t TBRNViewManager::GetRowCount() {
  return base().GetRowCount();
}
int32_t TBRNViewManager::GetPhysicalRowCount() {
  return base().GetPhysicalRowCount();
}
int32_t TBRNViewManager::GetRowSize() {
  return base().GetRowSize();
}
int64_t TBRNViewManager::GetChangeCount() {
  return base().GetChangeCount();
}
int32_t TBRNViewManager::GetRowCacheCapacity() {
  return base().GetRowCacheCapacity();
}
bool TBRNViewManager::GetEncrypted() {
  return base().GetEncrypted();
}
TBRNColumns* TBRNViewManager::GetColumns() {
  return base().GetColumns();
}
TBRNIndexes* TBRNViewManager::GetIndexes() {
  return base().GetIndexes();
}

void TBRNViewManager::InsertRow(TBRNRowValues& Values, int32_t& RowNumber, int32_t& RowVersion,
                                int32_t& UpdateCounter, bool Copying) {
  base().InsertRow(Values, RowNumber, RowVersion, UpdateCounter, Copying);
}
void TBRNViewManager::UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) {
  base().UpdateRow(Values, RowNumber, UpdateCounter);
}
void TBRNViewManager::DeleteRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter) {
  base().DeleteRow(Values, RowNumber, UpdateCounter);
}
bool TBRNViewManager::HasChanged(bool Refresh) {
  return base().HasChanged(Refresh);
}
void TBRNViewManager::StartTransaction() {
  base().StartTransaction();
}
void TBRNViewManager::FlushTransaction() {
  base().FlushTransaction();
}
void TBRNViewManager::CommitTransaction() {
  base().CommitTransaction();
}
void TBRNViewManager::RollbackTransaction() {
  base().RollbackTransaction();
}
void TBRNViewManager::Flush() {
  base().Flush();
}
void TBRNViewManager::CheckRowCurrent(int32_t Row, int32_t RowVersion, int32_t UpdateCounter,
                                      bool SkipDetection, bool ForceDetection) {
  base().CheckRowCurrent(Row, RowVersion, UpdateCounter, SkipDetection, ForceDetection);
}
bool TBRNViewManager::LockRowForUpdate(TBRNHandleObject* Holder, int32_t Row, int32_t RowVersion,
                                       int32_t UpdateCounter, bool SkipDetection,
                                       bool ForceDetection, int32_t Keep) {
  return base().LockRowForUpdate(Holder, Row, RowVersion, UpdateCounter, SkipDetection,
                                 ForceDetection, Keep);
}
void TBRNViewManager::CheckRowVisible(int32_t Row, int32_t VisibleRow) {
  base().CheckRowVisible(Row, VisibleRow);
}
void TBRNViewManager::UnlockRow(int32_t Row) {
  base().UnlockRow(Row);
}
void TBRNViewManager::UnlockRows(TBRNHandleObject* Holder) {
  base().UnlockRows(Holder);
}
std::unique_ptr<TBRNRowsetRow> TBRNViewManager::NewRowBuffer() {
  return base().NewRowBuffer();
}
TBRNRowsetRow* TBRNViewManager::GetRow(int32_t Row, bool ReadAhead) {
  return base().GetRow(Row, ReadAhead);
}
void TBRNViewManager::ReleaseRow(TBRNRowsetRow* Buffer) {
  base().ReleaseRow(Buffer);
}
bool TBRNViewManager::AddIndex(TBRNIndex* Index, bool LeaveEmpty) {
  return base().AddIndex(Index, LeaveEmpty);
}
void TBRNViewManager::ClearIndex(TBRNIndex* Index) {
  base().ClearIndex(Index);
}
void TBRNViewManager::RebuildIndex(TBRNIndex* Index, bool Repair) {
  base().RebuildIndex(Index, Repair);
}
void TBRNViewManager::CancelIndexChange() {
  base().CancelIndexChange();
}
bool TBRNViewManager::DropIndex(TBRNIndex* Index, bool WithBackup) {
  return base().DropIndex(Index, WithBackup);
}
bool TBRNViewManager::EmptyTable(bool SkipScan) {
  if (!TBRNVirtualTableManager::EmptyTable(SkipScan)) return false;
  return base().EmptyTable(SkipScan);
}
void TBRNViewManager::ReadBlob(int32_t RowVersion, int32_t BlockRef, TBRNMemoryStream& Stream,
                               bool Compressed) {
  base().ReadBlob(RowVersion, BlockRef, Stream, Compressed);
}
void TBRNViewManager::WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                                int32_t Compression, int32_t& StoredLength) {
  base().WriteBlob(RowVersion, BlockRef, Stream, Compression, StoredLength);
}
void TBRNViewManager::ReadPublishedUpdate(int32_t& Block, TBRNMemoryStream& Stream,
                                          bool Compressed) {
  base().ReadPublishedUpdate(Block, Stream, Compressed);
}
void TBRNViewManager::AppendPublishedUpdate(TBRNMemoryStream& Stream, int32_t Compression) {
  base().AppendPublishedUpdate(Stream, Compression);
}

// ---- The list

TBRNViewManagers::TBRNViewManagers(TBRNLocalDatabaseManager& database)
    : TBRNSchemaObjectManagers(database), database_(database) {}

std::unique_ptr<TBRNSchemaObjectManager> TBRNViewManagers::CreateManager(
    TBRNPrivilegedSchemaObject* catalogObject) {
  auto* view = dynamic_cast<TBRNView*>(catalogObject);
  if (view == nullptr) throw std::invalid_argument("A view manager needs a view");
  return std::make_unique<TBRNViewManager>(database_, view);
}

}  // namespace brn
