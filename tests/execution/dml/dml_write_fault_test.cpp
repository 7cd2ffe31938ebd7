// A data change whose n-th file write fails, for every n until one passes:
// the error reaches the caller and the statement is never half there.
// Wherever the write fails, in the flagged headers, the blocks of any file
// or the cleared headers, the table reads as before the statement and the
// next statement succeeds: the flush puts back what it had written.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

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

// Database Shop on the fault engine with T(ID INTEGER primary key, Qty
// INTEGER) holding rows 1..200 with Qty = ID.
struct FaultShop {
  ExecutionInstaller Installer;
  FaultEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Shop = nullptr;

  FaultShop() {
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", "GlenHarbor");
    Execute(*Session, "CREATE DATABASE Shop PATH '/config/shop'");
    Shop = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
    TBRNBaseTable* table = Shop->CreateTable("T");
    try {
      table->AddRowIDColumn();
      for (const char* name : {"ID", "Qty"}) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = name;
        column->SetDataType(dtInteger);
        table->Columns->AddObject(column.get());
        column.release();
      }
      AddTableKey(table, "PK", kConstraintPrimaryKey, {"ID"});
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
    std::vector<CellRow> rows;
    for (int64_t i = 1; i <= 200; ++i) rows.push_back({i, i});
    QueryWorkspace::InsertInto(*Shop, "T", rows);
  }
  ~FaultShop() {
    try {
      TBRNDatabaseManager* shop = Shop;
      if (shop != nullptr) Session->CloseDatabase(shop);
    } catch (...) {
    }
  }

  // Prepares, runs and frees sql; the error code (0: none).
  int32_t Run(const std::string& sql) {
    TBRNLocalStatementManager* statement = nullptr;
    try {
      statement = static_cast<TBRNLocalStatementManager*>(Shop->PrepareStatement(sql));
      statement->ExecuteStatement();
    } catch (const EBRNException& error) {
      TBRNLocalStatementManager::FreeStatement(statement);
      return error.ErrorCode;
    }
    TBRNLocalStatementManager::FreeStatement(statement);
    return 0;
  }
  std::string Summary() {
    TBRNLocalStatementManager* statement = static_cast<TBRNLocalStatementManager*>(
        Shop->PrepareStatement("SELECT COUNT(*), SUM(ID), SUM(Qty) FROM T"));
    std::string text;
    try {
      TBRNCursor* cursor = statement->ExecuteStatement();
      const auto row = QueryWorkspace::CursorRows(*cursor).at(0);
      text = row.at(0) + "/" + row.at(1) + "/" + row.at(2);
    } catch (...) {
      TBRNLocalStatementManager::FreeStatement(statement);
      throw;
    }
    TBRNLocalStatementManager::FreeStatement(statement);
    return text;
  }
};

TEST(DmlWriteFaults, EachFailedWriteLeavesTheTableAsItWas) {
  const std::vector<std::string> statements = {
      "UPDATE T SET Qty = Qty + 1",
      "DELETE FROM T WHERE ID > 100",
      "INSERT INTO T SELECT ID + 1000, Qty FROM T",
      "INSERT INTO T VALUES (5001, 1), (5002, 2), (5003, 3)",
  };
  for (const std::string& sql : statements) {
    bool passed = false;
    for (int32_t n = 1; n <= 80 && !passed; ++n) {
      SCOPED_TRACE(sql + ", write " + std::to_string(n));
      FaultShop shop;
      const std::string before = shop.Summary();
      ASSERT_EQ(before, "200/20100/20100");
      shop.Engine.Faults->FailWrite(n);
      const int32_t code = shop.Run(sql);
      shop.Engine.Faults->Disarm();
      passed = shop.Engine.Faults->InjectedCount() == 0;
      if (passed) {
        EXPECT_EQ(code, 0);
        continue;
      }
      EXPECT_EQ(code, 600) << "the failed write reaches the caller";
      std::string after;
      int32_t readCode = 0;
      try {
        after = shop.Summary();
      } catch (const EBRNException& error) {
        readCode = error.ErrorCode;
      }
      EXPECT_EQ(readCode, 0) << "no repair is needed";
      EXPECT_EQ(after, before);
      EXPECT_EQ(shop.Run("UPDATE T SET Qty = 0 WHERE ID = 1"), 0);
      EXPECT_EQ(shop.Summary(), "200/20100/20099") << "the next statement changed its row";
    }
    EXPECT_TRUE(passed) << sql << " writes fewer than 80 times";
  }
}

}  // namespace
}  // namespace brn::testing
