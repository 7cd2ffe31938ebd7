// Procedures through a remote session show what a local session shows:
// parameters with their directions, output values, the returned cursor's
// rows and an error's position.

#include <gtest/gtest.h>

#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/remote/remote_test_support.h"
#include "execution/handles/local_procedure_manager.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"
#include "sessions/local/local_session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {
namespace {

// Everything one execution shows.
struct ProcedureView {
  std::vector<std::string> Params;  // "name direction type"
  std::vector<std::string> Values;  // after the execution
  std::vector<std::string> Rows;    // of the returned cursor; empty without
  bool HasCursor = false;
  int32_t ErrorCode = 0;
  std::string Message;
  int32_t Line = 0;
  int32_t Column = 0;
  bool operator==(const ProcedureView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ProcedureView& view) {
  out << "params:";
  for (const std::string& p : view.Params) out << " [" << p << "]";
  out << " values:";
  for (const std::string& v : view.Values) out << " [" << v << "]";
  out << " rows:";
  for (const std::string& r : view.Rows) out << " [" << r << "]";
  return out << " cursor " << view.HasCursor << " error " << view.ErrorCode << " "
             << view.Message << " at " << view.Line << ":" << view.Column;
}

class RemoteProcedureTest : public test::RemoteTest {
 public:
  void SetUp() override {
    test::RemoteTest::SetUp();
    Database = OpenTestDatabase();
    Exec(Database, "CREATE TABLE Items (ID INTEGER, Name VARCHAR(20), PRIMARY KEY (ID))");
    for (int32_t id = 1; id <= 6; ++id)
      Exec(Database, "INSERT INTO Items (ID, Name) VALUES (" + std::to_string(id) + ", 'Item " +
                         std::to_string(id) + "')");
    Exec(Database,
         "CREATE PROCEDURE Above (IN Low INTEGER, INOUT Total INTEGER, OUT Label VARCHAR(20))\n"
         "BEGIN DECLARE c CURSOR WITH RETURN FOR q;\n"
         "  SET Total = Total + Low;\n"
         "  SET Label = 'above ' || CAST(Low AS VARCHAR(5));\n"
         "  PREPARE q FROM 'SELECT ID, Name FROM Items WHERE ID > ? ORDER BY ID';\n"
         "  OPEN c USING Low;\n"
         "END");
    Exec(Database,
         "CREATE PROCEDURE AddItem (IN Id INTEGER, IN Text VARCHAR(10), OUT Result INTEGER)\n"
         "BEGIN\n"
         "  SET Result = CAST(Text AS INTEGER);\n"
         "  EXECUTE IMMEDIATE 'INSERT INTO Items (ID, Name) VALUES (?, ''new'')' USING Id;\n"
         "END");
    OpenLocalTwin();
  }

  void TearDown() override {
    CloseLocalTwin();
    if (Database != nullptr) Session->CloseDatabase(Database);
    test::RemoteTest::TearDown();
  }

  static std::string Value(TBRNCursorRow& row, const std::string& name) {
    TBRNColumns& columns = row.GetCursor().GetTableColumns();
    for (int32_t i = 0; i < columns.Count(); ++i)
      if (columns.GetItem(i)->Name == name) return row.Values.GetItem(i)->GetAsString();
    return "no column " + name;
  }

  // Prepares name, sets the parameters from inputs (in order; "" is NULL)
  // and executes it.
  static ProcedureView Run(TBRNDatabaseManager* database, const std::string& name,
                           const std::vector<std::string>& inputs, bool remote) {
    ProcedureView view;
    TBRNProcedureManager* procedure = nullptr;
    try {
      procedure = database->PrepareProcedure(name);
      TBRNParamValues& params = *procedure->Params;
      for (int32_t i = 0; i < params.GetCount(); ++i) {
        auto* param = static_cast<TBRNParamValue*>(params.GetItem(i));
        view.Params.push_back(param->GetName() + " " + std::to_string(param->GetDirection()) +
                              " " + std::to_string(int(param->GetDataType())));
        if (size_t(i) < inputs.size() && !inputs[size_t(i)].empty())
          param->SetAsString(inputs[size_t(i)]);
      }
      TBRNCursor* cursor = procedure->ExecuteProcedure();
      for (int32_t i = 0; i < params.GetCount(); ++i)
        view.Values.push_back(params.GetItem(i)->GetNull() ? "NULL"
                                                          : params.GetItem(i)->GetAsString());
      view.HasCursor = cursor != nullptr;
      if (cursor != nullptr) {
        std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
        for (cursor->FirstRow(); !cursor->GetEof(); cursor->NextRow()) {
          cursor->GetCurrentRow(*row, false);
          view.Rows.push_back(Value(*row, "ID") + "|" + Value(*row, "Name"));
        }
      }
    } catch (const EBRNException& e) {
      view.ErrorCode = e.ErrorCode;
      view.Message = e.ErrorMessage;
      view.Line = e.ErrorLine;
      view.Column = e.ErrorColumn;
    }
    if (procedure != nullptr) {
      if (remote) {
        delete procedure;
      } else {
        auto* local = static_cast<TBRNLocalProcedureManager*>(procedure);
        TBRNLocalProcedureManager::FreeProcedure(local);
      }
    }
    return view;
  }

  TBRNDatabaseManager* Database = nullptr;
};

TEST_F(RemoteProcedureTest, ExecutionsMatchTheLocalSession) {
  struct Case {
    const char* Name;
    std::vector<std::string> Inputs;
  };
  const std::vector<Case> cases = {
      {"Above", {"4", "10", ""}},
      {"Above", {"0", "", "ignored"}},  // INOUT NULL in, OUT given a value
      {"Above", {"6", "1", ""}},        // an open cursor without rows
      // Failures change nothing, so that both sessions meet the same rows.
      {"AddItem", {"1", "5", ""}},    // a key that exists: the INSERT fails
      {"AddItem", {"50", "x5", ""}},  // not a number: the SET fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + c.Inputs[0]);
    const ProcedureView remote = Run(Database, c.Name, c.Inputs, true);
    const ProcedureView local = Run(LocalDatabase, c.Name, c.Inputs, false);
    EXPECT_EQ(remote, local);
  }
  // What the cases show, so that agreeing on nothing does not pass.
  const ProcedureView above = Run(Database, "Above", {"4", "10", ""}, true);
  EXPECT_EQ(above.Values, (std::vector<std::string>{"4", "14", "above 4"}));
  EXPECT_EQ(above.Rows, (std::vector<std::string>{"5|Item 5", "6|Item 6"}));
  const ProcedureView failed = Run(Database, "AddItem", {"1", "5", ""}, true);
  EXPECT_EQ(failed.ErrorCode, 1004);
  EXPECT_EQ(failed.Line, 4);
  EXPECT_EQ(failed.Column, 21);
}

}  // namespace
}  // namespace brn
