#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/parser/parse_flags.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {
class EBRNException;
}

namespace brn::testing {

struct TreePrintOptions {
  // Appends ":<type name>" to constants, operators and predicates
  // (":VarChar(3)" with the size of character and byte constants). Data type
  // nodes always show their type.
  bool Types = false;
};

// One line of text that shows the shape of a syntax tree, for tables of
// (input, expected tree) cases. Expressions print fully parenthesised in
// infix form with the canonical words of their operations:
//   ((1 + (2 * 3)) - 4)   (a NOT BETWEEN 1 AND 2)   (x IN (1, 'a'))
//   (- x)   (NOT p)   T.c[1] COLLATE Name DESC   ?   COUNT(*)   F(a, nil)
//   ROW(a, b)   DATE '2020-01-02'   INTERVAL '1' DAY TO SECOND   X'1F'
// A parenthesised subtraction with an interval qualifier prints as
// "(a - b) DAY TO SECOND". Every other kind prints generically as
//   Kind:Operation name AS alias -> JoinTableName (arguments) [Left, Right]
// with "nil" for absent arguments, e.g. "List:Collate(CollationName ANSI)".
std::string PrintTree(const TBRNExprToken* Node, TreePrintOptions Options = {});

// "ColumnReference" for tkColumnReference.
std::string_view KindName(TBRNExprTokenKind Kind);

// The nodes of the tree under Root (operands and arguments; 0 for nil).
int64_t CountNodes(const TBRNExprToken* Root);

// Owns a parsed tree for the length of a test.
class TreeHolder {
 public:
  explicit TreeHolder(TBRNExprToken* Node = nullptr) : FNode(Node) {}
  ~TreeHolder() { FreeExprTree(FNode); }
  TreeHolder(TreeHolder&& Other) noexcept : FNode(Other.FNode) { Other.FNode = nullptr; }
  TreeHolder& operator=(TreeHolder&& Other) noexcept;
  TreeHolder(const TreeHolder&) = delete;
  TreeHolder& operator=(const TreeHolder&) = delete;

  TBRNExprToken* Get() const { return FNode; }
  TBRNExprToken* operator->() const { return FNode; }
  TBRNExprToken* Release();
  // Frees the held tree and holds Node instead.
  void Reset(TBRNExprToken* Node);

 private:
  TBRNExprToken* FNode;
};

// Parses Text as a whole expression (ParseExpression) with Flags; an error
// raises the parser's EBRNException (error 700).
TreeHolder ParseExpressionText(std::string_view Text, TBRNParseFlags Flags = 0);
// Parses Text with Flags and answers the tree printed, or, when parsing fails,
// "error <line>:<column> <message>" with the parser's message (the text
// inside the parentheses of error 700).
// "error <line>:<column> <message>" for an error 700 of the parser.
std::string DescribeError(const EBRNException& Error);
std::string ParseAndPrint(std::string_view Text, TBRNParseFlags Flags = 0,
                          TreePrintOptions Options = {});

}  // namespace brn::testing
