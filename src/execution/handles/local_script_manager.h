#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handles/database_script.h"
#include "execution/handles/handle_registration.h"
#include "foundation/runtime/event.h"
#include "foundation/runtime/thread.h"
#include "foundation/values/value.h"
#include "sessions/manager_interfaces.h"

namespace brn {

class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;
class TBRNLocalScriptManager;
class TBRNLocalSessionManager;

// Operation codes of the script handle's log events.
inline constexpr int32_t kBRNOperationPrepareScript = 360;
inline constexpr int32_t kBRNOperationExecuteScript = 361;
inline constexpr int32_t kBRNOperationFreeScript = 362;
// 701 "Debugger error (<detail>)".
inline constexpr int32_t kBRNDebuggerErrorCode = 701;

// While a debug run of a session's script executes and is not paused, its
// thread owns the session's evaluator and holds the session lock. Whoever
// else is about to use that evaluator calls this first: it waits for the
// session lock as a request would (10 ms apart, 100 tries) and raises 506
// "Cannot lock the session manager (ID: <id>)" when the run keeps it. It
// returns at once when no debug run owns the evaluator, or when called on
// the debug thread itself. May be called from any thread.
void AwaitSessionEvaluator(TBRNLocalSessionManager& session);

// The thread of one debug run of a script handle. It runs the script with
// the pause check installed as the step hook of the script's context.
//
// Threads. The script thread runs Execute and CheckPause. The controlling
// thread (the session's request thread, or the application's thread for a
// local session) only sets PauseRequested and StopRequested and signals
// Event; the two meet through those flags, the event and the handle's
// DebuggerActive. The session lock is held by the script thread while the
// run is not paused and released before each pause callback, so that the
// controller may use the session while the script is paused.
class TBRNScriptDebugThread : public TBRNThread {
 public:
  // Created suspended; the handle starts it (priority index 2, below
  // normal).
  explicit TBRNScriptDebugThread(TBRNLocalScriptManager& script);
  // Waits for the run to end; the handle has asked it to stop before.
  ~TBRNScriptDebugThread() override;

  // The step hook (on the script thread): node is the statement or
  // condition about to run, or the one that raised error. Pauses when the
  // session has a pause callback and either a pause was asked for, node is
  // marked as a breakpoint, or error is given and BreakOnError is set.
  // Returns at once after a Stop.
  void CheckPause(TBRNExprToken* node, const std::exception* error);

  TBRNLocalScriptManager& Script;
  TBRNEvent Event;
  std::atomic<bool> PauseRequested{false};
  // Asked to stop; after the run also means it ended by a stop or an error.
  std::atomic<bool> StopRequested{false};

 protected:
  void Execute() override;

 private:
  // Takes the session lock for the script thread and marks the evaluator as
  // owned by it; gives up (answering false) when a stop was asked for while
  // it waited, the stopper then owning the session.
  bool acquireSession();
  void releaseSession() noexcept;

  bool holdsSession_ = false;
};

// A script prepared on an open database of a local session; it runs either
// on the caller's thread (ExecuteScript, never pausing) or on a debug thread
// of its own (DebugScript).
//
// Ownership: the database's Scripts table owns the handle (registered there
// and in the session's index by the constructor); FreeScript, the
// database's close or the session's close frees it. Freeing it while a
// debug run is paused or running stops the run and waits for its thread.
//
// The debugger contract (for the remote debugger as well as a local
// client):
//  - Callbacks: the session's OnScriptPause(line, error, atStatement) is
//    called on the script thread, with every other callback of the session
//    suspended during the call; atStatement is true at a pausing point
//    (error is the statement's exception when it paused because of
//    BreakOnError, else nullptr) and false for the one report of an error
//    that ends a run without BreakOnError. The run stays paused after the
//    callback returns until StepOver, Resume or Stop. OnScriptEnd(flag, 0)
//    follows once per run, on the script thread, flag 1 when the run ended
//    by Stop or an error and 0 when it completed. DebuggerActive is false
//    before OnScriptEnd is called.
//  - Without an OnScriptPause callback a debug run never pauses.
//  - Threads: DebugScript, Pause, StepOver, StepInto, Resume, Stop,
//    GetVariableNames, GetVariableData, SetBreakpoint, RemoveBreakpoint and
//    HasBreakpoint are called by the controlling thread, never by two
//    threads at once and never from inside the pause callback except Pause,
//    StepOver, Resume and the breakpoint calls (Stop from the callback
//    would wait for its own thread). None of them takes the session lock:
//    a server answers them while the run holds it.
//  - GetVariableNames and GetVariableData read the script's variables only
//    while the run is paused; otherwise GetVariableData answers Kind -1 and
//    GetVariableNames lists the names only.
//  - Any other use of the session (statements, procedures, scripts) while
//    the run is not paused waits for the session lock and fails with 506.
//  - Stop returns after the run has ended and its thread is joined.
class TBRNLocalScriptManager : public TBRNScriptManager {
 public:
  // Registers the handle in database's Scripts and in the session's index,
  // creates Script and Context; raises (registering nothing) when a table
  // is full.
  explicit TBRNLocalScriptManager(TBRNLocalDatabaseManager& database);
  // Stops a debug run and waits for it, leaves both tables and un-prepares;
  // a failure is logged as operation 362 "Free Script" and dropped.
  ~TBRNLocalScriptManager() override;

