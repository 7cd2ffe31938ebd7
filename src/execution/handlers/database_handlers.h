#pragma once

#include <cstdint>

#include "execution/evaluator/local_expr_evaluator.h"

namespace brn {

// The error of a clause whose text cannot be used (an empty DELIMITER
// CHAR, DECIMAL CHAR or STATEMENT TERM CHAR): 1011 "An error occurred with
// the clause <clause> (...)".
inline constexpr int32_t kBRNClauseErrorCode = 1011;

namespace handlers {

// The handlers of the statements on whole databases and tables: BACKUP and
// RESTORE DATABASE, SAVE and LOAD UPDATES, PUBLISH and UNPUBLISH DATABASE,
// COMPARE DATABASE, MIGRATE DATABASE, VERIFY, REPAIR, OPTIMIZE and EMPTY
// TABLE, IMPORT and EXPORT TABLE, and the procedural START TRANSACTION,
// COMMIT and ROLLBACK (which neither catch nor log).
//
// Each fills in the defaults its statement leaves open and calls one
// operation of the session or of the current database; the session
// operations write an Information event (category 0, the statement's
// failure code, error code 0) after the call returns. A failure is logged
// once with the statement's code and passes on. IMPORT and EXPORT on a
// table qualified by another database open that database as the context's
// current one for the call and restore the default afterwards, also on
// failure. Used by the session's thread.
void FillDatabaseOperationHandlers(TBRNStatementHandlers& handlers);

}  // namespace handlers
}  // namespace brn
