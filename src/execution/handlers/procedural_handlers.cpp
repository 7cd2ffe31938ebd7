#include "execution/handlers/procedural_handlers.h"

#include <stdexcept>
#include <memory>
#include <string>
#include <utility>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/routine_values.h"
#include "execution/evaluator/statement_values.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

namespace {

constexpr uint8_t kSharedDatabaseLock = 1;

// FETCH orientations (the orientation node's Variant).
enum FetchOrientation : int32_t {
  foNone = 0,
  foNext = 1,
  foPrior = 2,
  foFirst = 3,
  foLast = 4,
  foAbsolute = 5,
  foRelative = 6,
};

TBRNExprToken* child(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index < 0 || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

TBRNEvaluatorContext& contextOf(TBRNLocalExprEvaluator& evaluator) {
  TBRNEvaluatorContext* context = evaluator.GetEvaluatorContext();
  if (context == nullptr)
    throw std::logic_error("Procedural statements run in an evaluator context only");
  return *context;
}

bool truth(const TBRNExprToken* condition) {
  const TBRNValue* value = condition != nullptr ? condition->Value : nullptr;
  return value != nullptr && !value->GetNull() && value->GetAsBoolean();
}

// Whether the transfer answered by a body is this statement's own.
bool ownTransfer(const TBRNExprToken* result, const TBRNExprToken* statement,
                 TBRNExprOperation operation) {
  return result->Operation == operation && result->Link == statement;
}

// The statement value behind a cursor or statement reference; nullptr when
// the declaration has none (its block is not running).
TBRNStatementValue* statementValueOf(const TBRNExprToken* reference) {
  const TBRNExprToken* declared = reference != nullptr ? reference->Link : nullptr;
  if (declared != nullptr && declared->Kind == tkCursorDeclaration) declared = child(declared, 1);
  if (declared == nullptr) return nullptr;
  return dynamic_cast<TBRNStatementValue*>(const_cast<TBRNExprToken*>(declared)->GetOwnValue());
}

// The statement value of a cursor with an open result, else 1000 "closed
// cursor" at the cursor name.
TBRNStatementValue& openCursor(const TBRNExprToken* cursorName) {
  if (cursorName == nullptr) throw std::logic_error("A cursor statement names no cursor");
  TBRNStatementValue* value = statementValueOf(cursorName);
  if (value == nullptr)
    TBRNStatementValue::RaiseCursorError(cursorName->Name, cursorName->Line, cursorName->Column,
                                         "An attempt was made to access a closed cursor");
  value->RequireOpenCursor(cursorName->Name, cursorName->Line, cursorName->Column);
  return *value;
}

TBRNStatementValue& declaredStatement(const TBRNExprToken* reference) {
  TBRNStatementValue* value = statementValueOf(reference);
  if (value == nullptr)
    throw EBRNException(
        kBRNStatementErrorCode,
        FormatText("An error occurred with the statement at line %s and column %s (%s)",
                   {std::to_string(reference->Line), std::to_string(reference->Column),
                    "The statement is not declared"}),
        reference->Line, reference->Column);
  return *value;
}

// The name a cursor column expression gives.
std::string columnText(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* column) {
  if (column->Kind == tkConstant) {
    evaluator.Evaluate(column);
    return column->Value->GetAsString();
  }
  return column->Name;
}

// The row buffer's value of the cursor's visible column named name, or of
// column position when name is empty; nullptr when there is none.
TBRNValue* cursorColumnValue(TBRNStatementValue& statement, const std::string& name,
                             int32_t position) {
  TBRNCursor* cursor = statement.GetResultCursor();
  TBRNCursorRow* row = statement.GetRow();
  if (cursor == nullptr || row == nullptr) return nullptr;
  TBRNCursorColumns& columns = cursor->GetCursorColumns();
  TBRNCursorColumn* found = nullptr;
  if (name.empty()) {
    if (position < columns.Count()) found = columns.GetColumn(position);
  } else {
    for (int32_t i = 0; i < columns.Count() && found == nullptr; ++i)
      if (TextEqualsIgnoreCase(columns.GetColumn(i)->Name, name)) found = columns.GetColumn(i);
    if (found == nullptr) cursor->RaiseCursorError(FormatText("The column %s does not exist", {name}));
  }
  if (found == nullptr || found->GetTableColumn() == nullptr) return nullptr;
  return row->Values.GetItem(found->GetTableColumn()->Index);
}

// ---- Control flow

TBRNExprToken* branchStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNEvaluatorContext& context = contextOf(evaluator);
  TBRNExprToken* conditions = child(node, 0);
  TBRNExprToken* blocks = child(node, 1);
  // A simple CASE compares its operand with each WHEN value.
  TBRNExprToken* operand = node->Operation == opCaseStatement ? child(node, 2) : nullptr;
  if (conditions == nullptr || blocks == nullptr) return nullptr;
  if (operand != nullptr) {
    evaluator.EvaluateStepExpression(operand);
    if (context.IsStopped()) return nullptr;
  }
  for (int32_t i = 0; i < conditions->ArgumentCount(); ++i) {
    TBRNExprToken* condition = conditions->Argument(i);
    TBRNExprToken* block = child(blocks, i);
    if (condition == nullptr) return evaluator.ExecuteBlock(block);
    evaluator.EvaluateStepExpression(condition);
    if (context.IsStopped()) return nullptr;
    bool taken = false;
    if (operand != nullptr)
      taken = !operand->Value->GetNull() && !condition->Value->GetNull() &&
              TBRNExprEvaluator::CompareEvaluated(operand, condition, 0) == 0;
    else
      taken = truth(condition);
    if (taken) return evaluator.ExecuteBlock(block);
  }
  return nullptr;
}

TBRNExprToken* loopStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNEvaluatorContext& context = contextOf(evaluator);
  TBRNExprToken* body = child(node, 0);
  for (;;) {
    TBRNExprToken* result = evaluator.ExecuteBlock(body);
    if (context.IsStopped()) return result;
    if (result == nullptr || ownTransfer(result, node, opIterate)) continue;
    if (ownTransfer(result, node, opLeave)) return nullptr;
    return result;
  }
}

