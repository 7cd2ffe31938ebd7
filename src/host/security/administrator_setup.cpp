#include "host/security/administrator_setup.h"

#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "clientserver/components/engine_component.h"
#include "execution/handles/local_statement_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "host/security/secure_wipe.h"
#include "host/security/stored_password.h"
#include "platform/registry_file.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

constexpr const char* kAdministrator = "Administrator";

std::string messageOf(const std::exception& error) {
  if (const auto* engineError = dynamic_cast<const EBRNException*>(&error)) {
    if (!engineError->ErrorMessage.empty()) return engineError->ErrorMessage;
  }
  return error.what();
}

void execute(TBRNLocalDatabaseManager& database, const std::string& sql) {
  auto* statement = static_cast<TBRNLocalStatementManager*>(database.PrepareStatement(sql));
  try {
    statement->ExecuteStatement();
  } catch (...) {
    try {
      TBRNLocalStatementManager::FreeStatement(statement);
    } catch (...) {
      // The statement's own failure is the one to report.
    }
    throw;
  }
  TBRNLocalStatementManager::FreeStatement(statement);
}

// Wipes a password held in a local when the set-up ends, however it ends.
struct TWipeOnExit {
  std::string& Text;
  ~TWipeOnExit() { WipeString(Text); }
};

}  // namespace

std::string AlterUserPasswordStatement(const std::string& user, const std::string& password) {
  return "ALTER USER " + QuoteString(user, '"') + " PASSWORD " + QuoteString(password, '\'');
}

void SetUpAdministratorSession(TBRNEngine& engine, TBRNRegistryFile& registry,
                               const TBRNAdministratorSetupReport& report) {
  std::string password;
  TWipeOnExit wipePassword{password};
  try {
    if (IsAdministratorPasswordStored(registry)) {
      password = ReadAdministratorPassword(registry);
    } else {
      password = StoreNewAdministratorPassword(registry);
      if (report.Information) {
        report.Information("A new administrator password was stored in " + registry.FileName());
      }
      if (report.NewPassword) report.NewPassword(password);
    }

    TBRNEngineManager& manager = engine.GetEngineManager();
    TBRNLocalSessionManager session(&manager, false, false);
    // A wrong password fails the login instead of asking for another.
    session.Events.OnLogin = [](bool& handled, std::string&, std::string&, bool& proceed) {
      handled = true;
      proceed = false;
    };
    session.OpenSession(manager.Environment->GetComputerName(), "VORNServerSession", "");
    try {
      session.Login(kAdministrator, password);
    } catch (const std::exception&) {
      // The host default first, then the password of a new configuration:
      // a configuration made before any password was stored has the one,
      // a new one the other.
      std::vector<std::string_view> fallbacks;
      for (std::string_view candidate : {kBRNHostDefaultPassword, kBRNBuiltInDefaultPassword}) {
        if (candidate != password) fallbacks.push_back(candidate);
      }
      for (size_t i = 0;; ++i) {
        try {
          session.Login(kAdministrator, std::string(fallbacks[i]));
          break;
        } catch (const std::exception&) {
          if (i + 1 == fallbacks.size()) throw;
        }
      }
      std::string statement = AlterUserPasswordStatement(kAdministrator, password);
      TWipeOnExit wipeStatement{statement};
      execute(*session.ConfigurationDatabase, statement);
    }
    session.CloseSession();
  } catch (const std::exception& error) {
    if (report.Error) report.Error("Error Setup Database: " + messageOf(error));
  }
}

}  // namespace brn
