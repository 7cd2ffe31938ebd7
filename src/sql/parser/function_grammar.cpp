// The built-in function calls: aggregates, conditional functions, CAST and
// the string, numeric, date and time, session, cursor and statement
// functions. ParsePrimary dispatches here through FunctionParsers by the
// keyword's code.
//
// Every call becomes one tkFunction node on its keyword, its arguments in the
// order of the syntax. Wherever the syntax names a separator word (FOR, FROM,
// IN, WITH, TO, THEN, ELSE, AS, USING) a "," may stand instead. A trailing
// optional argument that is not written is simply absent (the node has fewer
// arguments); only CAST keeps nil slots, for its format options.
//
// Arguments are parsed with the call's flags less pcWildcard (only COUNT and
// IF pass it on) and less pcRowValue: the marker that makes "(x)" a row value
// belongs to the primary that holds the call, not to its arguments.

#include <string>
#include <string_view>

#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr std::string_view kExtractFields =
    "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, SECOND, MSECOND";

TBRNParseFlags argumentFlags(TBRNParseFlags Flags) {
  return Flags & ~(pcWildcard | pcRowValue);
}

}  // namespace

void TBRNExprParser::InitFunctionParsers() {
  const auto set = [this](TBRNExprOperation Code, TBRNParseMethod Method) {
    FunctionParsers[size_t(Code - FirstFunctionCode)] = Method;
  };
  set(opAborted, &TBRNExprParser::ParseAbortedFunction);
  set(opAbs, &TBRNExprParser::ParseAbsFunction);
  set(opAcos, &TBRNExprParser::ParseAcosFunction);
  set(opAsin, &TBRNExprParser::ParseAsinFunction);
  set(opAtan, &TBRNExprParser::ParseAtanFunction);
  set(opAtan2, &TBRNExprParser::ParseAtan2Function);
  set(opAvg, &TBRNExprParser::ParseAvgFunction);
  set(opBof, &TBRNExprParser::ParseBofFunction);
  set(opCardinality, &TBRNExprParser::ParseCardinalityFunction);
  set(opCast, &TBRNExprParser::ParseCastFunction);
  set(opCeiling, &TBRNExprParser::ParseCeilingFunction);
  set(opCoalesce, &TBRNExprParser::ParseCoalesceFunction);
  set(opColumnCount, &TBRNExprParser::ParseColumnCountFunction);
  set(opColumnName, &TBRNExprParser::ParseColumnNameFunction);
  set(opConcat, &TBRNExprParser::ParseConcatFunction);
  set(opCos, &TBRNExprParser::ParseCosFunction);
  set(opCot, &TBRNExprParser::ParseCotFunction);
  set(opCount, &TBRNExprParser::ParseCountFunction);
  set(opCurrentComputer, &TBRNExprParser::ParseCurrentComputerFunction);
  set(opCurrentDatabase, &TBRNExprParser::ParseCurrentDatabaseFunction);
  set(opCurrentDate, &TBRNExprParser::ParseCurrentDateFunction);
  set(opCurrentGuid, &TBRNExprParser::ParseCurrentGuidFunction);
  set(opCurrentTime, &TBRNExprParser::ParseCurrentTimeFunction);
  set(opCurrentTimestamp, &TBRNExprParser::ParseCurrentTimestampFunction);
  set(opCurrentUser, &TBRNExprParser::ParseCurrentUserFunction);
  set(opCurrentVersion, &TBRNExprParser::ParseCurrentVersionFunction);
  set(opDegrees, &TBRNExprParser::ParseDegreesFunction);
  set(opEof, &TBRNExprParser::ParseEofFunction);
  set(opErrorCode, &TBRNExprParser::ParseErrorCodeFunction);
  set(opErrorMsg, &TBRNExprParser::ParseErrorMsgFunction);
  set(opExists, &TBRNExprParser::ParseExistsFunction);
  set(opExp, &TBRNExprParser::ParseExpFunction);
  set(opExtract, &TBRNExprParser::ParseExtractFunction);
  set(opFloor, &TBRNExprParser::ParseFloorFunction);
  set(opCase, &TBRNExprParser::ParseCaseFunction);
  set(opIfNull, &TBRNExprParser::ParseIfNullFunction);
  set(opIf, &TBRNExprParser::ParseIfFunction);
  set(opInTransaction, &TBRNExprParser::ParseInTransactionFunction);
  set(opLastIdentity, &TBRNExprParser::ParseLastIdentityFunction);
  set(opLeft, &TBRNExprParser::ParseLeftFunction);
  set(opLength, &TBRNExprParser::ParseLengthFunction);
  set(opList, &TBRNExprParser::ParseListFunction);
  set(opLoadingUpdates, &TBRNExprParser::ParseLoadingUpdatesFunction);
  set(opLog, &TBRNExprParser::ParseLogFunction);
  set(opLog10, &TBRNExprParser::ParseLog10Function);
  set(opLower, &TBRNExprParser::ParseLowerFunction);
  set(opMax, &TBRNExprParser::ParseMaxFunction);
  set(opMin, &TBRNExprParser::ParseMinFunction);
  set(opNullIf, &TBRNExprParser::ParseNullIfFunction);
  set(opOccurs, &TBRNExprParser::ParseOccursFunction);
  set(opOperation, &TBRNExprParser::ParseOperationFunction);
  set(opPi, &TBRNExprParser::ParsePiFunction);
  set(opPosition, &TBRNExprParser::ParsePositionFunction);
  set(opPower, &TBRNExprParser::ParsePowerFunction);
  set(opQuotedStr, &TBRNExprParser::ParseQuotedStrFunction);
  set(opRadians, &TBRNExprParser::ParseRadiansFunction);
  set(opRand, &TBRNExprParser::ParseRandFunction);
  set(opRepeat, &TBRNExprParser::ParseRepeatFunction);
  set(opReplace, &TBRNExprParser::ParseReplaceFunction);
  set(opRight, &TBRNExprParser::ParseRightFunction);
  set(opRound, &TBRNExprParser::ParseRoundFunction);
  set(opRowCount, &TBRNExprParser::ParseRowCountFunction);
  set(opRowsAffected, &TBRNExprParser::ParseRowsAffectedFunction);
  set(opRunSum, &TBRNExprParser::ParseRunSumFunction);
  set(opSensitive, &TBRNExprParser::ParseSensitiveFunction);
  set(opSign, &TBRNExprParser::ParseSignFunction);
  set(opSin, &TBRNExprParser::ParseSinFunction);
  set(opSqrt, &TBRNExprParser::ParseSqrtFunction);
  set(opStdDev, &TBRNExprParser::ParseStdDevFunction);
  set(opStmtResult, &TBRNExprParser::ParseStmtResultFunction);
  set(opSubstring, &TBRNExprParser::ParseSubstringFunction);
  set(opSum, &TBRNExprParser::ParseSumFunction);
  set(opTan, &TBRNExprParser::ParseTanFunction);
  set(opTrim, &TBRNExprParser::ParseTrimFunction);
  set(opTrimBoth, &TBRNExprParser::ParseAllTrimFunction);
  set(opTrimLeading, &TBRNExprParser::ParseLTrimFunction);
  set(opTrimTrailing, &TBRNExprParser::ParseRTrimFunction);
  set(opTruncate, &TBRNExprParser::ParseTruncateFunction);
  set(opUpper, &TBRNExprParser::ParseUpperFunction);
}

