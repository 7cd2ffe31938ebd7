// Operator evaluation over hand-typed trees: each case is an expression with
// the result type the validator gives it, and the result as text.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/collation.h"
#include "sql/evaluator/typed_tree_builder.h"

namespace brn::testing {
namespace {

struct OperatorCase {
  std::string Expression;
  std::function<TBRNExprToken*()> Build;
  std::string Expected;
};

// Cases without NULL operands give the same answer under both behaviours.
void ExpectBothBehaviours(const std::vector<OperatorCase>& Cases) {
  for (const OperatorCase& c : Cases) {
    EXPECT_EQ(EvaluateTree(c.Build(), true), c.Expected) << c.Expression << " (standard)";
    EXPECT_EQ(EvaluateTree(c.Build(), false), c.Expected) << c.Expression << " (engine)";
  }
}

TEST(OperatorEvaluationTest, ArithmeticOnEveryNumericType) {
  ExpectBothBehaviours({
      {"Integer 1 + Integer 2 : Integer", [] { return Op(opAdd, dtInteger, Int(1), Int(2)); }, "3"},
      {"SmallInt 30000 + SmallInt 30000 : Integer",
       [] { return Op(opAdd, dtInteger, Small(30000), Small(30000)); }, "60000"},
      {"Integer 2 + BigInt 3 : BigInt", [] { return Op(opAdd, dtBigInt, Int(2), Big(3)); }, "5"},
      {"BigInt 10 - SmallInt 3 : BigInt",
       [] { return Op(opSubtract, dtBigInt, Big(10), Small(3)); }, "7"},
      {"Integer 6 * Integer -7 : Integer",
       [] { return Op(opMultiply, dtInteger, Int(6), Int(-7)); }, "-42"},
      {"Integer 1 + Float 0.5 : Float", [] { return Op(opAdd, dtFloat, Int(1), Flt("0.5")); },
       "1.5"},
      {"Float 1.5 * Integer 2 : Float", [] { return Op(opMultiply, dtFloat, Flt("1.5"), Int(2)); },
       "3"},
      {"Float 0.25 - Float 1 : Float",
       [] { return Op(opSubtract, dtFloat, Flt("0.25"), Flt("1")); }, "-0.75"},
      {"Integer 1 + Decimal 0.25 : Decimal",
       [] { return Op(opAdd, dtDecimal, Int(1), Dec("0.25")); }, "1.2500"},
      {"Decimal 0.25 - BigInt 1 : Decimal",
       [] { return Op(opSubtract, dtDecimal, Dec("0.25"), Big(1)); }, "-0.7500"},
      {"Decimal 1.5 + Float 0.25 : Float",
       [] { return Op(opAdd, dtFloat, Dec("1.5"), Flt("0.25")); }, "1.75"},
      {"Float 2.5 - Decimal 0.5 : Float",
       [] { return Op(opSubtract, dtFloat, Flt("2.5"), Dec("0.5")); }, "2"},
      {"Decimal 1.5 * Decimal 2.25 : Decimal",
       [] { return Op(opMultiply, dtDecimal, Dec("1.5"), Dec("2.25")); }, "3.3750"},
      {"Decimal 0.0001 * Decimal 0.5 : Decimal (tie to even)",
       [] { return Op(opMultiply, dtDecimal, Dec("0.0001"), Dec("0.5")); }, "0.0000"},
      {"Decimal 0.0003 * Decimal 0.5 : Decimal (tie to even)",
       [] { return Op(opMultiply, dtDecimal, Dec("0.0003"), Dec("0.5")); }, "0.0002"},
      {"Integer 3 * Decimal 1.1 : Decimal",
       [] { return Op(opMultiply, dtDecimal, Int(3), Dec("1.1")); }, "3.3000"},
      {"Decimal 2 * Float 0.5 : Float",
       [] { return Op(opMultiply, dtFloat, Dec("2"), Flt("0.5")); }, "1"},
      {"Integer 7 / Integer 2 : Float", [] { return Op(opDivide, dtFloat, Int(7), Int(2)); },
       "3.5"},
      {"Decimal 10 / Integer 4 : Decimal",
       [] { return Op(opDivide, dtDecimal, Dec("10"), Int(4)); }, "2.5000"},
      {"Decimal 1 / Decimal 3 : Decimal",
       [] { return Op(opDivide, dtDecimal, Dec("1"), Dec("3")); }, "0.3333"},
      {"Decimal 2 / Decimal 3 : Decimal",
       [] { return Op(opDivide, dtDecimal, Dec("2"), Dec("3")); }, "0.6667"},
      {"Integer 1 / Decimal 3 : Decimal", [] { return Op(opDivide, dtDecimal, Int(1), Dec("3")); },
       "0.3333"},
      {"Float 1 / Decimal 0.5 : Float", [] { return Op(opDivide, dtFloat, Flt("1"), Dec("0.5")); },
       "2"},
      {"Decimal 1 / Float 4 : Float", [] { return Op(opDivide, dtFloat, Dec("1"), Flt("4")); },
       "0.25"},
      {"Integer 7 MOD Integer 3 : Integer", [] { return Op(opMod, dtInteger, Int(7), Int(3)); },
       "1"},
      {"Integer -7 MOD Integer 3 : Integer (sign of the dividend)",
       [] { return Op(opMod, dtInteger, Int(-7), Int(3)); }, "-1"},
      {"Integer 7 MOD Integer -3 : Integer", [] { return Op(opMod, dtInteger, Int(7), Int(-3)); },
       "1"},
      {"Integer 7 MOD BigInt 4 : BigInt", [] { return Op(opMod, dtBigInt, Int(7), Big(4)); }, "3"},
      {"- SmallInt 5 : SmallInt", [] { return Unary(opNegate, dtSmallInt, Small(5)); }, "-5"},
      {"- Decimal 1.5 : Decimal", [] { return Unary(opNegate, dtDecimal, Dec("1.5")); }, "-1.5000"},
      {"- Float 2 : Float", [] { return Unary(opNegate, dtFloat, Flt("2")); }, "-2"},
      // The result setter converts to the node's type and range-checks it.
      {"SmallInt 200 * SmallInt 200 : SmallInt (out of range)",
       [] { return Op(opMultiply, dtSmallInt, Small(200), Small(200)); }, "error 1011"},
      {"Integer 7 / Integer 2 : Integer (stored as the node's type)",
       [] { return Op(opDivide, dtInteger, Int(7), Int(2)); }, "3"},
  });
}

TEST(OperatorEvaluationTest, IntegerArithmeticWrapsAround) {
  ExpectBothBehaviours({
      {"2147483647 + 1", [] { return Op(opAdd, dtInteger, Int(2147483647), Int(1)); },
       "-2147483648"},
      {"-2147483648 - 1", [] { return Op(opSubtract, dtInteger, Int(-2147483648LL), Int(1)); },
       "2147483647"},
      {"65536 * 65536", [] { return Op(opMultiply, dtInteger, Int(65536), Int(65536)); }, "0"},
      {"BigInt max + 1", [] { return Op(opAdd, dtBigInt, Big(INT64_MAX), Big(1)); },
       "-9223372036854775808"},
      {"BigInt min - 1", [] { return Op(opSubtract, dtBigInt, Big(INT64_MIN), Big(1)); },
       "9223372036854775807"},
      {"BigInt 2^32 * 2^32",
       [] { return Op(opMultiply, dtBigInt, Big(1LL << 32), Big(1LL << 32)); }, "0"},
      {"- SmallInt -32768", [] { return Unary(opNegate, dtSmallInt, Small(-32768)); }, "-32768"},
      {"- Integer min", [] { return Unary(opNegate, dtInteger, Int(INT32_MIN)); }, "-2147483648"},
      {"- BigInt min", [] { return Unary(opNegate, dtBigInt, Big(INT64_MIN)); },
       "-9223372036854775808"},
      // The machine division faults on these; the remainder is 0.
      {"Integer min MOD -1", [] { return Op(opMod, dtInteger, Int(INT32_MIN), Int(-1)); }, "0"},
      {"BigInt min MOD -1", [] { return Op(opMod, dtBigInt, Big(INT64_MIN), Big(-1)); }, "0"},
      // Decimals are exact in 128 bits: the product no longer fits and the
      // setter reports the range error.
      {"Decimal huge * Decimal huge",
       [] { return Op(opMultiply, dtDecimal, Dec("900000000000000"), Dec("900000000000000")); },
       "error 1011"},
  });
}

TEST(OperatorEvaluationTest, DivisionAndModByZeroAreNull) {
  ExpectBothBehaviours({
      {"5 / 0", [] { return Op(opDivide, dtFloat, Int(5), Int(0)); }, "NULL"},
      {"5.0 / 0.0", [] { return Op(opDivide, dtFloat, Flt("5.0"), Flt("0.0")); }, "NULL"},
      {"Decimal 5 / Decimal 0", [] { return Op(opDivide, dtDecimal, Dec("5"), Dec("0")); }, "NULL"},
      {"Float 5 / Decimal 0", [] { return Op(opDivide, dtFloat, Flt("5"), Dec("0")); }, "NULL"},
      {"5 MOD 0", [] { return Op(opMod, dtInteger, Int(5), Int(0)); }, "NULL"},
      {"BigInt 5 MOD 0", [] { return Op(opMod, dtBigInt, Big(5), Int(0)); }, "NULL"},
      {"INTERVAL '4' DAY / 0",
       [] { return Op(opDivide, dtDayTimeInterval, DT("4", ifDay), Int(0), ifDay); }, "NULL"},
      {"INTERVAL '4' YEAR / 0",
       [] { return Op(opDivide, dtYearMonthInterval, YM("4", ifYear), Int(0), ifYear); }, "NULL"},
      {"INTERVAL '4' HOUR MOD 0",
       [] { return Op(opMod, dtDayTimeInterval, DT("4", ifHour), Int(0), ifHour); }, "NULL"},
  });
}

TEST(OperatorEvaluationTest, DateTimeAndIntervalArithmetic) {
  constexpr TBRNIntervalFields dayToHour = ifDay | ifHour;
  constexpr TBRNIntervalFields dayToMSecond = ifDay | ifHour | ifMinute | ifSecond | ifMSecond;
  constexpr TBRNIntervalFields hourToMSecond = ifHour | ifMinute | ifSecond | ifMSecond;
  ExpectBothBehaviours({
      {"DATE '2020-01-31' + INTERVAL '1' MONTH : Date",
       [] { return Op(opAdd, dtDate, Date("2020-01-31"), YM("1", ifMonth)); }, "2020-02-29"},
      {"DATE '2020-01-01' + INTERVAL '2' DAY : Date",
       [] { return Op(opAdd, dtDate, Date("2020-01-01"), DT("2", ifDay)); }, "2020-01-03"},
      {"DATE '2020-01-01' + INTERVAL '2' HOUR : Timestamp",
       [] { return Op(opAdd, dtTimestamp, Date("2020-01-01"), DT("2", ifHour)); },
       "2020-01-01 02:00"},
      {"TIME '23:00:00' + INTERVAL '2' HOUR : Time (around midnight)",
       [] { return Op(opAdd, dtTime, Time("23:00:00"), DT("2", ifHour)); }, "01:00"},
      {"TIMESTAMP '2020-01-31 10:00:00' + INTERVAL '1' MONTH : Timestamp",
       [] { return Op(opAdd, dtTimestamp, Stamp("2020-01-31 10:00:00"), YM("1", ifMonth)); },
       "2020-02-29 10:00"},
      {"DATE '2020-03-31' - INTERVAL '1' MONTH : Date",
       [] { return Op(opSubtract, dtDate, Date("2020-03-31"), YM("1", ifMonth)); }, "2020-02-29"},
      {"TIME '01:00:00' - INTERVAL '90' MINUTE : Time",
       [] { return Op(opSubtract, dtTime, Time("01:00:00"), DT("90", ifMinute)); }, "23:30"},
      {"TIMESTAMP '2020-01-01 00:00:00' - INTERVAL '1' DAY : Timestamp",
       [] { return Op(opSubtract, dtTimestamp, Stamp("2020-01-01 00:00:00"), DT("1", ifDay)); },
       "2019-12-31 00:00"},
      {"DATE '2020-03-01' - DATE '2020-02-01' : Interval Day",
       [] {
         return Op(opSubtract, dtDayTimeInterval, Date("2020-03-01"), Date("2020-02-01"), ifDay);
       },
       "29"},
      {"TIME '10:30:00' - TIME '08:00:00' : Interval Hour To MSecond",
       [=] {
         return Op(opSubtract, dtDayTimeInterval, Time("10:30:00"), Time("08:00:00"),
                   hourToMSecond);
       },
       "2:30:00.000"},
      {"TIMESTAMP - TIMESTAMP : Interval Day To MSecond",
       [=] {
         return Op(opSubtract, dtDayTimeInterval, Stamp("2020-01-02 12:00:00"),
                   Stamp("2020-01-01 00:00:00"), dayToMSecond);
       },
       "1 12:00:00.000"},
      {"INTERVAL '1' DAY + INTERVAL '2' HOUR : Interval Day To Hour",
       [=] { return Op(opAdd, dtDayTimeInterval, DT("1", ifDay), DT("2", ifHour), dayToHour); },
       "1 2"},
      {"INTERVAL '3' YEAR - INTERVAL '1' YEAR : Interval Year",
       [] { return Op(opSubtract, dtYearMonthInterval, YM("3", ifYear), YM("1", ifYear), ifYear); },
       "2"},
      {"INTERVAL '2' DAY * 3 : Interval Day",
       [] { return Op(opMultiply, dtDayTimeInterval, DT("2", ifDay), Int(3), ifDay); }, "6"},
      {"INTERVAL '8' MONTH / 2 : Interval Month",
       [] { return Op(opDivide, dtYearMonthInterval, YM("8", ifMonth), Int(2), ifMonth); }, "4"},
      {"- INTERVAL '3' DAY : Interval Day",
       [] { return Unary(opNegate, dtDayTimeInterval, DT("3", ifDay), ifDay); }, "-3"},
      {"(DATE '2020-03-15' - DATE '2020-01-31') MONTH : month numbers only",
       [] {
         return Op(opIntervalDifference, dtYearMonthInterval, Date("2020-03-15"),
                   Date("2020-01-31"), ifMonth);
       },
       "2"},
      {"(DATE '2020-03-15' - DATE '2020-01-31') DAY",
       [] {
         return Op(opIntervalDifference, dtDayTimeInterval, Date("2020-03-15"), Date("2020-01-31"),
                   ifDay);
       },
       "44"},
      {"(TIMESTAMP - TIMESTAMP) HOUR",
       [] {
         return Op(opIntervalDifference, dtDayTimeInterval, Stamp("2020-01-02 06:00:00"),
                   Stamp("2020-01-01 00:00:00"), ifHour);
       },
       "30"},
      {"(TIMESTAMP - DATE) YEAR : date parts",
       [] {
         return Op(opIntervalDifference, dtYearMonthInterval, Stamp("2022-06-01 06:00:00"),
                   Date("2020-01-31"), ifYear);
       },
       "2"},
      {"(TIME - TIME) MINUTE",
       [] {
         return Op(opIntervalDifference, dtDayTimeInterval, Time("10:30:00"), Time("08:00:00"),
                   ifMinute);
       },
       "150"},
  });
}

// Every operand pair validation accepts has a rule: the integer, interval
// and date/time pairs in both orders, and TIMESTAMP minus DATE.
TEST(OperatorEvaluationTest, EveryAcceptedOperandPairHasARule) {
  constexpr TBRNIntervalFields dayToMSecond = ifDay | ifHour | ifMinute | ifSecond | ifMSecond;
  ExpectBothBehaviours({
      // An integer counts in the interval's own unit under +, - and MOD.
      {"INTERVAL '2' HOUR + 1",
       [] { return Op(opAdd, dtDayTimeInterval, DT("2", ifHour), Int(1), ifHour); }, "3"},
      {"INTERVAL '2' HOUR - 1",
       [] { return Op(opSubtract, dtDayTimeInterval, DT("2", ifHour), Int(1), ifHour); }, "1"},
      {"1 + INTERVAL '2' HOUR",
       [] { return Op(opAdd, dtDayTimeInterval, Int(1), DT("2", ifHour), ifHour); }, "3"},
      {"INTERVAL '2' YEAR + 1",
       [] { return Op(opAdd, dtYearMonthInterval, YM("2", ifYear), Int(1), ifYear); }, "3"},
      {"BigInt 1 + INTERVAL '2' MONTH",
       [] { return Op(opAdd, dtYearMonthInterval, Big(1), YM("2", ifMonth), ifMonth); }, "3"},
      {"INTERVAL '7' HOUR MOD 2",
       [] { return Op(opMod, dtDayTimeInterval, DT("7", ifHour), Int(2), ifHour); }, "1"},
      {"INTERVAL '7' YEAR MOD 4",
       [] { return Op(opMod, dtYearMonthInterval, YM("7", ifYear), Int(4), ifYear); }, "3"},
      {"3 * INTERVAL '2' DAY",
       [] { return Op(opMultiply, dtDayTimeInterval, Int(3), DT("2", ifDay), ifDay); }, "6"},
      {"SmallInt 3 * INTERVAL '2' YEAR",
       [] { return Op(opMultiply, dtYearMonthInterval, Small(3), YM("2", ifYear), ifYear); }, "6"},
      // Interval first, date/time second.
      {"INTERVAL '1' MONTH + DATE '2020-01-31' : Date",
       [] { return Op(opAdd, dtDate, YM("1", ifMonth), Date("2020-01-31")); }, "2020-02-29"},
      {"INTERVAL '2' DAY + DATE '2020-01-01' : Date",
       [] { return Op(opAdd, dtDate, DT("2", ifDay), Date("2020-01-01")); }, "2020-01-03"},
      {"INTERVAL '2' HOUR + DATE '2020-01-01' : Timestamp",
       [] { return Op(opAdd, dtTimestamp, DT("2", ifHour), Date("2020-01-01")); },
       "2020-01-01 02:00"},
      {"INTERVAL '2' HOUR + TIME '23:00:00' : Time",
       [] { return Op(opAdd, dtTime, DT("2", ifHour), Time("23:00:00")); }, "01:00"},
      {"INTERVAL '1' YEAR + TIMESTAMP : Timestamp",
       [] { return Op(opAdd, dtTimestamp, YM("1", ifYear), Stamp("2020-02-29 08:00:00")); },
       "2021-02-28 08:00"},
      {"TIMESTAMP '2020-01-02 12:00:00' - DATE '2020-01-01' : Interval Day To MSecond",
       [=] {
         return Op(opSubtract, dtDayTimeInterval, Stamp("2020-01-02 12:00:00"), Date("2020-01-01"),
                   dayToMSecond);
       },
       "1 12:00:00.000"},
  });
}

TEST(OperatorEvaluationTest, NullOperands) {
  struct NullCase {
    std::string Expression;
    std::function<TBRNExprToken*()> Build;
    std::string Standard;
    std::string Engine;
  };
  const std::vector<NullCase> cases = {
      // Without standard NULLs a NULL column reads as zero.
      {"Integer NULL + 1", [] { return Op(opAdd, dtInteger, NullOf(dtInteger), Int(1)); }, "NULL",
       "1"},
      {"1 - Integer NULL", [] { return Op(opSubtract, dtInteger, Int(1), NullOf(dtInteger)); },
       "NULL", "1"},
      {"Char NULL + 'a'", [] { return Op(opAdd, dtChar, NullOf(dtChar), Str("a")); }, "NULL", "a"},
      // The validator types NULL + 1 as the NULL type: nothing but NULL.
      {"NULL + 1 : NULL type", [] { return Op(opAdd, dtNull, Null(), Int(1)); }, "NULL", "NULL"},
      {"- Integer NULL", [] { return Unary(opNegate, dtInteger, NullOf(dtInteger)); }, "NULL", "0"},
      {"1 = Integer NULL", [] { return Cond(opEqual, Int(1), NullOf(dtInteger)); }, "NULL",
       "FALSE"},
      {"NULL = NULL", [] { return Cond(opEqual, Null(), Null()); }, "NULL", "TRUE"},
      {"NULL < 1", [] { return Cond(opLess, Null(), Int(1)); }, "NULL", "TRUE"},
      {"1 < NULL", [] { return Cond(opLess, Int(1), Null()); }, "NULL", "FALSE"},
      {"Integer NULL / 0", [] { return Op(opDivide, dtFloat, NullOf(dtInteger), Int(0)); }, "NULL",
       "NULL"},
  };
  for (const NullCase& c : cases) {
    EXPECT_EQ(EvaluateTree(c.Build(), true), c.Standard) << c.Expression << " (standard)";
    EXPECT_EQ(EvaluateTree(c.Build(), false), c.Engine) << c.Expression << " (engine)";
  }
}

TEST(OperatorEvaluationTest, ComparisonsUnderCollations) {
  const int32_t ci = 1 << CaseInsensitiveBit;
  ExpectBothBehaviours({
      {"'abc' = 'ABC' binary", [] { return Cond(opEqual, Str("abc"), Str("ABC")); }, "FALSE"},
      {"'abc' = 'ABC' left case-insensitive",
       [=] { return Cond(opEqual, Str("abc", ci), Str("ABC")); }, "TRUE"},
      // The left operand's collation decides, whatever the right one's.
      {"'abc' = 'ABC' right case-insensitive",
       [=] { return Cond(opEqual, Str("abc"), Str("ABC", ci)); }, "FALSE"},
      {"'abc' <> 'ABC' left case-insensitive",
       [=] { return Cond(opNotEqual, Str("abc", ci), Str("ABC")); }, "FALSE"},
      {"'a' < 'b'", [] { return Cond(opLess, Str("a"), Str("b")); }, "TRUE"},
      {"'b' <= 'a'", [] { return Cond(opLessOrEqual, Str("b"), Str("a")); }, "FALSE"},
      {"'B' > 'a' case-insensitive", [=] { return Cond(opGreater, Str("B", ci), Str("a")); },
       "TRUE"},
      {"'abc  ' = 'abc' (trailing blanks)", [] { return Cond(opEqual, Str("abc  "), Str("abc")); },
       "TRUE"},
      {"'b' >= 'b'", [] { return Cond(opGreaterOrEqual, Str("b"), Str("b")); }, "TRUE"},
      // A language collation orders letters, not codes: a-umlaut before z.
      {"'\xE4' < 'z' German", [] { return Cond(opLess, Str("\xE4", 0x0407), Str("z")); }, "TRUE"},
      {"'\xE4' < 'z' binary", [] { return Cond(opLess, Str("\xE4"), Str("z")); }, "FALSE"},
      {"1 < 2", [] { return Cond(opLess, Int(1), Int(2)); }, "TRUE"},
      {"BigInt 3 = Decimal 3", [] { return Cond(opEqual, Big(3), Dec("3")); }, "TRUE"},
      {"Float 0.5 = Decimal 0.5", [] { return Cond(opEqual, Flt("0.5"), Dec("0.5")); }, "TRUE"},
      {"DATE < DATE", [] { return Cond(opLess, Date("2020-01-01"), Date("2020-01-02")); }, "TRUE"},
      {"INTERVAL '1' DAY > INTERVAL '23' HOUR",
       [] { return Cond(opGreater, DT("1", ifDay), DT("23", ifHour)); }, "TRUE"},
      {"(1, 2) = (1, 2)",
       [] {
         return Cond(opEqual, Row({Int(1), Int(2)}), Row({Int(1), Int(2)}));
       },
       "TRUE"},
      {"(1, 2) < (1, 3)",
       [] {
         return Cond(opLess, Row({Int(1), Int(2)}), Row({Int(1), Int(3)}));
       },
       "TRUE"},
      {"(1, 2) = (1, 3)",
       [] {
         return Cond(opEqual, Row({Int(1), Int(2)}), Row({Int(1), Int(3)}));
       },
       "FALSE"},
  });
}

// Where a number meets a text, a Boolean or an interval, or a Date meets a
// Timestamp, both orders agree and nothing is equal merely by default.
TEST(OperatorEvaluationTest, MixedTypeComparisonsAgreeInBothOrders) {
  struct Pair {
    std::string Name;
    std::function<TBRNExprToken*()> A;
    std::function<TBRNExprToken*()> B;
    int32_t Expected;  // the order of A against B
  };
  const std::vector<Pair> pairs = {
      {"5 : 'abc'", [] { return Int(5); }, [] { return Str("abc"); }, -1},
      {"5 : '5'", [] { return Int(5); }, [] { return Str("5"); }, 0},
      {"5 : ' 5 ' (blank padded)", [] { return Int(5); }, [] { return Str(" 5 "); }, 0},
      {"5 : '10' (numeric, not textual)", [] { return Int(5); }, [] { return Str("10"); }, -1},
      {"Float 2.5 : '2.5'", [] { return Flt("2.5"); }, [] { return Str("2.5"); }, 0},
      {"Decimal 2.5 : '3'", [] { return Dec("2.5"); }, [] { return Str("3"); }, -1},
      {"0 : ''", [] { return Int(0); }, [] { return Str(""); }, -1},
      {"1 : TRUE", [] { return Int(1); }, [] { return Bool(true); }, 0},
      {"0 : TRUE", [] { return Int(0); }, [] { return Bool(true); }, -1},
      {"Float 2 : TRUE", [] { return Flt("2"); }, [] { return Bool(true); }, 0},
      {"TRUE : 'abc'", [] { return Bool(true); }, [] { return Str("abc"); }, -1},
      {"TRUE : 'true'", [] { return Bool(true); }, [] { return Str("true"); }, 0},
      {"2 : INTERVAL '2' HOUR", [] { return Int(2); }, [] { return DT("2", ifHour); }, 0},
      {"3 : INTERVAL '2' HOUR", [] { return Int(3); }, [] { return DT("2", ifHour); }, 1},
      {"1 : INTERVAL '1' YEAR", [] { return Int(1); }, [] { return YM("1", ifYear); }, 0},
      {"DATE : TIMESTAMP same day", [] { return Date("2020-01-01"); },
       [] { return Stamp("2020-01-01 10:00:00"); }, -1},
      {"DATE : TIMESTAMP midnight", [] { return Date("2020-01-01"); },
       [] { return Stamp("2020-01-01 00:00:00"); }, 0},
  };
  const std::vector<std::pair<TBRNExprOperation, std::function<bool(int32_t)>>> operators = {
      {opEqual, [](int32_t c) { return c == 0; }},
      {opNotEqual, [](int32_t c) { return c != 0; }},
      {opLess, [](int32_t c) { return c < 0; }},
      {opLessOrEqual, [](int32_t c) { return c <= 0; }},
      {opGreater, [](int32_t c) { return c > 0; }},
      {opGreaterOrEqual, [](int32_t c) { return c >= 0; }},
  };
  for (const Pair& p : pairs) {
    for (const auto& [op, holds] : operators) {
      std::string forward = holds(p.Expected) ? "TRUE" : "FALSE";
      std::string backward = holds(-p.Expected) ? "TRUE" : "FALSE";
      EXPECT_EQ(EvaluateTree(Cond(op, p.A(), p.B()), true), forward) << p.Name << " op " << int(op);
      EXPECT_EQ(EvaluateTree(Cond(op, p.B(), p.A()), true), backward)
          << p.Name << " reversed, op " << int(op);
    }
  }
}

TEST(OperatorEvaluationTest, TruthTablesOfAndOrNot) {
  // Rows: left TRUE, FALSE, NULL; columns: right TRUE, FALSE, NULL.
  auto operand = [](int32_t i) -> TBRNExprToken* {
    return i == 0 ? Bool(true) : i == 1 ? Bool(false) : NullOf(dtBoolean);
  };
  auto table = [&](TBRNExprOperation op, bool standard) {
    std::string text;
    for (int32_t l = 0; l < 3; ++l) {
      for (int32_t r = 0; r < 3; ++r) {
        std::string result = EvaluateTree(Cond(op, operand(l), operand(r)), standard);
        text += result == "TRUE" ? "T" : result == "FALSE" ? "F" : result == "NULL" ? "N" : "?";
      }
      if (l < 2) text += " ";
    }
    return text;
  };
  EXPECT_EQ(table(opAnd, true), "TFN FFF NFN");
  EXPECT_EQ(table(opOr, true), "TTT TFN TNN");
  // The engine's own rules: a NULL left operand takes no part, a NULL right
  // operand reads FALSE.
  EXPECT_EQ(table(opAnd, false), "TFF FFF TFF");
  EXPECT_EQ(table(opOr, false), "TTT TFF TFF");

  auto notRow = [&](bool standard) {
    std::string text;
    for (int32_t i = 0; i < 3; ++i) {
      std::string result = EvaluateTree(Not(operand(i)), standard);
      text += result == "TRUE" ? "T" : result == "FALSE" ? "F" : "N";
    }
    return text;
  };
  EXPECT_EQ(notRow(true), "FTN");
  EXPECT_EQ(notRow(false), "FTT");
}

TEST(OperatorEvaluationTest, AndAndOrShortCircuit) {
  // The right operand would fail to convert if it were evaluated.
  auto failing = [] { return Cond(opEqual, Constant(dtInteger, "x"), Int(1)); };
  EXPECT_EQ(EvaluateTree(Cond(opAnd, Bool(false), failing()), true), "FALSE");
  EXPECT_EQ(EvaluateTree(Cond(opOr, Bool(true), failing()), true), "TRUE");
  EXPECT_EQ(EvaluateTree(Cond(opAnd, Bool(true), failing()), true), "error 1011");
}

}  // namespace
}  // namespace brn::testing
