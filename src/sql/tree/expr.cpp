#include "sql/tree/expr.h"

#include "sql/tree/expr_token.h"

namespace brn {

TBRNExpr::~TBRNExpr() {
  TBRNExpr::ClearRoot();
}

std::string TBRNExpr::GetKindName() const {
  return "expression";
}

bool TBRNExpr::OwnsRoot() const {
  return true;
}

void TBRNExpr::ReportError(const std::string& Message, int32_t Line, int32_t Column) {
  (void)Message;
  (void)Line;
  (void)Column;
}

void TBRNExpr::SetRoot(TBRNExprToken* Node) {
  // Copy before clearing: Node may lie inside the tree being freed.
  TBRNExprToken* newRoot = OwnsRoot() ? CopyExprTree(Node) : Node;
  ClearRoot();
  Root = newRoot;
}

int64_t TBRNExpr::MemorySize() const {
  int64_t size = sizeof(TBRNExpr);
  if (Root && OwnsRoot()) size += Root->MemorySize();
  return size;
}

void TBRNExpr::ClearRoot() {
  if (OwnsRoot())
    FreeExprTree(Root);
  else
    Root = nullptr;
}

void TBRNExpr::Assign(const TBRNExpr* Other, bool WithTree) {
  if (WithTree && Other != this) SetRoot(Other->Root);
}

bool TBRNExpr::Equals(const TBRNExpr* Other) const {
  return ExprTreesEqual(Root, Other->Root);
}

void TBRNExpr::WriteToStream(TBRNMemoryStream& Stream) {
  (void)Stream;
}

void TBRNExpr::ReadFromStream(TBRNMemoryStream& Stream) {
  (void)Stream;
}

}  // namespace brn
