// The system information tables of a session's Configuration database:
// registered at open, defined at first lookup, filled as System through the
// table manager at first use and again only once stale (or at every use for
// an always-refresh table), and never changed by other users.
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

constexpr const char* kAdminPassword = "GlenHarbor";

const TBRNSystemTableDefinition probeTable{
    "Probe", {{"Name", dtChar, stDefault, 40, 0, true}}, {{"Name", {"Name"}}}};
const TBRNSystemTableDefinition flakyTable{
    "Flaky", {{"Name", dtChar, stDefault, 40, 0, true}}, {{"Name", {"Name"}}}};

// Inserts one row whose column 1 is name.
void InsertName(TBRNVirtualTableManager& manager, const std::string& name) {
  auto& table = dynamic_cast<TBRNTableManager&>(manager);
  auto buffer = table.NewRowBuffer();
  TBRNRowsetRowValues values(table.GetColumns(), &table);
  values.SetRow(buffer.get());
  values.SetAllNull();
  values.GetItem(1)->SetAsString(name);
  int32_t row = 0, version = 0, counter = 0;
  table.InsertRowWithTriggers(values, row, version, counter);
  values.SetRow(nullptr);
}

// A session that adds an always-refresh table and one whose producer fails
// on demand to its Configuration tables, counting the fills of each.
class ProbeSession : public TBRNLocalSessionManager {
 public:
  explicit ProbeSession(TBRNEngineManager* engine) : TBRNLocalSessionManager(engine, false, true) {}
  ~ProbeSession() override { CloseSession(); }

  int32_t ProbeFills = 0;
  int32_t FlakyFills = 0;
  bool FlakyFails = false;

 protected:
  void RegisterSystemTables() override {
    TBRNLocalSessionManager::RegisterSystemTables();
    RegisterSystemTable(*this, probeTable, true, [this](TBRNVirtualTableManager& manager) {
      ++ProbeFills;
      InsertName(manager, "fill" + std::to_string(ProbeFills));
    });
    RegisterSystemTable(*this, flakyTable, false, [this](TBRNVirtualTableManager& manager) {
      ++FlakyFills;
      InsertName(manager, "half");
      if (FlakyFails) throw EBRNException(1300, "The store cannot be opened");
    });
  }
};

struct SystemTableTest : ::testing::Test {
  SystemTableTest() {
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", kAdminPassword);
  }

