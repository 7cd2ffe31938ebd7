// The tables of the Configuration database that list grants, the stores'
// files, the current migrator and the server's sessions with their locks
// and statistics.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/stores/store_test_support.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/files/table_file.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

constexpr const char* kAdminPassword = "GlenHarbor";

using Values = std::vector<std::optional<std::string>>;

// A session of a server's client: its client fields are set as the
// connection sets them.
class ClientSession : public TBRNLocalSessionManager {
 public:
  ClientSession(TBRNEngineManager* engine, bool registerTables)
      : TBRNLocalSessionManager(engine, false, registerTables, true) {}

  void Rename(const std::string& name, const std::string& description) {
    SessionName = name;
    SessionDescription = description;
    PublishSessionFields();
  }
  void Connect(const std::string& address) {
    SessionInfo->Update([&address](TBRNSessionInfo& info) {
      info.IPAddress = address;
      info.Connected = true;
    });
  }
};

struct ConfigTablesTest : ::testing::Test {
  ConfigTablesTest() {
    Session->OpenSession("host", "Tester", "");
    Session->Login("Administrator", kAdminPassword);
  }

  TBRNLocalDatabaseManager& Db() { return *Session->ConfigurationDatabase; }
  TBRNBaseTable* Table(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db().Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }

  // Opens the table as a statement does (which runs the refresh check) and
  // answers the named columns (empty: the first defined one) of its rows in
  // primary-key order, nullopt for NULL.
  std::vector<Values> ReadRows(const std::string& name, const std::vector<std::string>& columns) {
    auto* manager = dynamic_cast<TBRNTableManager*>(Db().OpenSchemaObjectManager("", name, false));
    std::vector<int32_t> indexes;
    for (const std::string& column : columns) {
      int32_t index = 1;
      if (!column.empty()) {
        const TBRNConfigObject* found = Table(name)->Columns->FindByName(column, true);
        EXPECT_NE(found, nullptr) << column;
        if (found != nullptr) index = found->Index;
      }
      indexes.push_back(index);
    }
    std::vector<Values> rows;
    TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    bool restart = false;
    for (bool more = keys->First(restart); more; more = keys->Next(restart)) {
      TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
      values.SetRow(row);
      Values fields;
      for (int32_t index : indexes) {
        TBRNValue* value = values.GetItem(index);
        fields.push_back(value->GetNull() ? std::nullopt
                                          : std::optional<std::string>(value->GetAsString()));
      }
      rows.push_back(std::move(fields));
      values.SetRow(nullptr);
      manager->ReleaseRow(row);
    }
    manager->Close(false, true);
    return rows;
  }
  Values ReadColumn(const std::string& name, const std::string& column) {
    Values result;
    for (Values& row : ReadRows(name, {column})) result.push_back(std::move(row.front()));
    return result;
  }
  // The error code of reading the table, 0 when the read passes.
  int32_t ReadError(const std::string& name) {
    try {
      ReadColumn(name, "");
    } catch (const EBRNException& e) {
      return e.ErrorCode;
    }
    return 0;
  }

  // The session works for the named user until UseSelf.
  void UseUser(const std::string& name) {
    Session->PushCurrentUser();
    Session->CurrentUser = static_cast<TBRNUser*>(Session->Config->Users->FindByName(name, true));
    Db().SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
  }
  void UseSelf() {
    Session->PopCurrentUser();
    Db().SystemTables.Invalidate(TBRNSystemTableKind::Configuration);
  }
  void AddUser(const std::string& name) {
    TBRNUser* user = Session->BeginCreateUser(name);
    user->SetPassword("pw");
    Session->EndCreateUser(user);
  }
  void AddLocalStore(const std::string& name, const std::string& path) {
    TBRNStore* store = Session->BeginCreateStore(name);
    store->SetStoreType(kLocalStore);
    store->SetPath(path);
    Session->EndCreateStore(store);
  }
  void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session =
      std::make_unique<TBRNLocalSessionManager>(&Env.Engine, false, true);
};

