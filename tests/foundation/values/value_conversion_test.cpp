#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "foundation/text/number_text.h"
#include "foundation/test_support.h"
#include "foundation/value_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::MakeValue;
using testing::Outcome;

std::string Hex(const TBRNBytes& bytes) {
  return FormatBytesLiteral(bytes);
}

// Every converting getter as text of its result.
struct Getter {
  const char* Name;
  std::function<std::string(const TBRNValue&)> Read;
};

const std::vector<Getter>& Getters() {
  static const std::vector<Getter> getters = {
      {"String", [](const TBRNValue& v) { return v.GetAsString(); }},
      {"Bytes", [](const TBRNValue& v) { return Hex(v.GetAsBytes()); }},
      {"Stream",
       [](const TBRNValue& v) { return IntegerToString(int32_t(v.GetAsStream() != nullptr)); }},
      {"Boolean", [](const TBRNValue& v) { return FormatBooleanLiteral(v.GetAsBoolean()); }},
      {"SmallInt", [](const TBRNValue& v) { return IntegerToString(v.GetAsSmallInt()); }},
      {"Integer", [](const TBRNValue& v) { return IntegerToString(v.GetAsInteger()); }},
      {"BigInt", [](const TBRNValue& v) { return BigIntToString(v.GetAsBigInt()); }},
      {"Decimal", [](const TBRNValue& v) { return BigIntToString(v.GetAsDecimal()); }},
      {"Float", [](const TBRNValue& v) { return FormatFloatLiteral(v.GetAsFloat()); }},
      {"Date", [](const TBRNValue& v) { return FormatDateLiteral(v.GetAsDate()); }},
      {"Time", [](const TBRNValue& v) { return FormatTimeLiteral(v.GetAsTime(), true); }},
      {"Timestamp",
       [](const TBRNValue& v) { return FormatTimestampLiteral(true, v.GetAsTimestamp()); }},
      {"DateTime", [](const TBRNValue& v) { return FormatFloatLiteral(v.GetAsDateTime()); }},
      {"YearMonth", [](const TBRNValue& v) { return IntegerToString(v.GetAsYearMonthInterval()); }},
      {"DayTime", [](const TBRNValue& v) { return BigIntToString(v.GetAsDayTimeInterval()); }},
  };
  return getters;
}

struct Source {
  const char* Name;
  TBRNDataTypeCode Type;
  TBRNDataSubType SubType;
  int32_t Length;
  int32_t Scale;
  const char* Text;
};

// One held value of each type; a getter's outcome per column below.
const Source kSources[] = {
    {"VarBytes", dtBytes, stDefault, 10, 0, "0102"},
    {"Boolean", dtBoolean, 0, 0, 0, "TRUE"},
    {"SmallInt", dtSmallInt, 0, 0, 0, "-7"},
    {"Integer", dtInteger, 0, 0, 0, "70000"},
    {"BigInt", dtBigInt, 0, 0, 0, "5000000000"},
    {"Float", dtFloat, 0, 0, 0, "7.75"},
    {"Decimal", dtDecimal, 0, 0, 2, "-7.5"},
    {"Date", dtDate, 0, 0, 0, "2024-02-29"},
    {"Time", dtTime, 0, 0, 0, "06:00"},
    {"Timestamp", dtTimestamp, 0, 0, 0, "2024-02-29 06:00"},
    {"MonthInterval", dtYearMonthInterval, ifMonth, 0, 0, "14"},
    {"DayInterval", dtDayTimeInterval, ifDay, 0, 0, "2"},
    {"NullType", dtNull, 0, 0, 0, nullptr},
};

