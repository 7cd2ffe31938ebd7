#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "execution/evaluator/evaluator_context.h"
#include "foundation/values/value_list.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/object_kind.h"
#include "storage/rows/execution_seam.h"

namespace brn {

class TBRNLocalExprEvaluator;
class TBRNLocalSessionManager;

// The verbs whose statements name an object kind (TBRNObjectKind in the
// node's Variant); each has a row of 17 entries in the handler table.
enum TBRNObjectVerb : uint8_t {
  ovCreate = 0,
  ovAlter = 1,
  ovDrop = 2,
  ovRename = 3,
  ovEnable = 4,
  ovDisable = 5,
  ovReset = 6,
};

// A statement handler: runs the statement node on the evaluator and
// answers nullptr when the statement completed, or a pending transfer of
// control (a LEAVE, ITERATE, RETRY or RAISE node) that the enclosing block
// resolves. SQL statement handlers always answer nullptr. A handler logs
// its own failure with its operation code before raising it again.
using TBRNStatementHandler = TBRNExprToken* (*)(TBRNLocalExprEvaluator& evaluator,
                                                TBRNExprToken* node);

// The handler table: 193 entries, nullptr where a statement has no handler.
//  - entries 0..73: statement codes 182..255 (entry = code - 182); 182..214
//    are the procedural statements, 215..255 the SQL statements;
//  - entries 74..192: seven rows of 17, one per TBRNObjectVerb, indexed by
//    the object kind 1..17: entry = 73 + 17 x verb + kind.
// The entries of the seven verb codes (CREATE 220, ALTER 215, DROP 225,
// RENAME 240, ENABLE 227, DISABLE 223, RESET 243) are the evaluator's
// dispatchers, which the evaluator writes itself after the filler ran.
class TBRNStatementHandlers {
 public:
  static constexpr int32_t FirstStatementCode = 182;
  static constexpr int32_t LastStatementCode = 255;
  static constexpr int32_t KindCount = 17;
  static constexpr int32_t VerbCount = 7;
  static constexpr int32_t EntryCount = 74 + VerbCount * KindCount;  // 193

  // The entry of a statement code; -1 outside 182..255.
  static int32_t StatementEntry(int32_t code);
  // The entry of a (verb, kind) pair; -1 for a kind outside 1..17.
  static int32_t VerbEntry(TBRNObjectVerb verb, int32_t kind);
  // The verb of a statement code; false when the code is not one of the
  // seven verb statements.
  static bool VerbOfCode(int32_t code, TBRNObjectVerb& verb);

  // Writers for the filler; std::out_of_range outside the table.
  void SetStatement(TBRNExprOperation code, TBRNStatementHandler handler);
  void SetVerb(TBRNObjectVerb verb, TBRNObjectKind kind, TBRNStatementHandler handler);
  // Readers; nullptr for an empty entry or one outside the table.
  TBRNStatementHandler Statement(int32_t code) const;
  TBRNStatementHandler Verb(TBRNObjectVerb verb, int32_t kind) const;
  TBRNStatementHandler Entry(int32_t entry) const;

  std::array<TBRNStatementHandler, EntryCount> Entries{};
};

// Fills the handler table, step by step: procedural statements, SQL
// statements, then the CREATE, ALTER, DROP, RENAME, ENABLE, DISABLE and
// RESET rows. Entries it does not write stay nullptr.
using TBRNStatementHandlerFiller = void (*)(TBRNStatementHandlers& handlers);

// The evaluator of a local session, the one object through which every
// statement handle, procedure and script handle, query and DML manager,
// filter, trigger, constraint and computed column of the session evaluates
// its trees. To the syntax-tree evaluator it adds the run-time values of
// nodes (the value factory, CreateTokenValue), the handler table through
// which statements run, the current context and the stack of saved node
// values that lets a block or routine be entered again while an outer
// activation of the same tree still holds values.
//
// Contexts: every evaluation runs between SwapContext and RestoreContext,
// done by TBRNEvaluationScope only; after any top-level call the previous
// context (normally none) is current again, also after an exception at any
// depth. The current context may be a plain TBRNEvaluationContext (storage
// evaluating a column or constraint): GetEvaluatorContext then answers
// nullptr, and the session state (step hook, RunState) is absent.
//
// Threads: used by the thread that holds its session, one at a time. The
// only state another thread touches is a context's RunState.
class TBRNLocalExprEvaluator : public TBRNExprEvaluator, public TBRNExpressionEvaluator {
 public:
  // session may be nullptr (an evaluator without a session: nothing that
  // needs one may run); it outlives the evaluator. filler may be nullptr
  // (an empty table). The evaluator's own SessionContext reports to the
  // session's progress and messages.
  TBRNLocalExprEvaluator(bool standardNullBehavior, TBRNLocalSessionManager* session,
                         TBRNStatementHandlerFiller filler);
  // Frees the saved values still on the stack.
  ~TBRNLocalExprEvaluator() override;

