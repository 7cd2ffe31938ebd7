#pragma once

#include "execution/evaluator/local_expr_evaluator.h"

namespace brn {

// The handlers of the procedural statements (codes 182..214): control flow,
// ABORT and CALL, assignments and the SET statements that report to the
// caller, USE, the cursor statements and dynamic SQL. The transaction
// statements (START TRANSACTION, COMMIT, ROLLBACK) are the database
// operation handlers'; DECLARE and RETURN belong to the block runner.
//
// Each handler answers nullptr when its statement completed, or the node of
// an ITERATE, LEAVE, RAISE or RETRY statement that an enclosing statement
// or block must act on. Conditions of IF, CASE, WHILE and REPEAT go through
// EvaluateStepExpression (the debugger's pausing points), and every loop
// and branch returns at once once its context is stopped. The handlers log
// nothing: their failures reach the block runner.
//
// They need a current TBRNEvaluatorContext (std::logic_error otherwise);
// USE and dynamic SQL need the evaluator's session. Used by the thread that
// runs the evaluator.
void FillProceduralHandlers(TBRNStatementHandlers& handlers);

}  // namespace brn
