// The evaluator frame: values per node, dispatch, the virtual operations,
// the tree walks and deep chains.
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/values/contained_value.h"
#include "foundation/values/value_list.h"
#include "sql/evaluator/cast_contained_value.h"
#include "sql/evaluator/typed_tree_builder.h"

namespace brn::testing {
namespace {

// Records what reaches the virtual operations.
class RecordingEvaluator : public TBRNExprEvaluator {
 public:
  using TBRNExprEvaluator::TBRNExprEvaluator;
  std::vector<std::string> Calls;

  void GetStatementAttribute(TBRNExprToken* Node) override {
    Calls.push_back("statement " + std::to_string(Node->Operation));
    Node->Value->SetAsInteger(7);
  }
  void AggregateCount(TBRNExprToken* Node) override {
    Calls.push_back("count");
    Node->Value->SetAsInteger(Node->Value->GetNull() ? 1 : Node->Value->GetAsInteger() + 1);
  }
  void PrepareNode(TBRNExprToken* Node) override { Calls.push_back(Node->Text); }
};

TBRNExprToken* Function(TBRNExprOperation Operation, TBRNDataTypeCode Type) {
  auto* node = new TBRNExprToken();
  node->Kind = tkFunction;
  node->Operation = Operation;
  node->SetDataType(Type);
  return node;
}

// A value holder such as a column: the test writes its value per row.
TBRNExprToken* Column(TBRNDataTypeCode Type) {
  auto* node = new TBRNExprToken();
  node->Kind = tkColumnReference;
  node->SetDataType(Type);
  return node;
}

TEST(ExprEvaluatorTest, NullConstantsStayNullInAnyLetterCase) {
  TBRNExprEvaluator evaluator(true);
  for (const char* text : {"NULL", "null", "Null"}) {
    TypedTree tree(Constant(dtNull, text));
    EXPECT_EQ(ResultText(evaluator, tree.Get()), "NULL") << text;
  }
  TypedTree constant(Int(42));
  EXPECT_EQ(ResultText(evaluator, constant.Get()), "42");
}

TEST(ExprEvaluatorTest, ValuesAreReusedUntilUnprepared) {
  TBRNExprEvaluator evaluator(true);
  TypedTree tree(Op(opAdd, dtInteger, Int(1), Int(2)));
  evaluator.Prepare(tree.Get());
  evaluator.Evaluate(tree.Get());
  TBRNValue* first = tree->Value;
  TBRNValue* leftValue = tree->Left()->Value;
  ASSERT_NE(first, nullptr);
  evaluator.Evaluate(tree.Get());
  EXPECT_EQ(tree->Value, first);
  EXPECT_EQ(tree->Left()->Value, leftValue);
  evaluator.Unprepare(tree.Get());
  EXPECT_EQ(tree->Value, nullptr);
  EXPECT_EQ(tree->Left()->Value, nullptr);
  EXPECT_EQ(tree->Right()->Value, nullptr);
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "3");
  EXPECT_NE(tree->Value, nullptr);
}

// The query of a derived table keeps its values when the tree around it is
// unprepared: the view query that runs it releases them, and may outlive
// that tree.
TEST(ExprEvaluatorTest, UnprepareLeavesTheQueryOfADerivedTable) {
  TBRNExprEvaluator evaluator(true);
  auto* query = new TBRNExprToken();
  query->Kind = tkQuery;
  TBRNExprToken* inside = Int(5);
  query->AddArgument(inside);
  auto* reference = new TBRNExprToken();
  reference->Kind = tkTableReference;
  reference->Operation = opDerivedTable;
  reference->AddArgument(query);
  auto* root = new TBRNExprToken();
  root->Kind = tkQuery;
  TBRNExprToken* outside = Int(1);
  root->AddArgument(outside);
  root->AddArgument(reference);
  TypedTree tree(root);
  evaluator.Evaluate(inside);
  evaluator.Evaluate(outside);
  ASSERT_NE(inside->Value, nullptr);

  evaluator.Unprepare(tree.Get());
  EXPECT_EQ(outside->Value, nullptr);
  EXPECT_NE(inside->Value, nullptr);
  evaluator.Unprepare(query);
  EXPECT_EQ(inside->Value, nullptr);
}

TEST(ExprEvaluatorTest, NullTreesAreAccepted) {
  TBRNExprEvaluator evaluator(true);
  EXPECT_NO_THROW(evaluator.Evaluate(nullptr));
  EXPECT_NO_THROW(evaluator.Prepare(nullptr));
  EXPECT_NO_THROW(evaluator.Unprepare(nullptr));
}

TEST(ExprEvaluatorTest, PrepareWalksInPostOrder) {
  RecordingEvaluator evaluator(true);
  TypedTree tree(Op(opAdd, dtInteger, Op(opMultiply, dtInteger, Int(1), Int(2)),
                    Pred(opIn, {Int(3), Int(4)})));
  tree->Text = "root";
  tree->Left()->Text = "product";
  tree->Right()->Text = "in";
  evaluator.Prepare(tree.Get());
  EXPECT_EQ(evaluator.Calls,
            (std::vector<std::string>{"1", "2", "product", "3", "4", "in", "root"}));
}

// ---- Column references read the current rows ------------------------------

// A row of contained values (owned by the list).
struct ValueRow {
  TBRNValues Values;
  explicit ValueRow(std::initializer_list<int32_t> Numbers) {
    for (int32_t n : Numbers) {
      auto* value = new TBRNContainedValue();
      value->SetDataType(dtInteger);
      value->SetAsInteger(n);
      Values.Add(value);
    }
  }
  TBRNValue* At(int32_t Index) const { return Values.GetItem(Index); }
};

TBRNExprToken* TableReference() {
  auto* node = new TBRNExprToken();
  node->Kind = tkTableReference;
  return node;
}

// A bound column reference: column Index of the row of Table's row source
// (or of row source 0 without Table).
TBRNExprToken* BoundColumn(int32_t Index, TBRNExprToken* Table = nullptr) {
  TBRNExprToken* node = Column(dtInteger);
  node->Index = Index;
  node->Link = Table;
  return node;
}

TEST(ExprEvaluatorTest, PrepareNumbersRowSourcesOfTablesAndBoundColumns) {
  // A list holding two table references and columns of both, in an order
  // where a column is met before its table: the table is numbered then.
  TBRNExprToken* first = TableReference();
  TBRNExprToken* second = TableReference();
  TBRNExprToken* ofSecond = BoundColumn(1, second);
  TBRNExprToken* ofFirst = BoundColumn(0, first);
  TBRNExprToken* unlinked = BoundColumn(2);
  TBRNExprToken* holder = Column(dtInteger);  // no column number: not a row reader
  TypedTree tree(Row({ofSecond, ofFirst, unlinked, holder}));
  tree->AddArgument(first);
  tree->AddArgument(second);
  TBRNExprEvaluator evaluator(true);
  for (int round = 0; round < 2; ++round) {  // again after Unprepare
    evaluator.Prepare(tree.Get());
    EXPECT_EQ(second->RowSource, 0);
    EXPECT_EQ(ofSecond->RowSource, 0);
    EXPECT_EQ(first->RowSource, 1);
    EXPECT_EQ(ofFirst->RowSource, 1);
    EXPECT_EQ(unlinked->RowSource, 0);
    EXPECT_EQ(holder->RowSource, -1);
    evaluator.Prepare(tree.Get());  // a prepared tree keeps its numbers
    EXPECT_EQ(first->RowSource, 1);
    evaluator.Unprepare(tree.Get());
    for (const TBRNExprToken* node : {first, second, ofSecond, ofFirst, unlinked})
      EXPECT_EQ(node->RowSource, -1);
  }
}

TEST(ExprEvaluatorTest, ColumnReferencesReadTheCurrentRowsInPlace) {
  // a.0 * 10 + b.1 over the rows of two row sources, as a join reads them.
  TBRNExprToken* a = TableReference();
  TBRNExprToken* b = TableReference();
  TBRNExprToken* left = BoundColumn(0, a);
  TBRNExprToken* right = BoundColumn(1, b);
  TypedTree tree(Op(opAdd, dtInteger, Op(opMultiply, dtInteger, left, Int(10)), right));
  TypedTree tables(Row({a, b}));
  TBRNExprEvaluator evaluator(true);
  evaluator.Prepare(tree.Get());
  ASSERT_EQ(a->RowSource, 0);
  ASSERT_EQ(b->RowSource, 1);

  ValueRow rowA{4, 5}, rowB{6, 7}, otherA{8, 9};
  TBRNCurrentRows rows{&rowA.Values, &rowB.Values};
  evaluator.CurrentRows = &rows;
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "47");
  // The leaves view the rows' values: nothing was copied into the tree.
  EXPECT_EQ(left->Value, rowA.At(0));
  EXPECT_EQ(right->Value, rowB.At(1));
  EXPECT_EQ(left->GetOwnValue(), nullptr);
  // A changed value and a row source moved to another row are read anew.
  rowB.At(1)->SetAsInteger(1);
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "41");
  rows[0] = &otherA.Values;
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "81");
  EXPECT_EQ(left->Value, otherA.At(0));

  // A source without a current row (nullptr entry, missing entry, no rows at
  // all) reads the reference's own value: NULL.
  struct Case {
    const char* Name;
    TBRNCurrentRows Rows;
    bool WithRows;
  };
  const Case cases[] = {
      {"nullptr entry", {&rowA.Values, nullptr}, true},
      {"missing entry", {&rowA.Values}, true},
      {"no current rows", {}, false},
  };
  for (const Case& c : cases) {
    evaluator.CurrentRows = c.WithRows ? &c.Rows : nullptr;
    EXPECT_EQ(ResultText(evaluator, tree.Get()), "NULL") << c.Name;
    EXPECT_EQ(right->Value, right->GetOwnValue()) << c.Name;
    EXPECT_TRUE(right->Value->GetNull()) << c.Name;
  }
  // Once the row is back, the reference reads it again.
  evaluator.CurrentRows = &rows;
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "81");
  EXPECT_EQ(right->Value, rowB.At(1));

  // A column number beyond the row fails as the engine's error.
  right->Index = 5;
  EXPECT_THROW(evaluator.Evaluate(tree.Get()), EBRNException);
  EXPECT_THROW(evaluator.Evaluate(right), EBRNException);
  right->Index = 1;

  // Unprepared, the references read their own values again.
  evaluator.Unprepare(tree.Get());
  EXPECT_EQ(left->Value, nullptr);
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "NULL");
}

