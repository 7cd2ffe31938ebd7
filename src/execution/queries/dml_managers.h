#pragma once

#include <memory>

#include "execution/queries/execution_manager.h"

namespace brn {

class TBRNCursorRow;
class TBRNCursorValue;
class TBRNQueryManager;

// The common frame of INSERT, UPDATE and DELETE: the statement node's
// target query (argument 0), its target table reference (the first FROM
// item, whose run-time value is a TBRNCursorValue writing the rows), the
// dynamic parameters, progress through the session and the plan.
//
// Every statement is all or nothing: its rows are written inside one table
// transaction of the target that is rolled back when a row fails, so the
// table reads as before and the caller gets the row's error. Stopping
// through the progress callback commits the rows changed so far.
//
// Threads: the thread of the session that owns the evaluator, one call at
// a time.
class TBRNDmlManager : public TBRNExecutionManager {
 public:
  // Node is the prepared SQL-statement node; both outlive the manager.
  TBRNDmlManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node, TBRNPlanVerb Verb);

  // Evaluates the FROM items (opening the target cursor).
  void Prepare() override;
  // Evaluates each node of the parameter list.
  void BeforeExecute() override;
  // Runs the statement; false when the progress callback stopped it.
  // RowsAffected and ExecutionTime hold the counts also after a failure.
  bool Execute() override;

  TBRNExprToken* GetTarget() const { return target_; }
  TBRNExprToken* GetTargetTable() const { return table_; }

  // Copied from the statement handle before each execution.
  bool RequestPlan = false;

 protected:
  // The statement's own rows, between the plan's target line and footer;
  // answers false when stopped.
  virtual bool executeRows(TBRNCursorValue& Target) = 0;
  // Flushes the table transaction every flush interval of changed rows.
  void countRow(TBRNCursorValue& Target, int32_t& Count);
  bool reportProgress(int64_t Done, int64_t Total);

  const TBRNPlanVerb verb_;
  TBRNExprToken* target_ = nullptr;
  TBRNExprToken* table_ = nullptr;
  int32_t flushInterval_ = 0;
};

// INSERT ... VALUES and INSERT ... SELECT.
class TBRNInsertManager : public TBRNDmlManager {
 public:
  TBRNInsertManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node);
  ~TBRNInsertManager() override;

  void Prepare() override;

  // The manager of INSERT ... SELECT (nullptr for VALUES).
  std::unique_ptr<TBRNQueryManager> Query;

 protected:
  bool executeRows(TBRNCursorValue& Target) override;

 private:
  void insertValues(TBRNCursorValue& Target, int32_t& Count);
  bool insertQuery(TBRNCursorValue& Target, int32_t& Count);
};

// UPDATE and DELETE share the walk over the rows their WHERE selects.
class TBRNFilteredDmlManager : public TBRNDmlManager {
 public:
  using TBRNDmlManager::TBRNDmlManager;

 protected:
  bool executeRows(TBRNCursorValue& Target) override;
  // Changes Row (the target's current row, or a copy of a row the walk has
  // left); answers whether it was written.
  virtual bool changeRow(TBRNCursorValue& Target, TBRNCursorRow& Row) = 0;
  // Whether a row is changed only after the walk has left it.
  virtual bool deferChange() const { return false; }

 private:
  // The filters of the target's own conditions, with their plan blocks.
  void prepareFilters();
  bool residualConditionsHold();
};

class TBRNUpdateManager : public TBRNFilteredDmlManager {
 public:
  TBRNUpdateManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node);

 protected:
  bool changeRow(TBRNCursorValue& Target, TBRNCursorRow& Row) override;
};

class TBRNDeleteManager : public TBRNFilteredDmlManager {
 public:
  TBRNDeleteManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node);

 protected:
  bool changeRow(TBRNCursorValue& Target, TBRNCursorRow& Row) override;
  // A deleted row moves the cursor to its neighbour.
  bool deferChange() const override { return true; }
};

// The executor of a prepared INSERT, UPDATE or DELETE statement node,
// nullptr for any other node.
std::unique_ptr<TBRNDmlManager> CreateDmlManager(TBRNLocalExprEvaluator& Evaluator,
                                                 TBRNExprToken* Node);

}  // namespace brn
