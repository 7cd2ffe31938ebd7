// The run-time values of the local evaluator: variables, ARRAY variables,
// row-qualified column references, row values and the sorted value sets of
// aggregates.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "execution/evaluator/aggregate_values.h"
#include "execution/evaluator/evaluator_test_support.h"
#include "execution/evaluator/holding_values.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/evaluator/reference_values.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

class RuntimeValuesTest : public ::testing::Test {
 protected:
  // The value of a node, made by the evaluator's value factory.
  TBRNValue& valueOf(TBRNExprToken* target) {
    evaluator.Evaluate(target);
    return *target->Value;
  }

  TBRNLocalExprEvaluator evaluator{true, nullptr, nullptr};
  TBRNEvaluatorContext context;
  TBRNEvaluationScope scope{evaluator, context};
  // DECLARE v VARCHAR(5); DECLARE a INTEGER ARRAY[3]; DECLARE b INTEGER ARRAY[5].
  Tree text{declaration("v", dtChar, 5)};
  Tree array{declaration("a", dtInteger, 0, 3)};
  Tree bigger{declaration("b", dtInteger, 0, 5)};
  TBRNExprToken* v = declaredName(text.get());
  TBRNExprToken* a = declaredName(array.get());
  TBRNExprToken* b = declaredName(bigger.get());
};

TEST_F(RuntimeValuesTest, FactoryGivesEachKindItsClass) {
  Tree param(typed(node(tkRoutineParam, opParamInOut, "p"), dtInteger));
  Tree dynamic(typed(node(tkDynamicParam, opParamOut, "d"), dtInteger));
  Tree rowValue(node(tkRowValue));
  evaluator.CreateTokenValue(v);
  evaluator.CreateTokenValue(param.get());
  evaluator.CreateTokenValue(dynamic.get());
  evaluator.CreateTokenValue(rowValue.get());
  EXPECT_NE(dynamic_cast<TBRNVariableValue*>(v->Value), nullptr);
  auto* routineParam = dynamic_cast<TBRNRoutineParamValue*>(param->Value);
  ASSERT_NE(routineParam, nullptr);
  EXPECT_EQ(routineParam->GetDirection(), pmInputOutput);
  EXPECT_EQ(routineParam->GetName(), "p");
  auto* dynamicParam = dynamic_cast<TBRNDynamicParamValue*>(dynamic->Value);
  ASSERT_NE(dynamicParam, nullptr);
  EXPECT_EQ(dynamicParam->GetDirection(), pmOutput);
  EXPECT_NE(dynamic_cast<TBRNRowValueValue*>(rowValue->Value), nullptr);

  Tree parameterReference(reference(tkDynamicParamReference, dynamic.get()));
  evaluator.Prepare(parameterReference.get());  // preparing creates it
  auto* dynamicReference = dynamic_cast<TBRNDynamicParamReferenceValue*>(parameterReference->Value);
  ASSERT_NE(dynamicReference, nullptr);
  EXPECT_EQ(dynamicReference->GetDirection(), pmOutput);
  dynamicReference->SetAsInteger(42);
  EXPECT_EQ(dynamicParam->GetAsInteger(), 42);
}

