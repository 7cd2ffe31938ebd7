#pragma once

#include <cstdint>
#include <string_view>

namespace brn {

// The 8-bit code pages of the locales. The system page (the one a locale
// without a code page of its own uses) is Windows-1252.
constexpr uint16_t SystemCodePage = 1252;

// A code page with one byte per character: its characters as UTF-16 and
// the simple case mappings that stay inside the page.
struct SingleByteCodePage {
  uint16_t CodePage = 0;
  char16_t ToUnicode[256] = {};
  unsigned char Upper[256] = {};
  unsigned char Lower[256] = {};
  // The byte of a UTF-16 character, or -1 when the page has none.
  int32_t FromUnicode(char16_t c) const;
};

// Tables of a single-byte page (built once, shared by every thread); nullptr
// for a multi-byte page. A page of 0 is the system page.
const SingleByteCodePage* FindSingleByteCodePage(uint16_t codePage);

// Whether the code page can be converted at all.
bool IsKnownCodePage(uint16_t codePage);

// Converts 8-bit text to UTF-16 without allocating. Each byte yields at most
// one UTF-16 unit, so capacity >= length always suffices. Returns the count
// written, or -1 when the page is unknown or capacity is too small.
int32_t CodePageToUTF16(uint16_t codePage, const char* text, int32_t length, char16_t* out,
                        int32_t capacity);

// Upper- or lower-cases 8-bit text of a multi-byte page in place, character
// by character; a character whose other case needs a different byte length
// stays unchanged. Returns false when the page is unknown.
bool MapMultiByteCase(uint16_t codePage, bool upper, char* text, int32_t length);

}  // namespace brn
