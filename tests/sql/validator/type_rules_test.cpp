// Whole-path tables of the type rules: parse, validate against the types
// catalog (context table T, see validator_fixture.h), print the typed tree.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql/parser/parse_flags.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

struct TypeCase {
  const char* Text;
  const char* Expected;
};

void expectAll(const std::vector<TypeCase>& cases, RunOptions options = {}) {
  for (const TypeCase& c : cases) EXPECT_EQ(Validated(c.Text, options), c.Expected) << c.Text;
}

// ---- Arithmetic on every numeric type ------------------------------------------

TEST(TypeRules, ArithmeticOnEveryNumericPair) {
  // Columns s SmallInt, i Integer, b BigInt, f Float, d Decimal.
  const char* columns[] = {"s", "i", "b", "f", "d"};
  // Result of + - * by [left][right].
  const char* additive[5][5] = {
      {"Integer", "Integer", "BigInt", "Float", "Decimal"},
      {"Integer", "Integer", "BigInt", "Float", "Decimal"},
      {"BigInt", "BigInt", "BigInt", "Float", "Decimal"},
      {"Float", "Float", "Float", "Float", "Float"},
      {"Decimal", "Decimal", "Decimal", "Float", "Decimal"},
  };
  const char* division[5][5] = {
      {"Float", "Float", "Float", "Float", "Decimal"},
      {"Float", "Float", "Float", "Float", "Decimal"},
      {"Float", "Float", "Float", "Float", "Decimal"},
      {"Float", "Float", "Float", "Float", "Float"},
      {"Decimal", "Decimal", "Decimal", "Float", "Decimal"},
  };
  // MOD takes integers only; an empty cell is an error.
  const char* modulo[5][5] = {
      {"Integer", "Integer", "BigInt", "", ""},
      {"Integer", "Integer", "BigInt", "", ""},
      {"BigInt", "BigInt", "BigInt", "", ""},
      {"", "", "", "", ""},
      {"", "", "", "", ""},
  };
  for (int l = 0; l < 5; ++l) {
    for (int r = 0; r < 5; ++r) {
      const std::string L = columns[l], R = columns[r];
      for (const char* op : {"+", "-", "*"})
        EXPECT_EQ(Validated(L + " " + op + " " + R),
                  "(" + L + " " + op + " " + R + "):" + additive[l][r]);
      EXPECT_EQ(Validated(L + " / " + R), "(" + L + " / " + R + "):" + division[l][r]);
      const std::string mod = Validated(L + " MOD " + R);
      if (*modulo[l][r])
        EXPECT_EQ(mod, "(" + L + " MOD " + R + "):" + modulo[l][r]);
      else
        EXPECT_EQ(mod.substr(0, 18), "error 1:" + std::string(l >= 3 ? "1 " : "7 ") + "Expected")
            << L << " MOD " << R;
    }
  }
}

TEST(TypeRules, ArithmeticOnLiteralsAndScale) {
  expectAll({
      {"7 / 2", "(7:Integer / 2:Integer):Float"},
      {"7 MOD 2", "(7:Integer MOD 2:Integer):Integer"},
      {"3000000000 * 2", "(3000000000:BigInt * 2:Integer):BigInt"},
      {"1.5 + 1", "(1.5:Float + 1:Integer):Float"},
      {"- d", "(- d):Decimal"},
      {"- s", "(- s):SmallInt"},
      {"1 + 2 * 3 - 4",
       "((1:Integer + (2:Integer * 3:Integer):Integer):Integer - 4:Integer):Integer"},
  });
  // A Decimal result keeps the larger scale.
  ValidationRun run("d + d4 * 2");
  ASSERT_NE(run.Owner.Root, nullptr) << run.Result;
  EXPECT_EQ(run.Owner.Root->Scale, 4);
}

// ---- Strings ---------------------------------------------------------------------