TEST(ValueConversion, EveryGetterAgainstEveryType) {
  // Rows follow Getters(), columns kSources.
  const std::vector<std::vector<std::string>> expected = {
      {"0102", "TRUE", "-7", "70000", "5000000000", "7.75", "-7.50", "2024-02-29", "06:00",
       "2024-02-29 06:00", "14", "2", "E!"},
      {"0102", "01", "F9FF", "70110100", "00F2052A01000000", "0000000000001F40", "08DBFEFFFFFFFFFF",
       "81460B00", "00974901", "00F3C50A113A0000", "0E000000", "00B84C0A00000000", "E!"},
      {"E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!"},
      {"E!", "TRUE", "TRUE", "TRUE", "TRUE", "TRUE", "TRUE", "E!", "E!", "E!", "E!", "E!", "E!"},
      {"E!", "1", "-7", "R!", "R!", "7", "-7", "E!", "E!", "E!", "14", "2", "E!"},
      {"E!", "1", "-7", "70000", "R!", "7", "-7", "738945", "21600000", "E!", "14", "2", "E!"},
      {"E!", "1", "-7", "70000", "5000000000", "7", "-7", "E!", "E!", "63844869600000", "14", "2",
       "E!"},
      {"E!", "10000", "-70000", "700000000", "50000000000000", "77500", "-75000", "E!", "E!", "E!",
       "E!", "E!", "E!"},
      {"E!", "1", "-7", "70000", "5000000000", "7.75", "-7.5", "E!", "E!", "E!", "E!", "E!", "E!"},
      {"E!", "E!", "E!", "E!", "E!", "E!", "E!", "2024-02-29", "E!", "2024-02-29", "E!", "E!",
       "E!"},
      {"E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "06:00", "06:00", "E!", "E!", "E!"},
      {"E!", "E!", "E!", "E!", "E!", "E!", "E!", "2024-02-29 00:00", "0000-00-00 06:00",
       "2024-02-29 06:00", "E!", "E!", "E!"},
      {"E!", "E!", "E!", "E!", "E!", "E!", "E!", "45351", "0.25", "45351.25", "E!", "E!", "E!"},
      {"E!", "E!", "-7", "70000", "R!", "7", "-7", "E!", "E!", "E!", "14", "E!", "E!"},
      {"E!", "E!", "-604800000", "6048000000000", "R!", "604800000", "-604800000", "E!", "E!", "E!",
       "E!", "172800000", "E!"},
  };
  ASSERT_EQ(expected.size(), Getters().size());
  for (size_t g = 0; g < Getters().size(); ++g) {
    ASSERT_EQ(expected[g].size(), std::size(kSources));
    for (size_t s = 0; s < std::size(kSources); ++s) {
      const Source& src = kSources[s];
      auto value = MakeValue(src.Type, src.SubType, src.Length, src.Scale);
      if (src.Text != nullptr) value->SetAsString(src.Text);
      EXPECT_EQ(Outcome([&] { return Getters()[g].Read(*value); }), expected[g][s])
          << "GetAs" << Getters()[g].Name << " of " << src.Name;
    }
  }
}

// Text, fixed-length bytes read raw and LOBs, which the matrix leaves out.
TEST(ValueConversion, GettersOfTextBytesAndLobs) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Length;
    const char* Text;
    const char* Getter;
    const char* Expected;
  };
  const Case cases[] = {
      {dtChar, 0, 0, "true", "Boolean", "TRUE"},
      {dtChar, 0, 0, "yes", "Boolean", "E!"},
      {dtChar, 0, 0, " 12", "Integer", "E!"},
      {dtChar, 0, 0, "-2147483648", "Integer", "-2147483648"},
      {dtChar, 0, 0, "2147483648", "Integer", "R!"},
      {dtChar, 0, 0, "32768", "SmallInt", "R!"},
      // Beyond the int64 range the text is no integer literal at all.
      {dtChar, 0, 0, "99999999999999999999", "BigInt", "E!"},
      {dtChar, 0, 0, "-99999999999999999999", "Integer", "E!"},
      {dtChar, 0, 0, "1.5", "BigInt", "E!"},
      {dtChar, 0, 0, "1.2345", "Decimal", "12345"},
      {dtChar, 0, 0, "1E3", "Float", "1000"},
      {dtChar, 0, 0, "2024-02-29", "Date", "2024-02-29"},
      {dtChar, 0, 0, "2024-02-30", "Date", "E!"},
      {dtChar, 0, 0, "23:59:59.999", "Time", "23:59:59.999"},
      {dtChar, 0, 0, "1899-12-29 06:00", "DateTime", "-1.25"},
      {dtChar, 0, 0, "1-02", "YearMonth", "14"},
      {dtChar, 0, 0, "1 02:00:00.000", "DayTime", "93600000"},
      {dtChar, 0, 0, "abc", "Bytes", "616263"},
      {dtLob, stClob, 0, "42", "Integer", "42"},
      {dtLob, stClob, 0, "42", "Stream", "1"},
      {dtLob, 0, 0, "0A0B", "String", "0A0B"},
      {dtLob, 0, 0, "0A0B", "Stream", "1"},
      {dtLob, 0, 0, "0A0B", "Integer", "E!"},
      {dtBytes, stFixed, 1, "01", "Boolean", "TRUE"},
      {dtBytes, stFixed, 2, "0201", "SmallInt", "258"},
      {dtBytes, stFixed, 4, "02010000", "Integer", "258"},
      {dtBytes, stFixed, 4, "81460B00", "Date", "2024-02-29"},
      {dtBytes, stFixed, 8, "0000000000001E40", "Float", "7.5"},
      {dtBytes, stFixed, 8, "00F3C50A113A0000", "Timestamp", "2024-02-29 06:00"},
      {dtBytes, stFixed, 4, "02010000", "BigInt", "E!"},  // width 8 wanted
      {dtBytes, stDefault, 4, "02010000", "Integer", "E!"},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, c.Length, 0, c.Text);
    const Getter* getter = nullptr;
    for (const Getter& g : Getters())
      if (std::string(g.Name) == c.Getter) getter = &g;
    ASSERT_NE(getter, nullptr) << c.Getter;
    EXPECT_EQ(Outcome([&] { return getter->Read(*value); }), c.Expected)
        << "GetAs" << c.Getter << " of '" << c.Text << "'";
  }
}

