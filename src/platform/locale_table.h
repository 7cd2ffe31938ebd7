#pragma once

#include <cstdint>
#include <span>

namespace brn {

// One locale of the platform, as its locale information reports it.
struct PlatformLocale {
  uint32_t Lcid;             // sort ID << 16 | language ID
  const char* Abbreviation;  // three-letter abbreviated language name
  const char* LanguageName;  // full language name
  uint16_t CodePage;         // 8-bit code page; 0 = the system page
  const char* SortLocale;    // the ICU locale that sorts like it
};

// The supported locales in enumeration order (ascending LCID); alternate
// sort orders are not enumerated.
std::span<const PlatformLocale> SupportedLocales();

// Any known locale by its LCID, alternate sort orders included; nullptr
// when the platform does not know it.
const PlatformLocale* FindPlatformLocale(uint32_t lcid);

}  // namespace brn
