#include "sql/tree/expr_tree_algorithms.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sql/tree/expr_token.h"
#include "sql/tree_printer.h"

namespace brn {
namespace {

using testing::ParseExpressionText;
using testing::PrintTree;
using testing::TreeHolder;

constexpr TBRNParseFlags kConditionFlags =
    pcContains | pcRowValues | pcDynamicParams | pcColumnQualifier;

// Every operand and argument names its holder as Parent.
bool parentsConsistent(const TBRNExprToken* node) {
  if (!node) return true;
  for (const TBRNExprToken* child : {node->Left(), node->Right()})
    if (child && (child->Parent != node || !parentsConsistent(child))) return false;
  for (const TBRNExprToken* child : node->Arguments())
    if (child && (child->Parent != node || !parentsConsistent(child))) return false;
  return true;
}

TBRNExprToken* newNode(TBRNExprTokenKind kind, TBRNExprOperation operation, std::string name = "") {
  auto* node = new TBRNExprToken;
  node->Kind = kind;
  node->Operation = operation;
  node->Name = std::move(name);
  return node;
}

// ---- The whole-tree walk ------------------------------------------------------

// f(a, <nil>, -b) + c: a function with a nil argument, a unary operator and
// every slot kind; names mark the nodes.
TBRNExprToken* walkFixture() {
  TBRNExprToken* call = newNode(tkFunction, opConcat, "f");
  call->AddArgument(newNode(tkColumnReference, opNone, "a"));
  call->AddArgument(nullptr);
  TBRNExprToken* negate = newNode(tkUnaryOperator, opNegate, "-");
  negate->SetLeft(newNode(tkColumnReference, opNone, "b"));
  call->AddArgument(negate);
  TBRNExprToken* plus = newNode(tkOperator, opAdd, "+");
  plus->SetLeft(call);
  plus->SetRight(newNode(tkColumnReference, opNone, "c"));
  return plus;
}

TEST(WalkExprTree, EntersAndLeavesEveryNodeWithItsSlot) {
  TreeHolder tree(walkFixture());
  struct Case {
    const char* SkipName;  // Enter answers Skip for this node
    const char* StopName;  // Enter answers Stop for this node
    bool Completed;
    const char* Trace;  // >name@slot on entering, <name on leaving
  };
  const Case cases[] = {
      {"", "", true, ">+@-3 >f@-2 >a@0 <a >-@2 >b@-2 <b <- <f >c@-1 <c <+"},
      {"f", "", true, ">+@-3 >f@-2 <f >c@-1 <c <+"},
      {"", "b", false, ">+@-3 >f@-2 >a@0 <a >-@2 >b@-2"},
      {"", "+", false, ">+@-3"},
  };
  for (const Case& c : cases) {
    std::string trace;
    const bool completed = WalkExprTree(
        tree.Get(),
        [&](TBRNExprToken* node, int32_t slot) {
          trace += " >" + node->Name + "@" + std::to_string(slot);
          if (node->Name == c.StopName) return TBRNWalkStep::Stop;
          return node->Name == c.SkipName ? TBRNWalkStep::Skip : TBRNWalkStep::Descend;
        },
        [&](TBRNExprToken* node) { trace += " <" + node->Name; });
    EXPECT_EQ(completed, c.Completed) << c.Trace;
    EXPECT_EQ(trace.substr(1), c.Trace);
  }
  std::string pre, post;
  ForEachNode(tree.Get(), [&](const TBRNExprToken* node) { pre += node->Name; });
  ForEachNodePostOrder(tree.Get(), [&](const TBRNExprToken* node) { post += node->Name; });
  EXPECT_EQ(pre, "+fa-bc");
  EXPECT_EQ(post, "ab-fc+");
}

TEST(WalkExprTree, NilRootAndDeepTrees) {
  int visits = 0;
  EXPECT_TRUE(WalkExprTree(
      static_cast<TBRNExprToken*>(nullptr),
      [&](TBRNExprToken*, int32_t) {
        ++visits;
        return TBRNWalkStep::Descend;
      },
      [](TBRNExprToken*) {}));
  EXPECT_EQ(visits, 0);
  // A chain far deeper than any stack of recursive calls would take, walked,
  // copied, compared and freed (each frees its nodes in Leave or walks them).
  TBRNExprToken* root = newNode(tkConstant, opNone, "x");
  for (int i = 0; i < 200000; ++i) {
    TBRNExprToken* node = newNode(tkUnaryOperator, opNegate);
    node->SetLeft(root);
    root = node;
  }
  ForEachNode(root, [&](const TBRNExprToken*) { ++visits; });
  EXPECT_EQ(visits, 200001);
  TreeHolder copy(CopyExprTree(root));
  EXPECT_TRUE(ExprTreesEqual(root, copy.Get()));
  TBRNExprToken* leaf = copy.Get();
  while (leaf->Left()) leaf = leaf->Left();
  leaf->Name = "y";
  EXPECT_FALSE(ExprTreesEqual(root, copy.Get()));
  EXPECT_GE(root->MemorySize(), int64_t(200001 * sizeof(TBRNExprToken)));
  FreeExprTree(root);
  EXPECT_EQ(root, nullptr);
}

// ---- PushDownNot -------------------------------------------------------------

struct NotCase {
  const char* Text;
  const char* Expected;
};

TEST(PushDownNot, RemovesEveryNotThatAnOperationCanExpress) {
  const NotCase cases[] = {
      {"NOT (a = 1 AND b IN (1, 2))", "((a <> 1) OR (b NOT IN (1, 2)))"},
      {"NOT (NOT (a < 1))", "(a < 1)"},
      {"NOT (x IS NULL)", "(x IS NOT NULL)"},
      {"NOT (x IS NOT NULL)", "(x IS NULL)"},
      {"NOT (a >= 1 OR b > 2 OR c <= 3)", "(((a < 1) AND (b <= 2)) AND (c > 3))"},
      {"NOT (a BETWEEN 1 AND 2)", "(a NOT BETWEEN 1 AND 2)"},
      {"NOT (a NOT LIKE 'x%')", "(a LIKE 'x%')"},
      {"NOT (a CONTAINS 'w')", "(a DOES NOT CONTAIN 'w')"},
      {"NOT (a DOES NOT CONTAIN ANY 'w')", "(a CONTAINS ANY 'w')"},
      {"a = 1 AND NOT (b = 2 OR c <> 3)", "((a = 1) AND ((b <> 2) AND (c = 3)))"},
      {"NOT (a + 1 < b * 2)", "((a + 1) >= (b * 2))"},
      {"a = 1", "(a = 1)"},
  };
  for (const NotCase& c : cases) {
    TreeHolder tree = ParseExpressionText(c.Text, kConditionFlags);
    TBRNExprToken* root = PushDownNot(tree.Release(), false);
    tree.Reset(root);
    EXPECT_EQ(PrintTree(root), c.Expected) << c.Text;
    EXPECT_TRUE(parentsConsistent(root)) << c.Text;
  }
}

// A NOT over an operand that no operation can negate must stay: dropping it
// would turn WHERE NOT TRUE into WHERE TRUE.
TEST(PushDownNot, KeepsNotOverOperandsThatCannotTakeTheNegation) {
  const NotCase cases[] = {
      {"NOT TRUE", "(NOT TRUE)"},
      {"NOT ?", "(NOT ?)"},
      {"NOT flag", "(NOT flag)"},
      {"NOT IsValid(a)", "(NOT IsValid(a))"},
      {"NOT (a = 1 AND flag)", "((a <> 1) OR (NOT flag))"},
      {"NOT (TRUE OR ?)", "((NOT TRUE) AND (NOT ?))"},
      {"NOT (NOT TRUE)", "TRUE"},
      {"NOT (NOT (NOT flag))", "(NOT flag)"},
      {"NOT (NOT (a = 1 OR flag))", "((a = 1) OR flag)"},
  };
  for (const NotCase& c : cases) {
    TreeHolder tree = ParseExpressionText(c.Text, kConditionFlags);
    TBRNExprToken* root = PushDownNot(tree.Release(), false);
    tree.Reset(root);
    if (root->Kind == tkUnaryOperator) {
      EXPECT_EQ(root->DataType, dtBoolean) << c.Text;
    }
    EXPECT_EQ(PrintTree(root), c.Expected) << c.Text;
    EXPECT_TRUE(parentsConsistent(root)) << c.Text;
  }

  // A CAST and a subquery are no conditions either.
  TreeHolder cast(newNode(tkUnaryOperator, opNot));
  cast->SetLeft(newNode(tkFunction, opCast));
  cast->Left()->AddArgument(newNode(tkColumnReference, opNone, "b"));
  cast.Reset(PushDownNot(cast.Release(), false));
  EXPECT_EQ(PrintTree(cast.Get()), "(NOT CAST(b))");
  cast.Reset(PushDownNot(cast.Release(), true));
  EXPECT_EQ(PrintTree(cast.Get()), "CAST(b)");
  TreeHolder query(newNode(tkQuery, opNone));
  query.Reset(PushDownNot(query.Release(), true));
  EXPECT_EQ(PrintTree(query.Get()), "(NOT Query)");
}

TEST(PushDownNot, ResultTakesTheParentOfTheReplacedNode) {
  TreeHolder holder(newNode(tkList, opNone));
  TreeHolder tree = ParseExpressionText("NOT (a = 1)", kConditionFlags);
  holder->AddArgument(tree.Release());
  TBRNExprToken* root = PushDownNot(holder->Argument(0), false);
  holder->SetArgument(0, root);
  EXPECT_EQ(root->Parent, holder.Get());
  EXPECT_EQ(PrintTree(holder.Get()), "List((a <> 1))");
  EXPECT_TRUE(parentsConsistent(holder.Get()));
}

TEST(PushDownNot, HandlesVeryLongConditionsWithoutRecursion) {
  std::string text = "NOT (a = 0";
  for (int i = 1; i < 20000; ++i) text += " OR a = " + std::to_string(i);
  text += ")";
  TreeHolder tree = ParseExpressionText(text, kConditionFlags);
  tree.Reset(PushDownNot(tree.Release(), false));
  EXPECT_EQ(tree->Operation, opAnd);
  EXPECT_EQ(tree->Right()->Operation, opNotEqual);
}

// ---- Comparisons -----------------------------------------------------------

TEST(Comparisons, MirrorTurnsTheComparisonAround) {
  const NotCase cases[] = {
      {"5 < a", "(a > 5)"},   {"a = b", "(b = a)"}, {"a >= 1", "(1 <= a)"},
      {"a <= 1", "(1 >= a)"}, {"a > 1", "(1 < a)"}, {"a <> b + 1", "((b + 1) <> a)"},
  };
  for (const NotCase& c : cases) {
    TreeHolder tree = ParseExpressionText(c.Text, kConditionFlags);
    MirrorComparison(tree.Get());
    EXPECT_EQ(PrintTree(tree.Get()), c.Expected) << c.Text;
    EXPECT_TRUE(parentsConsistent(tree.Get())) << c.Text;
  }
}

TEST(Comparisons, MirrorConditionsReachesThroughOperatorsAndNot) {
  TreeHolder tree =
      ParseExpressionText("a < 1 AND NOT (b >= c) OR d = 1 + e AND x IN (1)", kConditionFlags);
  MirrorConditions(tree.Get());
  EXPECT_EQ(PrintTree(tree.Get()),
            "(((1 > a) AND (NOT (c <= b))) OR (((1 + e) = d) AND (x IN (1))))");
}

TEST(Comparisons, NegationsArePairs) {
  const TBRNExprOperation comparisons[][2] = {
      {opAnd, opOr}, {opEqual, opNotEqual}, {opGreaterOrEqual, opLess}, {opGreater, opLessOrEqual}};
  for (const auto& pair : comparisons)
    for (int i = 0; i < 2; ++i) {
      TBRNExprToken node;
      node.Operation = pair[i];
      NegateComparison(&node);
      EXPECT_EQ(node.Operation, pair[1 - i]);
    }
  const TBRNExprOperation predicates[][2] = {
      {opBetween, opNotBetween}, {opContains, opNotContain}, {opContainsAny, opNotContainAny},
      {opIn, opNotIn},           {opIsNotNull, opIsNull},    {opLike, opNotLike}};
  for (const auto& pair : predicates)
    for (int i = 0; i < 2; ++i) {
      TBRNExprToken node;
      node.Operation = pair[i];
      NegatePredicate(&node);
      EXPECT_EQ(node.Operation, pair[1 - i]);
    }
  for (TBRNExprOperation unchanged : {opAdd, opMod, opNegate}) {
    TBRNExprToken node;
    node.Operation = unchanged;
    NegateComparison(&node);
    ReverseComparison(&node);
    EXPECT_EQ(node.Operation, unchanged);
  }
}

TEST(Comparisons, CombinedOptimisationLevels) {
  EXPECT_EQ(CombineAndLevels(2, 2), 2);
  EXPECT_EQ(CombineAndLevels(2, 0), 1);
  EXPECT_EQ(CombineOrLevels(2, false, 2, false), 2);
  EXPECT_EQ(CombineOrLevels(2, true, 0, false), 1);
  EXPECT_EQ(CombineOrLevels(0, false, 2, true), 1);
  EXPECT_EQ(CombineOrLevels(2, false, 0, true), 0);
  TreeHolder search = ParseExpressionText("a CONTAINS ANY 'w'", kConditionFlags);
  TreeHolder like = ParseExpressionText("a LIKE 'w'", kConditionFlags);
  EXPECT_TRUE(IsTextSearchPredicate(search.Get()));
  EXPECT_FALSE(IsTextSearchPredicate(like.Get()));
}

TEST(SwapNodes, ExchangesSlotsBetweenParents) {
  TreeHolder tree = ParseExpressionText("a + b * c", kConditionFlags);
  TBRNExprToken* a = tree->Left();
  TBRNExprToken* c = tree->Right()->Right();
  SwapNodes(a, c);
  EXPECT_EQ(PrintTree(tree.Get()), "(c + (b * a))");
  EXPECT_TRUE(parentsConsistent(tree.Get()));
  SwapNodes(tree->Left(), tree->Right());
  EXPECT_EQ(PrintTree(tree.Get()), "((b * a) + c)");
  EXPECT_THROW(SwapNodes(tree->Left(), tree->Left()->Left()), std::invalid_argument);
  EXPECT_TRUE(parentsConsistent(tree.Get()));
}

// ---- Expression questions ----------------------------------------------------

TEST(ExpressionQuestions, Search) {
  TreeHolder tree = ParseExpressionText("a + b * c", kConditionFlags);
  std::vector<std::string> names;
  for (TBRNExprToken* column = NextColumnReference(tree.Get(), nullptr); column;
       column = NextColumnReference(tree.Get(), column))
    names.push_back(column->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));