TEST(TypeRules, StringConcatenation) {
  expectAll({
      {"vc + vc2", "(vc + vc2):VarChar"},
      {"vc || 'ab'", "(vc + 'ab':VarChar(2)):VarChar"},
      {"fc + fc", "(fc + fc):Char"},
      {"g + g", "(g + g):GUID"},
      {"fc + vc", "(fc + vc):VarChar"},
      {"vc + cl", "(vc + cl):CLOB"},
      {"cl + vc", "(cl + vc):CLOB"},
      {"vb + vb", "(vb + vb):VarByte"},
      {"vb + bl", "(vb + bl):BLOB"},
  });
  ValidationRun sum("vc + vc2");
  ASSERT_NE(sum.Owner.Root, nullptr);
  EXPECT_EQ(sum.Owner.Root->Size, 30);
  EXPECT_EQ(sum.Owner.Root->Collation, 1);  // the left operand's collation
  ValidationRun fixed("fc + vc");
  EXPECT_EQ(fixed.Owner.Root->Size, 15);
  ValidationRun lob("vc + cl");
  EXPECT_EQ(lob.Owner.Root->SubType, stClob);
  EXPECT_EQ(lob.Owner.Root->Collation, 1);
}

// ---- Date, time and interval arithmetic ----------------------------------------

TEST(TypeRules, DateTimeAndIntervalArithmetic) {
  expectAll({
      // Dates plus intervals, both orders.
      {"dt + ym_y", "(dt + ym_y):Date"},
      {"dt + dt_d", "(dt + dt_d):Date"},
      {"dt + dt_h", "(dt + dt_h):Timestamp"},
      {"dt + INTERVAL '3' HOUR", "(dt + INTERVAL '3' HOUR:Interval Hour):Timestamp"},
      {"tm + dt_h", "(tm + dt_h):Time"},
      {"tm + dt_hm", "(tm + dt_hm):Time"},
      {"ts + ym_m", "(ts + ym_m):Timestamp"},
      {"ts + dt_ds", "(ts + dt_ds):Timestamp"},
      {"ym_y + dt", "(ym_y + dt):Date"},
      {"ym_ym + ts", "(ym_ym + ts):Timestamp"},
      {"dt_d + dt", "(dt_d + dt):Date"},
      {"dt_h + dt", "(dt_h + dt):Timestamp"},
      {"dt_h + tm", "(dt_h + tm):Time"},
      {"dt_d + ts", "(dt_d + ts):Timestamp"},
      // Differences.
      {"dt - dt", "(dt - dt):Interval Day"},
      {"dt - ym_y", "(dt - ym_y):Date"},
      {"dt - dt_d", "(dt - dt_d):Date"},
      {"tm - tm", "(tm - tm):Interval Hour To MSecond"},
      {"tm - dt_h", "(tm - dt_h):Time"},
      {"ts - dt", "(ts - dt):Interval Day To MSecond"},
      {"ts - ts", "(ts - ts):Interval Day To MSecond"},
      {"ts - ym_y", "(ts - ym_y):Timestamp"},
      {"ts - dt_dh", "(ts - dt_dh):Timestamp"},
      {"(ts - dt) DAY", "(ts - dt) DAY:Interval Day"},
      {"(tm - tm) MINUTE", "(tm - tm) MINUTE:Interval Minute"},
      // Integers and single-field intervals, both orders.
      {"i + dt_d", "(i + dt_d):Interval Day"},
      {"2 * dt_h", "(2:Integer * dt_h):Interval Hour"},
      {"b + ym_m", "(b + ym_m):Interval Month"},
      {"dt_h + 1", "(dt_h + 1:Integer):Interval Hour"},
      {"INTERVAL '2' HOUR - 1", "(INTERVAL '2' HOUR:Interval Hour - 1:Integer):Interval Hour"},
      {"dt_h * 2", "(dt_h * 2:Integer):Interval Hour"},
      {"ym_y / 2", "(ym_y / 2:Integer):Interval Year"},
      {"dt_d MOD s", "(dt_d MOD s):Interval Day"},
      // Intervals with intervals: the qualifier covers both.
      {"dt_d + dt_h", "(dt_d + dt_h):Interval Day To Hour"},
      {"dt_d - INTERVAL '5' MINUTE",
       "(dt_d - INTERVAL '5' MINUTE:Interval Minute):Interval Day To Minute"},
      {"ym_y + ym_m", "(ym_y + ym_m):Interval Year To Month"},
      {"dt_hm + dt_ds", "(dt_hm + dt_ds):Interval Day To Second"},
      {"- dt_dh", "(- dt_dh):Interval Day To Hour"},
  });
}

// ---- Comparisons and predicates ---------------------------------------------------

