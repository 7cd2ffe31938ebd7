#include "storage/tables/virtual_table_manager.h"

#include <array>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/privileges.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"

namespace brn {

namespace {

constexpr int32_t kReadOnlyError = 403;
constexpr int32_t kRoutineError = 901;
constexpr int32_t kCannotLockRowError = 1005;
constexpr int32_t kCannotUnlockRowError = 1006;
constexpr int32_t kRowDeletedError = 1007;
constexpr int32_t kRowModifiedError = 1008;
constexpr int32_t kRowNotVisibleError = 1010;
// The log's code of a failure that is not an engine error.
constexpr int32_t kOtherFailureCode = 9999;
// The operation code under which failures of a trigger are logged.
constexpr int32_t kTriggerFailureOperation = 153;

std::atomic<TBRNTableObjectFactory*> gTableObjectFactory{nullptr};

// How deep triggers and ERROR-trigger retries nest on this thread: the
// stack that nesting uses up is the thread's, over every table.
thread_local int32_t tTriggerDepth = 0;
// The failure last written to the log while triggers nest, so that the
// levels it passes through on its way out log it once.
thread_local std::exception_ptr tLoggedFailure;

std::atomic<int32_t> gMaxRoutineNesting{kMaxTriggerNesting};

using TriggerDepth = TBRNRoutineNestingScope;

[[noreturn]] void raiseNestingError(TBRNTrigger& trigger) {
  const TBRNExprToken* root = trigger.Definition->Root;
  const int32_t line = root != nullptr ? root->Line : 0;
  const int32_t column = root != nullptr ? root->Column : 0;
  const std::string detail = FormatText("Triggers cannot be nested more than %s levels deep",
                                        {IntegerToString(GetMaxRoutineNesting())});
  throw EBRNException(
      kRoutineError,
      FormatText("An error occurred with the %s routine at line %s and column %s (%s)",
                 {trigger.Definition->GetKindName(), IntegerToString(line), IntegerToString(column),
                  detail}),
      line, column);
}

// The event (0 insert, 1 update, 2 delete, 3 load) of a trigger list type.
int32_t eventOf(int32_t actionType) {
  switch (actionType) {
    case kTriggerInsert:
      return 0;
    case kTriggerUpdate:
      return 1;
    case kTriggerDelete:
      return 2;
    case kTriggerLoadUpdate:
      return 3;
    default:
      throw std::invalid_argument("not a trigger list type: " + std::to_string(actionType));
  }
}

// Position of column in columns; -1 when it is not one of them.
int32_t positionOf(const TBRNColumns& columns, const TBRNColumn* column) {
  const int32_t index = column != nullptr ? column->Index : -1;
  return index >= 0 && index < columns.Count() && columns.GetItem(index) == column ? index : -1;
}

// The columns of the OLD row: those that some trigger reads through OldRow
// or lists in UPDATE OF (its old value decides whether the trigger fires).
std::vector<bool> oldRowColumns(TBRNTriggers* triggers, const TBRNColumns& columns) {
  std::vector<bool> wanted(size_t(columns.Count()), false);
  auto mark = [&](const TBRNColumn* column) {
    const int32_t index = positionOf(columns, column);
    if (index >= 0) wanted[size_t(index)] = true;
  };
  for (int32_t t = 0; triggers != nullptr && t < triggers->Count(); ++t) {
    TBRNTrigger* trigger = triggers->GetItem(t);
    for (int32_t i = 0; i < trigger->OldRowColumns->Count(); ++i)
      mark(trigger->OldRowColumns->GetItem(i));
    for (int32_t i = 0; i < trigger->TriggerColumns->Count(); ++i)
      mark(trigger->TriggerColumns->GetItem(i)->GetColumn());
  }
  return wanted;
}

// The row variables (OldRow, NewRow) of a trigger body's root.
std::vector<TBRNExprToken*> rowVariablesOf(const TBRNExprToken* body) {
  std::vector<TBRNExprToken*> rows;
  const TBRNExprToken* list =
      body != nullptr && body->ArgumentCount() > 1 ? body->Argument(1) : nullptr;
  if (list == nullptr) return rows;
  for (TBRNExprToken* row : list->Arguments())
    if (row != nullptr && row->Kind == tkRowVariable) rows.push_back(row);
  return rows;
}

// The trigger fields of a context, put back when the scope ends.
class TriggerFieldsScope {
 public:
  explicit TriggerFieldsScope(TBRNEvaluationContext& context)
      : context_(context),
        operation_(context.TriggerOperation),
        error_(context.TriggerError),
        rows_(context.TriggerRows),
        abort_(context.TriggerAbort),
        retry_(context.TriggerRetry),
        loadingUpdates_(context.LoadingUpdates) {}
  ~TriggerFieldsScope() {
    context_.TriggerOperation = operation_;
    context_.TriggerError = error_;
    context_.TriggerRows = rows_;
    context_.TriggerAbort = abort_;
    context_.TriggerRetry = retry_;
    context_.LoadingUpdates = loadingUpdates_;
  }
  TriggerFieldsScope(const TriggerFieldsScope&) = delete;
  TriggerFieldsScope& operator=(const TriggerFieldsScope&) = delete;

