#pragma once

// Parsing procedural code for the grammar tests: statement lists, blocks and
// routine entries over a statement owner, with the whole text required.

#include <string>
#include <string_view>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/statement_support.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {

// The flags a procedure body gets inside a session.
inline constexpr TBRNParseFlags kBodyFlags = pcQueries | pcColumnQualifier | pcResultCursors;

// Runs Parse (a callable taking the parser) over Text; the text must be
// read completely. An error raises error 700.
template <typename TParse>
TreeHolder ParseWith(std::string_view Text, TParse&& Parse) {
  StatementOwner owner(Text);
  TBRNExprParser parser;
  parser.BeginParse(owner);
  TreeHolder tree(Parse(parser));
  if (!parser.TokenAtEnd()) parser.Expected("end of expression");
  return tree;
}

// A statement list (the body of IF or LOOP) read from Text with Flags.
inline TreeHolder ParseStatementList(std::string_view Text, TBRNParseFlags Flags = kBodyFlags) {
  return ParseWith(Text, [Flags](TBRNExprParser& Parser) {
    return Parser.ParseBlock(Flags & ~pcBeginBlock, std::string());
  });
}

// The statements of a statement list printed and separated by " | ", or the
// error as DescribeParseError puts it.
inline std::string PrintStatements(std::string_view Text, TBRNParseFlags Flags = kBodyFlags) {
  try {
    TreeHolder list = ParseStatementList(Text, Flags);
    std::string printed;
    for (const TBRNExprToken* statement : list->Argument(1)->Arguments()) {
      if (!printed.empty()) printed += " | ";
      printed += PrintTree(statement);
    }
    if (list->Argument(2)) printed += " | " + PrintTree(list->Argument(2));
    return printed;
  } catch (const EBRNException& error) {
    return DescribeParseError(error);
  }
}

// Runs Parse and answers the tree printed, or the error.
template <typename TParse>
std::string PrintWith(std::string_view Text, TParse&& Parse) {
  try {
    return PrintTree(ParseWith(Text, Parse).Get());
  } catch (const EBRNException& error) {
    return DescribeParseError(error);
  }
}

}  // namespace brn::testing
