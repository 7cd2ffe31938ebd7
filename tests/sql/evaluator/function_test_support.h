#pragma once

// Whole-path evaluation of one expression text for the function and CAST
// tables: parsed, validated over the shared types catalog, evaluated.
#include <string>
#include <string_view>

#include "foundation/text/exception.h"
#include "foundation/types/data_types.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {

// "<type name> <result>", "<type name> NULL", "error <code>" for an
// evaluation error (with " <message>" when WithMessage), or the error of
// parsing and validation.
inline std::string EvaluateFunctionText(std::string_view Text, bool StandardNull = true,
                                        bool WithMessage = false) {
  ValidationRun run(Text, {.StandardNull = StandardNull, .Print = false});
  if (!run.Result.empty()) return run.Result;
  TBRNExprToken* root = run.Owner.Root;
  TBRNExprEvaluator evaluator(StandardNull);
  evaluator.Prepare(root);
  std::string result;
  try {
    evaluator.Evaluate(root);
    result = DataTypeName(root->DataType, root->SubType) + " " +
             (root->Value->GetNull() ? std::string("NULL") : root->Value->GetAsString());
  } catch (const EBRNException& e) {
    result = "error " + std::to_string(e.ErrorCode);
    if (WithMessage) result += std::string(" ") + e.what();
  }
  evaluator.Unprepare(root);
  return result;
}

}  // namespace brn::testing
