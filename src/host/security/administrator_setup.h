#pragma once

#include <functional>
#include <string>

namespace brn {

class TBRNEngine;
class TBRNRegistryFile;

// Where the set-up reports: Information when it stored a new password (the
// text names the file), Error with "Error Setup Database: " + the message
// of any failure. The host logs both; on the desktop it also shows the
// error in a box.
struct TBRNAdministratorSetupReport {
  std::function<void(const std::string& text)> Information;
  std::function<void(const std::string& text)> Error;
  // Called once with a password the set-up has just made, before it is
  // used; nobody could log in as the administrator otherwise. Never called
  // with a password read from the registry.
  std::function<void(const std::string& password)> NewPassword;
};

// Makes the configuration's built-in "Administrator" carry the password
// stored in registry, after every start of the server. When none is stored
// a random one is made and stored first, so that a new installation never
// keeps a public password. The set-up logs in through an in-process session
// with that password; when that fails it logs in with the host default
// password and then the built-in default password (each only when it
// differs from the stored one) and alters the user's password. It leaves no
// session open, never raises (every failure goes to report.Error) and
// leaves the server running.
//
// Main thread, with the engine started (from its AfterStart handler).
void SetUpAdministratorSession(TBRNEngine& engine, TBRNRegistryFile& registry,
                               const TBRNAdministratorSetupReport& report);

// The statement that sets user's password, both quoted the engine's way
// (doubled quotation marks inside).
std::string AlterUserPasswordStatement(const std::string& user, const std::string& password);

}  // namespace brn
