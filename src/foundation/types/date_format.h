#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brn {

// A user date format such as "dd/mm/yyyy", compiled once: the components in
// their order (upper-cased: YYYY, YY, MM, M, DD, D) and a template in which
// each component is "%" plus its letter and every other character stays.
struct TBRNDateFormat {
  std::string Component1;
  std::string Component2;
  std::string Component3;
  std::string Template;
  bool HasSeparators = false;
};

// A user time format such as "hh:mm:ss.zzz n" (HH, H, MM, M, SS, S, ZZZ, Z and
// the 12-hour marker N) with the words of the marker.
struct TBRNTimeFormat {
  std::string Component1;
  std::string Component2;
  std::string Component3;
  std::string Component4;
  std::string Component5;
  std::string Template;
  std::string AMText;
  std::string PMText;
  bool HasSeparators = false;
};

// Compile and check a format; a bad one raises error 1400.
void ParseDateFormat(std::string_view Format, TBRNDateFormat& DateFormat);
void ParseTimeFormat(std::string_view Format, std::string_view AMText, std::string_view PMText,
                     TBRNTimeFormat& TimeFormat);

// Readers return false (with a result of 0) for text that does not match.
bool ParseDateByFormat(std::string_view Text, const TBRNDateFormat& DateFormat, int32_t& Day);
bool ParseTimeByFormat(std::string_view Text, const TBRNTimeFormat& TimeFormat, int32_t& Time);
// Date and time separated by the first blank.
bool ParseTimestampByFormat(std::string_view Text, const TBRNDateFormat& DateFormat,
                            const TBRNTimeFormat& TimeFormat, int64_t& TS);

std::string FormatDateByFormat(int32_t Day, const TBRNDateFormat& DateFormat);
std::string FormatTimeByFormat(int32_t Time, const TBRNTimeFormat& TimeFormat);
std::string FormatTimestampByFormat(const TBRNDateFormat& DateFormat,
                                    const TBRNTimeFormat& TimeFormat, int64_t TS);

// Numbers with a user decimal character, Booleans with user words. D is
// scaled by 10000. ParseBooleanByWords leaves B unchanged on false.
bool ParseFloatWithSeparator(std::string_view Text, char DecimalChar, double& X);
bool ParseDecimalWithSeparator(std::string_view Text, char DecimalChar, int64_t& D);
bool ParseBooleanByWords(std::string_view Text, std::string_view TrueWord,
                         std::string_view FalseWord, bool& B);

// Error 1400 "Error in the format string <Format> (<Reason>)".
[[noreturn]] void RaiseFormatStringError(std::string_view Format, std::string_view Reason);

}  // namespace brn
