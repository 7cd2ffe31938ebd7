#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/components/database_component.h"
#include "platform/datasets/data_set.h"

namespace brn {

class TBRNBlobStream;
class TBRNContainedBookmarkValues;
class TBRNCursor;
class TBRNCursorRow;
class TBRNQuery;

// What applies the updates of a dataset through statements of its own. The
// dataset tells it of itself when it becomes the dataset's update object and
// of nothing (nullptr) when it stops being it.
class TBRNDataSetUpdateObject : public TComponent {
 public:
  explicit TBRNDataSetUpdateObject(TComponent* owner) : TComponent(owner) {}

  virtual TDataSet* GetDataSet() const = 0;
  virtual void SetDataSet(TDataSet* dataSet) = 0;
  virtual void Apply(TUpdateKind updateKind) = 0;
};

// A dataset over an engine cursor (local or remote): the cursor's columns
// are its fields, its rows fill the record buffers. Data field values live
// in the cursor row each record buffer refers to; the buffer itself holds
// the row slot, the calculated fields, the record number, the bookmark flag
// and the bookmark.
//
// Record buffer layout: int32 row slot | calculated fields (flag byte and
// value each) | int32 record number | bookmark flag and 3 spare bytes |
// bookmark (BookmarkSize bytes).
//
// Ownership: the cursor comes from CreateCursor and goes back through
// DestroyCursor (subclasses free what they created); the cursor rows are
// the dataset's.
//
// Threads: one thread per dataset.
class TBRNDataSet : public TDataSet {
 public:
  explicit TBRNDataSet(TComponent* owner);
  ~TBRNDataSet() override;

  TBRNCursor* GetCursor() const { return cursor_; }
  int32_t GetReadAheadRows() const { return readAheadRows_; }
  bool GetCanModify() const override { return canModify_; }
  bool CopyOnAppend = false;

  int32_t GetRecordCount() override;
  // The cursor's sequence number of the active record, so that RecNo and
  // SetRecNo agree.
  int32_t GetRecNo() override;
  void SetRecNo(int32_t value) override;
  bool IsSequenced() override { return false; }
  bool BookmarkValid(const TBookmark* bookmark) override;
  int32_t CompareBookmarks(const TBookmark* first, const TBookmark* second) override;
  bool GetFieldData(const TField& field, void* buffer) override;
  void SetFieldData(TField& field, const void* buffer) override;
  void SetBlockReadSize(int32_t value) override;
  // Reads the cursor's current row into buffer's row; false when there is
  // no current record.
  bool GetCurrentRecord(TRecordBuffer buffer);

  // The number of cursor rows held (one per record buffer).
  int32_t GetCursorRowCount() const;

  // A TBRNBlobStream on field's value in the active record.
  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  // The field's value in the active record drops its loaded BLOB data.
  void CloseBlob(TField& field) override;

  // Provider support. An engine failure (raw or as a component error) keeps
  // its error code in the update error; others get the framework's.
  std::unique_ptr<EUpdateError> PSGetUpdateException(std::exception_ptr error,
                                                     const EUpdateError* previous) override;
  bool PSIsSQLSupported() const { return true; }
  bool PSIsSQLBased() const { return false; }
  std::string PSGetQuoteChar() const { return "\""; }
  // The framework's reset, then the cursor refreshes.
  void PSReset() override;
  // False without OnUpdateRecord; otherwise whether its handler answered
  // uaApplied (it starts from uaFail).
  bool PSUpdateRecord(TUpdateKind updateKind, TDataSet& delta);
  TUpdateRecordEvent OnUpdateRecord;

  // Filters: the Filter text becomes an engine filter of the cursor, the
  // OnFilterRecord handler a row filter the cursor calls while it moves.
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& value) override;
  void SetFilterOptions(const TFilterOptions& value) override;
  void SetOnFilterRecord(TFilterRecordEvent value) override;
  bool FindRecord(bool restart, bool goForward) override;
  // The engine filter in force (0: none).
  int32_t GetFilterHandle() const { return filterHandle_; }
  // Seconds the cursor spent building the active filter's row set.
  double GetFilterTime() const { return filterTime_; }

