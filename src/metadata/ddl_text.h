#pragma once

#include <cstdint>
#include <string>

namespace brn {

// Pieces of the DDL texts that configuration and catalog objects write.

// A name in double quotes, a '"' inside doubled.
std::string QuotedName(const std::string& name);
// A text in single quotes without its trailing blanks, a ''' inside doubled.
std::string QuotedText(const std::string& text);
// A version scaled by 10000 with two decimals, rounded half away from zero:
// 10000 is "1.00", -5 is "0.00".
std::string VersionText(int64_t version);

}  // namespace brn
