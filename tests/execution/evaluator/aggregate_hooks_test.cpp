// The aggregate hooks of the local evaluator: each call folds one row into
// the result row's cell of the select item that holds the aggregate.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "execution/evaluator/evaluator_test_support.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/execution_test_support.h"
#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"

namespace brn::testing {
namespace {

// One select item holding one aggregate over column 0 of the current row,
// and a result row of its own: value 0, then the select column.
class AggregateFixture {
 public:
  // argumentType: the type of the aggregated column; resultType: the
  // aggregate node's type (what the validator gives it).
  AggregateFixture(TBRNExprOperation operation, int32_t variant, TBRNDataTypeCode argumentType,
                   TBRNDataTypeCode resultType, int32_t collation = 0)
      : item_(node(tkSelectItem)) {
    item_->Index = 0;
    aggregate_ = typed(node(tkFunction, operation), resultType);
    aggregate_->Variant = variant;
    if (resultType == dtLob) aggregate_->SetSubType(stClob);
    column_ = typed(node(tkColumnReference, opNone, "x"),
                    argumentType, argumentType == dtChar ? 10 : 0);
    column_->Index = 0;
    column_->Collation = collation;
    aggregate_->AddArgument(column_);
    item_->AddArgument(aggregate_);
    cell_ = new TBRNContainedValue();
    row_.Add(new TBRNContainedValue());
    input_ = new TBRNContainedValue();
    input_->SetDataType(argumentType);
    if (argumentType == dtChar) input_->SetLength(10);
    input_->SetCollation(collation);
    sourceRow_.Add(input_);
    NewGroup(row_, 1);
    context_.CurrentRows = {&sourceRow_};
  }

  // COUNT(*): the argument is the "*" column reference.
  void CountEveryRow() { column_->Name = "*"; }
  // LIST's separator argument.
  void Separator(const std::string& text) { aggregate_->AddArgument(textConstant(text)); }

  // Starts a result row (a new group at groupRow): its cell NULL, typed
  // like the aggregate.
  void NewGroup(TBRNValues& row, int32_t groupRow) {
    if (row.GetCount() < 2) {
      if (row.GetCount() == 0) row.Add(new TBRNContainedValue());
      row.Add(&row == &row_ ? cell_ : new TBRNContainedValue());
    }
    TBRNValue& cell = *row.GetItem(1);
    cell.SetDataType(aggregate_->DataType);
    cell.SetDataSubType(aggregate_->SubType);
    cell.SetNull(true);
    context_.ResultRow = &row;
    context_.ResultGroupRow = groupRow;
  }
  void Switch(TBRNValues& row, int32_t groupRow) {
    context_.ResultRow = &row;
    context_.ResultGroupRow = groupRow;
  }

  // Folds one row whose column holds value (nullopt: NULL).
  void Fold(const std::optional<std::string>& value) {
    if (value)
      input_->SetAsString(*value);
    else
      input_->SetNull(true);
    TBRNEvaluationScope scope(evaluator_, context_);
    evaluator_.Evaluate(aggregate_);
  }
  void FoldAll(const std::vector<std::optional<std::string>>& values) {
    for (const auto& value : values) Fold(value);
  }

  // The accumulated value as text; "NULL" when NULL.
  std::string Result() const {
    const TBRNValue& cell = *context_.ResultRow->GetItem(1);
    return cell.GetNull() ? "NULL" : cell.GetAsString();
  }
  TBRNExprToken* Aggregate() const { return aggregate_; }

