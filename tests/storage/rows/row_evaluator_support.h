// The SQL evaluator behind the storage seam and a compiled column list
// without a catalog, shared by the row tests and the storage fuzz targets
// (no test framework here).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "metadata/catalog/columns.h"
#include "sql/builder/sql_builder.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/validator/expr_validator.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_values.h"

namespace brn::testing {

// The SQL evaluator behind the storage seam, as SQL execution will provide
// it: the column references of a tree read the current row's values, and
// the row-qualified references of a trigger's condition read the context's
// trigger rows. Routine bodies run through Routine, the tests' stand-in
// for the block runner of SQL execution.
class RowEvaluator : public TBRNExprEvaluator, public TBRNExpressionEvaluator {
 public:
  RowEvaluator() : TBRNExprEvaluator(true) {}

  TBRNEvaluationContext* Current = nullptr;
  int32_t Swaps = 0;
  // Runs a body given to ExecuteRoutine; std::logic_error when empty.
  std::function<void(TBRNExprToken* Block)> Routine;
  // The tokens whose values are saved, last pushed last. The evaluator
  // keeps no state in a row variable, so a push only records the pairing.
  std::vector<std::pair<TBRNExprToken*, TBRNValue*>> SavedValues;

  TBRNEvaluationContext* SwapContext(TBRNEvaluationContext* Context) override {
    ++Swaps;
    TBRNEvaluationContext* previous = Current;
    setCurrent(Context);
    return previous;
  }
  void RestoreContext(TBRNEvaluationContext* Previous) override { setCurrent(Previous); }

  // Prepares the tree on every call (preparing a prepared tree changes
  // nothing), so that a tree compiled after the last call reads the row too.
  void EvaluateExpression(TBRNExprToken* Root) override {
    if (Current == nullptr) throw std::logic_error("no evaluation context");
    const bool triggerRows =
        Current->TriggerRows[0] != nullptr || Current->TriggerRows[1] != nullptr;
    if (!triggerRows && (Current->CurrentRows.empty() || Current->CurrentRows[0] == nullptr))
      throw std::logic_error("no current row");
    Prepare(Root);
    bindTriggerRows(Root);
    Evaluate(Root);
  }
  void ExecuteRoutine(TBRNExprToken* Block) override {
    if (!Routine) throw std::logic_error("no routine runner");
    Routine(Block);
  }
  void PushTokenValue(TBRNExprToken* Token) override {
    SavedValues.emplace_back(Token, Token->Value);
  }
  void PopTokenValue(TBRNExprToken* Token) override {
    if (SavedValues.empty() || SavedValues.back().first != Token)
      throw std::logic_error("PopTokenValue out of order");
    Token->Value = SavedValues.back().second;
    SavedValues.pop_back();
  }

 private:
  // Points each row-qualified column reference under Node at its column of
  // the trigger row its row variable stands for (none: its own value).
  void bindTriggerRows(TBRNExprToken* Node) {
    if (Node == nullptr) return;
    if (Node->Kind == tkRowColumnReference && Node->Link != nullptr) {
      const size_t variant = size_t(Node->Link->Variant);
      const TBRNRowValues* row = variant < 2 ? Current->TriggerRows[variant] : nullptr;
      Node->Value = row != nullptr && Node->Index >= 0 && Node->Index < row->GetCount()
                        ? row->GetItem(Node->Index)
                        : Node->GetOwnValue();
    }
    bindTriggerRows(Node->Left());
    bindTriggerRows(Node->Right());
    for (TBRNExprToken* argument : Node->Arguments()) bindTriggerRows(argument);
  }

  void setCurrent(TBRNEvaluationContext* Context) {
    Current = Context;
    CurrentRows = Context != nullptr ? &Context->CurrentRows : nullptr;
  }
};

// A column list without catalog, compiled with its own parser, validator and
// builder, as a table's would be.
struct ColumnList {
  TBRNExprParser Parser;
  TBRNExprValidator Validator{false};
  TBRNExprBuilder Builder;
  TBRNColumns Columns{nullptr};

  ColumnList() {
    Columns.Parser = &Parser;
    Columns.Validator = &Validator;
    Columns.Builder = &Builder;
  }

  TBRNColumn* Add(const std::string& name, TBRNDataTypeCode type, int32_t length = 0,
                  TBRNDataSubType subType = stDefault, int32_t scale = 0) {
    auto column = std::make_unique<TBRNColumn>(nullptr);
    column->Name = name;
    column->SetDataType(type);
    if (subType != stDefault) column->SetSubType(subType);
    if (length != 0) column->SetLength(length);
    if (scale != 0) column->SetScale(scale);
    Columns.AddObject(column.get());
    column->ID = Columns.Count();
    return column.release();
  }
  TBRNColumn* AddComputed(const std::string& name, TBRNDataTypeCode type, const std::string& text) {
    TBRNColumn* column = Add(name, type);
    column->SetComputed(true);
    column->ComputedExpr->SetText(text);
    return column;
  }
  // Offsets, derived lists, compiled expressions and dependencies.
  void Finish() {
    Columns.RebuildColumnLists();
    Columns.Compile();
  }
};

}  // namespace brn::testing
