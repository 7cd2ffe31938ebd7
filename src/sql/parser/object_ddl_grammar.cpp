// CREATE and ALTER bodies of views, functions, procedures, triggers, indexes
// and text indexes; routine parameter lists and function results.
//
// Functions, procedures and triggers are stored as SQL text and compiled
// again later through the routine entries, so the statement node's Text is
// the routine's own text: the routine word, the name in double quotes (a
// double quote inside the name doubled, so that the entry reads the name
// back unchanged) and the source captured from the statement.

#include <array>
#include <string>
#include <string_view>

#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// The flags of a routine body parsed inside a statement: the statement's
// terminator and end of text belong to the statement, not to the block.
constexpr TBRNParseFlags bodyFlags(TBRNParseFlags Flags) {
  return Flags & ~(pcTerminator | pcEndOfText);
}

// The head of a stored routine text: Word, a blank and the quoted name.
std::string routineHead(std::string_view Word, const std::string& Name) {
  std::string text(Word);
  text += ' ';
  text += QuoteString(Name, '"');
  return text;
}

struct TBRNTriggerEvent {
  std::string_view Word;
  TBRNExprOperation Before;
  TBRNExprOperation After;
  TBRNExprOperation Error;
};

constexpr std::array<TBRNTriggerEvent, 5> kTriggerEvents = {{
    {"ALL", opBeforeAll, opAfterAll, opErrorAll},
    {"INSERT", opBeforeInsert, opAfterInsert, opErrorInsert},
    {"UPDATE", opBeforeUpdate, opAfterUpdate, opErrorUpdate},
    {"DELETE", opBeforeDelete, opAfterDelete, opErrorDelete},
    {"LOAD", opBeforeLoadUpdate, opAfterLoadUpdate, opErrorLoadUpdate},
}};

bool isErrorTrigger(TBRNExprOperation Event) {
  return Event >= opErrorAll && Event <= opErrorUpdate;
}

}  // namespace

// ---------------------------------------------------------------------------
// Views

void TBRNExprParser::ParseViewBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(ParseViewName());
  ExpectKeyword("AS");
  BeginCapture();
  Statement->AddArgument(ParseQuery(Flags & ~(pcDatabaseQualifier | pcDynamicParams)));
  Statement->Text = EndCapture();

  TBRNExprToken* checkOption = nullptr;
  if (IsKeyword("WITH") || IsKeyword("WITHOUT")) {
    checkOption = NewNode(tkConstant, opNone);
    checkOption->Text = IsKeyword("WITH") ? "TRUE" : "FALSE";
    checkOption->SetDataType(dtBoolean);
  }
  Statement->AddArgument(checkOption);
  if (checkOption) {
    NextToken();
    ExpectKeyword("CHECK");
    ExpectKeyword("OPTION");
  }
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("VERSION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

// ---------------------------------------------------------------------------
// Functions and procedures

void TBRNExprParser::ParseFunctionBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(ParseFunctionName());
  parseRoutineBody(Statement, Flags, true);
}

void TBRNExprParser::ParseProcedureBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(ParseProcedureName());
  parseRoutineBody(Statement, Flags, false);
}

