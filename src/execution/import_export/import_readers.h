// The readers of import files: the delimited text and the tagged (XML-like)
// text that the exporter writes. A reader turns characters into rows of
// values and hands them to a target; it allocates nothing beyond the value
// it is reading, which is capped before it grows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brn {

class TBRNImportText;

// Caps of untrusted import text, in characters.
// A value of a BLOB or CLOB column, and the characters of one line.
inline constexpr int64_t kMaxImportLobLength = int64_t(1) << 24;
inline constexpr int64_t kMaxImportLineLength = int64_t(1) << 26;
// A value of a column whose text has no declared length (numbers, dates,
// Booleans, intervals), a column name of a header and a tag name.
inline constexpr int64_t kMaxImportShortText = 1024;

// What a reader fills. Columns are numbered by the target (its columns in
// its own order); -1 is "no column", whose values are skipped.
class TBRNImportTarget {
 public:
  virtual ~TBRNImportTarget() = default;

  // The column named Name (ignoring case); -1 when none.
  virtual int32_t FindColumn(std::string_view Name) = 0;
  // The longest text a value of Column may have (Column >= 0).
  virtual int64_t ValueLimit(int32_t Column) = 0;
  // A new row with the columns' initial values.
  virtual void BeginRow() = 0;
  // Stores non-empty Text (as read: quotes removed, entities kept) in
  // Column of the row; Line and Position (both 1-based) locate the value's
  // first character for errors.
  virtual void StoreValue(int32_t Column, std::string_view Text, int64_t Line,
                          int64_t Position) = 0;
  // Writes the row. Answers false when the import is to end (the row
  // limit was reached).
  virtual bool PostRow(int64_t Line) = 0;
  // Called after each step of the reader; false ends the import.
  virtual bool Progress() = 0;
  // Raises the import error for Reason at Line and Position (0: the whole
  // row); never returns.
  [[noreturn]] virtual void Fail(const std::string& Reason, int64_t Line, int64_t Position) = 0;
};

// The reader's options.
struct TBRNImportLayout {
  char Delimiter = ',';
  char QuoteChar = '"';  // 0: none
  bool Headers = false;
  // The columns of the fields in order (delimited) or the columns that
  // tagged elements may fill; with Headers the header replaces them.
  std::vector<int32_t> Columns;
};

// Each reads Text to its end, until the target's PostRow or Progress
// answers false, or the first failure (raised through the target's Fail).
// Answer: false when Progress ended it.
//
// Delimited: one row per non-empty line (a line that holds a delimiter or
// a value); CR LF, LF and CR end lines; a quoted value may hold the
// delimiter, line breaks and doubled quote characters; blanks in front of a
// value are skipped, blanks behind an unquoted one kept. With Headers the
// first line names the columns (an unknown name skips its field).
bool ReadDelimitedText(TBRNImportText& Text, TBRNImportTarget& Target,
                       const TBRNImportLayout& Layout);
// Tagged: "row" elements holding one element per column named by the
// column; with Headers a "columns" element of "column" elements names the
// columns first. Tag errors fail with "Invalid tag character", "Invalid
// ending column tag", "Invalid starting column tag", "Invalid starting
// columns tag" and "Invalid ending row tag"; a row that fails to insert is
// reported at the line before its end tag.
bool ReadTaggedText(TBRNImportText& Text, TBRNImportTarget& Target, const TBRNImportLayout& Layout);

}  // namespace brn
