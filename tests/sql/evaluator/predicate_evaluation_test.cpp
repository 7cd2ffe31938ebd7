// Predicate evaluation over hand-typed trees, under both NULL behaviours.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/collation.h"
#include "sql/evaluator/typed_tree_builder.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn::testing {
namespace {

struct PredicateCase {
  std::string Expression;
  std::function<TBRNExprToken*()> Build;
  std::string Standard;
  std::string Engine;
};

void ExpectCases(const std::vector<PredicateCase>& Cases) {
  for (const PredicateCase& c : Cases) {
    EXPECT_EQ(EvaluateTree(c.Build(), true), c.Standard) << c.Expression << " (standard)";
    EXPECT_EQ(EvaluateTree(c.Build(), false), c.Engine) << c.Expression << " (engine)";
  }
}

TEST(PredicateEvaluationTest, Between) {
  ExpectCases({
      {"5 BETWEEN 1 AND 10",
       [] {
         return Pred(opBetween, {Int(5), Int(1), Int(10)});
       },
       "TRUE", "TRUE"},
      {"1 BETWEEN 1 AND 1",
       [] {
         return Pred(opBetween, {Int(1), Int(1), Int(1)});
       },
       "TRUE", "TRUE"},
      {"0 BETWEEN 1 AND 10",
       [] {
         return Pred(opBetween, {Int(0), Int(1), Int(10)});
       },
       "FALSE", "FALSE"},
      {"'b' BETWEEN 'a' AND 'c'",
       [] {
         return Pred(opBetween, {Str("b"), Str("a"), Str("c")});
       },
       "TRUE", "TRUE"},
      {"'B' BETWEEN 'a' AND 'c' case-insensitive",
       [] {
         return Pred(opBetween, {Str("B", 1 << CaseInsensitiveBit), Str("a"), Str("c")});
       },
       "TRUE", "TRUE"},
      {"Decimal 1.5 BETWEEN 1 AND Float 2",
       [] {
         return Pred(opBetween, {Dec("1.5"), Int(1), Flt("2")});
       },
       "TRUE", "TRUE"},
      {"0 NOT BETWEEN 1 AND 10",
       [] {
         return Pred(opNotBetween, {Int(0), Int(1), Int(10)});
       },
       "TRUE", "TRUE"},
      {"5 NOT BETWEEN 1 AND 10",
       [] {
         return Pred(opNotBetween, {Int(5), Int(1), Int(10)});
       },
       "FALSE", "FALSE"},
      // Without standard NULLs a NULL sorts below every value.
      {"5 BETWEEN NULL AND 10",
       [] {
         return Pred(opBetween, {Int(5), NullOf(dtInteger), Int(10)});
       },
       "NULL", "TRUE"},
      {"NULL BETWEEN 1 AND 10",
       [] {
         return Pred(opBetween, {NullOf(dtInteger), Int(1), Int(10)});
       },
       "NULL", "FALSE"},
      {"NULL NOT BETWEEN 1 AND 10",
       [] {
         return Pred(opNotBetween, {NullOf(dtInteger), Int(1), Int(10)});
       },
       "NULL", "TRUE"},
  });
}

TEST(PredicateEvaluationTest, In) {
  ExpectCases({
      {"5 IN (1, 5)",
       [] {
         return Pred(opIn, {Int(5), Int(1), Int(5)});
       },
       "TRUE", "TRUE"},
      {"5 IN (1, 2)",
       [] {
         return Pred(opIn, {Int(5), Int(1), Int(2)});
       },
       "FALSE", "FALSE"},
      {"5 IN (1, NULL)",
       [] {
         return Pred(opIn, {Int(5), Int(1), Null()});
       },
       "FALSE", "FALSE"},
      {"5 NOT IN (1, NULL)",
       [] {
         return Pred(opNotIn, {Int(5), Int(1), Null()});
       },
       "TRUE", "TRUE"},
      {"5 NOT IN (1, 5)",
       [] {
         return Pred(opNotIn, {Int(5), Int(1), Int(5)});
       },
       "FALSE", "FALSE"},
      {"5 NOT IN (NULL)",
       [] {
         return Pred(opNotIn, {Int(5), Null()});
       },
       "TRUE", "TRUE"},
      {"NULL IN (1)",
       [] {
         return Pred(opIn, {NullOf(dtInteger), Int(1)});
       },
       "NULL", "FALSE"},
      {"NULL IN (NULL)",
       [] {
         return Pred(opIn, {NullOf(dtInteger), Null()});
       },
       "NULL", "TRUE"},
      {"NULL NOT IN (1)",
       [] {
         return Pred(opNotIn, {NullOf(dtInteger), Int(1)});
       },
       "NULL", "TRUE"},
      {"'a' IN ('A') case-insensitive",
       [] {
         return Pred(opIn, {Str("a", 1 << CaseInsensitiveBit), Str("A")});
       },
       "TRUE", "TRUE"},
      {"'a' IN ('A') binary",
       [] {
         return Pred(opIn, {Str("a"), Str("A")});
       },
       "FALSE", "FALSE"},
      {"Integer 2 IN (Float 2.0, BigInt 7)",
       [] {
         return Pred(opIn, {Int(2), Flt("2.0"), Big(7)});
       },
       "TRUE", "TRUE"},
      {"5 IN () (no members)", [] { return Pred(opIn, {Int(5)}); }, "FALSE", "FALSE"},
      {"5 NOT IN () (no members)", [] { return Pred(opNotIn, {Int(5)}); }, "TRUE", "TRUE"},
      // The first match ends the loop: the failing member is never evaluated.
      {"5 IN (5, <failing>)",
       [] {
         return Pred(opIn, {Int(5), Int(5), Constant(dtInteger, "x")});
       },
       "TRUE", "TRUE"},
  });
}

// NOT IN is exactly NOT of IN, so a NOT pushed into an IN (or kept above it)
// gives the same answer in the select list and in WHERE.
TEST(PredicateEvaluationTest, NotInAgreesWithNotOfIn) {
  using Members = std::vector<std::function<TBRNExprToken*()>>;
  const std::vector<std::pair<std::function<TBRNExprToken*()>, Members>> cases = {
      {[] { return Int(5); }, {[] { return Null(); }}},
      {[] { return Int(5); }, {[] { return Int(1); }, [] { return Null(); }}},
      {[] { return Int(5); }, {[] { return Int(5); }, [] { return Null(); }}},
      {[] { return NullOf(dtInteger); }, {[] { return Null(); }}},
      {[] { return NullOf(dtInteger); }, {[] { return Int(1); }}},
      {[] { return Int(5); }, {[] { return Int(1); }, [] { return Int(2); }}},
  };
  auto build = [](TBRNExprOperation op, const std::function<TBRNExprToken*()>& tested,
                  const Members& members) {
    TBRNExprToken* node = Pred(op, {tested()});
    for (const auto& member : members) node->AddArgument(member());
    return node;
  };
  for (bool standard : {true, false}) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto& [tested, members] = cases[i];
      std::string notIn = EvaluateTree(build(opNotIn, tested, members), standard);
      std::string notOfIn = EvaluateTree(Not(build(opIn, tested, members)), standard);
      // The WHERE clause form: the NOT pushed down into the predicate.
      TBRNExprToken* pushed = PushDownNot(Not(build(opIn, tested, members)), false);
      ASSERT_EQ(pushed->Operation, opNotIn);
      std::string pushedDown = EvaluateTree(pushed, standard);
      EXPECT_EQ(notIn, notOfIn) << "case " << i << (standard ? " standard" : " engine");
      EXPECT_EQ(pushedDown, notOfIn) << "case " << i << (standard ? " standard" : " engine");
    }
  }
}

