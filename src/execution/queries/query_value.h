#pragma once

#include <memory>

#include "execution/queries/query_manager.h"
#include "foundation/values/contained_value.h"
#include "foundation/values/value_list.h"

namespace brn {

class TBRNCursor;
class TBRNCursorRow;
class TBRNExprToken;
class TBRNLocalExprEvaluator;
class TBRNMappedCursorColumns;

// The run-time value of a query node that is the following member of a set
// operation: it owns the query manager that runs the member (asked for a
// sensitive result). The value itself is never read as a scalar: it reads
// as a NULL of the node's type. Used by the session's thread only.
class TBRNQueryManagerValue : public TBRNReferenceValue, public TBRNQueryManagerHolder {
 public:
  // Typed like node; neither is owned (the node owns the value).
  TBRNQueryManagerValue(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node);
  ~TBRNQueryManagerValue() override;
  TBRNQueryManagerValue(const TBRNQueryManagerValue&) = delete;
  TBRNQueryManagerValue& operator=(const TBRNQueryManagerValue&) = delete;

  TBRNValue* GetReferencedValue() const override;
  TBRNQueryManager* GetQueryManager() const override { return manager_.get(); }

  // Prepares the query manager on the first call only.
  void EnsurePrepared();
  // Runs the query without a cursor or progress; answers whether the
  // execution completed.
  virtual bool Execute();

  TBRNLocalExprEvaluator& Evaluator;
  TBRNExprToken* const Node;

 protected:
  // A NULL typed like the node, for reads where there is no row.
  TBRNValue& detachedNull() const;

  std::unique_ptr<TBRNQueryManager> manager_;
  bool prepared_ = false;

 private:
  mutable std::unique_ptr<TBRNContainedValue> null_;
};

// The run-time value of every other subquery node (scalar and row
// subqueries, IN, NOT IN and EXISTS operands): it keeps the result cursor
// between executions, so a subquery evaluated once per outer row reuses or
// rebuilds one result in place. Reads as the first select column of the
// cursor's current row (its first row after an execution); NULL while there
// is no cursor or no row.
class TBRNQueryValue : public TBRNQueryManagerValue {
 public:
  TBRNQueryValue(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node);
  // Frees the IN columns and values, the row and the cursor, then the
  // query manager.
  ~TBRNQueryValue() override;

  TBRNValue* GetReferencedValue() const override;
  // The first time, executes with a new read-only cursor named after the
  // node; later, on the cursor it keeps. Then reads the cursor's first row.
  bool Execute() override;

  // The result cursor; nullptr before the first execution.
  TBRNCursor* GetCursor() const { return cursor_.get(); }
  // The cursor's current row; nullptr before the first execution.
  TBRNCursorRow* GetRow() const { return row_.get(); }
  // Once: the cursor columns of the visible select items in order, and a
  // key value list typed like them, for IN lookups. Needs the cursor.
  void PrepareInColumns();
  TBRNMappedCursorColumns* GetInColumns() const { return inColumns_.get(); }
  TBRNValues* GetInValues() const { return inValues_.get(); }

 private:
  void closeCursor() noexcept;

  std::unique_ptr<TBRNCursor> cursor_;
  std::unique_ptr<TBRNCursorRow> row_;
  std::unique_ptr<TBRNMappedCursorColumns> inColumns_;
  std::unique_ptr<TBRNValues> inValues_;
};

}  // namespace brn
