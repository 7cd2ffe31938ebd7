#include "foundation/values/odbc_type_info.h"

#include <gtest/gtest.h>

namespace brn {
namespace {

struct TypeCase {
  TBRNDataTypeCode type;
  TBRNDataSubType subType;
  int16_t concise;        // ODBC 3 client
  int16_t conciseOld;     // ODBC 2 client
  int16_t verbose;        // SQL_DATA_TYPE
  int16_t subCode;        // SQL_DATETIME_SUB
  int32_t decimalDigits;  // with scale 2
};

// The expected codes are the numbers the ODBC standard publishes, written out
// rather than taken from the named constants.
const TypeCase kTypeCases[] = {
    {dtChar, stFixed, 1, 1, 1, 0, 0},
    {dtChar, stDefault, 12, 12, 12, 0, 0},
    {dtChar, stGuid, 12, 12, 12, 0, 0},
    {dtBytes, stFixed, -2, -2, -2, 0, 0},
    {dtBytes, stDefault, -3, -3, -3, 0, 0},
    {dtBytes, stGuid, -3, -3, -3, 0, 0},
    {dtLob, stDefault, -4, -4, -4, 0, 0},
    {dtLob, stClob, -1, -1, -1, 0, 0},
    {dtBoolean, 0, -7, -7, -7, 0, 0},
    {dtSmallInt, 0, 5, 5, 5, 0, 0},
    {dtInteger, 0, 4, 4, 4, 0, 0},
    {dtBigInt, 0, -5, -5, -5, 0, 0},
    {dtFloat, 0, 8, 8, 8, 0, 0},
    {dtDecimal, 0, 3, 3, 3, 0, 2},
    {dtDate, 0, 91, 9, 9, 1, 0},
    {dtTime, 0, 92, 10, 9, 2, 3},
    {dtTimestamp, 0, 93, 11, 9, 3, 3},
    {dtYearMonthInterval, ifYear, 101, 101, 10, 1, 0},
    {dtYearMonthInterval, ifMonth, 102, 102, 10, 2, 0},
    {dtYearMonthInterval, ifYear | ifMonth, 107, 107, 10, 7, 0},
    {dtDayTimeInterval, ifDay, 103, 103, 10, 3, 0},
    {dtDayTimeInterval, ifHour, 104, 104, 10, 4, 0},
    {dtDayTimeInterval, ifMinute, 105, 105, 10, 5, 0},
    {dtDayTimeInterval, ifSecond, 106, 106, 10, 6, 0},
    {dtDayTimeInterval, ifMSecond, 106, 106, 10, 6, 0},
    {dtDayTimeInterval, ifSecond | ifMSecond, 106, 106, 10, 6, 0},
    {dtDayTimeInterval, ifDay | ifHour, 108, 108, 10, 8, 0},
    {dtDayTimeInterval, ifDay | ifHour | ifMinute, 109, 109, 10, 9, 0},
    {dtDayTimeInterval, 240, 110, 110, 10, 10, 3},
    {dtDayTimeInterval, 248, 110, 110, 10, 10, 3},
    {dtDayTimeInterval, ifHour | ifMinute, 111, 111, 10, 11, 0},
    {dtDayTimeInterval, 112, 112, 112, 10, 12, 3},
    {dtDayTimeInterval, 120, 112, 112, 10, 12, 3},
    {dtDayTimeInterval, ifMinute | ifSecond, 113, 113, 10, 13, 3},
    {dtDayTimeInterval, 56, 113, 113, 10, 13, 3},
    // Unknown codes, subtypes and qualifiers.
    {dtNull, 0, 0, 0, 0, 0, 0},
    {TBRNDataTypeCode(15), 0, 0, 0, 0, 0, 0},
    {dtChar, 7, 0, 0, 0, 0, 0},
    {dtLob, stFixed, 0, 0, 0, 0, 0},
    {dtYearMonthInterval, ifDay, 0, 0, 10, 0, 0},
    {dtDayTimeInterval, ifDay | ifMinute, 0, 0, 10, 0, 0},
};

TEST(ODBCTypeInfo, CodesOfEveryEngineType) {
  for (const TypeCase& c : kTypeCases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " subtype " << c.subType);
    EXPECT_EQ(ODBCDataType(c.type, c.subType, 3), c.concise);
    EXPECT_EQ(ODBCDataType(c.type, c.subType, 2), c.conciseOld);
    EXPECT_EQ(ODBCVerboseDataType(c.type, c.subType), c.verbose);
    EXPECT_EQ(ODBCDateTimeSubCode(c.type, c.subType), c.subCode);
    EXPECT_EQ(ODBCDecimalDigits(c.concise, 2), c.decimalDigits);
  }
}

struct SizeCase {
  int16_t odbcType;
  int32_t length;
  int32_t columnSize;
  int32_t bufferLength;
};

TEST(ODBCTypeInfo, ColumnSizeAndBufferLength) {
  const SizeCase cases[] = {
      {12, 0, 1024, 1024},
      {12, 40, 40, 40},
      {1, 0, 1024, 1024},
      {-3, 16, 16, 16},
      {-8, 0, 1024, 512},
      {-9, 30, 30, 60},
      {-9, 2000000000, 2000000000, 2147483647},  // octets clamp, never wrap
      {-1, 0, 2147483647, 2147483647},
      {-4, 0, 2147483647, 2147483647},
      {-10, 0, 2147483647, 1073741823},
      {-7, 0, 1, 1},
      {-6, 0, 3, 1},
      {-26, 0, 3, 1},
      {-28, 0, 3, 1},
      {5, 0, 5, 2},
      {-15, 0, 5, 2},
      {-17, 0, 5, 2},
      {4, 0, 10, 4},
      {-16, 0, 10, 4},
      {-18, 0, 10, 4},
      {-5, 0, 20, 20},
      {-25, 0, 20, 20},
      {-27, 0, 20, 20},
      {2, 0, 20, 21},
      {3, 0, 20, 21},
      {6, 0, 16, 8},
      {8, 0, 16, 8},
      {7, 0, 8, 4},
      {9, 0, 10, 6},
      {91, 0, 10, 6},
      {10, 0, 12, 6},
      {92, 0, 12, 6},
      {11, 0, 23, 16},
      {93, 0, 23, 16},
      {101, 0, 10, 34},
      {102, 0, 10, 34},
      {103, 0, 20, 34},
      {104, 0, 20, 34},
      {105, 0, 20, 34},
      {106, 0, 20, 34},
      {107, 0, 14, 34},
      {108, 0, 22, 34},
      {109, 0, 24, 34},
      {110, 0, 26, 34},
      {111, 0, 22, 34},
      {112, 0, 24, 34},
      {113, 0, 22, 34},
      {0, 0, 0, 0},
      {100, 0, 0, 0},
      {114, 0, 0, 0},
      {-11, 0, 0, 0},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ODBC type " << c.odbcType << " length " << c.length);
    EXPECT_EQ(ODBCColumnSize(c.odbcType, c.length), c.columnSize);
    EXPECT_EQ(ODBCBufferLength(c.odbcType, c.length), c.bufferLength);
  }
}

struct TextCase {
  TBRNDataTypeCode type;
  TBRNDataSubType subType;
  const char* prefix;
  const char* suffix;
  const char* createParams;
  int32_t radix;
  int32_t intervalPrecision;
};

TEST(ODBCTypeInfo, LiteralsCreateParamsRadixAndIntervalPrecision) {
  const TextCase cases[] = {
      {dtChar, stDefault, "'", "'", "length", 0, 0},
      {dtChar, stFixed, "'", "'", "length", 0, 0},
      {dtChar, stGuid, "'", "'", "", 0, 0},
      {dtBytes, stDefault, "X'", "'", "length", 0, 0},
      {dtBytes, stGuid, "X'", "'", "", 0, 0},
      {dtLob, stDefault, "X'", "'", "", 0, 0},
      {dtLob, stClob, "'", "'", "", 0, 0},
      {dtBoolean, 0, "", "", "", 0, 0},
      {dtSmallInt, 0, "", "", "", 10, 0},
      {dtInteger, 0, "", "", "", 10, 0},
      {dtBigInt, 0, "", "", "", 10, 0},
      {dtFloat, 0, "", "", "precision", 2, 0},
      {dtDecimal, 0, "", "", "precision;scale", 10, 0},
      {dtDate, 0, "DATE '", "'", "", 0, 0},
      {dtTime, 0, "TIME '", "'", "", 0, 0},
      {dtTimestamp, 0, "TIMESTAMP '", "'", "", 0, 0},
      {dtYearMonthInterval, ifYear | ifMonth, "INTERVAL '", "' YEAR TO MONTH", "", 0, 10},
      {dtDayTimeInterval, ifMinute, "INTERVAL '", "' MINUTE", "", 0, 20},
      {dtDayTimeInterval, 240, "INTERVAL '", "' DAY TO SECOND", "", 0, 20},
      {dtNull, 0, "", "", "", 0, 0},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " subtype " << c.subType);
    EXPECT_EQ(ODBCLiteralPrefix(c.type, c.subType), c.prefix);
    EXPECT_EQ(ODBCLiteralSuffix(c.type, c.subType), c.suffix);
    EXPECT_EQ(ODBCCreateParams(c.type, c.subType), c.createParams);
    EXPECT_EQ(ODBCNumPrecRadix(c.type), c.radix);
    EXPECT_EQ(ODBCIntervalPrecision(c.type), c.intervalPrecision);
  }
}

}  // namespace
}  // namespace brn
