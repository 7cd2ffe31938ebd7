// The run-time value of a column reference in the remote evaluator: it reads
// the evaluator's current row at each access, and a NULL of its own where
// that row is missing or too short, never a value that is not there.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "clientserver/remote/remote_expr_evaluator.h"
#include "foundation/values/contained_value.h"
#include "foundation/values/value_list.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {
namespace {

void Fill(TBRNValues& values, std::initializer_list<int32_t> numbers) {
  for (int32_t n : numbers) {
    auto* value = new TBRNContainedValue();
    value->SetDataType(dtInteger);
    value->SetAsInteger(n);
    values.Add(value);
  }
}

TEST(RemoteExprEvaluatorTest, AColumnReferenceReadsTheCurrentRowAtEachAccess) {
  // Column 1 of a one-table expression, evaluated without preparing, so
  // that its value is the evaluator's reference value.
  auto column = std::make_unique<TBRNExprToken>();
  column->Kind = tkColumnReference;
  column->Index = 1;
  column->DataType = dtInteger;
  TBRNRemoteExprEvaluator evaluator(true);
  evaluator.Evaluate(column.get());
  auto* reference = dynamic_cast<TBRNRemoteColumnReferenceValue*>(column->Value);
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->GetDataType(), dtInteger);

  TBRNValues row, other, tooShort;
  Fill(row, {7, 42});
  Fill(other, {8, 43});
  Fill(tooShort, {9});
  struct Case {
    const char* Name;
    const TBRNValues* Row;
    bool Null;
    int32_t Value;
  };
  const Case cases[] = {
      {"no current row", nullptr, true, 0},
      {"a row", &row, false, 42},
      {"another row, read anew", &other, false, 43},
      {"a row without the column", &tooShort, true, 0},
  };
  for (const Case& c : cases) {
    evaluator.SetCurrentRow(c.Row);
    EXPECT_EQ(reference->GetNull(), c.Null) << c.Name;
    if (!c.Null) {
      EXPECT_EQ(reference->GetAsInteger(), c.Value) << c.Name;
    }
  }
  // The value belongs to the node; the rows outlive it.
  column.reset();
}

}  // namespace
}  // namespace brn