  using TDataSet::Locate;
  bool Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues,
              const TLocateOptions& options) override;
  TVariant Lookup(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                  const std::string& resultField) override;

 protected:
  // The cursor to open over; nullptr gives "Error creating table handle".
  virtual TBRNCursor* CreateCursor() { return nullptr; }
  virtual void DestroyCursor();
  virtual void CursorOpened() {}
  virtual void CursorClosing() {}
  virtual void SetFieldOrigins();

  // The update object; set to nullptr when this dataset is freed or the
  // object is.
  TBRNDataSetUpdateObject* GetUpdateObject() const { return updateObject_; }
  void SetUpdateObject(TBRNDataSetUpdateObject* value);
  void Notification(TComponent* component, TOperation operation) override;

  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode) override;
  void CopyRecordBuffer(TRecordBuffer source, TRecordBuffer target) override;
  void OpenCursor() override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InitRecord(TRecordBuffer buffer) override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void InternalGotoBookmark(const uint8_t* bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void DoOnNewRecord() override;
  void DoBeforeDelete() override;
  // The cursor's read-ahead count is raised to at least the buffer count
  // for the call, then restored.
  int32_t GetNextRecords() override;
  int32_t GetPriorRecords() override;

  TRecordBuffer GetActiveRecordBuffer();
  TBRNCursorRow& RowOf(TRecordBuffer buffer) const;

 private:
  int32_t computeBookmarkSize() const;
  void fillRecordBuffer(TRecordBuffer buffer);
  void writeBookmark(TRecordBuffer buffer);
  void readBookmark(const uint8_t* bookmark, TBRNContainedBookmarkValues& values);
  void freeCursorRows();
  void activateFilter();
  void deactivateFilter();
  int32_t createEngineFilter(const std::string& text, const TFilterOptions& options);
  void setFilterHandle(int32_t handle);
  void rowFilterCallback(bool& accept);
  bool locateRecord(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                    const TLocateOptions& options);
  // The row whose values the fields show for record (the cursor's filter
  // row while the row filter runs).
  TBRNCursorRow& rowForFields(TRecordBuffer record) const;

  // The stream reads and writes the value of a record buffer's row and
  // tells the dataset of the change.
  friend class TBRNBlobStream;

  TBRNCursor* cursor_ = nullptr;
  TBRNDataSetUpdateObject* updateObject_ = nullptr;
  std::vector<std::unique_ptr<TBRNCursorRow>> rows_;
  std::unique_ptr<TBRNContainedBookmarkValues> bookmark1_;
  std::unique_ptr<TBRNContainedBookmarkValues> bookmark2_;
  TRecordBuffer oldValueBuffer_ = nullptr;
  TRecordBuffer filterBuffer_ = nullptr;
  int32_t recordInfoOffset_ = 0;
  int32_t bookmarkOffset_ = 0;
  int32_t recordBufferSize_ = 0;
  int32_t readAheadRows_ = 10;
  int32_t filterHandle_ = 0;
  double filterTime_ = 0;
  bool findFilter_ = false;
  // Set by InternalFirst / InternalLast until the next record read or
  // move: the cursor stands on the first (last) row it will return, even
  // where a row filter stepped past rejected rows and cleared Bof (Eof).
  bool restingFirst_ = false;
  bool restingLast_ = false;
  bool canModify_ = false;
};

}  // namespace brn

namespace brn {

// A dataset bound by name to a session and a database component of it. The
// database is held (through the session's OpenDatabase) from the first
// usage bit set to the last one cleared; bit 0: the cursor is open or an
// ExecSQL runs, bit 5: a provider statement or transaction runs.
//
// Threads: one thread per dataset, its session's.
class TBRNDBDataSet : public TBRNDataSet, public TBRNDatabaseClient {
 public:
  explicit TBRNDBDataSet(TComponent* owner);
  // Closes and gives the database back.
  ~TBRNDBDataSet() override;

  const std::string& GetDatabaseName() const { return databaseName_; }
  // "Cannot perform this operation on an open database" while a database is
  // held; refused on an open dataset.
  void SetDatabaseName(const std::string& value);
  const std::string& GetSessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);
  TBRNDatabase* GetDatabase() const { return database_; }

  // Opens over cursor instead of asking CreateCursor; nullptr only clears
  // usage bit 0.
  void OpenWithCursor(TBRNCursor* cursor);
  void CancelAndClose() override;
  // Sets or clears a usage bit (0..7; higher bits are not stored) and
  // answers its previous value.
  virtual bool SetDatabaseFlag(int32_t bit, bool value);

  // Provider statements and transactions run on the held database (usage
  // bit 5 while they run).
  void PSStartTransaction();
  // Commits (flushing) or rolls back; bit 5 is cleared in every case.
  void PSEndTransaction(bool commit);
  // Whether the database component of DatabaseName in the session of
  // SessionName exists and is in a transaction.
  bool PSInTransaction() const;
  // Runs sql with params (unknown parameters become input ones); with
  // resultSet the query that ran it is handed back (open over the rows of
  // a SELECT). Answers the rows affected.
  int32_t PSExecuteStatement(const std::string& sql, TParams* params,
                             std::unique_ptr<TBRNQuery>* resultSet = nullptr);

 protected:
  void OpenCursor() override;
  void CloseCursor() override;
  // The cursor OpenWithCursor handed in (nullptr otherwise); subclasses'
  // CreateCursor answers it.
  TBRNCursor* GetHandedCursor() const { return handedCursor_; }
  // Called before DatabaseName or SessionName change (the query unprepares).
  virtual void NameChanging() {}

 private:
  // The auto-session writes its name straight into SessionName.
  friend class TBRNSession;

  TBRNDatabase* database_ = nullptr;
  TBRNCursor* handedCursor_ = nullptr;
  std::string databaseName_;
  std::string sessionName_;
  uint8_t usage_ = 0;
};

}  // namespace brn