TEST(PredicateEvaluationTest, LikeWithEscape) {
  const int32_t ci = 1 << CaseInsensitiveBit;
  ExpectCases({
      {"'abc' LIKE 'a%'",
       [] {
         return Pred(opLike, {Str("abc"), Str("a%")});
       },
       "TRUE", "TRUE"},
      {"'abc' LIKE 'a_c'",
       [] {
         return Pred(opLike, {Str("abc"), Str("a_c")});
       },
       "TRUE", "TRUE"},
      {"'abc' LIKE 'a_'",
       [] {
         return Pred(opLike, {Str("abc"), Str("a_")});
       },
       "FALSE", "FALSE"},
      {"'ABC' LIKE 'a%' binary",
       [] {
         return Pred(opLike, {Str("ABC"), Str("a%")});
       },
       "FALSE", "FALSE"},
      {"'ABC' LIKE 'a%' case-insensitive",
       [=] {
         return Pred(opLike, {Str("ABC", ci), Str("a%")});
       },
       "TRUE", "TRUE"},
      {"'a%c' LIKE 'a!%c' ESCAPE '!'",
       [] {
         return Pred(opLike, {Str("a%c"), Str("a!%c"), Str("!")});
       },
       "TRUE", "TRUE"},
      {"'abc' LIKE 'a!%c' ESCAPE '!'",
       [] {
         return Pred(opLike, {Str("abc"), Str("a!%c"), Str("!")});
       },
       "FALSE", "FALSE"},
      {"'a_' LIKE '%#_' ESCAPE '#'",
       [] {
         return Pred(opLike, {Str("a_"), Str("%#_"), Str("#")});
       },
       "TRUE", "TRUE"},
      {"'ab' LIKE '%#_' ESCAPE '#'",
       [] {
         return Pred(opLike, {Str("ab"), Str("%#_"), Str("#")});
       },
       "FALSE", "FALSE"},
      // An empty escape text means no escape character.
      {"'a!b' LIKE 'a!b' ESCAPE ''",
       [] {
         return Pred(opLike, {Str("a!b"), Str("a!b"), Str("")});
       },
       "TRUE", "TRUE"},
      {"'abc' NOT LIKE 'a%'",
       [] {
         return Pred(opNotLike, {Str("abc"), Str("a%")});
       },
       "FALSE", "FALSE"},
      {"'abc' NOT LIKE 'b%'",
       [] {
         return Pred(opNotLike, {Str("abc"), Str("b%")});
       },
       "TRUE", "TRUE"},
      // Without standard NULLs a NULL reads as empty text.
      {"NULL LIKE '%'",
       [] {
         return Pred(opLike, {NullOf(dtChar), Str("%")});
       },
       "NULL", "TRUE"},
      {"'a' LIKE NULL",
       [] {
         return Pred(opLike, {Str("a"), NullOf(dtChar)});
       },
       "NULL", "FALSE"},
      {"NULL NOT LIKE 'a'",
       [] {
         return Pred(opNotLike, {NullOf(dtChar), Str("a")});
       },
       "NULL", "TRUE"},
  });
}

