// INSERT, UPDATE and DELETE. Each statement begins with a line break: a
// blank in single-line text, CR LF in multi-line text.

#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

void TBRNExprBuilder::BuildStatement(const TBRNExprToken* Node) {
  if (!Node) return;
  if (Node->Kind != tkStatement) {
    BuildSQL(Node);
    return;
  }
  switch (Node->Operation) {
    case opInsert:
      WriteInsert(Node);
      break;
    case opUpdate:
      WriteUpdate(Node);
      break;
    case opDelete:
      WriteDelete(Node);
      break;
    default:
      break;
  }
}

void TBRNExprBuilder::WriteInsert(const TBRNExprToken* Statement) {
  const TBRNExprToken* target = OptionalArgument(Statement, 0);
  WriteLineBreak();
  Output.Append("INSERT INTO ");
  WriteNodeName(OptionalArgument(OptionalArgument(target, qpFrom), 0));
  // Without a column list nothing is written: "()" would not read back.
  const TBRNExprToken* columns = OptionalArgument(target, qpSelectList);
  const bool hasColumns = columns && columns->ArgumentCount() > 0;
  if (hasColumns) {
    WriteLineBreak();
    Output.AppendChar('(');
    for (int32_t i = 0; i < columns->ArgumentCount(); ++i) {
      if (i > 0) Output.Append(", ");
      writeExpression(columns->Argument(i), 1);
    }
    Output.AppendChar(')');
  }
  if (const TBRNExprToken* query = OptionalArgument(target, qpSourceQuery)) {
    WriteLineBreak();
    // A parenthesised source query reads back only after a column list.
    buildQuery(query, false, hasColumns);
    return;
  }
  WriteLineBreak();
  Output.Append("VALUES ");
  if (const TBRNExprToken* values = OptionalArgument(target, qpValues)) {
    for (int32_t i = 0; i < values->ArgumentCount(); ++i) {
      if (i > 0) Output.Append(", ");
      writeExpression(values->Argument(i), 1);
    }
  }
}

void TBRNExprBuilder::WriteUpdate(const TBRNExprToken* Statement) {
  const TBRNExprToken* target = OptionalArgument(Statement, 0);
  const TBRNExprToken* from = OptionalArgument(target, qpFrom);
  WriteLineBreak();
  Output.Append("UPDATE ");
  WriteNodeName(OptionalArgument(from, 0));
  WriteLineBreak();
  Output.Append("SET ");
  const TBRNExprToken* columns = OptionalArgument(target, qpSelectList);
  const TBRNExprToken* values = OptionalArgument(target, qpValues);
  const int32_t count = columns ? columns->ArgumentCount() : 0;
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0) {
      Output.AppendChar(',');
      WriteLineBreak();
    }
    writeExpression(columns->Argument(i), 1);
    Output.Append(" = ");
    writeExpression(OptionalArgument(values, i), 1);
  }
  if (const TBRNExprToken* where = OptionalArgument(target, qpWhere)) WriteWhere(from, where);
}

void TBRNExprBuilder::WriteDelete(const TBRNExprToken* Statement) {
  const TBRNExprToken* target = OptionalArgument(Statement, 0);
  const TBRNExprToken* from = OptionalArgument(target, qpFrom);
  WriteLineBreak();
  Output.Append("DELETE FROM ");
  WriteNodeName(OptionalArgument(from, 0));
  if (const TBRNExprToken* where = OptionalArgument(target, qpWhere)) WriteWhere(from, where);
}

}  // namespace brn
