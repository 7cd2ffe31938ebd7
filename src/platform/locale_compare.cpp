#include "platform/locale_compare.h"

#include <unicode/ucol.h>
#include <unicode/uversion.h>

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>
#include <vector>

#include "platform/code_pages.h"
#include "platform/locale_table.h"

namespace brn {

namespace {

constexpr uint32_t lcidMask = 0xFFFFF;

// One collator of a thread: a locale with the flags that change how ICU
// compares (kana and width are folded before, so they need no collator).
struct CollatorEntry {
  uint32_t Key = 0;
  UCollator* Collator = nullptr;  // nullptr: the locale cannot be compared
  uint16_t CodePage = 0;
  const char16_t* ToUnicode = nullptr;  // nullptr: a multi-byte page
  // Whether the page has characters that kana or width folding changes; a
  // single-byte page has none, so its texts skip the folding steps.
  bool MayCarryKanaOrWidth = false;
  // Whether short texts may take the word-wise conversion: a single-byte
  // page that maps every byte below 0x80 to itself and has no kana or width
  // forms.
  bool ShortRoute = false;
  uint64_t LatinOne = 0;  // all high bits: the page keeps 0xA0-0xFF as well
};

// collatorKey never gives this: the LCID has 20 bits and two flags follow.
constexpr uint32_t noKey = 0xFFFFFFFF;

uint32_t collatorKey(uint32_t lcid, uint32_t flags) {
  uint32_t key = lcid & lcidMask;
  if (flags & NormIgnoreCase) key |= 1u << 20;
  if (flags & NormIgnoreNonSpace) key |= 1u << 21;
  return key;
}

UCollator* openCollator(const PlatformLocale& locale, uint32_t flags) {
  UErrorCode error = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale.SortLocale, &error);
  if (U_FAILURE(error)) {
    if (collator != nullptr) ucol_close(collator);
    return nullptr;
  }
  bool ignoreCase = flags & NormIgnoreCase;
  bool ignoreAccents = flags & NormIgnoreNonSpace;
  UColAttributeValue strength = UCOL_TERTIARY;
  if (ignoreAccents)
    strength = UCOL_PRIMARY;
  else if (ignoreCase)
    strength = UCOL_SECONDARY;
  ucol_setStrength(collator, strength);
  // Accents ignored but case kept: the case level separates 'a' from 'A'.
  ucol_setAttribute(collator, UCOL_CASE_LEVEL, ignoreAccents && !ignoreCase ? UCOL_ON : UCOL_OFF,
                    &error);
  // Punctuation and blanks count like any other character.
  ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &error);
  if (U_FAILURE(error)) {
    ucol_close(collator);
    return nullptr;
  }
  return collator;
}

// Half-width katakana U+FF61..U+FF9F and their full-width forms.
constexpr char16_t halfWidthKatakana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x3099, 0x309A};

char16_t foldWidth(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return char16_t(c - 0xFEE0);
  if (c == 0x3000) return 0x0020;
  if (c >= 0xFF61 && c <= 0xFF9F) return halfWidthKatakana[c - 0xFF61];
  return c;
}

char16_t foldKana(char16_t c) {
  if (c >= 0x30A1 && c <= 0x30F6) return char16_t(c - 0x60);
  if (c == 0x30FD || c == 0x30FE) return char16_t(c - 0x60);
  return c;
}

// The kana a voicing mark (U+3099) or semi-voicing mark (U+309A) turns into,
// or 0 when there is none.
char16_t voicedKana(char16_t kana, char16_t mark) {
  const bool kaToChi = kana >= 0x30AB && kana <= 0x30C1 && (kana - 0x30AB) % 2 == 0;
  const bool tsuToTo = kana == 0x30C4 || kana == 0x30C6 || kana == 0x30C8;
  const bool haToHo = kana >= 0x30CF && kana <= 0x30DB && (kana - 0x30CF) % 3 == 0;
  if (mark == 0x3099) {
    if (kaToChi || tsuToTo || haToHo) return char16_t(kana + 1);
    if (kana == 0x30A6) return 0x30F4;
  } else if (mark == 0x309A && haToHo) {
    return char16_t(kana + 2);
  }
  return 0;
}

