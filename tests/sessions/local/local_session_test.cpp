#include "sessions/local/local_session_manager.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/file_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/test_support.h"
#include "foundation/text/number_text.h"
#include "metadata/config/config.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/evaluator_factory.h"
#include "sessions/local/local_log_manager.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TempDirectory;

using SessionPtr = std::unique_ptr<TBRNLocalSessionManager>;

// An engine whose OS file manager is a fault-injecting in-memory one.
class FaultEngine : public TBRNEngineManager {
 public:
  FaultEngine() { CreateFileManagers(); }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    auto files = std::make_unique<TBRNFaultFileManager>(Environment.get());
    Faults = files.get();
    return files;
  }
  TBRNFaultFileManager* Faults = nullptr;
};

SessionPtr OpenSession(TBRNEngineManager& engine, const std::string& name = "Local",
                       bool registerTables = false) {
  auto session = std::make_unique<TBRNLocalSessionManager>(&engine, false, registerTables);
  session->OpenSession("Tester", name, "A test session");
  return session;
}

// Every event of the session's log file, oldest first.
std::vector<TBRNLogEvent> ReadSessionLog(TBRNLocalSessionManager& session) {
  std::vector<TBRNLogEvent> events;
  session.LogManager->BeginRead();
  TBRNLogEvent event;
  for (bool more = session.LogManager->ReadFirstEvent(event); more;
       more = session.LogManager->ReadNextEvent(event))
    events.push_back(event);
  session.LogManager->EndRead();
  return events;
}

bool HasOpenFile(TBRNFileManager& files) {
  for (const auto& file : files.Files)
    if (file->OpenCount > 0) return true;
  return false;
}

// Adds a user with a lock number in one configuration update.
TBRNUser* AddUser(TBRNLocalSessionManager& session, const std::string& name,
                  const std::string& password) {
  session.ConfigManager->BeginUpdate();
  auto user = std::make_unique<TBRNUser>(session.Config.get());
  user->SetName(name);
  user->SetPassword(password);
  user->SetLockNumber(session.Config->NextUserLockNumber());
  session.Config->Users->AddObject(user.get());
  session.ConfigManager->CommitUpdate();
  return user.release();
}

class LocalSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { engine.Settings->SetConfigMemory(true); }
  TBRNEngineManager engine;
};

// ---- Configuration files

TEST(LocalSessionFiles, EmptyFolderGetsTheThreeFilesThatStayAfterClose) {
  TempDirectory folder;
  TBRNEngineManager engine;
  engine.Settings->SetConfigPath(folder.Path);
  SessionPtr session = OpenSession(engine);
  EXPECT_TRUE(session->Opened);
  for (const char* name : {"BRNConfig.BRNCfg", "BRNConfig.BRNLck", "BRNConfig.BRNLog"})
    EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
  EXPECT_EQ(session->ConfigLockManager->SessionSlot, 1);

  // A second open changes nothing; a second session gets the next slot.
  session->OpenSession("Other", "Other", "");
  EXPECT_EQ(session->SessionName, "Local");
  SessionPtr second = OpenSession(engine, "Second");
  EXPECT_EQ(second->ConfigLockManager->SessionSlot, 2);

  session->CloseSession();
  EXPECT_FALSE(session->Opened);
  EXPECT_FALSE(session->ToolsBuilt);
  EXPECT_EQ(session->Config, nullptr);
  session->CloseSession();  // closing a closed session does nothing
  second.reset();
  for (const char* name : {"BRNConfig.BRNCfg", "BRNConfig.BRNLck", "BRNConfig.BRNLog"})
    EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
}

TEST(LocalSessionFiles, WithoutPathTheOpenFailsWith409) {
  TBRNEngineManager engine;
  TBRNLocalSessionManager session(&engine, false, false);
  EBRNException error = CaughtError([&] { session.OpenSession("Tester", "Local", ""); });
  EXPECT_EQ(error.ErrorCode, 409);
  EXPECT_EQ(error.ErrorMessage, "The configuration path is empty");
  EXPECT_FALSE(session.Opened);
  EXPECT_FALSE(session.ToolsBuilt);
  EXPECT_EQ(session.Evaluator, nullptr);
  EXPECT_THROW(session.Login("Administrator", "GlenHarbor"), std::logic_error);
}