TEST(ExprEvaluatorTest, RowValueIsNullOnlyUnderStandardNulls) {
  for (bool standard : {true, false}) {
    TBRNExprEvaluator evaluator(standard);
    TypedTree row(Row({Int(1), NullOf(dtInteger)}));
    evaluator.Evaluate(row.Get());
    EXPECT_EQ(row->Value->GetNull(), standard);
    TypedTree full(Row({Int(1), Int(2)}));
    evaluator.Evaluate(full.Get());
    EXPECT_FALSE(full->Value->GetNull());
  }
}

TEST(ExprEvaluatorTest, VirtualOperationsAndForwarders) {
  RecordingEvaluator evaluator(true);
  TypedTree aborted(Function(opAborted, dtBoolean));
  EXPECT_EQ(ResultText(evaluator, aborted.Get()), "FALSE");
  TypedTree result(Function(opStmtResult, dtInteger));
  EXPECT_EQ(ResultText(evaluator, result.Get()), "7");
  TypedTree affected(Function(opRowsAffected, dtInteger));
  EXPECT_EQ(ResultText(evaluator, affected.Get()), "7");
  // The table entry of COUNT runs the subclass's override, and the value
  // persists between evaluations as a running total does.
  TypedTree count(Function(opCount, dtInteger));
  evaluator.Evaluate(count.Get());
  EXPECT_EQ(ResultText(evaluator, count.Get()), "2");
  EXPECT_EQ(evaluator.Calls,
            (std::vector<std::string>{"statement 98", "statement 91", "count", "count"}));
  EXPECT_EQ(evaluator.GetOperationRoutine(0), nullptr);
  EXPECT_EQ(evaluator.GetOperationRoutine(EvaluationSlotCount + 1), nullptr);
  EXPECT_NE(evaluator.GetOperationRoutine(opAdd), nullptr);
}