// Folds in place and returns the new length: half-width kana with a separate
// voicing mark become one full-width kana.
int32_t fold(char16_t* text, int32_t length, uint32_t flags) {
  const bool width = flags & NormIgnoreWidth;
  const bool kana = flags & NormIgnoreKanaType;
  int32_t out = 0;
  for (int32_t i = 0; i < length; ++i) {
    char16_t c = text[i];
    if (c >= 0x3000 && width) {
      c = foldWidth(c);
      if (out > 0 && (c == 0x3099 || c == 0x309A) && text[i] != c) {
        if (char16_t voiced = voicedKana(text[out - 1], c)) {
          text[out - 1] = voiced;
          continue;
        }
      }
    }
    text[out++] = c;
  }
  if (kana)
    for (int32_t i = 0; i < out; ++i) text[i] = foldKana(text[i]);
  return out;
}

// Whether a character still differs from its folded kana or width form.
bool carriesKanaOrWidth(char16_t c) {
  return c >= 0x3000 && foldKana(foldWidth(c)) != c;
}

// ICU puts kana and width differences at levels its strengths may not reach
// (Japanese even at the tertiary level), while the platform tells them apart
// unless told to ignore them. Texts the collator finds equal are ordered by
// the kana and width forms they still carry, in code order.
int32_t compareKanaAndWidth(const char16_t* text1, int32_t length1, const char16_t* text2,
                            int32_t length2) {
  int32_t i = 0, j = 0;
  for (;;) {
    while (i < length1 && !carriesKanaOrWidth(text1[i])) ++i;
    while (j < length2 && !carriesKanaOrWidth(text2[j])) ++j;
    if (i == length1 || j == length2) return (i == length1 ? 0 : 1) - (j == length2 ? 0 : 1);
    if (text1[i] != text2[j]) return text1[i] < text2[j] ? -1 : 1;
    ++i;
    ++j;
  }
}

constexpr uint64_t highBits = 0x8080808080808080u;

bool keepsOwnCodes(const char16_t* toUnicode, int first, int last) {
  for (int b = first; b <= last; ++b)
    if (toUnicode[b] != b) return false;
  return true;
}

class ThreadCollators {
 public:
  ~ThreadCollators() {
    for (CollatorEntry& entry : entries_)
      if (entry.Collator != nullptr) ucol_close(entry.Collator);
  }

  CollatorEntry Get(uint32_t key) {
    for (const CollatorEntry& entry : entries_)
      if (entry.Key == key) return entry;
    CollatorEntry entry;
    entry.Key = key;
    const PlatformLocale* locale = FindPlatformLocale(key & lcidMask);
    // Only known locales are kept: collation IDs come from stored data and
    // the wire, and a list of every unknown one met would grow without bound
    // and be searched on every change of collation.
    if (locale == nullptr) return entry;
    if (IsKnownCodePage(locale->CodePage)) {
      entry.CodePage = locale->CodePage;
      entry.MayCarryKanaOrWidth = true;
      if (const SingleByteCodePage* page = FindSingleByteCodePage(locale->CodePage)) {
        entry.ToUnicode = page->ToUnicode;
        entry.MayCarryKanaOrWidth = false;
        for (char16_t unit : page->ToUnicode)
          if (carriesKanaOrWidth(unit)) entry.MayCarryKanaOrWidth = true;
        entry.ShortRoute = !entry.MayCarryKanaOrWidth && keepsOwnCodes(page->ToUnicode, 0x00, 0x7F);
        entry.LatinOne = keepsOwnCodes(page->ToUnicode, 0xA0, 0xFF) ? highBits : 0;
      }
      const uint32_t flags =
          (key & (1u << 20) ? NormIgnoreCase : 0) | (key & (1u << 21) ? NormIgnoreNonSpace : 0);
      entry.Collator = openCollator(*locale, flags);
    }
    entries_.push_back(entry);
    return entry;
  }

