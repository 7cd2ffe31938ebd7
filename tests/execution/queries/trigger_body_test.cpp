// Trigger bodies run through the session's block runner when the table
// manager fires them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "metadata/catalog/triggers.h"

namespace brn::testing {
namespace {

struct TriggerBodyTest : QueryTest {
  void SetUp() override { CreateTable("Items", {{"ID", dtInteger}, {"Qty", dtInteger}}); }

  void CreateTrigger(const std::string& name, const std::string& body) {
    TBRNBaseTable* table = nullptr;
    TBRNTrigger* trigger = Shop->CreateTrigger("Items", table, name);
    try {
      trigger->ActionTime = kTriggerBefore;
      trigger->ActionType = kTriggerInsert;
      trigger->Definition->SetText("TRIGGER \"" + name + "\" " + body);
      Shop->CommitCreateTrigger(table, trigger);
    } catch (...) {
      Shop->RollbackCreateTrigger(table, trigger);
      throw;
    }
  }

  // Inserts one row through the trigger-aware path; whether it was written.
  bool InsertWithTriggers(int64_t id) {
    TBRNTableManager& manager = OpenTable("Items");
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    values.SetAllNull();
    values.GetItem(1)->SetAsBigInt(id);
    int32_t number = 0, version = 0, counter = 0;
    bool written = false;
    try {
      manager.StartTransaction();
      written = manager.InsertRowWithTriggers(values, number, version, counter);
      manager.CommitTransaction();
    } catch (...) {
      manager.RollbackTransaction();
      Release(manager);
      throw;
    }
    Release(manager);
    return written;
  }
};

// A body whose declarations evaluate lets the row through; a failing
// DEFAULT fails the insert with its error, and nothing is written.
TEST_F(TriggerBodyTest, BodiesRunWhenTheTriggerFires) {
  CreateTrigger("Check", "BEGIN DECLARE x INTEGER DEFAULT 1; BEGIN DECLARE y INTEGER DEFAULT x + 1; "
                         "END; END");
  EXPECT_TRUE(InsertWithTriggers(1));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (std::vector<std::vector<std::string>>{{"1"}}));

  CreateTrigger("Refuse", "BEGIN DECLARE x INTEGER DEFAULT CAST('x' AS INTEGER); END");
  EXPECT_EQ(Outcome([&] { InsertWithTriggers(2); }).first, kConversionErrorCode);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (std::vector<std::vector<std::string>>{{"1"}}));
}

}  // namespace
}  // namespace brn::testing
