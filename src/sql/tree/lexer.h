#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sql/tree/expr_operations.h"
#include "sql/tree/keywords.h"

namespace brn {

// Token kinds returned by NextToken. Any other value is a single character
// whose code is the kind ("(" is 40, "," is 44); characters 0-32 are blanks
// and never form a token, so those kinds are always 33 or more. Kind 2 is not
// produced.
inline constexpr uint8_t ttEndOfText = 0;
inline constexpr uint8_t ttIdentifier = 1;        // also every keyword
inline constexpr uint8_t ttString = 3;            // 'text' with '' for one apostrophe
inline constexpr uint8_t ttQuotedIdentifier = 4;  // "name" with "" for one quote
inline constexpr uint8_t ttCharCode = 5;          // # followed by digits
inline constexpr uint8_t ttInteger = 6;
inline constexpr uint8_t ttFloat = 7;
inline constexpr uint8_t ttBytes = 8;  // X'hex digits' (digits not checked)

// The scanner fields that a one-token lookahead saves and restores.
struct TBRNScanState {
  uint8_t TokenKind = ttEndOfText;
  int32_t ScanPos = 1;
  int32_t TokenStart = 1;
  int32_t TokenLineStart = 1;
  int32_t TokenLine = 1;
  int32_t Line = 1;
  int32_t LineStart = 1;
};

// The lexer at the bottom of the SQL parser: reads a text one token at a
// time, skipping blanks and "--" and "/* */" comments and counting lines (CR
// LF, lone CR and lone LF each end a line). Keywords are identifier tokens
// that the grammar compares with a word ignoring case, so every keyword can
// also serve as a name.
//
// Positions are 1-based character positions in the text; lines and columns
// are 1-based. A lexer is used by one thread at a time.
class TBRNExprLexer {
 public:
  TBRNExprLexer() = default;
  virtual ~TBRNExprLexer() = default;
  TBRNExprLexer(const TBRNExprLexer&) = delete;
  TBRNExprLexer& operator=(const TBRNExprLexer&) = delete;

  // Starts over on Text, which must stay alive and unchanged while it is
  // scanned. Every scanner field becomes 1 and the token kind 0; no token is
  // read yet.
  void BeginScan(std::string_view Text);
  // Scans one token, stores its kind and start, and returns the kind. An
  // unterminated comment, string, quoted identifier or byte literal, and a
  // line break inside a quoted identifier, go to ExpectedChar.
  virtual uint8_t NextToken();

  // The current token as written, from its start to the scan position.
  std::string TokenSourceText() const;
  // The current token's value: without its delimiters for strings, quoted
  // identifiers and byte literals; doubled apostrophes undoubled in strings,
  // doubled apostrophes and then doubled double quotes in every other kind.
  std::string TokenText() const;
  // The column of the current token; for a token start beyond the text, the
  // column of the last character of the text (1 when that line is empty).
  int32_t TokenColumn() const;
  // The current token start lies beyond the end of the text.
  bool TokenAtEnd() const { return TokenStart > int32_t(ScanText.size()); }

  bool IsToken(uint8_t Kind) const { return TokenKind == Kind; }
  bool IsIdentifierToken() const {
    return TokenKind == ttIdentifier || TokenKind == ttQuotedIdentifier;
  }
  bool IsStringToken() const { return TokenKind == ttString; }
  // An identifier token (never a quoted one) equal to Word ignoring case.
  bool IsKeyword(std::string_view Word) const;

  // The operation code of the current identifier token (plain or quoted) in
  // the function, statement or procedural keyword table; opNone when it is
  // not there or the token is no identifier.
  TBRNExprOperation LookupFunction() const;
  TBRNExprOperation LookupStatement() const;
  TBRNExprOperation LookupRoutineStatement() const;

  TBRNScanState SaveState() const;
  void RestoreState(const TBRNScanState& State);

  // The text being scanned.
  std::string_view ScanText;
  // Scanner state: the current token's kind, the position of the next
  // character, the token start with the start and number of the line that
  // held it, and the current line number and line start.
  uint8_t TokenKind = ttEndOfText;
  int32_t ScanPos = 1;
  int32_t TokenStart = 1;
  int32_t TokenLineStart = 1;
  int32_t TokenLine = 1;
  int32_t Line = 1;
  int32_t LineStart = 1;

 protected:
  // Reports that the character C is missing (the error form of the parser).
  // It must raise and never return; the token start and the line fields
  // point where C was expected. A return is answered with std::logic_error.
  virtual void ExpectedChar(char C) = 0;

 private:
  // The character at a 1-based position; NUL outside the text (NUL is never
  // a character the scanner looks for).
  char charAt(int32_t Pos) const;
  // The current token as written, a view of ScanText (empty beyond its end).
  std::string_view tokenSource() const;
  TBRNExprOperation lookupIn(std::span<const TBRNKeywordEntry> Table) const;
  void advanceChar();
  void skipBlanksAndComments();
  void missing(char C);
};

}  // namespace brn