TEST(ExprEvaluatorTest, CastWithDeclaredLengthKeepsThatLength) {
  TBRNExprEvaluator evaluator(true);
  TypedTree cast(Function(opCast, dtChar));
  cast->SetSize(3);
  TBRNValue* value = evaluator.NewValue(cast.Get());
  auto* contained = dynamic_cast<TBRNCastContainedValue*>(value);
  ASSERT_NE(contained, nullptr);
  EXPECT_TRUE(contained->EnforcesDeclaredLength());
  delete value;

  evaluator.CreateTokenValue(cast.Get());
  EXPECT_EQ(cast->Value->GetLength(), 0);
  cast->Value->SetAsString("abcdef");  // cut silently to the declared length
  EXPECT_EQ(cast->Value->GetAsString(), "abc");

  // Without a declared length (or for any other node) a plain value.
  TypedTree plain(Function(opCast, dtChar));
  TBRNValue* other = evaluator.NewValue(plain.Get());
  EXPECT_EQ(dynamic_cast<TBRNCastContainedValue*>(other), nullptr);
  EXPECT_NE(dynamic_cast<TBRNContainedValue*>(other), nullptr);
  delete other;
}

// A node without an evaluation rule answers NULL on every evaluation, never
// what it held for an earlier row.
TEST(ExprEvaluatorTest, NoRuleGivesNullNotThePreviousRow) {
  TBRNExprEvaluator evaluator(true);
  struct Holder {
    const char* Name;
    TBRNExprToken* Node;
  };
  TypedTree unboundFunction(Function(opCaseConditions, dtInteger));
  unboundFunction->AddArgument(Int(-3));
  TypedTree unknownOperator(Op(TBRNExprOperation(opRange), dtInteger, Int(1), Int(2)));
  unknownOperator->Kind = tkOperator;
  TypedTree unhandledPair(Op(opSubtract, dtChar, Str("a"), Str("b")));
  TypedTree dateMinusStamp(Op(opIntervalDifference, dtDayTimeInterval, Date("2020-01-01"),
                              Stamp("2020-01-01 10:00:00"), ifHour));
  TypedTree exists(Function(opExists, dtBoolean));
  TBRNExprToken* query = new TBRNExprToken();
  query->Kind = tkQuery;
  exists->AddArgument(query);
  TypedTree inQuery(Pred(opIn, {Int(1), new TBRNExprToken()}));
  inQuery->Argument(1)->Kind = tkQuery;
  for (Holder h :
       {Holder{"function", unboundFunction.Get()}, Holder{"operator", unknownOperator.Get()},
        Holder{"pair", unhandledPair.Get()}, Holder{"interval difference", dateMinusStamp.Get()},
        Holder{"exists", exists.Get()}, Holder{"in query", inQuery.Get()}}) {
    evaluator.Evaluate(h.Node);
    EXPECT_TRUE(h.Node->Value->GetNull()) << h.Name;
    // As if an earlier row had left a result behind.
    h.Node->Value->SetNull(false);
    evaluator.Evaluate(h.Node);
    EXPECT_TRUE(h.Node->Value->GetNull()) << h.Name;
  }
}

