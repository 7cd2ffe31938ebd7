// CAST: plain conversion between every pair of types, and the format
// options (DATE FORMAT, TIME FORMAT with AM and PM words, DECIMAL CHAR,
// BOOLEAN words) in both directions.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_test_support.h"
#include "sql/evaluator/typed_tree_builder.h"

namespace brn::testing {
namespace {

struct CastCase {
  const char* Text;
  const char* Expected;
};

void ExpectCasts(const std::vector<CastCase>& Cases) {
  for (const CastCase& c : Cases) EXPECT_EQ(EvaluateFunctionText(c.Text), c.Expected) << c.Text;
}

// One source value cast to each target in turn: the results joined by " | "
// ("-" where validation refuses the pair, "error <code>" where the
// conversion fails).
std::string CastRow(const std::string& Source, const std::vector<std::string>& Targets) {
  std::string row;
  for (const std::string& target : Targets) {
    if (!row.empty()) row += " | ";
    std::string result = EvaluateFunctionText("CAST(" + Source + " AS " + target + ")");
    if (result.rfind("error 1:", 0) == 0)
      result = "-";
    else if (result.rfind("error ", 0) != 0)
      result = result.substr(result.find(' ') + 1);  // the value without its type name
    row += result;
  }
  return row;
}

TEST(CastTable, EveryTypePairWithoutOptions) {
  const std::vector<std::string> targets = {
      "VARCHAR(30)", "BOOLEAN",       "SMALLINT",       "INTEGER",      "BIGINT",
      "FLOAT",       "DECIMAL(12,2)", "DATE",           "TIME",         "TIMESTAMP",
      "CLOB",        "VARBYTE(8)",    "INTERVAL MONTH", "INTERVAL HOUR"};
  struct Row {
    const char* Source;
    const char* Expected;
  };
  const std::vector<Row> rows = {
      {"'12'",
       "12 | error 1011 | 12 | 12 | 12 | 12 | 12.00 | error 1011 | 12:00 | error 1011 | 12 | 12 | "
       "Month 12 | Hour 12"},
      {"'2020-03-04'",
       "2020-03-04 | error 1011 | error 1011 | error 1011 | error 1011 | error 1011 | error 1011 | "
       "2020-03-04 | error 1011 | 2020-03-04 00:00 | 2020-03-04 | error 1011 | error 1011 | error "
       "1011"},
      {"'x'",
       "x | error 1011 | error 1011 | error 1011 | error 1011 | error 1011 | error 1011 | error "
       "1011 | error 1011 | error 1011 | x | error 1011 | error 1011 | error 1011"},
      {"TRUE", "TRUE | TRUE | 1 | 1 | 1 | 1 | 1.00 | - | - | - | TRUE | error 1011 | - | -"},
      {"CAST(-7 AS SMALLINT)",
       "-7 | FALSE | -7 | -7 | -7 | -7 | -7.00 | - | - | - | -7 | error 1011 | Month -7 | Hour -7"},
      {"70000",
       "70000 | TRUE | error 1011 | 70000 | 70000 | 70000 | 70000.00 | - | - | - | 70000 | error "
       "1011 | Month 70000 | Hour 70000"},
      {"CAST(9000000000 AS BIGINT)",
       "9000000000 | TRUE | error 1011 | error 1011 | 9000000000 | 9000000000 | 9000000000.00 | - "
       "| - | - | 9000000000 | error 1011 | error 1011 | Hour 9000000000"},
      {"12.5E0",
       "12.5 | TRUE | 12 | 12 | 12 | 12.5 | 12.50 | - | - | - | 12.5 | error 1011 | - | -"},
      {"CAST(12.55 AS DECIMAL(12,2))",
       "12.55 | TRUE | 12 | 12 | 12 | 12.55 | 12.55 | - | - | - | 12.55 | error 1011 | - | -"},
      {"DATE '2020-03-04'",
       "2020-03-04 | - | - | - | - | - | - | 2020-03-04 | - | 2020-03-04 00:00 | 2020-03-04 | "
       "error 1011 | - | -"},
      {"TIME '13:05:09.007'",
       "13:05:09.007 | - | - | - | - | - | - | - | 13:05:09.007 | <today> 13:05:09.007 | "
       "13:05:09.007 | error 1011 | - | -"},
      {"TIMESTAMP '2020-03-04 13:05:09.007'",
       "2020-03-04 13:05:09.007 | - | - | - | - | - | - | 2020-03-04 | 13:05:09.007 | 2020-03-04 "
       "13:05:09.007 | 2020-03-04 13:05:09.007 | error 1011 | - | -"},
      {"INTERVAL '14' MONTH",
       "14 | - | 14 | 14 | 14 | - | - | - | - | - | 14 | error 1011 | Month 14 | -"},
      {"INTERVAL '30' HOUR",
       "30 | - | 30 | 30 | 30 | - | - | - | - | - | 30 | error 1011 | - | Hour 30"},
      {"CAST(NULL AS INTEGER)",
       "NULL | NULL | NULL | NULL | NULL | NULL | NULL | - | - | - | NULL | NULL | Month NULL | "
       "Hour NULL"},
  };
  // A time cast to a timestamp takes today's date.
  const std::string today = FormatDateLiteral(CurrentDate(false));
  for (const Row& row : rows) {
    std::string expected = row.Expected;
    if (const size_t at = expected.find("<today>"); at != std::string::npos)
      expected.replace(at, 7, today);
    EXPECT_EQ(CastRow(row.Source, targets), expected) << row.Source;
  }
}

TEST(CastTable, FormatOptions) {
  ExpectCasts({
      // To text: dates, times and timestamps by their formats.
      {"CAST(DATE '2020-03-04' AS VARCHAR(20))", "VarChar 2020-03-04"},
      {"CAST(DATE '2020-03-04' AS VARCHAR(20) DATE FORMAT 'dd.mm.yyyy')", "VarChar 04.03.2020"},
      {"CAST(DATE '2020-03-04' AS VARCHAR(20) DATE FORMAT 'm/d/yy')", "VarChar 3/4/20"},
      {"CAST(TIME '13:05:09.007' AS VARCHAR(20) TIME FORMAT 'hh:mm')", "VarChar 13:05"},
      {"CAST(TIME '13:05:09.007' AS VARCHAR(20) TIME FORMAT 'h:mm n' AM LITERAL 'vm' PM "
       "LITERAL 'nm')",
       "VarChar 1:05 nm"},
      {"CAST(TIME '09:05:00' AS VARCHAR(20) TIME FORMAT 'hh:mm n')", "VarChar 09:05 AM"},
      {"CAST(TIME '13:05:09.007' AS VARCHAR(20) DECIMAL CHAR ',')", "VarChar 13:05:09.007"},
      {"CAST(TIMESTAMP '2020-03-04 13:05:09' AS VARCHAR(30) DATE FORMAT 'mm/dd/yyyy' TIME "
       "FORMAT 'hh:mm')",
       "VarChar 03/04/2020 13:05"},
      // Numbers with a decimal character, Booleans with words.
      {"CAST(CAST(1.25 AS DECIMAL(10,2)) AS VARCHAR(10) DECIMAL CHAR ',')", "VarChar 1,25"},
      {"CAST(1.5E0 AS VARCHAR(10) DECIMAL CHAR ',')", "VarChar 1,5"},
      {"CAST(TRUE AS VARCHAR(5) BOOLEAN TRUE LITERAL 'Yes' FALSE LITERAL 'No')", "VarChar Yes"},
      {"CAST(FALSE AS VARCHAR(5) BOOLEAN TRUE LITERAL 'Yes' FALSE LITERAL 'No')", "VarChar No"},
      {"CAST(12 AS VARCHAR(5) DECIMAL CHAR ',')", "VarChar 12"},
      // From text.
      {"CAST('Yes' AS BOOLEAN BOOLEAN TRUE LITERAL 'Yes' FALSE LITERAL 'No')", "Boolean TRUE"},
      {"CAST('No' AS BOOLEAN BOOLEAN TRUE LITERAL 'Yes' FALSE LITERAL 'No')", "Boolean FALSE"},
      {"CAST('Maybe' AS BOOLEAN BOOLEAN TRUE LITERAL 'Yes' FALSE LITERAL 'No')", "error 1011"},
      {"CAST('04.03.2020' AS DATE DATE FORMAT 'dd.mm.yyyy')", "Date 2020-03-04"},
      {"CAST('29.02.2021' AS DATE DATE FORMAT 'dd.mm.yyyy')", "error 1011"},
      {"CAST('2020-03-04' AS DATE DATE FORMAT 'dd.mm.yyyy')", "error 1011"},
      {"CAST('1:05 p' AS TIME TIME FORMAT 'h:mm n' AM LITERAL 'a' PM LITERAL 'p')", "Time 13:05"},
      {"CAST('12:30 AM' AS TIME TIME FORMAT 'hh:mm n')", "Time 00:30"},
      {"CAST('25:00' AS TIME TIME FORMAT 'hh:mm')", "error 1011"},
      {"CAST('03/04/2020 13:05' AS TIMESTAMP DATE FORMAT 'mm/dd/yyyy' TIME FORMAT 'hh:mm')",
       "Timestamp 2020-03-04 13:05"},
      {"CAST('1,5' AS FLOAT DECIMAL CHAR ',')", "Float 1.5"},
      {"CAST('1,5x' AS FLOAT DECIMAL CHAR ',')", "error 1011"},
      {"CAST('-1,25' AS DECIMAL(10,2) DECIMAL CHAR ',')", "Decimal -1.25"},
      // The formats read text only: other sources convert as without them.
      {"CAST(DATE '2020-03-04' AS TIMESTAMP DATE FORMAT 'dd.mm.yyyy')",
       "Timestamp 2020-03-04 00:00"},
      {"CAST(TIMESTAMP '2020-03-04 13:05:00' AS DATE DATE FORMAT 'dd.mm.yyyy' TIME FORMAT "
       "'hh:mm')",
       "Date 2020-03-04"},
      {"CAST(1 AS BOOLEAN BOOLEAN TRUE LITERAL 'Y' FALSE LITERAL 'N')", "Boolean TRUE"},
      {"CAST(1.5E0 AS DECIMAL(10,2) DECIMAL CHAR ',')", "Decimal 1.50"},
      // Targets that are not read by format take the value as it is.
      {"CAST('12' AS INTEGER DECIMAL CHAR ',')", "Integer 12"},
      {"CAST(CAST(NULL AS VARCHAR(3)) AS DATE DATE FORMAT 'dd.mm.yyyy')", "Date NULL"},
      // A bad format text is the format error.
      {"CAST(DATE '2020-03-04' AS VARCHAR(20) DATE FORMAT 'qq')", "error 1400"},
      // Declared lengths cut without an error.
      {"CAST('abcdef' AS VARCHAR(3))", "VarChar abc"},
      {"CAST('abcdef' AS CHAR(3))", "Char abc"},
      {"CAST(DATE '2020-03-04' AS VARCHAR(4) DATE FORMAT 'dd.mm.yyyy')", "VarChar 04.0"},
      {"CAST(12345 AS VARCHAR(2))", "VarChar 12"},
      {"CAST(X'010203' AS VARBYTE(2))", "VarByte 0102"},
      {"CAST('abcdef' AS CLOB)", "CLOB abcdef"},
  });
}

// A NULL stays NULL under either NULL behaviour, with or without options.
TEST(CastTable, NullStaysNull) {
  for (bool standard : {true, false}) {
    for (const char* text :
         {"CAST(CAST(NULL AS BOOLEAN) AS VARCHAR(5) BOOLEAN TRUE LITERAL 'Y' FALSE LITERAL 'N')",
          "CAST(CAST(NULL AS DATE) AS VARCHAR(12) DATE FORMAT 'dd.mm.yyyy')",
          "CAST(CAST(NULL AS VARCHAR(8)) AS DATE DATE FORMAT 'dd.mm.yyyy')",
          "CAST(CAST(NULL AS INTEGER) AS VARCHAR(5))"}) {
      const std::string result = EvaluateFunctionText(text, standard);
      EXPECT_EQ(result.substr(result.find(' ') + 1), "NULL") << text << " standard " << standard;
    }
  }
}

// A text that does not read as the target raises 1011 naming the text, on
// every row: the result never repeats the previous row's value.
TEST(CastTable, UnreadableTextRaisesOnEveryRow) {
  auto* cast = new TBRNExprToken();
  cast->Kind = tkFunction;
  cast->Operation = opCast;
  cast->SetDataType(dtDate);
  TBRNExprToken* row = NullOf(dtChar);
  cast->AddArgument(row);
  auto* target = new TBRNExprToken();
  target->Kind = tkDataType;
  target->SetDataType(dtDate);
  cast->AddArgument(target);
  cast->AddArgument(Str("dd.mm.yyyy"));
  cast->AddArgument(nullptr);
  cast->AddArgument(nullptr);
  cast->AddArgument(nullptr);
  TypedTree tree(cast);
  TBRNExprEvaluator evaluator(true);
  evaluator.CreateTokenValue(row);
  row->Value->SetAsString("04.03.2020");
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "2020-03-04");
  row->Value->SetAsString("4th of March");
  try {
    evaluator.Evaluate(tree.Get());
    ADD_FAILURE() << "no error; result " << tree->Value->GetAsString();
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 1011);
    EXPECT_NE(std::string(e.what()).find("4th of March"), std::string::npos) << e.what();
  }
  row->Value->SetNull(true);
  EXPECT_EQ(ResultText(evaluator, tree.Get()), "NULL");
  evaluator.Unprepare(tree.Get());

  // Plain conversion names the text too.
  EXPECT_NE(EvaluateFunctionText("CAST('abc' AS INTEGER)", true, true).find("abc"),
            std::string::npos);
}

}  // namespace
}  // namespace brn::testing
