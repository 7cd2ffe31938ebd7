// The row writes of the table manager with their constraint checks, their
// undo on failure, and EMPTY TABLE.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/text/string_helpers.h"
#include "storage/rows/row_locks.h"
#include "storage/tables/table_constraint_test_support.h"

namespace brn::testing {
namespace {

// P (ID primary key) and C, which refers to it: ID primary key, PID a
// foreign key to P, Code unique, Amount checked (>= 0, and above 1000 with
// a code and message of its own) and defaulted to 5, Serial an identity,
// Doubled generated from Amount, Label NOT NULL with an ordinary index.
struct Schema {
  explicit Schema(TestTableEnvironment& env) {
    ConstraintBuilder b(env);
    P = b.AddTable("P", {{"ID"}});
    PKey = b.AddKey(P, "PK_P", kConstraintPrimaryKey, {"ID"});
    C = b.AddTable("C", {{"ID"},
                         {"PID"},
                         {"Code"},
                         {"Amount", false, "5"},
                         {"Serial", false, "", "", true},
                         {"Doubled", false, "", "Amount * 2"},
                         {"Label", true}});
    b.AddKey(C, "PK_C", kConstraintPrimaryKey, {"ID"});
    b.AddForeignKey(C, "FK_C_P", {"PID"}, P, PKey);
    b.AddKey(C, "UQ_Code", kConstraintUnique, {"Code"});
    b.AddCheck(C, "CK_Amount", "Amount >= 0");
    b.AddCheck(C, "CK_Limit", "Amount <= 1000", 50001, "Amount above the limit");
    env.AddIndex(C, "ByLabel", {"Label"});
    env.Finish(P);
    env.Finish(C);
  }
  TBRNBaseTable* P;
  TBRNConstraint* PKey;
  TBRNBaseTable* C;
};

// Every session clears its managers itself: the list's destructor cannot
// close a manager whose references were released before it.
struct RowChangeTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  Schema S{A.Environment};

  void TearDown() override { A.Managers.Clear(); }

