// Condition analysis of TBRNCompiledExpr: readying a filter condition for the
// filters (PrepareFilter, MarkOuterColumnReferences) and estimating which
// conditions an index can serve (OptimizeConditions and its steps). The
// per-condition estimate is the filter's override of AnalyzeIndexCondition,
// GetRowSize, GetRowCount and GetScanTableName; this file combines the
// answers.
//
// Every walk here is iterative: a filter condition can be a left-deep AND
// chain of any length.

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/types/data_types.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn {

namespace {

// The wildcard that turns an equality with text into a prefix comparison.
constexpr char kPrefixWildcard = '*';

bool isBinaryOperator(const TBRNExprToken* node, TBRNExprOperation op) {
  return node && node->Kind == tkOperator && node->Operation == op && node->Left() && node->Right();
}

bool isAndNode(const TBRNExprToken* node) {
  return isBinaryOperator(node, opAnd);
}

bool isAndOrNode(const TBRNExprToken* node) {
  return isBinaryOperator(node, opAnd) || isBinaryOperator(node, opOr);
}

bool isTextNode(const TBRNExprToken* node) {
  return IsTextDataType(node->DataType, node->SubType);
}

// A + B without overflow (estimates saturate at the largest cost).
int64_t addCosts(int64_t a, int64_t b) {
  if (b > 0 && a > std::numeric_limits<int64_t>::max() - b)
    return std::numeric_limits<int64_t>::max();
  return a + b;
}

// The options of PrepareFilter on a comparison whose column side is already
// on the left (Node has both operands).
void applyToComparison(TBRNExprToken* node, bool caseInsensitive, bool noPartialCompare) {
  TBRNExprToken* left = node->Left();
  TBRNExprToken* right = node->Right();
  if (right->Kind != tkConstant || !isTextNode(right)) return;
  if (node->Operation != opEqual && node->Operation != opNotEqual) return;
  if (!left->IsCaseInsensitive()) left->SetCaseInsensitive(caseInsensitive);
  // A comparison that already compares a prefix keeps its text: a second
  // PrepareFilter must not strip an asterisk that the first one left as a
  // literal.
  if (node->PartialLength != 0 || noPartialCompare) return;
  if (!HasOnlyTrailingWildcard(right->Text, kPrefixWildcard, '\0')) return;
  std::string prefix = right->Text;
  const int32_t length = StripTrailingWildcard(prefix, kPrefixWildcard, '\0');
  if (length > 0) {
    node->PartialLength = length;
    right->Text = std::move(prefix);
    return;
  }
  node->SetLeft(nullptr);
  node->SetRight(nullptr);
  if (node->Operation == opEqual) {
    // Every text starts with the empty prefix: any value but NULL matches.
    node->Kind = tkPredicate;
    node->Operation = opIsNotNull;
    right->SetDataType(dtNull);
    right->Text = "NULL";
    node->AddArgument(left);
    node->AddArgument(right);
    return;
  }
  // No text fails to start with the empty prefix, and a NULL compares to
  // unknown: no row matches. (NOT was pushed down before, so this FALSE is
  // never negated into TRUE.)
  FreeExprTree(left);
  FreeExprTree(right);
  node->Kind = tkConstant;
  node->Operation = opNone;
  node->Text = "FALSE";
  node->PartialLength = 0;
  node->Collation = 0;
  node->SetDataType(dtBoolean);
}

void applyFilterOptions(TBRNExprToken* root, bool caseInsensitive, bool noPartialCompare) {
  std::vector<TBRNExprToken*> work{root};
  auto pushArguments = [&work](const TBRNExprToken* node) {
    for (TBRNExprToken* argument : node->Arguments())
      if (argument) work.push_back(argument);
  };
  while (!work.empty()) {
    TBRNExprToken* node = work.back();
    work.pop_back();
    switch (node->Kind) {
      case tkOperator:
        if (isComparisonOperation(node->Operation) && node->Left() && node->Right()) {
          const bool leftColumn = ContainsColumnReference(node->Left());
          const bool rightColumn = ContainsColumnReference(node->Right());
          if (leftColumn != rightColumn) {
            if (rightColumn) MirrorComparison(node);
            applyToComparison(node, caseInsensitive, noPartialCompare);
            break;
          }
        }
        if (node->Left()) work.push_back(node->Left());
        if (node->Right()) work.push_back(node->Right());
        break;
      case tkPredicate:
        // Only text has a case to ignore: other types keep their collation.
        if (node->ArgumentCount() > 0) {
          TBRNExprToken* value = node->Argument(0);
          if (value && isTextNode(value) && !value->IsCaseInsensitive())
            value->SetCaseInsensitive(caseInsensitive);
        }
        pushArguments(node);
        break;
      case tkFunction:
      case tkRowValue:
        pushArguments(node);
        break;
      case tkUnaryOperator:
        if (node->Left()) work.push_back(node->Left());
        break;
      default:
        break;
    }
  }
}

// The AND and OR nodes of the condition levels under Root (Root included)
// that contain a column reference, found in one pass, so that long chains do
// not walk their whole subtree at every level.
std::unordered_set<const TBRNExprToken*> levelsWithColumns(const TBRNExprToken* root) {
  std::unordered_set<const TBRNExprToken*> result;
  auto hasColumns = [&result](const TBRNExprToken* node) {
    return isAndOrNode(node) ? result.contains(node) : ContainsColumnReference(node);
  };
  std::vector<std::pair<const TBRNExprToken*, bool>> work{{root, false}};
  while (!work.empty()) {
    auto [node, done] = work.back();
    work.pop_back();
    if (!isAndOrNode(node)) continue;
    if (!done) {
      work.push_back({node, true});
      work.push_back({node->Right(), false});
      work.push_back({node->Left(), false});
    } else if (hasColumns(node->Left()) || hasColumns(node->Right())) {
      result.insert(node);
    }
  }
  return result;
}

// Whether an index could serve the predicate: its value is a column (or a row
// of columns) and its other operands are free of columns.
bool isOptimisablePredicate(const TBRNExprToken* node) {
  const int32_t count = node->ArgumentCount();
  if (count == 0 || !IsColumnOrColumnRow(node->Argument(0))) return false;
  auto columnFree = [node, count](int32_t first, int32_t last) {
    for (int32_t i = first; i <= last && i < count; ++i)
      if (ContainsColumnReference(node->Argument(i))) return false;
    return true;
  };
  switch (node->Operation) {
    case opBetween:
    case opNotBetween:
      return columnFree(1, 2);
    case opIn:
    case opNotIn:
      return columnFree(1, count - 1);
    case opIsNull:
    case opIsNotNull:
      return true;
    case opLike:
    case opNotLike:
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny:
      return columnFree(1, 1);
    default:
      return false;
  }
}

}  // namespace

void TBRNCompiledExpr::PrepareFilter(bool CaseInsensitive, bool NoPartialCompare) {
  if (!Compiled || !Root) return;
  // NOT goes down first, so that the rewrites of an all-asterisk text (IS
  // NOT NULL, FALSE) are never negated: NOT (c = '*') is c <> '*', which no
  // row matches, where negating IS NOT NULL would select the NULL rows.
  Root = PushDownNot(Root, false);
  applyFilterOptions(Root, CaseInsensitive, NoPartialCompare);
}

void TBRNCompiledExpr::MarkOuterColumnReferences(const TBRNExprToken* Table) {
  if (!Compiled || !Root) return;
  std::vector<TBRNExprToken*> work{Root};
  while (!work.empty()) {
    TBRNExprToken* node = work.back();
    work.pop_back();
    const bool outer = node->Link && Table && node->Link != Table;
    switch (node->Kind) {
      case tkColumnReference:
        if (outer) node->Kind = tkOuterColumnReference;
        break;
      case tkOuterColumnReference:
        if (!outer) node->Kind = tkColumnReference;
        break;
      case tkOperator:
      case tkUnaryOperator:
        if (node->Left()) work.push_back(node->Left());
        if (node->Right()) work.push_back(node->Right());
        break;
      case tkPredicate:
      case tkFunction:
      case tkRowValue:
        for (TBRNExprToken* argument : node->Arguments())
          if (argument) work.push_back(argument);
        break;
      default:
        break;
    }
  }
}

void TBRNCompiledExpr::GetPlanText(std::string& Text) {
  BuildText(Root, true, Text, true, IncludeCosts);
}

void TBRNCompiledExpr::OptimizeConditions() {
  if (!Compiled || !Root) return;
  AnalyzeCondition(Root);
  if (ReorderAndChain(Root)) AnalyzeCondition(Root);
  EliminateCostlyIndexScans(Root);
}

void TBRNCompiledExpr::AnalyzeCondition(TBRNExprToken* Node) {
  if (!Node) return;
  // Post-order over the AND/OR levels; every other node is analysed alone.
  const std::unordered_set<const TBRNExprToken*> withColumns = levelsWithColumns(Node);
  std::vector<std::pair<TBRNExprToken*, bool>> work{{Node, false}};
  while (!work.empty()) {
    auto [node, merge] = work.back();
    work.pop_back();
    if (merge) {
      const TBRNExprToken* left = node->Left();
      const TBRNExprToken* right = node->Right();
      MergePlanNotes(node);
      if (node->Operation == opAnd) {
        node->OptimizeLevel = CombineAndLevels(left->OptimizeLevel, right->OptimizeLevel);
        if (IncludeCosts) {
          node->RowCount = std::min(left->RowCount, right->RowCount);
          node->EstimatedCost = std::min(left->EstimatedCost, right->EstimatedCost);
        }
      } else {
        node->OptimizeLevel = CombineOrLevels(left->OptimizeLevel, IsTextSearchPredicate(left),
                                              right->OptimizeLevel, IsTextSearchPredicate(right));
        if (IncludeCosts) {
          node->RowCount = std::max(left->RowCount, right->RowCount);
          node->EstimatedCost = std::max(left->EstimatedCost, right->EstimatedCost);
        }
      }
      continue;
    }

    // Notes of an earlier analysis must not survive into this one (the
    // second pass after a reorder, a filter analysing again).
    node->OptimizeLevel = 0;
    GetScanTableName(node->ScanName);
    node->IndexNumber = -1;
    node->CostEliminated = 0;
    node->HintColumns.clear();
    if (IncludeCosts) {
      node->RowCount = GetRowCount();
      node->EstimatedCost = int64_t(GetRowSize()) * int64_t(node->RowCount);
    } else {
      node->RowCount = 0;
      node->EstimatedCost = 0;
    }
    const bool hasColumns =
        isAndOrNode(node) ? withColumns.contains(node) : ContainsColumnReference(node);
    if (!hasColumns) {
      AnalyzeIndexCondition(node, IncludeCosts);
      continue;
    }
    switch (node->Kind) {
      case tkOperator:
        if (isAndOrNode(node)) {
          work.push_back({node, true});
          work.push_back({node->Right(), false});
          work.push_back({node->Left(), false});
        } else if (isComparisonOperation(node->Operation) && node->Right() &&
                   IsColumnOrColumnRow(node->Left()) && !ContainsColumnReference(node->Right())) {
          AnalyzeIndexCondition(node, IncludeCosts);
        }
        break;
      case tkPredicate:
        if (isOptimisablePredicate(node)) AnalyzeIndexCondition(node, IncludeCosts);
        break;
      case tkFunction:
      case tkRowValue:
      case tkUnaryOperator:
        AnalyzeIndexCondition(node, IncludeCosts);
        break;
      default:
        break;
    }
  }
}

void TBRNCompiledExpr::MergePlanNotes(TBRNExprToken* Node) {
  if (!isAndOrNode(Node)) return;
  const TBRNExprToken* left = Node->Left();
  const TBRNExprToken* right = Node->Right();
  if (left->OptimizeLevel != right->OptimizeLevel ||
      !TextEqualsIgnoreCase(left->ScanName, right->ScanName)) {
    Node->ScanName.clear();
    return;
  }
  if (left->CostEliminated != 0)
    Node->CostEliminated = left->CostEliminated;
  else if (right->CostEliminated != 0)
    Node->CostEliminated = right->CostEliminated;
  Node->ScanName = left->ScanName;
  if (TextEqualsIgnoreCase(left->HintColumns, right->HintColumns))
    Node->HintColumns = left->HintColumns;
  else if (!left->HintColumns.empty() && !right->HintColumns.empty())
    Node->HintColumns = left->HintColumns + "," + right->HintColumns;
  else
    Node->HintColumns = left->HintColumns.empty() ? right->HintColumns : left->HintColumns;
}

bool TBRNCompiledExpr::ReorderAndChain(TBRNExprToken* Node) {
  // The AND nodes of the chain are independent of one another once their
  // parent is done, so a work list replaces the recursion.
  if (!Node) return false;
  bool moved = false;
  std::vector<TBRNExprToken*> work{Node};
  while (!work.empty()) {
    TBRNExprToken* node = work.back();
    work.pop_back();
    node->EvaluationOrder = 1;
    if (!isAndNode(node)) continue;
    node->Left()->EvaluationOrder = 2;
    node->Right()->EvaluationOrder = 2;
    TBRNExprToken* a = CheapestInChain(node->Left());
    TBRNExprToken* b = CheapestInChain(node->Right());
    if (CheaperCondition(a, b) == a) {
      // A (left side) is cheaper: only when B sits higher does A trade places
      // with it and the sides exchange; else the left chain lifts A itself.
      if (b->EvaluationOrder < a->EvaluationOrder) {
        SwapNodes(a, b);
        SwapOperands(node);
        moved = true;
      }
    } else {
      if (a->EvaluationOrder < b->EvaluationOrder)
        SwapNodes(a, b);
      else
        SwapOperands(node);
      moved = true;
    }
    work.push_back(node->Right());
    work.push_back(node->Left());
  }
  return moved;
}

TBRNExprToken* TBRNCompiledExpr::CheapestInChain(TBRNExprToken* Node) {
  if (!isAndNode(Node)) return Node;
  // Post-order fold: the answers of Left and Right are combined in that
  // order, so ties go to the right as CheaperCondition gives them.
  std::vector<std::pair<TBRNExprToken*, bool>> work{{Node, false}};
  std::vector<TBRNExprToken*> answers;
  while (!work.empty()) {
    auto [node, combine] = work.back();
    work.pop_back();
    if (!isAndNode(node)) {
      answers.push_back(node);
    } else if (!combine) {
      node->Left()->EvaluationOrder = node->EvaluationOrder + 1;
      node->Right()->EvaluationOrder = node->EvaluationOrder + 1;
      work.push_back({node, true});
      work.push_back({node->Right(), false});
      work.push_back({node->Left(), false});
    } else {
      TBRNExprToken* right = answers.back();
      answers.pop_back();
      TBRNExprToken* left = answers.back();
      answers.back() = CheaperCondition(left, right);
    }
  }
  return answers.back();
}

TBRNExprToken* TBRNCompiledExpr::CheaperCondition(TBRNExprToken* A, TBRNExprToken* B) {
  if (IncludeCosts && A->EstimatedCost != B->EstimatedCost)
    return A->EstimatedCost < B->EstimatedCost ? A : B;
  return B->OptimizeLevel < A->OptimizeLevel ? A : B;
}

void TBRNCompiledExpr::EliminateCostlyIndexScans(TBRNExprToken* Node) {
  if (!Node) return;
  const std::unordered_set<const TBRNExprToken*> withColumns = levelsWithColumns(Node);
  std::vector<std::pair<TBRNExprToken*, bool>> work{{Node, false}};
  while (!work.empty()) {
    auto [node, treat] = work.back();
    work.pop_back();
    if (!treat) {
      if (!withColumns.contains(node)) continue;
      work.push_back({node, true});
      work.push_back({node->Right(), false});
      work.push_back({node->Left(), false});
      continue;
    }
    if (!IncludeCosts || node->Operation != opAnd) continue;
    TBRNExprToken* left = node->Left();
    TBRNExprToken* right = node->Right();
    if (IsTextSearchPredicate(left) || IsTextSearchPredicate(right)) continue;
    const int64_t rowSize = GetRowSize();
    // Cheaper scans the rows of the cheaper condition instead of using its
    // own index.
    auto demote = [this, rowSize](TBRNExprToken* costly, const TBRNExprToken* cheaper) {
      costly->CostEliminated = costly->OptimizeLevel;
      costly->OptimizeLevel = 0;
      GetScanTableName(costly->ScanName);
      costly->HintColumns.clear();
      costly->RowCount = cheaper->RowCount;
      costly->EstimatedCost = int64_t(cheaper->RowCount) * rowSize;
    };
    if (left->EstimatedCost < right->EstimatedCost) {
      if (int64_t(left->RowCount) * rowSize < right->EstimatedCost) {
        demote(right, left);
        node->RowCount = left->RowCount;
        node->EstimatedCost = addCosts(left->EstimatedCost, right->EstimatedCost);
        node->OptimizeLevel = CombineAndLevels(left->OptimizeLevel, right->OptimizeLevel);
        MergePlanNotes(node);
      }
    } else if (right->EstimatedCost < left->EstimatedCost) {
      if (int64_t(right->RowCount) * rowSize < left->EstimatedCost) {
        demote(left, right);
        node->RowCount = right->RowCount;
        node->EstimatedCost = addCosts(left->EstimatedCost, right->EstimatedCost);
        node->OptimizeLevel = CombineAndLevels(left->OptimizeLevel, right->OptimizeLevel);
        SwapOperands(node);
        MergePlanNotes(node);
      }
    } else {
      node->RowCount = std::min(left->RowCount, right->RowCount);
      node->EstimatedCost = std::min(left->EstimatedCost, right->EstimatedCost);
      node->OptimizeLevel = CombineAndLevels(left->OptimizeLevel, right->OptimizeLevel);
      MergePlanNotes(node);
    }
  }
}

}  // namespace brn
