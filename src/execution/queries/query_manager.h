#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/query_cursor_link.h"
#include "execution/queries/execution_manager.h"
#include "storage/cursors/cursor.h"
#include "storage/tables/table_manager.h"

namespace brn {

class TBRNBaseTable;
class TBRNCursor;
class TBRNCursorRow;
class TBRNExprToken;
class TBRNLocalCursor;
class TBRNLocalDatabaseManager;
class TBRNQueryManager;
class TBRNRowsetRow;
class TBRNRowsetRowValues;
class TBRNSchemaObjectManager;
class TBRNVirtualTableManager;

// Implemented by the run-time values of query nodes that own a query manager
// (subqueries, derived tables, the following member of a set operation), so
// that an enclosing query finds the manager to collect its tables from and
// to execute.
class TBRNQueryManagerHolder {
 public:
  virtual ~TBRNQueryManagerHolder() = default;
  // The owned manager; nullptr before it is made.
  virtual TBRNQueryManager* GetQueryManager() const = 0;
};

// The answer of PrepareResultSet.
enum class TBRNResultAction : uint8_t { Build, Reuse };

// Executes one query node (a SELECT, a subquery, a derived table, a member
// of a set operation, the query of INSERT ... SELECT or CREATE TABLE ... AS)
// and keeps its result between executions: either a live cursor on the one
// source table filtered by the WHERE condition (sensitive), or the rows
// materialised into a temporary result table (insensitive) that a later
// execution reuses while no referenced table changed.
//
// Life: constructed (the rebuild policy is fixed then), Prepare once,
// ExecuteQuery many times; the result table lives until the manager is
// freed. The result cursor and the manager point at each other: closing the
// cursor clears ResultCursor (CursorClosed), freeing the manager frees a
// cursor still registered in its database (ReleaseResultCursor).
//
// Threads: used by the thread of the session that owns the evaluator, one
// call at a time.
class TBRNQueryManager : public TBRNExecutionManager, public TBRNQueryCursorLink {
 public:
  // Node is the query node (kind tkQuery); neither is owned.
  TBRNQueryManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node);
  // ReleaseAllCursors, then drops the result (see the class comment);
  // never raises.
  ~TBRNQueryManager() override;

  // ---- Execution steps
  // Prepares the run-time values of the tree, evaluates every FROM item
  // once (opening its cursor), prepares the following query of a set
  // operation and collects the referenced tables.
  void Prepare() override;
  // Evaluates the dynamic-parameter list.
  void BeforeExecute() override;
  // Writes the result-set section when PrepareSources asks for it.
  void WriteResultPlan() override;

  // Runs the query: decides between building and reusing the result,
  // builds it, and with CreateCursor answers the result cursor in Cursor
  // (nullptr with INTO). Without CreateCursor a sensitive query re-applies
  // its filter to Cursor when one is given. Built is true when the result
  // was (re)built. Answers false when the progress callback stopped the
  // build (the rows built so far stay, Built stays false). A failure frees
  // the cursor made by this call and passes on.
  bool ExecuteQuery(bool CreateCursor, const std::string& CursorName, bool ReportProgress,
                    bool& Built, TBRNCursor*& Cursor, bool Indexed, bool ReadOnly);
  // The result cursor (registered in Database's cursors, which own it), or
  // nullptr when nothing is prepared.
  virtual TBRNCursor* OpenResultCursor(const std::string& CursorName, bool ReadOnly, bool Indexed);
  // Frees ResultCursor while its handle is still registered in Database.
  void ReleaseResultCursor() noexcept;
  // Every cursor this manager opened and that is still open: the ones
  // registered in Database are freed (a cursor on the result cannot outlive
  // the result table), the others forget the manager. The destructor calls
  // it.
  void ReleaseAllCursors() noexcept;
  // Closes ResultTable (the view manager calls it when it closes).
  void CloseResultTable();

  // What one result build may hold in memory (row images, values and keys,
  // estimated): the groups of a GROUP BY build, beyond which the build goes
  // on in the result table (which takes the groups found so far), and the
  // first rows of an ordered RANGE, beyond which every row is written.
  // Process-wide; may be called from any thread, a change applies to the
  // builds that start afterwards.
  static void SetBuildMemoryLimit(int64_t Bytes);
  static int64_t GetBuildMemoryLimit();

  // ---- Source tracking
  // Adds a referenced table once; a manager collecting for another query
  // passes it on to its own receiver.
  void AddReferencedTable(TBRNVirtualTableManager* Table);
  // Refreshes every referenced table (HasChanged(true)) and answers whether
  // any of them changed since the last build: another writer, or a change
  // count or identity that differs from the one recorded.
  bool SourcesChanged();
  // The sum of the referenced tables' change counts (what a cursor on the
  // result compares to see a change).
  int64_t ReferencedChangeCount();

  // ---- TBRNQueryCursorLink
  bool IsSensitiveResult() const override { return Sensitive; }
  bool CheckSensitiveSources() override;
  void LoadQueryRow(TBRNCursorRow& Row) override;
  void CursorClosed(TBRNCursor& Cursor) noexcept override;

  // ---- Fields (copied in by the caller before each execution)
  bool RequestSensitive = false;
  bool Constrained = false;
  bool RequestPlan = false;

  int32_t RangeStart = 1;
  int32_t RangeEnd = -1;
  int32_t BuiltRangeEnd = -1;

  bool Sensitive = false;
  bool SensitiveOrdered = false;
  int32_t SensitiveIndex = -1;

  // Rebuild policy, fixed by the constructor.
  bool RebuildAlways = false;
  bool RebuildOncePerStatement = false;
  bool RebuildPerCursor = false;
  // Reset to 0 by the statement handle before each statement execution.
  int32_t ExecutionCount = 0;

