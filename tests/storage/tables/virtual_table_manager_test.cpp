// The virtual table manager's row operations with their checks, row locks
// and BEFORE, AFTER and ERROR trigger loops, over a table manager whose row
// writes only record themselves. Triggers are real catalog triggers; their
// bodies run through the test evaluator's routine double.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_test_support.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn::testing {
namespace {

constexpr int32_t kID = 0;
constexpr int32_t kAmount = 1;
constexpr int32_t kName = 2;

// Values of the test table in a buffer of their own.
struct TestRow {
  explicit TestRow(TBRNColumns* columns) : Values(columns, nullptr) {
    Buffer.SetSize(columns->RowSize);
    Values.SetBuffer(&Buffer);
    Values.SetAllNull();
  }
  TBRNMemoryStream Buffer;
  TBRNRowsetRowValues Values;
};

void CopyImage(const TBRNMemoryStream& from, TBRNMemoryStream& to) {
  to.SetSize(from.GetSize());
  std::memcpy(to.GetMemory(), from.GetMemory(), size_t(from.GetSize()));
}

// A table manager that keeps its stored rows in memory and records every
// row lock and row write in Log.
class TestTableManager : public TBRNVirtualTableManager {
 public:
  TestTableManager(TBRNTableEnvironment& environment, TBRNBaseTable* table,
                   std::vector<std::string>& log)
      : TBRNVirtualTableManager(environment, table), Log(log) {}

  std::vector<std::string>& Log;
  std::map<int32_t, std::unique_ptr<TBRNRowsetRow>> Rows;
  int32_t FailingWrites = 0;  // the next writes raise 1009
  int32_t Pinned = 0;

  // Stores row number with its values.
  void Store(int32_t number, int32_t id, int32_t amount) {
    auto row = std::make_unique<TBRNRowsetRow>(nullptr);
    TestRow values(GetColumns());
    values.Values.GetItem(kID)->SetAsInteger(id);
    values.Values.GetItem(kAmount)->SetAsInteger(amount);
    values.Values.GetItem(kName)->SetAsString("row" + std::to_string(id));
    CopyImage(values.Buffer, row->BlockStream);
    Rows[number] = std::move(row);
  }
  // New values of stored row number, nothing modified yet.
  std::unique_ptr<TestRow> Edit(int32_t number) {
    auto values = std::make_unique<TestRow>(GetColumns());
    CopyImage(Rows.at(number)->BlockStream, values->Buffer);
    values->Values.ClearModified();
    return values;
  }
  int32_t StoredAmount(int32_t number) {
    TestRow values(GetColumns());
    CopyImage(Rows.at(number)->BlockStream, values.Buffer);
    return values.Values.GetItem(kAmount)->GetAsInteger();
  }

  TBRNRowsetManager* GetRowsetManager() override { return nullptr; }
  TBRNIndexManager* GetIndexManager() override { return nullptr; }
  TBRNBlobManager* GetBlobManager() override { return nullptr; }
  TBRNPublishedUpdatesManager* GetPublishedUpdatesManager() override { return nullptr; }
  int32_t GetRowCount() override { return int32_t(Rows.size()); }
  int32_t GetPhysicalRowCount() override { return int32_t(Rows.size()); }
  int32_t GetRowSize() override { return GetColumns()->RowSize; }
  int64_t GetChangeCount() override { return 0; }
  int32_t GetRowCacheCapacity() override { return 0; }
  bool GetEncrypted() override { return false; }
  TBRNColumns* GetColumns() override { return GetTable()->Columns.get(); }
  TBRNIndexes* GetIndexes() override { return GetTable()->Indexes.get(); }

