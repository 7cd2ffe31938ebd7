#include "execution/evaluator/statement_values.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "foundation/values/value_list.h"
#include "sessions/databases/local_database_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

constexpr uint8_t kSharedDatabaseLock = 1;

int32_t directionOf(const TBRNValue* value) {
  const auto* param = dynamic_cast<const TBRNParamValue*>(value);
  return param != nullptr ? param->GetDirection() : pmInput;
}

void takeTypeOf(TBRNValue& target, const TBRNValue& source) {
  target.SetDataType(source.GetDataType());
  target.SetDataSubType(source.GetSubType());
  target.SetLength(source.GetLength());
  target.SetScale(source.GetScale());
  target.SetCollation(source.GetCollation());
}

std::string statementMessage(int32_t line, int32_t column, const std::string& detail) {
  return FormatText("An error occurred with the statement at line %s and column %s (%s)",
                    {IntegerToString(line), IntegerToString(column), detail});
}

}  // namespace

std::string ExceptionText(const std::exception& error) {
  if (const auto* engine = dynamic_cast<const EBRNException*>(&error)) return engine->ErrorMessage;
  return error.what();
}

// ---- Parameter transfer

void CopyParamsIn(TBRNExprToken* usingList, TBRNValues& params) {
  const int32_t available = usingList != nullptr ? usingList->ArgumentCount() : 0;
  for (int32_t i = 0; i < params.GetCount(); ++i) {
    TBRNValue* param = params.GetItem(i);
    if (param == nullptr) continue;
    if (i >= available) {
      param->SetNull(true);
      continue;
    }
    const int32_t direction = directionOf(param);
    if (direction != pmInput && direction != pmInputOutput && direction != pmNotSet) continue;
    const TBRNExprToken* source = usingList->Argument(i);
    if (source == nullptr || source->Value == nullptr) {
      param->SetNull(true);
      continue;
    }
    if (param->GetDataType() == dtNull) takeTypeOf(*param, *source->Value);
    param->Assign(*source->Value);
  }
}

void CopyParamsOut(TBRNExprToken* usingList, TBRNValues& params) {
  if (usingList == nullptr) return;
  const int32_t count = std::min(params.GetCount(), usingList->ArgumentCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNValue* param = params.GetItem(i);
    const int32_t direction = directionOf(param);
    if (param == nullptr ||
        (direction != pmOutput && direction != pmInputOutput && direction != pmResult))
      continue;
    TBRNExprToken* target = usingList->Argument(i);
    if (target == nullptr || target->Value == nullptr) continue;
    if (target->Value->GetDataType() == dtNull) takeTypeOf(*target->Value, *param);
    target->Value->Assign(*param);
  }
}

// ---- The statement value

TBRNStatementValue::TBRNStatementValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node)
    : Evaluator(evaluator), Node(node) {}

TBRNStatementValue::~TBRNStatementValue() {
  try {
    Unprepare();
  } catch (...) {
    // The handle's free logs its own failure.
  }
}

TBRNValue* TBRNStatementValue::GetReferencedValue() const {
  RaiseConversionFailure("statement", Node->Name, "A statement has no value");
}

void TBRNStatementValue::freeCursor() noexcept {
  TBRNCursor* cursor = std::exchange(cursor_, nullptr);
  if (cursor == nullptr || handle_ == nullptr) return;
  TBRNLocalDatabaseManager& database = handle_->Database;
  // A cursor that its database no longer holds has been freed already.
  if (cursor->Handle == 0 || database.Cursors.FindObject(cursor->Handle) != cursor) return;
  try {
    database.Cursors.RemoveObject(cursor, false);
    delete cursor;
  } catch (...) {
    // A cursor's close logs its own failure.
  }
}

void TBRNStatementValue::Close(bool freeResult) {
  row_.reset();
  if (freeResult)
    freeCursor();
  else
    cursor_ = nullptr;
}

TBRNCursor* TBRNStatementValue::DetachResultCursor() {
  row_.reset();
  return std::exchange(cursor_, nullptr);
}