 private:
  std::vector<CollatorEntry> entries_;
};

// Per-thread state of the comparison: the collators and the buffers for
// texts too long for the stack, which only ever grow.
struct ThreadState {
  ThreadCollators Collators;
  std::vector<char16_t> Spill1, Spill2;
  ~ThreadState();
};

// The collator the thread used last. Collated comparisons come in runs
// under one collation (a sort, an index search), so this one entry answers
// nearly every call; being constant-initialised it costs no guard.
constinit thread_local CollatorEntry lastCollator{noKey};

ThreadState::~ThreadState() {
  lastCollator = CollatorEntry{noKey};
}

ThreadState& threadState() {
  thread_local ThreadState state;
  return state;
}

const CollatorEntry& collatorFor(uint32_t key) {
  CollatorEntry& last = lastCollator;
  if (last.Key != key) [[unlikely]]
    last = threadState().Collators.Get(key);
  return last;
}

// Texts up to this many bytes are converted on the stack.
constexpr int32_t stackUnits = 256;

char16_t* unitsFor(int32_t length, char16_t* local, std::vector<char16_t>& spill) {
  if (length <= stackUnits) return local;
  if (spill.size() < size_t(length)) spill.resize(size_t(length));
  return spill.data();
}

void widen(const char16_t* table, const char* text, int32_t length, char16_t* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (int32_t i = 0; i < length; ++i) out[i] = table[bytes[i]];
}

uint64_t load8(const unsigned char* from) {
  uint64_t word;
  std::memcpy(&word, from, 8);
  return word;
}

uint32_t load4(const unsigned char* from) {
  uint32_t word;
  std::memcpy(&word, from, 4);
  return word;
}

// Short texts are read in 8- or 4-byte words, the last word overlapping the
// one before it so that no byte outside the text is touched.

// Up to 16 bytes take a head and a tail word and no loop, so that the
// varying lengths of names and keys cost no mispredicted loop exits.
bool sameBytes(const unsigned char* bytes1, const unsigned char* bytes2, int32_t length) {
  if (length >= 8) {
    for (int32_t i = 8; i < length - 8; i += 8)
      if (load8(bytes1 + i) != load8(bytes2 + i)) return false;
    return ((load8(bytes1) ^ load8(bytes2)) |
            (load8(bytes1 + length - 8) ^ load8(bytes2 + length - 8))) == 0;
  }
  if (length >= 4)
    return ((load4(bytes1) ^ load4(bytes2)) |
            (load4(bytes1 + length - 4) ^ load4(bytes2 + length - 4))) == 0;
  for (int32_t i = 0; i < length; ++i)
    if (bytes1[i] != bytes2[i]) return false;
  return true;
}

// High bits of the bytes of a word that the page does not keep as their own
// code: every byte above ASCII, or with latinOne (highBits when the page
// keeps 0xA0-0xFF as Latin-1) only those of 0x80-0x9F.
uint64_t bytesForTable(uint64_t word, uint64_t latinOne) {
  return word & highBits & ~(((word << 1) | (word << 2)) & latinOne);
}

// Zero-extends the 8 (or 4) bytes of word into UTF-16 units at out.
void widen8(uint64_t word, char16_t* out) {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(word)), _mm_setzero_si128()));
#else
  for (int i = 0; i < 8; ++i) out[i] = char16_t((word >> (8 * i)) & 0xFF);
#endif
}

void widen4(uint32_t word, char16_t* out) {
#if defined(__SSE2__)
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                   _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(word)), _mm_setzero_si128()));
#else
  for (int i = 0; i < 4; ++i) out[i] = char16_t((word >> (8 * i)) & 0xFF);