// Every converting setter into every type, read back as text.
struct Setter {
  const char* Name;
  int32_t RawWidth;  // the Byte(n) column takes this many bytes
  std::function<void(TBRNValue&)> Write;
};

const int32_t kDay = 738945;     // 2024-02-29
const int32_t kTime = 21600000;  // 06:00
const int64_t kTimestamp = int64_t(kDay) * MSecsPerDay + kTime;

TEST(ValueConversion, EverySetterAgainstEveryType) {
  const Setter setters[] = {
      {"Boolean", 1, [](TBRNValue& v) { v.SetAsBoolean(true); }},
      {"SmallInt", 2, [](TBRNValue& v) { v.SetAsSmallInt(7); }},
      {"Integer", 4, [](TBRNValue& v) { v.SetAsInteger(7); }},
      {"BigInt", 8, [](TBRNValue& v) { v.SetAsBigInt(7); }},
      {"Decimal", 8, [](TBRNValue& v) { v.SetAsDecimal(75000); }},
      {"Float", 8, [](TBRNValue& v) { v.SetAsFloat(7.5); }},
      {"Date", 4, [](TBRNValue& v) { v.SetAsDate(kDay); }},
      {"Time", 4, [](TBRNValue& v) { v.SetAsTime(kTime); }},
      {"Timestamp", 8, [](TBRNValue& v) { v.SetAsTimestamp(kTimestamp); }},
      {"DateTime", 8, [](TBRNValue& v) { v.SetAsDateTime(45351.25); }},
      {"YearMonth", 4, [](TBRNValue& v) { v.SetAsYearMonthInterval(14); }},
      {"DayTime", 8, [](TBRNValue& v) { v.SetAsDayTimeInterval(172800000); }},
  };
  struct Target {
    const char* Name;
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Length;
    int32_t Scale;
  };
  // Length -1: a Byte(n) value as wide as the setter's datum.
  const Target targets[] = {
      {"Char", dtChar, 0, 40, 0},
      {"VarBytes", dtBytes, 0, 8, 0},
      {"Byte(n)", dtBytes, stFixed, -1, 0},
      {"Boolean", dtBoolean, 0, 0, 0},
      {"SmallInt", dtSmallInt, 0, 0, 0},
      {"Integer", dtInteger, 0, 0, 0},
      {"BigInt", dtBigInt, 0, 0, 0},
      {"Float", dtFloat, 0, 0, 0},
      {"Decimal", dtDecimal, 0, 0, 2},
      {"Date", dtDate, 0, 0, 0},
      {"Time", dtTime, 0, 0, 0},
      {"Timestamp", dtTimestamp, 0, 0, 0},
      {"MonthInterval", dtYearMonthInterval, ifMonth, 0, 0},
      {"DayInterval", dtDayTimeInterval, ifDay, 0, 0},
      {"CLOB", dtLob, stClob, 0, 0},
      {"BLOB", dtLob, 0, 0, 0},
  };
  // "*": checked on its own (the time setter stores today's date).
  const std::vector<std::vector<std::string>> expected = {
      {"TRUE", "E!", "01", "TRUE", "1", "1", "1", "1", "1.00", "E!", "E!", "E!", "E!", "E!", "TRUE",
       "E!"},
      {"7", "E!", "0700", "TRUE", "7", "7", "7", "7", "7.00", "E!", "E!", "E!", "7", "7", "7",
       "E!"},
      {"7", "E!", "07000000", "TRUE", "7", "7", "7", "7", "7.00", "0001-01-07", "00:00:00.007",
       "E!", "7", "7", "7", "E!"},
      {"7", "E!", "0700000000000000", "TRUE", "7", "7", "7", "7", "7.00", "E!", "E!",
       "0000-00-00 00:00:00.007", "7", "7", "7", "E!"},
      {"7.5", "E!", "F824010000000000", "TRUE", "7", "7", "7", "7.5", "7.50", "E!", "E!", "E!",
       "E!", "E!", "7.5", "E!"},
      {"7.5", "E!", "0000000000001E40", "TRUE", "7", "7", "7", "7.5", "7.50", "E!", "E!", "E!",
       "E!", "E!", "7.5", "E!"},
      {"2024-02-29", "E!", "81460B00", "E!", "E!", "E!", "E!", "E!", "E!", "2024-02-29", "E!",
       "2024-02-29 00:00", "E!", "E!", "2024-02-29", "E!"},
      {"06:00", "E!", "00974901", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "06:00", "*", "E!",
       "E!", "06:00", "E!"},
      {"2024-02-29 06:00", "E!", "00F3C50A113A0000", "E!", "E!", "E!", "E!", "E!", "E!",
       "2024-02-29", "06:00", "2024-02-29 06:00", "E!", "E!", "2024-02-29 06:00", "E!"},
      {"2024-02-29 06:00", "E!", "00F3C50A113A0000", "E!", "E!", "E!", "E!", "E!", "E!",
       "2024-02-29", "06:00", "2024-02-29 06:00", "E!", "E!", "2024-02-29 06:00", "E!"},
      {"1-02", "E!", "0E000000", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "14", "E!",
       "1-02", "E!"},
      {"2 0:00:00.000", "E!", "00B84C0A00000000", "E!", "E!", "E!", "E!", "E!", "E!", "E!", "E!",
       "E!", "E!", "2", "2 0:00:00.000", "E!"},
  };
  ASSERT_EQ(expected.size(), std::size(setters));
  for (size_t s = 0; s < std::size(setters); ++s) {
    ASSERT_EQ(expected[s].size(), std::size(targets));
    for (size_t t = 0; t < std::size(targets); ++t) {
      if (expected[s][t] == "*") continue;
      const Target& target = targets[t];
      int32_t length = target.Length < 0 ? setters[s].RawWidth : target.Length;
      auto value = MakeValue(target.Type, target.SubType, length, target.Scale);
      std::string outcome = Outcome([&] {
        setters[s].Write(*value);
        return value->GetAsString();
      });
      EXPECT_EQ(outcome, expected[s][t]) << "SetAs" << setters[s].Name << " into " << target.Name;
      // Every setter makes the value non-NULL, also when it fails.
      EXPECT_FALSE(value->GetNull()) << "SetAs" << setters[s].Name << " into " << target.Name;
    }
  }
}

