#include "execution/evaluator/local_expr_evaluator.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "execution/evaluator/aggregate_values.h"
#include "execution/evaluator/holding_values.h"
#include "execution/evaluator/reference_values.h"
#include "execution/evaluator/routine_values.h"
#include "execution/evaluator/statement_values.h"
#include "execution/handles/local_statement_manager.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/query_value.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "sessions/engine_settings.h"
#include "sessions/local/evaluator_factory.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

// ---- The handler table

int32_t TBRNStatementHandlers::StatementEntry(int32_t code) {
  if (code < FirstStatementCode || code > LastStatementCode) return -1;
  return code - FirstStatementCode;
}

int32_t TBRNStatementHandlers::VerbEntry(TBRNObjectVerb verb, int32_t kind) {
  if (kind < 1 || kind > KindCount || int32_t(verb) >= VerbCount) return -1;
  return 73 + KindCount * int32_t(verb) + kind;
}

bool TBRNStatementHandlers::VerbOfCode(int32_t code, TBRNObjectVerb& verb) {
  switch (code) {
    case opCreate:
      verb = ovCreate;
      return true;
    case opAlter:
      verb = ovAlter;
      return true;
    case opDrop:
      verb = ovDrop;
      return true;
    case opRename:
      verb = ovRename;
      return true;
    case opEnable:
      verb = ovEnable;
      return true;
    case opDisable:
      verb = ovDisable;
      return true;
    case opReset:
      verb = ovReset;
      return true;
    default:
      return false;
  }
}

void TBRNStatementHandlers::SetStatement(TBRNExprOperation code, TBRNStatementHandler handler) {
  const int32_t entry = StatementEntry(code);
  if (entry < 0) throw std::out_of_range("The operation code is not a statement code");
  Entries[size_t(entry)] = handler;
}

void TBRNStatementHandlers::SetVerb(TBRNObjectVerb verb, TBRNObjectKind kind,
                                    TBRNStatementHandler handler) {
  const int32_t entry = VerbEntry(verb, kind);
  if (entry < 0) throw std::out_of_range("The object kind has no entry");
  Entries[size_t(entry)] = handler;
}

TBRNStatementHandler TBRNStatementHandlers::Statement(int32_t code) const {
  return Entry(StatementEntry(code));
}

TBRNStatementHandler TBRNStatementHandlers::Verb(TBRNObjectVerb verb, int32_t kind) const {
  return Entry(VerbEntry(verb, kind));
}

TBRNStatementHandler TBRNStatementHandlers::Entry(int32_t entry) const {
  if (entry < 0 || entry >= EntryCount) return nullptr;
  return Entries[size_t(entry)];
}

void RaiseInternalError(const std::string& detail) {
  throw EBRNException(kBRNUnknownErrorCode, "An internal error occurred (" + detail + ")");
}

// ---- Construction

TBRNLocalExprEvaluator::TBRNLocalExprEvaluator(bool standardNullBehavior,
                                               TBRNLocalSessionManager* session,
                                               TBRNStatementHandlerFiller filler)
    : TBRNExprEvaluator(standardNullBehavior),
      session_(session),
      sessionContext_(std::make_unique<TBRNEvaluatorContext>()) {
  if (filler != nullptr) filler(handlers_);
  // The verb statements dispatch through their rows by object kind.
  handlers_.SetStatement(
      opCreate, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteCreate(n); });
  handlers_.SetStatement(
      opAlter, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteAlter(n); });
  handlers_.SetStatement(
      opDrop, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteDrop(n); });
  handlers_.SetStatement(
      opRename, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteRename(n); });
  handlers_.SetStatement(
      opEnable, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteEnable(n); });
  handlers_.SetStatement(
      opDisable, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteDisable(n); });
  handlers_.SetStatement(
      opReset, [](TBRNLocalExprEvaluator& e, TBRNExprToken* n) { return e.ExecuteReset(n); });
  if (session_ != nullptr) sessionContext_->BindSessionEvents(*session_);
}

TBRNLocalExprEvaluator::~TBRNLocalExprEvaluator() {
  savedValues_.FreeValues();
}

// ---- Contexts

TBRNEvaluationContext* TBRNLocalExprEvaluator::SwapContext(TBRNEvaluationContext* context) {
  TBRNEvaluationContext* previous = context_;
  RestoreContext(context);
  return previous;
}

void TBRNLocalExprEvaluator::RestoreContext(TBRNEvaluationContext* previous) {
  context_ = previous;
  evaluatorContext_ = dynamic_cast<TBRNEvaluatorContext*>(previous);
  CurrentRows = previous != nullptr ? &previous->CurrentRows : nullptr;
}

// ---- Trees