TEST(LocalSessionFiles, FailedConfigurationFileCreationLeavesNoSlotAndNoOpenFile) {
  FaultEngine engine;
  engine.Settings->SetConfigPath("/config");
  const std::string configName = "/config/BRNConfig.BRNCfg";
  engine.Faults->Arm({TBRNFaultAction::FailWrite, 1, true, ENOSPC, 0, configName});

  TBRNLocalSessionManager session(&engine, false, false);
  EBRNException error = CaughtError([&] { session.OpenSession("Tester", "Local", ""); });
  EXPECT_EQ(error.ErrorCode, 600);
  EXPECT_FALSE(session.Opened);
  EXPECT_FALSE(session.ToolsBuilt);
  EXPECT_EQ(session.ConfigLockManager, nullptr);
  EXPECT_FALSE(HasOpenFile(*engine.Faults));
  int32_t index = 0;
  ASSERT_TRUE(engine.Faults->FindFile("/config/BRNConfig.BRNLck", index));
  EXPECT_EQ(engine.Faults->Files[size_t(index)]->LockCount(), 0);

  // The failed creation left no file behind: with sound files the next open
  // creates it.
  EXPECT_FALSE(engine.Faults->FileExists(configName));
  engine.Faults->Disarm();
  SessionPtr second = OpenSession(engine);
  EXPECT_TRUE(second->Opened);
  EXPECT_TRUE(engine.Faults->FileExists(configName));
}

TEST_F(LocalSessionTest, AllSlotsTakenGives507AndTheConfigurationRangesStayFree) {
  // Another holder of every slot byte of the shared configuration's lock
  // file.
  TBRNFileManager& files = *engine.InternalFileManager;
  std::unique_ptr<TBRNFileStream> holder = files.CreateFile("BRNConfig.BRNLck", false, false, true);
  ASSERT_TRUE(holder->SetRangeLock(true, 0, kBRNMaxConfigSessionSlots));

  TBRNLocalSessionManager session(&engine, false, false);
  EBRNException error = CaughtError([&] { session.OpenSession("Tester", "Local", ""); });
  EXPECT_EQ(error.ErrorCode, 507);
  EXPECT_NE(error.ErrorMessage.find("All 4096 session slots"), std::string::npos)
      << error.ErrorMessage;
  EXPECT_FALSE(session.Opened);
  // No slot was sought on the configuration's Transaction byte or Read range.
  EXPECT_TRUE(holder->SetRangeLock(true, kBRNMaxConfigSessionSlots, 2));
  EXPECT_TRUE(holder->SetRangeLock(false, kBRNMaxConfigSessionSlots, 2));

  // A slot freed is the one the next open takes.
  ASSERT_TRUE(holder->SetRangeLock(false, 0, kBRNMaxConfigSessionSlots));
  ASSERT_TRUE(holder->SetRangeLock(true, 0, 4095));
  session.OpenSession("Tester", "Local", "");
  EXPECT_EQ(session.ConfigLockManager->SessionSlot, 4096);
  EXPECT_EQ(session.ConfigLockManager->GetMaxSessionSlots(), 4096);
}

TEST_F(LocalSessionTest, SessionsShareTheInMemoryConfigurationUnlessPrivate) {
  SessionPtr first = OpenSession(engine, "First");
  first->Login("Administrator", "GlenHarbor");
  AddUser(*first, "Alice", "secret");
  SessionPtr shared = OpenSession(engine, "Shared");
  EXPECT_NE(shared->Config->Users->FindByName("Alice", false), nullptr);

  engine.Settings->SetConfigPrivate(true);
  SessionPtr own = OpenSession(engine, "Own");
  EXPECT_EQ(own->Config->Users->FindByName("Alice", false), nullptr);
  const std::string ownConfig = own->GetConfigFileName("BRNConfig.BRNCfg");
  EXPECT_EQ(ownConfig, "Tester\\" + IntegerToString(own->Handle) + "\\Own\\BRNConfig.BRNCfg");
  EXPECT_TRUE(engine.InternalFileManager->FileExists(ownConfig));
  own->CloseSession();
  // A private configuration in memory goes with its session.
  for (const char* extension : {".BRNCfg", ".BRNLck", ".BRNLog"})
    EXPECT_FALSE(engine.InternalFileManager->FileExists("Tester\\" + IntegerToString(own->Handle) +
                                                        "\\Own\\BRNConfig" + extension))
        << extension;
  EXPECT_TRUE(engine.InternalFileManager->FileExists("BRNConfig.BRNCfg"));
}

