// The configuration statements run through statement handles: definitions
// with their clauses and defaults, rights, roll-back of a failed definition,
// grants, jobs and server sessions.
#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/execution_test_support.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/jobs.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/modules/module.h"
#include "sessions/local/config_manager.h"
#include "storage/files/table_file.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {
namespace {

struct ConfigWorkspace : StatementWorkspace {
  template <typename T>
  T* Find(TBRNConfigObjects& collection, const std::string& name) {
    return static_cast<T*>(collection.FindByName(name, false));
  }
  TBRNUser* User(const std::string& name) { return Find<TBRNUser>(*Config().Users, name); }
  TBRNRole* Role(const std::string& name) { return Find<TBRNRole>(*Config().Roles, name); }
  TBRNDatabaseContainer* Database(const std::string& name) {
    return Find<TBRNDatabaseContainer>(*Config().Databases, name);
  }
  TBRNStore* Store(const std::string& name) { return Find<TBRNStore>(*Config().Stores, name); }
  TBRNJob* Job(const std::string& name) { return Find<TBRNJob>(*Config().Jobs, name); }
  void RunAll(const std::vector<std::string>& statements) {
    for (const std::string& sql : statements) {
      SCOPED_TRACE(sql);
      auto outcome = Outcome([&] { Execute(*Session, sql); });
      ASSERT_EQ(outcome.first, 0) << outcome.second;
    }
  }
};

struct ConfigStatementTest : ::testing::Test, ConfigWorkspace {};

constexpr const char* kJobTimes =
    " FROM DATE '2026-01-01' TO DATE '2026-12-31' %s BETWEEN TIME '01:00:00' AND "
    "TIME '02:00:00' BEGIN END";

std::string JobStatement(const std::string& head, const std::string& schedule) {
  std::string times(kJobTimes);
  times.replace(times.find("%s"), 2, schedule);
  return head + " RUN AS Administrator" + times;
}

TEST_F(ConfigStatementTest, AdministratorDefinesEveryObjectAndANewProcessSeesExactlyThem) {
  RunAll({
      "CREATE USER Ann PASSWORD 'a1' DESCRIPTION 'First'",
      "CREATE USER Bob PASSWORD 'b1'",
      "CREATE USER Gone PASSWORD 'g1'",
      "ALTER USER Ann PASSWORD 'a2' DESCRIPTION 'Changed'",
      "RENAME USER Bob TO Bert",
      "DROP USER Gone",
      "CREATE ROLE Clerks",
      "CREATE ROLE Temp",
      "CREATE ROLE Old",
      "ALTER ROLE Clerks DESCRIPTION 'Office'",
      "RENAME ROLE Temp TO Staff",
      "DROP ROLE Old",
      "CREATE DATABASE Sales PATH 'sales' DESCRIPTION 'S'",
      "CREATE DATABASE Tmp IN MEMORY",
      "CREATE DATABASE Old IN MEMORY",
      "ALTER DATABASE Sales PATH 'sales' DESCRIPTION 'Sales data'",
      "RENAME DATABASE Tmp TO Scratch",
      "DROP DATABASE Old",
      "CREATE STORE Backups AS LOCAL PATH 'backups'",
      "CREATE STORE Spare AS LOCAL PATH 'spare'",
      "CREATE STORE Gone AS LOCAL PATH 'gone'",
      "ALTER STORE Backups AS LOCAL PATH 'backups' DESCRIPTION 'Nightly'",
      "RENAME STORE Spare TO Extra",
      "DROP STORE Gone",
      JobStatement("CREATE JOB Nightly", "DAILY"),
      JobStatement("CREATE JOB Weekly", "WEEKLY ON Mon"),
      JobStatement("CREATE JOB Gone", "ONCE"),
      JobStatement("ALTER JOB Nightly", "HOURLY ON Tue"),
      "RENAME JOB Weekly TO Sundays",
      "DROP JOB Gone",
      "GRANT Clerks TO Ann",
      "GRANT Staff TO Ann, Bert",
      "REVOKE Staff FROM Bert",
      "GRANT CREATE, DROP ON DATABASE Sales TO Ann",
      "REVOKE DROP ON DATABASE Sales FROM Ann",
  });
  if (HasFatalFailure()) return;

  const std::string folder = Env.Folder.Path;
  // Each check that fails sets its bit in the child's exit code.
  pid_t child = Fork([folder]() -> int {
    TBRNEngineManager engine;
    engine.Settings->SetConfigPath(folder);
    auto session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    session->OpenSession("host", "Child", "");
    session->Login("Ann", "a2");
    TBRNConfig& config = *session->Config;
    const auto has = [](TBRNConfigObjects& list, const char* name) {
      return list.FindByName(name, false) != nullptr;
    };
    int failures = 0;
    auto* ann = static_cast<TBRNUser*>(config.Users->FindByName("Ann", false));
    if (ann == nullptr || ann->Description != "Changed" || !has(*config.Users, "Bert") ||
        has(*config.Users, "Bob") || has(*config.Users, "Gone"))
      failures |= 1;
    auto* clerks = static_cast<TBRNRole*>(config.Roles->FindByName("Clerks", false));
    if (clerks == nullptr || clerks->Description != "Office" || !has(*config.Roles, "Staff") ||
        has(*config.Roles, "Temp") || has(*config.Roles, "Old"))
      failures |= 2;
    auto* sales = static_cast<TBRNDatabaseContainer*>(config.Databases->FindByName("Sales", false));
    if (sales == nullptr || sales->Description != "Sales data" ||
        !has(*config.Databases, "Scratch") || has(*config.Databases, "Tmp") ||
        has(*config.Databases, "Old"))
      failures |= 4;
    auto* backups = static_cast<TBRNStore*>(config.Stores->FindByName("Backups", false));
    if (backups == nullptr || backups->Description != "Nightly" || !has(*config.Stores, "Extra") ||
        has(*config.Stores, "Spare") || has(*config.Stores, "Gone"))
      failures |= 8;
    auto* nightly = static_cast<TBRNJob*>(config.Jobs->FindByName("Nightly", false));
    if (nightly == nullptr || nightly->ScheduleType != jsHourly || !nightly->GetDay(2) ||
        nightly->GetDay(1) || !has(*config.Jobs, "Sundays") || has(*config.Jobs, "Weekly") ||
        has(*config.Jobs, "Gone"))
      failures |= 16;
    auto* bert = static_cast<TBRNUser*>(config.Users->FindByName("Bert", false));
    auto* staff = static_cast<TBRNRole*>(config.Roles->FindByName("Staff", false));
    if (ann == nullptr || bert == nullptr || !ann->HasRole(clerks) || !ann->HasRole(staff) ||
        bert->HasRole(staff))
      failures |= 32;
    if (sales == nullptr || ann == nullptr || sales->FindGrant(ann, pkCreate) < 0 ||
        sales->FindGrant(ann, pkDrop) >= 0)
      failures |= 64;
    return failures;
  });
  EXPECT_EQ(Wait(child), 0);
}

TEST_F(ConfigStatementTest, NonAdministratorCreateUserChangesNothingAndLogsOnce) {
  RunAll({"CREATE USER Clerk PASSWORD 'pw'"});
  std::unique_ptr<TBRNLocalSessionManager> clerk = OtherSession("Clerk", "pw");
  const std::string before = ConfigFileBytes();
  const size_t logged = ReadLog(*clerk).size();
  auto outcome = Outcome([&] { Execute(*clerk, "CREATE USER Eve PASSWORD 'x'"); });
  EXPECT_EQ(outcome.first, 502);
  EXPECT_EQ(outcome.second,
            "Administrator privileges are required to perform this operation (CREATE USER Eve)");
  EXPECT_EQ(ConfigFileBytes(), before);
  std::vector<TBRNLogEvent> errors = ErrorsAfter(*clerk, logged);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Function, 60);
  EXPECT_EQ(errors[0].ErrorCode, 502);
}