  // The handle made, registered and prepared; a failure frees it and passes
  // on (the database manager's factory logs it as 360).
  static TBRNLocalScriptManager* Prepare(TBRNLocalDatabaseManager& database,
                                         const std::string& script);
  // As the destructor, but a failure of the un-prepare is logged with 362
  // and passes on after the handle is freed. script is nullptr afterwards.
  static void FreeScript(TBRNLocalScriptManager*& script);

  // Compiles script inside a catalog read, collects Params (the values of
  // the parameter list's nodes, in order) and prepares the tree in Context.
  void PrepareScript(const std::string& script);
  // Frees the run-time values of the tree (with Context current).
  void Unprepare();

  std::unique_ptr<TBRNParamValues> CreateParams() override;
  int32_t GetExecutionTime() override;
  // Runs the script on the caller's thread (breakpoints are ignored) and
  // answers ResultCursor. A failure is logged as 361 and passes on.
  TBRNCursor* ExecuteScript() override;
  bool SetBreakpoint(int32_t line) override;
  bool HasBreakpoint(int32_t line) override;
  bool RemoveBreakpoint(int32_t line) override;
  // Ends and frees the previous run's thread (stopping it when still
  // active), then starts a new debug run and returns at once.
  void DebugScript() override;
  TBRNCursor* GetScriptCursor() override;
  // 701 "Debugger error (Debugger not active)" unless a run is active.
  void Pause() override;
  void StepOver() override;
  // Steps as StepOver does: called routines are not entered.
  void StepInto() override;
  void Resume() override;
  void Stop() override;
  void GetVariableNames(TBRNStringsList& names) override;
  void GetVariableData(const std::string& name, TBRNVariableData& data) override;

  // Raises 701 with detail.
  [[noreturn]] void RaiseDebuggerError(const std::string& detail);
  // Runs the script in Context; debug installs the debug thread's pause
  // check as the step hook. Answers false when the run was stopped.
  bool RunScript(bool debug);
  // Whether the debug thread waits in a pause (read by any thread).
  bool IsPaused() const { return paused_.load(std::memory_order_acquire); }

  TBRNLocalDatabaseManager& Database;
  TBRNLocalSessionManager& Session;
  std::unique_ptr<TBRNDatabaseScript> Script;
  int32_t ExecutionTime = 0;
  // The cursor the last run returned, or nullptr. As the result cursor of
  // a statement handle it is registered in its database's cursors and
  // lives until the next run, the un-prepare or the handle's end (unless
  // the client frees it before).
  TBRNCursor* ResultCursor = nullptr;
  // The run-time value of the statement that made ResultCursor.
  std::unique_ptr<TBRNValue> ResultStatement;
  std::unique_ptr<TBRNEvaluatorContext> Context;
  std::unique_ptr<TBRNScriptDebugThread> DebugThread;
  std::atomic<bool> DebuggerActive{false};
  bool BreakOnError = false;
  bool ReportScriptState = false;
  // Its place in Database's Scripts and the session's index (the
  // session-wide handle).
  TBRNHandleRegistration Registration;

 private:
  friend class TBRNScriptDebugThread;
  enum class TMarkAction { Set, Clear, Query };

  TBRNLocalExprEvaluator& evaluator() const;
  void requireActive();
  // Ends the debug run (as Stop) when one is active, then frees the thread.
  void endDebugRun() noexcept;
  bool markBreakpoint(int32_t line, TMarkAction action);
  // Whether node carries a breakpoint mark (any thread).
  bool isMarked(const TBRNExprToken* node);

  bool prepared_ = false;
  std::atomic<bool> paused_{false};
  // Guards the breakpoint marks of the tree, which the controller sets
  // while the script thread reads them.
  std::mutex marks_;
};

// Installs TBRNLocalScriptManager::Prepare as the script handle factory of
// every local database manager. May be called from any thread.
void InstallScriptHandleFactory();

}  // namespace brn
