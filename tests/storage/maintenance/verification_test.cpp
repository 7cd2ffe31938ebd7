// VERIFY and REPAIR TABLE in the table manager: the findings of the row
// walk (index keys, constraints, BLOB references) with their messages and
// mends, STRUCTURE ONLY, a cancel, files left byte-identical by VERIFY,
// failed writes during a repair, and the repair of a table whose flush a
// kill cut short.
#include <signal.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "storage/rows/blob_file.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_constraint_test_support.h"

namespace brn::testing {
namespace {

constexpr int32_t kID = 1;
constexpr int32_t kName = 2;
constexpr int32_t kQty = 3;
constexpr int32_t kNotes = 4;
constexpr int32_t kCode = 5;
constexpr int32_t kGrade = 6;
constexpr int32_t kByName = 1;
constexpr int32_t kUniqueCode = 2;
constexpr int32_t kWords = 3;
constexpr int32_t kIndexCount = 4;

// Items: the row ID, ID INTEGER (primary key "PK"), Name CHAR(20) indexed
// by "ByName", Qty INTEGER NOT NULL, Notes CLOB, Code INTEGER (unique key
// "UQ_Code"), Grade INTEGER NOT NULL with an error of its own; the text
// index "Words" on Name.
TBRNBaseTable* AddItems(TestTableEnvironment& env) {
  TBRNBaseTable* table = env.AddTable("Items", {});
  table->AddRowIDColumn();
  for (const TestColumn& wanted : std::vector<TestColumn>{{"ID", dtInteger},
                                                          {"Name", dtChar, 20},
                                                          {"Qty"},
                                                          {"Notes", dtLob, 0, stClob},
                                                          {"Code"},
                                                          {"Grade"}}) {
    auto column = std::make_unique<TBRNColumn>(env.Catalog.get());
    column->Name = wanted.Name;
    column->SetDataType(wanted.Type);
    if (wanted.SubType != stDefault) column->SetSubType(wanted.SubType);
    if (wanted.Length != 0) column->SetLength(wanted.Length);
    table->Columns->AddObject(column.get());
    column.release();
  }
  table->Columns->GetItem(kQty)->SetNotNull(true);
  TBRNColumn* grade = table->Columns->GetItem(kGrade);
  grade->SetNotNull(true);
  grade->SetNotNullErrorCode(50001);
  grade->SetNotNullErrorMessage("Grade missing");
  env.AddPrimaryKey(table, "PK", {"ID"});
  env.AddIndex(table, "ByName", {"Name"});
  ConstraintBuilder(env).AddKey(table, "UQ_Code", kConstraintUnique, {"Code"});
  env.AddIndex(table, "Words", {"Name"}, kIndexText);
  env.Finish(table);
  return table;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A row of a manager with a buffer of its own.
struct Row {
  explicit Row(TBRNTableManager& manager)
      : Buffer(manager.NewRowBuffer()), Values(manager.GetColumns(), &manager) {
    Values.SetRow(Buffer.get());
    Values.SetAllNull();
  }
  std::unique_ptr<TBRNRowsetRow> Buffer;
  TBRNRowsetRowValues Values;
};

// What one VERIFY or REPAIR answered and logged between its opening and
// closing lines.
struct Outcome {
  bool Completed = false;
  bool ErrorsFound = false;
  std::vector<std::string> Findings;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct VerificationTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  TBRNBaseTable* Items = AddItems(A.Environment);

  void SetUp() override {
    A.Manager(Items)->SetCreatingFiles(true);
    TBRNTableManager& manager = *A.Open(Items);
    A.Manager(Items)->SetCreatingFiles(false);
    for (int32_t id : {10, 20, 30}) Insert(manager, id, "row" + std::to_string(id));
    manager.Close(true, true);
  }
  void TearDown() override { A.Managers.Clear(); }

  TBRNTableManager& Open(uint8_t lockType = kBRNLockTypeShared) {
    return *static_cast<TBRNTableManager*>(A.Managers.OpenManager(Items, lockType));
  }
  static int32_t Insert(TBRNTableManager& manager, int32_t id, const std::string& notes) {
    Row row(manager);
    row.Values.GetItem(kID)->SetAsInteger(id);
    row.Values.GetItem(kName)->SetAsString("name" + std::to_string(id));
    row.Values.GetItem(kQty)->SetAsInteger(1);
    row.Values.GetItem(kCode)->SetAsInteger(id);
    row.Values.GetItem(kGrade)->SetAsInteger(1);
    if (!notes.empty()) row.Values.GetItem(kNotes)->SetAsString(notes);
    int32_t n = 0, version = 0, counter = 0;
    manager.InsertRow(row.Values, n, version, counter, false);
    return n;
  }
  // Rewrites stored row n after change, straight through the row file: no
  // constraint, key or BLOB upkeep, as damage would leave it.
  void Patch(int32_t n, const std::function<void(TBRNRowsetRowValues&)>& change) {
    TBRNTableManager& manager = Open();
    Row row(manager);
    ASSERT_TRUE(manager.ReadRowByNumber(n, row.Values));
    change(row.Values);
    int32_t counter = 0;
    manager.GetRowNavigator()->UpdateRow(row.Values, n, counter);
    manager.FlushFiles(true);
    manager.Close(true, true);
  }
  void DropKey(int32_t n, int32_t index) {
    TBRNTableManager& manager = Open();
    Row row(manager);
    ASSERT_TRUE(manager.ReadRowByNumber(n, row.Values));
    if (manager.GetIndexLayout(index)->IsTextIndex()) {
      manager.DeleteTextKeys(row.Values, n, index);
    } else {
      manager.DeleteKey(row.Values, n, index);
    }
    manager.FlushFiles(true);
    manager.Close(true, true);
  }
  int32_t BlobBlockOf(int32_t n) {
    TBRNTableManager& manager = Open();
    Row row(manager);
    EXPECT_TRUE(manager.ReadRowByNumber(n, row.Values));
    int32_t block = row.Values.GetRowValue(kNotes)->GetBlobBlock();
    manager.Close(true, true);
    return block;
  }
  // The Notes of row n as a reader sees them; "<NULL>" for NULL.
  std::string NotesOf(int32_t n) {
    TBRNTableManager& manager = Open();
    Row row(manager);
    EXPECT_TRUE(manager.ReadRowByNumber(n, row.Values));
    TBRNValue* notes = row.Values.GetItem(kNotes);
    std::string text = notes->GetNull() ? "<NULL>" : notes->GetAsString();
    manager.Close(true, true);
    return text;
  }
  std::string FileBytes() {
    std::string bytes;
    for (const char* extension : {".BRNTbl", ".BRNIdx", ".BRNBlb"}) {
      bytes += ReadBytes(Database.PathOf(std::string("Items") + extension)) + "|";
    }
    return bytes;
  }

  // VERIFY (Shared) or REPAIR (Exclusive, write check off) on a fresh open,
  // checking the opening and closing lines.
  Outcome Run(bool repair, bool structureOnly = false) {
    std::vector<std::string>& messages = A.Environment.Messages;
    messages.clear();
    if (repair) Items->SetSkipWriteCheck();
    Outcome outcome;
    {
      TBRNTableManager& manager = Open(repair ? kBRNLockTypeExclusive : kBRNLockTypeShared);
      outcome.Completed = manager.VerifyTable(outcome.ErrorsFound, repair, structureOnly);
      manager.Close(true, true);
    }
    Items->ClearSkipWriteCheck();
    EXPECT_GE(messages.size(), 2u);
    if (messages.size() >= 2) {
      EXPECT_EQ(messages.front().rfind("Verification of the table Items started at ", 0), 0u)
          << messages.front();
      EXPECT_EQ(messages.back().rfind("Verification of the table Items ended at ", 0), 0u)
          << messages.back();
      outcome.Findings.assign(messages.begin() + 1, messages.end() - 1);
    }
    return outcome;
  }
  void ExpectClean() {
    Outcome after = Run(false);
    EXPECT_TRUE(after.Completed);
    EXPECT_FALSE(after.ErrorsFound);
    EXPECT_TRUE(after.Findings.empty()) << Joined(after.Findings);
  }
};

TEST_F(VerificationTest, ASoundTableIsCleanAndVerifyLeavesEveryFileAsItWas) {
  const std::string before = FileBytes();
  ExpectClean();
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(VerificationTest, AKeyRemovedByHandIsReportedByVerifyAndRebuiltByRepair) {
  for (auto [index, name] : {std::pair{kByName, "ByName"}, std::pair{kWords, "Words"}}) {
    SCOPED_TRACE(name);
    DropKey(2, index);
    const std::string damaged = FileBytes();
    const std::string finding = std::string("Verification error for the index ") + name +
                                " in the Items table (Missing key for the row 20) - ";

    Outcome verify = Run(false);
    EXPECT_TRUE(verify.Completed);
    EXPECT_TRUE(verify.ErrorsFound);
    EXPECT_EQ(verify.Findings, std::vector<std::string>{finding + "Not Fixed"});
    EXPECT_EQ(FileBytes(), damaged) << "VERIFY changed a file";

    Outcome repair = Run(true);
    EXPECT_TRUE(repair.Completed);
    EXPECT_TRUE(repair.ErrorsFound);
    EXPECT_EQ(repair.Findings, std::vector<std::string>{finding + "Fixed"});
    ExpectClean();
    TBRNTableManager& manager = Open();
    Row row(manager);
    ASSERT_TRUE(manager.ReadRowByNumber(2, row.Values));
    EXPECT_TRUE(index == kWords ? manager.HasRowTextKeys(row.Values, 2, index)
                                : manager.HasRowKey(row.Values, 2, index));
    EXPECT_EQ(manager.GetIndexManager()->GetHeaders()[size_t(index)].KeyCount, 3);
    manager.Close(true, true);
  }
}

// A stored row that breaks a constraint: VERIFY reports it and leaves it,
// REPAIR deletes it alone and builds every index again.
TEST_F(VerificationTest, AConstraintViolationIsReportedThenTheRowDeletedAndEveryIndexRebuilt) {
  struct Case {
    const char* Name;
    std::function<void(VerificationTest&)> Damage;
    int32_t DeletedRow;
    // Without the fixed text: REPAIR's finding, and VERIFY's findings when
    // they differ from it.
    std::string Finding;
    std::vector<std::string> VerifyFindings = {};
  };
  const std::vector<Case> cases{
      {"a NULL in a NOT NULL column",
       [](VerificationTest& t) {
         t.Patch(2, [](TBRNRowsetRowValues& values) { values.GetItem(kQty)->SetNull(true); });
       },
       2,
       "Verification error for the Items table (Row 20 deleted (The column Qty in the table "
       "Items cannot be NULL)) - "},
      {"a NOT NULL column whose error has a code of its own",
       [](VerificationTest& t) {
         t.Patch(2, [](TBRNRowsetRowValues& values) { values.GetItem(kGrade)->SetNull(true); });
       },
       2, "Verification error for the Items table (Row 20 deleted (Grade missing)) - "},
      // Row 2 takes row 1's code, key included: the first of the two is
      // deleted, and its keys leave the trees, so that the second is no
      // duplicate any more and stays.
      {"a unique key held by two rows",
       [](VerificationTest& t) {
         TBRNTableManager& manager = t.Open();
         Row row(manager);
         ASSERT_TRUE(manager.ReadRowByNumber(2, row.Values));
         manager.DeleteKey(row.Values, 2, kUniqueCode);
         row.Values.GetItem(kCode)->SetAsInteger(10);
         int32_t counter = 0;
         manager.GetRowNavigator()->UpdateRow(row.Values, 2, counter);
         manager.InsertKey(row.Values, 2, kUniqueCode);
         manager.FlushFiles(true);
         manager.Close(true, true);
       },
       1,
       "Verification error for the Items table (Row 10 deleted (The unique constraint UQ_Code "
       "for the table Items has been violated (Duplicate key 10 found))) - ",
       // Left in place, each row is the other's duplicate.
       {"Verification error for the Items table (Row 10 deleted (The unique constraint UQ_Code "
        "for the table Items has been violated (Duplicate key 10 found))) - ",
        "Verification error for the Items table (Row 20 deleted (The unique constraint UQ_Code "
        "for the table Items has been violated (Duplicate key 10 found))) - "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    {
      TBRNTableManager& manager = Open();
      ASSERT_TRUE(manager.EmptyTable(true));
      for (int32_t id : {10, 20, 30}) Insert(manager, id, "");
      manager.Close(true, true);
    }
    c.Damage(*this);

    Outcome verify = Run(false);
    EXPECT_TRUE(verify.ErrorsFound);
    std::vector<std::string> expected =
        c.VerifyFindings.empty() ? std::vector<std::string>{c.Finding} : c.VerifyFindings;
    for (std::string& line : expected) line += "Not Fixed";
    EXPECT_EQ(verify.Findings, expected);
    {
      TBRNTableManager& manager = Open();
      EXPECT_EQ(manager.GetRowCount(), 3) << "VERIFY deleted the row";
      manager.Close(true, true);
    }

    Outcome repair = Run(true);
    EXPECT_TRUE(repair.Completed);
    EXPECT_EQ(repair.Findings, std::vector<std::string>{c.Finding + "Fixed"});
    ExpectClean();
    TBRNTableManager& manager = Open();
    EXPECT_EQ(manager.GetRowCount(), 2);
    TBRNRowsetRow* deleted = manager.GetRowsetManager()->GetRow(c.DeletedRow, false, 0, 0);
    EXPECT_EQ(deleted->Status, kRowDeleted);
    manager.GetRowsetManager()->ReleaseRow(deleted);
    // Every tree was built again from the two rows left.
    for (int32_t index = 0; index < kIndexCount; ++index) {
      EXPECT_EQ(manager.GetIndexManager()->GetHeaders()[size_t(index)].KeyCount, 2) << index;
    }
    manager.Close(true, true);
  }
}

// The BLOB references of a row, each damage with its finding and what a
// repair leaves.
TEST_F(VerificationTest, BlobReferencesAreCheckedAgainstTheBlobFile) {
  struct Case {
    const char* Name;
    // Damages the table (rows 1 and 2 hold notes "first" and "second" at
    // blocks First and Second) and answers the expected finding.
    std::function<std::string(VerificationTest&, int32_t first, int32_t second)> Damage;
    const char* NotesAfterRepair;  // row 2's
  };
  const std::vector<Case> cases{
      {"the second row shares the first row's first block",
       [](VerificationTest& t, int32_t first, int32_t) {
         t.Patch(2, [&](TBRNRowsetRowValues& values) {
           values.GetRowValue(kNotes)->SetBlobBlock(first);
         });
         return "Verification error for the column Notes in the Items table (Invalid BLOB block "
                "number in the row 20 (" +
                std::to_string(first) + ")) - ";
       },
       "<NULL>"},
      {"a block number beyond the file",
       [](VerificationTest& t, int32_t, int32_t) {
         t.Patch(2, [](TBRNRowsetRowValues& values) {
           values.GetRowValue(kNotes)->SetBlobBlock(9999);
         });
         return std::string(
             "Verification error for the column Notes in the Items table (Invalid "
             "BLOB block number in the row 20 (9999)) - ");
       },
       "<NULL>"},
      {"a length other than the chain's",
       [](VerificationTest& t, int32_t, int32_t) {
         t.Patch(2,
                 [](TBRNRowsetRowValues& values) { values.GetRowValue(kNotes)->SetBlobLength(3); });
         return std::string(
             "Verification error for the column Notes in the Items table (Invalid "
             "BLOB size in the row 20 (6)) - ");
       },
       "second"},
      {"an owner other than the row's version",
       [](VerificationTest& t, int32_t, int32_t second) {
         TBRNTableManager& manager = t.Open();
         TBRNBlobBlock* block = manager.GetBlobManager()->GetBlock(second, false, 1);
         block->Owner += 7;
         const int32_t owner = block->Owner;
         block->MarkModified();
         manager.GetBlobManager()->ReleaseBlock(block);
         manager.FlushFiles(true);
         manager.Close(true, true);
         return "Verification error for the column Notes in the Items table (Invalid BLOB row "
                "version in the row 20 (" +
                std::to_string(owner) + ")) - ";
       },
       "second"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    // Each case on the fixture's table, emptied and refilled.
    {
      TBRNTableManager& manager = Open();
      ASSERT_TRUE(manager.EmptyTable(true));
      Insert(manager, 10, "first");
      Insert(manager, 20, "second");
      manager.Close(true, true);
    }
    ExpectClean();
    const int32_t first = BlobBlockOf(1);
    const int32_t second = BlobBlockOf(2);
    ASSERT_NE(first, second);
    const std::string finding = c.Damage(*this, first, second);

    Outcome verify = Run(false);
    EXPECT_TRUE(verify.ErrorsFound);
    EXPECT_EQ(verify.Findings, std::vector<std::string>{finding + "Not Fixed"});

    Outcome repair = Run(true);
    EXPECT_TRUE(repair.Completed);
    EXPECT_EQ(repair.Findings, std::vector<std::string>{finding + "Fixed"});
    ExpectClean();
    EXPECT_EQ(NotesOf(1), "first");
    EXPECT_EQ(NotesOf(2), c.NotesAfterRepair);
  }
}

TEST_F(VerificationTest, StructureOnlyLeavesTheRowsUnread) {
  DropKey(1, kByName);
  Patch(2, [](TBRNRowsetRowValues& values) { values.GetItem(kQty)->SetNull(true); });
  Outcome structure = Run(false, true);
  EXPECT_TRUE(structure.Completed);
  EXPECT_FALSE(structure.ErrorsFound);
  EXPECT_TRUE(structure.Findings.empty()) << Joined(structure.Findings);
  Outcome repair = Run(true, true);
  EXPECT_FALSE(repair.ErrorsFound);
  // The row walk finds both.
  EXPECT_EQ(Run(false).Findings.size(), 2u);
}

TEST_F(VerificationTest, ACancelStopsTheWalkAndStillLogsTheEnd) {
  DropKey(3, kByName);
  A.Environment.CancelAfter = 0;
  Outcome cancelled = Run(true);
  EXPECT_FALSE(cancelled.Completed);
  A.Environment.CancelAfter = -1;
  EXPECT_TRUE(Run(false).ErrorsFound) << "the cancelled repair rebuilt the index";
}

// VERIFY or REPAIR of table on a fresh open of session's manager; answers
// whether errors were found. The manager is closed also when it fails.
bool VerifyOnce(TestSession& session, TBRNBaseTable* table, bool repair) {
  if (repair) table->SetSkipWriteCheck();
  struct ClearBit {
    TBRNBaseTable* Table;
    ~ClearBit() { Table->ClearSkipWriteCheck(); }
  } clearBit{table};
  auto& manager = *static_cast<TBRNTableManager*>(
      session.Managers.OpenManager(table, repair ? kBRNLockTypeExclusive : kBRNLockTypeShared));
  bool errorsFound = false;
  try {
    manager.VerifyTable(errorsFound, repair, false);
  } catch (...) {
    try {
      manager.Close(true, true);
    } catch (...) {
    }
    throw;
  }
  manager.Close(true, true);
  return errorsFound;
}

TEST(VerificationFaults, AFailedWriteOfARepairIsRaisedOrRedoneAndTheTableEndsSound) {
  int32_t failures = 0;
  int32_t nth = 1;
  for (;; ++nth) {
    SCOPED_TRACE("write " + std::to_string(nth));
    ASSERT_LT(nth, 400) << "the repair never ran without a fault";
    TestDatabaseFiles database;
    TBRNFaultFileManager faults(&database.Environment);
    TestSession session(database);
    session.Environment.TableFiles = &faults;
    TBRNBaseTable* table = AddItems(session.Environment);
    {
      // Row 2 misses its ByName key, row 3 breaks NOT NULL.
      session.Manager(table)->SetCreatingFiles(true);
      TBRNTableManager& manager = *session.Open(table);
      for (int32_t id : {10, 20, 30}) VerificationTest::Insert(manager, id, "notes");
      Row row(manager);
      ASSERT_TRUE(manager.ReadRowByNumber(2, row.Values));
      manager.DeleteKey(row.Values, 2, kByName);
      ASSERT_TRUE(manager.ReadRowByNumber(3, row.Values));
      row.Values.GetItem(kQty)->SetNull(true);
      int32_t counter = 0;
      manager.GetRowNavigator()->UpdateRow(row.Values, 3, counter);
      manager.FlushFiles(true);
      session.Managers.Clear();
    }
    const int32_t injected = faults.InjectedCount();
    faults.FailWrite(nth);
    bool failed = false;
    try {
      VerifyOnce(session, table, true);
    } catch (const EBRNException& error) {
      EXPECT_EQ(error.ErrorCode, 600) << error.ErrorMessage;
      failed = true;
      ++failures;
    }
    faults.Disarm();
    const bool hit = faults.InjectedCount() > injected;

    // A repair that answered went through (a failed index rebuild is done
    // again from an empty index file); after one that raised, the next one
    // mends what is left.
    if (failed) VerifyOnce(session, table, true);
    session.Environment.Messages.clear();
    EXPECT_FALSE(VerifyOnce(session, table, false)) << Joined(session.Environment.Messages);
    TBRNTableManager& manager = *session.Open(table);
    EXPECT_EQ(manager.GetRowCount(), 2);
    for (int32_t index = 0; index < kIndexCount; ++index) {
      EXPECT_EQ(manager.GetIndexManager()->GetHeaders()[size_t(index)].KeyCount, 2) << index;
    }
    session.Managers.Clear();
    if (!hit) break;
  }
  EXPECT_GT(failures, 10) << "of " << nth - 1 << " writes";
}

TEST(VerificationProcess, RepairOpensATableWhoseFlushAKillCutAndClearsTheFlag) {
  TestDatabaseFiles database;
  {
    TestSession session(database);
    TBRNBaseTable* table = AddItems(session.Environment);
    session.Manager(table)->SetCreatingFiles(true);
    TBRNTableManager& manager = *session.Open(table);
    for (int32_t id = 1; id <= 20; ++id) VerificationTest::Insert(manager, id, "notes");
    session.Managers.Clear();
  }
  pid_t pid = Fork([&] {
    KillingFiles files(&database.Environment);
    TestSession session(database);
    session.Environment.TableFiles = &files;
    TBRNBaseTable* table = AddItems(session.Environment);
    TBRNTableManager& manager = *session.Open(table);
    // The flagged headers of the flush are written, then the kill comes
    // among its blocks.
    files.WritesLeft = 4;
    VerificationTest::Insert(manager, 21, "more notes");
    return 0;
  });
  ASSERT_EQ(Wait(pid), -1) << "the child did not die inside the flush";

  TestSession session(database);
  TBRNBaseTable* table = AddItems(session.Environment);
  try {
    session.Open(table);
    ADD_FAILURE() << "the table opened without a repair";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorCode, 100);
  }
  std::vector<std::string>& messages = session.Environment.Messages;
  table->SetSkipWriteCheck();
  bool errorsFound = false;
  {
    auto& manager =
        *static_cast<TBRNTableManager*>(session.Managers.OpenManager(table, kBRNLockTypeExclusive));
    EXPECT_TRUE(manager.VerifyTable(errorsFound, true, false));
    manager.Close(true, true);
  }
  table->ClearSkipWriteCheck();
  EXPECT_TRUE(errorsFound);
  bool interruptedFixed = false;
  for (const std::string& line : messages) {
    interruptedFixed =
        interruptedFixed || (line.find("(Write interrupted) - Fixed") != std::string::npos);
  }
  EXPECT_TRUE(interruptedFixed) << Joined(messages);

  // It opens now, and verifies clean: every index was built from the rows.
  messages.clear();
  TBRNTableManager& manager = *session.Open(table);
  errorsFound = false;
  EXPECT_TRUE(manager.VerifyTable(errorsFound, false, false));
  EXPECT_FALSE(errorsFound) << Joined(messages);
  const int32_t rows = manager.GetRowCount();
  EXPECT_TRUE(rows == 20 || rows == 21) << rows;
  for (int32_t index = 0; index < kIndexCount; ++index) {
    EXPECT_EQ(manager.GetIndexManager()->GetHeaders()[size_t(index)].KeyCount, rows) << index;
  }
  session.Managers.Clear();
}

}  // namespace
}  // namespace brn::testing
