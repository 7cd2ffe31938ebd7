#include "host/security/administrator_setup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "clientserver/components/engine_component.h"
#include "execution/handles/local_statement_manager.h"
#include "host/host_test_support.h"
#include "host/security/stored_password.h"
#include "platform/registry_file.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

class AdministratorSetupTest : public brn::testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    engine = std::make_unique<TBRNEngine>(nullptr);
    engine->SetConfigPath(temp.Path);
    engine->SetEngineType(etServer);
    engine->SetServerAddress("127.0.0.1");
    engine->SetServerPort(0);
    engine->SetActive(true);
    registry = std::make_unique<TBRNRegistryFile>(TBRNRegistryFile::DefaultFileName(false));
    report.Information = [this](const std::string& text) { information.push_back(text); };
    report.Error = [this](const std::string& text) { errors.push_back(text); };
    report.NewPassword = [this](const std::string& password) { shown.push_back(password); };
  }
  void TearDown() override {
    engine.reset();
    HostSandbox::TearDown();
  }

  // Opens a session of its own and logs in as the administrator.
  bool CanLogin(const std::string& password) {
    TBRNLocalSessionManager session(&engine->GetEngineManager(), false, false);
    session.OpenSession("test", "Probe", "");
    try {
      session.Login("Administrator", password);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  void SetAdministratorPassword(const std::string& current, const std::string& next) {
    TBRNLocalSessionManager session(&engine->GetEngineManager(), false, false);
    session.OpenSession("test", "Probe", "");
    session.Login("Administrator", current);
    auto* statement =
        static_cast<TBRNLocalStatementManager*>(session.ConfigurationDatabase->PrepareStatement(
            AlterUserPasswordStatement("Administrator", next)));
    statement->ExecuteStatement();
    TBRNLocalStatementManager::FreeStatement(statement);
  }

  void Store(const std::string& password) {
    registry->WriteString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue,
                          EncryptText(password, kBRNHostDefaultPassword, std::string(16, 's')));
  }

  void Run() { SetUpAdministratorSession(*engine, *registry, report); }

  std::unique_ptr<TBRNEngine> engine;
  std::unique_ptr<TBRNRegistryFile> registry;
  TBRNAdministratorSetupReport report;
  std::vector<std::string> information;
  std::vector<std::string> shown;
  std::vector<std::string> errors;
};

TEST(AlterUserStatementTest, QuotesNameAndPasswordTheEngineWay) {
  EXPECT_EQ(AlterUserPasswordStatement("Administrator", "it's"),
            "ALTER USER \"Administrator\" PASSWORD 'it''s'");
  EXPECT_EQ(AlterUserPasswordStatement("A\"B", "x' OR '1"),
            "ALTER USER \"A\"\"B\" PASSWORD 'x'' OR ''1'");
}

// A new configuration: no password is stored, so a random one is made and
// stored, and neither public password logs in afterwards.
TEST_F(AdministratorSetupTest, NewConfigurationGetsARandomStoredPassword) {
  Run();
  EXPECT_TRUE(errors.empty()) << errors.front();
  ASSERT_EQ(information.size(), 1u);
  EXPECT_NE(information[0].find(registry->FileName()), std::string::npos);
  const std::string stored = ReadAdministratorPassword(*registry);
  EXPECT_EQ(stored.size(), 16u);
  EXPECT_TRUE(CanLogin(stored));
  EXPECT_FALSE(CanLogin("7?KdWs?7"));
  EXPECT_FALSE(CanLogin("GlenHarbor"));
  // The one password made is handed over once, so that someone can use it.
  EXPECT_EQ(shown, std::vector<std::string>{stored});

  // The next start finds the password in place and stores no other.
  Run();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(information.size(), 1u);
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(ReadAdministratorPassword(*registry), stored);
  EXPECT_TRUE(CanLogin(stored));
}

// The administrator still has the host default password; the stored one,
// which holds both kinds of quotation mark, replaces it.
TEST_F(AdministratorSetupTest, FallbackLoginSetsAStoredPasswordWithQuotes) {
  SetAdministratorPassword("GlenHarbor", "7?KdWs?7");
  const std::string password = "it's \"mine\"";
  Store(password);
  Run();
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_TRUE(information.empty());
  EXPECT_TRUE(CanLogin(password));
  EXPECT_FALSE(CanLogin("7?KdWs?7"));
  EXPECT_FALSE(CanLogin("it''s \"mine\""));
}

TEST_F(AdministratorSetupTest, FailuresAreReportedAndTheServerKeepsRunning) {
  struct Case {
    const char* name;
    std::string stored;  // empty: a password nobody knows is set first
    std::string message;
  };
  const std::vector<Case> cases = {
      {"damaged text", "dGVzdA==",
       "Error Setup Database: Text \"dGVzdA==\" can not be decrypt because text is invalid "
       "(checksum incorrect)"},
      {"every login fails", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors.clear();
    if (c.stored.empty()) {
      SetAdministratorPassword("GlenHarbor", "unknown");
      Store("wanted");
    } else {
      registry->WriteString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue, c.stored);
    }
    Run();
    ASSERT_EQ(errors.size(), 1u);
    if (c.message.empty()) {
      EXPECT_EQ(errors[0].rfind("Error Setup Database: ", 0), 0u) << errors[0];
    } else {
      EXPECT_EQ(errors[0], c.message);
    }
    EXPECT_TRUE(engine->GetActive());
  }
  EXPECT_TRUE(CanLogin("unknown"));
}

}  // namespace
}  // namespace brn