// ---- Shared pieces -------------------------------------------------------------

TBRNExprToken* TBRNExprParser::newFunction(TBRNExprOperation Code, TBRNDataTypeCode Type) {
  TBRNParsedTree node(NewNode(tkFunction, Code));
  if (Type != dtNull) node->SetDataType(Type);
  NextToken();
  return node.Release();
}

void TBRNExprParser::expectSeparator(std::string_view Word) {
  if (!acceptSeparator(Word)) Expected(std::string(Word) + " or ,");
}

bool TBRNExprParser::acceptSeparator(std::string_view Word) {
  return AcceptToken(',') || AcceptKeyword(Word);
}

void TBRNExprParser::acceptEmptyParentheses() {
  if (AcceptToken('(')) ExpectToken(')');
}

TBRNExprToken* TBRNExprParser::parseNiladicFunction(TBRNExprOperation Code, TBRNDataTypeCode Type) {
  TBRNParsedTree node(newFunction(Code, Type));
  acceptEmptyParentheses();
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseValueFunction(TBRNParseFlags Flags, TBRNExprOperation Code,
                                                  TBRNDataTypeCode Type, int32_t Count,
                                                  std::string_view Separator,
                                                  std::string_view SecondSeparator) {
  TBRNParsedTree node(newFunction(Code, Type));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  for (int32_t i = 0; i < Count; ++i) {
    if (i > 0) {
      const std::string_view word = i == 1 ? Separator : SecondSeparator;
      if (word.empty())
        ExpectToken(',');
      else
        expectSeparator(word);
    }
    node->AddArgument(ParseValueExpression(flags));
  }
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseAggregateFunction(TBRNParseFlags Flags, TBRNExprOperation Code,
                                                      TBRNDataTypeCode Type, bool Distinct) {
  if (!(Flags & pcAggregates)) InvalidExpression("aggregate functions not allowed");
  TBRNParsedTree node(newFunction(Code, Type));
  ExpectToken('(');
  if (Distinct && AcceptKeyword("DISTINCT")) node->Variant = 1;
  node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseAlternativesFunction(TBRNParseFlags Flags,
                                                         TBRNExprOperation Code) {
  TBRNParsedTree node(newFunction(Code, dtNull));
  // IF passes the call's flags on unchanged; IFNULL drops the wildcard.
  const TBRNParseFlags flags = Code == opIf ? Flags & ~pcRowValue : argumentFlags(Flags);
  ExpectToken('(');
  node->AddArgument(ParseDisjunction(flags));
  expectSeparator("THEN");
  node->AddArgument(ParseDisjunction(flags));
  expectSeparator("ELSE");
  node->AddArgument(ParseDisjunction(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseRoundingFunction(TBRNParseFlags Flags, TBRNExprOperation Code) {
  TBRNParsedTree node(newFunction(Code, dtNull));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  node->AddArgument(ParseValueExpression(flags));
  // The place count is a primary: a sign needs parentheses, ROUND(x, (-1)).
  if (acceptSeparator("TO")) node->AddArgument(ParsePrimary(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseCurrentMomentFunction(TBRNExprOperation Code,
                                                          TBRNDataTypeCode Type) {
  TBRNParsedTree node(newFunction(Code, Type));
  if (AcceptToken('(')) {
    if (IsKeyword("UTC")) {
      TBRNExprToken* utc = NewNode(tkConstant, opNone);
      node->AddArgument(utc);
      utc->Text = "UTC";
      NextToken();
    }
    ExpectToken(')');
  }
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseShortTrimFunction(TBRNParseFlags Flags,
                                                      TBRNExprOperation Code) {
  TBRNParsedTree node(newFunction(Code, dtChar));
  ExpectToken('(');
  // The trim character of the short forms is a blank, as if written.
  TBRNExprToken* blank = NewNode(tkConstant, opNone);
  node->AddArgument(blank);
  blank->SetDataType(dtChar);
  blank->SetSize(1);
  blank->Text.assign(1, ' ');
  node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseNamedObjectFunction(TBRNParseFlags Flags,
                                                        TBRNExprOperation Code,
                                                        TBRNDataTypeCode Type, bool Statement,
                                                        bool WithValue) {
  TBRNParsedTree node(newFunction(Code, Type));
  ExpectToken('(');
  node->AddArgument(Statement ? ParseStatementReference() : ParseCursorName());
  if (WithValue) {
    ExpectToken(',');
    node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
  }
  ExpectToken(')');
  return node.Release();
}

// ---- Aggregate functions ---------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseAvgFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opAvg, dtNull, true);
}

TBRNExprToken* TBRNExprParser::ParseCountFunction(TBRNParseFlags Flags) {
  if (!(Flags & pcAggregates)) InvalidExpression("aggregate functions not allowed");
  TBRNParsedTree node(newFunction(opCount, dtInteger));
  ExpectToken('(');
  // COUNT(*) counts rows: without DISTINCT the argument may be "*".
  TBRNParseFlags flags = (Flags & ~pcRowValue) | pcWildcard;
  if (AcceptKeyword("DISTINCT")) {
    node->Variant = 1;
    flags = Flags & ~pcRowValue;
  }
  node->AddArgument(ParseValueExpression(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseListFunction(TBRNParseFlags Flags) {
  if (!(Flags & pcAggregates)) InvalidExpression("aggregate functions not allowed");
  TBRNParsedTree node(newFunction(opList, dtLob));
  node->SetSubType(stClob);
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  if (AcceptKeyword("DISTINCT")) node->Variant = 1;
  if (AcceptKeyword("ORDERED")) node->Variant |= 2;
  node->AddArgument(ParseValueExpression(flags));
  if (acceptSeparator("USING")) node->AddArgument(ParseValueExpression(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseMaxFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opMax, dtNull, false);
}

TBRNExprToken* TBRNExprParser::ParseMinFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opMin, dtNull, false);
}

TBRNExprToken* TBRNExprParser::ParseRunSumFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opRunSum, dtNull, true);
}

TBRNExprToken* TBRNExprParser::ParseStdDevFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opStdDev, dtFloat, true);
}

TBRNExprToken* TBRNExprParser::ParseSumFunction(TBRNParseFlags Flags) {
  return parseAggregateFunction(Flags, opSum, dtNull, true);
}

// ---- Conditional functions -------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseCaseFunction(TBRNParseFlags Flags) {
  const TBRNParseFlags flags = argumentFlags(Flags);
  TBRNParsedTree node(newFunction(opCase, dtNull));
  TBRNExprToken* conditions = NewNode(tkFunction, opCaseConditions);
  node->AddArgument(conditions);
  TBRNExprToken* results = NewNode(tkFunction, opCaseResults);
  node->AddArgument(results);

  // A simple CASE keeps its operand once, as argument 2; the condition list
  // then holds the WHEN values that the operand is compared with.
  TBRNParsedTree operand;
  if (!IsKeyword("WHEN")) operand.Reset(ParseDisjunction(flags));
  ExpectKeyword("WHEN");
  do {
    conditions->AddArgument(ParseDisjunction(flags));
    ExpectKeyword("THEN");
    results->AddArgument(ParseDisjunction(flags));
  } while (AcceptKeyword("WHEN"));

  // The ELSE branch: a condition that always holds, and its result (NULL
  // when ELSE is not written), so that both lists have the same length.
  TBRNExprToken* otherwise = NewNode(tkConstant, opDefault);
  conditions->AddArgument(otherwise);
  otherwise->SetDataType(dtBoolean);
  otherwise->Text = "TRUE";
  if (AcceptKeyword("ELSE")) {
    results->AddArgument(ParseDisjunction(flags));
  } else {
    TBRNExprToken* null = NewNode(tkConstant, opNone);
    results->AddArgument(null);
    null->Text = "NULL";
  }
  ExpectKeyword("END");
  if (operand.Get()) node->AddArgument(operand.Release());
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseIfFunction(TBRNParseFlags Flags) {
  return parseAlternativesFunction(Flags, opIf);
}

TBRNExprToken* TBRNExprParser::ParseIfNullFunction(TBRNParseFlags Flags) {
  return parseAlternativesFunction(Flags, opIfNull);
}

TBRNExprToken* TBRNExprParser::ParseNullIfFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opNullIf, dtNull));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  node->AddArgument(ParseDisjunction(flags));
  ExpectToken(',');
  node->AddArgument(ParseDisjunction(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseCoalesceFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opCoalesce, dtNull));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  do node->AddArgument(ParseDisjunction(flags));
  while (AcceptToken(','));
  ExpectToken(')');
  return node.Release();
}

// ---- CAST ------------------------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseCastFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opCast, dtNull));
  ExpectToken('(');
  node->AddArgument(ParseDisjunction(argumentFlags(Flags)));
  expectSeparator("AS");
  TBRNExprToken* target = NewNode(tkDataType, opNone);
  node->AddArgument(target);
  ParseDataType(target, false, false);
  node->AssignDataType(target);
  ParseFormatOptions(node.Get());
  ExpectToken(')');
  return node.Release();
}

// ---- String functions --------------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseConcatFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opConcat, dtChar, 2, "WITH");
}

TBRNExprToken* TBRNExprParser::ParseLeftFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLeft, dtChar, 2, "FOR");
}

TBRNExprToken* TBRNExprParser::ParseRightFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opRight, dtChar, 2, "FOR");
}