TEST(TypeRules, ComparisonsAreBooleanForAcceptedPairs) {
  expectAll({
      {"i = 5", "(i = 5:Integer):Boolean"},
      {"s < f", "(s < f):Boolean"},
      {"d >= 1.5", "(d >= 1.5:Float):Boolean"},
      {"vc <> cl", "(vc <> cl):Boolean"},
      {"cl = vc", "(cl = vc):Boolean"},
      {"vb < vb", "(vb < vb):Boolean"},
      {"bl = vb", "(bl = vb):Boolean"},
      {"ts = dt", "(ts = dt):Boolean"},
      {"dt < ts", "(dt < ts):Boolean"},
      {"ts > dt", "(ts > dt):Boolean"},
      {"tm <= TIME '10:00'", "(tm <= TIME '10:00':Time):Boolean"},
      {"dt_d = 3", "(dt_d = 3:Integer):Boolean"},
      {"3 < dt_h", "(3:Integer < dt_h):Boolean"},
      {"dt_dh = dt_dh", "(dt_dh = dt_dh):Boolean"},
      // A number meets a Boolean: accepted both ways for = and <>, and with
      // the number on the left for the ordering comparisons.
      {"i = bo", "(i = bo):Boolean"},
      {"bo = i", "(bo = i):Boolean"},
      {"bo <> 1", "(bo <> 1:Integer):Boolean"},
      {"i < bo", "(i < bo):Boolean"},
      {"bo AND i > 0", "(bo AND (i > 0:Integer):Boolean):Boolean"},
  });
}

TEST(TypeRules, BetweenInAndLike) {
  expectAll({
      {"i BETWEEN 1 AND s", "(i BETWEEN 1:Integer AND s):Boolean"},
      {"dt NOT BETWEEN DATE '2020-01-01' AND DATE '2020-12-31'",
       "(dt NOT BETWEEN DATE '2020-01-01':Date AND DATE '2020-12-31':Date):Boolean"},
      {"vc IN ('a', 'bc', cl)", "(vc IN ('a':VarChar(1), 'bc':VarChar(2), cl)):Boolean"},
      {"i NOT IN (1, 2.5, b)", "(i NOT IN (1:Integer, 2.5:Float, b)):Boolean"},
      {"i IN ()", "(i IN ()):Boolean"},
      {"vc LIKE 'a%'", "(vc LIKE 'a%':VarChar(2)):Boolean"},
      {"cl NOT LIKE 'a!%%' ESCAPE '!'",
       "(cl NOT LIKE 'a!%%':VarChar(4) ESCAPE '!':VarChar(1)):Boolean"},
      {"fc LIKE vc ESCAPE ''", "(fc LIKE vc ESCAPE '':VarChar(0)):Boolean"},
      {"i IS NOT NULL", "(i IS NOT NULL):Boolean"},
  });
}

// ---- Errors with their exact texts and positions ------------------------------

