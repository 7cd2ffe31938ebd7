#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "foundation/text/string_builder.h"

namespace brn {

class TBRNCatalog;
class TBRNCursorValue;
class TBRNExprToken;
class TBRNLocalCursor;
class TBRNLocalExprEvaluator;
class TBRNQueryFilter;
class TBRNTableFileManager;

// The verb a plan header and footer name.
enum class TBRNPlanVerb : uint8_t { Query, Insert, Update, Delete };

// The common base of the statement executors (the query manager and the
// INSERT, UPDATE and DELETE managers): the session's evaluator, an
// evaluation context of its own, the statement node, the rows affected and
// the execution time, the plan text a client asks for, and the FROM sources
// of the statement with their query filters and nested-loop joins.
//
// The plan is a list of CR LF separated lines; every writer below adds
// whole lines. The sources are the FROM items of the query node (the query
// node of a SELECT, the target query node of a DML statement): each one's
// run-time value is a TBRNCursorValue whose row entry in Context's
// CurrentRows is the table reference's row source, so column references of
// the prepared tree read the current joined rows.
//
// Threads: used by the thread of the session that owns the evaluator, one
// call at a time.
class TBRNExecutionManager {
 public:
  // Node is the query node for a query, the SQL-statement node for INSERT,
  // UPDATE and DELETE; neither it nor Evaluator is owned, both outlive the
  // manager. Context's default and current database are the current
  // database of the evaluator's current evaluator context (else of its
  // session context) at construction; its events report to the session.
  TBRNExecutionManager(TBRNLocalExprEvaluator& Evaluator, TBRNExprToken* Node);
  virtual ~TBRNExecutionManager();
  TBRNExecutionManager(const TBRNExecutionManager&) = delete;
  TBRNExecutionManager& operator=(const TBRNExecutionManager&) = delete;

  // ---- Execution steps (overridden by the executors)
  // Appends one line (CR LF before it unless the plan is empty); with Wrap
  // the text is first wrapped at 80 columns after a blank or a comma.
  virtual void AddPlanLine(std::string_view Text, bool Wrap = true);
  virtual void ClearPlan();
  // Empty here.
  virtual void Prepare();
  // Empty here: the executors bring their dynamic parameters up to date.
  virtual void BeforeExecute();
  // RowsAffected and ExecutionTime become 0, BeforeExecute runs; false.
  virtual bool Execute();

  // The catalog of Context's current database; std::logic_error without one.
  TBRNCatalog& GetCatalog() const;
  std::string GetPlanText() const { return Plan->GetText(); }
  void SetPlanText(std::string_view Text);

