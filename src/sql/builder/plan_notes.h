#pragma once

#include <string>

namespace brn {

class TBRNExprToken;

// The notes an execution plan shows under an analysed condition, from the
// fields the condition analysis left on the node (ScanName, OptimizeLevel,
// CostEliminated, RowCount, EstimatedCost, PartialLength, HintColumns).

// Whether Node gets notes at all: it contains a column reference and has a
// scan name.
bool HasPlanNotes(const TBRNExprToken* Node);
// The partial-length note (with its trailing blank) followed by the scan
// note: "Index scan (name): 12 keys, 1.5KB estimated cost" with Costs, else
// "Index scan (name)". Empty for a partly optimised node without a partial
// length.
std::string PlanScanNote(const TBRNExprToken* Node, bool Costs);
// "Hint: Create index(es) ..." for a row scan with hint columns, else empty.
std::string PlanHintNote(const TBRNExprToken* Node);

}  // namespace brn
