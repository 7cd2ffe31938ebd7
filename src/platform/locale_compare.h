#pragma once

#include <cstdint>
#include <string>

namespace brn {

// Flags of the locale comparison, with the platform's values.
constexpr uint32_t NormIgnoreCase = 0x1;
constexpr uint32_t NormIgnoreNonSpace = 0x2;
constexpr uint32_t SortStringSort = 0x1000;
constexpr uint32_t NormIgnoreKanaType = 0x10000;
constexpr uint32_t NormIgnoreWidth = 0x20000;

// Flags of the locale case mapping.
constexpr uint32_t MapLowerCase = 0x100;
constexpr uint32_t MapUpperCase = 0x200;
constexpr uint32_t MapLinguisticCasing = 0x01000000;

// Results of the locale comparison; 0 means it failed.
constexpr int32_t CompareLessThan = 1;
constexpr int32_t CompareEqual = 2;
constexpr int32_t CompareGreaterThan = 3;

// Compares two 8-bit texts of the locale's code page under the locale's sort
// order: CompareLessThan, CompareEqual or CompareGreaterThan, 0 when the
// locale is unknown or the texts cannot be converted. Case-insensitive
// compares at ICU's secondary strength, accent-insensitive at primary with
// the case level, both at primary; kana and width are folded before the
// comparison when ignored and otherwise always count; punctuation always
// counts. The collator of each locale and
// flag set is opened once per thread.
int32_t LocaleCompareString(uint32_t lcid, uint32_t flags, const char* text1, int32_t length1,
                            const char* text2, int32_t length2);

// Upper- or lower-cases 8-bit text of the locale's code page into dest (the
// same length as the source); a character whose other case is not in the
// page stays as it is. false when the locale is unknown.
bool LocaleMapString(uint32_t lcid, uint32_t flags, const char* source, int32_t length, char* dest);

// Version of the collator ("153.120.0.0"); stored orders depend on it.
std::string LocaleCollatorVersion();

}  // namespace brn