 private:
  TBRNEvaluationContext& context_;
  int32_t operation_;
  const EBRNException* error_;
  std::array<TBRNRowValues*, 2> rows_;
  bool abort_;
  bool retry_;
  bool loadingUpdates_;
};

// The saved run-time values of a body's row variables. Restore puts them
// back; the destructor does so (dropping errors) when Restore did not run
// to its end, that is while an earlier error unwinds.
class SavedRowVariables {
 public:
  SavedRowVariables(TBRNExpressionEvaluator& evaluator, const TBRNExprToken* body)
      : evaluator_(evaluator), rows_(rowVariablesOf(body)) {
    try {
      for (TBRNExprToken* row : rows_) {
        evaluator_.PushTokenValue(row);
        ++pushed_;
      }
    } catch (...) {
      popQuietly();
      throw;
    }
  }
  ~SavedRowVariables() { popQuietly(); }
  SavedRowVariables(const SavedRowVariables&) = delete;
  SavedRowVariables& operator=(const SavedRowVariables&) = delete;

  void Restore() {
    while (pushed_ > 0) {
      --pushed_;
      evaluator_.PopTokenValue(rows_[pushed_]);
    }
  }

 private:
  void popQuietly() {
    while (pushed_ > 0) {
      --pushed_;
      try {
        evaluator_.PopTokenValue(rows_[pushed_]);
      } catch (...) {  // an earlier error passes on
      }
    }
  }

  TBRNExpressionEvaluator& evaluator_;
  std::vector<TBRNExprToken*> rows_;
  size_t pushed_ = 0;
};

// The BLOB reads and writes of the stored row, through its table manager.
class ManagerBlobHost final : public TBRNRowsetHost {
 public:
  explicit ManagerBlobHost(TBRNVirtualTableManager& manager) : manager_(manager) {}
  void ReadBlob(int32_t ownerVersion, int32_t firstBlock, TBRNMemoryStream& stream,
                bool compressed) override {
    manager_.ReadBlob(ownerVersion, firstBlock, stream, compressed);
  }
  void WriteBlob(int32_t ownerVersion, int32_t& firstBlock, TBRNMemoryStream& stream,
                 int32_t compression, int32_t& storedLength) override {
    manager_.WriteBlob(ownerVersion, firstBlock, stream, compression, storedLength);
  }