  TBRNTableManager* OpenP() { return A.Open(S.P); }
  TBRNTableManager* OpenC() { return A.Open(S.C); }
  void InsertP(TBRNTableManager* p, int32_t id) { TestRow(*p).Set("ID", id).Insert(); }
  // A valid child row: Code and Label = ID.
  void InsertC(TBRNTableManager* c, int32_t id, int32_t pid, int32_t amount) {
    TestRow(*c)
        .Set("ID", id)
        .Set("PID", pid)
        .Set("Code", id)
        .Set("Amount", amount)
        .Set("Label", id)
        .Insert();
  }
  // Whether another session could lock row n of table now.
  bool RowLockFree(TBRNBaseTable* table, int32_t n) {
    TestSession other(Database);
    Schema copy(other.Environment);
    TBRNTableManager* manager = other.Open(table == S.P ? copy.P : copy.C);
    other.Environment.Settings.RecordLockRetryCount = 0;
    bool free = manager->LockRow(manager, n, 0);
    if (free) manager->ReleaseRowLock(n);
    other.Managers.Clear();
    return free;
  }
};

TEST_F(RowChangeTest, TenThousandChildRowsSurviveAReopenInKeyOrderWithTheirComputedValues) {
  TBRNTableManager* p = OpenP();
  for (int32_t id = 1; id <= 10; ++id) InsertP(p, id);
  TBRNTableManager* c = OpenC();
  c->StartTransaction();
  // Descending keys: key order is the reverse of the row order.
  for (int32_t n = 1; n <= 10000; ++n) InsertC(c, 20000 - n, n % 10 + 1, n % 500);
  c->CommitTransaction();
  // Amount left NULL: Doubled is generated from it before its DEFAULT fills
  // it in.
  TestRow defaulted(*c);
  defaulted.Set("ID", 1).Set("PID", 1).Set("Code", 1).Set("Label", 1).Insert();
  EXPECT_EQ(defaulted.Get("Amount"), 5);
  EXPECT_TRUE(defaulted.IsNull("Doubled"));
  EXPECT_EQ(defaulted.Get("Serial"), 10001);

  c->ForceClose();
  c = OpenC();
  ASSERT_EQ(c->GetRowCount(), 10001);
  TestRow row(*c);
  const int32_t keyIndex = 0;  // PK_C's index comes first
  int32_t previous = 0;
  int32_t walked = 0;
  for (bool more = c->FirstRowByIndex(row.Values(), keyIndex); more;
       more = c->NextRowByIndex(row.Values(), keyIndex)) {
    ASSERT_GT(row.Get("ID"), previous);
    previous = row.Get("ID");
    if (previous != 1) {
      const int32_t n = 20000 - previous;
      ASSERT_EQ(row.Get("Serial"), n);
      ASSERT_EQ(row.Get("Doubled"), 2 * (n % 500));
      ASSERT_EQ(row.Get("PID"), n % 10 + 1);
    }
    ++walked;
  }
  EXPECT_EQ(walked, 10001);
  TestRow next(*c);
  next.Set("ID", 2).Set("PID", 1).Set("Code", 2).Set("Label", 1).Insert();
  EXPECT_EQ(next.Get("Serial"), 10002) << "the identity goes on after a reopen";
}

TEST_F(RowChangeTest, ViolationsRaiseTheirCodesAndTexts) {
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  TBRNTableManager* c = OpenC();
  InsertC(c, 1, 1, 10);
  const std::string violated = " for the table C has been violated (";
  struct Case {
    std::string What;
    std::function<void(TestRow&)> Change;
    int32_t Code;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"NOT NULL", [](TestRow& r) { r.SetNull("Label"); }, 1004,
       "The column Label in the table C cannot be NULL"},
      {"NULL primary key", [](TestRow& r) { r.SetNull("ID"); }, 1004,
       "The primary key constraint PK_C" + violated +
           "NULL values are not allowed in a primary key)"},
      {"duplicate primary key", [](TestRow& r) { r.Set("ID", 1); }, 1004,
       "The primary key constraint PK_C" + violated + "Duplicate key 1 found)"},
      {"duplicate unique key", [](TestRow& r) { r.Set("Code", 1); }, 1004,
       "The unique constraint UQ_Code" + violated + "Duplicate key 1 found)"},
      {"unmatched foreign key", [](TestRow& r) { r.Set("PID", 999); }, 1004,
       "The foreign key constraint FK_C_P" + violated +
           "The foreign key 999 does not match any existing primary or unique key in the table "
           "P)"},
      {"check", [](TestRow& r) { r.Set("Amount", -1); }, 1004,
       "The check constraint CK_Amount" + violated + "Check expression evaluated to False)"},
      {"own code and message", [](TestRow& r) { r.Set("Amount", 1001); }, 50001,
       "Amount above the limit"},
  };
  for (const Case& c_ : cases) {
    TestRow row(*c);
    row.Set("ID", 2).Set("PID", 1).Set("Code", 2).Set("Amount", 3).Set("Label", 1);
    c_.Change(row);
    EBRNException error = CaughtError([&] { row.Insert(); });
    EXPECT_EQ(error.ErrorCode, c_.Code) << c_.What;
    EXPECT_EQ(error.ErrorMessage, c_.Message) << c_.What;
    EXPECT_EQ(c->GetRowCount(), 1) << c_.What;
  }
  // A column's own code and message replace the standard NOT NULL error.
  TBRNColumn* label = S.C->Columns->GetItem(7);
  label->SetNotNullErrorCode(50002);
  label->SetNotNullErrorMessage("A label is required");
  TestRow unlabelled(*c);
  unlabelled.Set("ID", 3).Set("PID", 1).Set("Code", 3);
  EBRNException error = CaughtError([&] { unlabelled.Insert(); });
  EXPECT_EQ(error.ErrorCode, 50002);
  EXPECT_EQ(error.ErrorMessage, "A label is required");
  EXPECT_TRUE(RowLockFree(S.P, 1)) << "the referenced key's lock is released after failures";
}

TEST_F(RowChangeTest, NullsInKeys) {
  TestSession& s = A;
  ConstraintBuilder b(s.Environment);
  TBRNBaseTable* pair = b.AddTable("Pair", {{"ID"}, {"A"}, {"B"}, {"Ref"}});
  TBRNConstraint* key = b.AddKey(pair, "PK_Pair", kConstraintPrimaryKey, {"ID"});
  b.AddKey(pair, "UQ_AB", kConstraintUnique, {"A", "B"});
  b.AddForeignKey(pair, "FK_Ref", {"Ref"}, pair, key);
  s.Environment.Finish(pair);
  TBRNTableManager* m = s.Open(pair);
  auto insert = [&](int32_t id, std::vector<int32_t> ab) {
    TestRow row(*m);
    row.Set("ID", id);
    if (ab[0] >= 0) row.Set("A", ab[0]);
    if (ab[1] >= 0) row.Set("B", ab[1]);
    row.Insert();
  };
  insert(1, {-1, -1});
  insert(2, {-1, -1});  // every value NULL: never a duplicate
  insert(3, {7, -1});
  EBRNException error = CaughtError([&] { insert(4, {7, -1}); });
  EXPECT_EQ(error.ErrorMessage,
            "The unique constraint UQ_AB for the table Pair has been violated (Duplicate key 7, "
            "found)")
      << "a partly NULL key is compared";
  // A foreign key with a NULL column is not checked; one that matches no
  // row is.
  EXPECT_EQ(m->GetRowCount(), 3);
  TestRow dangling(*m);
  dangling.Set("ID", 5).Set("Ref", 99);
  EXPECT_EQ(CaughtError([&] { dangling.Insert(); }).ErrorCode, 1004);
}

