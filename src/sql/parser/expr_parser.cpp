#include "sql/parser/expr_parser.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// The statements a text may start with, named in the report of an unknown
// verb.
constexpr std::string_view kStatementVerbs =
    "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, GRANT, REVOKE, BACKUP, RESTORE, "
    "COMPARE, SET BACKUPS, MIGRATE, REPAIR, VERIFY, OPTIMIZE, IMPORT, EXPORT, DISCONNECT, "
    "REMOVE, PUBLISH, UNPUBLISH, SAVE, LOAD, SET UPDATES, COPY FILE, RENAME FILE, DELETE FILE";

constexpr std::string_view kEndOfExpression = "end of expression";

constexpr size_t kCaptureStackStep = 16;

template <typename Table>
TBRNExprParser::TBRNParseMethod lookupParser(const Table& table, int32_t first,
                                             TBRNExprOperation code) {
  const int32_t index = int32_t(code) - first;
  if (index < 0 || index >= int32_t(table.size())) return nullptr;
  return table[size_t(index)];
}

}  // namespace

TBRNExprParser::TBRNExprParser() {
  // The grammar fills its entries here, one per function, statement verb and
  // procedural keyword it parses; codes without an entry have no keyword of
  // their own or are produced by the methods of other codes.
  registerStatementParsers();
  InitFunctionParsers();
}

TBRNExprParser::~TBRNExprParser() = default;

void TBRNExprParser::BeginParse(TBRNCompiledExpr& Owner) {
  this->Owner = &Owner;
  const size_t length = std::min(Owner.SQL.size(), size_t(std::max(Owner.SQLLength, 0)));
  BeginScan(std::string_view(Owner.SQL.data(), length));
  CaptureStart = 1;
  CaptureStack.clear();
  CaptureStack.reserve(kCaptureStackStep);
  StatementLine = 1;
  NestingDepth = 0;
  NextToken();
}

TBRNExprToken* TBRNExprParser::ParseExpression(TBRNParseFlags Flags) {
  TBRNParsedTree root(ParseDisjunction(Flags));
  checkEndOfText();
  return root.Release();
}

TBRNExprToken* TBRNExprParser::ParseStatement(TBRNParseFlags Flags) {
  const TBRNParseMethod method = StatementParser(LookupStatement());
  if (!method) Expected(kStatementVerbs);
  TBRNParsedTree root((this->*method)(Flags));
  const uint8_t terminator = uint8_t(GetTerminator());
  if (Flags & pcTerminator)
    ExpectToken(terminator);
  else
    AcceptToken(terminator);
  checkEndOfText();
  return root.Release();
}

void TBRNExprParser::checkEndOfText() {
  if (!TokenAtEnd()) Expected(kEndOfExpression);
}

bool TBRNExprParser::AcceptToken(uint8_t Kind) {
  if (!IsToken(Kind)) return false;
  NextToken();
  return true;
}

bool TBRNExprParser::AcceptKeyword(std::string_view Word) {
  if (!IsKeyword(Word)) return false;
  NextToken();
  return true;
}

void TBRNExprParser::CheckToken(uint8_t Kind) {
  if (!IsToken(Kind)) ExpectedChar(char(Kind));
}

void TBRNExprParser::CheckKeyword(std::string_view Word) {
  if (!IsKeyword(Word)) Expected(Word);
}

void TBRNExprParser::ExpectToken(uint8_t Kind) {
  CheckToken(Kind);
  NextToken();
}

void TBRNExprParser::ExpectKeyword(std::string_view Word) {
  CheckKeyword(Word);
  NextToken();
}

bool TBRNExprParser::PeekToken(uint8_t Kind) {
  const TBRNScanState saved = SaveState();
  NextToken();
  const bool matches = IsToken(Kind);
  RestoreState(saved);
  return matches;
}

bool TBRNExprParser::PeekKeyword(std::string_view Word) {
  const TBRNScanState saved = SaveState();
  NextToken();
  const bool matches = IsKeyword(Word);
  RestoreState(saved);
  return matches;
}

char TBRNExprParser::GetTerminator() const {
  return Owner ? Owner->StatementTerminator : ';';
}