TBRNExprToken* TBRNExprParser::ParseRepeatFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opRepeat, dtChar, 2, "FOR");
}

TBRNExprToken* TBRNExprParser::ParseSubstringFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opSubstring, dtChar));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  node->AddArgument(ParseValueExpression(flags));
  expectSeparator("FROM");
  node->AddArgument(ParseValueExpression(flags));
  if (acceptSeparator("FOR")) node->AddArgument(ParseValueExpression(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseLengthFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLength, dtInteger, 1);
}

TBRNExprToken* TBRNExprParser::ParseLowerFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLower, dtChar, 1);
}

TBRNExprToken* TBRNExprParser::ParseUpperFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opUpper, dtChar, 1);
}

TBRNExprToken* TBRNExprParser::ParsePositionFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opPosition, dtInteger, 2, "IN");
}

TBRNExprToken* TBRNExprParser::ParseOccursFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opOccurs, dtInteger, 2, "IN");
}

TBRNExprToken* TBRNExprParser::ParseReplaceFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opReplace, dtChar, 3, "WITH", "IN");
}

TBRNExprToken* TBRNExprParser::ParseQuotedStrFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opQuotedStr, dtChar));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  node->AddArgument(ParseValueExpression(flags));
  if (acceptSeparator("USING")) node->AddArgument(ParseValueExpression(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseTrimFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opNone, dtChar));
  const TBRNParseFlags flags = argumentFlags(Flags);
  ExpectToken('(');
  if (IsKeyword("LEADING"))
    node->Operation = opTrimLeading;
  else if (IsKeyword("TRAILING"))
    node->Operation = opTrimTrailing;
  else if (IsKeyword("BOTH"))
    node->Operation = opTrimBoth;
  else
    Expected("LEADING, TRAILING, BOTH");
  NextToken();
  node->AddArgument(ParsePrimary(flags));
  expectSeparator("FROM");
  node->AddArgument(ParseValueExpression(flags));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseAllTrimFunction(TBRNParseFlags Flags) {
  return parseShortTrimFunction(Flags, opTrimBoth);
}