TEST(ValueConversion, SetAsStringIntoEachType) {
  struct Case {
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
    int32_t Length;
    int32_t Scale;
    const char* Text;
    const char* Expected;
  };
  const Case cases[] = {
      {dtBytes, 0, 0, 0, "0a0B", "0A0B"},
      {dtBytes, 0, 0, 0, "0G", "E!"},
      {dtBytes, stFixed, 3, 0, "01", "010000"},
      {dtLob, 0, 0, 0, "FF00", "FF00"},
      {dtBoolean, 0, 0, 0, "false", "FALSE"},
      {dtBoolean, 0, 0, 0, "1", "E!"},
      {dtSmallInt, 0, 0, 0, "-32768", "-32768"},
      {dtSmallInt, 0, 0, 0, "32768", "R!"},
      {dtInteger, 0, 0, 0, "2147483648", "R!"},
      {dtInteger, 0, 0, 0, "+1", "E!"},
      {dtBigInt, 0, 0, 0, "-9223372036854775808", "-9223372036854775808"},
      {dtFloat, 0, 0, 0, "-2.5E-3", "-0.0025"},
      {dtDecimal, 0, 0, 2, "1.005", "1.01"},
      {dtDecimal, 0, 0, 2, "-1.005", "-1.01"},
      {dtDecimal, 0, 0, 0, "2.5", "3"},
      {dtDecimal, 0, 0, 4, "x", "E!"},
      {dtDate, 0, 0, 0, "2023-02-29", "E!"},
      {dtTime, 0, 0, 0, "18:30:15", "18:30:15"},
      {dtTimestamp, 0, 0, 0, "2024-02-29 6:00 PM", "2024-02-29 18:00"},
      {dtYearMonthInterval, ifYear | ifMonth, 0, 0, "-1-06", "-1-06"},
      {dtDayTimeInterval, ifHour | ifMinute, 0, 0, "36:30", "36:30"},
      {dtDayTimeInterval, ifHour | ifMinute, 0, 0, "36", "E!"},
      {dtNull, 0, 0, 0, "1", "E!"},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(c.Type, c.SubType, c.Length, c.Scale);
    EXPECT_EQ(Outcome([&] {
                value->SetAsString(c.Text);
                return value->GetAsString();
              }),
              c.Expected)
        << "'" << c.Text << "' into " << DataTypeName(c.Type, c.SubType);
  }
}