  TreeHolder product = ParseExpressionText("(x + y) * z", kConditionFlags);
  EXPECT_EQ(LeftmostOperand(product.Get())->Name, "x");
  // After mirroring, the operand written first sits on the right.
  TreeHolder comparison = ParseExpressionText("x\n <\n -y", kConditionFlags);
  MirrorComparison(comparison.Get());
  EXPECT_EQ(LeftmostOperand(comparison.Get())->Name, "x");
  EXPECT_EQ(LeftmostOperand(comparison->Left())->Name, "y");

  TreeHolder calls = ParseExpressionText("F(a) > 1 AND (b, 2) IN ((1, 2))", kConditionFlags);
  EXPECT_TRUE(ContainsUserFunctionCall(calls.Get()));
  EXPECT_TRUE(ContainsColumnReference(calls.Get()));
  EXPECT_FALSE(ContainsAggregate(calls.Get()));
  TreeHolder constants = ParseExpressionText("1 + 2 = ?", kConditionFlags);
  EXPECT_FALSE(ContainsUserFunctionCall(constants.Get()));
  EXPECT_FALSE(ContainsColumnReference(constants.Get()));

  TreeHolder row = ParseExpressionText("(a, T.b)", kConditionFlags);
  TreeHolder mixed = ParseExpressionText("(a, 1)", kConditionFlags);
  EXPECT_TRUE(IsColumnOrColumnRow(row.Get()));
  EXPECT_TRUE(IsColumnOrColumnRow(row->Argument(0)));
  EXPECT_FALSE(IsColumnOrColumnRow(mixed.Get()));
}

TEST(ExpressionQuestions, AggregatesAndQueriesAreFoundButQueriesAreNotEntered) {
  // SUM(a) + (query holding COUNT and a correlated query)
  TreeHolder tree(newNode(tkOperator, opAdd));
  tree->SetLeft(newNode(tkFunction, opSum));
  tree->Left()->AddArgument(newNode(tkColumnReference, opNone, "a"));
  TBRNExprToken* query = newNode(tkQuery, opNone);
  tree->SetRight(query);
  query->AddArgument(newNode(tkFunction, opCount));
  query->AddArgument(newNode(tkQuery, opCorrelated));
  query->AddArgument(newNode(tkOrderItem, opNone));

  EXPECT_TRUE(ContainsAggregate(tree.Get()));
  EXPECT_FALSE(ContainsAggregate(tree->Right()));
  EXPECT_TRUE(ContainsQuery(tree.Get()));
  EXPECT_FALSE(ContainsCorrelatedQuery(tree.Get()));
  EXPECT_FALSE(ContainsSelectColumnReference(tree.Get()));
  query->Operation = opCorrelated;
  EXPECT_TRUE(ContainsCorrelatedQuery(tree.Get()));

  for (TBRNExprOperation aggregate :
       {opAvg, opCount, opList, opMax, opMin, opRunSum, opStdDev, opSum, opSumSquare}) {
    tree->Left()->Operation = aggregate;
    EXPECT_TRUE(ContainsAggregate(tree.Get())) << int(aggregate);
  }
  tree->Left()->Operation = opAbs;
  EXPECT_FALSE(ContainsAggregate(tree.Get()));
}

// ---- Queries and join lists ----------------------------------------------------

// A query built by hand in the layout of the query grammar: positions 0-11,
// FROM entries with their condition and join lists, ON conditions parsed and
// their qualified columns linked to the FROM entries of the same name.
class QueryFixture : public ::testing::Test {
 protected:
  QueryFixture() : Query(newNode(tkQuery, opNone)) {
    Query->SetArgumentCount(12);
    Query->SetArgument(0, newNode(tkList, opNone));
    Query->SetArgument(1, newNode(tkList, opNone));
    Query->SetArgument(2, newNode(tkList, opAll));
    Query->SetArgument(6, newNode(tkList, opNone));
  }

