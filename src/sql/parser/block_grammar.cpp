// Procedural blocks, labels, the small name parsers of the procedural
// language and the routine entries with which a stored routine's text is
// compiled.
//
// A block is a tkBlock with four arguments at fixed positions: the
// declarations section, the statements section, the RETURN statement (or
// nullptr) and the FINALLY (Variant 0) or EXCEPTION (Variant 1) section (or
// nullptr). A BEGIN ... END block has operation opBeginBlock and its label as
// Name; a plain statement list (the body of IF, CASE, LOOP, REPEAT, WHILE)
// has operation opNone and never declarations.

#include <array>
#include <string_view>

#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// The words that end the statements of a BEGIN block, of a statement list or
// FINALLY section, and of an EXCEPTION section (FINALLY is no stop word
// there, so a FINALLY inside a handler is refused as a statement).
constexpr std::array<std::string_view, 4> kBlockStopWords = {"END", "FINALLY", "EXCEPTION",
                                                             "RETURN"};
constexpr std::array<std::string_view, 8> kListStopWords = {
    "END", "FINALLY", "EXCEPTION", "ELSEIF", "ELSE", "WHEN", "UNTIL", "RETURN"};
constexpr std::array<std::string_view, 7> kHandlerStopWords = {
    "END", "EXCEPTION", "ELSEIF", "ELSE", "WHEN", "UNTIL", "RETURN"};

// The words a statement starts with: before them no label is read.
constexpr std::array<std::string_view, 29> kStatementStartWords = {
    "BEGIN",    "DECLARE",   "RAISE",  "RETRY",  "SET",     "ABORT", "IF",   "CASE",
    "ITERATE",  "LEAVE",     "LOOP",   "REPEAT", "WHILE",   "FOR",   "USE",  "START",
    "ROLLBACK", "COMMIT",    "OPEN",   "CLOSE",  "REFRESH", "FETCH", "CALL", "PREPARE",
    "EXECUTE",  "UNPREPARE", "INSERT", "UPDATE", "DELETE"};

// The words a label may stand before.
constexpr std::array<std::string_view, 5> kLabelledWords = {"BEGIN", "LOOP", "REPEAT", "WHILE",
                                                            "FOR"};

template <size_t N>
bool isAnyKeyword(const TBRNExprParser& Parser, const std::array<std::string_view, N>& Words) {
  for (std::string_view word : Words)
    if (Parser.IsKeyword(word)) return true;
  return false;
}

}  // namespace

TBRNExprToken* TBRNExprParser::ParseBlock(TBRNParseFlags Flags, const std::string& Label) {
  TBRNParseNesting nesting(*this);
  const bool isBegin = (Flags & pcBeginBlock) != 0;
  TBRNParsedTree block(NewNode(tkBlock, isBegin ? opBeginBlock : opNone));
  if (isBegin) {
    ExpectKeyword("BEGIN");
    block->Name = Label;
  }

  // What the statements of this block are parsed with: a terminator after
  // each one; a statement list cannot end its enclosing routine itself.
  TBRNParseFlags statementFlags =
      (Flags & ~(pcBeginBlock | pcDeclarations | pcTerminator)) | pcTerminator;
  if (!isBegin) statementFlags &= ~pcReturn;

  TBRNExprToken* declarations = NewNode(tkBlockSection, opNone);
  block->AddArgument(declarations);
  if (isBegin) {
    while (IsKeyword("DECLARE"))
      declarations->AddArgument(
          ParseProceduralStatement(Flags | pcDeclarations | pcTerminator, std::string()));
  }

  TBRNExprToken* statements = NewNode(tkBlockSection, opNone);
  block->AddArgument(statements);
  parseStatementSection(statements, statementFlags,
                        isBegin ? kBlockStopWords.data() : kListStopWords.data(),
                        isBegin ? kBlockStopWords.size() : kListStopWords.size());

  MarkStatementLine();
  if (IsKeyword("RETURN")) {
    if (!(Flags & pcReturn)) InvalidExpression("RETURN statement not allowed");
    NextToken();
    TBRNExprToken* returned = NewNode(tkRoutineStatement, opReturn);
    block->AddArgument(returned);
    returned->AddArgument(ParseDisjunction(Flags));
    ExpectToken(uint8_t(GetTerminator()));
  } else {
    block->AddArgument(nullptr);
  }

  if (IsKeyword("FINALLY")) {
    NextToken();
    TBRNExprToken* section = NewNode(tkBlockSection, opNone);
    block->AddArgument(section);
    parseStatementSection(section, statementFlags, kListStopWords.data(), kListStopWords.size());
  } else if (IsKeyword("EXCEPTION")) {
    NextToken();
    TBRNExprToken* section = NewNode(tkBlockSection, opNone);
    section->Variant = 1;
    block->AddArgument(section);
    parseStatementSection(section, statementFlags | pcExceptionHandling, kHandlerStopWords.data(),
                          kHandlerStopWords.size());
  } else {
    block->AddArgument(nullptr);
  }

  if (isBegin) {
    ExpectKeyword("END");
    if (Flags & pcTerminator)
      ExpectToken(uint8_t(GetTerminator()));
    else if ((Flags & pcEndOfText) && !TokenAtEnd())
      Expected("end of expression");
  }
  return block.Release();
}