 private:
  TBRNLocalExprEvaluator evaluator_{true, nullptr, nullptr};
  Tree item_;
  TBRNExprToken* aggregate_ = nullptr;
  TBRNExprToken* column_ = nullptr;
  TBRNContainedValue* cell_ = nullptr;
  TBRNContainedValue* input_ = nullptr;
  TBRNValues row_;
  TBRNValues sourceRow_;
  TBRNEvaluatorContext context_;
};

struct AggregateCase {
  const char* name;
  TBRNExprOperation operation;
  int32_t variant;
  TBRNDataTypeCode argumentType;
  TBRNDataTypeCode resultType;
  std::vector<std::optional<std::string>> rows;
  std::string expected;
};

TEST(AggregateHooks, FoldRowsIntoTheResultCell) {
  const std::optional<std::string> null;
  const AggregateCase cases[] = {
      {"LIST in arrival order", opList, 0, dtChar, dtLob, {"b", "a", "b"}, "b,a,b"},
      {"LIST DISTINCT", opList, 1, dtChar, dtLob, {"b", "a", "b"}, "b,a"},
      {"LIST ORDERED", opList, 2, dtChar, dtLob, {"b", "a", "b"}, "a,b,b"},
      {"LIST DISTINCT ORDERED", opList, 3, dtChar, dtLob, {"b", "a", "b"}, "a,b"},
      {"LIST skips NULL", opList, 0, dtChar, dtLob, {null, "b", null, "a"}, "b,a"},
      {"LIST of only NULLs", opList, 0, dtChar, dtLob, {null, null}, "NULL"},
      {"COUNT of only NULLs", opCount, 0, dtInteger, dtInteger, {null, null}, "0"},
      {"COUNT skips NULL", opCount, 0, dtInteger, dtInteger, {"1", null, "1"}, "2"},
      {"COUNT DISTINCT", opCount, 1, dtInteger, dtInteger, {"1", "2", "1", null}, "2"},
      {"COUNT of no row", opCount, 0, dtInteger, dtInteger, {}, "NULL"},
      {"MAX", opMax, 0, dtInteger, dtInteger, {"3", null, "9", "-4"}, "9"},
      {"MIN", opMin, 0, dtInteger, dtInteger, {"3", null, "9", "-4"}, "-4"},
      {"MIN of text", opMin, 0, dtChar, dtChar, {"pear", "apple", "fig"}, "apple"},
      {"SUM Integer into BigInt", opSum, 0, dtInteger, dtBigInt, {"2147483647", "1"},
       "2147483648"},
      {"SUM SmallInt into BigInt", opSum, 0, dtSmallInt, dtBigInt, {"7", "-2"}, "5"},
      {"SUM SmallInt into Integer", opSum, 0, dtSmallInt, dtInteger, {"30000", "30000"},
       "60000"},
      {"SUM of only NULLs", opSum, 0, dtInteger, dtBigInt, {null, null}, "NULL"},
      {"SUM DISTINCT", opSum, 1, dtInteger, dtBigInt, {"5", "5", "2"}, "7"},
      {"SUM Float", opSum, 0, dtFloat, dtFloat, {"1.5", "2.25"}, "3.75"},
      {"sum of squares of SmallInt", opSumSquare, 0, dtSmallInt, dtFloat, {"200"}, "40000"},
      {"sum of squares", opSumSquare, 0, dtInteger, dtFloat, {"3", null, "4"}, "25"},
  };
  for (const AggregateCase& c : cases) {
    SCOPED_TRACE(c.name);
    AggregateFixture fixture(c.operation, c.variant, c.argumentType, c.resultType);
    fixture.FoldAll(c.rows);
    EXPECT_EQ(fixture.Result(), c.expected);
  }
}

TEST(AggregateHooks, ListJoinsWithItsSeparator) {
  for (int32_t variant : {0, 2}) {
    AggregateFixture fixture(opList, variant, dtChar, dtLob);
    fixture.Separator(" | ");
    fixture.FoldAll({"b", "a"});
    EXPECT_EQ(fixture.Result(), variant == 0 ? "b | a" : "a | b");
  }
}

TEST(AggregateHooks, CountOfEveryRowCountsNulls) {
  AggregateFixture fixture(opCount, 0, dtInteger, dtInteger);
  fixture.CountEveryRow();
  fixture.FoldAll({std::nullopt, std::nullopt, "1"});
  EXPECT_EQ(fixture.Result(), "3");
}

// Values equal under the argument's collation: the first row's value stays.
TEST(AggregateHooks, MaxAndMinKeepTheFirstEqualValue) {
  const int32_t caseless = 1 << CaseInsensitiveBit;
  for (TBRNExprOperation operation : {opMax, opMin}) {
    AggregateFixture fixture(operation, 0, dtChar, dtChar, caseless);
    fixture.FoldAll({"abc", "ABC", "Abc"});
    EXPECT_EQ(fixture.Result(), "abc") << operation;
  }
}

// An integer sum never wraps: leaving its type raises the range error and
// the accumulator keeps the last sum.
TEST(AggregateHooks, IntegerSumsOutOfRangeRaise) {
  const struct {
    TBRNDataTypeCode argumentType;
    TBRNDataTypeCode resultType;
    const char* first;
    const char* second;
  } cases[] = {
      {dtInteger, dtInteger, "2147483647", "1"},
      {dtSmallInt, dtSmallInt, "-32768", "-1"},
      {dtBigInt, dtBigInt, "9223372036854775807", "1"},
      {dtBigInt, dtBigInt, "-9223372036854775807", "-2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    AggregateFixture fixture(opSum, 0, c.argumentType, c.resultType);
    fixture.Fold(c.first);
    EXPECT_EQ(Outcome([&] { fixture.Fold(c.second); }).first, kConversionErrorCode);
    EXPECT_EQ(fixture.Result(), c.first);
  }
}

// DISTINCT and ORDERED keep their value sets per group row, so groups whose
// rows arrive interleaved do not see each other's values.
TEST(AggregateHooks, DistinctValuesAreKeptPerGroupRow) {
  AggregateFixture count(opCount, 1, dtChar, dtInteger);
  TBRNValues second;
  count.NewGroup(second, 2);
  TBRNValues first;
  count.NewGroup(first, 1);
  count.Fold("a");
  count.Switch(second, 2);
  count.Fold("a");
  count.Fold("b");
  count.Switch(first, 1);
  count.Fold("a");
  count.Fold("c");
  EXPECT_EQ(count.Result(), "2");
  count.Switch(second, 2);
  EXPECT_EQ(count.Result(), "2");

  AggregateFixture list(opList, 2, dtChar, dtLob);
  TBRNValues other;
  list.NewGroup(other, 5);
  list.FoldAll({"y", "x"});
  TBRNValues own;
  list.NewGroup(own, 6);
  list.Fold("z");
  EXPECT_EQ(list.Result(), "z");
  list.Switch(other, 5);
  EXPECT_EQ(list.Result(), "x,y");
}

// A group row number used again by a new group (its cell NULL again)
// starts with an empty value set.
TEST(AggregateHooks, ANewGroupInTheSameRowStartsAfresh) {
  AggregateFixture fixture(opList, 3, dtChar, dtLob);
  TBRNValues row;
  fixture.NewGroup(row, 1);
  fixture.FoldAll({"b", "a"});
  fixture.NewGroup(row, 1);
  fixture.FoldAll({"c", "a"});
  EXPECT_EQ(fixture.Result(), "a,c");
}

}  // namespace
}  // namespace brn::testing
