#pragma once

// Parsing whole statements for the grammar tests: a statement owner that
// allows table qualifiers on columns, as the statements of a session do.

#include <string>
#include <string_view>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree_printer.h"

namespace brn::testing {

class StatementOwner : public TBRNCompiledExpr {
 public:
  explicit StatementOwner(std::string_view Text) {
    SQL = std::string(Text);
    SQLLength = int32_t(SQL.size());
  }
  std::string GetKindName() const override { return "statement"; }
  bool AllowsTableQualifier() override { return true; }
};

// The flags of a session's statements.
inline constexpr TBRNParseFlags kStatementFlags = pcQueries | pcSchemaQualifier | pcColumnQualifier;

// Parses Text as one statement; an error raises error 700.
inline TreeHolder ParseStatementText(std::string_view Text,
                                     TBRNParseFlags Flags = kStatementFlags) {
  StatementOwner owner(Text);
  TBRNExprParser parser;
  parser.BeginParse(owner);
  return TreeHolder(parser.ParseStatement(Flags));
}

// "error <line>:<column> <parser message>" for an error 700.
inline std::string DescribeParseError(const EBRNException& Error) {
  const std::string& text = Error.ErrorMessage;
  std::string message = text;
  const size_t open = text.find(" (", text.find(" and column "));
  if (open != std::string::npos && !text.empty() && text.back() == ')')
    message = text.substr(open + 2, text.size() - open - 3);
  return "error " + std::to_string(Error.ErrorLine) + ":" + std::to_string(Error.ErrorColumn) +
         " " + message;
}

// The statement's tree printed, with " #<Variant>" when the root has an
// object kind; or the error as DescribeParseError puts it.
inline std::string ParseStatementAndPrint(std::string_view Text,
                                          TBRNParseFlags Flags = kStatementFlags) {
  try {
    TreeHolder tree = ParseStatementText(Text, Flags);
    std::string printed = PrintTree(tree.Get());
    if (tree->Variant != 0) printed += " #" + std::to_string(tree->Variant);
    return printed;
  } catch (const EBRNException& error) {
    return DescribeParseError(error);
  }
}

}  // namespace brn::testing