  // ---- Contexts (the storage seam)
  // Makes context current (nullptr allowed) and answers the previous one;
  // CurrentRows follows the context's rows.
  TBRNEvaluationContext* SwapContext(TBRNEvaluationContext* context) override;
  void RestoreContext(TBRNEvaluationContext* previous) override;
  // The current context; nullptr when none.
  TBRNEvaluationContext* GetContext() const { return context_; }
  // The current context when it is an evaluator context, else nullptr.
  TBRNEvaluatorContext* GetEvaluatorContext() const { return evaluatorContext_; }
  // The session's own context, owned by the evaluator (the session cannot
  // name this class): its events report to the session; its database fields
  // stay unset until whoever runs work in it sets them.
  TBRNEvaluatorContext& SessionContext() { return *sessionContext_; }
  // nullptr for an evaluator made without a session.
  TBRNLocalSessionManager* GetSession() const { return session_; }

  // ---- Trees (the storage seam)
  // Prepares Root (preparing a prepared tree changes nothing) and evaluates
  // it in the current context; the result is Root->Value.
  void EvaluateExpression(TBRNExprToken* root) override;
  // Runs a procedure, function, job, trigger or script body: routine is
  // the routine's root (its body block is argument 5) or the body block
  // itself. Clears RunState, RetryRequested and Aborted, runs the block and,
  // when it completes, RestoreDefaultDatabase. In a plain context (a
  // trigger's or a job's) the body runs in an evaluator context of its own
  // that takes over the plain one's rows and trigger fields; ABORT and
  // RETRY come back as its TriggerAbort and TriggerRetry.
  void ExecuteRoutine(TBRNExprToken* routine) override;
  // SaveTokenValue / RestoreTokenValue.
  void PushTokenValue(TBRNExprToken* token) override { SaveTokenValue(token); }
  void PopTokenValue(TBRNExprToken* token) override { RestoreTokenValue(token); }

  // ---- Statements
  // The entry of statement handles for every SQL statement other than
  // DELETE, INSERT, UPDATE and SELECT: runs the handler of the node's
  // operation code. No step notification, no RunState check; the handler's
  // exceptions pass unchanged. A code without a handler raises the internal
  // error 9999 (never a standard exception).
  void ExecuteStatement(TBRNExprToken* node);
  // The entry of the block runner for every statement of a block except
  // nested blocks. CASE, IF and WHILE go to their handlers directly (they
  // report their conditions through EvaluateStepExpression). Every other
  // statement: NotifyStep(node, nullptr); in a stopped context answers
  // nullptr without running it; otherwise starts a new execution of the
  // statement's queries, runs the handler and answers its result; when the
  // handler raises, NotifyStep(node, &error) and the same exception passes
  // on.
  TBRNExprToken* ExecuteProceduralStatement(TBRNExprToken* node);
  // The conditions of CASE, IF, WHILE and REPEAT: NotifyStep(node, nullptr);
  // in a stopped context nothing is evaluated; otherwise starts a new
  // execution of the condition's queries and Evaluate(node), and
  // on an exception NotifyStep(node, &error) before it passes on.
  void EvaluateStepExpression(TBRNExprToken* node);
  // Calls the current evaluator context's OnStep when both exist.
  void NotifyStep(TBRNExprToken* node, const std::exception* error);
  // The verb dispatchers: run the entry of the node's object kind (Variant)
  // in the verb's row and answer its result. A kind without a handler
  // raises the internal error 9999.
  TBRNExprToken* ExecuteCreate(TBRNExprToken* node);
  TBRNExprToken* ExecuteAlter(TBRNExprToken* node);
  TBRNExprToken* ExecuteDrop(TBRNExprToken* node);
  TBRNExprToken* ExecuteRename(TBRNExprToken* node);
  TBRNExprToken* ExecuteEnable(TBRNExprToken* node);
  TBRNExprToken* ExecuteDisable(TBRNExprToken* node);
  TBRNExprToken* ExecuteReset(TBRNExprToken* node);
  // The table (read only).
  const TBRNStatementHandlers& GetHandlers() const { return handlers_; }

