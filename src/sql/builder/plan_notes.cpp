#include "sql/builder/plan_notes.h"

#include <string>

#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn {

bool HasPlanNotes(const TBRNExprToken* Node) {
  return Node && !Node->ScanName.empty() && ContainsColumnReference(Node);
}

std::string PlanScanNote(const TBRNExprToken* Node, bool Costs) {
  std::string text;
  if (Node->PartialLength != 0)
    text = FormatText("Partial length match on %s char(s) ", {std::to_string(Node->PartialLength)});
  const std::string rows = std::to_string(Node->RowCount);
  const std::string cost = FormatByteSize(Node->EstimatedCost);
  switch (Node->OptimizeLevel) {
    case 0:
      if (Node->CostEliminated != 0)
        text += Costs ? FormatText(
                            "Row scan with one or more index scans eliminated due to cost "
                            "(%s): %s rows, %s estimated cost",
                            {Node->ScanName, rows, cost})
                      : FormatText(
                            "Row scan with one or more index scans eliminated due to cost "
                            "(%s)",
                            {Node->ScanName});
      else
        text += Costs ? FormatText("Row scan (%s): %s rows, %s estimated cost",
                                   {Node->ScanName, rows, cost})
                      : FormatText("Row scan (%s)", {Node->ScanName});
      break;
    case 2:
      text += Costs ? FormatText("Index scan (%s): %s keys, %s estimated cost",
                                 {Node->ScanName, rows, cost})
                    : FormatText("Index scan (%s)", {Node->ScanName});
      break;
    default:
      break;
  }
  return text;
}

std::string PlanHintNote(const TBRNExprToken* Node) {
  if (Node->OptimizeLevel != 0 || Node->HintColumns.empty()) return std::string();
  return FormatText("Hint: Create index(es) (%s) on column(s) %s for possible better performance",
                    {Node->ScanName, Node->HintColumns});
}

void TBRNExprBuilder::WritePlanNotes(const TBRNExprToken* Node) {
  if (!HasPlanNotes(Node)) return;
  const std::string scan = PlanScanNote(Node, Costs);
  const std::string hint = PlanHintNote(Node);
  if (scan.empty() && hint.empty()) return;
  WriteLineBreak();
  WriteLineBreak();
  Output.Append(scan);
  if (!hint.empty()) {
    WriteLineBreak();
    WriteLineBreak();
    Output.Append(hint);
  }
}

}  // namespace brn