TEST_F(ConfigTablesTest, TheTablesAreRegisteredInOrderWithTheirRefreshMarks) {
  struct Case {
    const char* name;
    bool alwaysRefresh;
  };
  const Case cases[] = {
      {"DataTypes", false},
      {"Collations", false},
      {"Modules", false},
      {"TextFilters", false},
      {"WordGenerators", false},
      {"Migrators", false},
      {"MigratorParams", false},
      {"MigratorTables", false},
      {"MigratorViews", false},
      {"MigratorFunctions", false},
      {"MigratorProcedures", false},
      {"LogEvents", false},
      {"Backups", true},
      {"ServerSessions", true},
      {"ServerSessionLocks", true},
      {"ServerSessionStatistics", true},
      {"Updates", true},
      {"Users", false},
      {"Roles", false},
      {"UserRoles", false},
      {"Databases", false},
      {"DatabasePrivileges", false},
      {"Jobs", true},
      {"Stores", false},
      {"Files", true},
      {"StorePrivileges", false},
      {"SQLTypes", false},
  };
  TBRNConfigObjects* tables = Db().Catalog->DefaultSchema->BaseTables.get();
  ASSERT_EQ(tables->Count(), int32_t(std::size(cases)));
  for (int32_t i = 0; i < int32_t(std::size(cases)); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    TBRNConfigObject* table = tables->GetItem(i);
    EXPECT_EQ(table->Name, c.name);
    EXPECT_EQ(Db().IsSystemTableRefreshable(table), c.alwaysRefresh);
    EXPECT_EQ(Db().GetSystemTableKind(table), TBRNSystemTableKind::Configuration);
  }
}

TEST_F(ConfigTablesTest, GrantListingsShowAPlainUserOnlyHisOwnGrants) {
  AddUser("Ann");
  AddUser("Bob");
  TBRNRole* clerks = Session->BeginCreateRole("Clerks");
  Session->EndCreateRole(clerks);
  Session->GrantRole("Clerks", "Ann");
  TBRNDatabaseContainer* sales = Session->BeginCreateDatabase("Sales");
  sales->InMemory = true;
  Session->EndCreateDatabase(sales);
  Session->GrantPrivilege("Clerks", "Sales", 0, pkSelect);
  Session->GrantPrivilege("Bob", "Sales", 0, pkSelect);
  AddLocalStore("Archive", "archive");
  Session->GrantPrivilege("Ann", "Archive", 1, pkSelect);
  Session->GrantPrivilege("Bob", "Archive", 1, pkSelect);

  // An administrator sees every grant, in grant order.
  const Values userRoleNames = ReadColumn("UserRoles", "Name");
  const Values grantedTo = ReadColumn("UserRoles", "GrantedTo");
  ASSERT_EQ(userRoleNames.size(), grantedTo.size());
  bool annIsClerk = false;
  for (size_t i = 0; i < userRoleNames.size(); ++i)
    annIsClerk = annIsClerk || (userRoleNames[i] == "Clerks" && grantedTo[i] == "Ann");
  EXPECT_TRUE(annIsClerk);
  const Values grantees = ReadColumn("DatabasePrivileges", "GrantedTo");
  EXPECT_NE(std::find(grantees.begin(), grantees.end(), "Bob"), grantees.end());
  EXPECT_NE(std::find(grantees.begin(), grantees.end(), "Administrators"), grantees.end());

  // Ann sees her own roles and the grants to her and her roles only.
  UseUser("Ann");
  EXPECT_EQ(ReadColumn("UserRoles", "GrantedTo"), (Values{"Ann", "Ann"}));
  EXPECT_EQ(ReadColumn("UserRoles", "Name"), (Values{"Public", "Clerks"}));
  EXPECT_EQ(ReadColumn("UserRoles", "GrantedBy"), (Values{"Administrator", "Administrator"}));
  EXPECT_EQ(ReadColumn("UserRoles", "CreateSQL"),
            (Values{"GRANT \"Public\" TO \"Ann\"", "GRANT \"Clerks\" TO \"Ann\""}));
  // Public holds the default grant, which Ann holds through her role.
  EXPECT_EQ(ReadRows("DatabasePrivileges", {"Name", "Privilege", "GrantedTo", "GrantedBy"}),
            (std::vector<Values>{{"Sales", "Select", "Public", "System"},
                                 {"Sales", "Select", "Clerks", "Administrator"}}));
  EXPECT_EQ(ReadRows("StorePrivileges", {"Name", "GrantedTo"}),
            (std::vector<Values>{{"Archive", "Public"}, {"Archive", "Ann"}}));
  UseSelf();
}

