#include <gtest/gtest.h>

#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/value_test_support.h"

namespace brn {
namespace {

using testing::MakeValue;
using testing::Outcome;

struct Operand {
  TBRNDataTypeCode Type;
  TBRNDataSubType SubType;
  const char* Text;  // nullptr: NULL
};

std::unique_ptr<TBRNContainedValue> Make(const Operand& operand) {
  auto value = MakeValue(operand.Type, operand.SubType, 0, 2);
  if (operand.Text != nullptr) value->SetAsString(operand.Text);
  return value;
}

int32_t CompareOperands(const Operand& a, const Operand& b, int32_t partialLength = 0,
                        bool ignoreCase = false, int32_t collation = BinaryCollation) {
  auto left = Make(a);
  auto right = Make(b);
  return left->Compare(*right, partialLength, ignoreCase, collation);
}

// The comparison itself knows no NULL behaviour setting: with SQL NULL
// propagation the evaluator answers NULL before it compares, so this order is
// the one of sorts and keys in both settings and of the comparison operators
// without propagation.
TEST(ValueCompare, NullSortsFirstAndEqualsNull) {
  const Operand nullChar{dtChar, 0, nullptr};
  const Operand nullInteger{dtInteger, 0, nullptr};
  struct Case {
    Operand A, B;
    int32_t Expected;
  };
  const Case cases[] = {
      {nullChar, nullInteger, 0},
      {nullChar, {dtChar, 0, ""}, -1},
      {nullInteger, {dtBoolean, 0, "FALSE"}, -1},
      {nullInteger, {dtInteger, 0, "-2147483648"}, -1},
      {{dtBoolean, 0, "FALSE"}, nullInteger, 1},
      {{dtNull, 0, nullptr}, nullChar, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareOperands(c.A, c.B), c.Expected)
        << (c.A.Text ? c.A.Text : "NULL") << " vs " << (c.B.Text ? c.B.Text : "NULL");
}

TEST(ValueCompare, TextUnderCollationPartialLengthAndCase) {
  const int32_t englishUS = 0x0409;
  struct Case {
    const char* A;
    const char* B;
    int32_t PartialLength;
    bool IgnoreCase;
    int32_t Collation;
    int32_t Expected;
  };
  const Case cases[] = {
      {"abc", "abc  ", 0, false, BinaryCollation, 0},
      {"abx", "aby", 2, false, BinaryCollation, 0},
      {"abx", "aby", 3, false, BinaryCollation, -1},
      {"ABC", "abc", 0, false, BinaryCollation, -1},
      {"ABC", "abc", 0, true, BinaryCollation, 0},
      {"a", "B", 0, false, BinaryCollation, 1},
      {"a", "B", 0, false, englishUS, -1},
      {"Abc", "abd", 0, false, englishUS | (1 << CaseInsensitiveBit), -1},
      {"", "a", 0, false, BinaryCollation, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareOperands({dtChar, 0, c.A}, {dtChar, 0, c.B}, c.PartialLength, c.IgnoreCase,
                              c.Collation),
              c.Expected)
        << "'" << c.A << "' vs '" << c.B << "'";
    // A CLOB compares as text.
    EXPECT_EQ(CompareOperands({dtLob, stClob, c.A}, {dtLob, stClob, c.B}, c.PartialLength,
                              c.IgnoreCase, c.Collation),
              c.Expected)
        << "CLOB '" << c.A << "' vs '" << c.B << "'";
  }
}

TEST(ValueCompare, BytesCompareUnsignedWithTheShorterFirst) {
  struct Case {
    Operand A, B;
    int32_t Expected;
  };
  const Case cases[] = {
      {{dtBytes, 0, "01FF"}, {dtBytes, 0, "02"}, -1},
      {{dtBytes, 0, "FF"}, {dtBytes, 0, "01"}, 1},
      {{dtBytes, 0, "0102"}, {dtBytes, 0, "010200"}, -1},
      {{dtLob, 0, "0102"}, {dtLob, 0, "0102"}, 0},
      // Against another type, the other side's bytes.
      {{dtBytes, 0, "01000000"}, {dtInteger, 0, "1"}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareOperands(c.A, c.B), c.Expected) << c.A.Text << " vs " << c.B.Text;
}

TEST(ValueCompare, AcrossTypes) {
  struct Case {
    Operand A, B;
    int32_t Expected;
  };
  const Case cases[] = {
      // Text against anything compares texts; an integer compares only with
      // numbers and Booleans.
      {{dtChar, 0, "10"}, {dtInteger, 0, "9"}, -1},
      {{dtInteger, 0, "9"}, {dtChar, 0, "10"}, 0},
      {{dtInteger, 0, "5"}, {dtDecimal, 0, "5.0000"}, 0},
      {{dtInteger, 0, "5"}, {dtFloat, 0, "4.9"}, 1},
      {{dtSmallInt, 0, "-3"}, {dtBigInt, 0, "-4"}, 1},
      {{dtBigInt, 0, "9223372036854775807"}, {dtDecimal, 0, "922337203685477.58"}, 1},
      {{dtDecimal, 0, "922337203685477.58"}, {dtBigInt, 0, "9223372036854775807"}, -1},
      {{dtFloat, 0, "1E300"}, {dtDecimal, 0, "1"}, 1},
      {{dtDecimal, 0, "1"}, {dtFloat, 0, "1E300"}, -1},
      {{dtDate, 0, "2024-02-29"}, {dtTimestamp, 0, "2024-02-29 06:00"}, 0},
      {{dtTimestamp, 0, "2024-02-29 06:00"}, {dtDate, 0, "2024-02-29"}, 1},
      {{dtDate, 0, "2024-02-29"}, {dtChar, 0, "2024-03-01"}, -1},
      {{dtTime, 0, "06:00"}, {dtChar, 0, "6:00"}, 0},
      // Intervals of one type compare their stored amounts; against text the
      // text is read under this value's qualifier.
      {{dtDayTimeInterval, ifDay | ifHour, "1 12"}, {dtDayTimeInterval, ifHour, "36"}, 0},
      {{dtDayTimeInterval, ifDay | ifHour, "1 12"}, {dtChar, 0, "1 11"}, 1},
      {{dtYearMonthInterval, ifYear, "2"}, {dtYearMonthInterval, ifMonth, "24"}, 0},
      {{dtYearMonthInterval, ifMonth, "24"}, {dtInteger, 0, "25"}, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareOperands(c.A, c.B), c.Expected)
        << DataTypeName(c.A.Type, c.A.SubType) << " " << c.A.Text << " vs "
        << DataTypeName(c.B.Type, c.B.SubType) << " " << c.B.Text;
}

TEST(ValueCompare, ConversionErrorsPropagate) {
  EXPECT_EQ(
      Outcome([] {
        return IntegerToString(CompareOperands({dtDate, 0, "2024-02-29"}, {dtChar, 0, "tomorrow"}));
      }),
      "E!");
}

// A number compared with a Boolean compares its truth value, from either
// side: 2 is as TRUE as TRUE is, and FALSE is below it.
TEST(ValueCompare, NumbersAgainstBooleansCompareTruthValues) {
  struct Case {
    Operand Number;
    const char* Boolean;
    int32_t Expected;
  };
  const Case cases[] = {
      {{dtInteger, 0, "2"}, "TRUE", 0},   {{dtInteger, 0, "0"}, "TRUE", -1},
      {{dtInteger, 0, "0"}, "FALSE", 0},  {{dtBigInt, 0, "-1"}, "FALSE", 1},
      {{dtSmallInt, 0, "7"}, "FALSE", 1}, {{dtFloat, 0, "0.5"}, "TRUE", 0},
      {{dtDecimal, 0, "0"}, "TRUE", -1},
  };
  for (const Case& c : cases) {
    Operand boolean{dtBoolean, 0, c.Boolean};
    EXPECT_EQ(CompareOperands(c.Number, boolean), c.Expected)
        << c.Number.Text << " vs " << c.Boolean;
    EXPECT_EQ(CompareOperands(boolean, c.Number), -c.Expected)
        << c.Boolean << " vs " << c.Number.Text;
  }
}

// Sorting needs a consistent order: for every pair of numeric and Boolean
// values, comparing in one order gives the opposite of the other order.
TEST(ValueCompare, NumericComparisonIsAntisymmetric) {
  const std::vector<Operand> operands = {
      {dtSmallInt, 0, "1"},    {dtInteger, 0, "0"},
      {dtInteger, 0, "-6"},    {dtBigInt, 0, "9223372036854775807"},
      {dtFloat, 0, "1.00004"}, {dtFloat, 0, "1E300"},
      {dtFloat, 0, "-5.5"},    {dtDecimal, 0, "1"},
      {dtDecimal, 0, "-5.5"},  {dtBoolean, 0, "TRUE"},
      {dtBoolean, 0, "FALSE"},
  };
  for (const Operand& a : operands)
    for (const Operand& b : operands)
      EXPECT_EQ(CompareOperands(a, b), -CompareOperands(b, a))
          << DataTypeName(a.Type, 0) << " " << a.Text << " vs " << DataTypeName(b.Type, 0) << " "
          << b.Text;
}

}  // namespace
}  // namespace brn