void TBRNLocalExprEvaluator::EvaluateExpression(TBRNExprToken* root) {
  Prepare(root);
  Evaluate(root);
}

// ---- Statements

TBRNStatementHandler TBRNLocalExprEvaluator::handlerOf(TBRNExprToken* node) const {
  if (node == nullptr) throw std::invalid_argument("No statement node");
  TBRNStatementHandler handler = handlers_.Statement(node->Operation);
  if (handler == nullptr)
    RaiseInternalError("the statement code " + std::to_string(int32_t(node->Operation)) +
                       " has no handler");
  return handler;
}

void TBRNLocalExprEvaluator::ExecuteStatement(TBRNExprToken* node) {
  handlerOf(node)(*this, node);
}

TBRNExprToken* TBRNLocalExprEvaluator::ExecuteProceduralStatement(TBRNExprToken* node) {
  TBRNStatementHandler handler = handlerOf(node);
  switch (node->Operation) {
    case opCaseStatement:
    case opIfStatement:
    case opWhile:
      // Their handlers report each condition through EvaluateStepExpression.
      return handler(*this, node);
    default:
      break;
  }
  NotifyStep(node, nullptr);
  if (evaluatorContext_ != nullptr && evaluatorContext_->IsStopped()) return nullptr;
  // The statement's queries may read parameters and variables that changed
  // since its last run (another call, another loop pass).
  RestartQueryExecutions(node);
  try {
    return handler(*this, node);
  } catch (const std::exception& error) {
    NotifyStep(node, &error);
    throw;
  }
}

void TBRNLocalExprEvaluator::EvaluateStepExpression(TBRNExprToken* node) {
  NotifyStep(node, nullptr);
  if (evaluatorContext_ != nullptr && evaluatorContext_->IsStopped()) return;
  RestartQueryExecutions(node);
  try {
    Evaluate(node);
  } catch (const std::exception& error) {
    NotifyStep(node, &error);
    throw;
  }
}

void TBRNLocalExprEvaluator::NotifyStep(TBRNExprToken* node, const std::exception* error) {
  if (evaluatorContext_ != nullptr && evaluatorContext_->OnStep)
    evaluatorContext_->OnStep(node, error);
}

TBRNExprToken* TBRNLocalExprEvaluator::dispatchVerb(TBRNObjectVerb verb, TBRNExprToken* node) {
  if (node == nullptr) throw std::invalid_argument("No statement node");
  TBRNStatementHandler handler = handlers_.Verb(verb, node->Variant);
  if (handler == nullptr)
    RaiseInternalError("the object kind " + std::to_string(node->Variant) +
                       " of the statement code " + std::to_string(int32_t(node->Operation)) +
                       " has no handler");
  return handler(*this, node);
}