#endif
}

// Widens a short text of a single-byte page a word at a time, as if every
// byte were its own code; returns the high bits of the bytes for which that
// is wrong (see bytesForTable).
[[gnu::always_inline]] inline uint64_t widenWords(const char* text, int32_t length, char16_t* out,
                                                  uint64_t latinOne) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  uint64_t others = 0;
  if (length >= 8) {
    for (int32_t i = 8; i < length - 8; i += 8) {
      const uint64_t word = load8(bytes + i);
      others |= bytesForTable(word, latinOne);
      widen8(word, out + i);
    }
    const uint64_t first = load8(bytes), last = load8(bytes + length - 8);
    others |= bytesForTable(first, latinOne) | bytesForTable(last, latinOne);
    widen8(first, out);
    widen8(last, out + length - 8);
  } else if (length >= 4) {
    const uint32_t first = load4(bytes), last = load4(bytes + length - 4);
    others = bytesForTable(first | uint64_t(last) << 32, latinOne);
    widen4(first, out);
    widen4(last, out + length - 4);
  } else {
    for (int32_t i = 0; i < length; ++i) {
      others |= bytesForTable(bytes[i], latinOne);
      out[i] = bytes[i];
    }
  }
  return others;
}

int32_t collate(const CollatorEntry& entry, const char16_t* units1, int32_t count1,
                const char16_t* units2, int32_t count2) {
  return ucol_strcoll(entry.Collator, reinterpret_cast<const UChar*>(units1), count1,
                      reinterpret_cast<const UChar*>(units2), count2) +
         CompareEqual;
}

// Texts of a multi-byte page, texts too long for the stack, and the kana
// and width rules.
int32_t compareConverted(const CollatorEntry& entry, uint32_t flags, const char* text1,
                         int32_t length1, const char* text2, int32_t length2) {
  ThreadState& state = threadState();
  char16_t local1[stackUnits], local2[stackUnits];
  char16_t* units1 = unitsFor(length1, local1, state.Spill1);
  char16_t* units2 = unitsFor(length2, local2, state.Spill2);
  int32_t count1 = length1, count2 = length2;
  if (entry.ToUnicode != nullptr) {
    widen(entry.ToUnicode, text1, length1, units1);
    widen(entry.ToUnicode, text2, length2, units2);
  } else {
    count1 = CodePageToUTF16(entry.CodePage, text1, length1, units1, length1);
    count2 = CodePageToUTF16(entry.CodePage, text2, length2, units2, length2);
    if (count1 < 0 || count2 < 0) return 0;
  }
  if (!entry.MayCarryKanaOrWidth) return collate(entry, units1, count1, units2, count2);
  const uint32_t folded = flags & (NormIgnoreWidth | NormIgnoreKanaType);
  if (folded != 0) {
    count1 = fold(units1, count1, flags);
    count2 = fold(units2, count2, flags);
  }
  const int32_t result = collate(entry, units1, count1, units2, count2);
  if (result == CompareEqual && folded != (NormIgnoreWidth | NormIgnoreKanaType))
    return compareKanaAndWidth(units1, count1, units2, count2) + CompareEqual;
  return result;
}

bool isTurkic(const PlatformLocale& locale) {
  std::string_view tag(locale.SortLocale);
  return tag.starts_with("tr") || tag.starts_with("az-Latn");
}

}  // namespace

