// PLACEHOLDER until the procedural and statement checks are written (that
// work replaces this file's content): routine roots are not validated yet and
// the release pass of statements and routines has nothing to close.

#include "sql/validator/expr_validator.h"

namespace brn {

void TBRNExprValidater::ValidateRoutine(TBRNExprToken*) {}

void TBRNExprValidater::ReleaseRoutine(TBRNExprToken*) {}

void TBRNExprValidater::ReleaseStatement(TBRNExprToken*) {}

}  // namespace brn
