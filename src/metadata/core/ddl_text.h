#pragma once

#include <cstdint>
#include <string>

namespace brn {

class TBRNConfigObject;

// Pieces of the DDL texts that configuration and catalog objects write.

// A name in double quotes, a '"' inside doubled.
std::string QuotedName(const std::string& name);
// A text in single quotes without its trailing blanks, a ''' inside doubled.
std::string QuotedText(const std::string& text);
// A version scaled by 10000 with two decimals, rounded half away from zero:
// 10000 is "1.00", -5 is "0.00".
std::string VersionText(int64_t version);

// For a created or dropped object (kind kDifferenceCreate or kDifferenceDrop)
// sets alterSQL to the object's CREATE or DROP text and returns true; for any
// other kind returns false and leaves alterSQL as it is.
bool CreateOrDropDifference(TBRNConfigObject& object, int32_t kind, std::string& alterSQL);

}  // namespace brn