  TBRNLocalDatabaseManager& Db() { return *Session->ConfigurationDatabase; }
  TBRNBaseTable* Table(const std::string& name) {
    return static_cast<TBRNBaseTable*>(Db().Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }
  bool Filled(const std::string& name) { return Db().IsSystemTableFilled(Table(name)); }

  // Opens the table as a statement does (which runs the refresh check) and
  // answers column 1 of its rows in primary-key order.
  std::vector<std::string> Read(const std::string& name) {
    auto* manager =
        dynamic_cast<TBRNTableManager*>(Db().OpenSchemaObjectManager("", name, false));
    std::vector<std::string> names;
    TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    bool restart = false;
    for (bool found = keys->First(restart); found; found = keys->Next(restart)) {
      TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
      values.SetRow(row);
      names.push_back(values.GetItem(1)->GetAsString());
      values.SetRow(nullptr);
      manager->ReleaseRow(row);
    }
    manager->Close(false, true);
    return names;
  }

  TestEngine Env;
  std::unique_ptr<ProbeSession> Session = std::make_unique<ProbeSession>(&Env.Engine);
};

TEST_F(SystemTableTest, RegisteredTablesAreDefinedAtTheirFirstLookup) {
  TBRNBaseTable* users = Table("Users");
  ASSERT_NE(users, nullptr);
  EXPECT_TRUE(users->System);
  EXPECT_TRUE(users->ReadOnly);
  EXPECT_TRUE(users->DefinedOnDemand);
  EXPECT_FALSE(users->DefinitionComplete);
  EXPECT_EQ(users->Columns->Count(), 0);
  EXPECT_NE(Table("Roles")->LockNumber, users->LockNumber);

  Read("Users");
  ASSERT_TRUE(users->DefinitionComplete);
  std::vector<std::string> columns;
  for (int32_t i = 0; i < users->Columns->Count(); ++i) columns.push_back(users->Columns->GetItem(i)->Name);
  EXPECT_EQ(columns, (std::vector<std::string>{"__RowID", "Name", "Password", "PasswordLastChanged",
                                               "Description", "Attributes", "CreateSQL", "DropSQL"}));
  EXPECT_EQ(users->BlobBlockSize, 64);
  EXPECT_EQ(users->MaxRowBufferSize, 4096);
  EXPECT_EQ(users->MaxIndexBufferSize, 8192);
  EXPECT_EQ(users->MaxBlobBufferSize, 4096);
  TBRNIndex* nameIndex = static_cast<TBRNIndex*>(users->Indexes->FindByName("Name", true));
  ASSERT_NE(nameIndex, nullptr);
  EXPECT_EQ(nameIndex->IndexType, kIndexOrdinary);
}

TEST_F(SystemTableTest, TablesAreFilledOnceUntilStaleAndAlwaysRefreshOnesAtEveryRead) {
  EXPECT_FALSE(Filled("Users"));
  const std::vector<std::string> first = Read("Users");
  EXPECT_EQ(first, (std::vector<std::string>{"System", "Administrator"}));
  EXPECT_TRUE(Filled("Users"));
  EXPECT_EQ(Read("Users"), first);

  EXPECT_EQ(Read("Probe"), (std::vector<std::string>{"fill1"}));
  EXPECT_EQ(Read("Probe"), (std::vector<std::string>{"fill2"}));
  EXPECT_EQ(Session->ProbeFills, 2);

  const std::vector<std::string> roles = Read("Roles");
  EXPECT_EQ(Read("Roles"), roles);
  EXPECT_FALSE(roles.empty());
}

// Disabled until the table manager's refresh check fills the table when the
// re-read of the configuration it triggers marks the table stale: today that
// read still returns the old rows and only the read after it refills.
TEST_F(SystemTableTest, AUserCreatedByAnotherProcessRefillsUsers) {
  EXPECT_EQ(Read("Users").size(), 2u);
  pid_t pid = fork();
  if (pid == 0) {
    int code = 1;
    try {
      TBRNEngineManager engine;
      engine.Settings->SetConfigPath(Env.Folder.Path);
      TBRNLocalSessionManager other(&engine, false, false);
      other.OpenSession("child", "Other", "");
      other.Login("Administrator", kAdminPassword);
      TBRNUser* user = other.BeginCreateUser("Carl");
      user->SetPassword("pw");
      other.EndCreateUser(user);
      code = 0;
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Read("Users"), (std::vector<std::string>{"System", "Administrator", "Carl"}));
}

TEST_F(SystemTableTest, AFailingProducerFailsTheReadAndTheNextReadTriesAgain) {
  Session->FlakyFails = true;
  try {
    Read("Flaky");
    FAIL() << "the read passed";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 1300);
  }
  EXPECT_FALSE(Filled("Flaky"));
  Session->FlakyFails = false;
  EXPECT_EQ(Read("Flaky"), (std::vector<std::string>{"half"}));
  EXPECT_EQ(Session->FlakyFills, 2);
  EXPECT_TRUE(Filled("Flaky"));
}

TEST_F(SystemTableTest, OnlySystemChangesRows) {
  TBRNUser* ann = Session->BeginCreateUser("Ann");
  ann->SetPassword("pw");
  Session->EndCreateUser(ann);
  Read("Roles");
  auto* manager = dynamic_cast<TBRNTableManager*>(Db().OpenSchemaObjectManager("", "Roles", false));
  struct Case {
    const char* user;
    int32_t code;
  };
  for (Case c : {Case{"Administrator", 503}, Case{"Ann", 503}}) {
    SCOPED_TRACE(c.user);
    Session->PushCurrentUser();
    Session->CurrentUser = static_cast<TBRNUser*>(Session->Config->Users->FindByName(c.user, true));
    int32_t code = 0;
    try {
      InsertName(*manager, "Intruders");
    } catch (const EBRNException& e) {
      code = e.ErrorCode;
    }
    Session->PopCurrentUser();
    EXPECT_EQ(code, c.code);
  }
  manager->Close(false, true);
}

}  // namespace
}  // namespace brn::testing