TEST_F(LocalSessionTest, EachSessionHasItsOwnConfigurationDatabaseDroppedAtClose) {
  SessionPtr first = OpenSession(engine, "First");
  SessionPtr second = OpenSession(engine, "Second");
  for (TBRNLocalSessionManager* session : {first.get(), second.get()}) {
    ASSERT_NE(session->ConfigurationDatabase, nullptr);
    EXPECT_TRUE(session->ConfigurationDatabase->Opened);
    const std::string& path = session->Config->ConfigurationDatabase->Path;
    EXPECT_NE(path.find("\\" + IntegerToString(session->Handle) + "\\"), std::string::npos) << path;
    EXPECT_NE(path.find(session->SessionName), std::string::npos) << path;
    // The handle is made once per session.
    EXPECT_EQ(session->GetDatabaseManager(session->Config->ConfigurationDatabase),
              session->ConfigurationDatabase);
  }
  EXPECT_NE(first->ConfigurationDatabase->GetCatalogFileName(),
            second->ConfigurationDatabase->GetCatalogFileName());

  const std::string catalog = first->ConfigurationDatabase->GetCatalogFileName();
  const std::string lockFile = first->ConfigurationDatabase->GetLockFileName();
  EXPECT_TRUE(engine.InternalFileManager->FileExists(catalog)) << catalog;
  first->CloseSession();
  EXPECT_EQ(first->ConfigurationDatabase, nullptr);
  int32_t position = 0;
  TBRNHandleObject* handle = nullptr;
  EXPECT_FALSE(first->Databases.NextObject(position, handle));
  EXPECT_FALSE(engine.InternalFileManager->FileExists(catalog)) << catalog;
  EXPECT_FALSE(engine.InternalFileManager->FileExists(lockFile)) << lockFile;
  EXPECT_TRUE(
      engine.InternalFileManager->FileExists(second->ConfigurationDatabase->GetCatalogFileName()));
}

TEST_F(LocalSessionTest, DatabaseHandlesLiveUntilTheirObjectReleasesThem) {
  SessionPtr session = OpenSession(engine);
  TBRNDatabaseContainer* cache = session->Config->CursorCacheDatabase;
  EXPECT_EQ(session->GetDatabaseHandle(cache), 0);
  TBRNLocalDatabaseManager* handle = session->GetDatabaseManager(cache);
  EXPECT_FALSE(handle->NotCursorCache);
  EXPECT_TRUE(session->ConfigurationDatabase->NotCursorCache);
  EXPECT_EQ(session->GetDatabaseManager(cache), handle);
  const int32_t number = session->GetDatabaseHandle(cache);
  EXPECT_EQ(number, handle->Handle);

  session->ReleaseObjectHandles(cache);
  EXPECT_EQ(session->GetDatabaseHandle(cache), 0);
  EXPECT_EQ(session->Databases.FindObject(number), nullptr);
  EXPECT_NE(session->GetDatabaseManager(cache), nullptr);
  EXPECT_NE(session->GetDatabaseHandle(cache), 0);
}

