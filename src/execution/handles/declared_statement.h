#pragma once

#include <memory>

#include "foundation/values/value.h"

namespace brn {

class TBRNCursor;
class TBRNExprToken;
class TBRNLocalStatementManager;

// What the run-time value of a declared statement (STATEMENT or the
// statement of a cursor declaration) shows to the procedure and script
// handles: the handle they return a cursor of and the debugger inspects.
// Used by the thread that runs the routine.
class TBRNDeclaredStatement {
 public:
  virtual ~TBRNDeclaredStatement() = default;

  // The prepared statement handle; nullptr while not prepared.
  virtual TBRNLocalStatementManager* GetStatementHandle() const = 0;
  // The open result cursor; nullptr while not open.
  virtual TBRNCursor* GetResultCursor() const = 0;
  // Forgets the open result cursor without closing it, so that it outlives
  // the value (the cursor stays registered in its database, which then
  // owns it); answers it, or nullptr when none is open.
  virtual TBRNCursor* DetachResultCursor() = 0;
};

// The cursor a procedure or script returns, taken after its body ran: the
// run-time value of the statement named by the root's result-cursor
// declaration (argument 3) leaves the tree into kept. With keep, and when
// that statement has an open cursor, the cursor is answered; it lives as
// long as kept does (the statement's query frees its result cursor when it
// goes, as for any statement handle). Otherwise kept is freed and the
// answer is nullptr.
TBRNCursor* TakeResultCursor(TBRNExprToken* root, bool keep, std::unique_ptr<TBRNValue>& kept);

}  // namespace brn
