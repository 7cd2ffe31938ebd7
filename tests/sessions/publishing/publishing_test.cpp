// PUBLISH and UNPUBLISH DATABASE and the published-update records that the
// row changes of a published table write.
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sessions/publishing/publishing_test_support.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;

struct RecordPointTest : PublishingTest {};

TEST_F(RecordPointTest, EachRowChangeLogsOneRecordUnlessNothingChangesOrTheRowIsCopied) {
  Db& a = MakeDatabase("A");
  Publish("A", 0);
  TBRNBaseTable* parent = TableOf(a, "Parent");
  ASSERT_TRUE(parent->Published);
  const std::string site = parent->PublishID;
  ASSERT_EQ(site.size(), 38u);

  Insert(a, "Parent", {{"Code", "1"}, {"Name", "one"}, {"Amount", "10"}});
  Update(a, "Parent", 1, {{"Amount", "11"}});
  Update(a, "Parent", 1, {{"Amount", "11"}});  // equal values: no record
  Insert(a, "Parent", {{"Code", "2"}, {"Name", "copy"}}, true);  // a copy: no record
  Delete(a, "Parent", 1);

  std::vector<LoggedRecord> log = Log(a, "Parent");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].Operation, 1);
  EXPECT_THAT(log[0].Sites, ElementsAre(site));
  EXPECT_TRUE(log[0].KeyColumns.empty());
  // The modified columns of the insert; the row identifier never.
  EXPECT_THAT(log[0].Columns, ElementsAre("Code", "Name", "Amount"));
  EXPECT_EQ(log[1].Operation, 2);
  EXPECT_THAT(log[1].KeyColumns, ElementsAre("Code"));
  EXPECT_THAT(log[1].Columns, ElementsAre("Amount"));
  EXPECT_EQ(log[2].Operation, 3);
  EXPECT_THAT(log[2].KeyColumns, ElementsAre("Code"));
  EXPECT_TRUE(log[2].Columns.empty());
  EXPECT_LT(log[0].Timestamp, log[1].Timestamp);
  EXPECT_LT(log[1].Timestamp, log[2].Timestamp);
}

TEST_F(RecordPointTest, ColumnModeOneLogsEveryNonInternalColumnOfAnUpdate) {
  Db& a = MakeDatabase("A");
  Publish("A", 1);
  Insert(a, "Parent", {{"Code", "1"}, {"Name", "one"}, {"Amount", "10"}});
  Update(a, "Parent", 1, {{"Amount", "12"}});
  std::vector<LoggedRecord> log = Log(a, "Parent");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_THAT(log[1].Columns, ElementsAre("Code", "Name", "Amount"));
}

TEST_F(RecordPointTest, AnUnpublishedTableLogsNothing) {
  Db& a = MakeDatabase("A");
  Publish("A", 0, {"Parent"});
  Insert(a, "Parent", {{"Code", "1"}});
  Insert(a, "Child", {{"Code", "1"}, {"ParentCode", "1"}});
  EXPECT_EQ(Log(a, "Parent").size(), 1u);
  EXPECT_FALSE(TableOf(a, "Child")->Published);
  EXPECT_FALSE(TableFileExists(a, "Child.BRNPbl"));
}

struct PublishCommandTest : PublishingTest {};

TEST_F(PublishCommandTest, UnpublishKeepsTheLogAsOldCopyAndTheRowsStayReadable) {
  Db& a = MakeDatabase("A");
  Publish("A");
  Insert(a, "Parent", {{"Code", "1"}, {"Name", "one"}});
  EXPECT_TRUE(TableFileExists(a, "Parent.BRNPbl"));
  Session->UnpublishDatabase("A", Names({}));
  TBRNBaseTable* parent = TableOf(a, "Parent");
  EXPECT_FALSE(parent->Published);
  EXPECT_TRUE(parent->PublishID.empty());
  EXPECT_FALSE(TableFileExists(a, "Parent.BRNPbl"));
  EXPECT_TRUE(TableFileExists(a, "Parent.BRNPbl.Old"));
  // The files carry the structure the catalog holds.
  EXPECT_THAT(Rows(a, "Parent"), ElementsAre("Code=1;Name=one;Amount=NULL;"));
  // Published again, with a new PublishID.
  Publish("A");
  EXPECT_TRUE(parent->Published);
  EXPECT_EQ(parent->PublishID.size(), 38u);
}

