#include "sql/tree/lexer.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

bool isIdentifierStart(char c) {
  return IdentifierStartChars.Contains(static_cast<unsigned char>(c));
}

bool isIdentifierChar(char c) {
  return isIdentifierStart(c) || DigitChars.Contains(static_cast<unsigned char>(c));
}

bool isDigit(char c) {
  return DigitChars.Contains(static_cast<unsigned char>(c));
}

bool isBlank(char c) {
  return BlankChars.Contains(static_cast<unsigned char>(c));
}

bool isLineBreak(char c) {
  return LineBreakChars.Contains(static_cast<unsigned char>(c));
}

bool isExponent(char c) {
  return ExponentChars.Contains(static_cast<unsigned char>(c));
}

bool isSign(char c) {
  return SignChars.Contains(static_cast<unsigned char>(c));
}

}  // namespace

void TBRNExprLexer::BeginScan(std::string_view Text) {
  if (Text.size() >= size_t(INT32_MAX)) throw std::length_error("TBRNExprLexer: text too long");
  ScanText = Text;
  RestoreState(TBRNScanState());
}

TBRNScanState TBRNExprLexer::SaveState() const {
  return {TokenKind, ScanPos, TokenStart, TokenLineStart, TokenLine, Line, LineStart};
}

void TBRNExprLexer::RestoreState(const TBRNScanState& State) {
  TokenKind = State.TokenKind;
  ScanPos = State.ScanPos;
  TokenStart = State.TokenStart;
  TokenLineStart = State.TokenLineStart;
  TokenLine = State.TokenLine;
  Line = State.Line;
  LineStart = State.LineStart;
}

char TBRNExprLexer::charAt(int32_t Pos) const {
  return Pos >= 1 && size_t(Pos) <= ScanText.size() ? ScanText[size_t(Pos) - 1] : '\0';
}

void TBRNExprLexer::advanceChar() {
  char c = charAt(ScanPos);
  ++ScanPos;
  if (c == '\r' || c == '\n') {
    if (c == '\r' && ScanPos <= int32_t(ScanText.size()) && charAt(ScanPos) == '\n') ++ScanPos;
    ++Line;
    LineStart = ScanPos;
  }
}

void TBRNExprLexer::missing(char C) {
  TokenLineStart = LineStart;
  TokenLine = Line;
  TokenKind = ttEndOfText;
  ExpectedChar(C);
  throw std::logic_error("TBRNExprLexer: ExpectedChar returned");
}

void TBRNExprLexer::skipBlanksAndComments() {
  const int32_t length = int32_t(ScanText.size());
  for (;;) {
    bool skipped = false;
    while (ScanPos <= length && isBlank(charAt(ScanPos))) {
      advanceChar();
      skipped = true;
    }
    if (ScanPos + 1 <= length && charAt(ScanPos) == '-' && charAt(ScanPos + 1) == '-') {
      // The line break that ends the comment is skipped as a blank.
      while (ScanPos <= length && !isLineBreak(charAt(ScanPos))) ++ScanPos;
      skipped = true;
    } else if (ScanPos + 1 <= length && charAt(ScanPos) == '/' && charAt(ScanPos + 1) == '*') {
      ScanPos += 2;
      for (;;) {
        if (ScanPos > length) {
          TokenStart = ScanPos;
          missing('/');
        }
        if (charAt(ScanPos) == '*' && charAt(ScanPos + 1) == '/') {
          ScanPos += 2;
          break;
        }
        advanceChar();
      }
      skipped = true;
    }
    if (!skipped) return;
  }
}

