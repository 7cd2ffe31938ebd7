// IMPORT TABLE and EXPORT TABLE run as statements on database D: the
// delimited and tagged formats, encodings, options, limits, and the
// all-or-nothing rule of an import.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/cursors/local_cursor.h"
#include "execution/import_export/table_transfer.h"
#include "execution/tables/database_workspace.h"
#include "storage/rows/row_file.h"

namespace brn::testing {
namespace {

using Table = std::vector<std::vector<std::string>>;

struct TransferTest : ::testing::Test, DatabaseWorkspace {
  TransferTest() { CreateTable("Items", {{"ID", dtInteger}, {"Name", dtChar, 20}}); }

  // IMPORT of bytes written as file "in.txt" into Items with the options.
  std::pair<int32_t, std::string> Import(const std::string& bytes, const std::string& options = "",
                                         const std::string& table = "Items") {
    WriteFile("in.txt", bytes);
    return Outcome(
        [&] { Exec("IMPORT TABLE " + table + " FROM \"in.txt\" IN STORE Files " + options); });
  }
  // The bytes EXPORT writes to "out.txt" with the options.
  std::string Export(const std::string& options = "", const std::string& table = "Items") {
    Exec("EXPORT TABLE " + table + " TO \"out.txt\" IN STORE Files " + options);
    return ReadFile("out.txt");
  }
  std::string ImportError(const std::string& file, const std::string& line,
                          const std::string& column, const std::string& reason,
                          const std::string& table = "Items") {
    return "Error importing the file " + FilePath(file) + " into the table " + table + " at line " +
           line + " and column " + column + " (" + reason + ")";
  }
};

// UTF-16 little-endian bytes of Windows-1252 text (ASCII and the euro sign).
std::string Utf16(const std::string& text, bool mark) {
  std::string bytes = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : text) {
    if (c == '\x80') {
      bytes += std::string("\xAC\x20", 2);
    } else {
      bytes += c;
      bytes += '\0';
    }
  }
  return bytes;
}

TEST_F(TransferTest, EveryTypeRoundTripsWithCustomWordsFormatsAndQuotes) {
  CreateTable("AllTypes", {{"ID", dtInteger},
                           {"Name", dtChar, 30},
                           {"Flag", dtBoolean},
                           {"Amount", dtDecimal, 12, 2},
                           {"Ratio", dtFloat},
                           {"Day", dtDate},
                           {"At", dtTime},
                           {"Stamp", dtTimestamp},
                           {"Note", dtLob, 0, 0, stClob},
                           {"Big", dtBigInt}});
  const std::string options =
      "DELIMITER CHAR ';' DATE FORMAT 'dd/mm/yyyy' TIME FORMAT 'hh:mm n' AM LITERAL 'a' "
      "PM LITERAL 'p' DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'ja' FALSE LITERAL 'nein'";
  // Row 1: quotes doubled, the delimiter and a line break inside quotes.
  // Row 2: every value NULL but the key.
  const std::string file =
      "1;\"say \"\"hi\"\"; ok\";ja;1234,5;0,25;31/12/2026;01:30 p;01/02/2026 09:05 a;"
      "\"two\r\nlines\";-9000000000\r\n"
      "2;;;;;;;;;\r\n";
  auto outcome = Import(file, options, "AllTypes");
  ASSERT_EQ(outcome.first, 0) << outcome.second;
  const Table rows = Rows("AllTypes");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "say \"hi\"; ok", "TRUE", "1234.50", "0.25",
                                               "2026-12-31", "13:30", "2026-02-01 09:05",
                                               "two\r\nlines", "-9000000000"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "<null>", "<null>", "<null>", "<null>",
                                               "<null>", "<null>", "<null>", "<null>", "<null>"}));
  EXPECT_EQ(Export(options, "AllTypes"),
            "1;\"say \"\"hi\"\"; ok\";ja;1234,5;0,25;31/12/2026;01:30 p;01/02/2026 09:05 a;"
            "\"two\r\nlines\";-9000000000\r\n"
            "2;;;;;;;;;\r\n");
}

TEST_F(TransferTest, ExportWithoutOptionsUsesTheStatementDefaults) {
  CreateTable("Kinds", {{"Name", dtChar, 10},
                        {"Flag", dtBoolean},
                        {"Amount", dtDecimal, 10, 2},
                        {"Day", dtDate},
                        {"At", dtTime}});
  ASSERT_EQ(Import("\"a,b\",TRUE,2.5,2026-03-04,07:08:09.010\r\n", "", "Kinds").first, 0);
  EXPECT_EQ(Export("", "Kinds"), "\"a,b\",TRUE,2.5,2026-03-04,07:08:09.010\r\n");
}

