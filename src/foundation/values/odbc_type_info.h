#pragma once

#include <cstdint>
#include <string>

#include "foundation/types/data_types.h"

namespace brn {

// The type codes of the ODBC call-level interface, with the values that
// standard publishes. Catalog readers see the engine's types through them.
namespace odbc {
// Concise and verbose SQL types.
inline constexpr int16_t SQL_UNKNOWN_TYPE = 0;
inline constexpr int16_t SQL_CHAR = 1;
inline constexpr int16_t SQL_NUMERIC = 2;
inline constexpr int16_t SQL_DECIMAL = 3;
inline constexpr int16_t SQL_INTEGER = 4;
inline constexpr int16_t SQL_SMALLINT = 5;
inline constexpr int16_t SQL_FLOAT = 6;
inline constexpr int16_t SQL_REAL = 7;
inline constexpr int16_t SQL_DOUBLE = 8;
inline constexpr int16_t SQL_DATETIME = 9;
inline constexpr int16_t SQL_INTERVAL = 10;
inline constexpr int16_t SQL_VARCHAR = 12;
inline constexpr int16_t SQL_LONGVARCHAR = -1;
inline constexpr int16_t SQL_BINARY = -2;
inline constexpr int16_t SQL_VARBINARY = -3;
inline constexpr int16_t SQL_LONGVARBINARY = -4;
inline constexpr int16_t SQL_BIGINT = -5;
inline constexpr int16_t SQL_TINYINT = -6;
inline constexpr int16_t SQL_BIT = -7;
inline constexpr int16_t SQL_WCHAR = -8;
inline constexpr int16_t SQL_WVARCHAR = -9;
inline constexpr int16_t SQL_WLONGVARCHAR = -10;
inline constexpr int16_t SQL_GUID = -11;
// The date and time types of ODBC 2 clients share their codes with the
// verbose SQL_DATETIME and SQL_INTERVAL codes.
inline constexpr int16_t SQL_DATE = 9;
inline constexpr int16_t SQL_TIME = 10;
inline constexpr int16_t SQL_TIMESTAMP = 11;
inline constexpr int16_t SQL_TYPE_DATE = 91;
inline constexpr int16_t SQL_TYPE_TIME = 92;
inline constexpr int16_t SQL_TYPE_TIMESTAMP = 93;
inline constexpr int16_t SQL_INTERVAL_YEAR = 101;
inline constexpr int16_t SQL_INTERVAL_MONTH = 102;
inline constexpr int16_t SQL_INTERVAL_DAY = 103;
inline constexpr int16_t SQL_INTERVAL_HOUR = 104;
inline constexpr int16_t SQL_INTERVAL_MINUTE = 105;
inline constexpr int16_t SQL_INTERVAL_SECOND = 106;
inline constexpr int16_t SQL_INTERVAL_YEAR_TO_MONTH = 107;
inline constexpr int16_t SQL_INTERVAL_DAY_TO_HOUR = 108;
inline constexpr int16_t SQL_INTERVAL_DAY_TO_MINUTE = 109;
inline constexpr int16_t SQL_INTERVAL_DAY_TO_SECOND = 110;
inline constexpr int16_t SQL_INTERVAL_HOUR_TO_MINUTE = 111;
inline constexpr int16_t SQL_INTERVAL_HOUR_TO_SECOND = 112;
inline constexpr int16_t SQL_INTERVAL_MINUTE_TO_SECOND = 113;
// C types of the signed and unsigned integers (SQL_C_...).
inline constexpr int16_t SQL_C_SSHORT = -15;
inline constexpr int16_t SQL_C_SLONG = -16;
inline constexpr int16_t SQL_C_USHORT = -17;
inline constexpr int16_t SQL_C_ULONG = -18;
inline constexpr int16_t SQL_C_SBIGINT = -25;
inline constexpr int16_t SQL_C_STINYINT = -26;
inline constexpr int16_t SQL_C_UBIGINT = -27;
inline constexpr int16_t SQL_C_UTINYINT = -28;
// SQL_DATETIME_SUB of the date and time types.
inline constexpr int16_t SQL_CODE_DATE = 1;
inline constexpr int16_t SQL_CODE_TIME = 2;
inline constexpr int16_t SQL_CODE_TIMESTAMP = 3;
}  // namespace odbc

// How an ODBC client sees an engine type (code and subtype). Unknown codes,
// subtypes and interval qualifiers answer 0 or empty text.

// The concise SQL type; OdbcVersion 2 gets the old date and time codes 9-11.
int16_t ODBCDataType(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t OdbcVersion);
// SQL_DATA_TYPE: SQL_DATETIME and SQL_INTERVAL stand for their families.
int16_t ODBCVerboseDataType(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
// SQL_DATETIME_SUB of date/time and interval types.
int16_t ODBCDateTimeSubCode(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
// COLUMN_SIZE, DECIMAL_DIGITS and the octet length of an ODBC type code.
int32_t ODBCColumnSize(int16_t OdbcType, int32_t Length);
int32_t ODBCDecimalDigits(int16_t OdbcType, int32_t Scale);
int32_t ODBCBufferLength(int16_t OdbcType, int32_t Length);
// Text around a literal ("DATE '" ... "'") and the parameters of a type
// definition ("length", "precision;scale").
std::string ODBCLiteralPrefix(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
std::string ODBCLiteralSuffix(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
std::string ODBCCreateParams(TBRNDataTypeCode DataType, TBRNDataSubType SubType);
int32_t ODBCNumPrecRadix(TBRNDataTypeCode DataType);
int32_t ODBCIntervalPrecision(TBRNDataTypeCode DataType);

}  // namespace brn