// After an ITERATE the body runs again at once on the condition's last
// value, without evaluating it again.
TBRNExprToken* whileStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNEvaluatorContext& context = contextOf(evaluator);
  TBRNExprToken* condition = child(node, 0);
  TBRNExprToken* body = child(node, 1);
  evaluator.EvaluateStepExpression(condition);
  if (context.IsStopped()) return nullptr;
  while (truth(condition)) {
    TBRNExprToken* result = evaluator.ExecuteBlock(body);
    if (context.IsStopped()) return result;
    if (result == nullptr) {
      evaluator.EvaluateStepExpression(condition);
      if (context.IsStopped()) return nullptr;
      continue;
    }
    if (ownTransfer(result, node, opIterate)) continue;
    if (ownTransfer(result, node, opLeave)) return nullptr;
    return result;
  }
  return nullptr;
}

// An ITERATE goes to the test without evaluating UNTIL again.
TBRNExprToken* repeatStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNEvaluatorContext& context = contextOf(evaluator);
  TBRNExprToken* body = child(node, 0);
  TBRNExprToken* condition = child(node, 1);
  for (;;) {
    TBRNExprToken* result = evaluator.ExecuteBlock(body);
    if (context.IsStopped()) return result;
    if (result == nullptr) {
      evaluator.EvaluateStepExpression(condition);
      if (context.IsStopped()) return nullptr;
    } else if (ownTransfer(result, node, opLeave)) {
      return nullptr;
    } else if (!ownTransfer(result, node, opIterate)) {
      return result;
    } else {
      result = nullptr;
    }
    if (truth(condition)) return result;
  }
}

