#include "foundation/types/data_types.h"

#include <gtest/gtest.h>

namespace brn {
namespace {

struct Descriptor {
  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType SubType = 0;
  int32_t Length = 0;
  int32_t DataSize = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;

  bool operator==(const Descriptor&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Descriptor& d) {
  return os << "{type " << d.DataType << " sub " << d.SubType << " len " << d.Length << " size "
            << d.DataSize << " scale " << d.Scale << " coll " << d.Collation << "}";
}

Descriptor ChangeType(Descriptor d, TBRNDataTypeCode newType) {
  NormalizeDataType(newType, d.DataType, d.SubType, d.Length, d.DataSize, d.Scale, d.Collation);
  return d;
}

Descriptor ChangeSubType(Descriptor d, TBRNDataSubType newSubType) {
  NormalizeDataSubType(d.DataType, newSubType, d.SubType, d.Length, d.DataSize, d.Scale,
                       d.Collation);
  return d;
}

constexpr int32_t someCollation = 0x00100409;

TEST(DataTypes, ChangingTheCodeMakesTheOtherFieldsValid) {
  // A full descriptor that every field of which some code keeps.
  Descriptor full{dtChar, stFixed, 40, 40, 3, someCollation};
  struct Case {
    Descriptor from;
    TBRNDataTypeCode to;
    Descriptor expected;
  };
  const Case cases[] = {
      {full, dtChar, {dtChar, stFixed, 40, 40, 0, someCollation}},
      {{dtChar, 7, 10, 14, 0, 0}, dtChar, {dtChar, 0, 10, 14, 0, 0}},
      {full, dtBytes, {dtBytes, stFixed, 40, 40, 0, 0}},
      {{dtChar, stGuid, 38, 38, 0, 5}, dtBytes, {dtBytes, stGuid, 38, 38, 0, 0}},
      {full, dtLob, {dtLob, 0, 0, 0, 0, 0}},
      {{dtLob, stClob, 9, 9, 2, someCollation}, dtLob, {dtLob, stClob, 0, 0, 0, someCollation}},
      {full, dtBoolean, {dtBoolean, 0, 0, 1, 0, 0}},
      {full, dtSmallInt, {dtSmallInt, 0, 0, 2, 0, 0}},
      {full, dtInteger, {dtInteger, 0, 0, 4, 0, 0}},
      {full, dtBigInt, {dtBigInt, 0, 0, 8, 0, 0}},
      {full, dtFloat, {dtFloat, 0, 0, 8, 0, 0}},
      {full, dtDecimal, {dtDecimal, 0, 0, 8, 0, 0}},
      {full, dtDate, {dtDate, 0, 0, 4, 0, 0}},
      {full, dtTime, {dtTime, 0, 0, 4, 0, 0}},
      {full, dtTimestamp, {dtTimestamp, 0, 0, 8, 0, 0}},
      {{dtYearMonthInterval, 6, 0, 4, 0, 0},
       dtYearMonthInterval,
       {dtYearMonthInterval, 6, 0, 4, 0, 0}},
      {full, dtYearMonthInterval, {dtYearMonthInterval, 0, 0, 4, 0, 0}},
      {{dtDayTimeInterval, 240, 0, 8, 0, 0},
       dtDayTimeInterval,
       {dtDayTimeInterval, 240, 0, 8, 0, 0}},
      {{dtYearMonthInterval, 4, 0, 4, 0, 0}, dtDayTimeInterval, {dtDayTimeInterval, 0, 0, 8, 0, 0}},
      {{dtDayTimeInterval, 40, 0, 8, 0, 0}, dtDayTimeInterval, {dtDayTimeInterval, 0, 0, 8, 0, 0}},
      // The NULL code and unknown codes change only the code.
      {full, dtNull, {dtNull, stFixed, 40, 40, 3, someCollation}},
      {full, TBRNDataTypeCode(15), {TBRNDataTypeCode(15), stFixed, 40, 40, 3, someCollation}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChangeType(c.from, c.to), c.expected) << c.from;
}

TEST(DataTypes, SubTypesAreStoredOnlyWhereTheCodeAllowsThem) {
  struct Case {
    Descriptor from;
    TBRNDataSubType newSubType;
    Descriptor expected;
  };
  const Case cases[] = {
      {{dtChar, 0, 10, 14, 0, 1}, stFixed, {dtChar, stFixed, 10, 14, 0, 1}},
      {{dtChar, 0, 10, 14, 0, 1}, stGuid, {dtChar, stGuid, 38, 38, 0, 1}},
      {{dtBytes, 0, 10, 14, 0, 0}, stGuid, {dtBytes, stGuid, 16, 16, 0, 0}},
      {{dtChar, stFixed, 10, 10, 0, 1}, 7, {dtChar, stFixed, 10, 10, 0, 1}},
      {{dtBytes, stFixed, 10, 10, 0, 0}, stDefault, {dtBytes, stDefault, 10, 10, 0, 0}},
      {{dtLob, 0, 0, 0, 0, 0}, stClob, {dtLob, stClob, 0, 0, 0, 0}},
      {{dtLob, stClob, 0, 0, 0, someCollation}, stDefault, {dtLob, 0, 0, 0, 0, 0}},
      {{dtLob, stClob, 0, 0, 0, someCollation}, stFixed, {dtLob, stClob, 0, 0, 0, someCollation}},
      {{dtYearMonthInterval, 2, 0, 4, 0, 0}, 6, {dtYearMonthInterval, 6, 0, 4, 0, 0}},
      {{dtYearMonthInterval, 2, 0, 4, 0, 0}, 8, {dtYearMonthInterval, 2, 0, 4, 0, 0}},
      {{dtDayTimeInterval, 128, 0, 8, 0, 0}, 248, {dtDayTimeInterval, 248, 0, 8, 0, 0}},
      {{dtDayTimeInterval, 128, 0, 8, 0, 0}, 40, {dtDayTimeInterval, 128, 0, 8, 0, 0}},
      {{dtDayTimeInterval, 128, 0, 8, 0, 0}, 6, {dtDayTimeInterval, 128, 0, 8, 0, 0}},
      {{dtInteger, 0, 0, 4, 0, 0}, 7, {dtInteger, 0, 0, 4, 0, 0}},
      {{dtDecimal, 5, 0, 8, 2, 0}, stFixed, {dtDecimal, 0, 0, 8, 2, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChangeSubType(c.from, c.newSubType), c.expected) << c.from;
}

TEST(DataTypes, LengthSetsTheStorageSizeWithTheLengthPrefix) {
  struct Case {
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    int32_t newLength;
    bool shortPrefix;
    int32_t length;
    int32_t dataSize;
  };
  const Case cases[] = {
      {dtChar, stDefault, 40, true, 40, 42},
      {dtChar, stDefault, 40, false, 40, 44},
      {dtChar, stFixed, 40, true, 40, 40},
      {dtChar, stFixed, 40, false, 40, 40},
      {dtBytes, stDefault, 8, true, 8, 10},
      {dtBytes, stFixed, 8, false, 8, 8},
      {dtLob, stClob, 100, false, 100, 100},
      {dtInteger, 0, 40, true, 0, 99},
      {dtChar, stDefault, INT32_MAX, false, INT32_MAX, INT32_MAX},
  };
  for (const Case& c : cases) {
    int32_t length = -1;
    int32_t dataSize = 99;
    NormalizeDataLength(c.type, c.subType, c.newLength, c.shortPrefix, dataSize, length);
    EXPECT_EQ(length, c.length) << c.type << "/" << c.subType;
    EXPECT_EQ(dataSize, c.dataSize) << c.type << "/" << c.subType;
  }
}

TEST(DataTypes, CollationAndScaleApplyOnlyToTheirTypes) {
  struct Case {
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    int32_t collation;
  };
  const Case collations[] = {{dtChar, stDefault, someCollation},
                             {dtChar, stGuid, someCollation},
                             {dtLob, stClob, someCollation},
                             {dtLob, stDefault, 0},
                             {dtBytes, stDefault, 0},
                             {dtInteger, 0, 0}};
  for (const Case& c : collations) {
    int32_t collation = 77;
    NormalizeCollation(c.type, c.subType, someCollation, collation);
    EXPECT_EQ(collation, c.collation) << c.type << "/" << c.subType;
  }

  // A scale outside 0..4 leaves the old one; other types have none.
  const std::tuple<TBRNDataTypeCode, int32_t, int32_t> scales[] = {
      {dtDecimal, 2, 2},  {dtDecimal, 4, 4}, {dtDecimal, 0, 0}, {dtDecimal, 5, 3},
      {dtDecimal, -1, 3}, {dtInteger, 2, 0}, {dtFloat, 0, 0}};
  for (const auto& [type, newScale, expected] : scales) {
    int32_t scale = 3;
    NormalizeScale(type, 0, newScale, scale);
    EXPECT_EQ(scale, expected) << type << " scale " << newScale;
  }
}

TEST(DataTypes, NamesDefinitionsAndStorageSizesOfEveryType) {
  struct Case {
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    int32_t length;
    int32_t scale;
    const char* name;
    const char* definition;
    int32_t storageSize;  // of DataTypeStorageSize(type, 77)
  };
  const Case cases[] = {
      {dtNull, 0, 0, 0, "Unknown", "", 0},
      {dtChar, stDefault, 40, 0, "VarChar", "VARCHAR(40)", 77},
      {dtChar, stDefault, 0, 0, "VarChar", "VARCHAR", 77},
      {dtChar, stFixed, 10, 0, "Char", "CHAR(10)", 77},
      {dtChar, stFixed, 0, 0, "Char", "CHAR", 77},
      {dtChar, stGuid, 38, 0, "GUID", "GUID", 77},
      {dtChar, 7, 5, 0, "Unknown", "VARCHAR(5)", 77},
      {dtBytes, stDefault, 8, 0, "VarByte", "VARBYTE(8)", 77},
      {dtBytes, stFixed, 4, 0, "Byte", "BYTE(4)", 77},
      {dtBytes, stFixed, 0, 0, "Byte", "BYTE", 77},
      {dtBytes, stGuid, 16, 0, "GUID", "GUID", 77},
      {dtLob, stDefault, 0, 0, "BLOB", "BLOB", 77},
      {dtLob, stClob, 0, 0, "CLOB", "CLOB", 77},
      {dtLob, 3, 0, 0, "Unknown", "BLOB", 77},
      {dtBoolean, 0, 0, 0, "Boolean", "BOOLEAN", 1},
      {dtSmallInt, 0, 0, 0, "SmallInt", "SMALLINT", 2},
      {dtInteger, 0, 0, 0, "Integer", "INTEGER", 4},
      {dtBigInt, 0, 0, 0, "BigInt", "BIGINT", 8},
      {dtFloat, 0, 0, 0, "Float", "FLOAT", 8},
      {dtDecimal, 0, 0, 0, "Decimal", "DECIMAL", 8},
      {dtDecimal, 0, 0, 2, "Decimal", "DECIMAL(19,2)", 8},
      {dtDate, 0, 0, 0, "Date", "DATE", 4},
      {dtTime, 0, 0, 0, "Time", "TIME", 4},
      {dtTimestamp, 0, 0, 0, "Timestamp", "TIMESTAMP", 8},
      {dtYearMonthInterval, 2, 0, 0, "Interval Month", "INTERVAL MONTH", 4},
      {dtYearMonthInterval, 4, 0, 0, "Interval Year", "INTERVAL YEAR", 4},
      {dtYearMonthInterval, 6, 0, 0, "Interval Year To Month", "INTERVAL YEAR TO MONTH", 4},
      {dtYearMonthInterval, 8, 0, 0, "Unknown", "", 4},
      {dtDayTimeInterval, 8, 0, 0, "Interval MSecond", "INTERVAL MSECOND", 8},
      {dtDayTimeInterval, 16, 0, 0, "Interval Second", "INTERVAL SECOND", 8},
      {dtDayTimeInterval, 24, 0, 0, "Interval Second To MSecond", "INTERVAL SECOND TO MSECOND", 8},
      {dtDayTimeInterval, 32, 0, 0, "Interval Minute", "INTERVAL MINUTE", 8},
      {dtDayTimeInterval, 48, 0, 0, "Interval Minute To Second", "INTERVAL MINUTE TO SECOND", 8},
      {dtDayTimeInterval, 56, 0, 0, "Interval Minute To MSecond", "INTERVAL MINUTE TO MSECOND", 8},
      {dtDayTimeInterval, 64, 0, 0, "Interval Hour", "INTERVAL HOUR", 8},
      {dtDayTimeInterval, 96, 0, 0, "Interval Hour To Minute", "INTERVAL HOUR TO MINUTE", 8},
      {dtDayTimeInterval, 112, 0, 0, "Interval Hour To Second", "INTERVAL HOUR TO SECOND", 8},
      {dtDayTimeInterval, 120, 0, 0, "Interval Hour To MSecond", "INTERVAL HOUR TO MSECOND", 8},
      {dtDayTimeInterval, 128, 0, 0, "Interval Day", "INTERVAL DAY", 8},
      {dtDayTimeInterval, 192, 0, 0, "Interval Day To Hour", "INTERVAL DAY TO HOUR", 8},
      {dtDayTimeInterval, 224, 0, 0, "Interval Day To Minute", "INTERVAL DAY TO MINUTE", 8},
      {dtDayTimeInterval, 240, 0, 0, "Interval Day To Second", "INTERVAL DAY TO SECOND", 8},
      {dtDayTimeInterval, 248, 0, 0, "Interval Day To MSecond", "INTERVAL DAY TO MSECOND", 8},
      {dtDayTimeInterval, 40, 0, 0, "Unknown", "", 8},
      {dtDayTimeInterval, 2, 0, 0, "Unknown", "", 8},
      {TBRNDataTypeCode(15), 0, 0, 0, "Unknown", "", 0},
      {TBRNDataTypeCode(-1), 0, 0, 0, "Unknown", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " subtype " << c.subType);
    EXPECT_EQ(DataTypeName(c.type, c.subType), c.name);
    EXPECT_EQ(DataTypeDefinition(c.type, c.subType, c.length, c.scale), c.definition);
    EXPECT_EQ(DataTypeStorageSize(c.type, 77), c.storageSize);
    // The qualifier text is the interval's definition without its keyword.
    std::string definition = c.definition;
    bool interval = definition.rfind("INTERVAL ", 0) == 0;
    EXPECT_EQ(IntervalQualifierText(c.type, c.subType), interval ? definition.substr(9) : "");
  }
}

TEST(DataTypes, QualifierValidityAcrossTheWholeByteRange) {
  // Valid day-time qualifiers are exactly the contiguous runs of the five
  // day-time fields (bits 3..7).
  int valid = 0;
  for (int32_t q = 0; q < 256; ++q) {
    bool contiguousRun = false;
    for (int high = 3; high <= 7; ++high)
      for (int low = 3; low <= high; ++low)
        if (q == ((1 << (high + 1)) - (1 << low))) contiguousRun = true;
    EXPECT_EQ(IsValidDayTimeQualifier(q), contiguousRun) << q;
    valid += contiguousRun;
    EXPECT_EQ(IsValidYearMonthQualifier(q), q == 2 || q == 4 || q == 6) << q;
  }
  EXPECT_EQ(valid, 15);
  EXPECT_FALSE(IsValidDayTimeQualifier(256 + 128));
}

}  // namespace
}  // namespace brn