TEST(ExprEvaluatorTest, ResultsFollowTheRow) {
  TBRNExprEvaluator evaluator(true);
  TBRNExprToken* column = Column(dtInteger);
  TypedTree tree(Cond(opAnd, Cond(opGreater, Op(opMultiply, dtInteger, column, Int(2)), Int(10)),
                      Pred(opNotIn, {Column(dtChar), Str("x"), Str("y")})));
  TBRNExprToken* name = tree->Right()->Argument(0);
  evaluator.Prepare(tree.Get());
  evaluator.Evaluate(tree.Get());  // creates the values (all NULL)
  EXPECT_TRUE(tree->Value->GetNull());
  struct Row {
    int32_t Number;
    const char* Name;
    const char* Expected;
  };
  for (Row row : {Row{6, "z", "TRUE"}, Row{5, "z", "FALSE"}, Row{6, "x", "FALSE"},
                  Row{0, nullptr, "FALSE"}, Row{9, nullptr, "NULL"}}) {
    column->Value->SetAsInteger(row.Number);
    if (row.Name != nullptr)
      name->Value->SetAsString(row.Name);
    else
      name->Value->SetNull(true);
    EXPECT_EQ(ResultText(evaluator, tree.Get()), row.Expected) << row.Number;
  }
  evaluator.Unprepare(tree.Get());
}

