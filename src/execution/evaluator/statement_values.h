#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "execution/handles/declared_statement.h"
#include "foundation/values/contained_value.h"

namespace brn {

class TBRNCursor;
class TBRNCursorRow;
class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNLocalStatementManager;
class TBRNValues;

// Error codes of procedural statements on statements and routines.
inline constexpr int32_t kBRNStatementErrorCode = 900;
inline constexpr int32_t kBRNRoutineErrorCode = 901;

// The run-time value of a STATEMENT declaration, or of the statement a
// cursor is declared FOR: PREPARE makes its statement handle on the current
// database, EXECUTE and OPEN run it with a USING list, and FETCH and the
// other cursor statements read its result cursor through its row buffer.
//
// Ownership: the value owns the handle (freed by Unprepare and the
// destructor) and keeps the database it prepared on open once more until
// then, so that the database cannot free the handle under it. The result
// cursor stays registered in that database; the value frees it on Close
// unless DetachResultCursor handed it on.
//
// Used by the thread that runs the routine.
class TBRNStatementValue : public TBRNReferenceValue, public TBRNDeclaredStatement {
 public:
  // Neither is owned; the node (the declared statement name) owns the value.
  TBRNStatementValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  ~TBRNStatementValue() override;
  TBRNStatementValue(const TBRNStatementValue&) = delete;
  TBRNStatementValue& operator=(const TBRNStatementValue&) = delete;

  // Un-prepares, then prepares sql on the current evaluator context's
  // current database; line and column are where errors in the text are
  // reported. A failure leaves the value un-prepared and passes on.
  void Prepare(const std::string& sql, int32_t line, int32_t column);
  // Closes the result, frees the handle and closes the database again.
  void Unprepare();
  // Frees the row buffer, and the result cursor too when freeCursor (else
  // only forgets it).
  void Close(bool freeCursor);
  // Closes the previous result, copies the values of the nodes of usingList
  // (evaluated by the caller; nullptr for none) into the parameters, runs
  // the handle, copies OUT and INOUT values back and reads the result's
  // current row. Without a handle 900 "An attempt was made to execute the
  // unprepared statement %s". Every failure is raised again with its
  // engine code (900 for any other exception) and "An error occurred with
  // the statement at line %s and column %s (%s)" at line and column.
  void Execute(TBRNExprToken* usingList, int32_t line, int32_t column);

  // 1000 with "An attempt was made to access a closed cursor" when no
  // result cursor is open; 1000 "The cursor has no active row" when it has
  // no current row. name, line and column name the cursor in the message.
  void RequireOpenCursor(const std::string& name, int32_t line, int32_t column) const;
  void RequireActiveRow(const std::string& name, int32_t line, int32_t column) const;
  [[noreturn]] void RaiseColumnCountMismatch(const std::string& name, const std::string& target,
                                             int32_t line, int32_t column) const;
  [[noreturn]] static void RaiseCursorError(const std::string& name, int32_t line, int32_t column,
                                            const std::string& detail);

  bool IsPrepared() const { return handle_ != nullptr; }
  // The SQL text prepared; empty when not prepared.
  const std::string& GetText() const { return text_; }
  // The row buffer of the result cursor; nullptr when none is open.
  TBRNCursorRow* GetRow() const { return row_.get(); }
  // Creates the row buffer when missing and reads the current row into it
  // (without a lock, or locked for an update).
  void ReadCurrentRow(bool forUpdate);

  TBRNLocalStatementManager* GetStatementHandle() const override { return handle_; }
  TBRNCursor* GetResultCursor() const override { return cursor_; }
  TBRNCursor* DetachResultCursor() override;

  // A statement is no data value: any data access raises.
  TBRNValue* GetReferencedValue() const override;

  // Copied into the handle before each execution.
  bool RequestSensitive = true;
  TBRNLocalExprEvaluator* const Evaluator;
  TBRNExprToken* const Node;

 private:
  void freeCursor() noexcept;

  TBRNLocalStatementManager* handle_ = nullptr;
  TBRNLocalDatabaseManager* database_ = nullptr;
  TBRNCursor* cursor_ = nullptr;
  std::unique_ptr<TBRNCursorRow> row_;
  std::string text_;
};

// The parameter transfer between the USING values of a statement and the
// parameters of a prepared statement or routine (both lists in order; the
// USING values evaluated already, usingList nullptr for none).
//  - CopyParamsIn: a parameter beyond the USING list becomes NULL; an IN or
//    INOUT parameter takes the USING value (and first its type, when it has
//    none yet); OUT and RESULT parameters stay as they are.
//  - CopyParamsOut: for each position both lists have, an OUT, INOUT or
//    RESULT parameter is assigned to the USING value (which first takes the
//    parameter's type when it has none).
void CopyParamsIn(TBRNExprToken* usingList, TBRNValues& params);
void CopyParamsOut(TBRNExprToken* usingList, TBRNValues& params);

// The message of an exception for the wrapping messages of statements and
// routines.
std::string ExceptionText(const std::exception& error);

}  // namespace brn