TEST_F(RowChangeTest, ReferencedRowsCannotBeDeletedOrRekeyed) {
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  InsertP(p, 2);
  TBRNTableManager* c = OpenC();
  InsertC(c, 10, 1, 0);

  TestRow parent(*p);
  ASSERT_TRUE(parent.Read(1));
  EBRNException error = CaughtError([&] { parent.Delete(); });
  EXPECT_EQ(error.ErrorCode, 1004);
  EXPECT_EQ(error.ErrorMessage,
            "The foreign key constraint FK_C_P for the table C has been violated (Foreign keys "
            "exist which refer to the primary or unique key 1 in the table P)");
  EXPECT_EQ(p->GetRowCount(), 2);
  ASSERT_TRUE(parent.Read(1));
  parent.Set("ID", 100);
  EXPECT_EQ(CaughtError([&] { parent.Update(); }).ErrorCode, 1004) << "a referenced key moves";
  TestRow free(*p);
  ASSERT_TRUE(free.Read(2));
  free.Delete();
  EXPECT_EQ(p->GetRowCount(), 1);

  // The referring table closed: the delete cannot be checked.
  c->ForceClose();
  p->ForceClose();
  A.Manager(S.P)->SuppressReferences = true;
  p = OpenP();
  ASSERT_FALSE(A.Manager(S.C)->GetOpen());
  TestRow again(*p);
  ASSERT_TRUE(again.Read(1));
  error = CaughtError([&] { again.Delete(); });
  EXPECT_EQ(error.ErrorCode, 402);
  EXPECT_EQ(error.ErrorMessage,
            "The table C must be open in order to perform this operation (CHECK CONSTRAINT)");
}

TEST_F(RowChangeTest, ASelfReferencingRowCannotGiveUpTheKeyItHolds) {
  ConstraintBuilder b(A.Environment);
  TBRNBaseTable* staff = b.AddTable("Staff", {{"ID"}, {"Boss"}});
  TBRNConstraint* key = b.AddKey(staff, "PK_Staff", kConstraintPrimaryKey, {"ID"});
  b.AddForeignKey(staff, "FK_Boss", {"Boss"}, staff, key);
  A.Environment.Finish(staff);
  TBRNTableManager* m = A.Open(staff);
  TestRow(*m).Set("ID", 1).Insert();
  TestRow(*m).Set("ID", 2).Set("Boss", 1).Insert();
  TestRow(*m).Set("ID", 3).Set("Boss", 3).Insert();  // its own boss

  const std::string message =
      "The foreign key constraint FK_Boss for the table Staff has been violated (Foreign keys "
      "exist which refer to the primary or unique key %s in the table Staff)";
  struct Case {
    int32_t Row;
    int32_t NewID;
    std::string Key;
  };
  for (const Case& c_ : std::vector<Case>{{3, 30, "3"}, {1, 10, "1"}}) {
    TestRow row(*m);
    ASSERT_TRUE(row.Read(c_.Row));
    row.Set("ID", c_.NewID);
    EBRNException error = CaughtError([&] { row.Update(); });
    EXPECT_EQ(error.ErrorMessage, FormatText(message, {c_.Key})) << c_.Row;
  }
  // Moving the key and the reference together is allowed; so is deleting a
  // row that only refers to itself.
  TestRow self(*m);
  ASSERT_TRUE(self.Read(3));
  self.Set("ID", 30).Set("Boss", 30);
  self.Update();
  ASSERT_TRUE(self.Read(3));
  self.Delete();
  EXPECT_EQ(m->GetRowCount(), 2);
}

