#include "sql/evaluator/typed_tree_builder.h"

#include "foundation/text/exception.h"
#include "foundation/values/value.h"

namespace brn::testing {

std::string ResultText(TBRNExprEvaluator& Evaluator, TBRNExprToken* Root) {
  Evaluator.Evaluate(Root);
  if (Root->Value->GetNull()) return "NULL";
  return Root->Value->GetAsString();
}

std::string EvaluateTree(TBRNExprToken* Root, bool StandardNullBehavior) {
  TypedTree tree(Root);
  TBRNExprEvaluator evaluator(StandardNullBehavior);
  try {
    return ResultText(evaluator, tree.Get());
  } catch (const EBRNException& e) {
    return "error " + std::to_string(e.ErrorCode);
  }
}

}  // namespace brn::testing
