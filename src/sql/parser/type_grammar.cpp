// The data type clause (column definitions, ALTER COLUMN, routine
// parameters, RETURNS, DECLARE, CAST) and the text conversion options of
// CAST, IMPORT and EXPORT.

#include <string_view>

#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// A constant 1 of type Integer: the length of CHAR and BYTE written without
// one.
TBRNExprToken* defaultLength(TBRNExprParser& Parser) {
  TBRNExprToken* node = Parser.NewNode(tkConstant, opNone);
  node->Text = "1";
  node->SetDataType(dtInteger);
  return node;
}

}  // namespace

bool TBRNExprParser::ParseDataType(TBRNExprToken* Node, bool Optional, bool LengthRequired) {
  // The length of a character or byte type: "(" length ")", or the default
  // (nullptr for varying types, 1 for fixed ones) unless a length is required.
  const auto parseLength = [&](bool Fixed) {
    if (LengthRequired) CheckToken('(');
    if (AcceptToken('(')) {
      Node->Parenthesized = true;
      Node->AddArgument(ParsePrimary(0));
      ExpectToken(')');
    } else {
      Node->AddArgument(Fixed ? defaultLength(*this) : nullptr);
    }
  };
  const auto parseCollate = [&] {
    Node->AddArgument(AcceptKeyword("COLLATE") ? ParseCollationReference() : nullptr);
  };
  const auto setType = [Node](TBRNDataTypeCode Type, TBRNDataSubType SubType) {
    Node->SetDataType(Type);
    Node->SetSubType(SubType);
  };

  if (AcceptKeyword("BOOLEAN") || AcceptKeyword("BOOL")) {
    setType(dtBoolean, stDefault);
  } else if (AcceptKeyword("SMALLINT")) {
    setType(dtSmallInt, stDefault);
  } else if (AcceptKeyword("INTEGER") || AcceptKeyword("INT")) {
    setType(dtInteger, stDefault);
  } else if (AcceptKeyword("BIGINT")) {
    setType(dtBigInt, stDefault);
  } else if (IsKeyword("DECIMAL") || IsKeyword("NUMERIC") || IsKeyword("FLOAT")) {
    const bool decimal = !IsKeyword("FLOAT");
    NextToken();
    setType(decimal ? dtDecimal : dtFloat, stDefault);
    if (AcceptToken('(')) {
      Node->Parenthesized = true;
      Node->AddArgument(ParsePrimary(0));
      if (!IsToken(')')) {
        ExpectToken(',');
        Node->AddArgument(ParsePrimary(0));
      }
      ExpectToken(')');
    } else if (decimal) {
      Node->AddArgument(nullptr);
      Node->AddArgument(nullptr);
    }
  } else if (AcceptKeyword("DOUBLE")) {
    ExpectKeyword("PRECISION");
    setType(dtFloat, stDefault);
  } else if (IsKeyword("CHARACTER") || IsKeyword("CHAR") || IsKeyword("VARCHAR")) {
    const bool character = IsKeyword("CHARACTER");
    bool varying = IsKeyword("VARCHAR");
    NextToken();
    if (!varying && AcceptKeyword("VARYING")) {
      varying = true;
    } else if (!varying && character && AcceptKeyword("LARGE")) {
      ExpectKeyword("OBJECT");
      setType(dtLob, stClob);
      Node->AddArgument(nullptr);
      parseCollate();
      return true;
    }
    setType(dtChar, varying ? stDefault : stFixed);
    parseLength(!varying);
    parseCollate();
  } else if (AcceptKeyword("GUID")) {
    setType(dtChar, stGuid);
    Node->AddArgument(nullptr);
    parseCollate();
  } else if (IsKeyword("BYTE") || IsKeyword("VARBYTE")) {
    bool varying = IsKeyword("VARBYTE");
    NextToken();
    if (!varying && AcceptKeyword("VARYING")) varying = true;
    setType(dtBytes, varying ? stDefault : stFixed);
    parseLength(!varying);
  } else if (AcceptKeyword("BINARY")) {
    ExpectKeyword("LARGE");
    ExpectKeyword("OBJECT");
    setType(dtLob, stDefault);
  } else if (AcceptKeyword("BLOB")) {
    setType(dtLob, stDefault);
  } else if (AcceptKeyword("CLOB")) {
    setType(dtLob, stClob);
    Node->AddArgument(nullptr);
    parseCollate();
  } else if (AcceptKeyword("DATE")) {
    setType(dtDate, stDefault);
  } else if (AcceptKeyword("TIME")) {
    setType(dtTime, stDefault);
  } else if (AcceptKeyword("TIMESTAMP")) {
    setType(dtTimestamp, stDefault);
  } else if (AcceptKeyword("INTERVAL")) {
    if (!ParseIntervalQualifier(Node)) Expected("YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND");
  } else {
    if (Optional) return false;
    Expected("data type");
  }
  return true;
}

void TBRNExprParser::ParseFormatOptions(TBRNExprToken* Node) {
  // DATE FORMAT format
  if (AcceptKeyword("DATE")) {
    ExpectKeyword("FORMAT");
    Node->AddArgument(ParsePrimary(0));
  } else {
    Node->AddArgument(nullptr);
  }
  // TIME FORMAT format [AM LITERAL am PM LITERAL pm]
  if (AcceptKeyword("TIME")) {
    ExpectKeyword("FORMAT");
    TBRNExprToken* format = ParsePrimary(0);
    Node->AddArgument(format);
    if (AcceptKeyword("AM")) {
      ExpectKeyword("LITERAL");
      format->AddArgument(ParsePrimary(0));
      ExpectKeyword("PM");
      ExpectKeyword("LITERAL");
      format->AddArgument(ParsePrimary(0));
    } else {
      format->AddArgument(nullptr);
      format->AddArgument(nullptr);
    }
  } else {
    Node->AddArgument(nullptr);
  }
  // DECIMAL CHAR separator
  if (AcceptKeyword("DECIMAL")) {
    ExpectKeyword("CHAR");
    Node->AddArgument(ParsePrimary(0));
  } else {
    Node->AddArgument(nullptr);
  }
  // BOOLEAN TRUE LITERAL t FALSE LITERAL f
  if (IsKeyword("BOOLEAN")) {
    TBRNExprToken* literals = NewNode(tkList, opNone);
    Node->AddArgument(literals);
    NextToken();
    ExpectKeyword("TRUE");
    ExpectKeyword("LITERAL");
    literals->AddArgument(ParsePrimary(0));
    ExpectKeyword("FALSE");
    ExpectKeyword("LITERAL");
    literals->AddArgument(ParsePrimary(0));
  } else {
    Node->AddArgument(nullptr);
  }
}

}  // namespace brn