  void InsertRow(TBRNRowValues& values, int32_t& rowNumber, int32_t&, int32_t&, bool) override {
    write("insert");
    rowNumber = Rows.empty() ? 1 : Rows.rbegin()->first + 1;
    auto row = std::make_unique<TBRNRowsetRow>(nullptr);
    CopyImage(*values.GetBuffer(), row->BlockStream);
    Rows[rowNumber] = std::move(row);
    values.SetAllModified(false);
  }
  void UpdateRow(TBRNRowValues& values, int32_t rowNumber, int32_t&) override {
    write("update " + std::to_string(rowNumber));
    CopyImage(*values.GetBuffer(), Rows.at(rowNumber)->BlockStream);
    values.SetAllModified(false);  // as the table manager's write does
  }
  void DeleteRow(TBRNRowValues&, int32_t rowNumber, int32_t&) override {
    write("delete " + std::to_string(rowNumber));
    Rows.erase(rowNumber);
  }
  void CheckRowCurrent(int32_t row, int32_t, int32_t, bool, bool) override {
    Log.push_back("check " + std::to_string(row));
  }
  // Rows in HeldRows are already locked by the caller: the call takes
  // nothing and answers false, as the table manager does.
  bool LockRowForUpdate(TBRNHandleObject*, int32_t row, int32_t, int32_t, bool, bool,
                        int32_t keep) override {
    EXPECT_EQ(keep, 1);
    if (HeldRows.count(row) != 0) return false;
    Log.push_back("lock " + std::to_string(row));
    return true;
  }
  std::set<int32_t> HeldRows;
  void UnlockRow(int32_t row) override { Log.push_back("unlock " + std::to_string(row)); }
  TBRNRowsetRow* GetRow(int32_t row, bool) override {
    ++Pinned;
    return Rows.at(row).get();
  }
  void ReleaseRow(TBRNRowsetRow*) override { --Pinned; }

  bool HasChanged(bool) override { return false; }
  void StartTransaction() override {}
  void FlushTransaction() override {}
  void CommitTransaction() override {}
  void RollbackTransaction() override {}
  void Flush() override {}
  void CheckRowVisible(int32_t, int32_t) override {}
  void UnlockRows(TBRNHandleObject*) override {}
  std::unique_ptr<TBRNRowsetRow> NewRowBuffer() override {
    return std::make_unique<TBRNRowsetRow>(nullptr);
  }
  bool AddIndex(TBRNIndex*, bool) override { return false; }
  void ClearIndex(TBRNIndex*) override {}
  void RebuildIndex(TBRNIndex*, bool) override {}
  void CancelIndexChange() override {}
  bool DropIndex(TBRNIndex*, bool) override { return false; }
  void ReadBlob(int32_t, int32_t, TBRNMemoryStream&, bool) override { unused(); }
  void WriteBlob(int32_t, int32_t&, TBRNMemoryStream&, int32_t, int32_t&) override { unused(); }
  void ReadPublishedUpdate(int32_t&, TBRNMemoryStream&, bool) override { unused(); }
  void AppendPublishedUpdate(TBRNMemoryStream&, int32_t) override { unused(); }

 private:
  void write(const std::string& what) {
    Log.push_back(what);
    if (FailingWrites > 0) {
      --FailingWrites;
      throw EBRNException(1009, "The write failed");
    }
  }
  [[noreturn]] static void unused() { throw std::logic_error("not used by these tests"); }
};

// The session of the tests: table owners are one user.
class OwnerEnvironment : public TestTableEnvironment {
 public:
  using TestTableEnvironment::TestTableEnvironment;
  TBRNUser* Owner = nullptr;
  TBRNUser* GetObjectOwner(TBRNPrivilegedConfigObject*) override { return Owner; }
};

// What a trigger body saw when it ran.
struct Firing {
  std::string Trigger;
  TBRNUser* User;
  int32_t Operation;
  const EBRNException* Error;
  TBRNRowValues* OldRow;
  TBRNRowValues* NewRow;
};

struct TriggerTest : ::testing::Test {
  TestDatabaseFiles Database;
  OwnerEnvironment Environment{Database};
  std::unique_ptr<TBRNUser> Owner = std::make_unique<TBRNUser>(&Environment.Config);
  TBRNBaseTable* Orders = Environment.AddTable(
      "Orders", {{"ID", dtInteger}, {"Amount", dtInteger}, {"Name", dtChar, 20}});
  std::vector<std::string> Log;
  std::vector<Firing> Firings;
  // The body of each trigger by name; a trigger without one does nothing.
  std::map<std::string, std::function<void(TBRNEvaluationContext&)>> Bodies;
  std::unique_ptr<TestTableManager> Manager;
  int32_t Counter = 0;

  TriggerTest() {
    Owner->Name = "Carla";
    Environment.Owner = Owner.get();
    Environment.Finish(Orders);
    Manager = std::make_unique<TestTableManager>(Environment, Orders, Log);
    Manager->Store(1, 1, 5);
    Manager->Store(2, 2, 7);
    Environment.Evaluator.Routine = [this](TBRNExprToken* block) { run(block); };
  }