  // ---- Plan writers (execution_manager.cpp)
  void AddDoubleRule();
  void AddSingleRule();
  // The title, a line of "-" as long as it, an empty line.
  void AddSectionTitle(std::string_view Title);
  // Lines 1 to 5 of a query or DML header (double rule, the verb's "SQL ...
  // (Executed by ...)" line, the note, double rule, the SQL text of the
  // statement node in multi-line plan form, an empty line). With
  // SetMember (a set-operation member other than the first) only the SQL
  // text and its empty line. A query with a FROM list then gets the
  // "Source Tables" title.
  void WritePlanHeader(TBRNPlanVerb Verb, bool SetMember = false);
  // DML: "Target Table", the target's name, ": ", RowCount, " rows", an
  // empty line.
  void WriteTargetTablePlan(std::string_view TableName, int64_t RowCount);
  // One source-table line: name, " (correlation)" when there is one,
  // ": ", the row count of its cursor before filtering, " rows".
  void WriteSourceTablePlan(TBRNExprToken* Table);
  // The result-set section. Sensitive: IndexName is the cursor's active
  // index name ("" none: natural order, as are the four internal ones).
  // Insensitive: OneRow for an aggregate-only select list without GROUP BY.
  void WriteSensitiveResultPlan(std::string_view IndexName);
  void WriteInsensitiveResultPlan(bool OneRow);
  // "The following filter condition was applied to the <title> table:",
  // the filter's plan text between empty lines. TableTitle is the name with
  // " (correlation)" for a query, the target name alone for DML.
  void WriteFilterPlan(std::string_view TableTitle, TBRNQueryFilter& Filter);
  // The filter's condition with its index-use notes (cost notes when the
  // filter estimated costs), in multi-line form.
  static std::string FilterPlanText(TBRNQueryFilter& Filter);
  // A condition evaluated on generated rows, as SQL between empty lines.
  void WriteResidualConditionPlan(TBRNExprToken* Condition);
  // "Result set I/O statistics": rows visited, then one block per buffer
  // manager given (rows file, index file, BLOB file when there is one).
  void WriteIOStatisticsPlan(int64_t RowsVisited,
                             const std::vector<TBRNTableFileManager*>& ResultFiles);
  // The following query's whole plan appended between single rules under
  // "Merged Query Plan" (no wrapping).
  void WriteMergedPlan(std::string_view FollowingPlan);
  // Double rule, "<n> row(s) <verb> in <secs> secs" (with the "The
  // execution was aborted, " prefix when Aborted), double rule, empty line,
  // from RowsAffected and ExecutionTime.
  void WritePlanFooter(TBRNPlanVerb Verb, bool Aborted);
  // Puts the "Cached Execution Plan" header before the current plan text.
  void WriteCachedPlanHeader();
  // The text a table is named by in the plan: name, " (correlation)".
  static std::string TablePlanTitle(const TBRNExprToken* Table);

  // ---- FROM sources (query_sources.cpp)
  // The FROM list of QueryNode (the manager's Node for a query; the DML
  // managers pass their target query node); nullptr without FROM.
  static TBRNExprToken* FromList(TBRNExprToken* QueryNode);
  // The FROM item's value, created on first use; OpenSource also opens or
  // refreshes its cursor, reads its first row and enters the row in
  // Context's CurrentRows at the item's row source. The tree must have
  // been prepared (row sources numbered).
  TBRNCursorValue& SourceValue(TBRNExprToken* Table);
  TBRNCursorValue& OpenSource(TBRNExprToken* Table);
  // The local cursor of an opened FROM item; std::logic_error when the
  // item has no local cursor.
  TBRNLocalCursor& SourceCursor(TBRNExprToken* Table);

  // The full source step of an insensitive build over QueryNode's FROM
  // list: opens every item, writes the source lines (WritePlan), calls
  // WriteResultPlan, makes the table filters and their plan blocks, the
  // residual condition blocks, and with several items orders the joins
  // (unless NOJOINOPTIMIZE) and makes the join filters; finally every
  // table filter is active. Sets EncryptResult. A FROM item that no join
  // reaches (its join conditions all concerned it alone) is joined to the
  // driver in the comma form first. The query filters made here are
  // dropped by the next build and by the destructor.
  virtual void PrepareSources(TBRNExprToken* QueryNode, bool WritePlan);
  // Called by PrepareSources where the result-set section belongs (after
  // the source lines, only with WritePlan). Base: nothing.
  virtual void WriteResultPlan() {}
  // Reorders the INNER joins of QueryNode's FROM list so that the smallest
  // (filtered) table drives; true when the order changed.
  bool OptimizeJoinOrder(TBRNExprToken* QueryNode);
  // The nested-loop iteration from Table (a FROM item; the first one is the
  // driver): positions Table and every table joined below it on the first,
  // then the next combination. Continue is cleared when the session's
  // progress callback asks to stop (checked per driver row only with
  // ReportProgress); every loop stops when it is false.
  bool FirstJoinedRow(TBRNExprToken* Table, bool ReportProgress, bool& Continue);
  bool NextJoinedRow(TBRNExprToken* Table, bool ReportProgress, bool& Continue);

