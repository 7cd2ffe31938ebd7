// The expression grammar: eight precedence levels, loosest first, each a
// method that parses its operands with the next tighter level:
//   OR, AND, NOT (prefix, once), one comparison or predicate, + - ||,
//   * / MOD, prefix sign (once, on a primary), primary.
// Every operand after the first drops pcWildcard: a "*" may only stand alone
// (a whole select item, a COUNT argument).
//
// Operator and predicate nodes are created on their operator token, so they
// carry its position; a wildcard left operand is refused there first.

#include <string>

#include "foundation/text/collation.h"
#include "foundation/types/data_types.h"
#include "foundation/types/literal_text.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr std::string_view kIntervalFields = "YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND";

TBRNParseFlags reduced(TBRNParseFlags Flags) {
  return Flags & ~pcWildcard;
}

// A binary node over Left, created on the current (operator) token.
TBRNExprToken* newBinary(TBRNExprParser& Parser, TBRNParsedTree& Left, TBRNExprOperation Operation,
                         TBRNDataTypeCode DataType) {
  TBRNExprToken* node = Parser.NewNode(tkOperator, Operation);
  node->SetDataType(DataType);
  node->SetLeft(Left.Release());
  return node;
}

}  // namespace

TBRNExprToken* TBRNExprParser::ParseDisjunction(TBRNParseFlags Flags) {
  TBRNParsedTree left(ParseConjunction(Flags));
  while (IsKeyword("OR")) {
    CheckNotWildcard(left.Get());
    TBRNParsedTree node(newBinary(*this, left, opOr, dtBoolean));
    NextToken();
    node->SetRight(ParseConjunction(reduced(Flags)));
    left.Reset(node.Release());
  }
  return left.Release();
}

TBRNExprToken* TBRNExprParser::ParseConjunction(TBRNParseFlags Flags) {
  TBRNParsedTree left(ParseNegation(Flags));
  while (IsKeyword("AND")) {
    CheckNotWildcard(left.Get());
    TBRNParsedTree node(newBinary(*this, left, opAnd, dtBoolean));
    NextToken();
    node->SetRight(ParseNegation(reduced(Flags)));
    left.Reset(node.Release());
  }
  return left.Release();
}