  // ---- Values
  // Gives node its run-time value by its kind (the value factory); a node
  // that has a value keeps it.
  void CreateTokenValue(TBRNExprToken* node) override;
  // Binds what must exist before the first evaluation: dynamic parameter
  // references get their values (so parameters can be set before
  // execution); a USE statement runs at once, so that names after it
  // resolve in the used database.
  void PrepareNode(TBRNExprToken* node) override;
  // Pushes node's value on the saved values and leaves node without one, so
  // that the next evaluation creates a fresh value.
  void SaveTokenValue(TBRNExprToken* node);
  // Frees node's value and gives it the value on top of the saved values;
  // with an empty stack nothing happens. Calls pair with SaveTokenValue,
  // last saved first restored.
  void RestoreTokenValue(TBRNExprToken* node);
  // Evaluates each argument of node in order.
  void EvaluateArguments(TBRNExprToken* node);
  // Number of saved values (for tests and assertions).
  int32_t SavedValueCount() const { return savedValues_.GetCount(); }

  // ---- Run-time attributes of the current context
  // ABORTED(): the evaluator context's Aborted (FALSE without one).
  void GetAborted(TBRNExprToken* node) override;
  // LOADINGUPDATES(): the context's LoadingUpdates (FALSE without one).
  void GetLoadingUpdates(TBRNExprToken* node) override;
  // CARDINALITY(array): the highest element position in use, 0 when none.
  void GetCardinality(TBRNExprToken* node) override;

  // ---- Aggregates, the block runner and session facts
  // The aggregate hooks fold the current row into the accumulator, the
  // aggregate node's value (a cell of the context's ResultRow). The values a
  // DISTINCT aggregate or LIST ORDERED has seen are kept per group row, the
  // context's ResultGroupRow. A NULL argument is skipped (COUNT turns a
  // NULL accumulator into 0 first). Integer, Decimal and interval sums that
  // leave the accumulator's type raise the out-of-range error.
  void AggregateCount(TBRNExprToken* node) override;
  void AggregateList(TBRNExprToken* node) override;
  void AggregateMax(TBRNExprToken* node) override;
  void AggregateMin(TBRNExprToken* node) override;
  void AggregateSum(TBRNExprToken* node) override;
  void AggregateSumSquares(TBRNExprToken* node) override;

  // The block runner. Needs a current evaluator context (std::logic_error
  // otherwise); ExecuteRoutine provides one.
  // Creates the values of the declared names, in declaration order (each
  // name's previous value saved); a failure undeclares what it declared.
  void DeclareAll(TBRNExprToken* declarations);
  // Gives every declared name its saved value back, in reverse order. The
  // statement of a cursor declared WITH RETURN keeps the value of the
  // outermost activation of its block, for the handle to take afterwards.
  void UndeclareAll(TBRNExprToken* declarations);
  // Runs the statements of list in order; answers nullptr or a pending
  // transfer (LEAVE, ITERATE, RETRY or RAISE node) that ends the enclosing
  // blocks. A transfer whose target is the block that owns list ends here.
  // reraise: a RAISE without code ran while an error is being handled.
  TBRNExprToken* ExecuteStatementList(TBRNExprToken* list, bool& reraise);
  // Runs one block with its declarations, RETURN, FINALLY and EXCEPTION
  // sections; answers nullptr or a pending transfer. An EXCEPTION section
  // handles engine errors (EBRNException) only; while it runs, ERRORCODE
  // and ERRORMSG report that error, and after it they report the error of
  // the enclosing handler (0 and empty text outside any).
  TBRNExprToken* ExecuteBlock(TBRNExprToken* block);
  // Raises the error being handled again (a new EBRNException with its
  // code, message, line and column); nothing when none is.
  void RaiseCurrentError();