// Left-associative chains of any length evaluate without deep recursion:
// 1 + 1 + ... + 1, a chain of ANDs, and comparisons nested through their
// first operand.
TEST(ExprEvaluatorTest, DeepLeftChainsDoNotExhaustTheStack) {
  constexpr int32_t terms = 100000;
  TBRNExprToken* sum = Int(1);
  for (int32_t i = 1; i < terms; ++i) sum = Op(opAdd, dtInteger, sum, Int(1));
  TypedTree sumTree(sum);
  TBRNExprToken* conjunction = Bool(true);
  for (int32_t i = 1; i < terms; ++i)
    conjunction = Cond(i % 2 ? opAnd : opOr, conjunction, Cond(opLess, Int(i), Int(terms)));
  TypedTree andTree(conjunction);
  TBRNExprToken* nested = Pred(opIsNotNull, {Int(1), Null()});
  for (int32_t i = 1; i < terms; ++i) nested = Not(Cond(opEqual, nested, Bool(true)));
  TypedTree nestedTree(nested);

  for (bool standard : {true, false}) {
    TBRNExprEvaluator evaluator(standard);
    evaluator.Prepare(sumTree.Get());
    EXPECT_EQ(ResultText(evaluator, sumTree.Get()), std::to_string(terms));
    EXPECT_EQ(ResultText(evaluator, sumTree.Get()), std::to_string(terms));  // again, reused
    EXPECT_EQ(ResultText(evaluator, andTree.Get()), "TRUE");
    // NOT (x = TRUE) flips the truth 99,999 times: TRUE ends as FALSE.
    EXPECT_EQ(ResultText(evaluator, nestedTree.Get()), "FALSE");
    evaluator.Unprepare(sumTree.Get());
    evaluator.Unprepare(andTree.Get());
    evaluator.Unprepare(nestedTree.Get());
    EXPECT_EQ(sumTree->Value, nullptr);
  }
}

// A deep chain whose operands fail part-way leaves the evaluator usable.
TEST(ExprEvaluatorTest, FailureInsideADeepChainLeavesTheEvaluatorUsable) {
  TBRNExprToken* sum = Int(1);
  for (int32_t i = 1; i < 1000; ++i)
    sum = Op(opAdd, dtInteger, sum, i == 500 ? Constant(dtInteger, "x") : Int(1));
  TypedTree broken(sum);
  TBRNExprEvaluator evaluator(true);
  EXPECT_THROW(evaluator.Evaluate(broken.Get()), EBRNException);
  TBRNExprToken* good = Int(0);
  for (int32_t i = 0; i < 1000; ++i) good = Op(opAdd, dtInteger, good, Int(2));
  TypedTree goodTree(good);
  EXPECT_EQ(ResultText(evaluator, goodTree.Get()), "2000");
}

}  // namespace
}  // namespace brn::testing
