#include "foundation/types/index_words.h"

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"

namespace brn {

// Stored text indexes were built with exactly this table; its order (HERS
// before HEREBY) must not be "corrected".
const std::string_view StopWords[StopWordCount] = {
    "ABOUT",   "ABOVE",     "AFAIK",       "ALL",       "ALONG",   "ALSO",    "ALTHOUGH",
    "AND",     "ARE",       "ARENT",       "BECAUSE",   "BEEN",    "BTW",     "BUT",
    "CAN",     "CANNOT",    "CANT",        "COULD",     "COULDNT", "DID",     "DIDNT",
    "DOES",    "DOESNT",    "DUH",         "EITHER",    "ETC",     "EVEN",    "EVER",
    "FOR",     "FROM",      "FURTHERMORE", "FYI",       "GET",     "GETS",    "GOT",
    "GOTTEN",  "HAD",       "HADNT",       "HARDLY",    "HAS",     "HASNT",   "HAVING",
    "HENCE",   "HER",       "HERE",        "HERS",      "HEREBY",  "HEREIN",  "HEREOF",
    "HEREON",  "HERETO",    "HEREWITH",    "HIM",       "HIS",     "HOW",     "HOWEVER",
    "IMHO",    "IMO",       "INTO",        "ISNT",      "ITS",     "LOL",     "MINE",
    "NOR",     "NOT",       "ONTO",        "OTHER",     "OTOH",    "OUR",     "OURS",
    "OUT",     "OVER",      "REALLY",      "ROTFL",     "SAID",    "SAME",    "SHE",
    "SHOULD",  "SHOULDNT",  "SINCE",       "SOMEWHAT",  "SUCH",    "THAN",    "THAT",
    "THATLL",  "THATS",     "THE",         "THEIR",     "THEIRS",  "THEM",    "THEN",
    "THERE",   "THEREBY",   "THEREFORE",   "THEREFROM", "THEREIN", "THEREOF", "THEREON",
    "THERETO", "THEREWITH", "THESE",       "THEY",      "THEYLL",  "THEYRE",  "THIS",
    "THOSE",   "THROUGH",   "THROUGHOUT",  "THUS",      "TIA",     "TOO",     "UNDER",
    "UNTIL",   "UNTO",      "UPON",        "VERY",      "WAS",     "WASNT",   "WERE",
    "WERENT",  "WHAT",      "WHEN",        "WHERE",     "WHEREBY", "WHEREIN", "WHETHER",
    "WHICH",   "WHILE",     "WHO",         "WHOM",      "WHOS",    "WHOSE",   "WHY",
    "WITH",    "WITHIN",    "WITHOUT",     "WONT",      "WOULD",   "WOULDNT", "YOU",
    "YOULL",   "YOUR",      "YOURE",       "YOURS",
};

bool IsStopWord(int32_t collation, std::string_view word) {
  int32_t low = 0, high = StopWordCount - 1;
  while (low <= high) {
    int32_t mid = (low + high) / 2;
    int32_t r = CompareCollated(collation, StopWords[mid], word, false, 0);
    if (r == 0) return true;
    if (r < 0)
      low = mid + 1;
    else
      high = mid - 1;
  }
  return false;
}

void NextIndexWord(int32_t collation, std::string_view text, int32_t& position, std::string& word,
                   bool searchMode) {
  word.clear();
  const int64_t length = int64_t(text.size());
  int64_t pos = position < 1 ? 1 : position;
  // The word is built in place and cleared when it is discarded.
  while (pos <= length) {
    bool wildcard = false;
    for (; pos <= length; ++pos) {
      unsigned char c = static_cast<unsigned char>(text[size_t(pos - 1)]);
      if (searchMode && c == '*') {
        word.push_back('*');
        wildcard = true;
      } else if (WordSeparatorChars.Contains(c)) {
        ++pos;
        break;
      } else if (LetterChars.Contains(c)) {
        word.push_back(char(c));
      }
      // Digits neither end a word nor belong to it: abc123def is abcdef.
    }
    if (wildcard || (word.size() >= 3 && !IsStopWord(collation, word))) break;
    word.clear();
  }
  position = int32_t(pos > length + 1 ? length + 1 : pos);
}

}  // namespace brn