  // Query filters remembered per condition or join node, so that a filter
  // is made once per build and activated many times.
  // Makes an inactive query filter for Condition on Table's cursor (column
  // references of other tables become outer references) and remembers it
  // for Owner (the condition node, or the join node for an ON condition).
  TBRNQueryFilter& AddSourceFilter(TBRNExprToken* Owner, TBRNExprToken* Table,
                                   TBRNExprToken* Condition, bool EstimateCosts);
  // The filter remembered for Owner, nullptr when none (or its cursor is gone).
  TBRNQueryFilter* FindSourceFilter(const TBRNExprToken* Owner) const;
  // Activates it again (a join filter: rebuilds it for the current rows of
  // the tables to its left).
  void ActivateSourceFilter(const TBRNExprToken* Owner);
  // A join filter built for the current rows of the tables to its left,
  // its cursor left on no row: the caller's next move is FirstRow.
  void RekeySourceFilter(const TBRNExprToken* Owner);
  // Drops every remembered filter from its cursor and forgets them all.
  void DropSourceFilters();

  // ---- Fields
  TBRNLocalExprEvaluator& Evaluator;
  std::unique_ptr<TBRNEvaluatorContext> Context;
  TBRNExprToken* const Node;
  std::unique_ptr<TBRNStringBuilder> Plan;
  int32_t RowsAffected = 0;
  // Milliseconds.
  int32_t ExecutionTime = 0;
  // Some FROM table is encrypted (set by PrepareSources).
  bool EncryptResult = false;
  // Joined source rows visited by FirstJoinedRow and NextJoinedRow since
  // the caller last reset it (the plan's "Total rows visited").
  int64_t RowsVisited = 0;

 private:
  struct TSourceFilter {
    TBRNLocalCursor* Cursor = nullptr;
    // Expired once the cursor is gone (and its filters with it).
    std::weak_ptr<const void> CursorToken;
    int32_t Handle = 0;
    TBRNQueryFilter* Filter = nullptr;
  };

  // A FROM item no join reaches joins the driver in the comma form.
  void attachLooseSources(TBRNExprToken* QueryNode);
  // The first (or next) row of Table whose status is live; false at the
  // end (the row then reads NULL).
  bool readableRow(TBRNExprToken* Table, bool First);
  // Step 4 of the first joined row: from Table's current row on, the first
  // one for which every join finds its rows.
  bool scanForJoinedRow(TBRNExprToken* Table, bool ReportProgress, bool& Continue);
  bool checkProgress();
  bool joinTable(TBRNExprToken* Join, bool ReportProgress, bool& Continue);
  bool joinAll(TBRNExprToken* Table, bool ReportProgress, bool& Continue);
  bool advanceJoin(TBRNExprToken* Table, int32_t JoinIndex, bool ReportProgress, bool& Continue);
  void writeJoinDescription(TBRNExprToken* QueryNode);
  // The level and cost of the joins below Table in the current order.
  void estimateJoinCost(TBRNExprToken* Table, bool UseCosts, int32_t& Level, double& Cost);
  void makeJoinFilters(TBRNExprToken* QueryNode, bool WritePlan, bool EstimateCosts);
  // The join order is chosen by rewriting the FROM list in place. The
  // first build records the order as declared (loose sources attached);
  // every later build puts it back first, so that it neither starts from
  // nor reports the order an earlier build chose for other table sizes.
  void restoreDeclaredJoins(TBRNExprToken* From);

  // The FROM list From as declared: its items with their numbers and join
  // lists, and every join with the table it joins (a join whose table
  // differs now was turned around, its comparisons mirrored).
  struct TDeclaredJoins {
    const TBRNExprToken* From = nullptr;
    std::vector<TBRNExprToken*> Items;
    std::vector<int32_t> Indexes;
    std::vector<std::vector<TBRNExprToken*>> JoinLists;
    std::vector<TBRNExprToken*> Joins;
    std::vector<TBRNExprToken*> JoinTables;
    std::vector<int32_t> Operations;
  };
  TDeclaredJoins declaredJoins_;

  std::unordered_map<const TBRNExprToken*, TSourceFilter> sourceFilters_;
};

}  // namespace brn