TBRNExprToken* answerItself(TBRNLocalExprEvaluator&, TBRNExprToken* node) { return node; }

TBRNExprToken* abortStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken*) {
  contextOf(evaluator).Aborted = true;
  return nullptr;
}

TBRNExprToken* callStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* call = child(node, 0);
  if (call == nullptr) throw std::logic_error("A CALL statement names no procedure");
  evaluator.CreateTokenValue(call);
  evaluator.EvaluateArguments(call);
  auto* routine = dynamic_cast<TBRNRoutineValue*>(call->GetOwnValue());
  if (routine == nullptr) throw std::logic_error("A procedure call has no routine value");
  routine->Execute();
  return nullptr;
}

// ---- Assignments, messages and USE

TBRNExprToken* setStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  for (TBRNExprToken* pair : node->Arguments()) {
    if (pair == nullptr) continue;
    evaluator.Evaluate(pair->Left());
    evaluator.Evaluate(pair->Right());
    pair->Left()->Value->Assign(*pair->Right()->Value);
  }
  return nullptr;
}

std::string messageText(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* text = child(node, 0);
  if (text == nullptr) return std::string();
  evaluator.Evaluate(text);
  return text->Value->GetNull() ? std::string() : text->Value->GetAsString();
}

TBRNExprToken* setLogMessage(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string text = messageText(evaluator, node);
  TBRNEvaluatorContext& context = contextOf(evaluator);
  if (context.OnLogMessage) context.OnLogMessage(text);
  return nullptr;
}

TBRNExprToken* setStatusMessage(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string text = messageText(evaluator, node);
  TBRNEvaluatorContext& context = contextOf(evaluator);
  if (context.OnStatusMessage) context.OnStatusMessage(text);
  return nullptr;
}

TBRNExprToken* setProgress(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* percent = child(node, 0);
  if (percent == nullptr) return nullptr;
  evaluator.Evaluate(percent);
  TBRNEvaluatorContext& context = contextOf(evaluator);
  if (!context.OnProgress) return nullptr;
  const bool go = context.OnProgress(percent->Value->GetNull() ? 0 : percent->Value->GetAsInteger());
  context.Aborted = !go;
  return nullptr;
}

TBRNExprToken* useStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNEvaluatorContext& context = contextOf(evaluator);
  context.RestoreDefaultDatabase();
  const TBRNExprToken* name = child(node, 0);
  if (name == nullptr) return nullptr;
  if (context.DefaultDatabase != nullptr &&
      TextEqualsIgnoreCase(name->Name, context.DefaultDatabase->GetDatabaseName()))
    return nullptr;
  TBRNLocalSessionManager* session = evaluator.GetSession();
  if (session == nullptr) throw std::logic_error("USE needs a session");
  auto* database = dynamic_cast<TBRNLocalDatabaseManager*>(
      session->OpenDatabase(name->Name, kSharedDatabaseLock));
  if (database == nullptr) throw std::logic_error("The session opened no local database");
  context.SetCurrentDatabase(database);
  return nullptr;
}

// ---- Cursor statements

TBRNExprToken* openStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* cursorName = child(node, 0);
  TBRNExprToken* usingList = child(node, 1);
  if (usingList != nullptr) evaluator.EvaluateArguments(usingList);
  TBRNStatementValue* value = statementValueOf(cursorName);
  if (value == nullptr)
    TBRNStatementValue::RaiseCursorError(cursorName->Name, cursorName->Line, cursorName->Column,
                                         "An attempt was made to access a closed cursor");
  value->Execute(usingList, cursorName->Line, cursorName->Column);
  return nullptr;
}

TBRNExprToken* closeStatement(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  if (TBRNStatementValue* value = statementValueOf(child(node, 0))) value->Close(true);
  return nullptr;
}