TBRNExprToken* TBRNExprParser::ParseLTrimFunction(TBRNParseFlags Flags) {
  return parseShortTrimFunction(Flags, opTrimLeading);
}

TBRNExprToken* TBRNExprParser::ParseRTrimFunction(TBRNParseFlags Flags) {
  return parseShortTrimFunction(Flags, opTrimTrailing);
}

// ---- Numeric functions ---------------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseAbsFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opAbs, dtNull, 1);
}

TBRNExprToken* TBRNExprParser::ParseAcosFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opAcos, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseAsinFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opAsin, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseAtanFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opAtan, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseAtan2Function(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opAtan2, dtFloat, 2);
}

TBRNExprToken* TBRNExprParser::ParseCeilingFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opCeiling, dtBigInt, 1);
}

TBRNExprToken* TBRNExprParser::ParseCosFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opCos, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseCotFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opCot, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseDegreesFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opDegrees, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseExpFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opExp, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseFloorFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opFloor, dtBigInt, 1);
}

TBRNExprToken* TBRNExprParser::ParseLogFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLog, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseLog10Function(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLog10, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParsePiFunction(TBRNParseFlags) {
  return parseNiladicFunction(opPi, dtFloat);
}

TBRNExprToken* TBRNExprParser::ParsePowerFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opPower, dtFloat, 2, "TO");
}

