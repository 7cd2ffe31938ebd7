// The data statements: SELECT (and TABLE), INSERT, UPDATE, DELETE and
// DELETE FILE.
//
// INSERT, UPDATE and DELETE describe their target as a tkQuery with the
// layout of a query (sql/tree/query_layout.h): the validator binds the
// target table and its columns exactly as for a query, and the execution
// finds the table at qpFrom and the condition at qpWhere.
//   INSERT: qpSelectList the column list (empty when none is written),
//           qpValues the VALUES (empty for INSERT ... SELECT), qpSourceQuery
//           the source query or nil; seven positions.
//   UPDATE: qpSelectList the SET targets, qpValues their values in the same
//           order, qpWhere; eight positions.
//   DELETE: qpWhere; eight positions.

#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

constexpr int32_t kInsertTargetCount = qpFrom + 1;
constexpr int32_t kUpdateTargetCount = qpWhere + 1;

}  // namespace

TBRNExprToken* TBRNExprParser::ParseSelectStatement(TBRNParseFlags Flags) {
  if (!(Flags & pcQueries)) InvalidExpression("query expression not allowed");
  return ParseQuery(Flags);
}

// Adds to Statement a target query of Count positions (nil but the two
// leading lists) and reads its table into qpFrom, with a correlation name
// when Correlation is set.
TBRNExprToken* TBRNExprParser::parseDmlTarget(TBRNExprToken* Statement, int32_t Count,
                                              TBRNParseFlags Flags, bool Correlation) {
  TBRNExprToken* target = NewNode(tkQuery, opNone);
  Statement->AddArgument(target);
  target->SetArgumentCount(Count);
  target->SetArgument(qpParameters, NewNode(tkList, opNone));
  target->SetArgument(qpSetOperation, NewNode(tkList, opNone));
  TBRNExprToken* from = NewNode(tkList, opNone);
  target->SetArgument(qpFrom, from);
  TBRNExprToken* table = ParseQualifiedTableName(Flags);
  from->AddArgument(table);
  table->AddArgument(nullptr);                  // trDerivedQuery
  table->AddArgument(NewNode(tkList, opNone));  // trConditions
  table->AddArgument(NewNode(tkList, opNone));  // trJoins
  if (Correlation) ParseCorrelationName(table, false);
  return target;
}

// UPDATE and DELETE: the optional WHERE condition of the target query.
void TBRNExprParser::parseDmlWhere(TBRNExprToken* Target, TBRNParseFlags Flags) {
  if (!AcceptKeyword("WHERE")) return;
  TBRNExprToken* where = NewNode(tkList, opNone);
  Target->SetArgument(qpWhere, where);
  where->AddArgument(ParseWhereCondition(Flags));
}

TBRNExprToken* TBRNExprParser::ParseInsert(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("INTO");
  TBRNParsedTree statement(NewNode(tkStatement, opInsert));
  TBRNExprToken* target = parseDmlTarget(statement.Get(), kInsertTargetCount, Flags, false);

  TBRNExprToken* columns = NewNode(tkList, opNone);
  target->SetArgument(qpSelectList, columns);
  if (AcceptToken('(')) {
    do {
      if (!IsIdentifierToken()) Expected("column name");
      columns->AddArgument(ParseColumnReference(pcColumnQualifier));
    } while (AcceptToken(','));
    ExpectToken(')');
  }

  TBRNExprToken* values = NewNode(tkList, opNone);
  target->SetArgument(qpValues, values);
  if (AcceptKeyword("VALUES")) {
    // Every parenthesised value is one row, even with a single member.
    do values->AddArgument(ParsePrimary(Flags | pcRowValues | pcRowValue | pcDynamicParams));
    while (AcceptToken(','));
    return statement.Release();
  }

  if (IsToken('(')) {
    NextToken();
    TBRNExprToken* query = ParseQuery(Flags & ~pcInto);
    target->SetArgument(qpSourceQuery, query);
    query->Parenthesized = true;
    ExpectToken(')');
  } else {
    if (!IsKeyword("SELECT")) Expected("VALUES, SELECT");
    target->SetArgument(qpSourceQuery, ParseQuery(Flags & ~pcInto));
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseUpdate(TBRNParseFlags Flags) {
  NextToken();
  TBRNParsedTree statement(NewNode(tkStatement, opUpdate));
  TBRNExprToken* target = parseDmlTarget(statement.Get(), kUpdateTargetCount, Flags, true);
  ExpectKeyword("SET");
  TBRNExprToken* targets = NewNode(tkList, opNone);
  target->SetArgument(qpSelectList, targets);
  TBRNExprToken* values = NewNode(tkList, opNone);
  target->SetArgument(qpValues, values);
  do {
    // A column or a row of columns.
    targets->AddArgument(ParsePrimary(pcRowValues | pcColumnQualifier));
    ExpectToken('=');
    values->AddArgument(ParseDisjunction(Flags | pcRowValues | pcDynamicParams));
  } while (AcceptToken(','));

  parseDmlWhere(target, Flags);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseDelete(TBRNParseFlags Flags) {
  NextToken();
  if (AcceptKeyword("FILE")) {
    TBRNParsedTree statement(NewNode(tkStatement, opDeleteFile));
    statement->AddArgument(ParseFileName());
    ExpectKeyword("FROM");
    ExpectKeyword("STORE");
    statement->AddArgument(ParseStoreName());
    return statement.Release();
  }
  if (!AcceptKeyword("FROM")) Expected("FROM, FILE");
  TBRNParsedTree statement(NewNode(tkStatement, opDelete));
  TBRNExprToken* target = parseDmlTarget(statement.Get(), kUpdateTargetCount, Flags, true);
  parseDmlWhere(target, Flags);
  return statement.Release();
}

}  // namespace brn
