// Rows appended in batches: a failure inside a batch takes exactly that
// batch back, from every file, and leaves the table going on.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "storage/tables/table_constraint_test_support.h"

namespace brn::testing {
namespace {

// T: ID primary key and Label with an ordinary index.
struct AppendSchema {
  explicit AppendSchema(TestTableEnvironment& env) {
    ConstraintBuilder b(env);
    T = b.AddTable("T", {{"ID"}, {"Label"}});
    b.AddKey(T, "PK_T", kConstraintPrimaryKey, {"ID"});
    env.AddIndex(T, "ByLabel", {"Label"});
    env.Finish(T);
  }
  TBRNBaseTable* T;
};

void AppendTestRow(TBRNRowAppender& appender, TBRNTableManager& table, int32_t id) {
  TestRow row(table);
  row.Set("ID", id).Set("Label", 5000 - id);
  appender.Append(row.Values());
}

bool HasAppendedID(TBRNTableManager& table, int32_t id) {
  TestRow probe(table);
  probe.Set("ID", id);
  return table.FindRowByKey(probe.Values(), probe.Values(), 0, false);
}

void ExpectFilesVerify(TBRNTableManager& table, const std::string& what) {
  for (TBRNTableFileManager* file : table.GetFiles()) {
    bool errors = false;
    EXPECT_TRUE(file->Verify(errors, false)) << what;
    EXPECT_FALSE(errors) << what << ": " << file->GetFileName();
  }
}

// In a transaction on a cold table of 3000 rows (IDs 10, 20, ..., 30000),
// whose pages an append reads: rows 5 and 1005 make a batch that is
// ended, rows 1505 and 2005 stand in the open batch when the append of a
// third row fails, at every page read it makes or on a duplicate key. The
// whole open batch goes, the ended one stays, the next append and the
// commit succeed, and the files verify with every key where its row is.
TEST(RowAppender, AFailedAppendTakesBackItsWholeBatchAndKeepsTheEndedOnes) {
  struct FailureCase {
    const char* Name;
    bool Duplicate;  // else a read fault
  };
  const FailureCase cases[] = {{"a duplicate key", true}, {"a failing read", false}};
  for (const FailureCase& failure : cases) {
    for (int32_t nth = 1;; ++nth) {
      const std::string what = std::string(failure.Name) + " " + std::to_string(nth);
      SCOPED_TRACE(what);
      TestDatabaseFiles database;
      TBRNFaultFileManager faults(&database.Environment);
      TestSession session(database);
      session.Environment.TableFiles = &faults;
      AppendSchema schema(session.Environment);
      TBRNTableManager* t = session.Open(schema.T);
      t->StartTransaction();
      for (int32_t id = 10; id <= 30000; id += 10)
        TestRow(*t).Set("ID", id).Set("Label", id).Insert();
      t->CommitTransaction();
      t->ForceClose();
      t = session.Open(schema.T);

      t->StartTransaction();
      bool failed = false;
      {
        TBRNRowAppender appender(*t);
        AppendTestRow(appender, *t, 5);
        AppendTestRow(appender, *t, 1005);
        appender.EndBatch();
        AppendTestRow(appender, *t, 1505);
        AppendTestRow(appender, *t, 2005);
        if (!failure.Duplicate) faults.FailRead(nth);
        try {
          AppendTestRow(appender, *t, failure.Duplicate ? 10 : 29995);
        } catch (const EBRNException& e) {
          failed = true;
          EXPECT_EQ(e.ErrorCode, failure.Duplicate ? 1004 : 600) << e.ErrorMessage;
        }
        faults.Disarm();
        if (failed) AppendTestRow(appender, *t, 2505);
      }
      if (!failed) {
        // Every read of the append has failed once: all cases are seen.
        EXPECT_FALSE(failure.Duplicate);
        EXPECT_GT(nth, 1);
        t->RollbackTransaction();
        session.Managers.Clear();
        break;
      }
      t->CommitTransaction();
      t->ForceClose();
      t = session.Open(schema.T);
      EXPECT_EQ(t->GetRowCount(), 3003);
      for (int32_t id : {5, 1005, 2505, 10, 30000}) EXPECT_TRUE(HasAppendedID(*t, id)) << id;
      for (int32_t id : {1505, 2005, 29995}) EXPECT_FALSE(HasAppendedID(*t, id)) << id;
      ExpectFilesVerify(*t, what);
      session.Managers.Clear();
      if (failure.Duplicate) break;
    }
  }
}

// A change of the caller's between appends (here an update refused for a
// duplicate key) that fails inside the batch leaves only the whole batch
// to take back: ending the batch does so and says the batch failed.
// Without a transaction or an exclusive hold no appender is made.
TEST(RowAppender, AChangeFailingBetweenAppendsTakesTheBatchBackWhenItEnds) {
  TestDatabaseFiles database;
  TestSession session(database);
  AppendSchema schema(session.Environment);
  TBRNTableManager* t = session.Open(schema.T);
  EXPECT_THROW(TBRNRowAppender{*t}, std::logic_error);

  t->StartTransaction();
  {
    TBRNRowAppender appender(*t);
    AppendTestRow(appender, *t, 1);
    appender.EndBatch();
    AppendTestRow(appender, *t, 2);
    AppendTestRow(appender, *t, 3);
    TestRow row(*t);
    ASSERT_TRUE(row.Read(3));
    row.Set("ID", 1);
    EXPECT_THROW(row.Update(), EBRNException);
    EXPECT_THROW(appender.EndBatch(), std::logic_error);
    AppendTestRow(appender, *t, 4);
  }
  t->CommitTransaction();
  EXPECT_EQ(t->GetRowCount(), 2);
  for (int32_t id : {1, 4}) EXPECT_TRUE(HasAppendedID(*t, id)) << id;
  for (int32_t id : {2, 3}) EXPECT_FALSE(HasAppendedID(*t, id)) << id;
  ExpectFilesVerify(*t, "after the batch");
  session.Managers.Clear();
}

}  // namespace
}  // namespace brn::testing
