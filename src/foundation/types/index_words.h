#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brn {

// The words a text index never stores: upper case, in the order the stored
// indexes were built with (ascending, except that HERS stands before HEREBY,
// so a binary search under the binary collation never finds HERS).
inline constexpr int32_t StopWordCount = 144;
extern const std::string_view StopWords[StopWordCount];

// The next word of text from the 1-based position; position ends after the
// separator that ended the word, word is empty at the end of the text.
// Letters make up words, digits are skipped inside them and every other
// character separates them. A word is kept when it has at least 3 letters and
// is not a stop word under the collation. In search mode "*" belongs to the
// word and such a wildcard word is kept as it is.
void NextIndexWord(int32_t collation, std::string_view text, int32_t& position, std::string& word,
                   bool searchMode);

// Binary search of the stop-word table under the collation (with case unless
// the collation ignores it).
bool IsStopWord(int32_t collation, std::string_view word);

}  // namespace brn
