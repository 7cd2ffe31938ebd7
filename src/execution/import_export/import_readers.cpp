#include "execution/import_export/import_readers.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "execution/import_export/import_text.h"
#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

bool isBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// What both readers share: the position in lines and columns, and the
// reading of one value with its caps.
class TReader {
 public:
  // Failures of the text are reported where the reader stands.
  TReader(TBRNImportText& text, TBRNImportTarget& target, const TBRNImportLayout& layout)
      : Text(text), Target(target), Layout(layout) {
    Text.SetFailEvent([this](const std::string& reason) { Fail(reason, Line, Position()); });
  }
  ~TReader() { Text.SetFailEvent(nullptr); }
  TReader(const TReader&) = delete;
  TReader& operator=(const TReader&) = delete;

  // The 1-based column of the current character.
  int64_t Position() const { return Text.Consumed() - LineStart + 1; }

  // After a CR or LF was consumed: a CR followed by LF is one break, which
  // the LF counts.
  void LineBreakConsumed(char c) {
    if (c == kCR && Text.More() && Text.Peek() == kLF) return;
    ++Line;
    LineStart = Text.Consumed();
  }

  [[noreturn]] void Fail(const std::string& reason, int64_t line, int64_t position) {
    Target.Fail(reason, line, position);
    throw std::logic_error("An import target returned from Fail");
  }

  // Appends c to Value unless Keep is off; a value or line beyond its cap
  // fails at the value's start before the value grows.
  void Append(char c, bool keep, int64_t limit, int64_t line, int64_t position) {
    if (Text.Consumed() - LineStart >= kMaxImportLineLength)
      Fail(FormatText("The line is longer than %s characters",
                      {BigIntToString(kMaxImportLineLength)}),
           Line, Position());
    if (!keep) return;
    if (int64_t(Value.size()) >= limit)
      Fail(FormatText("The value is longer than %s characters", {BigIntToString(limit)}), line,
           position);
    Value.push_back(c);
  }

  // Reads one value into Value, the position of its first character into
  // ValueLine and ValuePosition. Blanks in front are skipped (not line
  // breaks in delimited text, which end the line's row); a value opened by
  // the quote character runs to the closing one; any other value runs to
  // a line break or a stop character (the delimiter, or the tag brackets).
  // With limit 0 the value is skipped without being kept.
  void ReadToken(bool tagged, int64_t limit) {
    Value.clear();
    const char delimiter = Layout.Delimiter;
    while (Text.More()) {
      const char c = Text.Peek();
      if (!isBlank(c)) break;
      if (!tagged && (c == delimiter || c == kCR || c == kLF)) break;
      Text.Advance();
      if (c == kCR || c == kLF) LineBreakConsumed(c);
    }
    ValueLine = Line;
    ValuePosition = Position();
    ValueSeen = false;
    if (Text.More()) {
      const char c = Text.Peek();
      ValueSeen = c != kCR && c != kLF && (tagged ? c != '<' && c != '>' : c != delimiter);
    }
    const bool keep = limit > 0;
    const char quote = Layout.QuoteChar;
    if (quote != 0 && Text.More() && Text.Peek() == quote) {
      Text.Advance();
      while (Text.More()) {
        const char c = Text.Peek();
        Text.Advance();
        if (c == quote) {
          if (!Text.More() || Text.Peek() != quote) return;
          Text.Advance();
        }
        Append(c, keep, limit, ValueLine, ValuePosition);
        if (c == kCR || c == kLF) LineBreakConsumed(c);
      }
      return;
    }
    while (Text.More()) {
      const char c = Text.Peek();
      if (c == kCR || c == kLF) return;
      if (tagged ? (c == '<' || c == '>') : c == delimiter) return;
      Append(c, keep, limit, ValueLine, ValuePosition);
      Text.Advance();
    }
  }

  TBRNImportText& Text;
  TBRNImportTarget& Target;
  const TBRNImportLayout& Layout;
  int64_t Line = 1;
  int64_t LineStart = 0;
  std::string Value;
  // The value held a character other than blanks (also when skipped).
  bool ValueSeen = false;
  int64_t ValueLine = 1;
  int64_t ValuePosition = 1;
};

}  // namespace

bool ReadDelimitedText(TBRNImportText& Text, TBRNImportTarget& Target,
                       const TBRNImportLayout& Layout) {
  TReader reader(Text, Target, Layout);
  std::vector<int32_t> columns;
  if (!Layout.Headers) columns = Layout.Columns;
  int32_t field = 0;
  bool used = false;  // the line held a delimiter or a value
  // Posts the row of the line that just ended; false ends the import.
  auto postLine = [&](int64_t line) {
    if (!used || (Layout.Headers && line == 1)) return true;
    return Target.PostRow(line);
  };
  Target.BeginRow();
  while (Text.More()) {
    const char c = Text.Peek();
    if (c == kCR || c == kLF) {
      const int64_t line = reader.Line;
      Text.Advance();
      reader.LineBreakConsumed(c);
      if (reader.Line == line) continue;  // the CR of a CR LF pair
      if (!postLine(line)) return true;
      if (!Target.Progress()) return false;
      Target.BeginRow();
      field = 0;
      used = false;
    } else if (c == Layout.Delimiter) {
      Text.Advance();
      ++field;
      used = true;
    } else if (Layout.Headers && reader.Line == 1) {
      reader.ReadToken(false, kMaxImportShortText);
      columns.push_back(reader.Value.empty() ? -1 : Target.FindColumn(reader.Value));
    } else {
      const int32_t column = size_t(field) < columns.size() ? columns[size_t(field)] : -1;
      reader.ReadToken(false, column >= 0 ? Target.ValueLimit(column) : 0);
      // A field that held more than blanks makes the line a row, also when
      // it is skipped or its quotes enclose nothing.
      if (reader.ValueSeen) used = true;
      if (!reader.Value.empty())
        Target.StoreValue(column, reader.Value, reader.ValueLine, reader.ValuePosition);
    }
  }
  postLine(reader.Line);
  return true;
}