TEST_F(LocalSessionTest, TheBuiltInDataTypesInTheirOrder) {
  struct Expected {
    const char* Name;
    TBRNDataTypeCode Type;
    TBRNDataSubType SubType;
  };
  const Expected expected[] = {
      {"Char", dtChar, 130},
      {"VarChar", dtChar, 0},
      {"GUID", dtChar, 140},
      {"Byte", dtBytes, 130},
      {"VarByte", dtBytes, 0},
      {"BLOB", dtLob, 0},
      {"CLOB", dtLob, 150},
      {"Boolean", dtBoolean, 0},
      {"SmallInt", dtSmallInt, 0},
      {"Integer", dtInteger, 0},
      {"BigInt", dtBigInt, 0},
      {"Float", dtFloat, 0},
      {"Decimal", dtDecimal, 0},
      {"Date", dtDate, 0},
      {"Time", dtTime, 0},
      {"Timestamp", dtTimestamp, 0},
      {"Interval Year", dtYearMonthInterval, 4},
      {"Interval Year To Month", dtYearMonthInterval, 6},
      {"Interval Month", dtYearMonthInterval, 2},
      {"Interval Day", dtDayTimeInterval, 128},
      {"Interval Day To Hour", dtDayTimeInterval, 192},
      {"Interval Day To Minute", dtDayTimeInterval, 224},
      {"Interval Day To Second", dtDayTimeInterval, 240},
      {"Interval Day To MSecond", dtDayTimeInterval, 248},
      {"Interval Hour", dtDayTimeInterval, 64},
      {"Interval Hour To Minute", dtDayTimeInterval, 96},
      {"Interval Hour To Second", dtDayTimeInterval, 112},
      {"Interval Hour To MSecond", dtDayTimeInterval, 120},
      {"Interval Minute", dtDayTimeInterval, 32},
      {"Interval Minute To Second", dtDayTimeInterval, 48},
      {"Interval Minute To MSecond", dtDayTimeInterval, 56},
      {"Interval Second", dtDayTimeInterval, 16},
      {"Interval Second To MSecond", dtDayTimeInterval, 24},
      {"Interval MSecond", dtDayTimeInterval, 8},
  };
  SessionPtr session = OpenSession(engine);
  const TBRNDataTypes& types = *session->Config->DataTypes;
  ASSERT_EQ(types.Count(), 34);
  for (int32_t i = 0; i < 34; ++i) {
    SCOPED_TRACE(expected[i].Name);
    EXPECT_EQ(types.GetItem(i)->GetName(), expected[i].Name);
    EXPECT_EQ(types.GetItem(i)->DataType, expected[i].Type);
    EXPECT_EQ(types.GetItem(i)->DataSubType, expected[i].SubType);
  }
  EXPECT_EQ(types.GetItem(33)->Description,
            "Interval between two dates and/or times in milliseconds");
  // One collation per locale name.
  EXPECT_GT(session->Config->Collations->Count(), 0);
}

TEST_F(LocalSessionTest, ModuleAsksForTheConfigurationPath) {
  engine.Settings->SetConfigPath("/data/config");
  SessionPtr session = OpenSession(engine);
  TBRNModuleHost& host = *session->Config;
  int32_t size = 0;
  host.ModuleCallback(nullptr, 1, &size, nullptr);
  ASSERT_EQ(size, 12);

  std::string buffer(12, '#');
  size = 11;  // one short: nothing is copied
  host.ModuleCallback(nullptr, 1, &size, buffer.data());
  EXPECT_EQ(buffer, std::string(12, '#'));
  size = 12;
  host.ModuleCallback(nullptr, 1, &size, buffer.data());
  EXPECT_EQ(buffer, "/data/config");

  // Progress answers 1 to go on, 0 when the application stops.
  int32_t reported = -1;
  session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    reported = percent;
    proceed = percent < 50;
  };
  session->BeginProgress();
  for (int32_t percent : {20, 50}) {
    size = percent;
    host.ModuleCallback(nullptr, 3, &size, nullptr);
    EXPECT_EQ(reported, percent);
    EXPECT_EQ(size, percent < 50 ? 1 : 0);
  }
  session->EndProgress();
}

TEST_F(LocalSessionTest, TheEvaluatorComesFromTheInstalledFactory) {
  SessionPtr plain = OpenSession(engine, "Plain");
  ASSERT_NE(dynamic_cast<TBRNSessionStubEvaluator*>(plain->Evaluator.get()), nullptr);
  EXPECT_THROW(plain->Evaluator->EvaluateExpression(nullptr), std::logic_error);

  TBRNLocalSessionManager* madeFor = nullptr;
  TBRNSessionEvaluatorFactory previous =
      SetSessionEvaluatorFactory([&](TBRNLocalSessionManager& session) {
        madeFor = &session;
        return std::make_unique<TBRNSessionStubEvaluator>();
      });
  SessionPtr made = OpenSession(engine, "Made");
  SetSessionEvaluatorFactory(previous);
  EXPECT_EQ(madeFor, made.get());
}

// ---- Login and privileges

class LoginTest : public LocalSessionTest {
 protected:
  void SetUp() override {
    LocalSessionTest::SetUp();
    session = OpenSession(engine);
  }
  // The error of a login, with the session open and nobody logged in after.
  EBRNException FailedLogin(const std::string& user, const std::string& password) {
    EBRNException error = CaughtError([&] { session->Login(user, password); });
    EXPECT_TRUE(session->Opened);
    EXPECT_FALSE(session->IsLoggedIn());
    EXPECT_EQ(session->UserID, 0);
    return error;
  }
  SessionPtr session;
};