  TBRNExprToken* From() const { return Query->Argument(6); }

  TBRNExprToken* AddTable(const std::string& name) {
    TBRNExprToken* table = newNode(tkTableReference, opNone, name);
    table->AddArgument(nullptr);
    table->AddArgument(newNode(tkList, opNone));
    table->AddArgument(newNode(tkList, opNone));
    From()->AddArgument(table);
    return table;
  }

  TBRNExprToken* Table(const std::string& name) const {
    for (TBRNExprToken* table : From()->Arguments())
      if (table->Name == name) return table;
    return nullptr;
  }

  void Link(TBRNExprToken* condition) const {
    for (TBRNExprToken* column = NextColumnReference(condition, nullptr); column;
         column = NextColumnReference(condition, column))
      column->Link = Table(column->SchemaName);
  }

  TBRNExprToken* Parse(const std::string& text) const {
    TreeHolder condition = ParseExpressionText(text, kConditionFlags);
    Link(condition.Get());
    return condition.Release();
  }

  TBRNExprToken* Join(const std::string& source, TBRNExprOperation code, const std::string& target,
                      const std::string& on) {
    TBRNExprToken* join = newNode(tkJoin, code);
    join->JoinTable = Table(target);
    if (!on.empty()) join->AddArgument(Parse(on));
    Table(source)->Argument(2)->AddArgument(join);
    return join;
  }

