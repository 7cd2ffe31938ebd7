// The system information tables of a session's Configuration database:
// registered at open, defined at first lookup, filled as System through the
// table manager at first use and again only once stale (or at every use for
// an always-refresh table), and never changed by other users.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/config/jobs.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/engine_settings.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

constexpr const char* kAdministratorPassword = "GlenHarbor";

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
    Session->Login("Administrator", kAdministratorPassword);
  }

  TBRNLocalDatabaseManager& Db() { return *Session->ConfigurationDatabase; }
  TBRNBaseTable* Table(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db().Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }
  bool Filled(const std::string& name) { return Db().IsSystemTableFilled(Table(name)); }

  // Opens the table as a statement does (which runs the refresh check) and
  // answers the column named column of its rows in primary-key order,
  // nullopt for NULL.
  std::vector<std::optional<std::string>> ReadColumn(const std::string& name,
                                                     const std::string& column) {
    auto* manager = dynamic_cast<TBRNTableManager*>(Db().OpenSchemaObjectManager("", name, false));
    const TBRNConfigObject* found = Table(name)->Columns->FindByName(column, true);
    EXPECT_NE(found, nullptr) << column;
    const int32_t index = found == nullptr ? 1 : found->Index;
    std::vector<std::optional<std::string>> result;
    TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    bool restart = false;
    for (bool more = keys->First(restart); more; more = keys->Next(restart)) {
      TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
      values.SetRow(row);
      TBRNValue* value = values.GetItem(index);
      result.push_back(value->GetNull() ? std::nullopt
                                        : std::optional<std::string>(value->GetAsString()));
      values.SetRow(nullptr);
      manager->ReleaseRow(row);
    }
    manager->Close(false, true);
    return result;
  }
  // Column 1 of the rows, NULL read as an empty text.
  std::vector<std::string> Read(const std::string& name) {
    std::vector<std::string> names;
    for (const auto& value : ReadColumn(name, "Name")) names.push_back(value.value_or(""));
    return names;
  }

  // Makes the session work for the named user, as a request of that
  // user's does; UseSelf returns to the logged-in user.
  void UseUser(const std::string& name) {
    Session->PushCurrentUser();
    Session->CurrentUser = static_cast<TBRNUser*>(Session->Config->Users->FindByName(name, true));
  }
  void UseSelf() { Session->PopCurrentUser(); }
  void AddUser(const std::string& name) {
    TBRNUser* user = Session->BeginCreateUser(name);
    user->SetPassword("pw");
    Session->EndCreateUser(user);
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
  for (int32_t i = 0; i < users->Columns->Count(); ++i)
    columns.push_back(users->Columns->GetItem(i)->Name);
  EXPECT_EQ(columns,
            (std::vector<std::string>{"__RowID", "Name", "Password", "PasswordLastChanged",
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

// The refresh check re-reads the configuration, which a write of another
// process marks stale, so the very next read refills.
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
      other.Login("Administrator", kAdministratorPassword);
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

TEST_F(SystemTableTest, ConfigurationTablesHaveTheirColumnsInOrder) {
  using Names = std::vector<std::string>;
  const Names createDrop{"CreateSQL", "DropSQL"};
  auto with = [](Names names, const Names& tail) {
    names.insert(names.end(), tail.begin(), tail.end());
    return names;
  };
  struct Case {
    const char* table;
    Names columns;
  };
  const Case cases[] = {
      {"DataTypes", {"Name", "Description", "BinarySize"}},
      {"Collations", {"Name", "Description"}},
      {"Modules", with({"Name", "Description", "FilePath", "FileVersion", "FileDescription", "Type",
                        "CharacterSet"},
                       createDrop)},
      {"TextFilters", with({"Name", "Description", "Type", "ModuleName"}, createDrop)},
      {"WordGenerators", with({"Name", "Description", "ModuleName"}, createDrop)},
      {"Migrators", with({"Name", "Description", "ModuleName"}, createDrop)},
      {"Databases", with({"Name", "Description", "Attributes", "Path", "InMemory",
                          "EncryptedCatalog", "DefaultCollation", "CatalogVersion"},
                         createDrop)},
      {"Jobs", with({"Name", "Description", "Attributes", "Version", "Category", "UserName",
                     "StartDate", "EndDate", "Type", "Interval", "Days", "DayNumber", "DayOfMonth",
                     "Months", "StartTime", "EndTime", "Definition", "LastRun", "Enabled"},
                    createDrop)},
      {"Stores",
       with({"Name", "Description", "Attributes", "Type", "Path", "Address", "Host", "Port",
             "Service", "UserName", "Password", "RemoteStore", "Signature", "Encrypted",
             "EncryptionPassword", "Compression", "Timeout", "Ping", "PingInterval"},
            createDrop)},
      {"LogEvents",
       {"Category", "Function", "ErrorCode", "Description", "LogTimeStamp", "Version", "Build",
        "ProductType", "User", "Process", "ThreadID", "SessionID", "SessionName",
        "SessionDescription", "IPAddress", "Encrypted"}},
      {"MigratorParams",
       {"Name", "Mode", "Type", "Collation", "Length", "Precision", "Scale", "DefaultValue",
        "OrdinalPos"}},
      {"MigratorProcedures", {"Name"}},
      {"Backups",
       {"Name", "Description", "DatabaseName", "DatabasePath", "CreatedOn", "CreatedBy",
        "CompressionLevel", "Size", "IncludesCatalog", "CatalogVersion", "NumTables", "Tables"}},
      {"Updates",
       {"Name", "Description", "DatabaseName", "DatabasePath", "CreatedOn", "CreatedBy",
        "CompressionLevel", "Size", "NumTables", "Tables"}},
      {"Files", {"Name", "CreatedOn", "ModifiedOn", "Size"}},
      {"ServerSessions",
       {"ID", "Name", "Description", "Created", "LastConnected", "Connected", "Encrypted",
        "IPAddress", "User", "Process"}},
      {"ServerSessionLocks",
       {"SessionID", "SessionName", "DatabaseName", "ObjectName", "ObjectType", "LockType",
        "Number"}},
      {"ServerSessionStatistics",
       {"SessionID", "SessionName", "DatabaseName", "TableName", "BufferMgr", "MaxBufferSize",
        "CurrentBufferSize", "Hits", "Misses", "HitRatio", "Reads", "BytesRead", "Writes",
        "BytesWritten"}},
      {"UserRoles", with({"Name", "GrantedTo", "GrantedBy"}, createDrop)},
      {"DatabasePrivileges", {"Name", "Privilege", "GrantedTo", "GrantedBy"}},
      {"StorePrivileges", {"Name", "Privilege", "GrantedTo", "GrantedBy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    TBRNBaseTable* table = Table(c.table);
    ASSERT_NE(table, nullptr);
    ReadColumn(c.table, c.columns.front());
    Names columns;
    for (int32_t i = 1; i < table->Columns->Count(); ++i)
      columns.push_back(table->Columns->GetItem(i)->Name);
    EXPECT_EQ(columns, c.columns);
    EXPECT_NE(table->Indexes->FindByName(c.columns.front(), true), nullptr);
  }
  // Widths and collations as declared: the passwords compare with case.
  Read("Stores");
  auto* password = static_cast<TBRNColumn*>(Table("Stores")->Columns->FindByName("Password", true));
  auto* host = static_cast<TBRNColumn*>(Table("Stores")->Columns->FindByName("Host", true));
  EXPECT_EQ(password->Length, 60);
  EXPECT_NE(password->Collation, host->Collation);
  auto* version =
      static_cast<TBRNColumn*>(Table("Databases")->Columns->FindByName("CatalogVersion", true));
  EXPECT_EQ(version->DataType, dtDecimal);
  EXPECT_EQ(version->Scale, 2);
}

TEST_F(SystemTableTest, TypeAndCollationListsAreListed) {
  const std::vector<std::string> types = Read("DataTypes");
  const auto sizes = ReadColumn("DataTypes", "BinarySize");
  ASSERT_EQ(sizes.size(), types.size());
  for (auto [type, size] :
       {std::pair<const char*, const char*>{"Integer", "4"}, {"VarChar", "0"}}) {
    SCOPED_TRACE(type);
    const auto found = std::find(types.begin(), types.end(), type);
    ASSERT_NE(found, types.end());
    EXPECT_EQ(sizes[static_cast<size_t>(found - types.begin())], std::optional<std::string>(size));
  }
  EXPECT_FALSE(Read("Collations").empty());
  EXPECT_EQ(Read("WordGenerators"), (std::vector<std::string>{"Default"}));
  EXPECT_EQ(ReadColumn("WordGenerators", "ModuleName"),
            (std::vector<std::optional<std::string>>{std::nullopt}));
}

TEST_F(SystemTableTest, UserPasswordsShowOnlyWhenTheSettingIsOn) {
  EXPECT_EQ(ReadColumn("Users", "Password"),
            (std::vector<std::optional<std::string>>{Session->Config->SystemUser->Password,
                                                     std::string(kAdministratorPassword)}));
  // The setting is taken from the engine when a session starts.
  Session.reset();
  Env.Engine.Settings->SetShowUserPasswords(false);
  Session = std::make_unique<ProbeSession>(&Env.Engine);
  Session->OpenSession("host", "Tester", "");
  Session->Login("Administrator", kAdministratorPassword);
  EXPECT_EQ(ReadColumn("Users", "Password"),
            (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
}

TEST_F(SystemTableTest, ANonAdministratorSeesHimselfAndNoJobs) {
  AddUser("Ann");
  TBRNJob* job = Session->BeginCreateJob("Nightly");
  job->SetRunAsUser(Session->Config->AdministratorUser);
  job->SetScheduleType(jsMonthly);
  job->SetOrdinal(5);
  job->SetWeekday(5);
  job->SetMonth(1, true);
  job->SetMonth(12, true);
  job->SetEndDate(99999999);
  job->SetEndTime(86399999);
  job->Body->SetText("JOB \"Nightly\" BEGIN END");
  Session->EndCreateJob(job);

  EXPECT_EQ(Read("Jobs"), (std::vector<std::string>{"Nightly"}));
  using Values = std::vector<std::optional<std::string>>;
  EXPECT_EQ(ReadColumn("Jobs", "Type"), Values{"Monthly"});
  EXPECT_EQ(ReadColumn("Jobs", "DayOfMonth"), Values{"Last Fri"});
  EXPECT_EQ(ReadColumn("Jobs", "DayNumber"), Values{std::nullopt});
  EXPECT_EQ(ReadColumn("Jobs", "Months"), Values{"Jan, Dec"});
  EXPECT_EQ(ReadColumn("Jobs", "Days"), Values{std::nullopt});
  EXPECT_EQ(ReadColumn("Jobs", "UserName"), Values{"Administrator"});

  UseUser("Ann");
  Db().SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
  EXPECT_EQ(Read("Users"), (std::vector<std::string>{"Ann"}));
  EXPECT_TRUE(Read("Jobs").empty());
  UseSelf();
}

TEST_F(SystemTableTest, OnlyErrorEventsShowTheirCode) {
  Session->WriteLogEvent(lcWarning, 0, 1300, "A warning with a code");
  Session->WriteLogEvent(lcError, 0, 1300, "An error");
  const auto categories = ReadColumn("LogEvents", "Category");
  const auto codes = ReadColumn("LogEvents", "ErrorCode");
  const auto texts = ReadColumn("LogEvents", "Description");
  ASSERT_GE(categories.size(), 2u);
  const size_t last = categories.size() - 1;
  EXPECT_EQ(categories[last - 1], std::optional<std::string>("Warning"));
  EXPECT_EQ(texts[last - 1], std::optional<std::string>("A warning with a code"));
  EXPECT_EQ(codes[last - 1], std::nullopt);
  EXPECT_EQ(categories[last], std::optional<std::string>("Error"));
  EXPECT_EQ(codes[last], std::optional<std::string>("1300"));
}

TEST_F(SystemTableTest, DatabasesLeaveOutTheSessionsOwn) {
  TBRNDatabaseContainer* database = Session->BeginCreateDatabase("Sales");
  database->InMemory = true;
  Session->EndCreateDatabase(database);
  EXPECT_EQ(Read("Databases"), (std::vector<std::string>{"Sales"}));
  using Values = std::vector<std::optional<std::string>>;
  EXPECT_EQ(ReadColumn("Databases", "Description"), Values{std::nullopt});
  EXPECT_EQ(ReadColumn("Databases", "InMemory"), Values{"TRUE"});
}

TEST_F(SystemTableTest, StoreSecretsAreCutToWidthAndHiddenFromOtherUsers) {
  const std::string password(70, 'p');
  TBRNStore* store = Session->BeginCreateStore("Remote");
  store->SetStoreType(kRemoteStore);
  store->SetHost("backup.example");
  store->SetPassword(password);
  store->SetSignature("mark");
  Session->EndCreateStore(store);
  AddUser("Ann");
  Session->GrantPrivilege("Ann", "Remote", 1, pkSelect);

  using Values = std::vector<std::optional<std::string>>;
  EXPECT_EQ(ReadColumn("Stores", "Password"), Values{password.substr(0, 60)});
  EXPECT_EQ(ReadColumn("Stores", "Type"), Values{"Remote"});
  EXPECT_EQ(ReadColumn("Stores", "Host"), Values{"backup.example"});
  EXPECT_NE(ReadColumn("Stores", "CreateSQL"), Values{std::nullopt});

  UseUser("Ann");
  Db().SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
  EXPECT_EQ(Read("Stores"), (std::vector<std::string>{"Remote"}));
  for (const char* column : {"Password", "EncryptionPassword", "Signature", "CreateSQL"}) {
    SCOPED_TRACE(column);
    EXPECT_EQ(ReadColumn("Stores", column), Values{std::nullopt});
  }
  EXPECT_EQ(ReadColumn("Stores", "Host"), Values{"backup.example"});
  UseSelf();
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

// The Configuration tables join the catalog in one write, or not at all.
TEST(ConfigurationTableRegistration, OneCatalogWriteForAllOrNone) {
  TestEngine env;
  struct Outcome {
    int32_t Writes = 0;
    bool Failed = false;
  };
  auto registerAll = [&env](bool failWrite) {
    std::unique_ptr<TBRNLocalSessionManager> session = env.OpenSession("Bare");
    TBRNLocalDatabaseManager& db = *session->ConfigurationDatabase;
    auto& tables = *db.Catalog->DefaultSchema->BaseTables;
    const int32_t before = tables.Count();
    Outcome outcome;
    auto stamp = db.CatalogManager->OnBeforeSave;
    db.CatalogManager->OnBeforeSave = [&](TBRNLockableConfigObject* root) {
      ++outcome.Writes;
      if (failWrite) throw EBRNException(100, "The catalog cannot be written");
      if (stamp) stamp(root);
    };
    TBRNDatabaseContainer& entry = *session->Config->ConfigurationDatabase;
    entry.ReadOnly = false;
    try {
      TBRNSystemUserScope asSystem(*session);
      RegisterConfigurationTables(*session);
    } catch (const EBRNException&) {
      outcome.Failed = true;
    }
    entry.ReadOnly = true;
    db.CatalogManager->OnBeforeSave = stamp;
    TBRNBaseTable* users = db.SystemTables.FindByName(TBRNSystemTableKind::Configuration, "Users");
    if (outcome.Failed) {
      EXPECT_EQ(tables.Count(), before) << "a failed registration leaves no table";
      EXPECT_EQ(users, nullptr);
    } else {
      EXPECT_GT(tables.Count(), before + 20);
      EXPECT_NE(users, nullptr);
    }
    return outcome;
  };
  Outcome done = registerAll(false);
  EXPECT_FALSE(done.Failed);
  EXPECT_EQ(done.Writes, 1);
  Outcome failed = registerAll(true);
  EXPECT_TRUE(failed.Failed);
  EXPECT_EQ(failed.Writes, 1);
}

}  // namespace
}  // namespace brn::testing