// Reads labelled statements and nested blocks into Section until a stop word
// (or the end of the text, which the caller then reports as a missing END).
void TBRNExprParser::parseStatementSection(TBRNExprToken* Section, TBRNParseFlags Flags,
                                           const std::string_view* StopWords, size_t StopCount) {
  for (;;) {
    if (TokenAtEnd()) return;
    for (size_t i = 0; i < StopCount; ++i)
      if (IsKeyword(StopWords[i])) return;
    std::string label;
    ParseLabel(label);
    if (IsKeyword("BEGIN"))
      Section->AddArgument(ParseBlock(Flags | pcBeginBlock, label));
    else
      Section->AddArgument(ParseProceduralStatement(Flags, label));
  }
}

TBRNExprToken* TBRNExprParser::ParseBeginBlock(TBRNParseFlags Flags) {
  return ParseBlock(Flags | pcBeginBlock, std::string());
}

void TBRNExprParser::ParseLabel(std::string& Label) {
  Label.clear();
  if (isAnyKeyword(*this, kStatementStartWords)) return;
  if (!IsIdentifierToken()) Expected("label name");
  Label = TokenText();
  NextToken();
  ExpectToken(uint8_t(':'));
  if (!isAnyKeyword(*this, kLabelledWords)) Expected("BEGIN, LOOP, REPEAT, WHILE, FOR");
}

TBRNExprToken* TBRNExprParser::ParseVariableName() {
  return parseNameNode(tkVariable, "variable name");
}

TBRNExprToken* TBRNExprParser::ParseStatementName() {
  return parseNameNode(tkStatementName, "statement name");
}

TBRNExprToken* TBRNExprParser::ParseStatementReference() {
  return parseNameNode(tkStatementReference, "statement name");
}