TEST(ValueConversion, DecimalsRoundHalfAwayFromZeroToTheScale) {
  struct Case {
    int32_t Scale;
    std::function<void(TBRNValue&)> Write;
    int64_t Stored;
  };
  const Case cases[] = {
      {2, [](TBRNValue& v) { v.SetAsFloat(1.23456); }, 12300},
      {2, [](TBRNValue& v) { v.SetAsFloat(-1.235); }, -12400},
      {0, [](TBRNValue& v) { v.SetAsFloat(0.5); }, 10000},
      {0, [](TBRNValue& v) { v.SetAsFloat(-0.5); }, -10000},
      {1, [](TBRNValue& v) { v.SetAsDecimal(12345); }, 12000},
      {1, [](TBRNValue& v) { v.SetAsDecimal(-12500); }, -13000},
      {3, [](TBRNValue& v) { v.SetAsDecimal(12345); }, 12350},
      {4, [](TBRNValue& v) { v.SetAsDecimal(12345); }, 12345},
      {2, [](TBRNValue& v) { v.SetAsString("1.005"); }, 10100},
      {2,
       [](TBRNValue& v) {
         v.SetAsBytes(TBRNBytes{0x39, 0x30, 0, 0, 0, 0, 0, 0});
       },
       12300},
  };
  for (const Case& c : cases) {
    auto value = MakeValue(dtDecimal, 0, 0, c.Scale);
    c.Write(*value);
    EXPECT_EQ(value->GetDecimalData(), c.Stored) << "scale " << c.Scale;
  }
}