TEST_F(ConfigStatementTest, AFailingClauseRollsTheWorkingObjectBack) {
  RunAll({"CREATE USER Ann PASSWORD 'a1' DESCRIPTION 'First'"});
  const std::string before = ConfigFileBytes();
  for (const char* sql : {"CREATE USER Eve PASSWORD '' DESCRIPTION 'Never'",
                          "ALTER USER Ann PASSWORD '' DESCRIPTION 'Changed'"}) {
    SCOPED_TRACE(sql);
    auto outcome = Outcome([&] { Execute(*Session, sql); });
    EXPECT_NE(outcome.first, 0);
    EXPECT_NE(outcome.second.find("The user password cannot be blank"), std::string::npos)
        << outcome.second;
    EXPECT_FALSE(Session->ConfigManager->InUpdate);
    EXPECT_EQ(ConfigFileBytes(), before);
  }
  EXPECT_EQ(User("Eve"), nullptr);
  ASSERT_NE(User("Ann"), nullptr);
  EXPECT_EQ(User("Ann")->Description, "First");
  EXPECT_TRUE(User("Ann")->CheckPassword("a1"));
}

// The clauses a statement leaves out, and what a definition resets.
struct DefaultsCase {
  const char* Name;
  std::vector<std::string> Statements;
  std::function<void(ConfigWorkspace&)> Check;
};

