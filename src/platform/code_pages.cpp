#include "platform/code_pages.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

namespace brn {

namespace {

constexpr std::array<uint16_t, 10> singleBytePages = {874,  1250, 1251, 1252, 1253,
                                                      1254, 1255, 1256, 1257, 1258};
constexpr std::array<uint16_t, 4> multiBytePages = {932, 936, 949, 950};

uint16_t resolvePage(uint16_t codePage) {
  return codePage == 0 ? SystemCodePage : codePage;
}

std::string converterName(uint16_t codePage) {
  return "windows-" + std::to_string(codePage);
}

// The page's characters as ICU maps them. A byte the page leaves undefined
// becomes a character of its own that has no case and is no letter: below
// 0xA0 the C1 control of its value, as the platform does, above it a
// private-use character (its own value would be a Latin-1 letter, which
// would sort as one and pair with another undefined byte as its other case).
constexpr char16_t undefinedHighBytes = 0xF700;

void buildSingleBytePage(SingleByteCodePage& page, uint16_t codePage) {
  page.CodePage = codePage;
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(converterName(codePage).c_str(), &error);
  for (int b = 0; b < 256; ++b) {
    char16_t unit = b < 0xA0 ? char16_t(b) : char16_t(undefinedHighBytes + b);
    if (converter != nullptr) {
      char byte = char(b);
      UChar out[4];
      UErrorCode convError = U_ZERO_ERROR;
      int32_t count = ucnv_toUChars(converter, out, 4, &byte, 1, &convError);
      if (U_SUCCESS(convError) && count == 1 && out[0] != 0xFFFD && (out[0] != 0x1A || b == 0x1A))
        unit = out[0];
    }
    page.ToUnicode[b] = unit;
  }
  if (converter != nullptr) ucnv_close(converter);
  for (int b = 0; b < 256; ++b) {
    char16_t unit = page.ToUnicode[b];
    int32_t upper = page.FromUnicode(char16_t(u_toupper(unit)));
    int32_t lower = page.FromUnicode(char16_t(u_tolower(unit)));
    page.Upper[b] = static_cast<unsigned char>(upper >= 0 ? upper : b);
    page.Lower[b] = static_cast<unsigned char>(lower >= 0 ? lower : b);
  }
}

struct SingleBytePages {
  std::array<SingleByteCodePage, singleBytePages.size()> Pages;
  SingleBytePages() {
    for (size_t i = 0; i < singleBytePages.size(); ++i)
      buildSingleBytePage(Pages[i], singleBytePages[i]);
  }
};

const SingleBytePages& allSingleBytePages() {
  static const SingleBytePages pages;
  return pages;
}

int multiByteIndex(uint16_t codePage) {
  for (size_t i = 0; i < multiBytePages.size(); ++i)
    if (multiBytePages[i] == codePage) return int(i);
  return -1;
}

// ICU converters keep state, so each thread opens its own, once.
struct ThreadConverters {
  std::array<UConverter*, multiBytePages.size()> Converters{};
  std::array<bool, multiBytePages.size()> Tried{};
  ~ThreadConverters() {
    for (UConverter* converter : Converters)
      if (converter != nullptr) ucnv_close(converter);
  }
  UConverter* Get(int index) {
    if (!Tried[index]) {
      Tried[index] = true;
      UErrorCode error = U_ZERO_ERROR;
      UConverter* converter = ucnv_open(converterName(multiBytePages[index]).c_str(), &error);
      if (U_FAILURE(error) && converter != nullptr) {
        ucnv_close(converter);
        converter = nullptr;
      }
      if (converter != nullptr) {
        // A character the page lacks must fail the conversion, not become '?'.
        UErrorCode callbackError = U_ZERO_ERROR;
        ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &callbackError);
      }
      Converters[index] = converter;
    }
    return Converters[index];
  }
};

UConverter* threadConverter(uint16_t codePage) {
  int index = multiByteIndex(codePage);
  if (index < 0) return nullptr;
  thread_local ThreadConverters converters;
  return converters.Get(index);
}

}  // namespace

int32_t SingleByteCodePage::FromUnicode(char16_t c) const {
  if (c < 0x80 && ToUnicode[c] == c) return c;
  for (int b = 0; b < 256; ++b)
    if (ToUnicode[b] == c) return b;
  return -1;
}

const SingleByteCodePage* FindSingleByteCodePage(uint16_t codePage) {
  codePage = resolvePage(codePage);
  const SingleBytePages& pages = allSingleBytePages();
  for (const SingleByteCodePage& page : pages.Pages)
    if (page.CodePage == codePage) return &page;
  return nullptr;
}

bool IsKnownCodePage(uint16_t codePage) {
  return FindSingleByteCodePage(codePage) != nullptr || multiByteIndex(resolvePage(codePage)) >= 0;
}

int32_t CodePageToUTF16(uint16_t codePage, const char* text, int32_t length, char16_t* out,
                        int32_t capacity) {
  if (length < 0) return -1;
  if (const SingleByteCodePage* page = FindSingleByteCodePage(codePage)) {
    if (capacity < length) return -1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (int32_t i = 0; i < length; ++i) out[i] = page->ToUnicode[bytes[i]];
    return length;
  }
  UConverter* converter = threadConverter(resolvePage(codePage));
  if (converter == nullptr) return -1;
  if (length == 0) return 0;
  UErrorCode error = U_ZERO_ERROR;
  int32_t count =
      ucnv_toUChars(converter, reinterpret_cast<UChar*>(out), capacity, text, length, &error);
  if (U_FAILURE(error) || count > capacity) return -1;
  return count;
}

bool MapMultiByteCase(uint16_t codePage, bool upper, char* text, int32_t length) {
  UConverter* converter = threadConverter(resolvePage(codePage));
  if (converter == nullptr || length < 0) return false;
  ucnv_reset(converter);
  const char* source = text;
  const char* limit = text + length;
  while (source < limit) {
    const char* start = source;
    UErrorCode error = U_ZERO_ERROR;
    UChar32 c = ucnv_getNextUChar(converter, &source, limit, &error);
    if (U_FAILURE(error) || source <= start) {
      if (source <= start) source = start + 1;
      ucnv_reset(converter);
      continue;
    }
    UChar32 mapped = upper ? u_toupper(c) : u_tolower(c);
    if (mapped == c || mapped > 0xFFFF) continue;
    UChar unit = UChar(mapped);
    char encoded[8];
    UErrorCode encodeError = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter);
    int32_t n = ucnv_fromUChars(converter, encoded, sizeof encoded, &unit, 1, &encodeError);
    if (U_SUCCESS(encodeError) && n == source - start)
      std::memcpy(text + (start - text), encoded, size_t(n));
  }
  ucnv_reset(converter);
  return true;
}

}  // namespace brn