TEST(PredicateEvaluationTest, IsNull) {
  ExpectCases({
      {"NULL IS NULL",
       [] {
         return Pred(opIsNull, {Null(), Null()});
       },
       "TRUE", "TRUE"},
      {"Integer NULL IS NULL",
       [] {
         return Pred(opIsNull, {NullOf(dtInteger), Null()});
       },
       "TRUE", "TRUE"},
      {"1 IS NULL",
       [] {
         return Pred(opIsNull, {Int(1), Null()});
       },
       "FALSE", "FALSE"},
      {"1 IS NOT NULL",
       [] {
         return Pred(opIsNotNull, {Int(1), Null()});
       },
       "TRUE", "TRUE"},
      {"'' IS NOT NULL",
       [] {
         return Pred(opIsNotNull, {Str(""), Null()});
       },
       "TRUE", "TRUE"},
      {"NULL IS NOT NULL",
       [] {
         return Pred(opIsNotNull, {Null(), Null()});
       },
       "FALSE", "FALSE"},
      {"(1 / 0) IS NULL",
       [] {
         return Pred(opIsNull, {Op(opDivide, dtFloat, Int(1), Int(0)), Null()});
       },
       "TRUE", "TRUE"},
  });
}

TEST(PredicateEvaluationTest, ContainsWithoutTextIndexIsNull) {
  // The base evaluator has no text indexes: the answer is NULL (NOT of it
  // follows NOT's rule), never whatever the node held before.
  ExpectCases({
      {"'a b' CONTAINS 'a'",
       [] {
         return Pred(opContains, {Str("a b"), Str("a")});
       },
       "NULL", "NULL"},
      {"'a b' DOES NOT CONTAIN 'a'",
       [] {
         return Pred(opNotContain, {Str("a b"), Str("a")});
       },
       "NULL", "TRUE"},
  });
}

}  // namespace
}  // namespace brn::testing