TEST_F(ConfigStatementTest, ClauseDefaults) {
  const std::string remote =
      "CREATE STORE R AS REMOTE ADDRESS '10.0.0.9' PORT 12010 USER Administrator PASSWORD 'pw' "
      "STORE Far";
  const std::vector<DefaultsCase> cases = {
      {"bare remote store",
       {remote},
       [](ConfigWorkspace& t) {
         TBRNStore* store = t.Store("R");
         ASSERT_NE(store, nullptr);
         EXPECT_EQ(store->StoreType, kRemoteStore);
         EXPECT_EQ(store->Signature, "brn_watermark");
         EXPECT_FALSE(store->Encrypted);
         EXPECT_EQ(store->EncryptionPassword, "quillharbor");
         EXPECT_EQ(store->Compression, 6);
         EXPECT_EQ(store->Timeout, 180);
         EXPECT_FALSE(store->Ping);
         EXPECT_EQ(store->PingInterval, 60);
         EXPECT_EQ(store->Port, 12010);
         EXPECT_EQ(store->Address, "10.0.0.9");
         EXPECT_EQ(store->UserName, "Administrator");
         EXPECT_EQ(store->Password, "pw");
         EXPECT_EQ(store->RemoteStore, "Far");
       }},
      {"ping below the minimum",
       {remote + " PING 10"},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Store("R"), nullptr);
         EXPECT_TRUE(t.Store("R")->Ping);
         EXPECT_EQ(t.Store("R")->PingInterval, 30);
       }},
      {"service instead of port",
       {"CREATE STORE R AS REMOTE HOST 'far.example' SERVICE 'brindle' USER U PASSWORD 'p' "
        "STORE Far ENCRYPTED WITH PASSWORD 'secret' COMPRESSION 2 TIMEOUT 20 PING 45"},
       [](ConfigWorkspace& t) {
         TBRNStore* store = t.Store("R");
         ASSERT_NE(store, nullptr);
         EXPECT_EQ(store->Host, "far.example");
         EXPECT_EQ(store->Service, "brindle");
         EXPECT_EQ(store->Port, 0);
         EXPECT_TRUE(store->Encrypted);
         EXPECT_EQ(store->EncryptionPassword, "secret");
         EXPECT_EQ(store->Compression, 2);
         EXPECT_EQ(store->Timeout, 20);
         EXPECT_EQ(store->PingInterval, 45);
       }},
      {"daily without days",
       {JobStatement("CREATE JOB J", "DAILY")},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Job("J"), nullptr);
         for (int32_t day = 1; day <= 7; ++day) EXPECT_TRUE(t.Job("J")->GetDay(day)) << day;
         EXPECT_EQ(t.Job("J")->StartTime, 3600000);
         EXPECT_EQ(t.Job("J")->EndTime, 7200000);
       }},
      {"hourly without days",
       {JobStatement("CREATE JOB J", "HOURLY")},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Job("J"), nullptr);
         EXPECT_EQ(t.Job("J")->ScheduleType, jsHourly);
         for (int32_t day = 1; day <= 7; ++day) EXPECT_TRUE(t.Job("J")->GetDay(day)) << day;
       }},
      {"monthly on a day",
       {JobStatement("CREATE JOB J", "MONTHLY ON DAY 31 OF Jan, Jul")},
       [](ConfigWorkspace& t) {
         TBRNJob* job = t.Job("J");
         ASSERT_NE(job, nullptr);
         EXPECT_EQ(job->DayNumber, 31);
         EXPECT_EQ(job->Ordinal, 0);
         EXPECT_EQ(job->Weekday, 0);
         EXPECT_TRUE(job->GetMonth(1));
         EXPECT_FALSE(job->GetMonth(2));
         EXPECT_TRUE(job->GetMonth(7));
       }},
      {"monthly on the last Friday, then every 3 days",
       {JobStatement("CREATE JOB J", "MONTHLY ON LAST Fri OF Mar"),
        JobStatement("CREATE JOB K", "MONTHLY ON LAST Fri OF Mar"),
        JobStatement("ALTER JOB K", "EVERY 3 DAYS")},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Job("J"), nullptr);
         EXPECT_EQ(t.Job("J")->Ordinal, 5);
         EXPECT_EQ(t.Job("J")->Weekday, 5);
         EXPECT_EQ(t.Job("J")->DayNumber, 0);
         TBRNJob* altered = t.Job("K");
         ASSERT_NE(altered, nullptr);
         EXPECT_EQ(altered->ScheduleType, jsEveryXDays);
         EXPECT_EQ(altered->Interval, 3);
         EXPECT_EQ(altered->Ordinal, 0);
         EXPECT_EQ(altered->Weekday, 0);
         EXPECT_FALSE(altered->GetMonth(3));
         EXPECT_FALSE(altered->GetDay(1));
       }},
      {"in memory, then a path",
       {"CREATE DATABASE D IN MEMORY", "ALTER DATABASE D PATH 'd' ENCRYPTED CATALOG"},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Database("D"), nullptr);
         EXPECT_FALSE(t.Database("D")->InMemory);
         EXPECT_EQ(t.Database("D")->Path, "d");
         EXPECT_TRUE(t.Database("D")->EncryptedCatalog);
       }},
      {"two privileges to two users",
       {"CREATE USER U1 PASSWORD 'p'", "CREATE USER U2 PASSWORD 'p'", "CREATE DATABASE D IN MEMORY",
        "GRANT CREATE, DROP ON DATABASE D TO U1, U2"},
       [](ConfigWorkspace& t) {
         ASSERT_NE(t.Database("D"), nullptr);
         TBRNPrivileges& grants = *t.Database("D")->Privileges;
         std::vector<std::pair<int32_t, std::string>> made;
         for (int32_t i = 0; i < grants.Count(); ++i) {
           TBRNPrivilege* grant = grants.GetPrivilege(i);
           if (grant->GranteeName == "U1" || grant->GranteeName == "U2")
             made.emplace_back(grant->Kind, grant->GranteeName);
         }
         const std::vector<std::pair<int32_t, std::string>> expected = {
             {pkCreate, "U1"}, {pkCreate, "U2"}, {pkDrop, "U1"}, {pkDrop, "U2"}};
         EXPECT_EQ(made, expected);
       }},
  };
  for (const DefaultsCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ConfigWorkspace fresh;
    fresh.RunAll(c.Statements);
    c.Check(fresh);
  }
}