 private:
  TBRNVirtualTableManager& manager_;
};

}  // namespace

void SetMaxRoutineNesting(int32_t levels) {
  gMaxRoutineNesting.store(levels < 1 ? 1 : levels, std::memory_order_relaxed);
}

int32_t GetMaxRoutineNesting() {
  return gMaxRoutineNesting.load(std::memory_order_relaxed);
}

TBRNRoutineNestingScope::~TBRNRoutineNestingScope() {
  tTriggerDepth -= held_;
  if (tTriggerDepth == 0) tLoggedFailure = nullptr;
}

bool TBRNRoutineNestingScope::Enter() {
  if (tTriggerDepth >= GetMaxRoutineNesting()) return false;
  ++tTriggerDepth;
  ++held_;
  return true;
}

// ---------------------------------------------------------------------------
// The object factory

void SetTableObjectFactory(TBRNTableObjectFactory* Factory) {
  gTableObjectFactory.store(Factory);
}

TBRNTableObjectFactory& GetTableObjectFactory() {
  TBRNTableObjectFactory* factory = gTableObjectFactory.load();
  if (factory == nullptr) throw std::logic_error("no table object factory is registered");
  return *factory;
}

// ---------------------------------------------------------------------------
// TBRNTriggerState

TBRNTriggerState::TBRNTriggerState(TBRNVirtualTableManager& Manager)
    : manager(Manager), oldBuffer(std::make_unique<TBRNMemoryStream>()) {
  TBRNColumns* columns = Manager.GetColumns();
  if (columns == nullptr) throw std::logic_error("trigger state of a table without columns");
  oldBuffer->SetSize(columns->RowSize);
  auto old = std::make_unique<TBRNRowsetRowValues>(columns, nullptr, false);
  old->SetBuffer(oldBuffer.get());
  old->SetAllNull();
  oldValues = std::move(old);
  blobHost = std::make_unique<ManagerBlobHost>(Manager);
  storedValues = std::make_unique<TBRNRowsetRowValues>(columns, blobHost.get(), false);
}

TBRNTriggerState::~TBRNTriggerState() = default;

void TBRNTriggerState::ReadOldRow(int32_t Row) {
  TBRNColumns& columns = *oldValues->GetColumns();
  const std::vector<bool> wanted = oldRowColumns(manager.GetTable()->Triggers.get(), columns);
  oldValues->SetAllNull();
  TBRNRowsetRow* stored = manager.GetRow(Row, false);
  if (stored == nullptr) throw std::logic_error("the table manager gave no stored row");
  try {
    storedValues->SetRow(stored);
    for (int32_t i = 0; i < columns.Count(); ++i) {
      if (wanted[size_t(i)] && !columns.GetItem(i)->Computed)
        oldValues->GetRowValue(i)->Assign(*storedValues->GetRowValue(i));
    }
  } catch (...) {
    storedValues->SetRow(nullptr);
    try {
      manager.ReleaseRow(stored);
    } catch (...) {  // the copying error passes on
    }
    throw;
  }
  storedValues->SetRow(nullptr);
  manager.ReleaseRow(stored);
}

// ---------------------------------------------------------------------------
// TBRNVirtualTableManager

TBRNVirtualTableManager::TBRNVirtualTableManager(TBRNTableEnvironment& Environment,
                                                 TBRNVirtualTable* Table)
    : TBRNSchemaObjectManager(Environment, Table) {
  GetContext().CurrentTable = Table;
}

TBRNVirtualTableManager::~TBRNVirtualTableManager() = default;

TBRNVirtualTable* TBRNVirtualTableManager::GetTable() const {
  return static_cast<TBRNVirtualTable*>(GetCatalogObject());
}

std::unique_ptr<TBRNCursor> TBRNVirtualTableManager::CreateCursor(const std::string& Name,
                                                                  bool ReadOnly, bool Exclusive,
                                                                  bool Indexed) {
  TBRNVirtualTable* table = GetTable();
  std::unique_ptr<TBRNCursor> cursor = GetTableObjectFactory().CreateLocalCursor(
      *this, Name, ReadOnly || table->ReadOnly, Exclusive, Indexed);
  if (!cursor) throw std::logic_error("the table object factory made no cursor");
  if (Indexed) {
    for (int32_t i = 0; i < table->Indexes->Count(); ++i) {
      if (table->Indexes->GetItem(i)->IndexType == kIndexPrimaryKey) {
        cursor->SetActiveIndex(i);
        break;
      }
    }
  }
  cursor->BuildColumns();
  return cursor;
}

void TBRNVirtualTableManager::CompileTriggers() {
  TBRNTriggers* triggers = GetTable()->Triggers.get();
  if (triggers == nullptr || triggers->Count() == 0) return;
  TBRNEvaluationScope scope(GetEvaluator(), GetContext());
  std::vector<TBRNTrigger*> compiled;
  try {
    for (int32_t i = 0; i < triggers->Count(); ++i) {
      TBRNTrigger* trigger = triggers->GetItem(i);
      if (trigger->Definition->Compiled) continue;
      compiled.push_back(trigger);
      trigger->Compile();
    }
  } catch (...) {
    for (TBRNTrigger* trigger : compiled) {
      try {
        trigger->Uncompile();
      } catch (...) {  // the compiling error passes on
      }
    }
    throw;
  }
}

void TBRNVirtualTableManager::UncompileTriggers() {
  TBRNTriggers* triggers = GetTable()->Triggers.get();
  for (int32_t i = 0; triggers != nullptr && i < triggers->Count(); ++i)
    triggers->GetItem(i)->Uncompile();
}

void TBRNVirtualTableManager::raiseTableError(int32_t Code, const char* Pattern,
                                              const std::string& Detail) {
  TBRNVirtualTable* table = GetTable();
  throw EBRNException(Code,
                      FormatText(Pattern, {table->GetObjectTypeName(), table->GetName(), Detail}));
}

void TBRNVirtualTableManager::RaiseCannotLockRow() {
  raiseTableError(kCannotLockRowError, "Cannot lock the row in the %s %s");
}

void TBRNVirtualTableManager::RaiseCannotUnlockRow() {
  raiseTableError(kCannotUnlockRowError, "Cannot unlock the row in the %s %s");
}

void TBRNVirtualTableManager::RaiseRowDeleted() {
  raiseTableError(kRowDeletedError, "The row has been deleted since last cached for the %s %s");
}

void TBRNVirtualTableManager::RaiseRowModified() {
  raiseTableError(kRowModifiedError, "The row has been modified since last cached for the %s %s");
}

void TBRNVirtualTableManager::RaiseRowNotVisible() {
  raiseTableError(kRowNotVisibleError, "The row is no longer visible in the %s %s");
}

void TBRNVirtualTableManager::RaiseReadOnly(const std::string& Operation) {
  raiseTableError(kReadOnlyError,
                  "The %s %s is read-only and this operation cannot be performed (%s)", Operation);
}

void TBRNVirtualTableManager::ComputeColumns(TBRNRowValues&) {}

bool TBRNVirtualTableManager::EmptyTable(bool) {
  return true;
}

void TBRNVirtualTableManager::CheckReadOnly(const std::string& Operation) {
  TBRNVirtualTable* table = GetTable();
  if (table->ReadOnly && !table->System) RaiseReadOnly(Operation);
}

// ---- Row operations

bool TBRNVirtualTableManager::InsertRowWithTriggers(TBRNRowValues& NewValues, int32_t& RowNumber,
                                                    int32_t& RowVersion, int32_t& UpdateCounter) {
  CheckReadOnly("INSERT");
  CheckPrivilege(pkInsert, "INSERT");
  return writeWithTriggers(kTriggerInsert, kTriggerOperationInsert, nullptr, &NewValues, [&] {
    InsertRow(NewValues, RowNumber, RowVersion, UpdateCounter, false);
  });
}

bool TBRNVirtualTableManager::UpdateRowWithTriggers(TBRNHandleObject* Holder,
                                                    TBRNRowValues& NewValues, int32_t RowNumber,
                                                    int32_t RowVersion, int32_t& UpdateCounter) {
  CheckReadOnly("UPDATE");
  CheckPrivilege(pkUpdate, "UPDATE");
  bool modified = false;
  for (int32_t i = 0; i < NewValues.GetCount() && !modified; ++i)
    modified = NewValues.GetRowValue(i)->Modified;
  if (!modified) return false;
  // Under the pessimistic protocol the row was normally locked when it was
  // read for editing; the optimistic one locks it only now. A caller that
  // posts without that read still takes the lock here, so a row another
  // session holds is never overwritten.
  bool tookLock = false;
  if (GetEnvironment().GetTableSettings().RecordLockProtocol == kBRNRecordLockOptimistic) {
    tookLock = LockRowForUpdate(Holder, RowNumber, RowVersion, UpdateCounter, false, true, 1);
  } else {
    tookLock = LockRowForUpdate(Holder, RowNumber, RowVersion, UpdateCounter, false, false, 1);
    if (!tookLock) CheckRowCurrent(RowNumber, RowVersion, UpdateCounter, false, false);
  }
  return changeStoredRow(RowNumber, tookLock, kTriggerUpdate, kTriggerOperationUpdate, &NewValues,
                         [&] { UpdateRow(NewValues, RowNumber, UpdateCounter); });
}

bool TBRNVirtualTableManager::DeleteRowWithTriggers(TBRNHandleObject* Holder, TBRNRowValues& Values,
                                                    int32_t RowNumber, int32_t RowVersion,
                                                    int32_t& UpdateCounter) {
  CheckReadOnly("DELETE");
  CheckPrivilege(pkDelete, "DELETE");
  // Whatever the protocol: a row read without editing is not locked yet.
  const bool tookLock =
      LockRowForUpdate(Holder, RowNumber, RowVersion, UpdateCounter, false, true, 1);
  return changeStoredRow(RowNumber, tookLock, kTriggerDelete, kTriggerOperationDelete, nullptr,
                         [&] { DeleteRow(Values, RowNumber, UpdateCounter); });
}

bool TBRNVirtualTableManager::changeStoredRow(int32_t RowNumber, bool TookLock, int32_t ActionType,
                                              int32_t Operation, TBRNRowValues* NewValues,
                                              const std::function<void()>& Write) {
  bool written = false;
  try {
    PushTriggerState(RowNumber);
    try {
      TBRNRowValues* oldValues = triggerState ? &triggerState->GetOldValues() : nullptr;
      written = writeWithTriggers(ActionType, Operation, oldValues, NewValues, Write);
    } catch (...) {
      PopTriggerState();
      throw;
    }
    PopTriggerState();
  } catch (...) {
    if (TookLock) {
      try {
        UnlockRow(RowNumber);
      } catch (...) {  // the change's error passes on
      }
    }
    throw;
  }
  if (TookLock) UnlockRow(RowNumber);
  return written;
}

bool TBRNVirtualTableManager::writeWithTriggers(int32_t ActionType, int32_t Operation,
                                                TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                                const std::function<void()>& Write) {
  TBRNReferencedTriggers* before = eventTriggers(kTriggerBefore, ActionType);
  TBRNReferencedTriggers* after = eventTriggers(kTriggerAfter, ActionType);
  TBRNReferencedTriggers* errors = eventTriggers(kTriggerError, ActionType);
  // Each retry holds one level of nesting until the change is done, so
  // that a trigger that always retries ends like one that recurses.
  TriggerDepth retries;
  bool written = false;
  for (;;) {
    bool retry = false;
    TBRNTrigger* retrying = nullptr;
    try {
      bool abort = false;
      bool ignored = false;
      // A retry after the row was written (an AFTER trigger failed) runs
      // only the AFTER triggers again: writing again would insert the row
      // twice or apply the change twice.
      if (!written) {
        fireList(before, Operation, OldValues, NewValues, nullptr, ignored, abort, ignored);
        if (abort) return written;
        Write();
        written = true;
      }
      fireList(after, Operation, OldValues, NewValues, nullptr, ignored, abort, ignored);
      return written;
    } catch (const EBRNException& failure) {
      if (errors == nullptr || errors->Count() == 0) throw;
      bool abort = false;
      bool ran = false;
      retrying = fireList(errors, Operation, OldValues, NewValues, &failure, retry, abort, ran);
      if (!ran) throw;
      if (!retry) return written;
    }
    if (!retries.Enter()) raiseNestingError(*retrying);
  }
}

// ---- Triggers

TBRNReferencedTriggers* TBRNVirtualTableManager::eventTriggers(int32_t Time,
                                                               int32_t ActionType) const {
  TBRNTriggers* triggers = GetTable()->Triggers.get();
  if (triggers == nullptr || triggers->Count() == 0) return nullptr;
  return triggers->GetEventTriggers(Time, eventOf(ActionType));
}

void TBRNVirtualTableManager::FireBeforeTriggers(TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                                 int32_t ActionType, int32_t Operation,
                                                 bool& Abort) {
  bool ignored = false;
  fireList(eventTriggers(kTriggerBefore, ActionType), Operation, OldValues, NewValues, nullptr,
           ignored, Abort, ignored);
}

void TBRNVirtualTableManager::FireAfterTriggers(TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                                int32_t ActionType, int32_t Operation,
                                                bool& Abort) {
  bool ignored = false;
  fireList(eventTriggers(kTriggerAfter, ActionType), Operation, OldValues, NewValues, nullptr,
           ignored, Abort, ignored);
}

bool TBRNVirtualTableManager::FireErrorTriggers(const EBRNException& Error,
                                                TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                                int32_t ActionType, int32_t Operation, bool& Retry,
                                                bool& Abort) {
  bool ran = false;
  fireList(eventTriggers(kTriggerError, ActionType), Operation, OldValues, NewValues, &Error, Retry,
           Abort, ran);
  return ran;
}

TBRNTrigger* TBRNVirtualTableManager::fireList(TBRNReferencedTriggers* List, int32_t Operation,
                                               TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                               const EBRNException* Error, bool& Retry, bool& Abort,
                                               bool& Ran) {
  Retry = false;
  Abort = false;
  Ran = false;
  for (int32_t i = 0; List != nullptr && i < List->Count(); ++i) {
    TBRNTrigger* trigger = List->GetItem(i);
    bool retry = false;
    bool abort = false;
    if (!fireTrigger(*trigger, Operation, OldValues, NewValues, Error, retry, abort)) continue;
    Ran = true;
    if (abort || (Error != nullptr && retry)) {
      Abort = abort;
      Retry = Error != nullptr && retry;
      return trigger;
    }
  }
  return nullptr;
}

bool TBRNVirtualTableManager::listedColumnChanged(TBRNTrigger& Trigger, TBRNRowValues* OldValues,
                                                  TBRNRowValues* NewValues, bool AfterWrite) {
  if (NewValues == nullptr) return false;
  TBRNColumns& columns = *NewValues->GetColumns();
  for (int32_t i = 0; i < Trigger.TriggerColumns->Count(); ++i) {
    const int32_t index = positionOf(columns, Trigger.TriggerColumns->GetItem(i)->GetColumn());
    if (index < 0) continue;
    const TBRNRowValue* value = NewValues->GetRowValue(index);
    if (!(AfterWrite ? value->PreviousModified : value->Modified)) continue;
    if (OldValues == nullptr) return true;
    if (value->Compare(*OldValues->GetRowValue(index), 0, false, value->GetCollation()) != 0)
      return true;
  }
  return false;
}

bool TBRNVirtualTableManager::fireTrigger(TBRNTrigger& Trigger, int32_t Operation,
                                          TBRNRowValues* OldValues, TBRNRowValues* NewValues,
                                          const EBRNException* Error, bool& Retry, bool& Abort) {
  Retry = false;
  Abort = false;
  if (!Trigger.Enabled) return false;
  if (Trigger.ActionType == kTriggerUpdate && Trigger.TriggerColumns->Count() > 0) {
    if (Trigger.ActionTime == kTriggerError ||
        !listedColumnChanged(Trigger, OldValues, NewValues, Trigger.ActionTime == kTriggerAfter))
      return false;
  }
  TriggerDepth depth;
  bool ran = false;
  try {
    if (!depth.Enter()) raiseNestingError(Trigger);
    if (!Trigger.Definition->Compiled) CompileTriggers();
    TBRNExprToken* body = Trigger.Definition->Root;
    if (body == nullptr) return false;
    TBRNExpressionEvaluator& evaluator = GetEvaluator();
    TBRNEvaluationContext& context = GetContext();
    // The body runs with its table owner's rights, never with the rights
    // of System: CREATE TRIGGER must not lend more than the owner has.
    GetEnvironment().PushUser(GetEnvironment().GetObjectOwner(GetTable()));
    try {
      TBRNEvaluationScope scope(evaluator, context);
      TriggerFieldsScope fields(context);
      context.TriggerOperation = Operation;
      context.TriggerError = Error;
      context.TriggerRows = {OldValues, NewValues};
      context.TriggerAbort = false;
      context.TriggerRetry = false;
      context.LoadingUpdates = GetLoadingUpdates();
      SavedRowVariables rows(evaluator, body);
      bool fire = true;
      if (TBRNExprToken* condition = Trigger.Condition->Root) {
        evaluator.EvaluateExpression(condition);
        fire = condition->Value != nullptr && !condition->Value->GetNull() &&
               condition->Value->GetAsBoolean();
      }
      if (fire) {
        evaluator.ExecuteRoutine(body);
        Abort = context.TriggerAbort;
        Retry = context.TriggerRetry;
        ran = true;
      }
      rows.Restore();
    } catch (...) {
      try {
        GetEnvironment().PopUser();
      } catch (...) {  // the trigger's error passes on
      }
      throw;
    }
    GetEnvironment().PopUser();
  } catch (...) {
    logTriggerFailure();
    throw;
  }
  return ran;
}

void TBRNVirtualTableManager::logTriggerFailure() {
  std::exception_ptr failure = std::current_exception();
  if (!failure || failure == tLoggedFailure) return;
  tLoggedFailure = failure;
  try {
    std::rethrow_exception(failure);
  } catch (const EBRNException& error) {
    try {
      GetEnvironment().LogFailedOperation(kTriggerFailureOperation, error);
    } catch (...) {  // the trigger's error passes on
    }
  } catch (const EBRNAbortException&) {
    // A silent abort is not a failure to report.
  } catch (const std::exception& error) {
    try {
      GetEnvironment().LogFailedOperation(kTriggerFailureOperation,
                                          EBRNException(kOtherFailureCode, error.what()));
    } catch (...) {  // likewise
    }
  } catch (...) {
  }
}

void TBRNVirtualTableManager::PushTriggerState(int32_t RowNumber) {
  std::unique_ptr<TBRNTriggerState> state;
  TBRNTriggers* triggers = GetTable()->Triggers.get();
  if (triggers != nullptr && triggers->Count() > 0) {
    // The OLD row copies what the compiled triggers read.
    CompileTriggers();
    state = std::make_unique<TBRNTriggerState>(*this);
    state->ReadOldRow(RowNumber);
  }
  // The slot first, so that a failure to grow the stack loses nothing.
  triggerStates.Push(nullptr);
  triggerStates.Items[size_t(triggerStates.Count - 1)] = std::move(triggerState);
  triggerState = std::move(state);
}

void TBRNVirtualTableManager::PopTriggerState() {
  if (triggerStates.Count == 0) throw std::logic_error("PopTriggerState without PushTriggerState");
  triggerState = triggerStates.Pop();
}

}  // namespace brn