TBRNExprToken* TBRNExprParser::ParseRadiansFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opRadians, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseRandFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opRand, dtFloat));
  if (AcceptToken('(')) {
    AcceptKeyword("RANGE");
    if (!IsToken(')')) node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
    ExpectToken(')');
  }
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseRoundFunction(TBRNParseFlags Flags) {
  return parseRoundingFunction(Flags, opRound);
}

TBRNExprToken* TBRNExprParser::ParseSignFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opSign, dtInteger, 1);
}

TBRNExprToken* TBRNExprParser::ParseSinFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opSin, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseSqrtFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opSqrt, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseTanFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opTan, dtFloat, 1);
}

TBRNExprToken* TBRNExprParser::ParseTruncateFunction(TBRNParseFlags Flags) {
  return parseRoundingFunction(Flags, opTruncate);
}

// ---- Date and time functions ---------------------------------------------------------

TBRNExprToken* TBRNExprParser::ParseExtractFunction(TBRNParseFlags Flags) {
  static constexpr struct {
    std::string_view Word;
    TBRNExprOperation Code;
  } kFields[] = {
      {"YEAR", opExtractYear},           {"MONTH", opExtractMonth},
      {"WEEK", opExtractWeek},           {"DAY", opExtractDay},
      {"DAYOFWEEK", opExtractDayOfWeek}, {"DAYOFYEAR", opExtractDayOfYear},
      {"HOUR", opExtractHour},           {"MINUTE", opExtractMinute},
      {"SECOND", opExtractSecond},       {"MSECOND", opExtractMSecond},
  };
  TBRNParsedTree node(newFunction(opNone, dtInteger));
  ExpectToken('(');
  for (const auto& field : kFields) {
    if (IsKeyword(field.Word)) {
      node->Operation = field.Code;
      break;
    }
  }
  if (node->Operation == opNone) Expected(kExtractFields);
  NextToken();
  expectSeparator("FROM");
  node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseCurrentDateFunction(TBRNParseFlags) {
  return parseCurrentMomentFunction(opCurrentDate, dtDate);
}

TBRNExprToken* TBRNExprParser::ParseCurrentTimeFunction(TBRNParseFlags) {
  return parseCurrentMomentFunction(opCurrentTime, dtTime);
}

TBRNExprToken* TBRNExprParser::ParseCurrentTimestampFunction(TBRNParseFlags) {
  return parseCurrentMomentFunction(opCurrentTimestamp, dtTimestamp);
}

// ---- Session, cursor, statement and system functions -----------------------------------

TBRNExprToken* TBRNExprParser::ParseAbortedFunction(TBRNParseFlags) {
  return parseNiladicFunction(opAborted, dtBoolean);
}

TBRNExprToken* TBRNExprParser::ParseLoadingUpdatesFunction(TBRNParseFlags) {
  return parseNiladicFunction(opLoadingUpdates, dtBoolean);
}

TBRNExprToken* TBRNExprParser::ParseInTransactionFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opInTransaction, dtBoolean));
  if (AcceptToken('(')) {
    node->AddArgument(ParseValueExpression(argumentFlags(Flags)));
    ExpectToken(')');
  }
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseLastIdentityFunction(TBRNParseFlags Flags) {
  return parseValueFunction(Flags, opLastIdentity, dtInteger, 2);
}