TEST_F(LoginTest, AdministratorLogsInAndOut) {
  session->Login("administrator", "GlenHarbor");
  ASSERT_TRUE(session->IsLoggedIn());
  EXPECT_EQ(session->CurrentUser, session->Config->AdministratorUser);
  EXPECT_EQ(session->UserID, session->Config->AdministratorUser->ID);
  std::string name;
  session->GetUserName(name);
  EXPECT_EQ(name, "Administrator");
  EXPECT_TRUE(session->IsAdministratorUser());
  EXPECT_NE(session->CurrentUser->HeldLocks & LockTypeBit(ltShared), 0);

  TBRNUser* admin = session->CurrentUser;
  session->Logout();
  EXPECT_FALSE(session->IsLoggedIn());
  EXPECT_EQ(admin->HeldLocks & LockTypeBit(ltShared), 0);
  session->GetUserName(name);
  EXPECT_EQ(name, "");

  std::vector<TBRNLogEvent> events = ReadSessionLog(*session);
  ASSERT_EQ(events.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(events[i].Category, lcInformation);
    EXPECT_EQ(events[i].Function, i == 0 ? kBRNOperationLogin : kBRNOperationLogout);
    EXPECT_EQ(events[i].ErrorCode, 0);
    EXPECT_EQ(events[i].Version, 21400);
    EXPECT_EQ(events[i].Build, 5);
    EXPECT_EQ(events[i].User, "Administrator");
    EXPECT_EQ(events[i].SessionID, session->Handle);
    EXPECT_EQ(events[i].SessionName, "Local");
  }
  // A logout without a login does nothing and writes nothing.
  session->Logout();
  EXPECT_EQ(ReadSessionLog(*session).size(), 2u);
}

TEST_F(LoginTest, FailedLoginsGiveTheirDetail) {
  struct Case {
    const char* Title;
    std::string User, Password;
    // What the prompt supplies at each call, and whether it stops; no
    // entries: no prompt handler.
    std::vector<std::pair<std::string, std::string>> Prompted;
    bool Abort;
    const char* Detail;
    int32_t Prompts;
  };
  const Case cases[] = {
      {"empty password, no prompt",
       "Administrator",
       "",
       {},
       false,
       "The user name or password is incorrect",
       0},
      {"wrong password, no prompt",
       "Administrator",
       "glenharbor",
       {},
       false,
       "The user name or password is incorrect",
       0},
      {"three wrong attempts",
       "Administrator",
       "wrong",
       {{"Administrator", "wrong2"}, {"Nobody", "x"}},
       false,
       "The maximum number of login attempts has been exceeded",
       2},
      {"prompt aborts", "", "", {{"Administrator", "GlenHarbor"}}, true, "Login aborted", 1},
      {"System never logs in",
       "System",
       "GlenHarbor",
       {{"System", ""}, {"SYSTEM", "System"}},
       false,
       "The maximum number of login attempts has been exceeded",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Title);
    int32_t prompts = 0;
    session->Events.OnLogin = nullptr;
    if (!c.Prompted.empty()) {
      session->Events.OnLogin = [&](bool& handled, std::string& user, std::string& password,
                                    bool& proceed) {
        const auto& supplied = c.Prompted.at(size_t(prompts++));
        user = supplied.first;
        password = supplied.second;
        handled = true;
        if (c.Abort) proceed = false;
      };
    }
    const size_t logged = ReadSessionLog(*session).size();
    EBRNException error = FailedLogin(c.User, c.Password);
    EXPECT_EQ(error.ErrorCode, 501);
    EXPECT_EQ(error.ErrorMessage, std::string("Login failed (") + c.Detail + ")");
    EXPECT_EQ(prompts, c.Prompts);
    std::vector<TBRNLogEvent> events = ReadSessionLog(*session);
    ASSERT_EQ(events.size(), logged + 1);
    EXPECT_EQ(events.back().Category, lcError);
    EXPECT_EQ(events.back().Function, kBRNOperationLogin);
    EXPECT_EQ(events.back().ErrorCode, 501);
    EXPECT_EQ(events.back().Description, error.ErrorMessage);
  }
}

TEST_F(LoginTest, ThePromptMayCorrectTheCredentials) {
  int32_t prompts = 0;
  session->Events.OnLogin = [&](bool& handled, std::string& user, std::string& password, bool&) {
    ++prompts;
    EXPECT_EQ(user, "");  // a failed attempt clears what was tried
    user = "Administrator";
    password = "GlenHarbor";
    handled = true;
  };
  session->Login("Administrator", "wrong");
  EXPECT_TRUE(session->IsLoggedIn());
  EXPECT_EQ(prompts, 1);
}

