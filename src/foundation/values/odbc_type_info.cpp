#include "foundation/values/odbc_type_info.h"

namespace brn {

using namespace odbc;

namespace {

bool IsLob(TBRNDataTypeCode DataType, TBRNDataSubType SubType, TBRNDataSubType lobKind) {
  return DataType == dtLob && SubType == lobKind;
}

bool IsBinary(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  return DataType == dtBytes || IsLob(DataType, SubType, stDefault);
}

// A qualifier with milliseconds reports as its counterpart with seconds.
int16_t DayTimeIntervalType(TBRNIntervalFields qualifier) {
  switch (qualifier) {
    case ifMSecond:
    case ifSecond:
    case ifSecond | ifMSecond:
      return SQL_INTERVAL_SECOND;
    case ifMinute:
      return SQL_INTERVAL_MINUTE;
    case ifMinute | ifSecond:
    case ifMinute | ifSecond | ifMSecond:
      return SQL_INTERVAL_MINUTE_TO_SECOND;
    case ifHour:
      return SQL_INTERVAL_HOUR;
    case ifHour | ifMinute:
      return SQL_INTERVAL_HOUR_TO_MINUTE;
    case ifHour | ifMinute | ifSecond:
    case ifHour | ifMinute | ifSecond | ifMSecond:
      return SQL_INTERVAL_HOUR_TO_SECOND;
    case ifDay:
      return SQL_INTERVAL_DAY;
    case ifDay | ifHour:
      return SQL_INTERVAL_DAY_TO_HOUR;
    case ifDay | ifHour | ifMinute:
      return SQL_INTERVAL_DAY_TO_MINUTE;
    case ifDay | ifHour | ifMinute | ifSecond:
    case ifDay | ifHour | ifMinute | ifSecond | ifMSecond:
      return SQL_INTERVAL_DAY_TO_SECOND;
    default:
      return SQL_UNKNOWN_TYPE;
  }
}

int16_t YearMonthIntervalType(TBRNIntervalFields qualifier) {
  switch (qualifier) {
    case ifMonth:
      return SQL_INTERVAL_MONTH;
    case ifYear:
      return SQL_INTERVAL_YEAR;
    case ifYear | ifMonth:
      return SQL_INTERVAL_YEAR_TO_MONTH;
    default:
      return SQL_UNKNOWN_TYPE;
  }
}

// Fixed and variable forms of Char and Bytes; other subtypes are unknown.
int16_t FixedOrVarying(TBRNDataSubType SubType, int16_t fixed, int16_t varying) {
  if (SubType == stFixed) return fixed;
  if (SubType == stDefault || SubType == stGuid) return varying;
  return SQL_UNKNOWN_TYPE;
}

int32_t LengthOrDefault(int32_t Length, int32_t fallback) {
  return Length == 0 ? fallback : Length;
}

}  // namespace

int16_t ODBCDataType(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t OdbcVersion) {
  bool oldDates = OdbcVersion == 2;
  switch (DataType) {
    case dtChar:
      return FixedOrVarying(SubType, SQL_CHAR, SQL_VARCHAR);
    case dtBytes:
      return FixedOrVarying(SubType, SQL_BINARY, SQL_VARBINARY);
    case dtLob:
      if (SubType == stDefault) return SQL_LONGVARBINARY;
      if (SubType == stClob) return SQL_LONGVARCHAR;
      return SQL_UNKNOWN_TYPE;
    case dtBoolean:
      return SQL_BIT;
    case dtSmallInt:
      return SQL_SMALLINT;
    case dtInteger:
      return SQL_INTEGER;
    case dtBigInt:
      return SQL_BIGINT;
    case dtFloat:
      return SQL_DOUBLE;
    case dtDecimal:
      return SQL_DECIMAL;
    case dtDate:
      return oldDates ? SQL_DATE : SQL_TYPE_DATE;
    case dtTime:
      return oldDates ? SQL_TIME : SQL_TYPE_TIME;
    case dtTimestamp:
      return oldDates ? SQL_TIMESTAMP : SQL_TYPE_TIMESTAMP;
    case dtYearMonthInterval:
      return YearMonthIntervalType(SubType);
    case dtDayTimeInterval:
      return DayTimeIntervalType(SubType);
    default:
      return SQL_UNKNOWN_TYPE;
  }
}

int16_t ODBCVerboseDataType(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  switch (DataType) {
    case dtDate:
    case dtTime:
    case dtTimestamp:
      return SQL_DATETIME;
    case dtYearMonthInterval:
    case dtDayTimeInterval:
      return SQL_INTERVAL;
    default:
      return ODBCDataType(DataType, SubType, 3);
  }
}

int16_t ODBCDateTimeSubCode(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  switch (DataType) {
    case dtDate:
      return SQL_CODE_DATE;
    case dtTime:
      return SQL_CODE_TIME;
    case dtTimestamp:
      return SQL_CODE_TIMESTAMP;
    case dtYearMonthInterval:
    case dtDayTimeInterval: {
      // The interval subcodes are the concise interval codes less 100.
      int16_t concise = ODBCDataType(DataType, SubType, 3);
      return concise == SQL_UNKNOWN_TYPE ? 0 : int16_t(concise - 100);
    }
    default:
      return 0;
  }
}

int32_t ODBCColumnSize(int16_t OdbcType, int32_t Length) {
  switch (OdbcType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
      return LengthOrDefault(Length, 1024);
    case SQL_LONGVARCHAR:
    case SQL_LONGVARBINARY:
    case SQL_WLONGVARCHAR:
      return 2147483647;
    case SQL_BIT:
      return 1;
    case SQL_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
      return 3;
    case SQL_SMALLINT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
      return 5;
    case SQL_INTEGER:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
      return 10;
    case SQL_BIGINT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return 20;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return 16;
    case SQL_REAL:
      return 8;
    case SQL_DATE:
    case SQL_TYPE_DATE:
      return 10;
    case SQL_TIME:
    case SQL_TYPE_TIME:
      return 12;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      return 23;
    case SQL_INTERVAL_YEAR:
    case SQL_INTERVAL_MONTH:
      return 10;
    case SQL_INTERVAL_DAY:
    case SQL_INTERVAL_HOUR:
    case SQL_INTERVAL_MINUTE:
    case SQL_INTERVAL_SECOND:
      return 20;
    case SQL_INTERVAL_YEAR_TO_MONTH:
      return 14;
    case SQL_INTERVAL_DAY_TO_HOUR:
    case SQL_INTERVAL_HOUR_TO_MINUTE:
    case SQL_INTERVAL_MINUTE_TO_SECOND:
      return 22;
    case SQL_INTERVAL_DAY_TO_MINUTE:
    case SQL_INTERVAL_HOUR_TO_SECOND:
      return 24;
    case SQL_INTERVAL_DAY_TO_SECOND:
      return 26;
    default:
      return 0;
  }
}

int32_t ODBCDecimalDigits(int16_t OdbcType, int32_t Scale) {
  switch (OdbcType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return Scale;
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_INTERVAL_DAY_TO_SECOND:
    case SQL_INTERVAL_HOUR_TO_SECOND:
    case SQL_INTERVAL_MINUTE_TO_SECOND:
      return 3;
    default:
      return 0;
  }
}

int32_t ODBCBufferLength(int16_t OdbcType, int32_t Length) {
  switch (OdbcType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
      return LengthOrDefault(Length, 1024);
    case SQL_WCHAR:
    case SQL_WVARCHAR: {
      if (Length == 0) return 512;
      // Two bytes a character; a length beyond half the int32 range is
      // reported as the largest octet length rather than wrapping.
      int64_t octets = int64_t(Length) * 2;
      return octets > INT32_MAX ? INT32_MAX : int32_t(octets);
    }
    case SQL_LONGVARCHAR:
    case SQL_LONGVARBINARY:
      return 2147483647;
    case SQL_WLONGVARCHAR:
      return 1073741823;
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
      return 1;
    case SQL_SMALLINT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
      return 2;
    case SQL_INTEGER:
    case SQL_REAL:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
      return 4;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return 8;
    case SQL_BIGINT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
      return 20;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return 21;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
      return 6;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      return 16;
    default:
      if (OdbcType >= SQL_INTERVAL_YEAR && OdbcType <= SQL_INTERVAL_MINUTE_TO_SECOND) return 34;
      return 0;
  }
}

std::string ODBCLiteralPrefix(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  if (IsTextDataType(DataType, SubType)) return "'";
  if (IsBinary(DataType, SubType)) return "X'";
  switch (DataType) {
    case dtDate:
      return "DATE '";
    case dtTime:
      return "TIME '";
    case dtTimestamp:
      return "TIMESTAMP '";
    case dtYearMonthInterval:
    case dtDayTimeInterval:
      return "INTERVAL '";
    default:
      return std::string();
  }
}

std::string ODBCLiteralSuffix(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  if (IsTextDataType(DataType, SubType) || IsBinary(DataType, SubType)) return "'";
  switch (DataType) {
    case dtDate:
    case dtTime:
    case dtTimestamp:
      return "'";
    case dtYearMonthInterval:
    case dtDayTimeInterval:
      return "' " + IntervalQualifierText(DataType, SubType);
    default:
      return std::string();
  }
}

std::string ODBCCreateParams(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  switch (DataType) {
    case dtChar:
    case dtBytes:
      return SubType == stGuid ? std::string() : std::string("length");
    case dtFloat:
      return "precision";
    case dtDecimal:
      return "precision;scale";
    default:
      return std::string();
  }
}

int32_t ODBCNumPrecRadix(TBRNDataTypeCode DataType) {
  switch (DataType) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
    case dtDecimal:
      return 10;
    case dtFloat:
      return 2;
    default:
      return 0;
  }
}

int32_t ODBCIntervalPrecision(TBRNDataTypeCode DataType) {
  if (DataType == dtYearMonthInterval) return 10;
  if (DataType == dtDayTimeInterval) return 20;
  return 0;
}

}  // namespace brn