TBRNExprToken* TBRNExprParser::ParseVariableReference(TBRNParseFlags Flags) {
  TBRNParsedTree node(parseNameNode(tkVariableReference, "variable name"));
  if (AcceptToken(uint8_t('['))) {
    node->Kind = tkArrayElement;
    TBRNExprToken* index = NewNode(tkList, opNone);
    node->AddArgument(index);
    index->AddArgument(ParseValueExpression(Flags & ~pcWildcard));
    ExpectToken(uint8_t(']'));
  } else {
    node->AddArgument(nullptr);
  }
  ParseCollateAndOrder(node.Get(), Flags);
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseRoutineCall(TBRNParseFlags Flags) {
  // A number or a string is no routine, although the call reads just "the
  // current token".
  TBRNParsedTree call(parseNameNode(tkRoutineCall, "procedure name"));
  if (AcceptToken(uint8_t('(')) && !AcceptToken(uint8_t(')'))) {
    do {
      call->AddArgument(ParseDisjunction(Flags & ~pcWildcard));
    } while (AcceptToken(uint8_t(',')));
    ExpectToken(uint8_t(')'));
  }
  return call.Release();
}

// ---- Routine entries ----

// Checks and consumes the routine word, then reads the root: the routine's
// name node, or a new tkScript node when Kind is tkScript.
TBRNExprToken* TBRNExprParser::parseRoutineRoot(TBRNExprTokenKind Kind, std::string_view Word) {
  ExpectKeyword(Word);
  switch (Kind) {
    case tkFunctionName:
      return ParseFunctionName();
    case tkProcedureName:
      return ParseProcedureName();
    case tkJobName:
      return ParseJobName();
    case tkTriggerName:
      return ParseTriggerName();
    default:
      return NewNode(tkScript, opNone);
  }
}

void TBRNExprParser::parseRoutineImplementation(TBRNExprToken* Root, TBRNParseFlags BlockFlags) {
  if (AcceptKeyword("EXTERNAL")) {
    ExpectKeyword("NAME");
    Root->AddArgument(ParseModuleName());
    Root->AddArgument(nullptr);
  } else {
    Root->AddArgument(nullptr);
    Root->AddArgument(ParseBeginBlock(BlockFlags));
  }
}

TBRNExprToken* TBRNExprParser::ParseFunctionRoutine(TBRNParseFlags Flags) {
  TBRNParsedTree root(parseRoutineRoot(tkFunctionName, "FUNCTION"));
  root->AddArgument(ParseRoutineParameterList(Flags | pcOutputParams));
  root->AddArgument(nullptr);
  ExpectKeyword("RETURNS");
  root->AddArgument(ParseFunctionResult());
  root->AddArgument(nullptr);
  parseRoutineImplementation(root.Get(), Flags | pcReturn);
  return root.Release();
}

TBRNExprToken* TBRNExprParser::ParseProcedureRoutine(TBRNParseFlags Flags) {
  TBRNParsedTree root(parseRoutineRoot(tkProcedureName, "PROCEDURE"));
  root->AddArgument(ParseRoutineParameterList(Flags | pcOutputParams));
  root->AddArgument(nullptr);
  root->AddArgument(nullptr);
  root->AddArgument(nullptr);
  parseRoutineImplementation(root.Get(), Flags & ~pcReturn);
  return root.Release();
}

TBRNExprToken* TBRNExprParser::ParseScriptRoutine(TBRNParseFlags Flags) {
  TBRNParsedTree root(parseRoutineRoot(tkScript, "SCRIPT"));
  root->AddArgument(ParseRoutineParameterList(Flags | pcOutputParams));
  for (int32_t i = 1; i <= 4; ++i) root->AddArgument(nullptr);
  root->AddArgument(ParseBeginBlock(Flags & ~pcReturn));
  return root.Release();
}

TBRNExprToken* TBRNExprParser::ParseJobRoutine(TBRNParseFlags Flags) {
  TBRNParsedTree root(parseRoutineRoot(tkJobName, "JOB"));
  root->AddArgument(ParseRoutineParameterList(Flags | pcNoParamList));
  for (int32_t i = 1; i <= 4; ++i) root->AddArgument(nullptr);
  root->AddArgument(ParseBeginBlock(Flags & ~pcReturn));
  return root.Release();
}

TBRNExprToken* TBRNExprParser::ParseTriggerRoutine(TBRNParseFlags Flags) {
  TBRNParsedTree root(parseRoutineRoot(tkTriggerName, "TRIGGER"));
  root->AddArgument(ParseRoutineParameterList(Flags | pcNoParamList));
  root->AddArgument(NewTriggerRowList());
  for (int32_t i = 2; i <= 4; ++i) root->AddArgument(nullptr);
  root->AddArgument(ParseBeginBlock(Flags & ~pcReturn));
  return root.Release();
}

}  // namespace brn
