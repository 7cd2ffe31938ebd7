#include "execution/evaluator/reference_values.h"

#include <stdexcept>

#include "execution/evaluator/local_expr_evaluator.h"
#include "foundation/text/exception.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// A reference's descriptor: type, subtype and scale (never the length: that
// is the referenced value's own) and a collation.
void typeReference(TBRNValue& value, TBRNDataTypeCode type, TBRNDataSubType subType, int32_t scale,
                   int32_t collation) {
  value.SetDataType(type);
  value.SetDataSubType(subType);
  value.SetScale(scale);
  value.SetCollation(collation);
}

void typeFromNode(TBRNValue& value, const TBRNExprToken& from, int32_t collation) {
  typeReference(value, from.DataType, from.SubType, from.Scale, collation);
}

// From the declaring node's value when it has one, else from the node.
void typeFromDeclaration(TBRNValue& value, const TBRNExprToken& node) {
  const TBRNExprToken* declaration = node.Link;
  if (declaration != nullptr && declaration->Value != nullptr) {
    const TBRNValue& declared = *declaration->Value;
    typeReference(value, declared.GetDataType(), declared.GetSubType(), declared.GetScale(),
                  node.Collation);
  } else {
    typeFromNode(value, declaration != nullptr ? *declaration : node, node.Collation);
  }
}

}  // namespace

TBRNValue* TBRNNodeReferenceValue::declaredValue() const {
  const TBRNExprToken* declaration = Node->Link;
  if (declaration == nullptr || declaration->Value == nullptr)
    RaiseConversionFailure("reference", Node->Name, "The referenced value does not exist");
  return declaration->Value;
}

TBRNRoutineParamReferenceValue::TBRNRoutineParamReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                               TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  typeFromDeclaration(*this, *node);
}

TBRNDynamicParamReferenceValue::TBRNDynamicParamReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                               TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  typeFromDeclaration(*this, *node);
}

void TBRNDynamicParamReferenceValue::RefreshType() {
  typeFromDeclaration(*this, *Node);
}

int32_t TBRNDynamicParamReferenceValue::GetDirection() const {
  const auto* param = dynamic_cast<const TBRNParamValue*>(declaredValue());
  return param != nullptr ? param->GetDirection() : pmNotSet;
}

TBRNVariableReferenceValue::TBRNVariableReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                       TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  typeFromNode(*this, node->Link != nullptr ? *node->Link : *node, node->Collation);
}

TBRNCursorReferenceValue::TBRNCursorReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                   TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  const TBRNExprToken& from = node->Link != nullptr ? *node->Link : *node;
  typeFromNode(*this, from, from.Collation);
}

TBRNStatementReferenceValue::TBRNStatementReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                         TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  const TBRNExprToken& from = node->Link != nullptr ? *node->Link : *node;
  typeFromNode(*this, from, from.Collation);
}

// ---- ARRAY references

TBRNArrayValuesReferenceValue::TBRNArrayValuesReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                             TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  typeFromNode(*this, node->Link != nullptr ? *node->Link : *node, node->Collation);
}

TBRNArrayValuesValue* TBRNArrayValuesReferenceValue::GetArray() const {
  auto* array = dynamic_cast<TBRNArrayValuesValue*>(declaredValue());
  if (array == nullptr)
    RaiseConversionFailure("array", Node->Name, "The referenced value is not an array");
  return array;
}

void TBRNArrayValuesReferenceValue::Assign(const TBRNValue& source) {
  // An array reference as the source stands for its array.
  const TBRNValue* from = &source;
  if (const auto* reference = dynamic_cast<const TBRNArrayValuesReferenceValue*>(&source))
    from = reference->GetArray();
  GetArray()->Assign(*from);
}

TBRNArrayElementReferenceValue::TBRNArrayElementReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                               TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node),
      IndexNode(node->ArgumentCount() > 0 && node->Argument(0) != nullptr &&
                        node->Argument(0)->ArgumentCount() > 0
                    ? node->Argument(0)->Argument(0)
                    : nullptr) {
  typeFromNode(*this, node->Link != nullptr ? *node->Link : *node, node->Collation);
}

TBRNValue* TBRNArrayElementReferenceValue::GetReferencedValue() const {
  auto* array = dynamic_cast<TBRNArrayValuesValue*>(declaredValue());
  if (array == nullptr || IndexNode == nullptr)
    RaiseConversionFailure("array", Node->Name, "The referenced value is not an array");
  Evaluator->Evaluate(IndexNode);
  const int64_t index = IndexNode->Value->GetAsBigInt();
  if (index < 1 || index > INT32_MAX) array->RaiseIndexError(index);
  return array->GetElement(int32_t(index));
}

// ---- Rows

TBRNValue* TBRNRowVariableValue::GetReferencedValue() const {
  throw std::logic_error("A row variable is not a scalar value");
}

TBRNColumnReferenceValue::TBRNColumnReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                   TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  typeFromNode(*this, *node, node->Collation);
}

TBRNValue* TBRNColumnReferenceValue::GetReferencedValue() const {
  const TBRNEvaluationContext* context = Evaluator->GetContext();
  if (Node->Kind == tkRowColumnReference) {
    const TBRNExprToken* variable = Node->Link;
    const size_t which = variable != nullptr ? size_t(variable->Variant) : 2;
    TBRNRowValues* row = context != nullptr && which < context->TriggerRows.size()
                             ? context->TriggerRows[which]
                             : nullptr;
    if (row == nullptr)
      RaiseRowNotAvailable(variable != nullptr ? variable->Name : std::string_view());
    return row->GetItem(Node->Index);
  }
  if (context != nullptr) {
    const size_t source = Node->RowSource >= 0 ? size_t(Node->RowSource) : 0;
    if (source < context->CurrentRows.size())
      if (const TBRNValues* row = context->CurrentRows[source])
        if (Node->Index >= 0 && Node->Index < row->GetCount()) return row->GetItem(Node->Index);
  }
  // No current row: a value of the reference's own, NULL unless written.
  if (detached_ == nullptr) {
    detached_ = std::make_unique<TBRNContainedValue>();
    TypeValueFromNode(*detached_, *Node);
    detached_->SetNull(true);
  }
  return detached_.get();
}

void TBRNColumnReferenceValue::RaiseRowNotAvailable(std::string_view name) const {
  const TBRNEvaluationContext* context = Evaluator->GetContext();
  const int32_t operation = context != nullptr ? context->TriggerOperation : -1;
  const char* verb = operation == 0   ? "INSERT"
                     : operation == 1 ? "UPDATE"
                     : operation == 2 ? "DELETE"
                                      : "All";
  RaiseConversionFailure(
      "row", name, std::string("The row value cannot be referenced in an ") + verb + " operation");
}

TBRNSelectColumnReferenceValue::TBRNSelectColumnReferenceValue(TBRNLocalExprEvaluator* evaluator,
                                                               TBRNExprToken* node)
    : TBRNNodeReferenceValue(evaluator, node) {
  const TBRNExprToken& from = node->Link != nullptr ? *node->Link : *node;
  typeFromNode(*this, from, from.Collation);
}

TBRNValue* TBRNSelectColumnReferenceValue::GetReferencedValue() const {
  const TBRNEvaluatorContext* context = Evaluator->GetEvaluatorContext();
  const TBRNExprToken* item = Node->Link;
  if (context == nullptr || context->ResultRow == nullptr || item == nullptr || item->Index < 0 ||
      item->Index + 1 >= context->ResultRow->GetCount())
    RaiseConversionFailure("column", Node->Name, "The result row is not available");
  return context->ResultRow->GetItem(item->Index + 1);
}

}  // namespace brn