// Every failure of this table is 1011 with its exact text.
TEST_F(RuntimeValuesTest, ErrorsNameTheirObject) {
  TBRNExprToken* textReference = reference(tkVariableReference, v);
  Tree textReferenceTree(textReference);
  Tree element0(elementReference(a, integerConstant(0)));
  Tree element4(elementReference(a, integerConstant(4)));
  Tree oldVariable(node(tkRowVariable, opNone, "OLD"));
  Tree newVariable(node(tkRowVariable, opNone, "NEW"));
  newVariable->Variant = 1;
  Tree oldColumn(typed(node(tkRowColumnReference, opNone, "x"), dtInteger));
  oldColumn->Link = oldVariable.get();
  oldColumn->Index = 0;
  Tree newColumn(typed(node(tkRowColumnReference, opNone, "x"), dtInteger));
  newColumn->Link = newVariable.get();
  newColumn->Index = 0;
  Tree wide(typed(node(tkVariable, opNone, "small"), dtSmallInt));

  const struct {
    const char* name;
    std::function<void()> action;
    const char* message;
  } cases[] = {
      {"VarChar(5) given seven letters", [&] { valueOf(v).SetAsString("abcdefg"); },
       "An error occurred with the variable v (The value abcdefg would result in truncation)"},
      {"the same through a reference",
       [&] {
         evaluator.CreateTokenValue(v);
         valueOf(textReference).SetAsString("abcdefgh");
       },
       "An error occurred with the variable v (The value abcdefgh would result in truncation)"},
      {"out of range", [&] { valueOf(wide.get()).SetAsInteger(70000); },
       "An error occurred with the variable small (The value 70000 is out of the range of "
       "permissible values for the SmallInt type)"},
      {"ARRAY index 0",
       [&] {
         evaluator.CreateTokenValue(a);
         valueOf(element0.get()).SetAsInteger(1);
       },
       "An error occurred with the array a (The value 0 is out of the range of permissible "
       "index values)"},
      {"ARRAY index 4",
       [&] {
         evaluator.CreateTokenValue(a);
         (void)valueOf(element4.get()).GetAsInteger();
       },
       "An error occurred with the array a (The value 4 is out of the range of permissible "
       "index values)"},
      {"OLD.x in an INSERT trigger",
       [&] {
         context.TriggerOperation = 0;
         (void)valueOf(oldColumn.get()).GetAsInteger();
       },
       "An error occurred with the row OLD (The row value cannot be referenced in an INSERT "
       "operation)"},
      {"NEW.x in a DELETE trigger",
       [&] {
         context.TriggerOperation = 2;
         valueOf(newColumn.get()).SetAsInteger(3);
       },
       "An error occurred with the row NEW (The row value cannot be referenced in an DELETE "
       "operation)"},
      {"OLD.x in an UPDATE without rows",
       [&] {
         context.TriggerOperation = 1;
         (void)valueOf(oldColumn.get()).GetNull();
       },
       "An error occurred with the row OLD (The row value cannot be referenced in an UPDATE "
       "operation)"},
      {"OLD.x outside a trigger",
       [&] {
         context.TriggerOperation = -1;
         (void)valueOf(oldColumn.get()).GetNull();
       },
       "An error occurred with the row OLD (The row value cannot be referenced in an All "
       "operation)"},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    try {
      entry.action();
      ADD_FAILURE() << "no exception";
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, 1011);
      EXPECT_EQ(error.ErrorMessage, entry.message);
    }
  }
}

TEST_F(RuntimeValuesTest, VarCharCutsTrailingBlanksSilently) {
  TBRNValue& value = valueOf(v);
  value.SetAsString("abcde   ");
  EXPECT_EQ(value.GetAsString(), "abcde");
  value.SetAsString("ab");
  EXPECT_EQ(value.GetAsString(), "ab");
}

TEST_F(RuntimeValuesTest, ArrayElementsCardinalityAndAssignment) {
  evaluator.CreateTokenValue(a);
  evaluator.CreateTokenValue(b);
  auto& arrayA = dynamic_cast<TBRNArrayValuesValue&>(*a->Value);
  auto& arrayB = dynamic_cast<TBRNArrayValuesValue&>(*b->Value);
  Tree cardinality(typed(node(tkFunction, opCardinality), dtInteger));
  cardinality->AddArgument(reference(tkArrayReference, a));
  EXPECT_EQ(valueOf(cardinality.get()).GetAsInteger(), 0);

  Tree second(elementReference(a, integerConstant(2)));
  valueOf(second.get()).SetAsInteger(20);
  EXPECT_EQ(valueOf(cardinality.get()).GetAsInteger(), 2);
  EXPECT_EQ(arrayA.GetElement(2)->GetAsInteger(), 20);
  EXPECT_EQ(arrayA.Elements->Existing(1), nullptr);

  // A scalar goes into every element up to the size.
  Tree whole(reference(tkArrayReference, a));
  TBRNExprToken* seven = integerConstant(7);
  Tree sevenTree(seven);
  valueOf(whole.get()).Assign(valueOf(seven));
  for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(arrayA.GetElement(i)->GetAsInteger(), 7);
  EXPECT_EQ(arrayA.GetCardinality(), 3);

  // An ARRAY of size 5 into one of size 3: size 5, the used elements
  // copied, the others kept.
  arrayB.GetElement(1)->SetAsInteger(11);
  arrayB.GetElement(5)->SetAsInteger(55);
  Tree fromB(reference(tkArrayReference, b));
  valueOf(whole.get()).Assign(valueOf(fromB.get()));
  EXPECT_EQ(arrayA.Elements->GetDeclaredCount(), 5);
  EXPECT_EQ(arrayA.GetCardinality(), 5);
  const int32_t expected[] = {11, 7, 7, 0, 55};
  for (int32_t i = 1; i <= 5; ++i) {
    if (i == 4) {
      EXPECT_EQ(arrayA.Elements->Existing(4), nullptr);
      continue;
    }
    EXPECT_EQ(arrayA.GetElement(i)->GetAsInteger(), expected[i - 1]) << i;
  }
  // Back into a smaller array: the elements beyond its size go.
  Tree fromA(reference(tkArrayReference, a));
  Tree intoB(reference(tkArrayReference, b));
  arrayA.Elements->SetDeclaredCount(2);
  valueOf(intoB.get()).Assign(valueOf(fromA.get()));
  EXPECT_EQ(arrayB.Elements->GetDeclaredCount(), 2);
  EXPECT_EQ(arrayB.GetCardinality(), 2);
  EXPECT_EQ(arrayB.Elements->GetCount(), 2);
  EXPECT_EQ(arrayB.GetElement(1)->GetAsInteger(), 11);
  EXPECT_EQ(arrayB.GetElement(2)->GetAsInteger(), 7);
  EXPECT_EQ(valueOf(cardinality.get()).GetAsInteger(), 2);
  // An element takes the array's type and the variable's rules.
  EXPECT_THROW(arrayA.GetElement(1)->SetAsString("x"), EBRNException);
}