// Floats are range-checked before they are converted: no conversion of a
// value that does not fit (which would be undefined), but error 1011.
TEST(ValueConversion, FloatsOutOfRangeRaiseTheRangeError) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    TBRNDataTypeCode Type;
    double X;
    const char* Expected;
  };
  const Case cases[] = {
      {dtSmallInt, 32767.9, "32767"},
      {dtSmallInt, -32768.9, "-32768"},
      {dtSmallInt, 32768.0, "R!"},
      {dtInteger, 2147483647.5, "2147483647"},
      {dtInteger, -2147483649.0, "R!"},
      {dtBigInt, 9223372036854775808.0, "R!"},
      {dtBigInt, -9223372036854775808.0, "-9223372036854775808"},
      {dtBigInt, 1e300, "R!"},
      {dtBigInt, inf, "R!"},
      {dtInteger, nan, "R!"},
      {dtDecimal, 1e14, "100000000000000"},
      {dtDecimal, 1e15, "R!"},
      {dtDecimal, -inf, "R!"},
      {dtDecimal, nan, "R!"},
  };
  for (const Case& c : cases) {
    auto setter = MakeValue(c.Type);
    EXPECT_EQ(Outcome([&] {
                setter->SetAsFloat(c.X);
                return setter->GetAsString();
              }),
              c.Expected)
        << "SetAsFloat(" << c.X << ") into " << DataTypeName(c.Type, 0);
    // The getters of a Float value check the same ranges.
    auto source = MakeValue(dtFloat);
    source->SetFloatData(c.X);
    std::string got = Outcome([&] {
      switch (c.Type) {
        case dtSmallInt:
          return IntegerToString(source->GetAsSmallInt());
        case dtInteger:
          return IntegerToString(source->GetAsInteger());
        case dtBigInt:
          return BigIntToString(source->GetAsBigInt());
        default:
          return FormatDecimalLiteral(0, source->GetAsDecimal());
      }
    });
    EXPECT_EQ(got, c.Expected) << "Float " << c.X << " read as " << DataTypeName(c.Type, 0);
  }
}

TEST(ValueConversion, ErrorMessagesNameTheValueAndTheType) {
  // A getter names the text and the type of the value it reads.
  auto text = MakeValue(dtChar, 0, 0, 0, "2147483648");
  EBRNException e = CaughtError([&] { text->GetAsInteger(); });
  EXPECT_EQ(e.ErrorCode, 1011);
  EXPECT_EQ(e.ErrorMessage,
            "An error occurred with the value 2147483648 (The value is out of the range of "
            "permissible values for the VarChar type)");
  auto small = MakeValue(dtSmallInt, 0, 0, 0, "12");
  EXPECT_EQ(CaughtError([&] { small->SetAsInteger(40000); }).ErrorMessage,
            "An error occurred with the value 12 (The value 40000 is out of the range of "
            "permissible values for the SmallInt type)");
  EXPECT_FALSE(small->GetNull());
  EXPECT_EQ(small->GetAsString(), "12");  // the data it had before
  auto date = MakeValue(dtDate, 0, 0, 0, "2024-02-29");
  EXPECT_EQ(CaughtError([&] { date->SetAsBoolean(true); }).ErrorMessage,
            "An error occurred with the value 2024-02-29 (A conversion error occurred with the "
            "value TRUE)");
  auto word = MakeValue(dtChar, 0, 0, 0, "abc");
  EXPECT_EQ(CaughtError([&] { word->GetAsDate(); }).ErrorMessage,
            "An error occurred with the value abc (A conversion error occurred with the value)");
}