  // ERRORCODE (0 outside a handler) and ERRORMSG (empty text).
  void GetErrorInfo(TBRNExprToken* node) override;
  // OPERATION: "Insert", "Update" or "Delete" in a trigger; unchanged
  // elsewhere.
  void GetOperation(TBRNExprToken* node) override;
  // CURRENT_VERSION: 2.14.
  void GetCurrentVersion(TBRNExprToken* node) override;
  // CURRENT_COMPUTER: the computer name of the engine's environment.
  void GetCurrentComputer(TBRNExprToken* node) override;
  // CURRENT_DATABASE: the context's current database name (empty without).
  void GetCurrentDatabase(TBRNExprToken* node) override;
  // CURRENT_USER: the session's user name (empty without a session).
  void GetCurrentUser(TBRNExprToken* node) override;
  // INTRANSACTION(): whether the current database is in a transaction.
  // INTRANSACTION(table): whether that table of the current database's
  // default schema takes part in the transaction (FALSE for no table).
  void GetInTransaction(TBRNExprToken* node) override;
  // LASTIDENTITY(table, column): the last identity value given to that
  // column; 0 for a missing table or column or one that is no identity
  // column.
  void GetLastIdentity(TBRNExprToken* node) override;

  // ---- Stored routines
  // A user-defined function in an expression: evaluates the arguments, then
  // runs the function through the node's routine value (routine_values.h),
  // whose value is the function's result.
  void CallFunction(TBRNExprToken* node) override;
  // BOF, EOF, COLUMNCOUNT, COLUMNNAME, ROWCOUNT and SENSITIVE of a declared
  // cursor, which must be open (1000 "An attempt was made to access a
  // closed cursor"); ROWSAFFECTED and STMTRESULT of a declared statement,
  // which must be prepared (900).
  void GetCursorAttribute(TBRNExprToken* node) override;
  void GetStatementAttribute(TBRNExprToken* node) override;

  // ---- Subqueries and table references
  // Runs the subquery value of node (TBRNQueryValue or the set member's
  // TBRNQueryManagerValue).
  void EvaluateQuery(TBRNExprToken* node) override;
  // Opens or refreshes the table reference's cursor and reads its first
  // row (TBRNCursorValue::OpenTableReference).
  void EvaluateTableReference(TBRNExprToken* node) override;
  // After the subquery ran: looks the left value (or the members of a left
  // row value, in order) up among the subquery's visible columns, under the
  // left operand's case-insensitivity and the IN node's partial length;
  // TRUE or FALSE into the predicate's value.
  void EvaluateInQuery(TBRNExprToken* valueNode, int32_t partialLength,
                       TBRNExprToken* predicateNode, TBRNExprToken* queryNode) override;
  // TRUE when the subquery's result cursor exists and has a row.
  void EvaluateExists(TBRNExprToken* queryNode, TBRNExprToken* functionNode) override;
  // CONTAINS and CONTAINS ANY on the current row: the search text's words
  // against the column value's words, both built by the column's text
  // index. FALSE when the column's base table has no text index for it or
  // the search text holds no word.
  void EvaluateContains(TBRNExprToken* valueNode, TBRNExprToken* searchNode,
                        TBRNExprToken* predicateNode) override;
  void EvaluateContainsAny(TBRNExprToken* valueNode, TBRNExprToken* searchNode,
                           TBRNExprToken* predicateNode) override;
  // The table a text-search column belongs to: the context's
  // TextSearchTable for an unqualified column when there is one, else the
  // table or view its qualifier names in the current database (raising
  // when it does not exist).
  TBRNConfigObject* GetTextSearchTable(const TBRNExprToken* columnNode);

 private:
  TBRNExprToken* dispatchVerb(TBRNObjectVerb verb, TBRNExprToken* node);
  void searchText(TBRNExprToken* valueNode, TBRNExprToken* searchNode,
                  TBRNExprToken* predicateNode, bool any);
  TBRNStatementHandler handlerOf(TBRNExprToken* node) const;

  TBRNLocalSessionManager* session_;
  TBRNStatementHandlers handlers_;
  // An owning stack of node values.
  TBRNValues savedValues_;
  std::unique_ptr<TBRNEvaluatorContext> sessionContext_;
  TBRNEvaluationContext* context_ = nullptr;
  TBRNEvaluatorContext* evaluatorContext_ = nullptr;
  // Per block node, how many activations of it are running (recursive
  // routines enter a block again before leaving it).
  std::unordered_map<const TBRNExprToken*, int32_t> activeBlocks_;
};

// The internal error: an engine failure that the code does not expect (a
// statement with no handler). Code 9999.
[[noreturn]] void RaiseInternalError(const std::string& detail);

// Installs the local evaluator (with filler's handlers) as the evaluator
// of every session opened from now on; sessions already open keep theirs.
// May be called from any thread.
void InstallLocalEvaluatorFactory(TBRNStatementHandlerFiller filler);

}  // namespace brn