  TBRNTrigger* AddTrigger(const std::string& name, int32_t time, int32_t type,
                          const std::vector<TBRNColumn*>& columns = {},
                          const std::string& condition = "") {
    std::unique_ptr<TBRNTrigger> trigger(static_cast<TBRNTrigger*>(Orders->Triggers->NewItem()));
    trigger->Name = name;
    trigger->SetActionTime(time);
    trigger->SetActionType(type);
    // Bodies that may read OldRow do, so that the OLD row carries Amount.
    const bool old = type != kTriggerInsert;
    trigger->Definition->SetText(
        "TRIGGER \"" + name + "\"\r\nBEGIN\r\n" +
        (old ? "  DECLARE v INTEGER;\r\n  SET v = OldRow.Amount;\r\n" : "") + "END");
    trigger->Condition->SetText(condition);
    Orders->Triggers->AddObject(trigger.get());
    for (TBRNColumn* column : columns) {
      std::unique_ptr<TBRNTriggerColumn> entry(
          static_cast<TBRNTriggerColumn*>(trigger->TriggerColumns->NewItem()));
      entry->SetColumn(column);
      trigger->TriggerColumns->AddObject(entry.get());
      entry.release();
    }
    return trigger.release();
  }
  TBRNColumn* Column(int32_t index) { return Orders->Columns->GetItem(index); }

  // Under the pessimistic protocol the row is first read for editing,
  // which locks it, unless readForEditing is false.
  bool Update(int32_t row, int32_t amount, bool readForEditing = true) {
    auto values = Manager->Edit(row);
    values->Values.GetItem(kAmount)->SetAsInteger(amount);
    const bool hold =
        readForEditing && Environment.Settings.RecordLockProtocol == kBRNRecordLockPessimistic;
    if (hold) Manager->HeldRows.insert(row);
    bool written = false;
    try {
      written = Manager->UpdateRowWithTriggers(nullptr, values->Values, row, 0, Counter);
    } catch (...) {
      if (hold) Manager->HeldRows.erase(row);
      throw;
    }
    if (hold) Manager->HeldRows.erase(row);
    return written;
  }
  bool Insert(int32_t id) {
    TestRow values(Orders->Columns.get());
    values.Values.GetItem(kID)->SetAsInteger(id);
    int32_t row = 0;
    int32_t version = 0;
    return Manager->InsertRowWithTriggers(values.Values, row, version, Counter);
  }
  bool Delete(int32_t row) {
    auto values = Manager->Edit(row);
    return Manager->DeleteRowWithTriggers(nullptr, values->Values, row, 0, Counter);
  }
  // The log, emptied.
  std::vector<std::string> Taken() {
    std::vector<std::string> log = Log;
    Log.clear();
    return log;
  }

