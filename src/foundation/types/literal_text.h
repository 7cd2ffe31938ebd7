#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "foundation/core/bytes.h"
#include "foundation/types/data_types.h"

namespace brn {

// The canonical literal text of every data type, in both directions. The
// forms never depend on the process locale ("." is the decimal point). The
// readers answer false for any text outside their form or range and then
// leave the output 0 or empty; they never raise.

// "-" and digits within the int64 range; IsIntegerLiteral also requires the
// int32 range and, unless allowNegative, a value >= 0.
bool ParseBigIntLiteral(std::string_view text, int64_t& value);
bool IsBigIntLiteral(std::string_view text);
bool IsIntegerLiteral(std::string_view text, bool allowNegative);

// Two upper-case hexadecimal digits per byte; read in either case.
std::string FormatBytesLiteral(std::span<const uint8_t> bytes);
bool ParseBytesLiteral(std::string_view text, TBRNBytes& bytes);

// YYYY-MM-DD; the reader also takes blanks around it and unpadded parts.
std::string FormatDateLiteral(int32_t day);
bool ParseDateLiteral(std::string_view text, int32_t& day);
bool IsDateLiteral(std::string_view text);

// HH:MM[:SS[.ZZZ]], seconds written only when not 0; 12-hour form with " AM"
// or " PM". The reader takes both forms.
std::string FormatTimeLiteral(int32_t ms, bool use24Hour);
bool ParseTimeLiteral(std::string_view text, int32_t& ms);
bool IsTimeLiteral(std::string_view text);

// The date, a blank and the time (always written).
std::string FormatTimestampLiteral(bool use24Hour, int64_t value);
bool ParseTimestampLiteral(std::string_view text, int64_t& value);
bool IsTimestampLiteral(std::string_view text);

// Months (2), years (4) or years-months (6, "1-02"); "-" in front of a
// negative amount, even when its leading field is 0.
std::string FormatYearMonthIntervalLiteral(int32_t months, TBRNIntervalFields qualifier);
bool ParseYearMonthIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier,
                                   int32_t& months);
bool IsYearMonthIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier);

// The fields of the qualifier: "D H:MM:SS.ZZZ" with the leading field signed
// and unpadded; "-" in front of a negative amount, even when its leading
// field is 0. The reader puts no limit on later fields ("1:75" is 2:15).
std::string FormatDayTimeIntervalLiteral(TBRNIntervalFields qualifier, int64_t ms);
bool ParseDayTimeIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier, int64_t& ms);
bool IsDayTimeIntervalLiteral(std::string_view text, TBRNIntervalFields qualifier);

// "TRUE" or "FALSE"; read in any case, trailing blanks ignored.
std::string FormatBooleanLiteral(bool value);
bool ParseBooleanLiteral(std::string_view text, bool& value);

// The general float text; read with an optional "-", digits, one "." and an
// optional exponent, no "+" in front and no blanks.
std::string FormatFloatLiteral(double value);
bool ParseFloatLiteral(std::string_view text, double& value);
bool IsFloatLiteral(std::string_view text);

// A decimal is an int64 scaled by 10000; the writer completes the fraction
// with zeros to scale digits. The reader takes "-", digits and one ".".
std::string FormatDecimalLiteral(int32_t scale, int64_t value);
bool ParseDecimalLiteral(std::string_view text, int64_t& value);

// "#" and a BigInt text, giving its low byte; IsCharCodeLiteral takes the
// "#" as optional and requires 0..255.
bool ParseCharCodeLiteral(std::string_view text, char& value);
bool IsCharCodeLiteral(std::string_view text);

}  // namespace brn