TEST(TypeRules, OperandErrorsNameTheClassAndThePosition) {
  const std::string numbersAndIntervals =
      "SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval Day, Interval Hour, "
      "Interval Minute, Interval Second, or Interval MSecond";
  expectAll({
      {"1 + 'a'",
       ("error 1:5 Expected " + numbersAndIntervals + " expression but instead found 'a'").c_str()},
      {"i = 'abc'", ("error 1:5 Expected Boolean, " + numbersAndIntervals +
                     " expression but instead found 'abc'")
                        .c_str()},
      {"'abc' = i", "error 1:9 Expected Char, GUID, or VarChar expression but instead found i"},
      {"dt = ts", "error 1:6 Expected Date expression but instead found ts"},
      {"dt - dt_h",
       "error 1:6 Expected Date, Interval Year, Interval Year To Month, or Interval Day "
       "expression but instead found dt_h"},
      {"vb = cl", "error 1:6 Expected BLOB expression but instead found cl"},
      {"vc + vb", "error 1:6 Expected Char, GUID, or VarChar expression but instead found vb"},
      {"d MOD 2",
       "error 1:1 Expected SmallInt, Integer, BigInt, Interval Year, Interval Day, Interval "
       "Hour, Interval Minute, Interval Second, or Interval MSecond expression but instead "
       "found d"},
      {"i - dt_d",
       "error 1:5 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found dt_d"},
      {"dt_dh * 2",
       "error 1:1 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval "
       "Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond expression "
       "but instead found dt_dh"},
      {"ym_ym = 1", "error 1:9 Expected Interval Year To Month expression but instead found 1"},
      {"dt_d = dt_h",
       "error 1:8 Expected SmallInt, Integer, BigInt, or Interval Day expression "
       "but instead found dt_h"},
      {"bo OR 1", "error 1:7 Expected Boolean expression but instead found 1"},
      {"NOT 5", "error 1:5 Expected Boolean expression but instead found 5"},
      {"- vc",
       "error 1:3 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval "
       "Year To Month, Interval Day, Interval Day To Hour, Interval Day To Minute, Interval Day "
       "To Second, Interval Day To MSecond, Interval Hour, Interval Hour To Minute, Interval "
       "Hour To Second, Interval Hour To MSecond, Interval Minute, Interval Minute To Second, "
       "Interval Minute To MSecond, Interval Second, Interval Second To MSecond, or Interval "
       "MSecond expression but instead found vc"},
      // The operand that fails is reported where it starts, also across lines.
      {"i +\n  (s - vc)",
       "error 2:8 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but "
       "instead found vc"},
      {"(i + 1) * 'x' + 2",
       "error 1:11 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval "
       "Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond expression "
       "but instead found 'x'"},
  });
}

TEST(TypeRules, OrderingComparisonRefusesBooleanOnTheLeft) {
  const std::string got = Validated("bo < i");
  EXPECT_EQ(got.substr(0, 18), "error 1:1 Expected");
  EXPECT_NE(got.find("but instead found bo"), std::string::npos) << got;
  EXPECT_EQ(got.find("Boolean"), std::string::npos) << got;
}

TEST(TypeRules, MeaninglessIntervalPairsAreRefused) {
  // They would have no result type and evaluate to NULL.
  expectAll({
      {"dt_d * dt_d",
       "error 1:8 Expected SmallInt, Integer, or BigInt expression but instead "
       "found dt_d"},
      {"ym_y / ym_y",
       "error 1:8 Expected SmallInt, Integer, or BigInt expression but instead "
       "found ym_y"},
      {"dt_h MOD dt_h",
       "error 1:10 Expected SmallInt, Integer, or BigInt expression but "
       "instead found dt_h"},
      {"dt_d + tm",
       "error 1:8 Expected SmallInt, Integer, BigInt, Date, Timestamp, Interval Day, Interval "
       "Day To Hour, Interval Day To Minute, Interval Day To Second, Interval Day To MSecond, "
       "Interval Hour, Interval Hour To Minute, Interval Hour To Second, Interval Hour To "
       "MSecond, Interval Minute, Interval Minute To Second, Interval Minute To MSecond, "
       "Interval Second, Interval Second To MSecond, or Interval MSecond expression but "
       "instead found tm"},
      {"ym_y + tm",
       "error 1:8 Expected SmallInt, Integer, BigInt, Date, Timestamp, Interval "
       "Year, or Interval Year To Month expression but instead found tm"},
  });
  // Time plus an interval with a day field was refused before as well.
  EXPECT_EQ(Validated("tm + dt_d").substr(0, 18), "error 1:6 Expected");
}

TEST(TypeRules, PredicateErrors) {
  expectAll({
      {"i LIKE 'a'", "error 1:1 Expected Char, GUID, or VarChar expression but instead found i"},
      {"vc LIKE 'a' ESCAPE 'ab'",
       "error 1:20 Invalid expression 'ab' found, only a single "
       "character allowed"},
      {"vc LIKE 'a' ESCAPE vc",
       "error 1:20 Expected constant value expression but instead found vc"},
      {"bl LIKE 'a'", "error 1:1 Expected CLOB expression but instead found bl"},
      {"i BETWEEN 1 AND 'x'",
       "error 1:17 Expected Boolean, SmallInt, Integer, BigInt, Float, "
       "Decimal, Interval Year, Interval Day, Interval Hour, Interval "
       "Minute, Interval Second, or Interval MSecond expression but "
       "instead found 'x'"},
      {"dt IN (DATE '2020-01-01', ts)", "error 1:27 Expected Date expression but instead found ts"},
  });
}

