#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "clientserver/components/data_set_component.h"
#include "clientserver/components/engine_component.h"
#include "clientserver/components/session_component.h"
#include "clientserver/server/server_engine_manager.h"
#include "foundation/file_test_support.h"
#include "sessions/manager_interfaces.h"
#include "storage/cursors/cursor.h"
#include "storage/rows/row_values.h"

namespace brn::test {

// Fails the test unless call raises EDatabaseError with message.
void ExpectDatabaseError(const std::function<void()>& call, const std::string& message);

// Every case runs twice: over a local session of the process's engine and
// over a remote session of a server of its own on an ephemeral port of
// 127.0.0.1. Session is the component "S1", logged in as Administrator; the
// in-memory database "Shop" exists.
class ComponentSessionTest : public ::testing::TestWithParam<TBRNSessionType> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool IsRemote() const { return GetParam() == stRemote; }
  // A new session component named name set up like Session (not connected).
  std::unique_ptr<TBRNSession> NewSession(const std::string& name);
  // Runs sql in the engine database database through Session's manager.
  void Exec(const std::string& database, const std::string& sql);

  brn::testing::TempDirectory EngineFolder;
  brn::testing::TempDirectory ServerFolder;
  std::unique_ptr<TBRNServerEngineManager> Server;
  std::unique_ptr<TBRNEngine> Engine;
  std::unique_ptr<TBRNSession> Session;
};

// A ComponentSessionTest that holds a handle of "Shop" through Session's
// manager for running statements.
class ShopDatabaseTest : public ComponentSessionTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs sql in "Shop".
  void Run(const std::string& sql);

  TBRNSessionManager* Manager = nullptr;
  TBRNDatabaseManager* Database = nullptr;
};

// A dataset over the cursor of one SELECT in an engine database; the
// statement (which owns the cursor) lives while the dataset is open.
class StatementDataSet : public TBRNDataSet {
 public:
  StatementDataSet(TBRNDatabaseManager& database, const std::string& sql)
      : TBRNDataSet(nullptr), database_(database), sql_(sql) {}
  ~StatementDataSet() override { Close(); }

  using TBRNDataSet::ActiveBuffer;
  using TBRNDataSet::GetRecord;
  using TBRNDataSet::TempBuffer;

  // The row value behind field in the active record.
  TBRNStaticRowValue& ValueOf(const TField& field) {
    TBRNCursorColumn* column = GetCursor()->GetCursorColumns().GetColumn(field.FieldNo - 1);
    return dynamic_cast<TBRNStaticRowValue&>(
        *RowOf(ActiveBuffer()).Values.GetItem(column->GetTableColumn()->Index));
  }

 protected:
  TBRNCursor* CreateCursor() override {
    statement_.reset(database_.PrepareStatement(sql_));
    return statement_->ExecuteStatement();
  }
  void DestroyCursor() override {
    TBRNDataSet::DestroyCursor();
    statement_.reset();
  }

 private:
  TBRNDatabaseManager& database_;
  std::string sql_;
  std::unique_ptr<TBRNStatementManager> statement_;
};

std::string SessionTypeName(const ::testing::TestParamInfo<TBRNSessionType>& info);

}  // namespace brn::test