TBRNExprToken* TBRNExprParser::ParseCurrentComputerFunction(TBRNParseFlags) {
  return parseNiladicFunction(opCurrentComputer, dtChar);
}

TBRNExprToken* TBRNExprParser::ParseCurrentDatabaseFunction(TBRNParseFlags) {
  return parseNiladicFunction(opCurrentDatabase, dtChar);
}

TBRNExprToken* TBRNExprParser::ParseCurrentUserFunction(TBRNParseFlags) {
  return parseNiladicFunction(opCurrentUser, dtChar);
}

TBRNExprToken* TBRNExprParser::ParseCurrentGuidFunction(TBRNParseFlags) {
  TBRNParsedTree node(newFunction(opCurrentGuid, dtChar));
  node->SetSubType(stGuid);
  acceptEmptyParentheses();
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseCurrentVersionFunction(TBRNParseFlags) {
  TBRNParsedTree node(newFunction(opCurrentVersion, dtDecimal));
  node->SetScale(2);
  acceptEmptyParentheses();
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseErrorCodeFunction(TBRNParseFlags Flags) {
  if (!(Flags & pcExceptionHandling))
    InvalidExpression("exception handling statements and functions not allowed");
  return parseNiladicFunction(opErrorCode, dtInteger);
}

TBRNExprToken* TBRNExprParser::ParseErrorMsgFunction(TBRNParseFlags Flags) {
  if (!(Flags & pcExceptionHandling))
    InvalidExpression("exception handling statements and functions not allowed");
  return parseNiladicFunction(opErrorMsg, dtChar);
}

TBRNExprToken* TBRNExprParser::ParseOperationFunction(TBRNParseFlags) {
  return parseNiladicFunction(opOperation, dtChar);
}

TBRNExprToken* TBRNExprParser::ParseExistsFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opExists, dtBoolean));
  ExpectToken('(');
  node->AddArgument(ParsePrimary(argumentFlags(Flags)));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseCardinalityFunction(TBRNParseFlags Flags) {
  TBRNParsedTree node(newFunction(opCardinality, dtNull));
  ExpectToken('(');
  node->AddArgument(ParsePredicate(argumentFlags(Flags)));
  ExpectToken(')');
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseBofFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opBof, dtBoolean, false);
}

TBRNExprToken* TBRNExprParser::ParseEofFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opEof, dtBoolean, false);
}

TBRNExprToken* TBRNExprParser::ParseRowCountFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opRowCount, dtInteger, false);
}

TBRNExprToken* TBRNExprParser::ParseSensitiveFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opSensitive, dtBoolean, false);
}

TBRNExprToken* TBRNExprParser::ParseColumnCountFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opColumnCount, dtInteger, false);
}

TBRNExprToken* TBRNExprParser::ParseColumnNameFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opColumnName, dtChar, false, true);
}

TBRNExprToken* TBRNExprParser::ParseRowsAffectedFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opRowsAffected, dtInteger, true);
}

TBRNExprToken* TBRNExprParser::ParseStmtResultFunction(TBRNParseFlags Flags) {
  return parseNamedObjectFunction(Flags, opStmtResult, dtBoolean, true);
}

}  // namespace brn
