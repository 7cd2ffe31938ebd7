#include "foundation/text/sql_text_scanner.h"

#include <stdexcept>

#include "foundation/text/char_classes.h"
#include "foundation/text/identifiers.h"

namespace brn {

namespace {

class SQLScanner {
 public:
  SQLScanner(std::string_view text, size_t at) : Text(text), At(at) {}

  bool AtEnd() const { return At >= Text.size(); }
  char Current() const { return Text[At]; }
  bool Next(char c) const { return At + 1 < Text.size() && Text[At + 1] == c; }
  size_t Index() const { return At; }

  bool AtComment() const {
    return (Current() == '-' && Next('-')) || (Current() == '/' && Next('*'));
  }

  // Returns the comment that starts here and moves past it.
  std::string_view TakeComment() {
    size_t start = At;
    if (Current() == '-') {
      size_t end = Text.find_first_of("\r\n", At);
      At = end == std::string_view::npos ? Text.size() : end;
    } else {
      size_t end = Text.find("*/", At + 2);
      At = end == std::string_view::npos ? Text.size() : end + 2;
    }
    return Text.substr(start, At - start);
  }

  // The quoted text that starts here, quotes included; a doubled quote does
  // not end it, and an unterminated one runs to the end.
  std::string_view TakeQuoted() {
    size_t start = At;
    char quote = Text[At++];
    while (At < Text.size()) {
      if (Text[At] != quote) {
        ++At;
      } else if (At + 1 < Text.size() && Text[At + 1] == quote) {
        At += 2;
      } else {
        ++At;
        break;
      }
    }
    return Text.substr(start, At - start);
  }

  std::string_view TakeName() {
    size_t start = At;
    while (At < Text.size() && IsAlphaNumChar(Text[At])) ++At;
    return Text.substr(start, At - start);
  }

  // At a ":": moves past a parameter reference with a non-empty name and
  // returns the name; returns false (and stays) when the name is empty.
  bool TakeParameter(std::string_view& name) {
    size_t start = At++;
    if (At < Text.size() && Text[At] == '"') {
      size_t close = Text.find('"', At + 1);
      size_t end = close == std::string_view::npos ? Text.size() : close;
      name = Text.substr(At + 1, end - At - 1);
      At = close == std::string_view::npos ? Text.size() : close + 1;
    } else {
      name = TakeName();
    }
    if (!name.empty()) return true;
    At = start;
    return false;
  }

  char TakeChar() { return Text[At++]; }

 private:
  std::string_view Text;
  size_t At;
};

}  // namespace

void ParseSQLText(std::string_view text, int32_t& position, std::string& result, bool tokenMode,
                  char terminator, const TBRNSQLParamHandler& onParam) {
  if (position < 1) throw std::out_of_range("ParseSQLText: position before the text");
  SQLScanner scanner(text, size_t(position) - 1);
  result.clear();
  std::string_view name;
  if (tokenMode) {
    // A parameter reference is no token of its own: its marker is added and
    // reading goes on to the token that follows.
    while (!scanner.AtEnd()) {
      char c = scanner.Current();
      if (BlankChars.Contains(c) || c == terminator) {
        scanner.TakeChar();
      } else if (scanner.AtComment()) {
        scanner.TakeComment();
      } else if (c == ':' && scanner.TakeParameter(name)) {
        if (onParam) onParam(name);
        result += '?';
      } else {
        if (c == '\'' || c == '"')
          result += scanner.TakeQuoted();
        else if (IsAlphaNumChar(c))
          result += scanner.TakeName();
        else
          result += scanner.TakeChar();
        break;
      }
    }
  } else {
    result.reserve(text.size());
    while (!scanner.AtEnd()) {
      char c = scanner.Current();
      if (scanner.AtComment()) {
        result += scanner.TakeComment();
      } else if (c == '\'' || c == '"') {
        result += scanner.TakeQuoted();
      } else if (c == ':' && scanner.TakeParameter(name)) {
        if (onParam) onParam(name);
        result += '?';
      } else {
        result += scanner.TakeChar();
      }
    }
  }
  position = int32_t(scanner.Index() + 1);
}

void ReadSQLToken(std::string_view text, int32_t& position, std::string& token) {
  ParseSQLText(text, position, token, true, ';', nullptr);
}

}  // namespace brn