  // Query shape, fixed at the first execution.
  bool NoFrom = false;
  bool HasInto = false;
  bool HasGroupBy = false;
  bool HasOrderBy = false;
  bool IsDistinct = false;
  bool HasFollowingQuery = false;
  bool IsSetMember = false;
  bool AggregatesOnly = false;
  bool IndexedAggregate = false;
  bool HasRange = false;

  // The database of the source table (sensitive) or of the result table;
  // opened by this manager (nullptr while not).
  TBRNLocalDatabaseManager* Database = nullptr;
  // The manager of the sensitive source table or of the result table (one
  // user held by this manager); nullptr before the first execution.
  TBRNVirtualTableManager* ResultTable = nullptr;
  // The result table's definition (owned by Database's temporary tables,
  // or the predefined one).
  TBRNBaseTable* ResultDefinition = nullptr;
  // Given by CREATE TABLE ... AS (not owned); FillPredefined: WITH DATA.
  TBRNBaseTable* PredefinedDefinition = nullptr;
  bool FillPredefined = false;
  // The last result cursor while it stays open (not owned).
  TBRNCursor* ResultCursor = nullptr;
  // The result table index that orders an insensitive result (-1 none).
  int32_t ResultIndex = -1;

  bool Building = false;
  bool Built = false;
  bool ExtendRange = false;

  // Receives the tables that nested queries report; this manager's own
  // AddReferencedTable unless an enclosing query installed its receiver.
  std::function<void(TBRNVirtualTableManager*)> OnTableReferenced;

  bool WritePlan = false;
  bool PlanCached = false;

 public:
  // One referenced table with what was recorded at the last build.
  struct TReferencedTable {
    TBRNVirtualTableManager* Manager = nullptr;
    // The catalog object the manager serves and its ID: a dropped and
    // re-created table is another table even when its counts sum as before.
    const void* Identity = nullptr;
    int32_t ObjectID = 0;
    int64_t ChangeCount = 0;
  };

 protected:
  TBRNResultAction PrepareResultSet(bool CreateCursor);
  // The insensitive build (see the class comment); answers its completion
  // flag.
  bool BuildResultSet(bool ReportProgress);
  // MoveFirst false leaves the cursor where the filter left it, for a
  // caller that positions it itself right afterwards.
  void OpenSensitiveResult(TBRNCursor& Cursor, bool MoveFirst = true);
  void CheckScalarResult(TBRNCursor& Cursor);
  void AssignIntoTargets(TBRNCursor& Cursor);

 public:
  // The tables whose changes make the result stale, with what was recorded
  // of each at the last build.
  std::vector<TReferencedTable> ReferencedTables;

 private:
  class TBuild;
  friend class TBuild;

  void fixRebuildPolicy();
  void collectReferencedTables();
  void walkForTables(TBRNExprToken* Node);
  void recordChangeCounts();
  // ResultTable is still one of Database's managers.
  bool resultTableAlive() const;
  void evaluateRange();
  void createResultTable(bool CreateCursor);
  void emptyResultTable();
  void dropResult() noexcept;
  void closeDatabase() noexcept;
  TBRNQueryManager* followingManager();
  void buildSensitiveColumns(TBRNCursor& Cursor);
  void linkCursor(TBRNCursor& Cursor);
  int32_t findResultIndex(const char* Name) const {
    return ResultTable != nullptr ? findResultIndexOf(*ResultTable, Name) : -1;
  }
  static int32_t findResultIndexOf(TBRNVirtualTableManager& Table, const char* Name);
  // How many rows in "__OrderBy" order a plain build keeps: the RANGE end
  // when only the result cursor of this execution can show rows beyond it
  // (a top-level ordered query, no other cursor on the result open); -1
  // for every row.
  int32_t topRowsLimit() const;

  // The cursors opened by OpenResultCursor that are still open.
  std::vector<TBRNCursor*> linkedCursors_;
  // The following member's manager when its node's value does not hold one.
  std::unique_ptr<TBRNQueryManager> ownedFollowing_;
  // Select items that are computed into a sensitive cursor's row: the
  // item node and the table column position it fills.
  std::vector<std::pair<TBRNExprToken*, int32_t>> sensitiveComputed_;
  TBRNExprToken* sensitiveSource_ = nullptr;
  // The query filters made on sensitive cursors by the last execution.
  std::vector<std::pair<TBRNLocalCursor*, TBRNFilterHandle>> sensitiveFilters_;
  bool prepared_ = false;
  bool resultOpened_ = false;
  // The rows the last plain build kept when it kept only the first ones in
  // order (-1: every row): a later execution whose RANGE ends beyond them
  // builds again.
  int32_t topRowsKept_ = -1;
};

// The manager of a query's temporary result table: a table manager whose
// change count, while its query is not building, is the sum of the query's
// referenced tables' counts, and whose HasChanged runs the query again.
class TBRNQueryResultTableManager : public TBRNTableManager {
 public:
  TBRNQueryResultTableManager(TBRNTableEnvironment& Environment, TBRNBaseTable* Table);

  int64_t GetChangeCount() override;
  // With a query that is not building and Refresh (or a view's query):
  // executes the query again without a cursor and answers whether the
  // result was rebuilt; otherwise false.
  bool HasChanged(bool Refresh) override;

  // The owning query manager (nullptr for a predefined definition); set
  // by the query manager when it opens the table.
  TBRNQueryManager* QueryManager = nullptr;
  // Set for the result tables of view queries.
  bool ViewQuery = false;
};

}  // namespace brn
