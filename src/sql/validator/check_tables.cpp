// The check tables of the validator: one check method per function,
// statement and procedural statement code that needs one. Each area's checks
// register here, one line per code; an empty entry means the node needs no
// check of its own.

#include "sql/validator/expr_validator.h"

namespace brn {

void TBRNExprValidater::InitFunctionChecks() {
  FunctionChecks.fill(nullptr);
}

void TBRNExprValidater::InitStatementChecks() {
  StatementChecks.fill(nullptr);
}

void TBRNExprValidater::InitRoutineStatementChecks() {
  RoutineStatementChecks.fill(nullptr);
}

}  // namespace brn
