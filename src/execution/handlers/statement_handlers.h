#pragma once

#include <cstdint>

#include "execution/evaluator/local_expr_evaluator.h"

namespace brn {

// The statement handlers of the local evaluator and the filler of its
// handler table.
//
// Every SQL-statement handler follows one frame: it evaluates the clauses
// of its node, calls one or more operations of the session (configuration
// statements) or of the context's current database (catalog statements),
// and answers nullptr. An exception that leaves it is first written to the
// session's log as an Error event with the statement's failure code (the
// engine error code, 9999 for any other exception) and then passes on
// unchanged. DISCONNECT SERVER SESSION, REMOVE SERVER SESSION and RESET
// SERVER SESSION STATISTICS write nothing. The handlers check no rights:
// the session operations they call do.
//
// The handlers need an evaluator with a session, and the statements on
// catalog objects a current TBRNEvaluatorContext with a current database
// (std::logic_error otherwise). Used by the session's thread only.

// Writes every entry the engine has a handler for: the SQL statements and
// the kind rows of CREATE, ALTER, DROP, RENAME, ENABLE, DISABLE and RESET,
// and the procedural statements (procedural_handlers.h). The entries of the
// seven verb codes are left to the
// evaluator, which writes its dispatchers there; DECLARE, RETURN, the DML
// and SELECT codes, the bare GRANT, REVOKE and SET codes and the empty
// kind entries stay nullptr.
void FillStatementHandlers(TBRNStatementHandlers& handlers);

// Error 1107 of RESET SERVER SESSION STATISTICS with an ID that is not the
// session's own.
inline constexpr int32_t kBRNSessionNotPresentCode = 1107;

}  // namespace brn
