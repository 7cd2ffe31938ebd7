#pragma once

#include <cstdint>
#include <memory>

#include "storage/cursors/navigator.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_values.h"

namespace brn {

class TBRNEvaluationContext;
class TBRNExpressionEvaluator;

// Row values over a row of a row file: bound to the row's block bytes, so
// they read and write the row image in place. BLOB reads and writes go to
// the table through the rowset host with the bound row's version as the
// chain owner; computed columns are evaluated by the session's evaluator
// with these values as the current row. Used by one session's thread.
class TBRNRowsetRowValues : public TBRNRowValues {
 public:
  TBRNRowsetRowValues(TBRNColumns* columns, TBRNRowsetHost* host, bool evaluateComputed = true);

  // Set by the table manager before computed columns are read.
  TBRNExpressionEvaluator* Evaluator = nullptr;
  TBRNEvaluationContext* Context = nullptr;

  // Binds the values to the block of row (nullptr unbinds). The row must
  // stay alive (pinned, or a detached copy) while the values are used.
  void SetRow(TBRNRowsetRow* row);
  TBRNRowsetRow* GetRow() const { return row_; }
  // The version of the bound row: the owner of its BLOB chains.
  int32_t GetRowVersion() const;

  void ReadBlob(int32_t BlockRef, TBRNMemoryStream& Stream, bool Compressed) override;
  void WriteBlob(int32_t RowVersion, int32_t& BlockRef, TBRNMemoryStream& Stream,
                 int32_t Compression, int32_t& StoredLength) override;
  void ComputeColumn(TBRNExprToken* ExpressionRoot) override;

 private:
  TBRNRowsetHost* host_;
  TBRNRowsetRow* row_ = nullptr;
};

// Walks the rows of a row file in physical order and writes rows into it.
// The current row is a detached copy of its block, so the cache may evict
// or another walk may change the block while the copy stays readable.
//
// The plain navigator visits every block, deleted rows included (except
// FindKey); navigators built on it choose rows through AcceptRow. Every read
// reports the restart flag of the cache: when it is set the walk has
// stopped and the caller repeats its operation.
//
// Each row change is one operation of the row file's table (see
// TBRNTableFileSet): one that fails halfway releases its block and leaves
// every file of the table as it stood just before the change, with every
// earlier change kept; no half-written block is ever flushed. Used by one
// session's thread.
class TBRNRowsetNavigator : public TBRNNavigator {
 public:
  explicit TBRNRowsetNavigator(TBRNRowsetManager* rowFile);
  ~TBRNRowsetNavigator() override;

  TBRNRowsetManager* GetRowFile() const { return rowFile_; }
  // The copy of the current row (its block number is 0 when there is none).
  TBRNRowsetRow* GetCurrentRow() const { return current_.get(); }
  bool HasCurrentRow() const { return hasCurrent_; }
  // Bound to the copy of the current row.
  TBRNRowsetRowValues& GetCurrentValues() const { return *currentValues_; }
  // Bound to the block during a search, and to the block being written.
  TBRNRowsetRowValues& GetSearchValues() const { return *searchValues_; }
  TBRNRowsetRowValues& GetWriteValues() const { return *writeValues_; }

  // The header's row count (live rows).
  int32_t GetRowCount() override;
  void ClearCurrentRow() override;
  int32_t GetRowNumber() override;
  // The row file's own read-ahead (a quarter of its cache); navigators
  // built on this one may choose less.
  int32_t GetReadAheadCount(int32_t Row, TBRNDirection Direction, int32_t Default) override;
  // Scans the blocks from the first; deleted rows are skipped. 0 with the
  // matching row current, else 1 on the last block with EOF set.
  int32_t FindKey(const TBRNValues& Values, int32_t PartialLength, bool& Restart,
                  bool CaseInsensitive) override;
  // Forward; the restart flag is dropped (see the three-argument form).
  bool GotoRowNumber(int32_t Row) override;
  // n <= 0: block 1 with BOF; n past the last block: the last block with
  // EOF; otherwise block n. True only in the last case.
  bool GotoRowNumber(int32_t Row, TBRNDirection Direction, bool& Restart);
  // Not supported by a row file: does nothing.
  bool GotoSequenceNumber(int32_t Sequence) override;
  bool First(bool& Restart) override;
  bool Next(bool& Restart) override;
  bool Prior(bool& Restart) override;
  bool Last(bool& Restart) override;

  // Writes a new row: a deleted row's block is reused with its BLOB chains
  // and update counter. Values' BLOB columns are saved with Version as
  // their owner (Values' BLOB references change accordingly). Answers the
  // block and its new update counter.
  void InsertRow(int32_t Version, TBRNRowValues& Values, int32_t& RowNumber,
                 int32_t& UpdateCounter);
  void UpdateRow(TBRNRowValues& Values, int32_t RowNumber, int32_t& UpdateCounter);
  // The row goes on the free list; its image and BLOB references stay in
  // the block until the block is reused.
  void DeleteRow(int32_t RowNumber, int32_t& UpdateCounter);
  // Copies row into the current row unless the copy already holds the same
  // block number, version and update counter; nullptr clears it.
  void SetCurrentRow(TBRNRowsetRow* Row);

 private:
  // With no block in the file: no current row, BOF and EOF set, true.
  bool atEmptyFile();
  // Makes block n the current row; false when the read restarted.
  bool readCurrent(int32_t n, TBRNDirection direction, bool& restart);
  // First (forward) or Last (backward): reads the block at that end, sets
  // BOF or EOF and moves on to the nearest accepted row.
  bool seekEnd(TBRNDirection direction, bool& Restart);
  // Releases the pinned block row holds (nullptr: nothing) and clears it.
  void releaseHeld(TBRNRowsetRow*& row);
  // Pins block n of the file for a change (601 outside the file).
  TBRNRowsetRow* pinForChange(int32_t n);
  // Releases the block being written after a failed change (the operation
  // then restores what the change did).
  void abandonChange();

  TBRNRowsetManager* rowFile_;
  std::unique_ptr<TBRNRowsetRow> current_;
  bool hasCurrent_ = false;
  std::unique_ptr<TBRNRowsetRowValues> currentValues_;
  std::unique_ptr<TBRNRowsetRowValues> searchValues_;
  std::unique_ptr<TBRNRowsetRowValues> writeValues_;
  TBRNRowsetRow* walkRow_ = nullptr;
  TBRNRowsetRow* writeRow_ = nullptr;
};

}  // namespace brn
