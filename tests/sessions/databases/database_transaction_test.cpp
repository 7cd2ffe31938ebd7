// Database transactions and handles of one process: which locks a START
// TRANSACTION takes and a COMMIT or ROLLBACK gives back (two sessions meet
// in the lock file as two processes would), COMMIT with FlushOnly, the
// errors and their log entries, a failing start and failing commit writes
// (fault-injecting files), and cursors made through the table object
// factory.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/locks/lockable.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/table_differences.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/local/local_log_manager.h"
#include "storage/cursors/cursor_test_support.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

// The code and text of what call raised; code 0 when it passed.
std::pair<int32_t, std::string> TransactionOutcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const EBRNException& e) {
    return {e.ErrorCode, e.ErrorMessage};
  }
  return {0, ""};
}

TBRNStringsList Names(std::initializer_list<const char*> names) {
  TBRNStringsList list;
  for (const char* name : names) list.Add(name);
  return list;
}

bool Holds(const TBRNLockable* object, uint8_t lockType) {
  return (object->GetHeldLocks() & LockTypeBit(lockType)) != 0;
}

// An engine whose files live in memory and fail on command.
class FaultEngine : public TBRNEngineManager {
 public:
  FaultEngine() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    auto files = std::make_unique<TBRNFaultFileManager>(Environment.get());
    Faults = files.get();
    return files;
  }
  TBRNFaultFileManager* Faults = nullptr;
};

// One session with the database D open and the tables T1 and T2 stored in
// its catalog.
struct Side {
  Side(TBRNEngineManager& engine, const std::string& path, bool create) {
    Session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Database = Session->GetDatabaseManager(AddDatabase(*Session, "D", path));
    Database->OpenDatabase(kBRNLockShared);
    if (create) {
      Database->CatalogManager->BeginUpdate();
      AddTable(*Database->Catalog, "T1", false);
      AddTable(*Database->Catalog, "T2", false);
      Database->CatalogManager->CommitUpdate();
    }
  }

