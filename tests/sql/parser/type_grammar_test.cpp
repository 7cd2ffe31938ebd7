// The data type clause and the text conversion options, as tables of (text,
// printed node or "error <line>:<column> <message>").

#include <gtest/gtest.h>

#include <string>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree_printer.h"

namespace brn {
namespace {

using testing::DescribeError;
using testing::PrintTree;
using testing::TreeHolder;

enum class Clause { Type, OptionalType, TypeWithLength, Format };

// Parses Text with one clause method into a fresh node and prints the node;
// a token left over is shown after " | ".
std::string parseClause(Clause clause, std::string_view text) {
  TBRNCompiledExpr owner;
  owner.SQL = std::string(text);
  owner.SQLLength = int32_t(owner.SQL.size());
  TBRNExprParser parser;
  TreeHolder node(parser.NewNode(clause == Clause::Format ? tkList : tkDataType, opNone));
  try {
    parser.BeginParse(owner);
    std::string result;
    if (clause == Clause::Format) {
      parser.ParseFormatOptions(node.Get());
    } else if (!parser.ParseDataType(node.Get(), clause == Clause::OptionalType,
                                     clause == Clause::TypeWithLength)) {
      result = "none";
    }
    if (result.empty()) result = PrintTree(node.Get());
    if (node->Parenthesized) result += " (parenthesized)";
    if (!parser.TokenAtEnd()) result += " | " + parser.TokenSourceText();
    return result;
  } catch (const EBRNException& error) {
    return DescribeError(error);
  }
}

struct ClauseCase {
  const char* Text;
  const char* Expected;
};

TEST(TypeGrammar, EveryDataTypeClause) {
  const ClauseCase cases[] = {
      {"BOOLEAN", "DataType:Boolean"},
      {"bool", "DataType:Boolean"},
      {"SMALLINT", "DataType:SmallInt"},
      {"INTEGER", "DataType:Integer"},
      {"INT", "DataType:Integer"},
      {"BIGINT", "DataType:BigInt"},
      {"DECIMAL", "DataType:Decimal(nil, nil)"},
      {"NUMERIC(10)", "DataType:Decimal(10) (parenthesized)"},
      {"DECIMAL(10, 2)", "DataType:Decimal(10, 2) (parenthesized)"},
      {"FLOAT", "DataType:Float"},
      {"FLOAT(8)", "DataType:Float(8) (parenthesized)"},
      {"FLOAT(8,2)", "DataType:Float(8, 2) (parenthesized)"},
      {"DOUBLE PRECISION", "DataType:Float"},
      {"CHAR", "DataType:Char(1, nil)"},
      {"CHARACTER(10)", "DataType:Char(10, nil) (parenthesized)"},
      {"CHAR(10) COLLATE DEU", "DataType:Char(10, CollationName DEU) (parenthesized)"},
      {"VARCHAR", "DataType:VarChar(nil, nil)"},
      {"VARCHAR(40)", "DataType:VarChar(40, nil) (parenthesized)"},
      {"CHAR VARYING(40)", "DataType:VarChar(40, nil) (parenthesized)"},
      {"CHARACTER VARYING COLLATE ANSI_CI", "DataType:VarChar(nil, CollationName ANSI_CI)"},
      {"CHARACTER LARGE OBJECT", "DataType:CLOB(nil, nil)"},
      {"CHARACTER LARGE OBJECT COLLATE X", "DataType:CLOB(nil, CollationName X)"},
      {"CLOB COLLATE X", "DataType:CLOB(nil, CollationName X)"},
      {"GUID", "DataType:GUID(nil, nil)"},
      {"BYTE", "DataType:Byte(1)"},
      {"BYTE(16)", "DataType:Byte(16) (parenthesized)"},
      {"BYTE VARYING", "DataType:VarByte(nil)"},
      {"VARBYTE(100)", "DataType:VarByte(100) (parenthesized)"},
      {"BINARY LARGE OBJECT", "DataType:BLOB"},
      {"BLOB", "DataType:BLOB"},
      {"BLOB COLLATE X", "DataType:BLOB | COLLATE"},
      {"DATE", "DataType:Date"},
      {"TIME", "DataType:Time"},
      {"TIMESTAMP", "DataType:Timestamp"},
      {"INTERVAL DAY TO SECOND", "DataType:Interval Day To Second"},
      {"INTERVAL YEAR", "DataType:Interval Year"},
      // The length is a primary without flags: names are fine, "?" is not.
      {"VARCHAR(n)", "DataType:VarChar(n, nil) (parenthesized)"},
      {"VARCHAR(?)",
       "error 1:9 Invalid expression ? found, dynamic parameter references not allowed"},
      {"VARCHAR(1 + 2)", "error 1:11 Expected ) but instead found +"},
      {"DECIMAL(10 2)", "error 1:12 Expected , but instead found 2"},
      {"DECIMAL(10,", "error 1:11 Missing expression"},
      {"DOUBLE", "error 1:6 Missing PRECISION"},
      {"CHAR LARGE OBJECT", "DataType:Char(1, nil) | LARGE"},
      {"CHARACTER LARGE", "error 1:15 Missing OBJECT"},
      {"BINARY OBJECT", "error 1:8 Expected LARGE but instead found OBJECT"},
      {"INTERVAL", "error 1:8 Missing YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND"},
      {"CHAR COLLATE", "error 1:12 Missing collation name"},
      {"STRING", "error 1:1 Expected data type but instead found STRING"},
      {"", "error 1:1 Missing data type"},
  };
  for (const ClauseCase& c : cases)
    EXPECT_EQ(parseClause(Clause::Type, c.Text), c.Expected) << "text: " << c.Text;
}

TEST(TypeGrammar, OptionalAndLengthRequired) {
  EXPECT_EQ(parseClause(Clause::OptionalType, "NOT NULL"), "none | NOT");
  EXPECT_EQ(parseClause(Clause::OptionalType, "INTEGER NOT NULL"), "DataType:Integer | NOT");
  const ClauseCase required[] = {
      {"VARCHAR(5)", "DataType:VarChar(5, nil) (parenthesized)"},
      {"VARCHAR", "error 1:7 Missing ("},
      {"CHAR NOT NULL", "error 1:6 Expected ( but instead found NOT"},
      {"BYTE VARYING", "error 1:12 Missing ("},
      {"VARBYTE", "error 1:7 Missing ("},
      {"CLOB", "DataType:CLOB(nil, nil)"},
      {"GUID", "DataType:GUID(nil, nil)"},
      {"INTEGER", "DataType:Integer"},
  };
  for (const ClauseCase& c : required)
    EXPECT_EQ(parseClause(Clause::TypeWithLength, c.Text), c.Expected) << "text: " << c.Text;
}

TEST(TypeGrammar, DefaultLengthIsAnIntegerConstant) {
  TBRNCompiledExpr owner;
  owner.SQL = "CHAR";
  owner.SQLLength = 4;
  TBRNExprParser parser;
  parser.BeginParse(owner);
  TreeHolder node(parser.NewNode(tkDataType, opNone));
  ASSERT_TRUE(parser.ParseDataType(node.Get(), false, false));
  ASSERT_EQ(node->ArgumentCount(), 2);
  EXPECT_EQ(node->Argument(0)->Kind, tkConstant);
  EXPECT_EQ(node->Argument(0)->DataType, dtInteger);
  EXPECT_EQ(node->Argument(0)->Text, "1");
  EXPECT_EQ(node->SubType, stFixed);
}

TEST(TypeGrammar, FormatOptions) {
  const ClauseCase cases[] = {
      {"", "List(nil, nil, nil, nil)"},
      {"DATE FORMAT 'yyyy-mm-dd'", "List('yyyy-mm-dd', nil, nil, nil)"},
      {"TIME FORMAT 'hh:mm ampm'", "List(nil, 'hh:mm ampm'(nil, nil), nil, nil)"},
      {"TIME FORMAT 'hh:mm ampm' AM LITERAL 'a' PM LITERAL 'p'",
       "List(nil, 'hh:mm ampm'('a', 'p'), nil, nil)"},
      {"DECIMAL CHAR ','", "List(nil, nil, ',', nil)"},
      {"BOOLEAN TRUE LITERAL 'Y' FALSE LITERAL 'N'", "List(nil, nil, nil, List('Y', 'N'))"},
      {"DATE FORMAT 'dd.mm.yyyy' TIME FORMAT 'hh:mm' DECIMAL CHAR ',' BOOLEAN TRUE LITERAL 'J' "
       "FALSE LITERAL 'N'",
       "List('dd.mm.yyyy', 'hh:mm'(nil, nil), ',', List('J', 'N'))"},
      // The clauses come in their fixed order.
      {"DECIMAL CHAR ',' DATE FORMAT 'x'", "List(nil, nil, ',', nil) | DATE"},
      {"DATE 'x'", "error 1:6 Expected FORMAT but instead found 'x'"},
      {"DECIMAL ','", "error 1:9 Expected CHAR but instead found ','"},
      {"TIME FORMAT 'x' AM 'a'", "error 1:20 Expected LITERAL but instead found 'a'"},
      {"TIME FORMAT 'x' AM LITERAL 'a'", "error 1:30 Missing PM"},
      {"BOOLEAN LITERAL 'Y'", "error 1:9 Expected TRUE but instead found LITERAL"},
      {"BOOLEAN TRUE LITERAL 'Y' FALSE 'N'", "error 1:32 Expected LITERAL but instead found 'N'"},
      {"DATE FORMAT ?",
       "error 1:13 Invalid expression ? found, dynamic parameter references not allowed"},
  };
  for (const ClauseCase& c : cases)
    EXPECT_EQ(parseClause(Clause::Format, c.Text), c.Expected) << "text: " << c.Text;
}

}  // namespace
}  // namespace brn
