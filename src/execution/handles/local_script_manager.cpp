#include "execution/handles/local_script_manager.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "execution/evaluator/holding_values.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handles/declared_statement.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/types/data_types.h"
#include "foundation/values/param_value.h"
#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

constexpr int32_t kParamsPosition = 0;
constexpr int32_t kBodyPosition = 5;
// The statement code that has no pausing point of its own.
constexpr int32_t kNoPausingPointCode = 192;
// How long another user of a session waits for a debug run to pause.
constexpr uint32_t kEvaluatorLockTries = 100;
constexpr int32_t kEvaluatorLockWaitMs = 10;
// How often a script thread that wants the session lock back looks again.
constexpr int32_t kScriptLockPollMs = 5;
constexpr uint8_t kDebugThreadPriority = 2;

TBRNExprToken* argumentOrNull(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

// The sessions whose evaluator a debug run owns now, with the run's thread.
struct TEvaluatorOwners {
  std::mutex Mutex;
  std::unordered_map<const TBRNLocalSessionManager*, std::thread::id> Threads;
};

TEvaluatorOwners& evaluatorOwners() {
  static TEvaluatorOwners owners;
  return owners;
}

std::string booleanText(bool value) {
  return value ? "TRUE" : "FALSE";
}

std::string valueText(const TBRNValue* value) {
  if (value == nullptr || value->GetNull()) return "NULL";
  return value->GetAsString();
}

// The CR LF pairs of a statement's text become blanks (one line).
std::string oneLine(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      result += ' ';
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

// The breakpoint walk: the first pausing point that starts on line, in the
// order the block runner reaches them.
class TPausingPoints {
 public:
  explicit TPausingPoints(int32_t line) : line_(line) {}

  TBRNExprToken* Block(TBRNExprToken* block) {
    if (block == nullptr) return nullptr;
    if (TBRNExprToken* found = List(argumentOrNull(block, 1))) return found;
    if (TBRNExprToken* found = Statement(argumentOrNull(block, 2))) return found;
    return List(argumentOrNull(block, 3));
  }

 private:
  TBRNExprToken* List(TBRNExprToken* list) {
    if (list == nullptr) return nullptr;
    for (TBRNExprToken* statement : list->Arguments())
      if (TBRNExprToken* found = Statement(statement)) return found;
    return nullptr;
  }

  TBRNExprToken* Condition(TBRNExprToken* condition) {
    return condition != nullptr && condition->Line == line_ ? condition : nullptr;
  }

  TBRNExprToken* Statement(TBRNExprToken* statement) {
    if (statement == nullptr) return nullptr;
    if (statement->Kind == tkBlock) return Block(statement);
    switch (int32_t(statement->Operation)) {
      case opCaseStatement:
      case opIfStatement: {
        TBRNExprToken* conditions = argumentOrNull(statement, 0);
        TBRNExprToken* branches = argumentOrNull(statement, 1);
        const int32_t count = branches != nullptr ? branches->ArgumentCount() : 0;
        for (int32_t i = 0; i < count; ++i) {
          if (TBRNExprToken* found = Condition(argumentOrNull(conditions, i))) return found;
          if (TBRNExprToken* found = Block(branches->Argument(i))) return found;
        }
        return nullptr;
      }
      case opLoop:
        return Block(argumentOrNull(statement, 0));
      case opRepeatStatement:
        if (TBRNExprToken* found = Block(argumentOrNull(statement, 0))) return found;
        return Condition(argumentOrNull(statement, 1));
      case opWhile:
        if (TBRNExprToken* found = Condition(argumentOrNull(statement, 0))) return found;
        return Block(argumentOrNull(statement, 1));
      case kNoPausingPointCode:
        return nullptr;
      default:
        return statement->Line == line_ ? statement : nullptr;
    }
  }

  int32_t line_;
};

// Calls visit(item) for each item the DECLARE statements of the script's
// body declare, in declaration order.
void forEachDeclaredItem(TBRNExprToken* root, const std::function<void(TBRNExprToken*)>& visit) {
  TBRNExprToken* declarations = argumentOrNull(argumentOrNull(root, kBodyPosition), 0);
  if (declarations == nullptr) return;
  for (TBRNExprToken* declaration : declarations->Arguments()) {
    TBRNExprToken* items = argumentOrNull(declaration, 0);
    if (items == nullptr) continue;
    for (TBRNExprToken* item : items->Arguments())
      if (item != nullptr) visit(item);
  }
}

TBRNDeclaredStatement* declaredStatement(const TBRNExprToken* node) {
  return node != nullptr ? dynamic_cast<TBRNDeclaredStatement*>(node->GetOwnValue()) : nullptr;
}

void fillStatement(const TBRNExprToken* node, bool oneLineText, TBRNVariableData& data) {
  data.Kind = 4;
  data.Line = node->Line;
  data.Column = node->Column;
  data.TypeName.clear();
  data.Count = 0;
  TBRNDeclaredStatement* value = declaredStatement(node);
  TBRNLocalStatementManager* handle = value != nullptr ? value->GetStatementHandle() : nullptr;
  if (handle == nullptr) {
    data.Value = "Not Prepared";
    return;
  }
  data.Count = handle->GetRowsAffected();
  data.Value = oneLineText ? oneLine(handle->Statement->SQL) : handle->Statement->SQL;
}

void fillCursor(const TBRNExprToken* node, TBRNVariableData& data) {
  data.Kind = 3;
  data.Line = node->Line;
  data.Column = node->Column;
  data.TypeName.clear();
  data.Count = 0;
  data.Value.clear();
  TBRNDeclaredStatement* value = declaredStatement(argumentOrNull(node, 1));
  TBRNLocalStatementManager* handle = value != nullptr ? value->GetStatementHandle() : nullptr;
  if (handle == nullptr) {
    data.Value = "Not Prepared";
    return;
  }
  TBRNCursor* cursor = value->GetResultCursor();
  if (cursor == nullptr) {
    data.Value = "Not Open";
    return;
  }
  data.Count = cursor->GetRowCount();
  data.Value = "Sensitive=" + booleanText(handle->GetSensitive()) +
               ", BOF=" + booleanText(cursor->GetBof()) + ", EOF=" + booleanText(cursor->GetEof());
}

void fillVariable(const TBRNExprToken* node, TBRNVariableData& data) {
  data.Line = node->Line;
  data.Column = node->Column;
  data.TypeName = DataTypeDefinition(node->DataType, node->SubType, node->Size, node->Scale);
  if (node->Kind == tkVariable) {
    data.Kind = 0;
    data.Count = 0;
    data.Value = valueText(node->GetOwnValue());
    return;
  }
  data.Kind = 1;
  data.Count = 0;
  data.Value = "[";
  auto* array = dynamic_cast<TBRNArrayValuesValue*>(node->GetOwnValue());
  if (array != nullptr) {
    data.Count = array->GetCardinality();
    for (int32_t i = 1; i <= data.Count; ++i) {
      if (i > 1) data.Value += ", ";
      data.Value += valueText(array->Elements->Existing(i));
    }
  }
  data.Value += "]";
}

}  // namespace

// ---------------------------------------------------------------------------
// The session's evaluator during debug runs

void AwaitSessionEvaluator(TBRNLocalSessionManager& session) {
  TEvaluatorOwners& owners = evaluatorOwners();
  {
    std::lock_guard<std::mutex> guard(owners.Mutex);
    auto found = owners.Threads.find(&session);
    if (found == owners.Threads.end() || found->second == std::this_thread::get_id()) return;
  }
  session.LockSession(kEvaluatorLockTries, kEvaluatorLockWaitMs);
  session.UnlockSession();
}

// ---------------------------------------------------------------------------
// The debug thread

TBRNScriptDebugThread::TBRNScriptDebugThread(TBRNLocalScriptManager& script) : Script(script) {
  SetPriority(kDebugThreadPriority);
}

TBRNScriptDebugThread::~TBRNScriptDebugThread() {
  StopRequested.store(true);
  Event.Signal();
  TerminateAndWait();
}

bool TBRNScriptDebugThread::acquireSession() {
  for (;;) {
    if (Script.Session.TryLockSession(1, 0)) {
      holdsSession_ = true;
      TEvaluatorOwners& owners = evaluatorOwners();
      std::lock_guard<std::mutex> guard(owners.Mutex);
      owners.Threads[&Script.Session] = std::this_thread::get_id();
      return true;
    }
    if (StopRequested.load()) return false;
    SleepMilliseconds(kScriptLockPollMs);
  }
}

void TBRNScriptDebugThread::releaseSession() noexcept {
  if (!holdsSession_) return;
  holdsSession_ = false;
  {
    TEvaluatorOwners& owners = evaluatorOwners();
    std::lock_guard<std::mutex> guard(owners.Mutex);
    owners.Threads.erase(&Script.Session);
  }
  Script.Session.UnlockSession();
}

void TBRNScriptDebugThread::CheckPause(TBRNExprToken* node, const std::exception* error) {
  if (StopRequested.load()) {
    // A stop that came before the routine cleared the run state still ends it.
    Script.Context->RunState.store(kBRNRunStateStopped, std::memory_order_release);
    return;
  }
  if (!Script.Session.Events.OnScriptPause) return;
  const bool pause =
      PauseRequested.load() || Script.isMarked(node) || (error != nullptr && Script.BreakOnError);
  if (!pause) return;
  PauseRequested.store(true);
  releaseSession();
  Script.paused_.store(true, std::memory_order_release);
  try {
    Script.Session.DoScriptPause(node != nullptr ? node->Line : 0, error, true);
  } catch (...) {
    // The application's callback cannot end the run; it waits all the same.
  }
  Event.WaitFor(-1);
  Script.paused_.store(false, std::memory_order_release);
  acquireSession();
  if (StopRequested.load())
    Script.Context->RunState.store(kBRNRunStateStopped, std::memory_order_release);
  // The session may have run other work in the evaluator meanwhile.
  Script.evaluator().SwapContext(Script.Context.get());
}

void TBRNScriptDebugThread::Execute() {
  TBRNLocalSessionManager& session = Script.Session;
  try {
    bool completed = false;
    if (acquireSession()) completed = Script.RunScript(true);
    StopRequested.store(!completed);
  } catch (const std::exception& error) {
    StopRequested.store(true);
    releaseSession();
    if (!Script.BreakOnError) {
      const auto* engineError = dynamic_cast<const EBRNException*>(&error);
      try {
        session.DoScriptPause(engineError != nullptr ? engineError->ErrorLine : 0, &error, false);
      } catch (...) {
        // Nothing leaves the thread.
      }
    }
  } catch (...) {
    StopRequested.store(true);
  }
  releaseSession();
  Script.DebuggerActive.store(false);
  try {
    session.DoScriptEnd(StopRequested.load() ? 1 : 0, 0);
  } catch (...) {
    // Nothing leaves the thread.
  }
}

// ---------------------------------------------------------------------------
// The script handle

TBRNLocalScriptManager::TBRNLocalScriptManager(TBRNLocalDatabaseManager& database)
    : TBRNScriptManager(std::make_unique<TBRNReferencedParamValues>()),
      Database(database),
      Session(*database.Session),
      Registration(database, database.Scripts, database.Session->Scripts) {
  Script = std::make_unique<TBRNDatabaseScript>(database);
  Context = std::make_unique<TBRNEvaluatorContext>();
  Context->SetDatabaseManager(&database);
  Context->BindSessionEvents(Session);
  evaluator();  // a session without the local evaluator cannot run scripts
  Registration.Register(*this);
}

TBRNLocalScriptManager::~TBRNLocalScriptManager() {
  endDebugRun();
  Registration.Unregister();
  UnprepareLoggingFailure(Session, kBRNOperationFreeScript, [this] { Unprepare(); });
}

TBRNLocalExprEvaluator& TBRNLocalScriptManager::evaluator() const {
  auto* local = dynamic_cast<TBRNLocalExprEvaluator*>(Session.Evaluator.get());
  if (local == nullptr) throw std::logic_error("The session has no local evaluator");
  return *local;
}

TBRNLocalScriptManager* TBRNLocalScriptManager::Prepare(TBRNLocalDatabaseManager& database,
                                                        const std::string& script) {
  auto* handle = new TBRNLocalScriptManager(database);
  try {
    handle->PrepareScript(script);
  } catch (...) {
    delete handle;
    throw;
  }
  return handle;
}

void TBRNLocalScriptManager::FreeScript(TBRNLocalScriptManager*& script) {
  if (script != nullptr) script->endDebugRun();
  FreeRegisteredHandle(script, kBRNOperationFreeScript);
}

void TBRNLocalScriptManager::PrepareScript(const std::string& script) {
  AwaitSessionEvaluator(Session);
  endDebugRun();
  Unprepare();
  Script->SetText(script);
  TBRNCatalogReadBracket read(Database);
  try {
    Script->Compile();
    TBRNExprToken* root = Script->Root;
    if (root == nullptr) throw EBRNException(kSQLTextErrorCode, "The script is empty");
    TBRNEvaluationScope scope(evaluator(), *Context);
    evaluator().Prepare(root);
    prepared_ = true;
    Params->Clear();
    if (TBRNExprToken* list = argumentOrNull(root, kParamsPosition)) {
      for (TBRNExprToken* parameter : list->Arguments()) {
        if (parameter == nullptr) continue;
        evaluator().Evaluate(parameter);
        Params->Add(parameter->Value);
      }
    }
    Script->ReleaseReferences();
  } catch (...) {
    try {
      Script->ReleaseReferences();
    } catch (...) {
      // The prepare's error is the one to report.
    }
    throw;
  }
}

void TBRNLocalScriptManager::Unprepare() {
  if (!prepared_) return;
  prepared_ = false;
  Params->Clear();
  ResultCursor = nullptr;
  ResultStatement.reset();
  TBRNEvaluationScope scope(evaluator(), *Context);
  evaluator().Unprepare(Script->Root);
}

std::unique_ptr<TBRNParamValues> TBRNLocalScriptManager::CreateParams() {
  return std::make_unique<TBRNReferencedParamValues>();
}

int32_t TBRNLocalScriptManager::GetExecutionTime() {
  return ExecutionTime;
}

bool TBRNLocalScriptManager::RunScript(bool debug) {
  ExecutionTime = 0;
  ResultCursor = nullptr;
  ResultStatement.reset();
  if (!prepared_) throw std::logic_error("The script is not prepared");
  TBRNExprToken* root = Script->Root;
  bool progressOpen = false;
  try {
    Session.ReportExecutionStatus(osStarting, *Script, false, 0, false, 0);
    Session.BeginProgress();
    progressOpen = true;
    bool stopped = false;
    {
      TBRNEvaluationScope scope(evaluator(), *Context);
      if (debug) {
        TBRNScriptDebugThread* thread = DebugThread.get();
        Context->OnStep = [thread](TBRNExprToken* node, const std::exception* error) {
          thread->CheckPause(node, error);
        };
      }
      struct TStepReset {
        TBRNEvaluatorContext& Context;
        ~TStepReset() { Context.OnStep = nullptr; }
      } stepReset{*Context};
      try {
        evaluator().ExecuteRoutine(root);
      } catch (...) {
        TakeResultCursor(root, false, ResultStatement);
        throw;
      }
      stopped = Context->IsStopped();
      ResultCursor = TakeResultCursor(root, !stopped, ResultStatement);
    }
    progressOpen = false;
    Session.EndProgress();
    ExecutionTime = Session.GetElapsedTime();
    Session.ReportExecutionStatus(stopped ? osNotCompleted : osCompleted, *Script, true,
                                  ExecutionTime, false, 0);
    return !stopped;
  } catch (const std::exception& error) {
    if (progressOpen) {
      try {
        Session.EndProgress();
        ExecutionTime = Session.GetElapsedTime();
        Session.ReportExecutionStatus(osNotCompleted, *Script, true, ExecutionTime, false, 0);
      } catch (...) {  // the execution's error passes on
      }
    }
    Session.LogOperationError(error, kBRNOperationExecuteScript);
    throw;
  }
}

TBRNCursor* TBRNLocalScriptManager::ExecuteScript() {
  AwaitSessionEvaluator(Session);
  if (DebuggerActive.load()) throw std::logic_error("The script is being debugged");
  RunScript(false);
  return ResultCursor;
}

TBRNCursor* TBRNLocalScriptManager::GetScriptCursor() {
  return ResultCursor;
}

// ---- Breakpoints

bool TBRNLocalScriptManager::markBreakpoint(int32_t line, TMarkAction action) {
  std::lock_guard<std::mutex> guard(marks_);
  TBRNExprToken* point = TPausingPoints(line).Block(argumentOrNull(Script->Root, kBodyPosition));
  if (point == nullptr) return false;
  switch (action) {
    case TMarkAction::Set:
      point->Breakpoint = true;
      return true;
    case TMarkAction::Clear:
      point->Breakpoint = false;
      return true;
    case TMarkAction::Query:
      return point->Breakpoint;
  }
  return false;
}

bool TBRNLocalScriptManager::isMarked(const TBRNExprToken* node) {
  if (node == nullptr) return false;
  std::lock_guard<std::mutex> guard(marks_);
  return node->Breakpoint;
}

bool TBRNLocalScriptManager::SetBreakpoint(int32_t line) {
  return markBreakpoint(line, TMarkAction::Set);
}

bool TBRNLocalScriptManager::HasBreakpoint(int32_t line) {
  return markBreakpoint(line, TMarkAction::Query);
}

bool TBRNLocalScriptManager::RemoveBreakpoint(int32_t line) {
  return markBreakpoint(line, TMarkAction::Clear);
}

// ---- The debugger

void TBRNLocalScriptManager::RaiseDebuggerError(const std::string& detail) {
  throw EBRNException(kBRNDebuggerErrorCode, FormatText("Debugger error (%s)", {detail}));
}

void TBRNLocalScriptManager::requireActive() {
  if (!DebuggerActive.load() || DebugThread == nullptr) RaiseDebuggerError("Debugger not active");
}

void TBRNLocalScriptManager::endDebugRun() noexcept {
  TBRNScriptDebugThread* thread = DebugThread.get();
  if (thread == nullptr) return;
  Context->RunState.store(kBRNRunStateStopped, std::memory_order_release);
  thread->StopRequested.store(true);
  thread->PauseRequested.store(true);
  thread->Event.Signal();
  thread->WaitFor();
  DebugThread.reset();
  DebuggerActive.store(false);
}

void TBRNLocalScriptManager::DebugScript() {
  endDebugRun();
  if (!prepared_) throw std::logic_error("The script is not prepared");
  DebugThread = std::make_unique<TBRNScriptDebugThread>(*this);
  DebuggerActive.store(true);
  try {
    DebugThread->Resume();
  } catch (...) {
    DebugThread.reset();
    DebuggerActive.store(false);
    throw;
  }
}

void TBRNLocalScriptManager::Pause() {
  requireActive();
  DebugThread->PauseRequested.store(true);
}

void TBRNLocalScriptManager::StepOver() {
  requireActive();
  DebugThread->Event.Signal();
}

void TBRNLocalScriptManager::StepInto() {
  StepOver();
}

void TBRNLocalScriptManager::Resume() {
  requireActive();
  DebugThread->PauseRequested.store(false);
  DebugThread->Event.Signal();
}

void TBRNLocalScriptManager::Stop() {
  requireActive();
  endDebugRun();
}

void TBRNLocalScriptManager::GetVariableNames(TBRNStringsList& names) {
  requireActive();
  names.Clear();
  forEachDeclaredItem(Script->Root, [&](TBRNExprToken* item) {
    names.Add(item->Name);
    if (item->Kind == tkCursorDeclaration)
      if (TBRNExprToken* statement = argumentOrNull(item, 1)) names.Add(statement->Name);
  });
}

void TBRNLocalScriptManager::GetVariableData(const std::string& name, TBRNVariableData& data) {
  data = TBRNVariableData();
  data.Name = name;
  if (!DebuggerActive.load() || !IsPaused()) return;
  forEachDeclaredItem(Script->Root, [&](TBRNExprToken* item) {
    switch (item->Kind) {
      case tkVariable:
      case tkArrayVariable:
        if (TextEqualsIgnoreCase(item->Name, name)) fillVariable(item, data);
        break;
      case tkCursorDeclaration: {
        TBRNExprToken* statement = argumentOrNull(item, 1);
        if (TextEqualsIgnoreCase(item->Name, name))
          fillCursor(item, data);
        else if (statement != nullptr && TextEqualsIgnoreCase(statement->Name, name))
          fillStatement(statement, false, data);
        break;
      }
      case tkStatementName:
        if (TextEqualsIgnoreCase(item->Name, name)) fillStatement(item, true, data);
        break;
      default:
        if (TextEqualsIgnoreCase(item->Name, name)) {
          data.Kind = 2;
          data.Line = item->Line;
          data.Column = item->Column;
          data.TypeName.clear();
          data.Count = 0;
          data.Value.clear();
        }
        break;
    }
  });
}

void InstallScriptHandleFactory() {
  TBRNLocalDatabaseManager::SetScriptHandleFactory(
      [](TBRNLocalDatabaseManager& database, const std::string& script) -> TBRNScriptManager* {
        return TBRNLocalScriptManager::Prepare(database, script);
      });
}

}  // namespace brn