  TBRNBaseTable* Table(const std::string& name) const {
    return static_cast<TBRNBaseTable*>(
        Database->Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }
  // The table's manager, opened with the Shared lock (its files made when
  // missing).
  TBRNTableManager* Open(const std::string& name) {
    TBRNBaseTable* table = Table(name);
    auto* manager = static_cast<TBRNTableManager*>(Database->TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    Database->TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return manager;
  }
  // The row count another session has committed, seen by this one.
  int32_t Rows(const std::string& name) {
    TBRNTableManager* manager = Open(name);
    manager->HasChanged(true);
    int32_t count = manager->GetRowCount();
    manager->Close(false, true);
    return count;
  }

  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
};

struct TransactionTest : ::testing::Test {
  TestEngine Env;
  Side Mine{Env.Engine, Env.Folder.Path + "D", true};
  Side Theirs{Env.Engine, Env.Folder.Path + "D", false};
};

TEST_F(TransactionTest, AnEmptyListLocksTheDatabaseEntryOnce) {
  Mine.Database->StartTransaction(Names({}), -1);
  TBRNDatabaseContainer* entry = Mine.Database->Database;
  EXPECT_TRUE(Mine.Database->InTransaction());
  EXPECT_TRUE(Holds(entry, ltTransaction));
  EXPECT_EQ(entry->GetTransactionLockCount(), 1);
  for (const char* name : {"T1", "T2"}) {
    TBRNBaseTable* table = Mine.Table(name);
    EXPECT_TRUE(table->IsInTransaction()) << name;
    EXPECT_TRUE(Holds(table, ltTransaction)) << name << ": the entry's lock covers it";
    EXPECT_EQ(table->GetTransactionLockCount(), 1) << name;
  }
  // No other session gets any of the tables.
  for (auto names : {Names({}), Names({"T1"}), Names({"T2"})})
    EXPECT_NE(TransactionOutcome([&] { Theirs.Database->StartTransaction(names, 0); }).first, 0);
  EXPECT_FALSE(Theirs.Database->InTransaction());

  Mine.Database->Commit(false, false);
  EXPECT_FALSE(Mine.Database->InTransaction());
  EXPECT_FALSE(Holds(entry, ltTransaction));
  EXPECT_EQ(entry->GetTransactionLockCount(), 0);
  for (const char* name : {"T1", "T2"}) {
    EXPECT_FALSE(Mine.Table(name)->IsInTransaction()) << name;
    EXPECT_FALSE(Holds(Mine.Table(name), ltTransaction)) << name;
    EXPECT_EQ(Mine.Table(name)->GetTransactionLockCount(), 0) << name;
  }
  EXPECT_EQ(Mine.Database->Catalog->DefaultSchema->TransactionTables->Count(), 0);
  Theirs.Database->StartTransaction(Names({}), 0);
  Theirs.Database->Rollback();
}

TEST_F(TransactionTest, ANameListedTwiceIsLockedOnceAndOtherTablesStayFree) {
  Mine.Database->StartTransaction(Names({"T1", "t1"}), -1);
  TBRNBaseTable* t1 = Mine.Table("T1");
  EXPECT_EQ(Mine.Database->Catalog->DefaultSchema->TransactionTables->Count(), 1);
  EXPECT_EQ(t1->GetTransactionLockCount(), 1);
  EXPECT_FALSE(Holds(Mine.Database->Database, ltTransaction)) << "not every table takes part";
  EXPECT_FALSE(Mine.Table("T2")->IsInTransaction());

  EXPECT_NE(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0);
  EXPECT_EQ(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T2"}), 0); }).first,
            0);
  Theirs.Database->Commit(false, false);

  Mine.Database->Rollback();
  EXPECT_FALSE(Holds(t1, ltTransaction));
  EXPECT_EQ(t1->GetTransactionLockCount(), 0);
  EXPECT_EQ(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0);
  Theirs.Database->Rollback();
}

TEST_F(TransactionTest, TheLocksOfAFailedStartAreReleased) {
  // T1 sorts first: its lock is taken, T2's is refused and T1's given back.
  Theirs.Database->StartTransaction(Names({"T2"}), -1);
  EXPECT_NE(TransactionOutcome([&] {
              Mine.Database->StartTransaction(Names({"T2", "T1"}), 0);
            }).first,
            0);
  EXPECT_FALSE(Mine.Database->InTransaction());
  EXPECT_FALSE(Mine.Table("T1")->IsInTransaction());
  EXPECT_EQ(Mine.Table("T1")->GetTransactionLockCount(), 0);
  EXPECT_EQ(Mine.Database->Catalog->DefaultSchema->TransactionTables->Count(), 0);
  Theirs.Database->Rollback();
  EXPECT_EQ(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0);
  Theirs.Database->Rollback();

  // A missing name locks nothing.
  EXPECT_EQ(TransactionOutcome([&] {
              Mine.Database->StartTransaction(Names({"T1", "Nope"}), 0);
            }).first,
            401);
  EXPECT_EQ(Mine.Table("T1")->GetTransactionLockCount(), 0);
  EXPECT_FALSE(Mine.Database->InTransaction());
}

TEST_F(TransactionTest, CommitWithFlushOnlyWritesAndKeepsTheTransaction) {
  Mine.Database->StartTransaction(Names({"T1"}), -1);
  TBRNTableManager* t1 = Mine.Open("T1");
  InsertRawRow(*t1, 1, false);
  EXPECT_EQ(Theirs.Rows("T1"), 0) << "nothing is written before the commit";

  Mine.Database->Commit(false, true);
  EXPECT_TRUE(Mine.Database->InTransaction());
  EXPECT_TRUE(Holds(Mine.Table("T1"), ltTransaction));
  EXPECT_FALSE(Holds(Mine.Table("T1"), ltWrite));
  EXPECT_EQ(Theirs.Rows("T1"), 1);
  EXPECT_NE(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0);

  // The transaction goes on: a later change is undone by ROLLBACK, and a
  // second COMMIT ends it.
  InsertRawRow(*t1, 2, false);
  Mine.Database->Commit(false, true);
  InsertRawRow(*t1, 3, false);
  Mine.Database->Rollback();
  EXPECT_EQ(t1->GetRowCount(), 2);
  EXPECT_EQ(Theirs.Rows("T1"), 2);

  Mine.Database->StartTransaction(Names({"T1"}), -1);
  InsertRawRow(*t1, 4, false);
  Mine.Database->Commit(true, true);
  Mine.Database->Commit(false, false);
  EXPECT_FALSE(Mine.Database->InTransaction());
  EXPECT_EQ(Theirs.Rows("T1"), 3);
  EXPECT_EQ(TransactionOutcome([&] { Theirs.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0);
  Theirs.Database->Rollback();
}

TEST_F(TransactionTest, ErrorsAreRaisedAndLogged) {
  const std::string active =
      "Transaction error: This operation cannot be performed while the database D has an active "
      "transaction (START TRANSACTION ON D)";
  const std::string none =
      "Transaction error: This operation cannot be performed without an active transaction on "
      "the database D (%s ON D)";
  TBRNLocalDatabaseManager& db = *Mine.Database;
  struct Case {
    std::function<void()> Call;
    int32_t Code;
    std::string Text;  // empty: only the code is checked
    int32_t Operation;
  };
  const std::vector<Case> cases = {
      {[&] { db.Commit(false, false); }, 404, FormatText(none, {"COMMIT"}), 41},
      {[&] { db.Rollback(); }, 404, FormatText(none, {"ROLLBACK"}), 42},
      {[&] {
         db.StartTransaction(Names({}), -1);
         try {
           db.StartTransaction(Names({"T1"}), -1);
         } catch (...) {
           db.Rollback();
           throw;
         }
       },
       404, active, 40},
      {[&] { db.OpenTable("", "Missing", false, false); }, 401, "", 123},
      {[&] { db.PrepareStatement("SELECT * FROM T1"); }, 9999, "", 250},
      {[&] { db.PrepareProcedure("P"); }, 9999, "", 260},
      {[&] { db.PrepareScript("BEGIN END"); }, 9999, "", 360},
  };
  for (const Case& c : cases) {
    auto [code, text] = TransactionOutcome(c.Call);
    EXPECT_EQ(code, c.Code) << text;
    if (!c.Text.empty()) {
      EXPECT_EQ(text, c.Text);
    }
    std::vector<TBRNLogEvent> events;
    auto& log = *Mine.Session->LogManager;
    log.BeginRead();
    TBRNLogEvent event;
    for (bool more = log.ReadFirstEvent(event); more; more = log.ReadNextEvent(event))
      events.push_back(event);
    log.EndRead();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().Function, c.Operation) << text;
    EXPECT_EQ(events.back().ErrorCode, c.Code) << text;
  }
  EXPECT_FALSE(db.InTransaction());
}

// ---------------------------------------------------------------------------
// Cursors through the table object factory

class FakeFactory : public TBRNTableObjectFactory {
 public:
  std::unique_ptr<TBRNCursor> CreateLocalCursor(TBRNVirtualTableManager& manager,
                                                const std::string& name, bool readOnly, bool,
                                                bool indexed) override {
    Made.push_back({&manager, name, readOnly, indexed});
    if (Fail) throw EBRNException(1000, "no cursor");
    TestCursor shape;
    AddStandardColumns(shape);
    if (FailAfterMade) {
      // The made cursor holds the user and gives it back as it ends.
      auto cursor = std::make_unique<ClosingCursor>(shape, manager);
      throw EBRNException(1000, "no cursor after all");
    }
    return std::make_unique<StubCursor>(shape, readOnly);
  }
  // A cursor that holds the manager's user as a real one does: its end
  // closes the manager.
  class ClosingCursor : public StubCursor {
   public:
    ClosingCursor(const TestCursor& shape, TBRNVirtualTableManager& manager)
        : StubCursor(shape), manager_(manager) {}
    ~ClosingCursor() override { manager_.Close(false, true); }

   private:
    TBRNVirtualTableManager& manager_;
  };
  std::unique_ptr<TBRNSchemaObjectManager> CreateQueryResultTableManager(TBRNTableEnvironment&,
                                                                         TBRNBaseTable*) override {
    return nullptr;
  }
  struct Call {
    TBRNVirtualTableManager* Manager;
    std::string Name;
    bool ReadOnly;
    bool Indexed;
  };
  std::vector<Call> Made;
  bool Fail = false;
  bool FailAfterMade = false;
};

TEST_F(TransactionTest, CursorsComeFromTheFactoryAndAFailureClosesTheManager) {
  FakeFactory factory;
  SetTableObjectFactory(&factory);
  struct Unregister {
    ~Unregister() { SetTableObjectFactory(nullptr); }
  } unregister;
  Mine.Open("T1")->Close(false, true);  // the files exist

  TBRNCursor* cursor = Mine.Database->OpenTable("", "T1", false, true);
  ASSERT_EQ(factory.Made.size(), 1u);
  EXPECT_EQ(factory.Made[0].Name, "T1");
  EXPECT_TRUE(factory.Made[0].ReadOnly);
  EXPECT_TRUE(factory.Made[0].Indexed);
  EXPECT_EQ(Mine.Database->Cursors.FindObject(cursor->Handle), cursor);
  auto* manager = static_cast<TBRNTableManager*>(factory.Made[0].Manager);
  EXPECT_EQ(manager->GetUserCount(), 1) << "the cursor's user";
  EXPECT_TRUE(Holds(Mine.Table("T1"), ltShared));

  Mine.Database->OpenTableCursor("", "T2", false);
  ASSERT_EQ(factory.Made.size(), 2u);
  EXPECT_FALSE(factory.Made[1].Indexed);

  factory.Fail = true;
  EXPECT_EQ(TransactionOutcome([&] { Mine.Database->OpenTable("", "T1", false, false); }).first,
            1000);
  EXPECT_EQ(manager->GetUserCount(), 1) << "the failed cursor's user is gone";

  // A cursor that fails after it took over the user gives it back once,
  // through its own end: the opener must not close the manager again.
  factory.Fail = false;
  factory.FailAfterMade = true;
  EXPECT_EQ(TransactionOutcome([&] { Mine.Database->OpenTable("", "T1", false, false); }).first,
            1000);
  EXPECT_EQ(manager->GetUserCount(), 1) << "only the first cursor's user is left";
  manager->Close(false, true);  // the fake cursor's user
}

// ---------------------------------------------------------------------------
// Faults

// A database D on fault-injecting files with T1 and T2 holding one
// committed row each.
struct FaultSide {
  explicit FaultSide(FaultEngine& engine) : Main(engine, "/config/D", true) {
    for (const char* name : {"T1", "T2"}) {
      TBRNTableManager* manager = Main.Open(name);
      InsertRawRow(*manager, 1, false);
      manager->Close(false, true);
    }
  }
  Side Main;
};

TEST(TransactionFaults, AFailedStartReleasesItsLocksAndBit) {
  FaultEngine engine;
  FaultSide side(engine);
  Side other(engine, "/config/D", false);
  TBRNTableManager* t1 = side.Main.Open("T1");
  other.Rows("T1");
  // The open manager's join re-reads its header: that read fails.
  engine.Faults->FailRead(1);
  EXPECT_NE(
      TransactionOutcome([&] { side.Main.Database->StartTransaction(Names({"T1"}), 0); }).first, 0);
  engine.Faults->Disarm();
  EXPECT_EQ(engine.Faults->InjectedCount(), 1);
  EXPECT_FALSE(side.Main.Database->InTransaction());
  EXPECT_FALSE(side.Main.Table("T1")->IsInTransaction());
  EXPECT_EQ(side.Main.Table("T1")->GetTransactionLockCount(), 0);
  EXPECT_EQ(TransactionOutcome([&] { other.Database->StartTransaction(Names({"T1"}), 0); }).first,
            0)
      << "another session starts on the table at once";
  other.Database->Rollback();
  t1->Close(false, true);
}

TEST(TransactionFaults, EachFailedCommitWriteKeepsTheTransactionAndEveryTableWhole) {
  // The n-th write of the commit fails, for every n until a commit passes.
  bool passed = false;
  for (int32_t n = 1; n <= 60 && !passed; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    FaultEngine engine;
    FaultSide side(engine);
    TBRNLocalDatabaseManager& db = *side.Main.Database;
    db.StartTransaction(Names({"T1", "T2"}), -1);
    for (const char* name : {"T1", "T2"}) {
      TBRNTableManager* manager = side.Main.Open(name);
      for (int32_t id = 2; id <= 4; ++id) InsertRawRow(*manager, id, false);
    }
    engine.Faults->FailWrite(n);
    auto [code, text] = TransactionOutcome([&] { db.Commit(false, false); });
    engine.Faults->Disarm();
    passed = engine.Faults->InjectedCount() == 0;
    if (passed) {
      EXPECT_EQ(code, 0) << text;
    } else {
      EXPECT_NE(code, 0) << "the error reaches the caller";
      EXPECT_TRUE(db.InTransaction()) << "ROLLBACK is still possible";
      for (const char* name : {"T1", "T2"}) {
        EXPECT_FALSE(Holds(side.Main.Table(name), ltWrite)) << name;
        EXPECT_TRUE(Holds(side.Main.Table(name), ltTransaction)) << name;
      }
      // A table whose flush was cut short cannot be read back: the
      // rollback reports it (100) and still ends the transaction.
      int32_t rollback = TransactionOutcome([&] { db.Rollback(); }).first;
      EXPECT_TRUE(rollback == 0 || rollback == 100) << rollback;
      EXPECT_FALSE(db.InTransaction());
      EXPECT_FALSE(Holds(side.Main.Table("T1"), ltTransaction));
    }
    db.CloseDatabase(true);

    // Every table has none or all of the transaction's rows, or asks for
    // repair; the committed row is never lost.
    Side reader(engine, "/config/D", false);
    for (const char* name : {"T1", "T2"}) {
      int32_t rows = -1;
      auto [openCode, openText] = TransactionOutcome([&] { rows = reader.Rows(name); });
      if (openCode != 0) {
        EXPECT_EQ(openCode, 100) << name << ": " << openText;
        EXPECT_FALSE(passed);
      } else if (passed) {
        EXPECT_EQ(rows, 4) << name;
      } else {
        EXPECT_TRUE(rows == 1 || rows == 4) << name << ": " << rows;
      }
    }
  }
  EXPECT_TRUE(passed) << "a commit of two tables writes fewer than 60 times";
}

}  // namespace
}  // namespace brn::testing