TEST_F(RowChangeTest, DeleteTakesTheRowLockUnderThePessimisticProtocol) {
  ASSERT_EQ(A.Environment.Settings.RecordLockProtocol, kBRNRecordLockPessimistic);
  A.Environment.Settings.RecordLockRetryCount = 0;
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  TestSession other(Database);
  Schema copy(other.Environment);
  TBRNTableManager* q = other.Open(copy.P);
  ASSERT_TRUE(q->LockRow(q, 1, 0));

  TestRow row(*p);
  ASSERT_TRUE(row.Read(1));
  auto remove = [&] {
    p->DeleteRowWithTriggers(p, row.Values(), row.RowNumber, row.RowVersion, row.UpdateCounter);
  };
  EBRNException error = CaughtError(remove);
  EXPECT_EQ(error.ErrorCode, 1005);
  EXPECT_EQ(error.ErrorMessage, "Cannot lock the row in the table P");
  EXPECT_EQ(p->GetRowCount(), 1);
  q->ReleaseRowLock(1);
  remove();
  EXPECT_EQ(p->GetRowCount(), 0);
  EXPECT_TRUE(q->LockRow(q, 1, 0)) << "the delete's lock is released";
  other.Managers.Clear();
}

// An update posted without reading the row for editing first must not
// overwrite a row that another session has locked.
TEST_F(RowChangeTest, UpdateTakesTheRowLockUnderThePessimisticProtocol) {
  ASSERT_EQ(A.Environment.Settings.RecordLockProtocol, kBRNRecordLockPessimistic);
  A.Environment.Settings.RecordLockRetryCount = 0;
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  TestSession other(Database);
  Schema copy(other.Environment);
  TBRNTableManager* q = other.Open(copy.P);
  ASSERT_TRUE(q->LockRow(q, 1, 0));

  TestRow row(*p);
  ASSERT_TRUE(row.Read(1));
  row.Set("ID", 2);
  auto post = [&] {
    p->UpdateRowWithTriggers(p, row.Values(), row.RowNumber, row.RowVersion, row.UpdateCounter);
  };
  EBRNException error = CaughtError(post);
  EXPECT_EQ(error.ErrorCode, 1005);
  q->ReleaseRowLock(1);
  post();
  EXPECT_TRUE(q->LockRow(q, 1, 0)) << "the update's lock is released";
  other.Managers.Clear();
}

TEST_F(RowChangeTest, ARolledBackTransactionLeavesTheFilesByteIdentical) {
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  TBRNTableManager* c = OpenC();
  InsertC(c, 1, 1, 1);
  auto files = [&] {
    std::vector<std::vector<uint8_t>> bytes;
    for (const char* name : {"C.BRNTbl", "C.BRNIdx", "P.BRNTbl", "P.BRNIdx"}) {
      bytes.push_back(RawFile(Database.Files, Database.PathOf(name)));
    }
    return bytes;
  };
  const auto before = files();
  c->StartTransaction();
  for (int32_t id = 2; id <= 1001; ++id) InsertC(c, id, 1, id % 100);
  EXPECT_EQ(c->GetRowCount(), 1001);
  c->RollbackTransaction();
  EXPECT_EQ(files(), before);
  EXPECT_EQ(c->GetRowCount(), 1);
  EXPECT_TRUE(RowLockFree(S.P, 1));
}

// A read fault in the third of five inserts (the third page read from the
// cold index file: the ByLabel leaf, after the row and its first keys are
// written, when each page is one read): the transaction goes on without
// that row and commits the other four.
TEST_F(RowChangeTest, AFailedInsertInATransactionUndoesOnlyItself) {
  TBRNFaultFileManager faults(&Database.Environment);
  A.Environment.TableFiles = &faults;
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  TBRNTableManager* c = OpenC();
  c->StartTransaction();
  for (int32_t id = 1; id <= 3000; ++id) InsertC(c, id * 10, 1, 0);
  c->CommitTransaction();
  c->ForceClose();
  c = OpenC();  // cold caches: the inserts below read the pages they change

  c->StartTransaction();
  const std::vector<int32_t> ids = {5, 10005, 20005, 29995, 15005};
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i == 2) {
      TBRNFileFault fault;
      fault.Action = TBRNFaultAction::FailRead;
      fault.Nth = 3;
      fault.FileName = Database.PathOf("C.BRNIdx");
      faults.Arm(fault);
      EXPECT_THROW(InsertC(c, ids[i], 1, 0), EBRNException);
      EXPECT_EQ(faults.InjectedCount(), 1);
      faults.Disarm();
      continue;
    }
    InsertC(c, ids[i], 1, 0);
  }
  c->CommitTransaction();
  c->ForceClose();
  c = OpenC();
  EXPECT_EQ(c->GetRowCount(), 3004);
  TestRow probe(*c);
  for (int32_t id : ids) {
    probe.Set("ID", id);
    EXPECT_EQ(c->FindRowByKey(probe.Values(), probe.Values(), 0, false), id != 20005) << id;
  }
  for (TBRNTableFileManager* file : c->GetFiles()) {
    bool errors = false;
    EXPECT_TRUE(file->Verify(errors, false));
    EXPECT_FALSE(errors) << file->GetFileName();
  }
}

