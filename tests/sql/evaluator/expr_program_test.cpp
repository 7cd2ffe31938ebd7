// The flat program against the tree it was compiled from: random typed
// trees over random rows (NULLs with stale data behind them, extreme
// integers, collations) give the same value, NULL or error both ways, under
// either NULL behaviour, reading the row through its image and through its
// values; and a few direct cases of what the program covers.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/types/data_types.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/expr_program.h"
#include "sql/evaluator/image_row.h"
#include "sql/evaluator/typed_tree_builder.h"

namespace brn::testing {
namespace {

constexpr int32_t CaseInsensitive = 1 << CaseInsensitiveBit;

// a SmallInt, b c Integer, d BigInt, f Float, t Boolean, s VARCHAR(6),
// x CHAR(4), u VARCHAR(6) case-insensitive.
std::vector<ImageColumn> Columns() {
  return {{dtSmallInt},
          {dtInteger},
          {dtInteger},
          {dtBigInt},
          {dtFloat},
          {dtBoolean},
          {dtChar, 6, false, 0},
          {dtChar, 4, true, 0},
          {dtChar, 6, false, CaseInsensitive}};
}

TBRNExprToken* Column(int32_t Index) {
  const ImageColumn column = Columns()[size_t(Index)];
  auto* node = new TBRNExprToken();
  node->Kind = tkColumnReference;
  node->Index = Index;
  node->SetDataType(column.Type);
  if (column.Type == dtChar) node->SetSize(column.Capacity);
  node->Collation = column.Collation;
  return node;
}

// Random rows and trees from one seed.
class Generator {
 public:
  Generator(uint32_t Seed, bool StandardNull) : Random(Seed), StandardNull(StandardNull) {}

  // With Nulls false no cell is NULL: the rows a jump form takes.
  void FillRow(ImageRow& Row, bool Nulls = true) {
    auto null = [this, Nulls] { return Nulls && pick(6) == 0; };
    Row.SetScalar<int16_t>(0, int16_t(integer(true)), null());
    Row.SetScalar<int32_t>(1, int32_t(integer(false)), null());
    Row.SetScalar<int32_t>(2, int32_t(integer(false)), null());
    Row.SetScalar<int64_t>(3, wideInteger(), null());
    Row.SetScalar<double>(4, double(int32_t(pick(41)) - 20) / 4, null());
    Row.SetScalar<uint8_t>(5, uint8_t(pick(2)), null());
    Row.SetText(6, text(), null());
    Row.SetText(7, text(), null());
    Row.SetText(8, text(), null());
  }

  TBRNExprToken* Condition(int32_t Depth) {
    switch (Depth <= 0 ? pick(3) : pick(12)) {
      case 0:
        return Column(5);
      case 1:
        return Bool(pick(2) == 0);
      case 2:
        return comparison(Depth);
      case 3:
      case 4:
        return Cond(pick(2) == 0 ? opAnd : opOr, Condition(Depth - 1), Condition(Depth - 1));
      case 5:
        return Not(Condition(Depth - 1));
      case 6: {
        TBRNExprToken* tested = anyValue(Depth - 1);
        return Pred(pick(2) == 0 ? opIsNull : opIsNotNull, {tested});
      }
      case 7: {
        // Literal prefixes before a run of '%' (blanks, a character 0, the
        // empty one) match as prefixes under a binary collation.
        const std::string patterns[] = {"a%",  "_b%", "%",    "A%",   "ab",
                                        "%c_", "",    "ab%%", "ab %", std::string("a\0%", 3)};
        TBRNExprToken* pattern = Str(patterns[pick(10)]);
        TBRNExprToken* tested = pick(4) == 0 ? Str(text(), pick(2) == 0 ? 0 : CaseInsensitive)
                                             : Column(6 + int32_t(pick(3)));
        if (pick(8) == 0)  // with ESCAPE: left to the evaluator
          return Pred(pick(2) == 0 ? opLike : opNotLike, {tested, pattern, Str("!")});
        return Pred(pick(2) == 0 ? opLike : opNotLike, {tested, pattern});
      }
      case 8: {
        TBRNExprToken* tested = integerValue(Depth - 1);
        return Pred(pick(2) == 0 ? opBetween : opNotBetween,
                    {tested, integerValue(0), integerValue(0)});
      }
      case 9:
        // A number as a truth.
        return Cond(opAnd, integerValue(Depth - 1), Condition(Depth - 1));
      default:
        return comparison(Depth);
    }
  }