int32_t LocaleCompareString(uint32_t lcid, uint32_t flags, const char* text1, int32_t length1,
                            const char* text2, int32_t length2) {
  // Bits above the LCID make an ID no locale has.
  if (length1 < 0 || length2 < 0 || lcid > lcidMask) return 0;
  const CollatorEntry& entry = collatorFor(collatorKey(lcid, flags));
  if (entry.Collator == nullptr) return 0;
  if (!entry.ShortRoute || length1 > stackUnits || length2 > stackUnits)
    return compareConverted(entry, flags, text1, length1, text2, length2);
  char16_t units1[stackUnits], units2[stackUnits];
  uint64_t others;
  if (length1 >= 8 && length1 <= 16 && length2 >= 8 && length2 <= 16) {
    // Names and most keys: each text is two words, the first and the last 8
    // bytes, read once for the equality test, the check of the bytes and the
    // conversion.
    const auto* bytes1 = reinterpret_cast<const unsigned char*>(text1);
    const auto* bytes2 = reinterpret_cast<const unsigned char*>(text2);
    const uint64_t head1 = load8(bytes1), tail1 = load8(bytes1 + length1 - 8);
    const uint64_t head2 = load8(bytes2), tail2 = load8(bytes2 + length2 - 8);
    // Equal bytes are equal characters, which every collator finds equal;
    // noticing it here saves ICU the work.
    if (length1 == length2 && ((head1 ^ head2) | (tail1 ^ tail2)) == 0) return CompareEqual;
    others = bytesForTable(head1, entry.LatinOne) | bytesForTable(tail1, entry.LatinOne) |
             bytesForTable(head2, entry.LatinOne) | bytesForTable(tail2, entry.LatinOne);
    widen8(head1, units1);
    widen8(tail1, units1 + length1 - 8);
    widen8(head2, units2);
    widen8(tail2, units2 + length2 - 8);
  } else {
    if (length1 == length2 && sameBytes(reinterpret_cast<const unsigned char*>(text1),
                                        reinterpret_cast<const unsigned char*>(text2), length1))
      return CompareEqual;
    others = widenWords(text1, length1, units1, entry.LatinOne) |
             widenWords(text2, length2, units2, entry.LatinOne);
  }
  // Only texts with bytes the page does not keep as their own code (rare in
  // Western text) go through the table.
  if (others != 0) [[unlikely]] {
    widen(entry.ToUnicode, text1, length1, units1);
    widen(entry.ToUnicode, text2, length2, units2);
  }
  return collate(entry, units1, length1, units2, length2);
}

bool LocaleMapString(uint32_t lcid, uint32_t flags, const char* source, int32_t length,
                     char* dest) {
  const PlatformLocale* locale = lcid <= lcidMask ? FindPlatformLocale(lcid) : nullptr;
  bool upper = flags & MapUpperCase;
  bool lower = flags & MapLowerCase;
  if (locale == nullptr || length < 0 || (upper && lower)) return false;
  if (length > 0) std::memmove(dest, source, size_t(length));
  if (!upper && !lower) return true;
  const SingleByteCodePage* page = FindSingleByteCodePage(locale->CodePage);
  if (page == nullptr) return MapMultiByteCase(locale->CodePage, upper, dest, length);
  // Turkic languages pair i with the dotted capital and I with the dotless
  // small letter.
  int32_t turkicI = -1;
  if (isTurkic(*locale)) turkicI = page->FromUnicode(upper ? 0x0130 : 0x0131);
  const unsigned char* map = upper ? page->Upper : page->Lower;
  for (int32_t i = 0; i < length; ++i) {
    auto b = static_cast<unsigned char>(dest[i]);
    if (turkicI >= 0 && b == (upper ? 'i' : 'I'))
      dest[i] = char(turkicI);
    else
      dest[i] = char(map[b]);
  }
  return true;
}

std::string LocaleCollatorVersion() {
  static const std::string version = [] {
    UErrorCode error = U_ZERO_ERROR;
    UCollator* root = ucol_open("", &error);
    if (root == nullptr || U_FAILURE(error)) {
      if (root != nullptr) ucol_close(root);
      return std::string();
    }
    UVersionInfo info;
    ucol_getVersion(root, info);
    ucol_close(root);
    std::string text;
    for (int i = 0; i < U_MAX_VERSION_LENGTH; ++i) {
      if (i > 0) text += '.';
      text += std::to_string(info[i]);
    }
    return text;
  }();
  return version;
}

}  // namespace brn