TEST_F(ConfigTablesTest, StoreFileTablesListTheCurrentStoresFiles) {
  AddLocalStore("Vault", "vault");
  const std::string vault = Env.Folder.Path + "/vault/";
  WriteFile(vault + "Monday.BRNBkp", BackupFile({{"Customers", 8192}, {"Orders", 4096}}, 20500));
  WriteFile(vault + "Tuesday.BRNBkp", BackupFile({{"Customers", 8192}}));
  WriteFile(vault + "Weekly.BRNUpd", UpdateFile({{"Orders", 100}}));
  WriteFile(vault + "notes.txt", "plain");

  for (const char* table : {"Backups", "Updates", "Files"}) {
    SCOPED_TRACE(table);
    EXPECT_TRUE(ReadColumn(table, "Name").empty());
  }
  Session->SetBackupsStore("Vault");
  EXPECT_EQ(ReadColumn("Backups", "Name"), (Values{"Monday", "Tuesday"}));
  EXPECT_EQ(ReadColumn("Backups", "DatabaseName"), (Values{"Sales", "Sales"}));
  EXPECT_EQ(ReadColumn("Backups", "Description"), (Values{"Nightly", "Nightly"}));
  EXPECT_EQ(ReadColumn("Backups", "NumTables"), (Values{"2", "1"}));
  EXPECT_EQ(ReadColumn("Backups", "Tables"), (Values{"Customers\r\nOrders", "Customers"}));
  EXPECT_EQ(ReadColumn("Backups", "IncludesCatalog"), (Values{"TRUE", "FALSE"}));
  EXPECT_EQ(ReadColumn("Backups", "CatalogVersion"), (Values{"2.05", "0.00"}));

  Session->SetUpdatesStore("Vault");
  EXPECT_EQ(ReadColumn("Updates", "Name"), (Values{"Weekly"}));
  EXPECT_EQ(ReadColumn("Updates", "DatabasePath"), (Values{std::nullopt}));
  EXPECT_EQ(ReadColumn("Updates", "CreatedBy"), (Values{"Clerk"}));

  Session->SetFilesStore("Vault");
  std::vector<Values> files = ReadRows("Files", {"Name", "Size"});
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0][0], "Monday.BRNBkp");
  EXPECT_EQ(files[3], (Values{"notes.txt", "5"}));

  // Always refreshed: a new file shows at the next read.
  WriteFile(vault + "Wednesday.BRNBkp", BackupFile({{"Orders", 4096}}));
  EXPECT_EQ(ReadColumn("Backups", "Name"), (Values{"Monday", "Tuesday", "Wednesday"}));
}

TEST_F(ConfigTablesTest, AStoreThatCannotBeOpenedFailsTheReadUntilItCan) {
  // The store's folder would lie below a plain file, so it cannot be made.
  const std::string blocker = Env.Folder.Path + "/blocked";
  WriteFile(blocker, "x");
  AddLocalStore("Blocked", "blocked/backups");
  Session->SetBackupsStore("Blocked");
  EXPECT_EQ(ReadError("Backups"), 401);
  EXPECT_FALSE(Db().IsSystemTableFilled(Table("Backups")));

  std::filesystem::remove(blocker);
  EXPECT_EQ(ReadError("Backups"), 0);
  EXPECT_TRUE(ReadColumn("Backups", "Name").empty());
  EXPECT_TRUE(std::filesystem::is_directory(Env.Folder.Path + "/blocked/backups"));
}

// Without a module that loads, the tables show only that SET MIGRATOR
// makes them stale and that a migrator that cannot be opened fails the read.
TEST_F(ConfigTablesTest, MigratorTablesFollowTheCurrentMigrator) {
  TBRNModule* module = Session->BeginCreateModule("Missing");
  module->SetPath("libmissing.so");
  Session->EndCreateModule(module);
  TBRNMigrator* migrator = Session->BeginCreateMigrator("Legacy");
  migrator->ModuleName = "Missing";
  Session->EndCreateMigrator(migrator);
  const char* const tables[] = {"MigratorParams", "MigratorTables", "MigratorViews",
                                "MigratorFunctions", "MigratorProcedures"};
  for (const char* table : tables) {
    SCOPED_TRACE(table);
    EXPECT_TRUE(ReadColumn(table, "Name").empty());
    EXPECT_TRUE(Db().IsSystemTableFilled(Table(table)));
  }
  Session->SetMigrator("Legacy");
  for (const char* table : tables) {
    SCOPED_TRACE(table);
    EXPECT_NE(ReadError(table), 0);
    EXPECT_FALSE(Db().IsSystemTableFilled(Table(table)));
  }
  Session->SetMigrator("");
  for (const char* table : tables) {
    SCOPED_TRACE(table);
    EXPECT_TRUE(ReadColumn(table, "Name").empty());
  }
}