  void Where(const std::string& text) {
    TBRNExprToken* old = Query->Argument(7);
    FreeExprTree(old);
    TBRNExprToken* where = newNode(tkList, opNone);
    Query->SetArgument(7, where);
    where->AddArgument(Parse(text));
  }

  // "B{LEFT A ON (B.x = A.x)}, A{}"
  std::string FromText() const {
    std::string text;
    for (const TBRNExprToken* table : From()->Arguments()) {
      if (!text.empty()) text += ", ";
      text += table->Name + "{";
      bool first = true;
      for (const TBRNExprToken* join : table->Argument(2)->Arguments()) {
        if (!first) text += ", ";
        first = false;
        text += join->Operation == opLeftJoin    ? "LEFT "
                : join->Operation == opRightJoin ? "RIGHT "
                : join->Operation == opInnerJoin ? "INNER "
                                                 : "CROSS ";
        text += join->JoinTable->Name;
        for (const TBRNExprToken* on : join->Arguments()) text += " ON " + PrintTree(on);
      }
      text += "}";
    }
    return text;
  }

  TreeHolder Query;
};

TEST_F(QueryFixture, ReverseJoinTurnsRightJoinIntoLeftJoin) {
  AddTable("A");
  AddTable("B");
  Join("A", opRightJoin, "B", "A.x = B.y AND A.z < B.z");
  ASSERT_EQ(FromText(), "A{RIGHT B ON ((A.x = B.y) AND (A.z < B.z))}, B{}");

  EXPECT_FALSE(ReverseJoin(Query.Get(), opRightJoin, Table("A"), false));
  EXPECT_TRUE(ReverseJoin(Query.Get(), opRightJoin, Table("B"), false));
  EXPECT_EQ(FromText(), "B{LEFT A ON ((B.y = A.x) AND (B.z > A.z))}, A{}");
  EXPECT_EQ(Table("B")->Index, 0);
  EXPECT_EQ(Table("A")->Index, 1);
  EXPECT_TRUE(parentsConsistent(Query.Get()));
}

TEST_F(QueryFixture, ReverseJoinReversesTheChainAboveTheSourceFirst) {
  AddTable("A");
  AddTable("B");
  AddTable("C");
  Join("A", opInnerJoin, "B", "A.x = B.x");
  Join("B", opInnerJoin, "C", "B.y = C.y");
  EXPECT_TRUE(ReverseJoin(Query.Get(), opInnerJoin, Table("C"), false));
  EXPECT_EQ(FromText(), "C{INNER B ON (C.y = B.y)}, B{INNER A ON (B.x = A.x)}, A{}");
  EXPECT_TRUE(parentsConsistent(Query.Get()));
}

TEST_F(QueryFixture, ReverseJoinMovesTheTableInFrontWhenTheSourceKeepsOtherJoins) {
  AddTable("A");
  AddTable("B");
  AddTable("C");
  Join("A", opRightJoin, "B", "A.x = B.x");
  Join("A", opInnerJoin, "C", "A.y = C.y");
  EXPECT_TRUE(ReverseJoin(Query.Get(), opRightJoin, Table("B"), false));
  EXPECT_EQ(FromText(), "B{LEFT A ON (B.x = A.x)}, A{INNER C ON (A.y = C.y)}, C{}");
}

TEST_F(QueryFixture, ReverseJoinFallsBackToACrossJoin) {
  AddTable("A");
  AddTable("B");
  Join("A", opCrossJoin, "B", "");
  EXPECT_TRUE(ReverseJoin(Query.Get(), opInnerJoin, Table("B"), true));
  EXPECT_EQ(FromText(), "B{CROSS A}, A{}");
}

// The same rewrite on a query as the parser builds it.
TEST(ReverseJoin, ParsedRightJoinBecomesLeftJoin) {
  TreeHolder in =
      ParseExpressionText("x IN (SELECT a FROM A RIGHT JOIN B ON A.x = B.y AND A.z <= 1)",
                          pcQueries | pcColumnQualifier);
  TBRNExprToken* query = in->Argument(1);
  TBRNExprToken* from = query->Argument(6);
  TBRNExprToken* a = from->Argument(0);
  TBRNExprToken* b = from->Argument(1);
  TBRNExprToken* join = a->Argument(2)->Argument(0);
  for (TBRNExprToken* column = NextColumnReference(join->Argument(0), nullptr); column;
       column = NextColumnReference(join->Argument(0), column))
    column->Link = column->SchemaName == "A" ? a : b;

  EXPECT_EQ(PrintTree(from),
            "List(TableReference A(nil, List, List(Join:RightJoin -> B(((A.x = B.y) AND (A.z <= "
            "1))))), TableReference B(nil, List, List))");
  EXPECT_TRUE(ReverseJoin(query, opRightJoin, b, false));
  EXPECT_EQ(PrintTree(from),
            "List(TableReference B(nil, List, List(Join:LeftJoin -> A(((B.y = A.x) AND (1 >= "
            "A.z))))), TableReference A(nil, List, List))");
  EXPECT_TRUE(parentsConsistent(in.Get()));
}

TEST_F(QueryFixture, JoinListQuestions) {
  TBRNExprToken* a = AddTable("A");
  TBRNExprToken* b = AddTable("B");
  TBRNExprToken* c = AddTable("C");
  TBRNExprToken* ab = Join("A", opLeftJoin, "B", "B.x = C.y");
  TBRNExprToken* bc = Join("B", opInnerJoin, "C", "B.x = C.x");

  EXPECT_EQ(FindJoinSource(Query.Get(), opLeftJoin, b), a);
  EXPECT_EQ(FindJoinSource(Query.Get(), opInnerJoin, b), nullptr);
  EXPECT_TRUE(IsInnerJoined(Query.Get(), c));
  EXPECT_FALSE(IsInnerJoined(Query.Get(), b));
  // C is reached from B through an inner join, and B through a LEFT join.
  EXPECT_TRUE(IsJoinedThroughInnerJoins(Query.Get(), opLeftJoin, c));
  EXPECT_FALSE(IsJoinedThroughInnerJoins(Query.Get(), opRightJoin, c));
  EXPECT_FALSE(TableIsJoinedElsewhere(Query.Get(), bc, c));
  EXPECT_TRUE(TableIsJoinedElsewhere(Query.Get(), ab, c));

  EXPECT_TRUE(JoinReferencesTable(ab, c));
  EXPECT_FALSE(JoinReferencesTable(ab, a));
  // A JOIN B ON B.x = C.y refers to C, two places after A.
  EXPECT_FALSE(JoinConditionIsLocal(Query.Get(), a, ab));
  EXPECT_TRUE(JoinConditionIsLocal(Query.Get(), b, bc));
  EXPECT_FALSE(JoinConditionsAreLocal(Query.Get()));
  TBRNExprToken* condition = ab->Argument(0);
  ab->SetArgument(0, nullptr);
  FreeExprTree(condition);
  EXPECT_TRUE(JoinConditionsAreLocal(Query.Get()));
}

TEST_F(QueryFixture, JoinInsertPosition) {
  TBRNExprToken* a = AddTable("A");
  AddTable("B");
  AddTable("C");
  AddTable("D");
  Join("A", opInnerJoin, "B", "A.x = B.x");
  Join("A", opLeftJoin, "C", "A.x = C.x");
  // Referring to B: right after B's entry; to nothing: an inner join goes in
  // front of the first outer join, anything else first.
  TreeHolder refersToB(newNode(tkJoin, opLeftJoin));
  refersToB->AddArgument(Parse("D.x = B.x"));
  EXPECT_EQ(JoinInsertPosition(a, refersToB.Get()), 1);
  TreeHolder inner(newNode(tkJoin, opInnerJoin));
  inner->AddArgument(Parse("D.x = 1"));
  EXPECT_EQ(JoinInsertPosition(a, inner.Get()), 1);
  TreeHolder outer(newNode(tkJoin, opLeftJoin));
  outer->AddArgument(Parse("D.x = 1"));
  EXPECT_EQ(JoinInsertPosition(a, outer.Get()), 0);
  TreeHolder refersToC(newNode(tkJoin, opInnerJoin));
  refersToC->AddArgument(Parse("D.x IN (C.x, 1)"));
  EXPECT_EQ(JoinInsertPosition(a, refersToC.Get()), 2);
}

TEST_F(QueryFixture, ReferencesTableFollowsConditionsOnly) {
  AddTable("A");
  AddTable("B");
  const NotCase cases[] = {
      {"A.x = 1 OR B.y = 2", "B"},
      {"NOT (B.y LIKE 'x')", "B"},
      {"F(B.y)", "B"},
      {"(A.x, B.y) = (1, 2)", "B"},
      {"A.x = 1 AND A.y = 2", ""},
      {"B.y + 1", ""},  // arithmetic is no condition
  };
  for (const NotCase& c : cases) {
    TreeHolder condition(Parse(c.Text));
    EXPECT_EQ(ReferencesTable(condition.Get(), Table("B")), std::string(c.Expected) == "B")
        << c.Text;
  }
}

TEST_F(QueryFixture, MoveFromItemAndNumbering) {
  AddTable("A");
  AddTable("B");
  AddTable("C");
  Join("A", opInnerJoin, "B", "");
  Join("A", opInnerJoin, "C", "");
  MoveFromItem(Query.Get(), Table("A"), Table("C"), true);
  EXPECT_EQ(FromText(), "C{}, A{INNER B, INNER C}, B{}");
  MoveFromItem(Query.Get(), Table("C"), Table("B"), false);
  EXPECT_EQ(FromText(), "B{}, A{INNER B, INNER C}, C{}");
  EXPECT_EQ(Table("C")->Index, 2);
  EXPECT_EQ(Table("A")->Argument(2)->Argument(1)->Index, -1);
  NumberFromItems(Query.Get(), true);
  EXPECT_EQ(Table("A")->Argument(2)->Argument(1)->Index, 1);
}

TEST_F(QueryFixture, QueryQuestions) {
  AddTable("A");
  EXPECT_FALSE(QueryHasSeveralTables(Query.Get()));
  EXPECT_FALSE(QueryHasConditions(Query.Get()));
  Table("A")->Argument(1)->AddArgument(Parse("A.x = 1"));
  EXPECT_TRUE(QueryHasConditions(Query.Get()));
  AddTable("B");
  EXPECT_TRUE(QueryHasSeveralTables(Query.Get()));

  // The markers count whether or not a RANGE clause precedes them.
  EXPECT_FALSE(QueryHasNoJoinOptimize(Query.Get()));
  Query->AddArgument(newNode(tkList, opNoJoinOptimize));
  EXPECT_TRUE(QueryHasNoJoinOptimize(Query.Get()));
  EXPECT_FALSE(QueryHasJoinOptimizeCosts(Query.Get()));
  Query->InsertArgument(12, newNode(tkList, opRange));
  Query->AddArgument(newNode(tkList, opJoinOptimizeCosts));
  EXPECT_TRUE(QueryHasNoJoinOptimize(Query.Get()));
  EXPECT_TRUE(QueryHasJoinOptimizeCosts(Query.Get()));
}

TEST_F(QueryFixture, ColumnsOfSeveralTables) {
  AddTable("A");
  AddTable("B");
  Where("A.x = 1");
  const TBRNExprToken* where = Query->Argument(7)->Argument(0);
  EXPECT_FALSE(ReferencesOtherTable(where));

  const NotCase cases[] = {
      {"A.x = B.y", "no"},
      {"A.x + B.y > 1", "yes"},
      {"A.x BETWEEN B.y AND 1", "yes"},
      {"F(A.x, B.y)", "yes"},
      {"A.x + A.y = B.z", "no"},
      {"B.y IN (1, 2)", "no"},
      {"NOT (A.x * B.y = 1)", "yes"},
  };
  for (const NotCase& c : cases) {
    Where(c.Text);
    const TBRNExprToken* condition = Query->Argument(7)->Argument(0);
    EXPECT_EQ(CombinesTableColumns(condition), std::string(c.Expected) == "yes") << c.Text;
    EXPECT_TRUE(ReferencesOtherTable(condition)) << c.Text;
  }
}

TEST_F(QueryFixture, EnclosingQueries) {
  TBRNExprToken* derivedEntry = AddTable("D");
  derivedEntry->Operation = opDerivedTable;
  TBRNExprToken* derived = newNode(tkQuery, opNone);
  derivedEntry->SetArgument(0, derived);
  derived->AddArgument(newNode(tkList, opNone));
  derived->AddArgument(newNode(tkList, opNone));
  TBRNExprToken* operand = newNode(tkQuery, opNone);
  derived->AddArgument(operand);
  operand->AddArgument(newNode(tkList, opNone));
  operand->AddArgument(newNode(tkList, opUnion));
  TBRNExprToken* column = newNode(tkColumnReference, opNone, "c");
  operand->AddArgument(column);

  EXPECT_EQ(EnclosingQuery(column), operand);
  EXPECT_EQ(EnclosingBaseQuery(column), derived);
  EXPECT_EQ(EnclosingTopQuery(column), Query.Get());
  EXPECT_EQ(EnclosingQuery(Query.Get()), nullptr);
  EXPECT_EQ(EnclosingRoutine(column), nullptr);

  TreeHolder routine(newNode(tkProcedureName, opNone, "P"));
  TBRNExprToken* block = newNode(tkBlock, opBeginBlock);
  routine->AddArgument(block);
  block->AddArgument(Query.Release());
  EXPECT_EQ(EnclosingBlock(column), block);
  EXPECT_EQ(EnclosingRoutine(column), routine.Get());
}

TEST_F(QueryFixture, InputParametersAreFoundInConditionsAndDerivedTables) {
  TreeHolder inParam(newNode(tkRoutineParam, opParamIn));
  TreeHolder outParam(newNode(tkRoutineParam, opParamOut));
  AddTable("A");
  Where("A.x = ?");
  TBRNExprToken* marker = Query->Argument(7)->Argument(0)->Right();
  marker->Link = outParam.Get();
  EXPECT_FALSE(UsesInputParameters(Query.Get()));
  marker->Link = inParam.Get();
  EXPECT_TRUE(UsesInputParameters(Query.Get()));

  // Nested: the query of a derived table, inside a condition of an outer
  // expression; the select list is not looked at.
  TreeHolder outer(newNode(tkOperator, opAnd));
  outer->SetLeft(newNode(tkConstant, opNone));
  TBRNExprToken* exists = newNode(tkFunction, opExists);
  outer->SetRight(exists);
  TBRNExprToken* outerQuery = newNode(tkQuery, opNone);
  exists->AddArgument(outerQuery);
  outerQuery->SetArgumentCount(12);
  outerQuery->SetArgument(6, newNode(tkList, opNone));
  TBRNExprToken* entry = newNode(tkTableReference, opDerivedTable, "D");
  outerQuery->Argument(6)->AddArgument(entry);
  entry->AddArgument(Query.Release());
  EXPECT_TRUE(UsesInputParameters(outer.Get()));
  marker->Link = outParam.Get();
  EXPECT_FALSE(UsesInputParameters(outer.Get()));
}

}  // namespace
}  // namespace brn