uint8_t TBRNExprLexer::NextToken() {
  const int32_t length = int32_t(ScanText.size());
  skipBlanksAndComments();
  TokenStart = ScanPos;
  TokenLineStart = LineStart;
  TokenLine = Line;
  if (ScanPos > length) {
    TokenKind = ttEndOfText;
    return TokenKind;
  }
  const char c = charAt(ScanPos);
  if (isIdentifierStart(c)) {
    if ((c == 'X' || c == 'x') && charAt(ScanPos + 1) == '\'') {
      // A byte literal starts at its apostrophe.
      ++ScanPos;
      TokenStart = ScanPos;
      ++ScanPos;
      for (;;) {
        if (ScanPos > length) {
          TokenStart = ScanPos;
          missing('\'');
        }
        if (charAt(ScanPos) == '\'') break;
        advanceChar();
      }
      ++ScanPos;
      TokenKind = ttBytes;
    } else {
      while (ScanPos <= length && isIdentifierChar(charAt(ScanPos))) ++ScanPos;
      TokenKind = ttIdentifier;
    }
  } else if (c == '#') {
    ++ScanPos;
    while (ScanPos <= length && isDigit(charAt(ScanPos))) ++ScanPos;
    TokenKind = ttCharCode;
  } else if (c == '\'' || c == '"') {
    ++ScanPos;
    for (;;) {
      if (ScanPos > length) {
        TokenStart = ScanPos;
        missing(c);
      }
      char next = charAt(ScanPos);
      if (next == c) {
        if (charAt(ScanPos + 1) != c) break;
        ScanPos += 2;
      } else if (c == '"' && isLineBreak(next)) {
        TokenStart = ScanPos;
        missing(c);
      } else {
        advanceChar();
      }
    }
    ++ScanPos;
    TokenKind = c == '\'' ? ttString : ttQuotedIdentifier;
  } else if (isDigit(c)) {
    while (ScanPos <= length && isDigit(charAt(ScanPos))) ++ScanPos;
    bool isFloat = false;
    while (ScanPos <= length) {
      char next = charAt(ScanPos);
      bool afterExponent = isExponent(charAt(ScanPos - 1));
      if (!(isDigit(next) || next == '.' || isExponent(next) || (isSign(next) && afterExponent)))
        break;
      ++ScanPos;
      isFloat = true;
    }
    TokenKind = isFloat ? ttFloat : ttInteger;
  } else if (c == '.' && isDigit(charAt(ScanPos + 1))) {
    ++ScanPos;
    while (ScanPos <= length) {
      char next = charAt(ScanPos);
      bool afterExponent = isExponent(charAt(ScanPos - 1));
      if (!(isDigit(next) || isExponent(next) || (isSign(next) && afterExponent))) break;
      ++ScanPos;
    }
    TokenKind = ttFloat;
  } else {
    ++ScanPos;
    TokenKind = static_cast<uint8_t>(c);
  }
  return TokenKind;
}

std::string_view TBRNExprLexer::tokenSource() const {
  const int32_t length = int32_t(ScanText.size());
  int32_t first = std::min(TokenStart, length + 1);
  int32_t last = std::min(ScanPos, length + 1);
  if (last <= first) return std::string_view();
  return ScanText.substr(size_t(first) - 1, size_t(last - first));
}

std::string TBRNExprLexer::TokenSourceText() const {
  return std::string(tokenSource());
}

std::string TBRNExprLexer::TokenText() const {
  std::string_view text = tokenSource();
  if (TokenKind == ttString || TokenKind == ttQuotedIdentifier || TokenKind == ttBytes) {
    text = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view();
  }
  // Undoubling apostrophes never joins two runs of double quotes (a run of
  // apostrophes keeps at least one), so each character can be undoubled on
  // its own, and only when it occurs at all: most tokens are copied once.
  const bool undoubleApostrophes = text.find('\'') != std::string_view::npos;
  const bool undoubleQuotes = TokenKind != ttString && text.find('"') != std::string_view::npos;
  if (!undoubleApostrophes && !undoubleQuotes) return std::string(text);
  std::string result = undoubleApostrophes ? UndoubleChar('\'', text) : std::string(text);
  if (undoubleQuotes) result = UndoubleChar('"', result);
  return result;
}

int32_t TBRNExprLexer::TokenColumn() const {
  const int32_t length = int32_t(ScanText.size());
  if (TokenStart <= length) return TokenStart - TokenLineStart + 1;
  if (length < TokenLineStart) return 1;
  return length - TokenLineStart + 1;
}

bool TBRNExprLexer::IsKeyword(std::string_view Word) const {
  if (TokenKind != ttIdentifier) return false;
  // A plain identifier holds no quote and no blank, so its source text is its
  // value and compares here without a copy.
  const std::string_view token = tokenSource();
  if (token.size() != Word.size()) {
    // The text comparison ignores trailing blanks, which only Word can have.
    return !Word.empty() && Word.back() == ' ' && TextEqualsIgnoreCase(token, Word);
  }
  for (size_t i = 0; i < token.size(); ++i) {
    if (token[i] != Word[i] && UpperChar(token[i]) != UpperChar(Word[i])) return false;
  }
  return true;
}

TBRNExprOperation TBRNExprLexer::lookupIn(std::span<const TBRNKeywordEntry> Table) const {
  if (TokenKind == ttIdentifier) return LookupKeyword(Table, tokenSource());
  if (TokenKind == ttQuotedIdentifier) return LookupKeyword(Table, TokenText());
  return opNone;
}

TBRNExprOperation TBRNExprLexer::LookupFunction() const {
  return lookupIn(FunctionKeywords);
}

TBRNExprOperation TBRNExprLexer::LookupStatement() const {
  return lookupIn(StatementKeywords);
}

TBRNExprOperation TBRNExprLexer::LookupRoutineStatement() const {
  return lookupIn(RoutineStatementKeywords);
}

}  // namespace brn