// The test migrator module of the module tests.
std::string TestMigratorModule() { return BRN_TEST_MIGRATOR_MODULE; }

// The module has one input parameter "Source" CHAR(64) holding "demo.db",
// one source table and no view names (that export is missing).
TEST_F(ConfigTablesTest, MigratorTablesListTheCurrentMigratorsParametersAndObjects) {
  const std::string path = TestMigratorModule();
  TBRNModule* module = Session->BeginCreateModule("Importer");
  module->SetPath(path);
  Session->EndCreateModule(module);
  TBRNMigrator* migrator = Session->BeginCreateMigrator("FromDemo");
  migrator->ModuleName = "Importer";
  Session->EndCreateMigrator(migrator);
  Session->SetMigrator("FromDemo");

  EXPECT_EQ(ReadRows("MigratorParams", {"Name", "Mode", "Length", "Precision", "Scale",
                                        "DefaultValue", "OrdinalPos"}),
            (std::vector<Values>{
                {"Source", "In", "64", std::nullopt, std::nullopt, "demo.db", "0"}}));
  EXPECT_NE(ReadColumn("MigratorParams", "Collation"), (Values{std::nullopt}));
  EXPECT_EQ(ReadColumn("MigratorTables", "Name"), (Values{"Customers"}));
  EXPECT_NE(ReadError("MigratorViews"), 0);
}

// ---- The server's state

// A table with an ID column opened (Shared) in database, whose files are
// made at the open.
TBRNTableManager* OpenTable(TBRNLocalDatabaseManager& database, const std::string& name) {
  TBRNCatalog& catalog = *database.Catalog;
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = name;
  auto column = std::make_unique<TBRNColumn>(&catalog);
  column->Name = "ID";
  column->SetDataType(dtInteger);
  table->Columns->AddObject(column.release());
  table->SetLockNumber(catalog.NextTableLockNumber());
  catalog.DefaultSchema->BaseTables->AddObject(table.get());
  TBRNBaseTable* added = table.release();
  added->Validate();
  added->UpdateStructureChecksum();
  auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(added));
  manager->SetCreatingFiles(true);
  database.TableManagers->OpenManager(added, kBRNLockTypeShared);
  manager->SetCreatingFiles(false);
  return manager;
}

TEST_F(ConfigTablesTest, AnEngineWithoutServerSessionsShowsNoServerState) {
  auto other = Env.OpenSession("Other");
  other->Login("Administrator", kAdminPassword);
  TBRNLocalDatabaseManager* shop = other->GetDatabaseManager(AddDatabase(*other, "Shop", "Shop"));
  shop->OpenDatabase(1);
  OpenTable(*shop, "Items");
  for (const char* table : {"ServerSessions", "ServerSessionLocks", "ServerSessionStatistics"}) {
    SCOPED_TRACE(table);
    EXPECT_TRUE(ReadColumn(table, "").empty());
  }
}