TBRNExprToken* TBRNExprParser::ParseNegation(TBRNParseFlags Flags) {
  if (!IsKeyword("NOT")) return ParsePredicate(Flags);
  TBRNParsedTree node(NewNode(tkUnaryOperator, opNot));
  node->SetDataType(dtBoolean);
  NextToken();
  node->SetLeft(ParsePredicate(reduced(Flags)));
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParsePredicate(TBRNParseFlags Flags) {
  TBRNParsedTree left(ParseValueExpression(Flags));
  const TBRNParseFlags operandFlags = reduced(Flags);

  // Comparisons: the two characters of <>, <=, >= and >< are separate tokens.
  if (IsToken('=') || IsToken('<') || IsToken('>')) {
    CheckNotWildcard(left.Get());
    TBRNParsedTree node(newBinary(*this, left, opEqual, dtBoolean));
    const uint8_t first = TokenKind;
    NextToken();
    if (first == '<')
      node->Operation = AcceptToken('>') ? opNotEqual : AcceptToken('=') ? opLessOrEqual : opLess;
    else if (first == '>')
      node->Operation = AcceptToken('<')   ? opNotEqual
                        : AcceptToken('=') ? opGreaterOrEqual
                                           : opGreater;
    node->SetRight(ParseValueExpression(operandFlags));
    return node.Release();
  }

  const auto newPredicate = [&](TBRNExprOperation Operation) {
    CheckNotWildcard(left.Get());
    TBRNExprToken* node = NewNode(tkPredicate, Operation);
    node->SetDataType(dtBoolean);
    node->AddArgument(left.Release());
    return node;
  };
  const auto refuseContains = [&] {
    if (!(Flags & pcContains))
      InvalidExpression("CONTAINS and DOES NOT CONTAIN operators not allowed");
  };
  const auto parseLikeOperands = [&](TBRNParsedTree& Node) {
    Node->AddArgument(ParseValueExpression(operandFlags));
    Node->AddArgument(AcceptKeyword("ESCAPE") ? ParsePrimary(operandFlags) : nullptr);
  };
  const auto parseBetweenOperands = [&](TBRNParsedTree& Node) {
    Node->AddArgument(ParseValueExpression(operandFlags));
    ExpectKeyword("AND");
    Node->AddArgument(ParseValueExpression(operandFlags));
  };
  const auto parseInList = [&](TBRNParsedTree& Node) {
    ExpectToken('(');
    if (AcceptToken(')')) return;
    do Node->AddArgument(ParseValueExpression(operandFlags));
    while (AcceptToken(','));
    ExpectToken(')');
  };

  if (IsKeyword("NOT")) {
    // Column defaults end before NOT NULL.
    if ((Flags & pcNotNullEnds) && PeekKeyword("NULL")) return left.Release();
    CheckNotWildcard(left.Get());
    NextToken();
    if (IsKeyword("BETWEEN")) {
      TBRNParsedTree node(newPredicate(opNotBetween));
      NextToken();
      parseBetweenOperands(node);
      return node.Release();
    }
    if (IsKeyword("LIKE")) {
      TBRNParsedTree node(newPredicate(opNotLike));
      NextToken();
      parseLikeOperands(node);
      return node.Release();
    }
    if (IsKeyword("IN")) {
      TBRNParsedTree node(newPredicate(opNotIn));
      NextToken();
      parseInList(node);
      return node.Release();
    }
    Expected("BETWEEN, LIKE, IN");
  }
  if (IsKeyword("LIKE")) {
    TBRNParsedTree node(newPredicate(opLike));
    NextToken();
    parseLikeOperands(node);
    return node.Release();
  }
  if (IsKeyword("BETWEEN")) {
    TBRNParsedTree node(newPredicate(opBetween));
    NextToken();
    parseBetweenOperands(node);
    return node.Release();
  }
  if (IsKeyword("IN")) {
    TBRNParsedTree node(newPredicate(opIn));
    NextToken();
    parseInList(node);
    return node.Release();
  }
  if (IsKeyword("IS")) {
    TBRNParsedTree node(newPredicate(opIsNull));
    NextToken();
    if (AcceptKeyword("NOT")) {
      node->Operation = opIsNotNull;
      CheckKeyword("NULL");
    } else if (!IsKeyword("NULL")) {
      Expected("NULL, NOT");
    }
    TBRNExprToken* null = NewNode(tkConstant, opNone);
    null->Text = "NULL";
    node->AddArgument(null);
    NextToken();
    return node.Release();
  }
  if (IsKeyword("CONTAINS")) {
    refuseContains();
    TBRNParsedTree node(newPredicate(opContains));
    NextToken();
    if (AcceptKeyword("ANY")) node->Operation = opContainsAny;
    node->AddArgument(ParsePrimary(operandFlags));
    return node.Release();
  }
  if (IsKeyword("DOES")) {
    refuseContains();
    TBRNParsedTree node(newPredicate(opNotContain));
    NextToken();
    ExpectKeyword("NOT");
    ExpectKeyword("CONTAIN");
    if (AcceptKeyword("ANY")) node->Operation = opNotContainAny;
    node->AddArgument(ParsePrimary(operandFlags));
    return node.Release();
  }
  return left.Release();
}

TBRNExprToken* TBRNExprParser::ParseValueExpression(TBRNParseFlags Flags) {
  TBRNParsedTree left(ParseTerm(Flags));
  while (IsToken('+') || IsToken('-') || IsToken('|')) {
    CheckNotWildcard(left.Get());
    const TBRNDataTypeCode type = left->DataType;
    TBRNParsedTree node(newBinary(*this, left, IsToken('-') ? opSubtract : opAdd, type));
    // "||" is two tokens: concatenation is addition on character operands.
    if (IsToken('|')) {
      NextToken();
      ExpectToken('|');
    } else {
      NextToken();
    }
    node->SetRight(ParseTerm(reduced(Flags)));
    left.Reset(node.Release());
  }
  return left.Release();
}

TBRNExprToken* TBRNExprParser::ParseTerm(TBRNParseFlags Flags) {
  TBRNParsedTree left(ParseSigned(Flags));
  for (;;) {
    TBRNExprOperation operation;
    if (IsToken('*'))
      operation = opMultiply;
    else if (IsToken('/'))
      operation = opDivide;
    else if (IsKeyword("MOD"))
      operation = opMod;
    else
      break;
    CheckNotWildcard(left.Get());
    const TBRNDataTypeCode type = left->DataType;
    TBRNParsedTree node(newBinary(*this, left, operation, type));
    NextToken();
    node->SetRight(ParseSigned(reduced(Flags)));
    left.Reset(node.Release());
  }
  return left.Release();
}

TBRNExprToken* TBRNExprParser::ParseSigned(TBRNParseFlags Flags) {
  if (AcceptToken('+')) return ParsePrimary(reduced(Flags));
  if (!IsToken('-')) return ParsePrimary(Flags);
  // Numbers never carry a sign: -5 is a negation over the constant 5.
  TBRNParsedTree node(NewNode(tkUnaryOperator, opNegate));
  NextToken();
  node->SetLeft(ParsePrimary(reduced(Flags)));
  node->SetDataType(node->Left()->DataType);
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParsePrimary(TBRNParseFlags Flags) {
  switch (TokenKind) {
    case ttIdentifier: {
      if (IsKeyword("TRUE") || IsKeyword("FALSE") || IsKeyword("NULL")) {
        TBRNParsedTree node(NewNode(tkConstant, opNone));
        node->Text = TokenText();
        if (!IsKeyword("NULL")) node->SetDataType(dtBoolean);
        NextToken();
        return node.Release();
      }
      if (IsKeyword("DATE") || IsKeyword("TIME") || IsKeyword("TIMESTAMP") ||
          IsKeyword("INTERVAL")) {
        const bool interval = IsKeyword("INTERVAL");
        TBRNParsedTree node(NewNode(tkConstant, opNone));
        const char* what = IsKeyword("DATE")   ? "date constant"
                           : IsKeyword("TIME") ? "time constant"
                           : interval          ? "interval constant"
                                               : "timestamp constant";
        const TBRNDataTypeCode type = IsKeyword("DATE")   ? dtDate
                                      : IsKeyword("TIME") ? dtTime
                                                          : dtTimestamp;
        NextToken();
        if (!IsStringToken()) Expected(what);
        node->Text = TokenText();
        NextToken();
        if (interval) {
          if (!ParseIntervalQualifier(node.Get())) Expected(kIntervalFields);
        } else {
          node->SetDataType(type);
          node->SetSize(int32_t(node->Text.size()));
        }
        return node.Release();
      }
      if (IsKeyword("SELECT") || IsKeyword("TABLE")) {
        if (!(Flags & pcQueries)) InvalidExpression("query expression not allowed");
        TBRNParseNesting nesting(*this);
        TBRNParseFlags queryFlags = Flags & ~pcInto;
        if (Flags & pcSubqueryParams) queryFlags |= pcDynamicParams;
        BeginCapture();
        TBRNParsedTree query(ParseQuery(queryFlags));
        query->Text = EndCapture();
        return query.Release();
      }
      if (const TBRNExprOperation function = LookupFunction(); function != opNone) {
        const TBRNParseMethod method = FunctionParser(function);
        // A function whose grammar is not there cannot be parsed as anything
        // else: its name is reserved in expressions.
        if (!method) Expected("expression");
        TBRNParseNesting nesting(*this);
        return (this->*method)(Flags);
      }
      return ParseIdentifierOrCall(Flags);
    }
    case ttQuotedIdentifier:
      return ParseColumnReference(Flags);
    case ttString: {
      TBRNParsedTree node(NewNode(tkConstant, opNone));
      node->Text = TokenText();
      node->SetDataType(dtChar);
      node->SetSize(int32_t(node->Text.size()));
      NextToken();
      return node.Release();
    }
    case ttCharCode: {
      const std::string text = TokenText();
      char value = 0;
      if (text.empty() || text[0] != '#' || !IsCharCodeLiteral(text) ||
          !ParseCharCodeLiteral(text, value))
        Expected("character constant");
      TBRNParsedTree node(NewNode(tkConstant, opNone));
      node->SetDataType(dtChar);
      node->SetSize(1);
      node->Text = std::string(1, value);
      NextToken();
      return node.Release();
    }
    case ttInteger:
    case ttFloat: {
      const std::string text = TokenText();
      TBRNDataTypeCode type;
      if (TokenKind == ttInteger && IsIntegerLiteral(text, false))
        type = dtInteger;
      else if (TokenKind == ttInteger && IsBigIntLiteral(text))
        type = dtBigInt;
      else if (IsFloatLiteral(text))
        type = dtFloat;
      else
        Expected("numeric constant");
      TBRNParsedTree node(NewNode(tkConstant, opNone));
      node->Text = text;
      node->SetDataType(type);
      NextToken();
      return node.Release();
    }
    case ttBytes: {
      TBRNParsedTree node(NewNode(tkConstant, opNone));
      node->Text = TokenText();
      node->SetDataType(dtBytes);
      node->SetSize(int32_t(node->Text.size() / 2));
      NextToken();
      return node.Release();
    }
    case '(':
      return parseParenthesized(Flags);
    case '*': {
      if (!(Flags & pcWildcard)) InvalidExpression("columns wildcard (*) not allowed");
      TBRNParsedTree node(NewNode(tkColumnReference, opNone));
      node->Name = "*";
      node->AddArgument(nullptr);
      node->AddArgument(nullptr);
      NextToken();
      return node.Release();
    }
    case '?': {
      if (!(Flags & pcDynamicParams)) InvalidExpression("dynamic parameter references not allowed");
      TBRNParsedTree node(NewNode(tkDynamicParamReference, opNone));
      NextToken();
      return node.Release();
    }
    default:
      Expected("expression");
  }
}

TBRNExprToken* TBRNExprParser::parseParenthesized(TBRNParseFlags Flags) {
  TBRNParseNesting nesting(*this);
  NextToken();
  TBRNParseFlags innerFlags = Flags & ~(pcRowValue | pcWildcard);
  if (!IsToken('(')) innerFlags &= ~pcRowValues;
  TBRNParsedTree node(ParseDisjunction(innerFlags));
  node->Parenthesized = true;

  if (IsToken(',') || (Flags & pcRowValue)) {
    if (!(Flags & pcRowValues)) InvalidExpression("row values not allowed");
    TBRNParsedTree row(NewNode(tkRowValue, opNone));
    row->CopyPosition(node.Get());
    node->Parenthesized = false;
    row->AddArgument(node.Release());
    while (AcceptToken(','))
      row->AddArgument(ParseDisjunction(Flags & ~(pcRowValue | pcRowValues | pcWildcard)));
    ExpectToken(')');
    return row.Release();
  }

  ExpectToken(')');
  // A parenthesised difference followed by a qualifier is an interval.
  if (node->Kind == tkOperator && node->Operation == opSubtract &&
      ParseIntervalQualifier(node.Get()))
    node->Operation = opIntervalDifference;
  return node.Release();
}

bool TBRNExprParser::ParseIntervalQualifier(TBRNExprToken* Node) {
  struct Field {
    std::string_view Word;
    TBRNIntervalFields Bit;
    // What may follow TO: the trailing fields and the Expected text; empty
    // when TO does not belong to the qualifier.
    std::string_view Trailing;
  };
  static constexpr Field kFields[] = {
      {"YEAR", ifYear, "MONTH"},
      {"MONTH", ifMonth, ""},
      {"DAY", ifDay, "HOUR, MINUTE, SECOND, MSECOND"},
      {"HOUR", ifHour, "MINUTE, SECOND, MSECOND"},
      {"MINUTE", ifMinute, "SECOND, MSECOND"},
      {"SECOND", ifSecond, "MSECOND"},
      {"MSECOND", ifMSecond, ""},
  };
  static constexpr Field kTrailing[] = {
      {"MONTH", ifMonth, ""},   {"HOUR", ifHour, ""},       {"MINUTE", ifMinute, ""},
      {"SECOND", ifSecond, ""}, {"MSECOND", ifMSecond, ""},
  };

  const Field* leading = nullptr;
  for (const Field& field : kFields)
    if (IsKeyword(field.Word)) leading = &field;
  if (!leading) return false;
  NextToken();

  TBRNIntervalFields trailing = leading->Bit;
  if (!leading->Trailing.empty() && AcceptKeyword("TO")) {
    const Field* found = nullptr;
    for (const Field& field : kTrailing)
      if (field.Bit < leading->Bit && IsKeyword(field.Word) &&
          leading->Trailing.find(field.Word) != std::string_view::npos)
        found = &field;
    if (!found) Expected(leading->Trailing);
    trailing = found->Bit;
    NextToken();
  }
  // Every field from the leading one down to the trailing one.
  const TBRNIntervalFields fields = (leading->Bit * 2 - 1) & ~(trailing - 1);
  Node->SetDataType(leading->Bit == ifYear || leading->Bit == ifMonth ? dtYearMonthInterval
                                                                      : dtDayTimeInterval);
  Node->SetSubType(fields);
  return true;
}

TBRNExprToken* TBRNExprParser::ParseIdentifierOrCall(TBRNParseFlags Flags) {
  if (!PeekToken('(')) return ParseColumnReference(Flags);
  if (Flags & pcNoUserFunctions) InvalidExpression("user-defined function references not allowed");
  TBRNParseNesting nesting(*this);
  TBRNParsedTree node(NewNode(tkFunction, opUserFunction));
  node->Name = TokenText();
  NextToken();
  NextToken();
  if (!AcceptToken(')')) {
    do node->AddArgument(ParseDisjunction(reduced(Flags)));
    while (AcceptToken(','));
    ExpectToken(')');
  }
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseColumnReference(TBRNParseFlags Flags) {
  TBRNParsedTree node(NewNode(tkColumnReference, opNone));
  node->Name = TokenText();
  NextToken();
  if (IsToken('.')) {
    if (Flags & pcColumnQualifier)
      node->SchemaName = node->Name;
    else if (!Owner->AllowsTableQualifier())
      InvalidExpression("table qualifier not allowed");
    node->Name.clear();
    NextToken();
    if (IsToken('*')) {
      if (!(Flags & pcWildcard) || PeekToken('['))
        InvalidExpression("columns wildcard (*) not allowed");
    } else if (!IsIdentifierToken()) {
      Expected("column name");
    }
    node->Name = TokenText();
    NextToken();
  }
  if (AcceptToken('[')) {
    TBRNParseNesting nesting(*this);
    TBRNExprToken* index = NewNode(tkList, opNone);
    node->AddArgument(index);
    index->AddArgument(ParseValueExpression(reduced(Flags)));
    ExpectToken(']');
  } else {
    node->AddArgument(nullptr);
  }
  ParseCollateAndOrder(node.Get(), Flags);
  return node.Release();
}

void TBRNExprParser::ParseCollateAndOrder(TBRNExprToken* ColumnNode, TBRNParseFlags Flags) {
  if (!(Flags & pcNoCollate) && IsKeyword("COLLATE")) {
    TBRNExprToken* collate = NewNode(tkList, opCollate);
    ColumnNode->AddArgument(collate);
    NextToken();
    collate->AddArgument(ParseCollationReference());
  } else {
    ColumnNode->AddArgument(nullptr);
  }
  if (!(Flags & pcOrdering)) return;
  if (IsKeyword("ASC") || IsKeyword("ASCENDING")) {
    ColumnNode->AddArgument(NewNode(tkList, opAscending));
    NextToken();
  } else if (IsKeyword("DESC") || IsKeyword("DESCENDING")) {
    ColumnNode->AddArgument(NewNode(tkList, opDescending));
    NextToken();
  } else {
    ColumnNode->AddArgument(nullptr);
  }
}

TBRNExprToken* TBRNExprParser::ParseCollationReference() {
  if (!IsIdentifierToken()) Expected("collation name");
  // Held until NextToken returned: it raises on an unterminated comment.
  TBRNParsedTree node(NewNode(tkCollationName, opNone));
  node->Name = TokenText();
  NextToken();
  return node.Release();
}

}  // namespace brn
