#include "clientserver/remote/remote_expr_evaluator.h"

#include "sql/tree/expr_token.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {

// ---------------------------------------------------------------------------
// TBRNRemoteExprEvaluator

TBRNRemoteExprEvaluator::TBRNRemoteExprEvaluator(bool standardNullBehavior)
    : TBRNExprEvaluator(standardNullBehavior) {
  CurrentRows = &rows_;
}

TBRNRemoteExprEvaluator::~TBRNRemoteExprEvaluator() = default;

void TBRNRemoteExprEvaluator::SetCurrentRow(const TBRNValues* row) {
  rows_[0] = row;
}

void TBRNRemoteExprEvaluator::EvaluateWithRow(TBRNExprToken* root, const TBRNValues& row) {
  const TBRNValues* previous = rows_[0];
  rows_[0] = &row;
  try {
    Prepare(root);
    Evaluate(root);
  } catch (...) {
    rows_[0] = previous;
    throw;
  }
  rows_[0] = previous;
}

void TBRNRemoteExprEvaluator::CreateTokenValue(TBRNExprToken* node) {
  if (node->Kind != tkColumnReference || node->GetOwnValue() != nullptr)
    return TBRNExprEvaluator::CreateTokenValue(node);
  node->SetOwnValue(std::make_unique<TBRNRemoteColumnReferenceValue>(*this, *node));
}

// ---------------------------------------------------------------------------
// TBRNRemoteColumnReferenceValue

TBRNRemoteColumnReferenceValue::TBRNRemoteColumnReferenceValue(
    const TBRNRemoteExprEvaluator& evaluator, const TBRNExprToken& node)
    : evaluator_(evaluator), node_(node) {
  // The length is the referenced value's own.
  SetDataType(node.DataType);
  SetDataSubType(node.SubType);
  SetScale(node.Scale);
  SetCollation(node.Collation);
}

TBRNRemoteColumnReferenceValue::~TBRNRemoteColumnReferenceValue() = default;

TBRNValue* TBRNRemoteColumnReferenceValue::GetReferencedValue() const {
  if (const TBRNValues* row = evaluator_.GetCurrentRow())
    if (node_.Index >= 0 && node_.Index < row->GetCount()) return row->GetItem(node_.Index);
  if (detached_ == nullptr) {
    detached_ = std::make_unique<TBRNContainedValue>();
    detached_->SetDataType(node_.DataType);
    detached_->SetDataSubType(node_.SubType);
    detached_->SetScale(node_.Scale);
    detached_->SetCollation(node_.Collation);
    detached_->SetNull(true);
  }
  return detached_.get();
}

}  // namespace brn