// Outside a transaction every change is flushed at once. A write failing
// anywhere in that flush fails the change; the table then opens with
// exactly its previous rows or is refused as needing repair, and no lock
// stays behind.
TEST_F(RowChangeTest, AFailedWriteOfAChangeLeavesThePreviousTableOrARepairMark) {
  auto attempt = [&](int32_t nth, int32_t& writes) {
    TestDatabaseFiles database;
    TBRNFaultFileManager faults(&database.Environment);
    TestSession session(database);
    session.Environment.TableFiles = &faults;
    Schema schema(session.Environment);
    TBRNTableManager* p = session.Open(schema.P);
    TestRow(*p).Set("ID", 1).Insert();
    TBRNTableManager* c = session.Open(schema.C);
    TestRow(*c).Set("ID", 1).Set("PID", 1).Set("Code", 1).Set("Label", 1).Insert();
    const int32_t before = faults.WriteCount();
    TestRow row(*c);
    row.Set("ID", 2).Set("PID", 1).Set("Code", 2).Set("Label", 1);
    if (nth == 0) {
      row.Insert();
      writes = faults.WriteCount() - before;
      session.Managers.Clear();
      return;
    }
    faults.FailWrite(nth);
    EXPECT_THROW(row.Insert(), EBRNException) << nth;
    faults.Disarm();
    EXPECT_EQ(p->GetReferencedKeyLocks()->Count(), 0) << nth;
    EXPECT_EQ(p->GetRowLocks()->Count(), 0) << nth;
    EXPECT_EQ(schema.C->TransactionLockCount, 0) << nth;
    session.Managers.Clear();

    TestSession fresh(database);
    fresh.Environment.TableFiles = &faults;
    Schema again(fresh.Environment);
    TBRNTableManager* reopened = nullptr;
    try {
      reopened = fresh.Open(again.C);
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 100) << nth;
      fresh.Managers.Clear();
      return;
    }
    EXPECT_EQ(reopened->GetRowCount(), 1) << nth;
    TestRow(*reopened).Set("ID", 3).Set("PID", 1).Set("Code", 3).Set("Label", 1).Insert();
    EXPECT_EQ(reopened->GetRowCount(), 2) << nth;
    fresh.Managers.Clear();
  };
  int32_t writes = 0;
  attempt(0, writes);
  ASSERT_GT(writes, 0);
  for (int32_t nth = 1; nth <= writes; ++nth) attempt(nth, writes);
}

TEST_F(RowChangeTest, EmptyTableRefusesWhileOtherRowsReferToIt) {
  TBRNTableManager* p = OpenP();
  InsertP(p, 1);
  InsertP(p, 2);
  TBRNTableManager* c = OpenC();
  InsertC(c, 10, 2, 0);

  EBRNException error = CaughtError([&] { p->EmptyTable(false); });
  EXPECT_EQ(error.ErrorMessage,
            "The foreign key constraint FK_C_P for the table C has been violated (Foreign keys "
            "exist which refer to the primary or unique key 2 in the table P)");
  EXPECT_EQ(p->GetRowCount(), 2);
  ASSERT_FALSE(A.Environment.Messages.empty());
  EXPECT_EQ(
      A.Environment.Messages.back(),
      "The empty could not complete due to an error with the row 2 (" + error.ErrorMessage + ")");

  EXPECT_TRUE(c->EmptyTable(false)) << "nothing refers to C";
  EXPECT_TRUE(p->EmptyTable(false));
  EXPECT_EQ(p->GetRowCount(), 0);
  // Skipping the scan skips the referring rows too.
  InsertP(p, 3);
  InsertC(c, 11, 3, 0);
  EXPECT_TRUE(p->EmptyTable(true));
  EXPECT_EQ(p->GetRowCount(), 0);
}

}  // namespace
}  // namespace brn::testing