TEST(TypeRules, TextSearchNeedsATextIndexedColumn) {
  RunOptions customers;
  customers.ContextTable = "Customers";
  customers.Flags = pcContains;
  EXPECT_EQ(Validated("Name CONTAINS 'x'", customers), "(Name CONTAINS 'x':VarChar(1)):Boolean");
  EXPECT_EQ(Validated("City CONTAINS 'x'", customers),
            "error 1:1 Invalid expression City found, CONTAINS or DOES NOT CONTAIN can only be "
            "used with a text-indexed column with a matching collation");
  EXPECT_EQ(Validated("ID CONTAINS 'x'", customers),
            "error 1:1 Expected Char, GUID, or VarChar expression but instead found ID");
}

TEST(TypeRules, BadLiteralsNameTheirType) {
  expectAll({
      {"DATE '2020-13-01'",
       "error 1:1 Expected Date expression but instead found DATE '2020-13-01'"},
      {"i = 1 OR\n   dt = DATE '2020-02-30'",
       "error 2:9 Expected Date expression but instead found DATE '2020-02-30'"},
      {"TIME '25:00'", "error 1:1 Expected Time expression but instead found TIME '25:00'"},
      {"INTERVAL 'abc' YEAR TO MONTH",
       "error 1:1 Expected Interval Year or Interval Year To Month expression but instead found "
       "INTERVAL 'abc' YEAR TO MONTH"},
  });
}

TEST(TypeRules, RowValueComparisons) {
  RunOptions rows;
  rows.Flags = pcRowValues;
  expectAll({{"(i, vc) = (1, 'a')", "(ROW(i, vc) = ROW(1:Integer, 'a':VarChar(1))):Boolean"},
             {"(i, vc) = (1, 2, 3)",
              "error 1:12 Invalid expression ROW(1, 2, 3) found, invalid "
              "number of row value members specified"},
             {"(i, vc) = 5", "error 1:11 Expected row value but instead found 5"},
             {"5 = (i, vc)", "error 1:1 Expected row value but instead found 5"},
             {"(i, vc) = (1, 2)",
              "error 1:15 Expected Char, GUID, or VarChar expression but "
              "instead found 2"},
             {"(i, vc) + 1",
              "error 1:2 Invalid expression ROW(i, vc) found, row values not "
              "allowed"}},
            rows);
}

// ---- NULL literals under both behaviours ---------------------------------------

TEST(TypeRules, NullLiteralOperands) {
  // Standard behaviour: a NULL literal fails every operand class.
  EXPECT_EQ(Validated("i = NULL"),
            "error 1:5 Expected Boolean, SmallInt, Integer, BigInt, Float, Decimal, Interval "
            "Year, Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval "
            "MSecond expression but instead found NULL");
  EXPECT_EQ(Validated("NULL + 1").substr(0, 18), "error 1:1 Expected");
  EXPECT_EQ(Validated("i IS NULL"), "(i IS NULL):Boolean");

  RunOptions engine;
  engine.StandardNull = false;
  expectAll(
      {{"NULL + 1", "(NULL:Null + 1:Integer):Null"},
       {"i = NULL", "(i = NULL:Null):Boolean"},
       // Two NULL literals have no type to lend each other.
       {"NULL = NULL",
        "error 1:1 Expected Char, GUID, VarChar, Byte, GUID, VarByte, CLOB, "
        "BLOB, Boolean, SmallInt, Integer, BigInt, Float, Decimal, Date, "
        "Time, Timestamp, Interval Year, Interval Year To Month, Interval "
        "Day, Interval Day To Hour, Interval Day To Minute, Interval Day To "
        "Second, Interval Day To MSecond, Interval Hour, Interval Hour To "
        "Minute, Interval Hour To Second, Interval Hour To MSecond, Interval "
        "Minute, Interval Minute To Second, Interval Minute To MSecond, "
        "Interval Second, Interval Second To MSecond, or Interval MSecond "
        "expression but instead found NULL"},
       {"vc || NULL", "(vc + NULL:Null):Null"},
       {"dt IN (NULL, DATE '2020-01-01')", "(dt IN (NULL:Null, DATE '2020-01-01':Date)):Boolean"},
       {"'a' = NULL + 1",
        "error 1:7 Expected Char, GUID, or VarChar expression but instead "
        "found NULL + 1"}},
      engine);
}