TEST_F(ConfigStatementTest, TablePrivilegesAreGrantedInTheStatementsDatabaseInOrder) {
  RunAll({"CREATE USER U1 PASSWORD 'p'", "CREATE USER U2 PASSWORD 'p'",
          "CREATE DATABASE Shop PATH 'shop'"});
  auto* shop =
      static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
  TBRNBaseTable* table = shop->CreateTable("T");
  auto column = std::make_unique<TBRNColumn>(shop->Catalog.get());
  column->Name = "ID";
  column->SetDataType(dtInteger);
  table->Columns->AddObject(column.get());
  column.release();
  shop->CommitCreateTable(table);

  auto* statement = static_cast<TBRNLocalStatementManager*>(
      shop->PrepareStatement("GRANT SELECT, INSERT ON TABLE T TO U1, U2"));
  statement->ExecuteStatement();
  TBRNLocalStatementManager::FreeStatement(statement);

  auto* granted = static_cast<TBRNBaseTable*>(
      shop->Catalog->DefaultSchema->BaseTables->FindByName("T", true));
  std::vector<std::pair<int32_t, std::string>> made;
  for (int32_t i = 0; i < granted->Privileges->Count(); ++i) {
    TBRNPrivilege* grant = granted->Privileges->GetPrivilege(i);
    if (grant->GranteeName == "U1" || grant->GranteeName == "U2")
      made.emplace_back(grant->Kind, grant->GranteeName);
  }
  const std::vector<std::pair<int32_t, std::string>> expected = {
      {pkSelect, "U1"}, {pkSelect, "U2"}, {pkInsert, "U1"}, {pkInsert, "U2"}};
  EXPECT_EQ(made, expected);
  TBRNDatabaseManager* opened = shop;
  Session->CloseDatabase(opened);
}