TEST_F(RuntimeValuesTest, ArraySizeIsNotAllocatedUpFront) {
  Tree huge(declaration("h", dtInteger, 0, 2000000000));
  TBRNExprToken* h = declaredName(huge.get());
  evaluator.CreateTokenValue(h);
  auto& values = dynamic_cast<TBRNArrayValuesValue&>(*h->Value);
  values.GetElement(3)->SetAsInteger(3);
  EXPECT_LE(values.Elements->GetCapacity(), 8);
  EXPECT_EQ(values.GetCardinality(), 3);

  Tree negative(declaration("n", dtInteger, 0, 0));
  TBRNExprToken* size = negative->Argument(2);
  TBRNExprToken* minusOne = typed(node(tkConstant), dtInteger);
  minusOne->Text = "-1";
  negative->SetArgument(2, minusOne);
  FreeExprTree(size);
  try {
    evaluator.CreateTokenValue(declaredName(negative.get()));
    FAIL() << "no exception";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorMessage,
              "An error occurred with the array n (The value -1 is out of the range of "
              "permissible index values)");
  }
}

TEST_F(RuntimeValuesTest, RowValuesCompareMemberByMember) {
  auto row = [](int32_t first, const std::string& second) {
    TBRNExprToken* result = node(tkRowValue);
    result->AddArgument(integerConstant(first));
    result->AddArgument(textConstant(second));
    return result;
  };
  Tree left(row(1, "b"));
  Tree same(row(1, "b"));
  Tree greater(row(1, "c"));
  Tree scalar(integerConstant(1));
  TBRNValue& leftValue = valueOf(left.get());
  EXPECT_EQ(leftValue.Compare(valueOf(same.get()), 0, false, 0), 0);
  EXPECT_EQ(leftValue.Compare(valueOf(greater.get()), 0, false, 0), -1);
  EXPECT_EQ(valueOf(greater.get()).Compare(leftValue, 0, false, 0), 1);
  EXPECT_EQ(leftValue.Compare(valueOf(scalar.get()), 0, false, 0), -1);

  // Assignment copies the members; a scalar source changes nothing.
  Tree target(node(tkRowValue));
  Tree declaredX(declaration("x", dtInteger, 0));
  Tree declaredY(declaration("y", dtChar, 5));
  evaluator.CreateTokenValue(declaredName(declaredX.get()));
  evaluator.CreateTokenValue(declaredName(declaredY.get()));
  target->AddArgument(reference(tkVariableReference, declaredName(declaredX.get())));
  target->AddArgument(reference(tkVariableReference, declaredName(declaredY.get())));
  TBRNValue& targetValue = valueOf(target.get());
  targetValue.Assign(valueOf(greater.get()));
  EXPECT_EQ(declaredName(declaredX.get())->Value->GetAsInteger(), 1);
  EXPECT_EQ(declaredName(declaredY.get())->Value->GetAsString(), "c");
  targetValue.Assign(valueOf(scalar.get()));
  EXPECT_EQ(declaredName(declaredY.get())->Value->GetAsString(), "c");
  // Clear leaves constants alone.
  leftValue.Clear();
  EXPECT_EQ(left->Argument(0)->Value->GetAsInteger(), 1);
}

