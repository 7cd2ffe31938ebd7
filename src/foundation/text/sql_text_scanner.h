#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace brn {

// Called with the name of each parameter reference, in order of appearance.
using TBRNSQLParamHandler = std::function<void(std::string_view name)>;

// Scans SQL text from the 1-based position and leaves the position after what
// it consumed. Blanks are the characters 0-32; comments run from "--" to the
// end of the line and from "/*" to "*/"; strings and quoted names end at
// their quote when it is not doubled. A parameter reference is ":" followed
// by a quoted name or a run of identifier characters.
// Whole-text mode copies the text unchanged into result except that each
// parameter reference outside comments and strings becomes "?" (and is
// reported to onParam). Token mode skips blanks, comments and terminators and
// returns one token: a quoted string with its quotes, a run of identifier
// characters, or one other character; a parameter reference met on the way
// adds "?" in front of the token that follows. Empty at the end of the text.
void ParseSQLText(std::string_view text, int32_t& position, std::string& result, bool tokenMode,
                  char terminator, const TBRNSQLParamHandler& onParam);

// The next token of SQL text (token mode with ";" as terminator).
void ReadSQLToken(std::string_view text, int32_t& position, std::string& token);

}  // namespace brn