TEST_F(ConfigStatementTest, ALibraryThatIsNoModuleIsRefusedWithItsPath) {
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&strlen), &info), 0);
  const std::string path = info.dli_fname;
  const std::string before = ConfigFileBytes();
  auto outcome = Outcome([&] { Execute(*Session, "CREATE MODULE Plain PATH '" + path + "'"); });
  EXPECT_EQ(outcome.first, 202);
  EXPECT_NE(outcome.second.find("The module " + path + " is not a valid Brindle module"),
            std::string::npos)
      << outcome.second;
  EXPECT_EQ(Config().Modules->FindByName("Plain", false), nullptr);
  EXPECT_EQ(ConfigFileBytes(), before);
}

TEST_F(ConfigStatementTest, LocalJobSwitchesAndServerSessionsChangeAndLogNothing) {
  RunAll({JobStatement("CREATE JOB J", "DAILY")});
  const std::string before = ConfigFileBytes();
  const size_t logged = ReadLog(*Session).size();
  RunAll(
      {"ENABLE JOBS", "DISABLE JOB J", "DISCONNECT SERVER SESSION 7", "REMOVE SERVER SESSION 7"});
  EXPECT_EQ(ConfigFileBytes(), before);
  EXPECT_EQ(ReadLog(*Session).size(), logged);
  EXPECT_TRUE(Job("J")->Enabled);
}

// The I/O counters of the session's open tables, summed.
int64_t CounterSum(TBRNLocalSessionManager& session) {
  session.BuildStatistics();
  int64_t sum = 0;
  for (const TBRNStatistics& entry : session.StatisticsList)
    sum += entry.Hits + entry.Misses + entry.Reads + entry.BytesRead + entry.Writes +
           entry.BytesWritten;
  session.ClearStatistics();
  return sum;
}

TEST_F(ConfigStatementTest, ResetStatisticsAcceptsOnlyTheSessionsOwnId) {
  // The database Shop open with the table Items, whose files have counts.
  TBRNLocalDatabaseManager* shop =
      Session->GetDatabaseManager(AddDatabase(*Session, "Shop", "shop"));
  shop->OpenDatabase(kBRNLockShared);
  TBRNBaseTable* items = AddTable(*shop->Catalog, "Items", false);
  auto* manager = static_cast<TBRNTableManager*>(shop->TableManagers->GetManager(items));
  manager->SetCreatingFiles(true);
  shop->TableManagers->OpenManager(items, kBRNLockTypeShared);
  manager->SetCreatingFiles(false);
  for (TBRNTableFileManager* file : manager->GetFiles()) {
    file->CacheHits = 3;
    file->DiskReads = 1;
  }
  const int64_t counted = CounterSum(*Session);
  ASSERT_GT(counted, 0);

  const size_t logged = ReadLog(*Session).size();
  const std::string other = std::to_string(Session->Handle + 1);
  auto outcome = Outcome([&] { Execute(*Session, "RESET SERVER SESSION STATISTICS " + other); });
  EXPECT_EQ(outcome.first, 1107);
  EXPECT_EQ(outcome.second, "The session ID " + other + " is no longer present on the server");
  EXPECT_EQ(CounterSum(*Session), counted);
  RunAll({"RESET SERVER SESSION STATISTICS " + std::to_string(Session->Handle)});
  EXPECT_EQ(CounterSum(*Session), 0);
  EXPECT_EQ(ReadLog(*Session).size(), logged);
  shop->CloseDatabase(true);
}

TEST_F(ConfigStatementTest, AConfigurationStatementAnswersNoResultAndAFreshExecutionResult) {
  RunAll({"CREATE ROLE Clerks"});
  PreparedStatement statement(*Session, "ALTER ROLE Clerks DESCRIPTION 'Office'");
  for (int run = 0; run < 2; ++run) {
    statement->Context->StatementResult = true;
    EXPECT_EQ(statement->ExecuteStatement(), nullptr);
    EXPECT_FALSE(statement->GetExecutionResult());
    EXPECT_FALSE(statement->GetSensitive());
    std::string plan = "old";
    statement->GetPlan(plan);
    EXPECT_EQ(plan, "");
    EXPECT_EQ(statement->GetRowsAffected(), 0);
    EXPECT_EQ(statement->GetExecutionTime(), Session->GetElapsedTime());
  }
  EXPECT_EQ(Role("Clerks")->Description, "Office");
}

}  // namespace
}  // namespace brn::testing