TEST(AggregateValues, SortedSets) {
  auto number = [](int32_t n) {
    auto value = std::make_unique<TBRNContainedValue>();
    value->SetDataType(dtInteger);
    value->SetAsInteger(n);
    return value;
  };
  const struct {
    const char* name;
    bool unique;
    std::vector<int32_t> added;
    std::vector<bool> answers;
    std::vector<int32_t> sorted;
    int32_t placeOfFour;
  } cases[] = {
      {"distinct",
       true,
       {5, 1, 3, 5, 1, 9},
       {true, true, true, false, false, true},
       {1, 3, 5, 9},
       2},
      {"all", false, {5, 1, 5, 3}, {true, true, true, true}, {1, 3, 5, 5}, 2},
      {"descending input", true, {9, 7, 5, 3}, {true, true, true, true}, {3, 5, 7, 9}, 1},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    TBRNAggregateValues values;
    for (size_t i = 0; i < entry.added.size(); ++i)
      EXPECT_EQ(values.Add(*number(entry.added[i]), entry.unique), entry.answers[i]) << i;
    ASSERT_EQ(values.Count(), int32_t(entry.sorted.size()));
    for (int32_t i = 0; i < values.Count(); ++i)
      EXPECT_EQ(values.Item(i).GetAsInteger(), entry.sorted[size_t(i)]);
    EXPECT_EQ(values.Capacity() % 256, 0);
    int32_t index = -1;
    EXPECT_FALSE(values.Find(*number(4), index));
    EXPECT_EQ(index, entry.placeOfFour);
    EXPECT_TRUE(values.Find(*number(entry.sorted[1]), index));
    EXPECT_EQ(values.Item(index).GetAsInteger(), entry.sorted[1]);
    EXPECT_FALSE(values.Find(*number(0), index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(values.Find(*number(100), index));
    EXPECT_EQ(index, values.Count());
    values.Clear();
    EXPECT_EQ(values.Count(), 0);
  }
}

TEST(AggregateValues, GroupSetsStartAgainWhenTheRunningValueIsNull) {
  TBRNLocalExprEvaluator evaluator(true, nullptr, nullptr);
  TBRNEvaluatorContext context;
  TBRNEvaluationScope scope(evaluator, context);
  // SELECT LIST(DISTINCT ...) : the aggregate sits in select item 0, whose
  // running value is value 1 of the result row.
  Tree item(node(tkSelectItem));
  item->Index = 0;
  TBRNExprToken* list = typed(node(tkFunction, opList), dtChar, 100);
  item->AddArgument(list);
  TBRNValues resultRow;
  for (int32_t i = 0; i < 2; ++i) {
    auto* value = new TBRNContainedValue();
    value->SetDataType(dtChar);
    resultRow.Add(value);
  }
  context.ResultRow = &resultRow;
  evaluator.CreateTokenValue(list);
  auto& aggregate = dynamic_cast<TBRNAggregateFunctionReferenceValue&>(*list->Value);

  TBRNContainedValue word;
  word.SetDataType(dtChar);
  resultRow.GetItem(1)->SetAsString("running");
  for (const char* text : {"pear", "apple", "pear"}) {
    word.SetAsString(text);
    aggregate.AddGroupValue(7, word, true);
  }
  EXPECT_EQ(aggregate.JoinGroupValues(7, ", "), "apple, pear");
  EXPECT_EQ(aggregate.GetAsString(), "running");
  // Another group row has its own set.
  word.SetAsString("fig");
  EXPECT_TRUE(aggregate.AddGroupValue(8, word, true));
  EXPECT_EQ(aggregate.JoinGroupValues(8, "|"), "fig");
  // A new group in row 7: the running value is NULL again, so the first
  // value clears what the earlier group left.
  resultRow.GetItem(1)->SetNull(true);
  word.SetAsString("pear");
  EXPECT_TRUE(aggregate.AddGroupValue(7, word, true));
  EXPECT_EQ(aggregate.JoinGroupValues(7, ", "), "pear");
}

}  // namespace
}  // namespace brn::testing