void TBRNStatementValue::Unprepare() {
  Close(true);
  text_.clear();
  TBRNLocalStatementManager* handle = std::exchange(handle_, nullptr);
  TBRNLocalDatabaseManager* database = std::exchange(database_, nullptr);
  std::exception_ptr failure;
  try {
    TBRNLocalStatementManager::FreeStatement(handle);
  } catch (...) {
    failure = std::current_exception();
  }
  if (database != nullptr) {
    try {
      database->CloseDatabase(false);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TBRNStatementValue::Prepare(const std::string& sql, int32_t line, int32_t column) {
  Unprepare();
  TBRNEvaluatorContext* context = Evaluator->GetEvaluatorContext();
  if (context == nullptr || context->CurrentDatabase == nullptr)
    throw std::logic_error("PREPARE needs an evaluator context with a current database");
  TBRNLocalDatabaseManager* database = context->CurrentDatabase;
  database->OpenDatabase(kSharedDatabaseLock);
  try {
    handle_ = TBRNLocalStatementManager::Prepare(*database, sql, line, column);
  } catch (...) {
    try {
      database->CloseDatabase(false);
    } catch (...) {  // the prepare's error passes on
    }
    throw;
  }
  database_ = database;
  text_ = sql;
}

void TBRNStatementValue::ReadCurrentRow(bool forUpdate) {
  if (cursor_ == nullptr) return;
  if (!row_) row_ = cursor_->CreateRow();
  cursor_->GetCurrentRow(*row_, forUpdate);
}

void TBRNStatementValue::Execute(TBRNExprToken* usingList, int32_t line, int32_t column) {
  try {
    Close(true);
    if (handle_ == nullptr)
      throw EBRNException(
          kBRNStatementErrorCode,
          FormatText("An attempt was made to execute the unprepared statement %s", {Node->Name}));
    handle_->RequestSensitive = RequestSensitive;
    CopyParamsIn(usingList, *handle_->Params);
    // The statement of a cursor declaration names its result after the
    // cursor.
    const TBRNExprToken* declaration = Node->Parent;
    if (declaration != nullptr && declaration->Kind == tkCursorDeclaration)
      handle_->CursorName = declaration->Name;
    cursor_ = handle_->ExecuteStatement();
    CopyParamsOut(usingList, *handle_->Params);
    if (cursor_ != nullptr) ReadCurrentRow(false);
  } catch (const EBRNException& error) {
    throw EBRNException(error.ErrorCode, statementMessage(line, column, error.ErrorMessage), line,
                        column);
  } catch (const std::exception& error) {
    throw EBRNException(kBRNStatementErrorCode, statementMessage(line, column, error.what()), line,
                        column);
  }
}

void TBRNStatementValue::RaiseCursorError(const std::string& name, int32_t line, int32_t column,
                                          const std::string& detail) {
  throw EBRNException(
      kCursorErrorCode,
      FormatText("An error occurred with the cursor %s at line %s and column %s (%s)",
                 {name, IntegerToString(line), IntegerToString(column), detail}),
      line, column);
}

void TBRNStatementValue::RequireOpenCursor(const std::string& name, int32_t line,
                                           int32_t column) const {
  if (cursor_ == nullptr)
    RaiseCursorError(name, line, column, "An attempt was made to access a closed cursor");
}

void TBRNStatementValue::RequireActiveRow(const std::string& name, int32_t line,
                                          int32_t column) const {
  if (cursor_ == nullptr || cursor_->GetRowNumber() == 0)
    RaiseCursorError(name, line, column, "The cursor has no active row");
}

void TBRNStatementValue::RaiseColumnCountMismatch(const std::string& name,
                                                  const std::string& target, int32_t line,
                                                  int32_t column) const {
  RaiseCursorError(name, line, column,
                   FormatText("The number of columns in the cursor does not match the source or "
                              "target values for the %s",
                              {target}));
}

}  // namespace brn