TEST_F(TransferTest, DelimitedLinesAndHeaders) {
  struct Case {
    const char* Name;
    std::string File;
    std::string Options;
    Table Expected;
  };
  const std::vector<Case> cases = {
      {"last line without a line break", "1,a\r\n2,b", "", {{"1", "a"}, {"2", "b"}}},
      {"LF and CR alone end lines", "1,a\n2,b\r3,c\n", "", {{"1", "a"}, {"2", "b"}, {"3", "c"}}},
      {"empty lines insert nothing",
       "\r\n1,a\r\n\r\n\r\n2,b\r\n\r\n",
       "",
       {{"1", "a"}, {"2", "b"}}},
      {"the only data line after a header, unended", "ID,Name\r\n7,x", "USE HEADERS", {{"7", "x"}}},
      {"header order picks the columns", "Name,ID\r\nq,5\r\n", "USE HEADERS", {{"5", "q"}}},
      {"an unknown header name skips its field",
       "ID,Other,Name\r\n1,zz,a\r\n",
       "USE HEADERS",
       {{"1", "a"}}},
      {"a missing third field keeps its default", "1,\"x,y\",,9\r\n", "", {{"1", "x,y"}}},
      {"blanks before a value skipped, behind it kept", "1,  ab  \r\n", "", {{"1", "ab  "}}},
      {"a trailing blank field does not swallow the next line",
       "1, \r\n2,b\r\n",
       "",
       {{"1", "<null>"}, {"2", "b"}}},
      {"MAX ROWS 1 imports one row", "1,a\r\n2,b\r\n", "MAX ROWS 1", {{"1", "a"}}},
      {"a column list maps the fields", "b,3\r\n", "(Name, ID)", {{"3", "b"}}},
      {"an empty QUOTE CHAR reads quotes as text",
       "1,\"a\"\r\n",
       "QUOTE CHAR ''",
       {{"1", "\"a\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Exec("EMPTY TABLE Items");
    auto outcome = Import(c.File, c.Options);
    ASSERT_EQ(outcome.first, 0) << outcome.second;
    EXPECT_EQ(Rows("Items"), c.Expected);
  }
}

// A table of one column imports every non-empty line; lines of blanks
// count as empty.
TEST_F(TransferTest, OneColumnTableImportsEachLine) {
  CreateTable("Words", {{"Word", dtChar, 10}});
  ASSERT_EQ(Import("alpha\r\n\r\n  \r\nbeta\r\ngamma", "", "Words").first, 0);
  EXPECT_EQ(Rows("Words"), (Table{{"alpha"}, {"beta"}, {"gamma"}}));
}

TEST_F(TransferTest, ExportLimitsAndHeaders) {
  ASSERT_EQ(Import("1,a\r\n2,b\r\n").first, 0);
  EXPECT_EQ(Export("MAX ROWS 1"), "1,\"a\"\r\n");
  EXPECT_EQ(Export("INCLUDE HEADERS MAX ROWS 0"), "\"ID\",\"Name\"\r\n");
  EXPECT_EQ(Export("QUOTE CHAR '' INCLUDE HEADERS"), "ID,Name\r\n1,a\r\n2,b\r\n");
  EXPECT_EQ(Export("(Name) DELIMITER CHAR '|'"), "\"a\"\r\n\"b\"\r\n");
  Exec("EMPTY TABLE Items");
  EXPECT_EQ(Export("INCLUDE HEADERS"), "\"ID\",\"Name\"\r\n");
  EXPECT_EQ(Export(), "");
}

TEST_F(TransferTest, UnicodeFilesRoundTripTheEuroSign) {
  ASSERT_EQ(Import("1,\x80 5\r\n").first, 0);
  const std::string exported = Export("ENCODING UNICODE");
  EXPECT_EQ(exported, Utf16("1,\"\x80 5\"\r\n", true));
  EXPECT_EQ(Export("ENCODING ANSI"), "1,\"\x80 5\"\r\n");

  // Read back with the encoding detected: by the mark, by a zero byte, and
  // plain bytes.
  for (const std::string& file :
       {exported, Utf16("1,\"\x80 5\"\r\n", false), std::string("1,\"\x80 5\"\r\n")}) {
    Exec("EMPTY TABLE Items");
    auto outcome = Import(file);
    ASSERT_EQ(outcome.first, 0) << outcome.second;
    EXPECT_EQ(Rows("Items"), (Table{{"1", "\x80 5"}}));
  }
}

TEST_F(TransferTest, UnicodeCharacterOutsideTheCodePageFailsAtItsPosition) {
  ASSERT_EQ(Import("9,keep\r\n").first, 0);
  // Line 2, column 5: "2,ab" then U+0100.
  std::string file = Utf16("1,x\r\n2,ab", true) + std::string("\x00\x01", 2) + Utf16("\r\n", false);
  auto outcome = Import(file);
  EXPECT_EQ(outcome.first, kImportErrorCode);
  EXPECT_EQ(outcome.second,
            ImportError("in.txt", "2", "5",
                        "The character U+0100 cannot be represented in the engine's text"));
  EXPECT_EQ(Rows("Items"), (Table{{"9", "keep"}}));
  // A lone last byte of UTF-16 text.
  outcome = Import(Utf16("1,x", true) + "2");
  EXPECT_EQ(outcome.second,
            ImportError("in.txt", "1", "4", "The import file is truncated or incomplete"));
}

TEST_F(TransferTest, BadValueFailsAtItsLineAndColumnAndLeavesTheTableAsItWas) {
  CreateTable("Dated", {{"ID", dtInteger}, {"Name", dtChar, 20}, {"Day", dtDate}});
  const std::string file = "1,abc,2026-01-01\r\n2,abc,2026-01-02\r\n3,abc,2026-13-45\r\n";
  auto outcome = Import(file, "", "Dated");
  EXPECT_EQ(outcome.first, kImportErrorCode);
  EXPECT_EQ(outcome.second,
            ImportError("in.txt", "3", "7", "Improperly-formatted date value", "Dated"));
  EXPECT_TRUE(Rows("Dated").empty());

  // The same with a row cache of two rows: the first two rows were flushed
  // before the failure and still go.
  CursorScope open(*Database, "Dated", true);
  auto& manager = dynamic_cast<TBRNTableManager&>(
      static_cast<TBRNLocalCursor*>(open.Cursor)->GetTableManager());
  manager.GetRowsetManager()->SetCacheCapacity(2);
  ASSERT_EQ(manager.GetRowCacheCapacity(), 2);
  outcome = Import(file, "", "Dated");
  EXPECT_EQ(outcome.first, kImportErrorCode);
  EXPECT_EQ(outcome.second,
            ImportError("in.txt", "3", "7", "Improperly-formatted date value", "Dated"));
  EXPECT_TRUE(Rows("Dated").empty());
}

TEST_F(TransferTest, ValueErrorsNameTheirPosition) {
  CreateTable("Typed", {{"Flag", dtBoolean}, {"Ratio", dtFloat}, {"Short", dtChar, 3}});
  struct Case {
    std::string File;
    std::string Line;
    std::string Column;
    std::string Reason;
  };
  const std::vector<Case> cases = {
      {"maybe,1,a\r\n", "1", "1", "Improperly-formatted boolean value"},
      {"TRUE,1,a\r\nTRUE,  x1,a\r\n", "2", "8", "Improperly-formatted float value"},
      {"TRUE,1,abcd\r\n", "1", "8", "The value is longer than 3 characters"},
      {"TRUE,1,\"ab\r\ncd\"\r\n", "1", "8", "The value is longer than 3 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    auto outcome = Import(c.File, "", "Typed");
    EXPECT_EQ(outcome.first, kImportErrorCode);
    EXPECT_EQ(outcome.second, ImportError("in.txt", c.Line, c.Column, c.Reason, "Typed"));
    EXPECT_TRUE(Rows("Typed").empty());
  }
}

TEST_F(TransferTest, TaggedFilesRoundTripEscapedText) {
  ASSERT_EQ(Import("1,a<b\r\n2,\"x&y\"\r\n").first, 0);
  const std::string tagged = Export("FORMAT XML INCLUDE HEADERS");
  EXPECT_EQ(tagged,
            "<columns>\r\n<column>\"ID\"</column>\r\n<column>\"Name\"</column>\r\n</columns>\r\n"
            "<row>\r\n<ID>1</ID>\r\n<Name>\"a&ltb\"</Name>\r\n</row>\r\n"
            "<row>\r\n<ID>2</ID>\r\n<Name>\"x&ampy\"</Name>\r\n</row>\r\n");
  Exec("EMPTY TABLE Items");
  ASSERT_EQ(Import(tagged, "FORMAT XML USE HEADERS").first, 0);
  EXPECT_EQ(Rows("Items"), (Table{{"1", "a<b"}, {"2", "x&y"}}));
  // Without headers the columns element is skipped like any unknown one;
  // MAX ROWS stops after the first row.
  Exec("EMPTY TABLE Items");
  ASSERT_EQ(Import(tagged, "FORMAT XML MAX ROWS 1").first, 0);
  EXPECT_EQ(Rows("Items"), (Table{{"1", "a<b"}}));
}

TEST_F(TransferTest, TaggedErrors) {
  struct Case {
    std::string File;
    std::string Line;
    std::string Reason;
  };
  const std::vector<Case> cases = {
      {"<row>\r\n<ID>1</ID\r\n</row>\r\n", "2", "Invalid tag character"},
      {"<row>\r\n<ID>1</Name>\r\n</row>\r\n", "2", "Invalid ending column tag"},
      {"<row>\r\n<ID><Name>1</Name></ID>\r\n</row>\r\n", "2", "Invalid starting column tag"},
      {"<columns>\r\n<col>ID</col>\r\n</columns>\r\n", "2", "Invalid starting columns tag"},
      {"<row>\r\n<ID>1</ID>\r\n</rows>\r\n", "3", "Invalid ending row tag"},
      {"</row>\r\n", "1", "Invalid ending row tag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    auto outcome = Import(c.File, "FORMAT XML USE HEADERS");
    EXPECT_EQ(outcome.first, kImportErrorCode);
    const std::string column = c.Reason == "Invalid tag character" ? "10" : "0";
    EXPECT_EQ(outcome.second, ImportError("in.txt", c.Line, column, c.Reason));
    EXPECT_TRUE(Rows("Items").empty());
  }
}

}  // namespace
}  // namespace brn::testing
