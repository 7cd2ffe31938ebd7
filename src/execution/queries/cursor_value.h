#pragma once

#include <memory>

#include "foundation/values/contained_value.h"

namespace brn {

class TBRNCursor;
class TBRNCursorRow;
class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNQueryManager;
class TBRNValues;

// The run-time value of a table reference: a FROM table of a query or the
// target of INSERT, UPDATE or DELETE. It owns the cursor on the table (taken
// out of the database's handle table, so that only this value frees it),
// the cursor's current row and, when the node names another database than
// the context's, the database opened for it. Used by the session's thread.
class TBRNCursorValue : public TBRNReferenceValue {
 public:
  // Neither is owned; the node owns the value.
  TBRNCursorValue(TBRNLocalExprEvaluator* Evaluator, TBRNExprToken* Node);
  ~TBRNCursorValue() override;
  TBRNCursorValue(const TBRNCursorValue&) = delete;
  TBRNCursorValue& operator=(const TBRNCursorValue&) = delete;

  // Refreshes the cursor when the value has one (the cursor of a derived
  // table also takes the filters and RANGE its query's "?" parameters give
  // now, where its query must run again for them); otherwise opens the
  // database (the one the node names, else the evaluator context's current
  // database, each once more with a shared lock) and a cursor on the table
  // or view, and creates its row; a failure closes that database again and
  // passes on. Then the cursor moves to its first row and reads it into Row.
  // The current context must be an evaluator context.
  void OpenTableReference();
  // Reads the cursor's current row into Row (a cursor at its end gives a
  // row of NULLs, so the columns of an unmatched outer join read as NULL).
  void ReadCurrentRow();
  // The first column of the current row; 1000 "An attempt was made to
  // access a closed cursor" without a cursor.
  TBRNValue* GetReferencedValue() const override;

  TBRNCursor* GetCursor() const { return Cursor.get(); }
  TBRNCursorRow* GetRow() const { return Row.get(); }
  // The row's values (what column references of the table read); nullptr
  // before the cursor was opened.
  const TBRNValues* GetRowValues() const;
  // Takes the cursor and its row over from another owner (the query
  // manager's sensitive result, the DML executors' targets).
  void SetCursor(std::unique_ptr<TBRNCursor> NewCursor);
  // Expires when the current cursor goes (the value is freed or takes
  // another cursor): whoever left filters on the cursor learns from it,
  // without touching the value, whether they still exist.
  std::weak_ptr<const void> GetCursorToken() const { return cursorToken_; }

  TBRNLocalExprEvaluator* const Evaluator;
  TBRNExprToken* const Node;

 private:
  void closeCursor();
  void closeDatabase();

  // The database opened for this value (nullptr when none is open); it is
  // the context's current database or the one the node names.
  TBRNLocalDatabaseManager* database_ = nullptr;
  std::unique_ptr<TBRNCursor> Cursor;
  std::unique_ptr<TBRNCursorRow> Row;
  std::shared_ptr<const void> cursorToken_;
};

// The query manager of the derived table that node (a table reference)
// reads; nullptr for any other source. The cursor stays linked to the query
// that made it, live or not.
TBRNQueryManager* DerivedTableQueryOf(const TBRNExprToken* node);

// Starts a new execution for every query in root's tree (root included):
// their execution counts go to 0, so that a query built once per execution
// runs again at its next use. Nested blocks and procedural statements are
// left alone: each starts its own execution when it runs. Called on the
// session's thread.
void RestartQueryExecutions(TBRNExprToken* root);

}  // namespace brn