  // A number-typed tree: what a select expression computes.
  TBRNExprToken* Value(int32_t Depth) { return numberValue(Depth); }

 private:
  uint32_t pick(uint32_t Count) { return uint32_t(Random() % Count); }

  int64_t integer(bool Small) {
    const int64_t limit = Small ? 32767 : 2147483647;
    switch (pick(6)) {
      case 0:
        return limit;
      case 1:
        return -limit - 1;
      default:
        return int64_t(pick(21)) - 10;
    }
  }
  int64_t wideInteger() {
    switch (pick(6)) {
      case 0:
        return std::numeric_limits<int64_t>::max();
      case 1:
        return 3000000000LL;
      default:
        return int64_t(pick(21)) - 10;
    }
  }
  std::string text() {
    const std::string texts[] = {
        "", "a", "ab", "abc", "AB", "b", "abcdefgh", "ab  ", "cb", "Abc", std::string("a\0b", 3)};
    return texts[pick(11)];
  }

  // An integer-typed node: a column, a constant or arithmetic into any
  // integer type (SmallInt results and BigInt operands into Integer can
  // leave the range: the evaluator's error).
  TBRNExprToken* integerValue(int32_t Depth) {
    switch (Depth <= 0 ? pick(3) : pick(6)) {
      case 0:
        return Column(int32_t(pick(4)));
      case 1: {
        switch (pick(3)) {
          case 0:
            return Small(integer(true));
          case 1:
            return Int(integer(false));
          default:
            return Big(wideInteger());
        }
      }
      case 2:
        return Column(1);
      default: {
        const TBRNExprOperation operations[] = {opAdd, opSubtract, opMultiply};
        const TBRNDataTypeCode types[] = {dtInteger, dtInteger, dtBigInt, dtSmallInt};
        return Op(operations[pick(3)], types[pick(4)], integerValue(Depth - 1),
                  integerValue(Depth - 1));
      }
    }
  }

  TBRNExprToken* floatValue(int32_t Depth) {
    switch (Depth <= 0 ? pick(2) : pick(5)) {
      case 0:
        return Column(4);
      case 1:
        return Flt(pick(2) == 0 ? "2.5" : "-0.25");
      case 2: {
        // Division: a zero divisor gives NULL.
        return Op(opDivide, dtFloat, numberValue(Depth - 1), numberValue(Depth - 1));
      }
      default: {
        const TBRNExprOperation operations[] = {opAdd, opSubtract, opMultiply};
        return Op(operations[pick(3)], dtFloat, floatValue(Depth - 1), numberValue(Depth - 1));
      }
    }
  }

  TBRNExprToken* numberValue(int32_t Depth) {
    return pick(2) == 0 ? integerValue(Depth) : floatValue(Depth);
  }

  TBRNExprToken* textValue() {
    if (pick(3) == 0) return Str(text(), pick(2) == 0 ? 0 : CaseInsensitive);
    return Column(6 + int32_t(pick(3)));
  }

  TBRNExprToken* anyValue(int32_t Depth) {
    switch (pick(5)) {
      case 0:
        return integerValue(Depth);
      case 1:
        return floatValue(Depth);
      case 2:
        return textValue();
      case 3:
        if (!StandardNull) return Null();
        return Column(5);
      default:
        return Condition(Depth);
    }
  }

  TBRNExprToken* comparison(int32_t Depth) {
    const TBRNExprOperation operations[] = {opEqual,          opNotEqual, opGreater,
                                            opGreaterOrEqual, opLess,     opLessOrEqual};
    const TBRNExprOperation operation = operations[pick(6)];
    switch (pick(6)) {
      case 0:
        return Cond(operation, integerValue(Depth - 1), integerValue(Depth - 1));
      case 1:
        return Cond(operation, floatValue(Depth - 1), numberValue(Depth - 1));
      case 2: {
        TBRNExprToken* node = Cond(operation, textValue(), textValue());
        if (pick(4) == 0) node->PartialLength = 1;
        return node;
      }
      case 3:
        return Cond(operation, Column(5), pick(2) == 0 ? Bool(true) : Condition(0));
      case 4:
        // Across types: the evaluator's conversions.
        return Cond(operation, textValue(), integerValue(Depth - 1));
      default:
        return Cond(operation, Column(1), pick(2) == 0 ? Column(2) : Int(integer(false)));
    }
  }