TEST_F(ConfigTablesTest, ServerSessionsListsTheClientSessionsAtEveryRead) {
  ClientSession first(&Env.Engine, false);
  first.OpenSession("client-a:17", "Reports", "Nightly reports");
  first.Connect("10.0.0.7");
  first.Login("Administrator", kAdminPassword);
  ClientSession second(&Env.Engine, false);
  second.OpenSession("client-b:9", "Entry", "");

  EXPECT_EQ(ReadColumn("ServerSessions", "ID"),
            (Values{std::to_string(first.Handle), std::to_string(second.Handle)}));
  EXPECT_EQ(ReadColumn("ServerSessions", "Name"), (Values{"Reports", "Entry"}));
  EXPECT_EQ(ReadColumn("ServerSessions", "Description"), (Values{"Nightly reports", std::nullopt}));
  EXPECT_EQ(ReadColumn("ServerSessions", "User"), (Values{"Administrator", std::nullopt}));
  EXPECT_EQ(ReadColumn("ServerSessions", "Process"), (Values{"client-a:17", "client-b:9"}));
  EXPECT_EQ(ReadColumn("ServerSessions", "IPAddress"), (Values{"10.0.0.7", ""}));
  EXPECT_EQ(ReadColumn("ServerSessions", "Connected"), (Values{"TRUE", "FALSE"}));

  // No change of the configuration, yet the next read shows the login.
  second.Login("Administrator", kAdminPassword);
  EXPECT_EQ(ReadColumn("ServerSessions", "User"), (Values{"Administrator", "Administrator"}));

  // A busy session (its request holds its lock) neither delays nor fails
  // the read.
  ASSERT_TRUE(first.TryLockSession(1, 0));
  EXPECT_EQ(ReadColumn("ServerSessions", "Name"), (Values{"Reports", "Entry"}));
  first.UnlockSession();
}

TEST_F(ConfigTablesTest, LockAndStatisticsTablesSnapshotEachServerSessionUnderItsLock) {
  ClientSession client(&Env.Engine, false);
  client.OpenSession("client-a:17", "Reports", "");
  client.Login("Administrator", kAdminPassword);
  TBRNLocalDatabaseManager* shop = client.GetDatabaseManager(AddDatabase(client, "Shop", "Shop"));
  shop->OpenDatabase(1);
  TBRNTableManager* items = OpenTable(*shop, "Items");
  for (TBRNTableFileManager* file : items->GetFiles()) {
    file->CacheHits = 3;
    file->CacheMisses = 1;
  }

  const std::string id = std::to_string(client.Handle);
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "SessionID"), (Values{id, id}));
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "SessionName"), (Values{"Reports", "Reports"}));
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "ObjectName"), (Values{"Shop", "Items"}));
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "ObjectType"), (Values{"Database", "Table"}));
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "LockType"), (Values{"Shared", "Shared"}));
  EXPECT_EQ(ReadColumn("ServerSessionLocks", "Number"), (Values{std::nullopt, std::nullopt}));
  EXPECT_EQ(client.LockList.Count(), 0);

  EXPECT_EQ(ReadColumn("ServerSessionStatistics", "TableName"), (Values{"Items", "Items"}));
  EXPECT_EQ(ReadColumn("ServerSessionStatistics", "BufferMgr"), (Values{"Rows", "Indexes"}));
  EXPECT_EQ(ReadColumn("ServerSessionStatistics", "HitRatio"), (Values{"0.75", "0.75"}));
  EXPECT_EQ(client.StatisticsList.Count(), 0);

  // The reads released exactly the lock they took.
  ASSERT_TRUE(client.TryLockSession(1, 0));
  client.UnlockSession();
}

// Client sessions change their name, description and user on their own
// threads while this session reads "ServerSessions": every row read is one
// that a session published, never a torn one.
TEST_F(ConfigTablesTest, ServerSessionsIsReadWhileTheSessionsChangeOnOtherThreads) {
  constexpr int kClients = 3;
  std::vector<std::unique_ptr<ClientSession>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<ClientSession>(&Env.Engine, false));
    clients.back()->OpenSession("client:" + std::to_string(i), "Idle", "");
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&stop, client = clients[size_t(i)].get()] {
      for (int round = 0; !stop.load(); ++round) {
        const std::string tag = std::to_string(round % 7);
        client->Rename("Busy" + tag, "Working on " + tag);
        client->Login("Administrator", kAdminPassword);
        client->Rename("Idle", "");
        client->Logout();
      }
    });
  }
  for (int read = 0; read < 30; ++read) {
    const std::vector<Values> rows = ReadRows("ServerSessions", {"Name", "Description"});
    ASSERT_EQ(rows.size(), size_t(kClients));
    for (const Values& row : rows) {
      ASSERT_TRUE(row[0].has_value());
      const std::string& name = *row[0];
      if (name == "Idle") {
        EXPECT_EQ(row[1], std::nullopt);
      } else {
        ASSERT_EQ(name.rfind("Busy", 0), 0u) << name;
        EXPECT_EQ(row[1], std::optional<std::string>("Working on " + name.substr(4)));
      }
    }
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();
}

}  // namespace
}  // namespace brn::testing