TBRNExprToken* TBRNLocalExprEvaluator::ExecuteCreate(TBRNExprToken* node) {
  return dispatchVerb(ovCreate, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteAlter(TBRNExprToken* node) {
  return dispatchVerb(ovAlter, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteDrop(TBRNExprToken* node) {
  return dispatchVerb(ovDrop, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteRename(TBRNExprToken* node) {
  return dispatchVerb(ovRename, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteEnable(TBRNExprToken* node) {
  return dispatchVerb(ovEnable, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteDisable(TBRNExprToken* node) {
  return dispatchVerb(ovDisable, node);
}
TBRNExprToken* TBRNLocalExprEvaluator::ExecuteReset(TBRNExprToken* node) {
  return dispatchVerb(ovReset, node);
}

// ---- Values

namespace {

bool isAggregate(TBRNExprOperation operation) {
  switch (operation) {
    case opAvg:
    case opCount:
    case opList:
    case opMax:
    case opMin:
    case opStdDev:
    case opSum:
    case opSumSquare:
      return true;
    default:
      return false;
  }
}

// The size expression of an ARRAY declaration: the declaring statement
// (the parent of the names list) holds it at position 2.
TBRNExprToken* arraySizeNode(const TBRNExprToken* arrayNode) {
  const TBRNExprToken* names = arrayNode->Parent;
  const TBRNExprToken* declaration = names != nullptr ? names->Parent : nullptr;
  if (declaration == nullptr || declaration->ArgumentCount() < 3) return nullptr;
  return declaration->Argument(2);
}

}  // namespace

void TBRNLocalExprEvaluator::CreateTokenValue(TBRNExprToken* node) {
  if (node->GetOwnValue() != nullptr) return;
  std::unique_ptr<TBRNValue> value;
  switch (node->Kind) {
    case tkArrayVariable: {
      int64_t count = 0;
      if (TBRNExprToken* size = arraySizeNode(node)) {
        Evaluate(size);
        count = size->Value->GetAsBigInt();
      }
      if (count < 0 || count > INT32_MAX) RaiseArrayIndexError(node->Name, count);
      value = std::make_unique<TBRNArrayValuesValue>(node, int32_t(count));
      break;
    }
    case tkArrayReference:
      value = std::make_unique<TBRNArrayValuesReferenceValue>(this, node);
      break;
    case tkArrayElement:
      value = std::make_unique<TBRNArrayElementReferenceValue>(this, node);
      break;
    case tkColumnReference:
    case tkOuterColumnReference:
    case tkRowColumnReference:
      value = std::make_unique<TBRNColumnReferenceValue>(this, node);
      break;
    case tkCursorReference:
      value = std::make_unique<TBRNCursorReferenceValue>(this, node);
      break;
    case tkDynamicParam:
      value = std::make_unique<TBRNDynamicParamValue>(node);
      break;
    case tkDynamicParamReference:
      value = std::make_unique<TBRNDynamicParamReferenceValue>(this, node);
      break;
    case tkFunction:
      if (isAggregate(node->Operation))
        value = std::make_unique<TBRNAggregateFunctionReferenceValue>(this, node);
      else if (node->Operation == opUserFunction)
        value = std::make_unique<TBRNRoutineValue>(this, node);
      break;
    case tkRoutineCall:
      value = std::make_unique<TBRNRoutineValue>(this, node);
      break;
    case tkStatementName:
      value = std::make_unique<TBRNStatementValue>(this, node);
      break;
    case tkRoutineParam:
      value = std::make_unique<TBRNRoutineParamValue>(node);
      break;
    case tkRoutineParamReference:
      value = std::make_unique<TBRNRoutineParamReferenceValue>(this, node);
      break;
    case tkRowValue:
      value = std::make_unique<TBRNRowValueValue>(node);
      break;
    case tkRowVariable:
      value = std::make_unique<TBRNRowVariableValue>(node);
      break;
    case tkOrderItem:
      value = std::make_unique<TBRNSelectColumnReferenceValue>(this, node);
      break;
    case tkStatementReference:
      value = std::make_unique<TBRNStatementReferenceValue>(this, node);
      break;
    case tkTableReference:
      value = std::make_unique<TBRNCursorValue>(this, node);
      break;
    case tkQuery: {
      // The following member of a set operation runs through its manager
      // only; every other subquery keeps a result cursor.
      const TBRNExprToken* link =
          node->ArgumentCount() > qpSetOperation ? node->Argument(qpSetOperation) : nullptr;
      if (link != nullptr && link->Operation != opNone)
        value = std::make_unique<TBRNQueryManagerValue>(*this, node);
      else
        value = std::make_unique<TBRNQueryValue>(*this, node);
      break;
    }
    case tkVariable:
      value = std::make_unique<TBRNVariableValue>(node);
      break;
    case tkVariableReference:
      value = std::make_unique<TBRNVariableReferenceValue>(this, node);
      break;
    default:
      break;
  }
  // Everything else has the contained value of the parent.
  if (value == nullptr) return TBRNExprEvaluator::CreateTokenValue(node);
  node->SetOwnValue(std::move(value));
}

void TBRNLocalExprEvaluator::PrepareNode(TBRNExprToken* node) {
  switch (node->Kind) {
    case tkRoutineStatement:
      if (node->Operation == opUse) {
        if (TBRNStatementHandler handler = handlers_.Statement(opUse)) handler(*this, node);
      }
      break;
    case tkDynamicParamReference:
      CreateTokenValue(node);
      break;
    default:
      break;
  }
}

void TBRNLocalExprEvaluator::SaveTokenValue(TBRNExprToken* node) {
  std::unique_ptr<TBRNValue> value = node->ReleaseOwnValue();
  try {
    savedValues_.Add(value.get());
  } catch (...) {
    node->SetOwnValue(std::move(value));
    throw;
  }
  value.release();
}

void TBRNLocalExprEvaluator::RestoreTokenValue(TBRNExprToken* node) {
  const int32_t count = savedValues_.GetCount();
  if (count == 0) return;
  std::unique_ptr<TBRNValue> saved(savedValues_.GetItem(count - 1));
  savedValues_.Delete(count - 1);
  node->SetOwnValue(std::move(saved));
}

void TBRNLocalExprEvaluator::EvaluateArguments(TBRNExprToken* node) {
  for (TBRNExprToken* argument : node->Arguments()) Evaluate(argument);
}

// ---- Stored routines

void TBRNLocalExprEvaluator::CallFunction(TBRNExprToken* node) {
  EvaluateArguments(node);
  auto* routine = dynamic_cast<TBRNRoutineValue*>(node->GetOwnValue());
  if (routine == nullptr) RaiseInternalError("a function call has no routine value");
  routine->Execute();
}

namespace {

TBRNStatementValue* declaredStatementValue(const TBRNExprToken* reference) {
  const TBRNExprToken* declared = reference != nullptr ? reference->Link : nullptr;
  if (declared != nullptr && declared->Kind == tkCursorDeclaration)
    declared = declared->ArgumentCount() > 1 ? declared->Argument(1) : nullptr;
  if (declared == nullptr) return nullptr;
  return dynamic_cast<TBRNStatementValue*>(const_cast<TBRNExprToken*>(declared)->GetOwnValue());
}

}  // namespace

void TBRNLocalExprEvaluator::GetCursorAttribute(TBRNExprToken* node) {
  TBRNExprToken* cursorName = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (cursorName == nullptr) return;
  TBRNStatementValue* statement = declaredStatementValue(cursorName);
  if (statement == nullptr || statement->GetResultCursor() == nullptr)
    TBRNStatementValue::RaiseCursorError(cursorName->Name, cursorName->Line, cursorName->Column,
                                         "An attempt was made to access a closed cursor");
  TBRNCursor& cursor = *statement->GetResultCursor();
  TBRNValue& result = *node->Value;
  switch (node->Operation) {
    case opBof:
      result.SetAsBoolean(cursor.GetBof());
      break;
    case opEof:
      result.SetAsBoolean(cursor.GetEof());
      break;
    case opColumnCount:
      result.SetAsInteger(cursor.GetCursorColumns().Count());
      break;
    case opColumnName: {
      TBRNExprToken* position = node->ArgumentCount() > 1 ? node->Argument(1) : nullptr;
      int32_t index = 0;
      if (position != nullptr) {
        Evaluate(position);
        index = position->Value->GetNull() ? 0 : position->Value->GetAsInteger();
      }
      TBRNCursorColumns& columns = cursor.GetCursorColumns();
      result.SetAsString(index >= 1 && index <= columns.Count() ? columns.GetColumn(index - 1)->Name
                                                                : std::string());
      break;
    }
    case opRowCount:
      result.SetAsInteger(cursor.GetRowCount());
      break;
    case opSensitive:
      result.SetAsBoolean(statement->GetStatementHandle()->GetSensitive());
      break;
    default:
      break;
  }
}

void TBRNLocalExprEvaluator::GetStatementAttribute(TBRNExprToken* node) {
  TBRNExprToken* name = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (name == nullptr) return;
  TBRNStatementValue* statement = declaredStatementValue(name);
  if (statement == nullptr || !statement->IsPrepared())
    throw EBRNException(
        kBRNStatementErrorCode,
        FormatText("An error occurred with the statement at line %s and column %s (%s)",
                   {std::to_string(name->Line), std::to_string(name->Column),
                    FormatText("An attempt was made to execute the unprepared statement %s",
                               {name->Name})}),
        name->Line, name->Column);
  if (node->Operation == opStmtResult)
    node->Value->SetAsBoolean(statement->GetStatementHandle()->GetExecutionResult());
  else
    node->Value->SetAsInteger(statement->GetStatementHandle()->GetRowsAffected());
}

// ---- Run-time attributes

void TBRNLocalExprEvaluator::GetAborted(TBRNExprToken* node) {
  node->Value->SetAsBoolean(evaluatorContext_ != nullptr && evaluatorContext_->Aborted);
}

void TBRNLocalExprEvaluator::GetLoadingUpdates(TBRNExprToken* node) {
  node->Value->SetAsBoolean(context_ != nullptr && context_->LoadingUpdates);
}

void TBRNLocalExprEvaluator::GetCardinality(TBRNExprToken* node) {
  TBRNExprToken* array = node->ArgumentCount() > 0 ? node->Argument(0) : nullptr;
  if (array == nullptr) return node->Value->SetNull(true);
  Evaluate(array);
  auto* reference = dynamic_cast<TBRNArrayValuesReferenceValue*>(array->GetOwnValue());
  if (reference == nullptr) return node->Value->SetNull(true);
  node->Value->SetAsInteger(reference->GetArray()->GetCardinality());
}

// ---- The session factory

void InstallLocalEvaluatorFactory(TBRNStatementHandlerFiller filler) {
  SetSessionEvaluatorFactory(
      [filler](TBRNLocalSessionManager& session) -> std::unique_ptr<TBRNExpressionEvaluator> {
        const bool standardNulls = session.SessionSettings != nullptr &&
                                   session.SessionSettings->GetStandardNullBehavior();
        return std::make_unique<TBRNLocalExprEvaluator>(standardNulls, &session, filler);
      });
}

}  // namespace brn
