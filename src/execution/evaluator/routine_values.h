#pragma once

#include <cstdint>
#include <string>

#include "foundation/values/contained_value.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNRoutine;
class TBRNSchemaObjectManager;

// The run-time value of a call of a stored routine: a user-defined function
// in an expression or the procedure of a CALL statement. The value holds
// the function's result (NULL for a procedure or a function that returned
// nothing).
//
// A call opens the routine's manager on the context's current database at
// its first execution and keeps it open until the value goes, so that each
// further call reuses the compiled body; a routine calling itself directly
// runs its own tree without a manager. Each call:
//  - counts one level of routine nesting (shared with triggers; past the
//    bound 901 "Routines cannot be nested more than %s levels deep");
//  - saves the values of the routine's parameter nodes and gives them back
//    afterwards, so that a recursive call leaves the caller's parameters as
//    they were;
//  - runs the body in an evaluator context of its own on the same database,
//    with the rights of the routine's owner (never of System: a user who
//    may create a routine must not gain more rights by calling it) and
//    without the caller's debugger step hook (a debugger steps over calls);
//  - copies OUT and INOUT values back into the arguments.
// Any failure is raised again with its engine code (901 for any other
// exception) and "An error occurred with the %s routine at line %s and
// column %s (%s)" at the call's position.
//
// Used by the thread that runs the evaluator.
class TBRNRoutineValue : public TBRNContainedValue {
 public:
  // Takes the call node's type; neither is owned.
  TBRNRoutineValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node);
  ~TBRNRoutineValue() override;
  TBRNRoutineValue(const TBRNRoutineValue&) = delete;
  TBRNRoutineValue& operator=(const TBRNRoutineValue&) = delete;

  // Runs the routine with the values of the call node's arguments, which
  // the caller evaluated.
  void Execute();
  // Closes the routine's manager (nothing when none is open).
  void Unprepare();

  TBRNLocalExprEvaluator* const Evaluator;
  TBRNExprToken* const Node;

 private:
  // The routine's compiled root and its catalog object (nullptr for a
  // direct self-call, which runs as the caller runs).
  TBRNExprToken* prepare(TBRNLocalDatabaseManager& database, TBRNRoutine*& routine);
  void run(TBRNLocalDatabaseManager& database);

  TBRNLocalDatabaseManager* database_ = nullptr;
  TBRNSchemaObjectManager* manager_ = nullptr;
};

// Error 901 for the nesting bound.
[[noreturn]] void RaiseRoutineNestingError();

}  // namespace brn
