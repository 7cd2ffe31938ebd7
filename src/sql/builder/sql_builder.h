#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/text/string_builder.h"

namespace brn {

class TBRNExprToken;

// Writes syntax trees back as canonical SQL text: one keyword per function
// (synonyms collapse), upper-case keywords, names in double quotes, strings
// in single quotes, the comma form for every function argument and the
// explicit word ALL after SELECT.
//
// Contract: whatever the builder writes for a parsed tree parses back (with
// the flags the tree was parsed with) into an equal tree (ExprTreesEqual).
// Parentheses are written where the source had them (Parenthesized) and,
// for trees built or rewritten in code, wherever operator precedence needs
// them.
//
// Use: set the options, build one or more nodes, GetText, Clear. The options
// persist from one use to the next, so every user sets those it relies on.
// One builder per session; not for use by several threads at once.
class TBRNExprBuilder {
 public:
  TBRNExprBuilder() = default;
  TBRNExprBuilder(const TBRNExprBuilder&) = delete;
  TBRNExprBuilder& operator=(const TBRNExprBuilder&) = delete;

  // Appends the text of any node (nullptr appends nothing).
  void BuildSQL(const TBRNExprToken* Node);
  // A DELETE, INSERT or UPDATE statement node is written as that statement;
  // another statement appends nothing; any other node goes to BuildSQL.
  void BuildStatement(const TBRNExprToken* Node);
  // Appends a query expression (tkQuery); Nested is true for a query inside
  // another node (it is then written on one line).
  void BuildQuery(const TBRNExprToken* Query, bool Nested);

  std::string GetText() const { return Output.GetText(); }
  // Empties Output; the options stay.
  void Clear() { Output.SetLength(0); }

  // The text built so far.
  TBRNStringBuilder Output;
  // Write a dynamic parameter's current value instead of "?".
  bool ParameterValues = false;
  // Plan mode: conditions get plan notes.
  bool Plan = false;
  // Plan notes include row counts and costs.
  bool Costs = false;
  // Indentation after a line break; negative means none.
  int32_t IndentLevel = 0;
  // A line break is CR LF rather than one blank.
  bool MultiLine = false;

 private:
  // ---- Layout and names (expression_builder.cpp) ----
  void WriteLineBreak();
  void WriteIndent();
  void WriteNodeName(const TBRNExprToken* Node);
  void WriteLiteral(std::string_view Text, int32_t DataType, int32_t SubType);
  void WriteDataType(const TBRNExprToken* Node);
  void WriteIntervalQualifier(const TBRNExprToken* Node);
  void writeQuotedName(std::string_view Name);
  void writePlainName(std::string_view Name);

  // ---- Expressions (expression_builder.cpp) ----
  // Writes Node, in parentheses when the source had them or when its
  // precedence is looser than MinLevel (see the levels in the .cpp).
  void writeExpression(const TBRNExprToken* Node, int32_t MinLevel);
  void writeBareQuery(const TBRNExprToken* Node);
  void writeListMember(const TBRNExprToken* Node, int32_t MinLevel, bool GreedyFollows);
  void writeOperatorChain(const TBRNExprToken* Node, int32_t MinLevel);
  void writePlanOperator(const TBRNExprToken* Node, bool Parens);
  void writePredicate(const TBRNExprToken* Node);
  void writeFunction(const TBRNExprToken* Node, int32_t ArgumentCount);
  void writeCast(const TBRNExprToken* Node);
  void writeCase(const TBRNExprToken* Node);

  // ---- Queries (query_builder.cpp) ----
  void buildQuery(const TBRNExprToken* Query, bool Nested, bool AllowParentheses);
  void WriteSelectList(const TBRNExprToken* List);
  void WriteInto(const TBRNExprToken* List);
  void WriteFrom(const TBRNExprToken* List);
  void WriteWhere(const TBRNExprToken* FromList, const TBRNExprToken* WhereList);
  void WriteGroupBy(const TBRNExprToken* List);
  void WriteHaving(const TBRNExprToken* Condition);
  void WriteOrderBy(const TBRNExprToken* List);
  void WriteQueryOptions(const TBRNExprToken* Query);
  void writeOrderItems(std::string_view Clause, const TBRNExprToken* List);

  // ---- Statements (statement_builder.cpp) ----
  void WriteInsert(const TBRNExprToken* Statement);
  void WriteUpdate(const TBRNExprToken* Statement);
  void WriteDelete(const TBRNExprToken* Statement);

  // ---- Plan notes (plan_notes.cpp) ----
  // Appends two line breaks and Node's notes when it has any.
  void WritePlanNotes(const TBRNExprToken* Node);
};

// The argument at Index, or nullptr when Node has fewer arguments.
const TBRNExprToken* OptionalArgument(const TBRNExprToken* Node, int32_t Index);

}  // namespace brn