TEST_F(PublishCommandTest, RefusalsNameTheStatementOrTheTable) {
  Db& a = MakeDatabase("A");
  // A table with only the internal key on its row identifier.
  a.CatalogManager->BeginUpdate();
  TBRNBaseTable* loose = AddTableOf(*a.Catalog, "Loose", {{"Code", dtInteger, 0}});
  loose->AddPrimaryKey(false);
  loose->Validate();
  loose->UpdateStructureChecksum();
  a.CatalogManager->CommitUpdate();
  CreateFiles(a, "Loose");

  EBRNException noKey = CaughtEngineError([&] { Publish("A", 0, {"Child", "Loose"}); });
  EXPECT_EQ(noKey.ErrorCode, 1302);
  EXPECT_EQ(noKey.ErrorMessage,
            "Error publishing the database A (No primary key constraint present in the table "
            "Loose)");
  // Child came first and was published; the failure put it back, so its
  // files still match the catalog.
  EXPECT_FALSE(TableOf(a, "Child")->Published);
  EXPECT_FALSE(TableFileExists(a, "Child.BRNPbl"));
  Insert(a, "Parent", {{"Code", "1"}});
  Insert(a, "Child", {{"Code", "1"}, {"ParentCode", "1"}});
  EXPECT_EQ(Rows(a, "Child").size(), 1u);

  TBRNBaseTable* temporary = a.CreateTemporaryTable("Scratch", true);
  auto column = std::make_unique<TBRNColumn>(a.Catalog.get());
  column->Name = "X";
  column->SetDataType(dtInteger);
  temporary->Columns->AddObject(column.get());
  column.release();
  a.CommitCreateTemporaryTable(temporary);
  EBRNException temp = CaughtEngineError([&] { Publish("A", 0, {"Scratch"}); });
  EXPECT_EQ(temp.ErrorCode, 1302);
  EXPECT_EQ(temp.ErrorMessage, "Error publishing the database A (Cannot publish the temporary table Scratch)");

  a.StartTransaction(Names({}), -1);
  EBRNException inTransaction =
      CaughtEngineError([&] { Session->UnpublishDatabase("A", Names({})); });
  EXPECT_EQ(inTransaction.ErrorCode, 404);
  EXPECT_NE(inTransaction.ErrorMessage.find("(UNPUBLISH DATABASE A)"), std::string::npos)
      << inTransaction.ErrorMessage;
  a.Rollback();
}

// A load deletes and inserts inside one transaction: a row deleted there
// and taken again by an insert is written once, at its own place, by the
// commit.
TEST_F(PublishCommandTest, ARowReusedInATransactionIsCommittedAtItsPlace) {
  Db& b = MakeDatabase("B");
  Insert(b, "Parent", {{"Code", "1"}});
  {
    OpenTable keep(b, "Child");
    b.StartTransaction(Names({}), -1);
    for (int32_t code = 1; code <= 4; ++code) {
      Insert(b, "Child", {{"Code", std::to_string(code)}, {"ParentCode", "1"}});
    }
    Delete(b, "Child", 2);
    Insert(b, "Child", {{"Code", "5"}, {"ParentCode", "1"}});
    Delete(b, "Child", 3);
    b.Commit(false, false);
  }
  EXPECT_THAT(Rows(b, "Child"),
              ElementsAre("Code=1;ParentCode=1;Note=NULL;", "Code=4;ParentCode=1;Note=NULL;",
                          "Code=5;ParentCode=1;Note=NULL;"));
}

}  // namespace
}  // namespace brn::testing