void moveCursor(TBRNLocalExprEvaluator& evaluator, TBRNCursor& cursor, TBRNExprToken* orientation) {
  const int32_t kind = orientation != nullptr ? orientation->Variant : foNone;
  int32_t count = 0;
  if (kind == foAbsolute || kind == foRelative) {
    TBRNExprToken* amount = child(orientation, 0);
    evaluator.Evaluate(amount);
    count = amount->Value->GetNull() ? 0 : amount->Value->GetAsInteger();
  }
  switch (kind) {
    case foNext:
      cursor.NextRow();
      break;
    case foPrior:
      cursor.PriorRow();
      break;
    case foFirst:
      cursor.FirstRow();
      break;
    case foLast:
      cursor.LastRow();
      break;
    case foAbsolute:
      cursor.SetToSequenceNumber(count);
      break;
    case foRelative:
      for (int32_t i = 0; i < count && !cursor.GetEof(); ++i) cursor.NextRow();
      for (int32_t i = 0; i > count && !cursor.GetBof(); --i) cursor.PriorRow();
      break;
    default:
      break;
  }
}

TBRNExprToken* fetchStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* cursorName = child(node, 1);
  TBRNStatementValue& value = openCursor(cursorName);
  moveCursor(evaluator, *value.GetResultCursor(), child(node, 0));
  value.ReadCurrentRow(false);
  TBRNExprToken* pairs = child(node, 2);
  if (pairs == nullptr) return nullptr;
  for (int32_t i = 0; i < pairs->ArgumentCount(); ++i) {
    TBRNExprToken* pair = pairs->Argument(i);
    TBRNExprToken* target = pair != nullptr ? pair->Right() : nullptr;
    if (target == nullptr)
      value.RaiseColumnCountMismatch(cursorName->Name, "FETCH", cursorName->Line,
                                     cursorName->Column);
    evaluator.Evaluate(target);
    const std::string name = pair->Left() != nullptr ? columnText(evaluator, pair->Left()) : "";
    TBRNValue* source = cursorColumnValue(value, name, i);
    if (source == nullptr)
      value.RaiseColumnCountMismatch(cursorName->Name, "FETCH", cursorName->Line,
                                     cursorName->Column);
    target->Value->Assign(*source);
  }
  return nullptr;
}

TBRNExprToken* insertStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* cursorName = child(node, 0);
  TBRNStatementValue& value = openCursor(cursorName);
  TBRNCursor& cursor = *value.GetResultCursor();
  std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
  row->Clear();
  TBRNExprToken* pairs = child(node, 1);
  for (int32_t i = 0; pairs != nullptr && i < pairs->ArgumentCount(); ++i) {
    TBRNExprToken* pair = pairs->Argument(i);
    TBRNExprToken* source = pair != nullptr ? pair->Right() : nullptr;
    if (source == nullptr)
      value.RaiseColumnCountMismatch(cursorName->Name, "INSERT", cursorName->Line,
                                     cursorName->Column);
    evaluator.Evaluate(source);
    const std::string name = pair->Left() != nullptr ? columnText(evaluator, pair->Left()) : "";
    TBRNCursorColumns& columns = cursor.GetCursorColumns();
    TBRNCursorColumn* column = nullptr;
    if (name.empty()) {
      if (i < columns.Count()) column = columns.GetColumn(i);
    } else {
      for (int32_t c = 0; c < columns.Count() && column == nullptr; ++c)
        if (TextEqualsIgnoreCase(columns.GetColumn(c)->Name, name)) column = columns.GetColumn(c);
      if (column == nullptr)
        cursor.RaiseCursorError(FormatText("The column %s does not exist", {name}));
    }
    if (column == nullptr || column->GetTableColumn() == nullptr)
      value.RaiseColumnCountMismatch(cursorName->Name, "INSERT", cursorName->Line,
                                     cursorName->Column);
    row->Values.GetItem(column->GetTableColumn()->Index)->Assign(*source->Value);
  }
  cursor.InsertRow(*row);
  return nullptr;
}