 private:
  void run(TBRNExprToken* block) {
    TBRNTrigger* trigger = nullptr;
    for (int32_t i = 0; i < Orders->Triggers->Count(); ++i)
      if (Orders->Triggers->GetItem(i)->Definition->Root == block)
        trigger = Orders->Triggers->GetItem(i);
    ASSERT_NE(trigger, nullptr);
    TBRNEvaluationContext& context = *Environment.Evaluator.Current;
    Log.push_back("fire " + trigger->Name);
    Firings.push_back({trigger->Name, Environment.GetCurrentUser(), context.TriggerOperation,
                       context.TriggerError, context.TriggerRows[0], context.TriggerRows[1]});
    auto body = Bodies.find(trigger->Name);
    if (body != Bodies.end()) body->second(context);
  }
};

using Strings = std::vector<std::string>;

TEST_F(TriggerTest, AnUpdateWithNothingModifiedFiresAndWritesNothing) {
  AddTrigger("B", kTriggerBefore, kTriggerUpdate);
  AddTrigger("A", kTriggerAfter, kTriggerUpdate);
  auto values = Manager->Edit(1);
  EXPECT_FALSE(Manager->UpdateRowWithTriggers(nullptr, values->Values, 1, 0, Counter));
  EXPECT_EQ(Taken(), Strings{});
}

TEST_F(TriggerTest, RowLocksFollowTheProtocolExceptForDeleteWhichAlwaysLocks) {
  struct Case {
    uint8_t Protocol;
    bool Delete;
    bool Held;
    Strings Expected;
  };
  const Case cases[] = {
      // A pessimistic update of a row read for editing (its lock held)
      // only checks it; one posted without that read takes the lock too.
      {kBRNRecordLockPessimistic, false, true, {"check 1", "update 1"}},
      {kBRNRecordLockPessimistic, false, false, {"lock 1", "update 1", "unlock 1"}},
      {kBRNRecordLockOptimistic, false, false, {"lock 1", "update 1", "unlock 1"}},
      {kBRNRecordLockPessimistic, true, false, {"lock 1", "delete 1", "unlock 1"}},
      {kBRNRecordLockOptimistic, true, false, {"lock 1", "delete 1", "unlock 1"}},
  };
  for (const Case& c : cases) {
    Manager->Store(1, 1, 5);
    Environment.Settings.RecordLockProtocol = c.Protocol;
    EXPECT_TRUE(c.Delete ? Delete(1) : Update(1, 6, c.Held));
    EXPECT_EQ(Taken(), c.Expected) << int(c.Protocol) << c.Delete;
  }
  // A failed write still gives the lock back.
  Manager->Store(1, 1, 5);
  Manager->FailingWrites = 1;
  EXPECT_EQ(CaughtError([&] { Delete(1); }).ErrorCode, 1009);
  EXPECT_EQ(Taken(), (Strings{"lock 1", "delete 1", "unlock 1"}));
}

TEST_F(TriggerTest, ChecksOfRightsAndReadOnlyTablesComeFirst) {
  struct Case {
    const char* Statement;
    int32_t Kind;
    std::function<void()> Run;
  };
  const Case cases[] = {
      {"INSERT", pkInsert, [&] { Insert(9); }},
      {"UPDATE", pkUpdate, [&] { Update(1, 6); }},
      {"DELETE", pkDelete, [&] { Delete(2); }},
  };
  auto restore = [&] {
    Manager->Store(1, 1, 5);
    Manager->Store(2, 2, 7);
  };
  for (const Case& c : cases) {
    Environment.PrivilegeChecks.clear();
    c.Run();
    restore();
    ASSERT_EQ(Environment.PrivilegeChecks.size(), 1u) << c.Statement;
    EXPECT_EQ(Environment.PrivilegeChecks[0].Object, Orders);
    EXPECT_EQ(Environment.PrivilegeChecks[0].Kind, c.Kind);
    EXPECT_EQ(Environment.PrivilegeChecks[0].Statement, c.Statement);
    Taken();

    Environment.RefusePrivileges = true;
    EXPECT_EQ(CaughtError(c.Run).ErrorCode, 503) << c.Statement;
    Environment.RefusePrivileges = false;

    Orders->ReadOnly = true;
    EXPECT_EQ(CaughtError(c.Run).ErrorMessage,
              std::string("The table Orders is read-only and this operation cannot be "
                          "performed (") +
                  c.Statement + ")");
    EXPECT_EQ(Taken(), Strings{}) << c.Statement;
    // A System table is written whatever its flag says.
    Orders->System = true;
    c.Run();
    Orders->System = false;
    Orders->ReadOnly = false;
    restore();
  }
}

TEST_F(TriggerTest, RowErrorsNameTheTable) {
  struct Case {
    std::function<void()> Raise;
    int32_t Code;
    const char* Message;
  };
  TestTableManager& m = *Manager;
  const Case cases[] = {
      {[&] { m.RaiseCannotLockRow(); }, 1005, "Cannot lock the row in the table Orders"},
      {[&] { m.RaiseCannotUnlockRow(); }, 1006, "Cannot unlock the row in the table Orders"},
      {[&] { m.RaiseRowDeleted(); }, 1007,
       "The row has been deleted since last cached for the table Orders"},
      {[&] { m.RaiseRowModified(); }, 1008,
       "The row has been modified since last cached for the table Orders"},
      {[&] { m.RaiseRowNotVisible(); }, 1010, "The row is no longer visible in the table Orders"},
      {[&] { m.RaiseReadOnly("ALTER"); }, 403,
       "The table Orders is read-only and this operation cannot be performed (ALTER)"},
  };
  for (const Case& c : cases) {
    const EBRNException error = CaughtError(c.Raise);
    EXPECT_EQ(error.ErrorCode, c.Code);
    EXPECT_EQ(error.ErrorMessage, c.Message);
  }
}

TEST_F(TriggerTest, AnUpdateOfTriggerFiresOnlyWhenAListedColumnChanges) {
  AddTrigger("Before", kTriggerBefore, kTriggerUpdate, {Column(kAmount)});
  AddTrigger("After", kTriggerAfter, kTriggerUpdate, {Column(kAmount)});
  AddTrigger("Error", kTriggerError, kTriggerUpdate, {Column(kAmount)});
  struct Case {
    const char* What;
    std::function<void(TBRNRowValues&)> Edit;
    Strings Expected;
  };
  const Case cases[] = {
      {"its old value",
       [](TBRNRowValues& v) { v.GetItem(kAmount)->SetAsInteger(5); },
       {"check 1", "update 1"}},
      {"another column",
       [](TBRNRowValues& v) { v.GetItem(kName)->SetAsString("x"); },
       {"check 1", "update 1"}},
      {"a new value",
       [](TBRNRowValues& v) { v.GetItem(kAmount)->SetAsInteger(6); },
       {"check 1", "fire Before", "update 1", "fire After"}},
      {"NULL",
       [](TBRNRowValues& v) { v.GetItem(kAmount)->SetNull(true); },
       {"check 1", "fire Before", "update 1", "fire After"}},
  };
  Manager->HeldRows = {1};  // read for editing
  for (const Case& c : cases) {
    Manager->Store(1, 1, 5);
    auto values = Manager->Edit(1);
    c.Edit(values->Values);
    EXPECT_TRUE(Manager->UpdateRowWithTriggers(nullptr, values->Values, 1, 0, Counter));
    EXPECT_EQ(Taken(), c.Expected) << c.What;
  }
  Manager->HeldRows.clear();
  // An ERROR trigger with a column list never fires: the error passes on.
  Manager->FailingWrites = 1;
  EXPECT_EQ(CaughtError([&] { Update(1, 8); }).ErrorCode, 1009);
}

TEST_F(TriggerTest, TheWhenConditionReadsTheTriggerRows) {
  AddTrigger("Big", kTriggerBefore, kTriggerUpdate, {}, "OldRow.Amount > 6 AND NewRow.Amount > 0");
  Manager->CompileTriggers();
  Update(1, 3);  // stored 5
  Update(2, 3);  // stored 7
  Update(2, -1);
  EXPECT_EQ(Taken(), (Strings{"check 1", "update 1", "check 2", "fire Big", "update 2", "check 2",
                              "update 2"}));
}

TEST_F(TriggerTest, TriggersGetTheirOperationAndRows) {
  AddTrigger("Ins", kTriggerBefore, kTriggerInsert);
  AddTrigger("Upd", kTriggerAfter, kTriggerUpdate);
  AddTrigger("Del", kTriggerBefore, kTriggerDelete);
  Insert(3);
  Update(1, 6);
  Delete(2);
  ASSERT_EQ(Firings.size(), 3u);
  EXPECT_EQ(Firings[0].Operation, kTriggerOperationInsert);
  EXPECT_EQ(Firings[0].OldRow, nullptr);
  EXPECT_NE(Firings[0].NewRow, nullptr);
  EXPECT_EQ(Firings[1].Operation, kTriggerOperationUpdate);
  EXPECT_NE(Firings[1].OldRow, nullptr);
  EXPECT_NE(Firings[1].NewRow, nullptr);
  EXPECT_EQ(Firings[2].Operation, kTriggerOperationDelete);
  EXPECT_NE(Firings[2].OldRow, nullptr);
  EXPECT_EQ(Firings[2].NewRow, nullptr);
  for (const Firing& f : Firings) EXPECT_EQ(f.Error, nullptr);
  // Outside triggers the context holds none of it.
  TBRNEvaluationContext& context = Manager->GetContext();
  EXPECT_EQ(context.TriggerOperation, -1);
  EXPECT_EQ(context.TriggerRows[0], nullptr);
  EXPECT_EQ(Manager->GetTriggerState(), nullptr);
  EXPECT_EQ(Manager->Pinned, 0);
}

TEST_F(TriggerTest, TheFirstAbortStopsItsList) {
  struct Case {
    int32_t Time;
    bool Written;
    Strings Expected;
  };
  const Case cases[] = {
      {kTriggerBefore, false, {"check 1", "fire First"}},
      {kTriggerAfter, true, {"check 1", "update 1", "fire First"}},
      {kTriggerError, false, {"check 1", "update 1", "fire First"}},
  };
  Bodies["First"] = [](TBRNEvaluationContext& context) { context.TriggerAbort = true; };
  for (const Case& c : cases) {
    Orders->Triggers->Clear();
    AddTrigger("First", c.Time, kTriggerUpdate);
    AddTrigger("Second", c.Time, kTriggerUpdate);
    Manager->FailingWrites = c.Time == kTriggerError ? 1 : 0;
    EXPECT_EQ(Update(1, 6), c.Written) << c.Time;
    EXPECT_EQ(Taken(), c.Expected) << c.Time;
  }
}

TEST_F(TriggerTest, AnErrorTriggerThatRetriesRunsTheWholeSequenceAgain) {
  AddTrigger("Before", kTriggerBefore, kTriggerUpdate);
  AddTrigger("After", kTriggerAfter, kTriggerUpdate);
  AddTrigger("Retry", kTriggerError, kTriggerUpdate);
  int32_t seenCode = 0;
  Bodies["Retry"] = [&](TBRNEvaluationContext& context) {
    seenCode = context.TriggerError != nullptr ? context.TriggerError->ErrorCode : -1;
    context.TriggerRetry = true;
  };
  Manager->FailingWrites = 1;
  EXPECT_TRUE(Update(1, 6));
  EXPECT_EQ(Taken(), (Strings{"check 1", "fire Before", "update 1", "fire Retry", "fire Before",
                              "update 1", "fire After"}));
  EXPECT_EQ(seenCode, 1009);
  EXPECT_EQ(Manager->StoredAmount(1), 6);

  // An ERROR trigger that handles the error without retry ends the change.
  Bodies.erase("Retry");
  Manager->FailingWrites = 1;
  EXPECT_FALSE(Update(1, 7));
  EXPECT_EQ(Taken(), (Strings{"check 1", "fire Before", "update 1", "fire Retry"}));

  // When none runs, the error passes on.
  Orders->Triggers->GetItem(2)->Enabled = false;
  Manager->FailingWrites = 1;
  EXPECT_EQ(CaughtError([&] { Update(1, 8); }).ErrorCode, 1009);

  // A trigger that always retries ends at the nesting bound.
  Orders->Triggers->GetItem(2)->Enabled = true;
  Bodies["Retry"] = [](TBRNEvaluationContext& context) { context.TriggerRetry = true; };
  Manager->FailingWrites = 1000;
  EXPECT_EQ(CaughtError([&] { Update(1, 9); }).ErrorCode, 901);
  EXPECT_EQ(Manager->GetTriggerState(), nullptr);
  EXPECT_TRUE(Environment.Users.empty());
}

// A failure after the row was written is retried without writing the row
// again: an insert would otherwise store it twice.
TEST_F(TriggerTest, ARetryAfterTheWriteRunsOnlyTheAfterTriggersAgain) {
  AddTrigger("Before", kTriggerBefore, kTriggerUpdate);
  AddTrigger("After", kTriggerAfter, kTriggerUpdate);
  AddTrigger("Retry", kTriggerError, kTriggerUpdate);
  int32_t afterRuns = 0;
  Bodies["After"] = [&](TBRNEvaluationContext&) {
    if (++afterRuns == 1) throw EBRNException(700, "The body failed");
  };
  Bodies["Retry"] = [](TBRNEvaluationContext& context) { context.TriggerRetry = true; };
  EXPECT_TRUE(Update(1, 6));
  EXPECT_EQ(Taken(), (Strings{"check 1", "fire Before", "update 1", "fire After", "fire Retry",
                              "fire After"}));
  EXPECT_EQ(afterRuns, 2);
}

TEST_F(TriggerTest, NestedTriggersKeepTheirOwnRows) {
  AddTrigger("Nest", kTriggerBefore, kTriggerUpdate);
  std::vector<int32_t> oldAmounts;
  std::vector<size_t> savedRows;
  Bodies["Nest"] = [&](TBRNEvaluationContext& context) {
    oldAmounts.push_back(context.TriggerRows[0]->GetItem(kAmount)->GetAsInteger());
    savedRows.push_back(Environment.Evaluator.SavedValues.size());
    if (oldAmounts.size() == 1) {
      // The body changes another row of its own table.
      Update(2, 70);
      oldAmounts.push_back(context.TriggerRows[0]->GetItem(kAmount)->GetAsInteger());
      EXPECT_EQ(context.TriggerOperation, kTriggerOperationUpdate);
      EXPECT_EQ(context.TriggerRows[1]->GetItem(kAmount)->GetAsInteger(), 50);
    }
  };
  EXPECT_TRUE(Update(1, 50));
  // Outer OLD row 5, the inner one 7, and the outer one again 5.
  EXPECT_EQ(oldAmounts, (std::vector<int32_t>{5, 7, 5}));
  // Each level saved the body's two row variables, all given back.
  EXPECT_EQ(savedRows, (std::vector<size_t>{2, 4}));
  EXPECT_TRUE(Environment.Evaluator.SavedValues.empty());
  EXPECT_EQ(Manager->StoredAmount(1), 50);
  EXPECT_EQ(Manager->StoredAmount(2), 70);
  EXPECT_EQ(Manager->GetTriggerState(), nullptr);
}

TEST_F(TriggerTest, TriggerBodiesRunAsTheTableOwner) {
  AddTrigger("Audit", kTriggerAfter, kTriggerUpdate);
  TBRNUser* system = Environment.Config.SystemUser;
  TBRNUser* other = Environment.Config.AdministratorUser;
  bool fail = false;
  Bodies["Audit"] = [&](TBRNEvaluationContext&) {
    if (fail) throw EBRNException(700, "The body failed");
  };
  for (TBRNUser* caller : {system, other}) {
    for (bool failing : {false, true}) {
      fail = failing;
      Firings.clear();
      Environment.PushUser(caller);
      if (failing)
        EXPECT_EQ(CaughtError([&] { Update(1, 6); }).ErrorCode, 700);
      else
        Update(1, 6);
      ASSERT_EQ(Firings.size(), 1u);
      EXPECT_EQ(Firings[0].User, Owner.get());
      EXPECT_EQ(Environment.GetCurrentUser(), caller);
      EXPECT_EQ(Environment.Users.size(), 1u);
      Environment.PopUser();
    }
  }
}

TEST_F(TriggerTest, FailuresOfTriggersAreLoggedOnceAsOperation153) {
  AddTrigger("Check", kTriggerBefore, kTriggerInsert);
  Bodies["Check"] = [](TBRNEvaluationContext&) { throw EBRNException(700, "The body failed"); };
  EXPECT_EQ(CaughtError([&] { Insert(3); }).ErrorCode, 700);
  ASSERT_EQ(Environment.FailedOperations.size(), 1u);
  EXPECT_EQ(Environment.FailedOperations[0].OperationCode, 153);
  EXPECT_EQ(Environment.FailedOperations[0].ErrorCode, 700);
  EXPECT_EQ(Taken(), Strings{"fire Check"});
}

TEST_F(TriggerTest, NestingBeyondTheBoundRaisesAnEngineError) {
  AddTrigger("Loop", kTriggerBefore, kTriggerUpdate);
  int32_t depth = 0;
  Bodies["Loop"] = [&](TBRNEvaluationContext&) {
    ++depth;
    Update(1, 100 + depth);
  };
  const EBRNException error = CaughtError([&] { Update(1, 6); });
  EXPECT_EQ(error.ErrorCode, 901);
  EXPECT_NE(error.ErrorMessage.find("An error occurred with the Loop trigger routine at line "),
            std::string::npos);
  EXPECT_NE(error.ErrorMessage.find("(Triggers cannot be nested more than 64 levels deep)"),
            std::string::npos);
  EXPECT_EQ(depth, kMaxTriggerNesting);
  // Logged once on its way out through every level; every level undone.
  ASSERT_EQ(Environment.FailedOperations.size(), 1u);
  EXPECT_EQ(Environment.FailedOperations[0].ErrorCode, 901);
  EXPECT_TRUE(Environment.Users.empty());
  EXPECT_TRUE(Environment.Evaluator.SavedValues.empty());
  EXPECT_EQ(Manager->GetTriggerState(), nullptr);
  EXPECT_EQ(Manager->Pinned, 0);
  EXPECT_EQ(Manager->StoredAmount(1), 5);

  // The bound is per nest: the next change starts from the top again.
  Bodies.erase("Loop");
  EXPECT_TRUE(Update(1, 6));
}

}  // namespace
}  // namespace brn::testing