// Statement argument 0 is the routine root, just read; the current token is
// the first one of the routine source after the name.
void TBRNExprParser::parseRoutineBody(TBRNExprToken* Statement, TBRNParseFlags Flags,
                                      bool Function) {
  TBRNExprToken* root = Statement->Argument(0);
  BeginCapture();
  root->AddArgument(ParseRoutineParameterList(pcOutputParams));
  root->AddArgument(nullptr);
  if (Function) {
    ExpectKeyword("RETURNS");
    root->AddArgument(ParseFunctionResult());
  } else {
    root->AddArgument(nullptr);
  }
  root->AddArgument(nullptr);
  if (AcceptKeyword("EXTERNAL")) {
    ExpectKeyword("NAME");
    root->AddArgument(ParseModuleName());
    root->AddArgument(nullptr);
  } else {
    root->AddArgument(nullptr);
    CheckKeyword("BEGIN");
    root->AddArgument(ParseBeginBlock(bodyFlags(Flags) | (Function ? pcReturn : pcResultCursors)));
  }
  Statement->Text =
      routineHead(Function ? "FUNCTION" : "PROCEDURE", root->Name) + " " + EndCapture();
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("VERSION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

TBRNExprToken* TBRNExprParser::ParseRoutineParameterList(TBRNParseFlags Flags) {
  TBRNParsedTree list(NewNode(tkList, opNone));
  if (Flags & pcNoParamList) return list.Release();
  if (!AcceptToken('(')) return list.Release();
  if (AcceptToken(')')) return list.Release();
  do {
    TBRNExprToken* parameter = ParseRoutineParameter(Flags);
    list->AddArgument(parameter);
    TBRNExprToken* type = NewNode(tkDataType, opNone);
    parameter->AddArgument(type);
    ParseDataType(type, false, false);
    parameter->AddArgument(parseOptionalValue("DESCRIPTION"));
  } while (AcceptToken(','));
  ExpectToken(')');
  return list.Release();
}

TBRNExprToken* TBRNExprParser::ParseRoutineParameter(TBRNParseFlags Flags) {
  TBRNExprOperation mode = opParamIn;
  if (IsKeyword("OUT") || IsKeyword("INOUT")) {
    if (!(Flags & pcOutputParams)) InvalidExpression("output parameters not allowed");
    mode = IsKeyword("OUT") ? opParamOut : opParamInOut;
    NextToken();
  } else {
    AcceptKeyword("IN");
  }
  TBRNExprToken* parameter = ParseParameterName();
  parameter->Operation = mode;
  return parameter;
}

TBRNExprToken* TBRNExprParser::ParseFunctionResult() {
  TBRNParsedTree list(NewNode(tkList, opNone));
  TBRNExprToken* result = NewNode(tkRoutineParam, opResultParam);
  list->AddArgument(result);
  result->Name = "Result";
  TBRNExprToken* type = NewNode(tkDataType, opNone);
  result->AddArgument(type);
  ParseDataType(type, false, false);
  return list.Release();
}

// ---------------------------------------------------------------------------
// Triggers

TBRNExprToken* TBRNExprParser::NewTriggerRowList() {
  TBRNParsedTree list(NewNode(tkList, opNone));
  for (int32_t variant = 0; variant <= 1; ++variant) {
    TBRNExprToken* row = NewNode(tkRowVariable, opNone);
    row->Variant = variant;
    list->AddArgument(row);
  }
  return list.Release();
}

void TBRNExprParser::ParseTriggerBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  TBRNExprToken* root = ParseTriggerName();
  Statement->AddArgument(root);

  int32_t timing = -1;
  if (IsKeyword("BEFORE"))
    timing = 0;
  else if (IsKeyword("AFTER"))
    timing = 1;
  else if (IsKeyword("ERROR"))
    timing = 2;
  else
    Expected("BEFORE, AFTER, ERROR");
  NextToken();
  const TBRNTriggerEvent* event = nullptr;
  for (const TBRNTriggerEvent& candidate : kTriggerEvents)
    if (IsKeyword(candidate.Word)) event = &candidate;
  if (!event) Expected("ALL, INSERT, UPDATE, DELETE, LOAD UPDATE");
  NextToken();
  if (event->Word == "LOAD") ExpectKeyword("UPDATE");
  root->Operation = timing == 0 ? event->Before : timing == 1 ? event->After : event->Error;
  const bool errorTrigger = isErrorTrigger(root->Operation);

  // Only ALL and UPDATE triggers before or after the change name columns.
  const bool columns = root->Operation == opBeforeAll || root->Operation == opBeforeUpdate ||
                       root->Operation == opAfterAll || root->Operation == opAfterUpdate;
  if (columns && IsKeyword("OF")) {
    TBRNExprToken* list = NewNode(tkList, opNone);
    Statement->AddArgument(list);
    NextToken();
    do list->AddArgument(ParseColumnName());
    while (AcceptToken(','));
  } else {
    Statement->AddArgument(nullptr);
  }

  ExpectKeyword("ON");
  Statement->AddArgument(ParseTableName(Flags & ~pcSchemaQualifier, ""));
  Statement->AddArgument(parseOptionalValue("AT"));
  Statement->AddArgument(ParseTriggerWhen(errorTrigger ? Flags | pcExceptionHandling : Flags));

  root->AddArgument(ParseRoutineParameterList(pcNoParamList));
  root->AddArgument(NewTriggerRowList());
  root->AddArgument(nullptr);
  root->AddArgument(nullptr);
  root->AddArgument(nullptr);
  CheckKeyword("BEGIN");
  BeginCapture();
  root->AddArgument(
      ParseBeginBlock(bodyFlags(Flags) | (errorTrigger ? pcExceptionHandling | pcRetry : 0)));
  Statement->Text = routineHead("TRIGGER", root->Name) + "\r\n" + EndCapture();

  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
}

TBRNExprToken* TBRNExprParser::ParseTriggerWhen(TBRNParseFlags Flags) {
  if (!IsKeyword("WHEN")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opNone));
  NextToken();
  BeginCapture();
  clause->AddArgument(ParseDisjunction(Flags));
  clause->Text = EndCapture();
  return clause.Release();
}

// ---------------------------------------------------------------------------
// Indexes

void TBRNExprParser::ParseIndexBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(ParseIndexName());
  ExpectKeyword("ON");
  Statement->AddArgument(ParseTableName(Flags & ~pcSchemaQualifier, ""));
  Statement->AddArgument(parseIndexColumns(false));
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
}

void TBRNExprParser::ParseTextIndexBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(ParseIndexName());
  ExpectKeyword("ON");
  Statement->AddArgument(ParseTableName(Flags & ~pcSchemaQualifier, ""));
  Statement->AddArgument(parseIndexColumns(true));
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  if (AcceptKeyword("INDEXED")) {
    ExpectKeyword("WORD");
    ExpectKeyword("LENGTH");
    Statement->AddArgument(ParsePrimary(0));
  } else {
    Statement->AddArgument(nullptr);
  }
  if (AcceptKeyword("FILTER")) {
    ExpectKeyword("TYPE");
    ExpectKeyword("COLUMN");
    Statement->AddArgument(ParseColumnName());
  } else {
    Statement->AddArgument(nullptr);
  }
  if (AcceptKeyword("WORD")) {
    ExpectKeyword("GENERATOR");
    Statement->AddArgument(ParseWordGeneratorName());
  } else {
    Statement->AddArgument(nullptr);
  }
}

// "(" columns ")": a text index has exactly one column and no ordering.
TBRNExprToken* TBRNExprParser::parseIndexColumns(bool TextIndex) {
  ExpectToken('(');
  TBRNParsedTree columns(NewNode(tkList, opNone));
  do {
    TBRNExprToken* column = ParseColumnName();
    columns->AddArgument(column);
    column->AddArgument(nullptr);
    ParseCollateAndOrder(column, TextIndex ? 0 : pcOrdering);
  } while (!TextIndex && AcceptToken(','));
  ExpectToken(')');
  return columns.Release();
}

}  // namespace brn