TBRNExprToken* updateStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* cursorName = child(node, 0);
  TBRNStatementValue& value = openCursor(cursorName);
  value.RequireActiveRow(cursorName->Name, cursorName->Line, cursorName->Column);
  TBRNCursor& cursor = *value.GetResultCursor();
  value.ReadCurrentRow(true);
  TBRNCursorRow& row = *value.GetRow();
  try {
    TBRNExprToken* pairs = child(node, 1);
    for (int32_t i = 0; pairs != nullptr && i < pairs->ArgumentCount(); ++i) {
      TBRNExprToken* pair = pairs->Argument(i);
      if (pair == nullptr || pair->Left() == nullptr || pair->Right() == nullptr) continue;
      evaluator.Evaluate(pair->Right());
      TBRNValue* target = cursorColumnValue(value, columnText(evaluator, pair->Left()), i);
      if (target == nullptr)
        value.RaiseColumnCountMismatch(cursorName->Name, "UPDATE", cursorName->Line,
                                       cursorName->Column);
      target->Assign(*pair->Right()->Value);
    }
    cursor.UpdateRow(row);
  } catch (...) {
    try {
      cursor.CancelRow(row);
    } catch (...) {  // the update's error passes on
    }
    throw;
  }
  return nullptr;
}

TBRNExprToken* deleteStatement(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  TBRNExprToken* cursorName = child(node, 0);
  TBRNStatementValue& value = openCursor(cursorName);
  value.RequireActiveRow(cursorName->Name, cursorName->Line, cursorName->Column);
  value.ReadCurrentRow(false);
  value.GetResultCursor()->DeleteRow(*value.GetRow());
  value.ReadCurrentRow(false);
  return nullptr;
}

TBRNExprToken* refreshStatement(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  openCursor(child(node, 0)).GetResultCursor()->RefreshCursor();
  return nullptr;
}

// ---- Dynamic statements

// The position errors of a dynamic text are reported at: its expression's
// leftmost operand.
void textPosition(TBRNExprToken* expression, int32_t& line, int32_t& column) {
  const TBRNExprToken* leftmost = LeftmostOperand(expression);
  if (leftmost == nullptr) leftmost = expression;
  line = leftmost->Line;
  column = leftmost->Column;
}

TBRNExprToken* prepareStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* reference = child(node, 0);
  TBRNExprToken* text = child(node, 1);
  evaluator.Evaluate(text);
  int32_t line = 0;
  int32_t column = 0;
  textPosition(text, line, column);
  declaredStatement(reference).Prepare(text->Value->GetAsString(), line, column);
  return nullptr;
}

TBRNExprToken* executeStatement(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* reference = child(node, 0);
  TBRNExprToken* usingList = child(node, 1);
  if (usingList != nullptr) evaluator.EvaluateArguments(usingList);
  declaredStatement(reference).Execute(usingList, reference->Line, reference->Column);
  return nullptr;
}

TBRNExprToken* unprepareStatement(TBRNLocalExprEvaluator&, TBRNExprToken* node) {
  if (TBRNStatementValue* value = statementValueOf(child(node, 0))) value->Unprepare();
  return nullptr;
}

// Frees the handle (and the result cursor it answered) on every exit.
class ImmediateStatement {
 public:
  ImmediateStatement(TBRNLocalDatabaseManager& database, const std::string& sql, int32_t line,
                     int32_t column)
      : handle_(TBRNLocalStatementManager::Prepare(database, sql, line, column)) {}
  ~ImmediateStatement() {
    freeCursor();
    try {
      TBRNLocalStatementManager::FreeStatement(handle_);
    } catch (...) {  // the free logged its failure
    }
  }
  ImmediateStatement(const ImmediateStatement&) = delete;
  ImmediateStatement& operator=(const ImmediateStatement&) = delete;