namespace {

enum class TTagState { Outside, Unknown, Columns, ColumnName, Row, RowColumn };

struct TTag {
  std::string Name;
  bool End = false;    // "</name>"
  bool Empty = false;  // "<name/>"
};

}  // namespace

bool ReadTaggedText(TBRNImportText& Text, TBRNImportTarget& Target,
                    const TBRNImportLayout& Layout) {
  TReader reader(Text, Target, Layout);
  std::vector<int32_t> columns = Layout.Columns;
  TTagState state = TTagState::Outside;
  std::string unknownName;  // the element being skipped
  int32_t unknownDepth = 0;
  std::string openName;  // the column element open in a row
  int32_t openColumn = -1;

  // Reads the tag whose "<" is current.
  auto readTag = [&](TTag& tag) {
    const int64_t line = reader.Line;
    const int64_t position = reader.Position();
    Text.Advance();
    tag.Name.clear();
    tag.End = Text.More() && Text.Peek() == '/';
    if (tag.End) Text.Advance();
    tag.Empty = false;
    while (Text.More()) {
      const char c = Text.Peek();
      if (c == '>' || c == '/' || c == '<' || c == kCR || c == kLF) break;
      if (int64_t(tag.Name.size()) >= kMaxImportShortText)
        reader.Fail("Invalid tag character", line, position);
      tag.Name.push_back(c);
      Text.Advance();
    }
    if (!tag.End && Text.More() && Text.Peek() == '/') {
      Text.Advance();
      tag.Empty = true;
    }
    if (!Text.More() || Text.Peek() != '>')
      reader.Fail("Invalid tag character", reader.Line, reader.Position());
    Text.Advance();
    tag.Name = TrimBlanks(tag.Name);
  };
  auto isName = [](const std::string& name, std::string_view word) {
    return TextEqualsIgnoreCase(name, word);
  };
  auto columnOfName = [&](const std::string& name) {
    const int32_t column = Target.FindColumn(name);
    return std::find(columns.begin(), columns.end(), column) != columns.end() ? column : -1;
  };

  TTag tag;
  while (Text.More()) {
    const char c = Text.Peek();
    if (isBlank(c)) {
      Text.Advance();
      if (c == kCR || c == kLF) reader.LineBreakConsumed(c);
      continue;
    }
    if (c != '<') {
      if (c == '>') reader.Fail("Invalid tag character", reader.Line, reader.Position());
      // Text: a column's value, a column name of the header, or ignored.
      int64_t limit = 0;
      if (state == TTagState::RowColumn && openColumn >= 0)
        limit = Target.ValueLimit(openColumn);
      else if (state == TTagState::ColumnName)
        limit = kMaxImportShortText;
      reader.ReadToken(true, limit);
      if (reader.Value.empty()) continue;
      if (state == TTagState::RowColumn) {
        Target.StoreValue(openColumn, reader.Value, reader.ValueLine, reader.ValuePosition);
      } else if (state == TTagState::ColumnName) {
        const int32_t column = Target.FindColumn(reader.Value);
        if (column >= 0) columns.push_back(column);
      }
      continue;
    }
    const int64_t tagLine = reader.Line;
    readTag(tag);
    switch (state) {
      case TTagState::Outside:
        if (tag.End) reader.Fail("Invalid ending row tag", tagLine, 0);
        if (tag.Empty) break;
        if (isName(tag.Name, "row")) {
          Target.BeginRow();
          state = TTagState::Row;
        } else if (Layout.Headers && isName(tag.Name, "columns")) {
          columns.clear();
          state = TTagState::Columns;
        } else {
          unknownName = tag.Name;
          unknownDepth = 1;
          state = TTagState::Unknown;
        }
        break;
      case TTagState::Unknown:
        if (!isName(tag.Name, unknownName) || tag.Empty) break;
        unknownDepth += tag.End ? -1 : 1;
        if (unknownDepth == 0) state = TTagState::Outside;
        break;
      case TTagState::Columns:
        if (tag.End) {
          if (!isName(tag.Name, "columns")) reader.Fail("Invalid ending row tag", tagLine, 0);
          state = TTagState::Outside;
        } else if (!isName(tag.Name, "column")) {
          reader.Fail("Invalid starting columns tag", tagLine, 0);
        } else if (!tag.Empty) {
          state = TTagState::ColumnName;
        }
        break;
      case TTagState::ColumnName:
        if (!tag.End) reader.Fail("Invalid starting column tag", tagLine, 0);
        if (!isName(tag.Name, "column")) reader.Fail("Invalid ending column tag", tagLine, 0);
        state = TTagState::Columns;
        break;
      case TTagState::Row:
        if (tag.End) {
          if (!isName(tag.Name, "row")) reader.Fail("Invalid ending row tag", tagLine, 0);
          state = TTagState::Outside;
          if (!Target.PostRow(std::max<int64_t>(1, tagLine - 1))) return true;
        } else if (!tag.Empty) {
          openName = tag.Name;
          openColumn = columnOfName(tag.Name);
          state = TTagState::RowColumn;
        }
        break;
      case TTagState::RowColumn:
        if (!tag.End) reader.Fail("Invalid starting column tag", tagLine, 0);
        if (!isName(tag.Name, openName)) reader.Fail("Invalid ending column tag", tagLine, 0);
        state = TTagState::Row;
        break;
    }
    if (!Target.Progress()) return false;
  }
  return true;
}

}  // namespace brn
