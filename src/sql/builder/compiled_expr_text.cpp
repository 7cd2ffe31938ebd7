// TBRNCompiledExpr::BuildText lives with the text builder so that the tree
// folder does not depend on the builder: the compiled expression declares
// it, the builder defines it.

#include <string>

#include "sql/builder/sql_builder.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace brn {

void TBRNCompiledExpr::BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text,
                                 bool ParameterValues, bool Costs) {
  TBRNExprBuilder builder;
  builder.IndentLevel = -1;
  builder.MultiLine = false;
  builder.Plan = Plan;
  builder.ParameterValues = ParameterValues;
  builder.Costs = Costs;
  const TBRNExprToken* node = Node ? Node : Root;
  // A stored statement is written as a statement, anything else as SQL.
  if (node && node->Kind == tkStatement)
    builder.BuildStatement(node);
  else
    builder.BuildSQL(node);
  Text = builder.GetText();
}

}  // namespace brn