  std::mt19937 Random;
  const bool StandardNull;
};

// "NULL", the value's text, or "error <code> <message>".
std::string Outcome(TBRNExprToken* Root, const std::function<void()>& Run) {
  try {
    Run();
  } catch (const EBRNException& error) {
    return "error " + std::to_string(error.ErrorCode) + " " + error.ErrorMessage;
  }
  const TBRNValue& value = *Root->Value;
  return DataTypeName(value.GetDataType(), value.GetSubType()) + " " +
         (value.GetNull() ? std::string("NULL") : value.GetAsString());
}

TEST(ExprProgramTest, RandomTreesGiveTheTreeResultOnRandomRows) {
  int32_t programs = 0;
  int32_t jumpRows = 0;  // rows without NULLs through a jump form
  int32_t handOvers = 0;
  int32_t errors = 0;
  int32_t nulls = 0;
  for (bool standard : {true, false}) {
    for (bool image : {true, false}) {
      Generator generator(standard ? 11 : 23, standard);
      ImageRow row(Columns(), image);
      const TBRNValues* current = &row;
      const TBRNCurrentRows rows{current};
      TBRNExprEvaluator evaluator(standard);
      evaluator.CurrentRows = &rows;
      for (int32_t treeNo = 0; treeNo < 500; ++treeNo) {
        // The last trees numbers, as select expressions compute.
        const bool condition = treeNo < 400;
        TypedTree tree(condition ? generator.Condition(4) : generator.Value(3));
        TBRNExprToken* root = tree.Get();
        evaluator.Prepare(root);
        std::unique_ptr<TBRNExprProgram> program = TBRNExprProgram::Compile(evaluator, root);
        if (program != nullptr) {
          ++programs;
          handOvers += program->GetTreeNodeCount();
        }
        for (int32_t rowNo = 0; rowNo < 12; ++rowNo) {
          const bool withNulls = rowNo % 2 == 0;
          generator.FillRow(row, withNulls);
          if (program != nullptr && !withNulls && program->GetNullFreeInstructionCount() > 0)
            ++jumpRows;
          const std::string expected = Outcome(root, [&] { evaluator.Evaluate(root); });
          if (expected.rfind("error", 0) == 0) ++errors;
          if (expected.find("NULL") != std::string::npos) ++nulls;
          if (program == nullptr) continue;
          const std::string actual = Outcome(root, [&] { program->Evaluate(evaluator); });
          ASSERT_EQ(actual, expected)
              << "tree " << treeNo << " row " << rowNo << (standard ? " standard" : " engine")
              << " NULLs" << (image ? ", image" : ", values");
          if (condition && expected.rfind("error", 0) != 0) {
            const bool truth = !root->Value->GetNull() && root->Value->GetAsBoolean();
            ASSERT_EQ(program->Test(evaluator), truth) << "tree " << treeNo << " row " << rowNo;
          }
        }
        evaluator.Unprepare(root);
      }
    }
  }
  // The trees exercised what they were made for.
  EXPECT_GT(programs, 900);
  EXPECT_GT(jumpRows, 2000);
  EXPECT_GT(handOvers, 200);
  EXPECT_GT(errors, 20);
  EXPECT_GT(nulls, 200);
}

// The direct cases: the program covers what it should, and what it hands
// over still gives the tree's answer.
TEST(ExprProgramTest, CoversTheUsualConditionsAndHandsOverTheRest) {
  struct Case {
    const char* Name;
    TBRNExprToken* (*Build)();
    int32_t TreeNodes;  // -1: no program at all
    const char* Expected;
  };
  const std::vector<Case> cases = {
      {"b * 2 + c < 5000 AND s LIKE 'ab%'",
       [] {
         return Cond(
             opAnd,
             Cond(opLess,
                  Op(opAdd, dtInteger, Op(opMultiply, dtInteger, Column(1), Int(2)), Column(2)),
                  Int(5000)),
             Pred(opLike, {Column(6), Str("ab%")}));
       },
       0, "TRUE"},
      {"f >= 10.5 OR x <> u",
       [] {
         return Cond(opOr, Cond(opGreaterOrEqual, Column(4), Flt("10.5")),
                     Cond(opNotEqual, Column(7), Column(8)));
       },
       0, "TRUE"},
      {"c / 0 IS NULL (division handed over)",
       [] { return Pred(opIsNull, {Op(opDivide, dtFloat, Column(2), Int(0))}); }, 1, "TRUE"},
      {"b + d into Integer (may leave the range: handed over)",
       [] { return Op(opAdd, dtInteger, Column(1), Column(3)); }, -1, "error"},
      {"a leaf is no program", [] { return Column(1); }, -1, "7"},
  };
  for (const Case& c : cases) {
    ImageRow row(Columns(), true);
    row.SetScalar<int32_t>(1, 7);
    row.SetScalar<int32_t>(2, 4);
    row.SetScalar<int64_t>(3, std::numeric_limits<int64_t>::max());
    row.SetScalar<double>(4, 1.0);
    row.SetText(6, "abc");
    row.SetText(7, "AB");
    row.SetText(8, "ab");
    const TBRNCurrentRows rows{&row};
    TBRNExprEvaluator evaluator(true);
    evaluator.CurrentRows = &rows;
    TypedTree tree(c.Build());
    evaluator.Prepare(tree.Get());
    std::unique_ptr<TBRNExprProgram> program = TBRNExprProgram::Compile(evaluator, tree.Get());
    if (c.TreeNodes < 0) {
      EXPECT_EQ(program, nullptr) << c.Name;
      continue;
    }
    ASSERT_NE(program, nullptr) << c.Name;
    EXPECT_EQ(program->GetTreeNodeCount(), c.TreeNodes) << c.Name;
    std::string result = Outcome(tree.Get(), [&] { program->Evaluate(evaluator); });
    EXPECT_NE(result.find(c.Expected), std::string::npos) << c.Name << ": " << result;
    evaluator.Unprepare(tree.Get());
  }
}

// A row the program cannot read as compiled (no current row, a column
// beyond the row, another type than validated) runs the tree instead, with
// the tree's answer or error.
TEST(ExprProgramTest, RowsItCannotReadRunTheTree) {
  TypedTree tree(Cond(opGreater, Column(1), Int(3)));
  TBRNExprEvaluator evaluator(true);
  TBRNCurrentRows rows{nullptr};
  evaluator.CurrentRows = &rows;
  evaluator.Prepare(tree.Get());
  std::unique_ptr<TBRNExprProgram> program = TBRNExprProgram::Compile(evaluator, tree.Get());
  ASSERT_NE(program, nullptr);

  // No current row: the column's own value, NULL.
  EXPECT_EQ(Outcome(tree.Get(), [&] { program->Evaluate(evaluator); }), "Boolean NULL");

  // Column 1 is a Float here: compared as the tree compares across types.
  ImageRow floats({{dtInteger}, {dtFloat}}, true);
  floats.SetScalar<double>(1, 3.5);
  rows[0] = &floats;
  EXPECT_EQ(Outcome(tree.Get(), [&] { program->Evaluate(evaluator); }), "Boolean TRUE");

  // A row without column 1: the tree's error.
  ImageRow narrow({{dtInteger}}, true);
  rows[0] = &narrow;
  const std::string expected = Outcome(tree.Get(), [&] { evaluator.Evaluate(tree.Get()); });
  EXPECT_EQ(Outcome(tree.Get(), [&] { program->Evaluate(evaluator); }), expected);

  // And back to a row it reads: the program's own answer.
  ImageRow row(Columns(), true);
  row.SetScalar<int32_t>(1, 2);
  rows[0] = &row;
  EXPECT_EQ(Outcome(tree.Get(), [&] { program->Evaluate(evaluator); }), "Boolean FALSE");
  evaluator.Unprepare(tree.Get());
}

}  // namespace
}  // namespace brn::testing