TEST_F(LoginTest, WorkAsSystemKeepsTheLoggedInUserName) {
  session->Login("Administrator", "GlenHarbor");
  TBRNUser* admin = session->CurrentUser;
  session->PopCurrentUser();  // an empty stack: nothing changes
  EXPECT_EQ(session->CurrentUser, admin);
  EXPECT_EQ(session->GetCallingUser(), nullptr);
  {
    TBRNSystemUserScope asSystem(*session);
    EXPECT_TRUE(session->IsSystemUser());
    EXPECT_EQ(session->CurrentUserName, "System");
    EXPECT_EQ(session->GetCallingUser(), admin);
    std::string name;
    session->GetUserName(name);
    EXPECT_EQ(name, "Administrator");
    {
      TBRNSystemUserScope nested(*session);
      session->GetUserName(name);
      EXPECT_EQ(name, "Administrator");
      EXPECT_TRUE(session->IsSystemUser(session->GetCallingUser()));
    }
  }
  EXPECT_EQ(session->CurrentUser, admin);
  EXPECT_FALSE(session->IsSystemUser());
  EXPECT_EQ(session->CurrentUserName, "Administrator");
}

TEST_F(LoginTest, RefusalsNameTheStatement) {
  EBRNException notLoggedIn = CaughtError([&] { session->RequireLogin("OPEN DATABASE Sales"); });
  EXPECT_EQ(notLoggedIn.ErrorCode, 500);
  EXPECT_EQ(notLoggedIn.ErrorMessage,
            "A user must be logged in in order to perform this operation (OPEN DATABASE Sales)");

  session->Login("Administrator", "GlenHarbor");
  AddUser(*session, "Clerk", "clerk");
  session->Logout();
  session->Login("Clerk", "clerk");
  EXPECT_FALSE(session->IsAdministratorUser());
  EBRNException admin = CaughtError([&] { session->RequireAdministrator("CREATE USER Bob"); });
  EXPECT_EQ(admin.ErrorCode, 502);
  EXPECT_EQ(admin.ErrorMessage,
            "Administrator privileges are required to perform this operation (CREATE USER Bob)");

  EBRNException privilege = CaughtError([&] {
    session->CheckPrivilege(session->Config->ConfigurationDatabase, pkDrop,
                            "DROP DATABASE Configuration");
  });
  EXPECT_EQ(privilege.ErrorCode, 503);
  EXPECT_EQ(privilege.ErrorMessage,
            "The current user does not have the proper privileges to perform this operation "
            "(DROP DATABASE Configuration)");

  session->RequireWritableConfig("CREATE ROLE Sales");
  session->Config->SetReadOnly(true);
  EBRNException readOnly =
      CaughtError([&] { session->RequireWritableConfig("CREATE ROLE Sales"); });
  EXPECT_EQ(readOnly.ErrorCode, 403);
  EXPECT_EQ(readOnly.ErrorMessage,
            "The " + session->Config->GetObjectTypeName() +
                " BRNConfig is read-only and this operation cannot be performed (CREATE ROLE "
                "Sales)");
}

TEST_F(LoginTest, ObjectErrorsNameTheObject) {
  EBRNException error = CaughtError(
      [&] { session->RaiseObjectError(session->Config->AdministratorUser, "It broke"); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_EQ(error.ErrorMessage, "An error occurred with the " +
                                    session->Config->AdministratorUser->GetObjectTypeName() +
                                    " Administrator (It broke)");
}

TEST_F(LoginTest, OperationErrorsAreLoggedWithTheirCode) {
  session->LogOperationError(EBRNException(402, "Not open"), 33);
  session->LogOperationError(std::runtime_error("bad"), 34);
  std::vector<TBRNLogEvent> events = ReadSessionLog(*session);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Function, 33);
  EXPECT_EQ(events[0].ErrorCode, 402);
  EXPECT_EQ(events[0].Description, "Not open");
  EXPECT_EQ(events[1].Function, 34);
  EXPECT_EQ(events[1].ErrorCode, 9999);
  EXPECT_EQ(events[1].Description, "bad");
  EXPECT_EQ(events[1].Category, lcError);
}

}  // namespace
}  // namespace brn