TEST(ValueConversion, BooleansFromNumbersTakeThePositiveOnes) {
  auto value = MakeValue(dtBoolean);
  value->SetAsInteger(-5);
  EXPECT_FALSE(value->GetAsBoolean());
  value->SetAsFloat(0.5);
  EXPECT_TRUE(value->GetAsBoolean());
  value->SetAsDecimal(-1);
  EXPECT_FALSE(value->GetAsBoolean());
}

TEST(ValueConversion, SetAsTimeOnATimestampTakesTodaysDate) {
  auto value = MakeValue(dtTimestamp);
  int32_t before = CurrentDate(false);
  value->SetAsTime(kTime);
  int32_t after = CurrentDate(false);
  int32_t day = value->GetAsDate();
  EXPECT_TRUE(day == before || day == after);
  EXPECT_EQ(value->GetAsTime(), kTime);
}

TEST(ValueConversion, SingleFieldIntervalsAsNumbers) {
  auto months = MakeValue(dtYearMonthInterval, ifMonth, 0, 0, "14");
  EXPECT_EQ(months->GetAsInteger(), 14);
  auto years = MakeValue(dtYearMonthInterval, ifYear);
  years->SetInt32Data(24);
  EXPECT_EQ(years->GetAsInteger(), 2);
  years->SetAsInteger(3);
  EXPECT_EQ(years->GetInt32Data(), 36);
  auto yearToMonth = MakeValue(dtYearMonthInterval, ifYear | ifMonth, 0, 0, "1-02");
  EXPECT_EQ(Outcome([&] { return IntegerToString(yearToMonth->GetAsInteger()); }), "E!");
  EXPECT_EQ(Outcome([&] {
              yearToMonth->SetAsInteger(1);
              return std::string();
            }),
            "E!");
  auto hours = MakeValue(dtDayTimeInterval, ifHour);
  hours->SetAsBigInt(36);
  EXPECT_EQ(hours->GetInt64Data(), 36 * 3600000LL);
  EXPECT_EQ(hours->GetAsSmallInt(), 36);
  auto seconds = MakeValue(dtDayTimeInterval, ifSecond);
  EXPECT_EQ(Outcome([&] {
              seconds->SetAsBigInt(std::numeric_limits<int64_t>::max() / 10);
              return std::string();
            }),
            "R!");
  auto days = MakeValue(dtDayTimeInterval, ifDay);
  EXPECT_EQ(Outcome([&] {
              days->SetAsBigInt(int64_t(1) << 40);
              return std::string();
            }),
            "R!");
}

TEST(ValueConversion, QualifiedIntervals) {
  // A number read and written as an amount under a qualifier.
  auto number = MakeValue(dtInteger, 0, 0, 0, "3");
  EXPECT_EQ(number->GetAsQualifiedYearMonthInterval(ifYear), 36);
  EXPECT_EQ(number->GetAsQualifiedYearMonthInterval(ifMonth), 3);
  EXPECT_EQ(Outcome([&] { return IntegerToString(number->GetAsQualifiedYearMonthInterval(6)); }),
            "E!");
  EXPECT_EQ(number->GetAsQualifiedDayTimeInterval(ifMinute), 180000);
  EXPECT_EQ(number->GetAsQualifiedDayTimeInterval(ifDay), 3 * MSecsPerDay);
  number->SetAsQualifiedDayTimeInterval(ifHour, 36 * 3600000LL);
  EXPECT_EQ(number->GetAsInteger(), 36);
  number->SetAsQualifiedYearMonthInterval(30, ifYear);
  EXPECT_EQ(number->GetAsInteger(), 2);
  // A text under the qualifier's literal form.
  auto text = MakeValue(dtChar, 0, 0, 0, "1:30");
  EXPECT_EQ(text->GetAsQualifiedDayTimeInterval(ifHour | ifMinute), 5400000);
  text->SetAsQualifiedYearMonthInterval(14, ifYear | ifMonth);
  EXPECT_EQ(text->GetAsString(), "1-02");
  // Another interval is re-qualified: the part below the last field goes.
  auto dayToHour = MakeValue(dtDayTimeInterval, ifDay | ifHour);
  dayToHour->SetInt64Data(MSecsPerDay + 3600000 + 59000);
  EXPECT_EQ(dayToHour->GetAsQualifiedDayTimeInterval(ifDay), MSecsPerDay);
  auto date = MakeValue(dtDate, 0, 0, 0, "2024-02-29");
  EXPECT_EQ(Outcome([&] { return BigIntToString(date->GetAsQualifiedDayTimeInterval(ifDay)); }),
            "E!");
}

