#pragma once

#include <cstdint>
#include <string>

namespace brn {

// The data-type code every typed object carries. The underlying type is a
// fixed int32, so codes read from streams outside 0..14 stay representable
// (the rules below treat them as unknown).
enum TBRNDataTypeCode : int32_t {
  dtNull = 0,
  dtChar = 1,
  dtBytes = 2,
  dtLob = 3,
  dtBoolean = 4,
  dtSmallInt = 5,
  dtInteger = 6,
  dtBigInt = 7,
  dtFloat = 8,
  dtDecimal = 9,
  dtDate = 10,
  dtTime = 11,
  dtTimestamp = 12,
  dtYearMonthInterval = 13,
  dtDayTimeInterval = 14,
};

// The subtype refines a code; for the two interval codes it holds the interval
// qualifier (a TBRNIntervalFields set) instead, so it is a plain int32.
using TBRNDataSubType = int32_t;
inline constexpr TBRNDataSubType stDefault = 0;
inline constexpr TBRNDataSubType stFixed = 130;
inline constexpr TBRNDataSubType stGuid = 140;
inline constexpr TBRNDataSubType stClob = 150;

// Interval qualifier: a contiguous run of fields from a leading field down to a
// trailing one.
using TBRNIntervalFields = int32_t;
inline constexpr TBRNIntervalFields ifMonth = 2;
inline constexpr TBRNIntervalFields ifYear = 4;
inline constexpr TBRNIntervalFields ifMSecond = 8;
inline constexpr TBRNIntervalFields ifSecond = 16;
inline constexpr TBRNIntervalFields ifMinute = 32;
inline constexpr TBRNIntervalFields ifHour = 64;
inline constexpr TBRNIntervalFields ifDay = 128;

// Declared length of a GUID held as text and as bytes.
inline constexpr int32_t GuidTextLength = 38;
inline constexpr int32_t GuidByteLength = 16;

// The largest declared length of a Char or Bytes type; longer data is a LOB.
inline constexpr int32_t MaxDeclaredLength = 1024;

// Decimals are int64 values scaled by this factor.
inline constexpr int64_t DecimalScaleFactor = 10000;

// Character data: Char and CLOB values carry text under a collation.
inline constexpr bool IsTextDataType(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  return DataType == dtChar || (DataType == dtLob && SubType == stClob);
}

bool IsValidYearMonthQualifier(int32_t qualifier);
bool IsValidDayTimeQualifier(int32_t qualifier);

// The normalisations keep a type descriptor consistent whenever one of its
// parts changes. Arguments after the new value are updated in place.
void NormalizeDataType(TBRNDataTypeCode NewType, TBRNDataTypeCode& DataType,
                       TBRNDataSubType& SubType, int32_t& Length, int32_t& DataSize, int32_t& Scale,
                       int32_t& Collation);
void NormalizeDataSubType(TBRNDataTypeCode DataType, TBRNDataSubType NewSubType,
                          TBRNDataSubType& SubType, int32_t& Length, int32_t& DataSize,
                          int32_t& Scale, int32_t& Collation);
// ShortPrefix: the descriptor belongs to a column, whose row image keeps a
// 16-bit length in front of variable data; values keep a 32-bit one.
void NormalizeDataLength(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewLength,
                         bool ShortPrefix, int32_t& DataSize, int32_t& Length);
void NormalizeCollation(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewCollation,
                        int32_t& Collation);
void NormalizeScale(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewScale,
                    int32_t& Scale);

// Display name ("VarChar", "Interval Day To Second", "Unknown").
std::string DataTypeName(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
// Upper-case DDL text ("VARCHAR(40)", "DECIMAL(19,2)", "INTERVAL DAY TO SECOND").
std::string DataTypeDefinition(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t Length,
                               int32_t Scale);
// Upper-case qualifier text of an interval type ("DAY TO SECOND"), else empty.
std::string IntervalQualifierText(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
// Size for codes 1..3, the fixed storage size otherwise (0 for unknown codes).
int32_t DataTypeStorageSize(TBRNDataTypeCode DataType, int32_t Size);

}  // namespace brn
