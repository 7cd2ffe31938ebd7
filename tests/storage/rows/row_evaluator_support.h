// The SQL evaluator behind the storage seam and a compiled column list
// without a catalog, shared by the row tests and the storage fuzz targets
// (no test framework here).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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
// it: the column references of a tree read the current row's values.
class RowEvaluator : public TBRNExprEvaluator, public TBRNExpressionEvaluator {
 public:
  RowEvaluator() : TBRNExprEvaluator(true) {}

  TBRNEvaluationContext* Current = nullptr;
  int32_t Swaps = 0;

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
    if (Current == nullptr || Current->CurrentRows.empty() || Current->CurrentRows[0] == nullptr)
      throw std::logic_error("no current row");
    Prepare(Root);
    Evaluate(Root);
  }

 private:
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