TEST(ValueConversion, SetAsBytesTakesRawNumbers) {
  auto integer = MakeValue(dtInteger);
  integer->SetAsBytes(TBRNBytes{0x02, 0x01, 0x00, 0x00, 0xFF});
  EXPECT_EQ(integer->GetAsInteger(), 258);
  EXPECT_EQ(Outcome([&] {
              integer->SetAsBytes(TBRNBytes{0x02, 0x01});
              return std::string();
            }),
            "E!");
  auto byte4 = MakeValue(dtBytes, stFixed, 4);
  byte4->SetAsInteger(258);
  EXPECT_EQ(Hex(byte4->GetAsBytes()), "02010000");
  auto varBytes = MakeValue(dtBytes, stDefault, 4);
  EXPECT_EQ(Outcome([&] {
              varBytes->SetAsInteger(258);
              return std::string();
            }),
            "E!");
  auto text = MakeValue(dtChar);
  text->SetAsBytes(TBRNBytes{'h', 'i'});
  EXPECT_EQ(text->GetAsString(), "hi");
  auto nullType = MakeValue(dtNull);
  EXPECT_EQ(Outcome([&] {
              nullType->SetAsBytes(TBRNBytes{1});
              return std::string();
            }),
            "E!");
}

TEST(ValueConversion, AssignCopiesOrConverts) {
  // Same type: a Decimal is rounded to the target's scale, intervals keep
  // their amount whatever the qualifiers.
  auto precise = MakeValue(dtDecimal, 0, 0, 4, "1.2345");
  auto coarse = MakeValue(dtDecimal, 0, 0, 1);
  coarse->Assign(*precise);
  EXPECT_EQ(coarse->GetDecimalData(), 12000);
  auto day = MakeValue(dtDayTimeInterval, ifDay);
  day->SetAsDayTimeInterval(36 * 3600000LL);
  auto dayToHour = MakeValue(dtDayTimeInterval, ifDay | ifHour);
  dayToHour->Assign(*day);
  EXPECT_EQ(dayToHour->GetAsString(), "1 12");
  // Different types convert through the setters.
  auto text = MakeValue(dtChar, 0, 0, 0, "42");
  auto integer = MakeValue(dtInteger);
  integer->Assign(*text);
  EXPECT_EQ(integer->GetAsInteger(), 42);
  auto hours = MakeValue(dtDayTimeInterval, ifHour);
  hours->SetAsDayTimeInterval(5 * 3600000LL);
  integer->Assign(*hours);
  EXPECT_EQ(integer->GetAsInteger(), 5);
  auto blob = MakeValue(dtLob, 0, 0, 0, "414243");
  auto clob = MakeValue(dtLob, stClob);
  clob->Assign(*blob);
  EXPECT_EQ(clob->GetAsString(), "ABC");
  auto chars = MakeValue(dtChar);
  chars->Assign(*blob);
  EXPECT_EQ(chars->GetAsString(), "ABC");
  EXPECT_EQ(Outcome([&] {
              integer->Assign(*blob);
              return std::string();
            }),
            "E!");
  // NULL travels with its type.
  auto null = MakeValue(dtInteger);
  text->Assign(*null);
  EXPECT_TRUE(text->GetNull());
  EXPECT_EQ(text->GetAsString(), "");
}

}  // namespace
}  // namespace brn