  TBRNLocalStatementManager& Handle() const { return *handle_; }
  void Run() {
    cursor_ = handle_->ExecuteStatement();
  }
  void freeCursor() noexcept {
    TBRNCursor* cursor = std::exchange(cursor_, nullptr);
    if (cursor == nullptr) return;
    TBRNLocalDatabaseManager& database = handle_->Database;
    if (cursor->Handle == 0 || database.Cursors.FindObject(cursor->Handle) != cursor) return;
    try {
      database.Cursors.RemoveObject(cursor, false);
      delete cursor;
    } catch (...) {  // a cursor's close logs its own failure
    }
  }

 private:
  TBRNLocalStatementManager* handle_;
  TBRNCursor* cursor_ = nullptr;
};

TBRNExprToken* executeImmediate(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* text = child(node, 0);
  TBRNExprToken* usingList = child(node, 1);
  int32_t line = 0;
  int32_t column = 0;
  textPosition(text, line, column);
  evaluator.Evaluate(text);
  if (usingList != nullptr) evaluator.EvaluateArguments(usingList);
  TBRNEvaluatorContext& context = contextOf(evaluator);
  if (context.CurrentDatabase == nullptr)
    throw std::logic_error("EXECUTE IMMEDIATE needs a current database");
  // A failure of the prepare (a syntax error) passes unchanged.
  ImmediateStatement statement(*context.CurrentDatabase, text->Value->GetAsString(), line, column);
  const auto wrapped = [&](int32_t code, const std::string& detail) {
    return EBRNException(
        code,
        FormatText("An error occurred with the statement at line %s and column %s (%s)",
                   {std::to_string(line), std::to_string(column), detail}),
        line, column);
  };
  try {
    CopyParamsIn(usingList, *statement.Handle().Params);
    statement.Run();
    CopyParamsOut(usingList, *statement.Handle().Params);
  } catch (const EBRNException& error) {
    throw wrapped(error.ErrorCode, error.ErrorMessage);
  } catch (const std::exception& error) {
    throw wrapped(kBRNStatementErrorCode, error.what());
  }
  return nullptr;
}

}  // namespace

void FillProceduralHandlers(TBRNStatementHandlers& handlers) {
  handlers.SetStatement(opAbort, abortStatement);
  handlers.SetStatement(opCall, callStatement);
  handlers.SetStatement(opCaseStatement, branchStatement);
  handlers.SetStatement(opClose, closeStatement);
  handlers.SetStatement(opDeleteStatement, deleteStatement);
  handlers.SetStatement(opExecute, executeStatement);
  handlers.SetStatement(opExecuteImmediate, executeImmediate);
  handlers.SetStatement(opFetch, fetchStatement);
  handlers.SetStatement(opIfStatement, branchStatement);
  handlers.SetStatement(opInsertStatement, insertStatement);
  handlers.SetStatement(opIterate, answerItself);
  handlers.SetStatement(opLeave, answerItself);
  handlers.SetStatement(opLoop, loopStatement);
  handlers.SetStatement(opOpen, openStatement);
  handlers.SetStatement(opPrepare, prepareStatement);
  handlers.SetStatement(opRaise, answerItself);
  handlers.SetStatement(opRefresh, refreshStatement);
  handlers.SetStatement(opRepeatStatement, repeatStatement);
  handlers.SetStatement(opRetry, answerItself);
  handlers.SetStatement(opSetVariable, setStatement);
  handlers.SetStatement(opSetLogMessage, setLogMessage);
  handlers.SetStatement(opSetProgress, setProgress);
  handlers.SetStatement(opSetStatusMessage, setStatusMessage);
  handlers.SetStatement(opUnprepare, unprepareStatement);
  handlers.SetStatement(opUpdateStatement, updateStatement);
  handlers.SetStatement(opUse, useStatement);
  handlers.SetStatement(opWhile, whileStatement);
}

}  // namespace brn