void TBRNExprParser::AppendName(std::string& Text, std::string_view Word) {
  if (!Text.empty()) Text += ", ";
  Text += Word;
}

TBRNExprParser::TBRNParseMethod TBRNExprParser::FunctionParser(TBRNExprOperation Code) const {
  return lookupParser(FunctionParsers, FirstFunctionCode, Code);
}

TBRNExprParser::TBRNParseMethod TBRNExprParser::StatementParser(TBRNExprOperation Code) const {
  return lookupParser(StatementParsers, FirstStatementCode, Code);
}

TBRNExprParser::TBRNParseMethod TBRNExprParser::RoutineStatementParser(
    TBRNExprOperation Code) const {
  return lookupParser(RoutineStatementParsers, FirstRoutineStatementCode, Code);
}

void TBRNExprParser::BeginCapture() {
  CaptureStack.push_back(CaptureStart);
  CaptureStart = TokenStart;
}

std::string TBRNExprParser::EndCapture() {
  if (CaptureStack.empty()) throw std::logic_error("TBRNExprParser: EndCapture without capture");
  const size_t begin = std::min(size_t(CaptureStart - 1), ScanText.size());
  const size_t end = std::min(size_t(TokenStart - 1), ScanText.size());
  std::string text(ScanText.substr(begin, end > begin ? end - begin : 0));
  CaptureStart = CaptureStack.back();
  CaptureStack.pop_back();
  return text;
}

TBRNExprToken* TBRNExprParser::NewNode(TBRNExprTokenKind Kind, TBRNExprOperation Operation) {
  auto* node = new TBRNExprToken;
  node->Kind = Kind;
  node->Operation = Operation;
  node->Line = Kind == tkRoutineStatement ? StatementLine : TokenLine;
  node->Column = TokenColumn();
  node->Position = TokenStart;
  return node;
}

void TBRNExprParser::MarkStatementLine() {
  StatementLine = Line;
}

void TBRNExprParser::CheckNotWildcard(const TBRNExprToken* Node) {
  if (Node && Node->Kind == tkColumnReference && TextEqualsIgnoreCase(Node->Name, "*"))
    InvalidExpression("columns wildcard (*) not allowed");
}

void TBRNExprParser::ExpectedChar(char C) {
  const std::string expected(1, C);
  const bool inside = !TokenAtEnd() && ScanText[size_t(TokenStart - 1)] != '\r' &&
                      ScanText[size_t(TokenStart - 1)] != '\n';
  if (inside)
    ReportToOwner(FormatText("Expected %s but instead found %s", {expected, TokenSourceText()}));
  ReportToOwner(FormatText("Missing %s", {expected}));
}

void TBRNExprParser::Expected(std::string_view What) {
  if (TokenAtEnd()) ReportToOwner(FormatText("Missing %s", {What}));
  ReportToOwner(FormatText("Expected %s but instead found %s", {What, TokenSourceText()}));
}

void TBRNExprParser::InvalidExpression(std::string_view Reason) {
  ReportToOwner(FormatText("Invalid expression %s found, %s", {TokenSourceText(), Reason}));
}

void TBRNExprParser::ReportToOwner(const std::string& Message) {
  if (!Owner) throw std::logic_error("TBRNExprParser: no owner (BeginParse not called)");
  // The line of the token start goes with its column, also for a token that
  // spans lines (a string with line breaks).
  Owner->ReportError(Message, TokenLine, TokenColumn());
  throw std::logic_error("TBRNExprParser: the owner's ReportError returned");
}

void TBRNExprParser::EnterNesting() {
  if (NestingDepth >= MaxNestingDepth) InvalidExpression("nested too deeply");
  ++NestingDepth;
}

TBRNParsedTree::~TBRNParsedTree() {
  FreeExprTree(FNode);
}

void TBRNParsedTree::Reset(TBRNExprToken* Node) {
  if (Node == FNode) return;
  FreeExprTree(FNode);
  FNode = Node;
}

TBRNExprToken* TBRNParsedTree::Release() {
  TBRNExprToken* node = FNode;
  FNode = nullptr;
  return node;
}

}  // namespace brn