// ---- Filter conditions and expected types ----------------------------------------

TEST(TypeRules, FilterModeComparesLoneTruthValuesWithTrue) {
  RunOptions filter;
  filter.FilterMode = true;
  filter.Flags = pcRowValues;
  expectAll({{"bo", "(bo = TRUE:Boolean):Boolean"},
             {"i", "(i = TRUE:Boolean):Boolean"},
             {"NOT bo", "(NOT (bo = TRUE:Boolean):Boolean):Boolean"},
             {"bo AND (s OR i > 2)",
              "((bo = TRUE:Boolean):Boolean AND ((s = TRUE:Boolean):Boolean OR (i > "
              "2:Integer):Boolean):Boolean):Boolean"},
             {"i = 5", "(i = 5:Integer):Boolean"},
             {"(bo, i) = (TRUE, 1)", "(ROW(bo, i) = ROW(TRUE:Boolean, 1:Integer)):Boolean"},
             {"vc", "vc"}},
            filter);
  // Outside a filter nothing is rewritten, and AND wants Boolean operands.
  EXPECT_EQ(Validated("i AND bo"), "error 1:1 Expected Boolean expression but instead found i");
}

TEST(TypeRules, RootMustBeAssignableToTheExpectedType) {
  RunOptions boolean;
  boolean.ExpectedType = dtBoolean;
  EXPECT_EQ(Validated("i + 1", boolean), "(i + 1:Integer):Integer");
  EXPECT_EQ(Validated("vc", boolean),
            "error 1:1 Expected NULL, Boolean, SmallInt, Integer, or BigInt expression but "
            "instead found vc");

  struct Target {
    const char* Text;
    int32_t Type;
    int32_t SubType;
    bool Accepted;
  };
  const Target cases[] = {
      {"i", dtDecimal, 0, true},
      {"f", dtDecimal, 0, true},
      {"dt_d", dtDecimal, 0, false},
      {"dt_d", dtInteger, 0, true},
      {"dt_dh", dtInteger, 0, false},
      {"dt_d", dtDayTimeInterval, 240, true},
      {"dt_dh", dtDayTimeInterval, 240, true},
      {"dt_h", dtDayTimeInterval, 240, false},
      {"5", dtDayTimeInterval, 128, true},
      {"5", dtDayTimeInterval, 192, false},
      {"ym_y", dtYearMonthInterval, 6, true},
      {"ym_m", dtYearMonthInterval, 4, false},
      {"dt", dtTimestamp, 0, true},
      {"ts", dtDate, 0, false},
      {"cl", dtChar, 0, true},
      {"bl", dtChar, 0, false},
      {"vc", dtLob, stClob, true},
      {"bl", dtLob, stClob, false},  // a BLOB is not character data
      {"vb", dtLob, 0, true},
      {"cl", dtLob, 0, false},
      {"NULL", dtInteger, 0, true},
  };
  for (const Target& c : cases) {
    RunOptions options;
    options.ExpectedType = c.Type;
    options.ExpectedSubType = c.SubType;
    const std::string got = Validated(c.Text, options);
    EXPECT_EQ(got.rfind("error", 0) != 0, c.Accepted)
        << c.Text << " -> " << c.Type << "/" << c.SubType << ": " << got;
  }
  RunOptions clob;
  clob.ExpectedType = dtChar;
  EXPECT_EQ(Validated("bl", clob),
            "error 1:1 Expected NULL or CLOB expression but instead found bl");
}

// ---- Deep trees ----------------------------------------------------------------------

TEST(TypeRules, LongOperatorChainsDoNotExhaustTheStack) {
  std::string text = "i";
  for (int n = 0; n < 100000; ++n) text += " + 1";
  RunOptions quiet;
  quiet.Print = false;
  ValidationRun run(text, quiet);
  ASSERT_NE(run.Owner.Root, nullptr);
  EXPECT_EQ(run.Owner.Root->DataType, dtInteger);
  std::string failing = text + " + 'x'";
  ValidationRun bad(failing, quiet);
  EXPECT_EQ(bad.Owner.Root, nullptr);
  EXPECT_NE(bad.Result.find("found 'x'"), std::string::npos);
}

}  // namespace
}  // namespace brn::testing
