#include "clientserver/components/database_component.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "clientserver/components/component_error.h"
#include "clientserver/components/engine_component.h"
#include "clientserver/components/session_component.h"
#include "clientserver/datasets/dataset_test_support.h"
#include "foundation/text/exception.h"
#include "sessions/manager_interfaces.h"
#include "sessions/session_manager.h"

namespace brn {
namespace {

using test::ExpectDatabaseError;

class DatabaseComponentTest : public test::ComponentSessionTest {
 protected:
  // A database component of session "S1" named name over "Shop".
  std::unique_ptr<TBRNDatabase> NewDatabase(const std::string& name) {
    auto database = std::make_unique<TBRNDatabase>(nullptr);
    database->SetSessionName("S1");
    database->SetDatabaseName(name);
    database->SetDatabase("Shop");
    return database;
  }
};

TEST_P(DatabaseComponentTest, OpensAndClosesInItsSession) {
  auto database = NewDatabase("Main");
  EXPECT_EQ(database->GetSession(), Session.get());
  EXPECT_EQ(Session->FindDatabase("MAIN"), database.get());
  EXPECT_EQ(database->GetEngineVersion(), "2.14 Build 5");
  database->Open();
  EXPECT_TRUE(database->GetConnected());
  EXPECT_NE(database->GetHandle(), nullptr);
  ExpectDatabaseError([&] { database->SetDatabase("Other"); },
                      "Cannot perform this operation on an open database");
  ExpectDatabaseError([&] { database->SetDatabaseName("Other"); },
                      "Cannot perform this operation on an open database");
  // Equal ignoring case is no change, so it is not refused.
  database->SetDatabaseName("MAIN");
  database->Close();
  EXPECT_FALSE(database->GetConnected());
  database.reset();
  EXPECT_EQ(Session->FindDatabase("Main"), nullptr);
}

TEST_P(DatabaseComponentTest, NamingErrors) {
  auto first = NewDatabase("Main");
  auto second = std::make_unique<TBRNDatabase>(nullptr);
  second->SetSessionName("S1");
  ExpectDatabaseError([&] { second->SetDatabaseName("main"); },
                      "Database name 'main' already exists");
  EXPECT_EQ(second->GetDatabaseName(), "");
  ExpectDatabaseError([&] { second->Open(); }, "Database name is missing");

  auto unknown = std::make_unique<TBRNDatabase>(nullptr);
  unknown->SetSessionName("Nowhere");
  unknown->SetDatabaseName("X");
  ExpectDatabaseError([&] { unknown->Open(); }, "Session name 'Nowhere' is not valid");
  EXPECT_FALSE(unknown->GetConnected());
}

TEST_P(DatabaseComponentTest, UnusedTemporaryDatabaseGivesItsNameUp) {
  TBRNDatabase* temporary = Session->OpenDatabase("Shop");
  ASSERT_NE(temporary, nullptr);
  EXPECT_TRUE(temporary->GetTemporary());
  EXPECT_EQ(temporary->GetUseCount(), 1);
  EXPECT_TRUE(temporary->GetConnected());
  // Used, the temporary component keeps its name.
  auto placed = std::make_unique<TBRNDatabase>(nullptr);
  placed->SetSessionName("S1");
  ExpectDatabaseError([&] { placed->SetDatabaseName("Shop"); },
                      "Database name 'Shop' already exists");
  // Kept open by KeepConnections, unused now: it is freed for the new one.
  Session->CloseDatabase(temporary);
  EXPECT_EQ(Session->FindDatabase("Shop"), temporary);
  placed->SetDatabaseName("Shop");
  EXPECT_EQ(Session->FindDatabase("Shop"), placed.get());
  EXPECT_EQ(Session->GetDatabaseCount(), 1);
}

TEST_P(DatabaseComponentTest, SessionCountsTemporaryDatabaseUses) {
  Session->KeepConnections = false;
  TBRNDatabase* database = Session->OpenDatabase("Shop");
  EXPECT_EQ(Session->OpenDatabase("shop"), database);
  EXPECT_EQ(database->GetUseCount(), 2);
  Session->CloseDatabase(database);
  EXPECT_EQ(Session->FindDatabase("Shop"), database);
  EXPECT_TRUE(database->GetConnected());
  Session->CloseDatabase(database);
  EXPECT_EQ(Session->FindDatabase("Shop"), nullptr);
  EXPECT_EQ(Session->GetDatabaseCount(), 0);
}

TEST_P(DatabaseComponentTest, KeepConnectionOffClosesOnlyWithoutUses) {
  auto database = NewDatabase("Shop");
  EXPECT_EQ(Session->OpenDatabase("Shop"), database.get());
  database->SetKeepConnection(false);
  EXPECT_TRUE(database->GetConnected());  // one use remains
  database->SetKeepConnection(true);
  Session->CloseDatabase(database.get());
  EXPECT_EQ(database->GetUseCount(), 0);
  EXPECT_TRUE(database->GetConnected());
  database->SetKeepConnection(false);
  EXPECT_FALSE(database->GetConnected());
  // A placed component is closed, not freed, at its last use.
  EXPECT_EQ(Session->FindDatabase("Shop"), database.get());
}

TEST_P(DatabaseComponentTest, FreeingTheSessionRebindsToTheDefaultSession) {
  std::unique_ptr<TBRNSession> fallback = NewSession("Default");
  auto database = NewDatabase("Main");
  database->Open();
  Session.reset();
  EXPECT_FALSE(database->GetConnected());
  TBRNSession* defaultSession = Engine->FindSession("");
  ASSERT_EQ(defaultSession, fallback.get());
  EXPECT_EQ(database->GetSession(), defaultSession);
  // An empty SessionName names the default session.
  EXPECT_EQ(database->GetSessionName(), "");
  EXPECT_EQ(defaultSession->FindDatabase("Main"), database.get());
  database.reset();
}

TEST_P(DatabaseComponentTest, Transactions) {
  auto database = NewDatabase("Main");
  // The closed check comes before the transaction check.
  ExpectDatabaseError([&] { database->Commit(false); },
                      "Cannot perform this operation on a closed database");
  ExpectDatabaseError([&] { database->Rollback(); },
                      "Cannot perform this operation on a closed database");
  ExpectDatabaseError(
      [&] {
        database->StartTransactionForTables({std::string("a"), std::string("b"), int64_t(3)}, -1);
      },
      "Invalid table name passed to StartTransaction in position 2");
  database->Open();
  ExpectDatabaseError([&] { database->Commit(false); },
                      "Database 'Main' has no active transaction");
  database->StartTransaction({}, -1);
  EXPECT_TRUE(database->GetInTransaction());
  ExpectDatabaseError([&] { database->StartTransaction({}, -1); },
                      "Database 'Main' already has an active transaction");
  database->Commit(true);
  EXPECT_FALSE(database->GetInTransaction());
  database->StartTransactionForTables({}, 1000);
  database->Rollback();
  EXPECT_FALSE(database->GetInTransaction());
  // Closing ends the transaction flag.
  database->StartTransaction({}, -1);
  database->Close();
  EXPECT_FALSE(database->GetInTransaction());
}

TEST_P(DatabaseComponentTest, UnknownEngineDatabaseIsAnEngineError) {
  auto database = std::make_unique<TBRNDatabase>(nullptr);
  database->SetSessionName("S1");
  database->SetDatabaseName("Main");
  database->SetDatabase("NoSuchDatabase");
  EXPECT_THROW(database->Open(), EBRNError);
  EXPECT_FALSE(database->GetConnected());
}

INSTANTIATE_TEST_SUITE_P(Sessions, DatabaseComponentTest, ::testing::Values(stLocal, stRemote),
                         test::SessionTypeName);

}  // namespace
}  // namespace brn
