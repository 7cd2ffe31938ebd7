// The configuration commands on users, roles and grants.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/modules/text_filters.h"
#include "sessions/config/config_command_test_support.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_manager.h"

namespace brn::testing {
namespace {

void CreateUser(TBRNLocalSessionManager& session, const std::string& name,
                const std::string& password) {
  TBRNUser* user = session.BeginCreateUser(name);
  user->SetPassword(password);
  session.EndCreateUser(user);
}

struct UserCommandTest : ConfigCommandTest {
  TBRNUser* User(const std::string& name) {
    return static_cast<TBRNUser*>(Config().Users->FindByName(name, false));
  }
};

TEST_F(UserCommandTest, NewUsersAreInPublicWithTheLowestFreeLockNumbers) {
  const int32_t first = Config().NextUserLockNumber();
  CreateUser(*Session, "Ann", "ann");
  CreateUser(*Session, "Bob", "bob");
  EXPECT_EQ(User("Ann")->LockNumber, first);
  EXPECT_EQ(User("Bob")->LockNumber, first + 1);
  EXPECT_TRUE(User("Ann")->HasRole(Config().PublicRole));
  EXPECT_FALSE(User("Ann")->HasRole(Config().AdministratorsRole));

  // A freed number is the next one taken; the users are in the file.
  Session->DropUser("Ann");
  CreateUser(*Session, "Cid", "cid");
  EXPECT_EQ(User("Cid")->LockNumber, first);
  std::unique_ptr<TBRNLocalSessionManager> other = OtherSession("Cid", "cid");
  EXPECT_TRUE(other->CurrentUser->HasRole(other->Config->PublicRole));
}

TEST_F(UserCommandTest, CancelledCreateLeavesNoUser) {
  TBRNUser* user = Session->BeginCreateUser("Ann");
  Session->CancelCreateUser(user);
  EXPECT_EQ(User("Ann"), nullptr);
  // A name taken by a role fails at End; Cancel leaves no trace.
  const int32_t users = Config().Users->Count();
  user = Session->BeginCreateUser("Public");
  EXPECT_EQ(ErrorCodeOf([&] { Session->EndCreateUser(user); }), 400);
  Session->CancelCreateUser(user);
  EXPECT_EQ(Config().Users->Count(), users);
  EXPECT_FALSE(Session->ConfigManager->InUpdate);
}

TEST_F(UserCommandTest, RefusalsOfAdministratorAndSystemChecks) {
  CreateUser(*Session, "Clerk", "clerk");
  CreateUser(*Session, "Other", "other");
  std::unique_ptr<TBRNLocalSessionManager> clerk = OtherSession("Clerk", "clerk");

  // A user alters himself without being an administrator, nobody else.
  TBRNUser* self = clerk->BeginAlterUser("clerk");
  self->SetPassword("new");
  clerk->EndAlterUser(self);
  EXPECT_EQ(ErrorCodeOf([&] { clerk->BeginAlterUser("Other"); }), 502);
  EXPECT_EQ(ErrorCodeOf([&] { clerk->DropUser("Other"); }), 502);
  EXPECT_EQ(ErrorCodeOf([&] { clerk->GrantRole("Administrators", "Clerk"); }), 502);

  struct Case {
    const char* Name;
    std::function<void()> Call;
  };
  const Case cases[] = {
      {"ALTER USER System", [&] { Session->BeginAlterUser("System"); }},
      {"DROP USER System", [&] { Session->DropUser("System"); }},
      {"RENAME USER System", [&] { Session->RenameUser("System", "Root"); }},
      {"ALTER ROLE Administrators", [&] { Session->BeginAlterRole("Administrators"); }},
      {"DROP ROLE Administrators", [&] { Session->DropRole("Administrators"); }},
      {"DROP ROLE Public", [&] { Session->DropRole("Public"); }},
      {"RENAME ROLE Public", [&] { Session->RenameRole("Public", "Everybody"); }},
      {"GRANT Administrators TO System",
       [&] { Session->GrantRole("Administrators", "System"); }},
      {"GRANT ON Configuration",
       [&] { Session->GrantPrivilege("Other", "Configuration", 0, pkSelect); }},
      {"DROP WORD GENERATOR Default", [&] { Session->DropWordGenerator("Default"); }},
      {"DROP WORD GENERATOR Default as System",
       [&] {
         TBRNSystemUserScope system(*Session);
         Session->DropWordGenerator("Default");
       }},
      {"RENAME WORD GENERATOR Default as System",
       [&] {
         TBRNSystemUserScope system(*Session);
         Session->RenameWordGenerator("Default", "Plain");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ErrorCodeOf(c.Call), 200);
    // The refused update was cancelled: the next one can begin.
    EXPECT_EQ(Session->ConfigManager->InUpdate, false);
  }
  EXPECT_NE(Config().WordGenerators->FindByName("Default", false), nullptr);
  EXPECT_NE(Config().Roles->FindByName("Public", false), nullptr);
}

TEST_F(UserCommandTest, GrantRoleTwiceChangesNothingAndRevokeTakesItAway) {
  CreateUser(*Session, "Ann", "ann");
  TBRNRole* sales = Session->BeginCreateRole("Sales");
  Session->EndCreateRole(sales);
  Session->GrantRole("Sales", "Ann");
  const int32_t held = User("Ann")->Roles->Count();
  Session->GrantRole("sales", "ann");
  EXPECT_EQ(User("Ann")->Roles->Count(), held);
  EXPECT_TRUE(User("Ann")->HasRole(static_cast<TBRNRole*>(Config().Roles->FindByName("Sales", true))));
  Session->RevokeRole("Sales", "Ann");
  EXPECT_EQ(User("Ann")->Roles->Count(), held - 1);

  // Dropping the role takes it from its members.
  Session->GrantRole("Sales", "Ann");
  Session->DropRole("Sales");
  EXPECT_EQ(User("Ann")->Roles->Count(), held - 1);
  EXPECT_EQ(Config().Roles->FindByName("Sales", false), nullptr);
}

TEST_F(UserCommandTest, GrantAllOnAStoreGivesOneGrantPerPrivilege) {
  CreateUser(*Session, "Ann", "ann");
  Session->ConfigManager->BeginUpdate();
  std::unique_ptr<TBRNStore> owned(TBRNStore::CreateOwned(&Config(), Config().SystemUser));
  owned->SetName("Files");
  Config().Stores->AddObject(owned.get());
  TBRNStore* store = owned.release();
  Session->ConfigManager->CommitUpdate();

  const int32_t before = store->Privileges->Count();
  Session->GrantPrivilege("Ann", "Files", 1, pkAll);
  store = static_cast<TBRNStore*>(Config().Stores->FindByName("Files", true));
  TBRNUser* ann = User("Ann");
  for (int32_t kind : {pkSelect, pkCreate, pkAlter, pkDrop}) {
    SCOPED_TRACE(PrivilegeName(kind));
    EXPECT_GE(store->FindGrant(ann, kind), 0);
  }
  EXPECT_EQ(store->Privileges->Count(), before + 4);

  Session->RevokePrivilege("Ann", "Files", 1, pkAlter);
  EXPECT_LT(store->FindGrant(ann, pkAlter), 0);
  Session->RevokePrivilege("Ann", "Files", 1, pkAll);
  EXPECT_EQ(store->Privileges->Count(), before);
}

// ---- Grants held in database catalogs

// The grants on the default schema of database D's catalog to grantee.
int32_t CatalogGrantsTo(TBRNLocalSessionManager& session, const std::string& grantee) {
  auto* container =
      static_cast<TBRNDatabaseContainer*>(session.Config->Databases->FindByName("D", true));
  TBRNLocalDatabaseManager* database = session.GetDatabaseManager(container);
  database->OpenDatabase(kBRNLockShared);
  database->CatalogManager->BeginRead();
  TBRNSchema* schema = database->Catalog->DefaultSchema;
  int32_t count = 0;
  for (int32_t i = 0; i < schema->Privileges->Count(); ++i) {
    auto* grant = static_cast<TBRNPrivilege*>(schema->Privileges->GetItem(i));
    if (grant->GranteeName == grantee) ++count;
  }
  database->CatalogManager->EndRead();
  database->CloseDatabase(false);
  return count;
}

TEST_F(UserCommandTest, DropAndRenameChangeEveryCatalogOrNothing) {
  CreateUser(*Session, "Ann", "ann");
  Session->ConfigManager->BeginUpdate();
  TBRNDatabaseContainer* container = AddDatabase(*Session, "D", Env.Folder.Path + "D");
  Session->ConfigManager->CommitUpdate();
  TBRNLocalDatabaseManager* database = Session->GetDatabaseManager(container);
  database->OpenDatabase(kBRNLockShared);
  database->CatalogManager->BeginUpdate();
  database->Catalog->DefaultSchema->Grant(Config().AdministratorUser, User("Ann"), pkSelect);
  database->CatalogManager->CommitUpdate();
  database->CloseDatabase(false);
  ASSERT_EQ(CatalogGrantsTo(*Session, "Ann"), 1);

  // D's catalog cannot be updated (its update lock is held elsewhere).
  auto update = Config().Hooks.OnCatalogUpdateBegin;
  Config().Hooks.OnCatalogUpdateBegin = [&](TBRNDatabaseContainer* target) {
    if (!target->SessionPrivate) throw EBRNException(300, "Cannot lock the catalog");
    update(target);
  };
  EXPECT_EQ(ErrorCodeOf([&] { Session->DropUser("Ann"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->RenameUser("Ann", "Anna"); }), 300);
  Config().Hooks.OnCatalogUpdateBegin = update;
  EXPECT_FALSE(Session->ConfigManager->InUpdate);
  ASSERT_NE(User("Ann"), nullptr);
  EXPECT_EQ(User("Anna"), nullptr);
  EXPECT_EQ(CatalogGrantsTo(*Session, "Ann"), 1);

  // Once the catalog can be updated, its grant follows the user.
  Session->RenameUser("Ann", "Anna");
  EXPECT_EQ(CatalogGrantsTo(*Session, "Ann"), 0);
  EXPECT_EQ(CatalogGrantsTo(*Session, "Anna"), 1);
  Session->DropUser("Anna");
  EXPECT_EQ(User("Anna"), nullptr);
  EXPECT_EQ(CatalogGrantsTo(*Session, "Anna"), 0);
}

// ---- A user logged in in another process

// A child that logs in as user on the configuration at configPath, reports
// through the pipe (1 logged in, 0 failed) and waits to be killed.
pid_t StartLoggedInChild(const std::string& configPath, const std::string& user,
                         const std::string& password) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    char answer = 0;
    try {
      TBRNEngineManager engine;
      engine.Settings->SetConfigPath(configPath);
      TBRNLocalSessionManager session(&engine, false, false);
      session.OpenSession("child", "Holder", "");
      session.Login(user, password);
      answer = 1;
      if (write(fds[1], &answer, 1) != 1) _exit(2);
      for (;;) pause();
    } catch (...) {
    }
    if (write(fds[1], &answer, 1) != 1) _exit(2);
    _exit(1);
  }
  close(fds[1]);
  char answer = 0;
  const bool loggedIn = read(fds[0], &answer, 1) == 1 && answer == 1;
  close(fds[0]);
  if (!loggedIn) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

TEST_F(UserCommandTest, AUserLoggedInElsewhereCannotBeDroppedRenamedOrAltered) {
  CreateUser(*Session, "Ann", "ann");
  const pid_t child = StartLoggedInChild(Env.Folder.Path, "Ann", "ann");
  ASSERT_GT(child, 0);
  EXPECT_EQ(ErrorCodeOf([&] { Session->DropUser("Ann"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->RenameUser("Ann", "Anna"); }), 300);
  EXPECT_EQ(ErrorCodeOf([&] { Session->BeginAlterUser("Ann"); }), 300);
  EXPECT_EQ(Session->ConfigManager->InUpdate, false);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  // Nothing changed, in memory or in the file; once he is gone it works.
  std::unique_ptr<TBRNLocalSessionManager> other = OtherSession("Ann", "ann");
  other.reset();
  ASSERT_NE(User("Ann"), nullptr);
  Session->RenameUser("Ann", "Anna");
  EXPECT_EQ(User("Ann"), nullptr);
  ASSERT_NE(User("Anna"), nullptr);
  Session->DropUser("Anna");
  EXPECT_EQ(User("Anna"), nullptr);
}

}  // namespace
}  // namespace brn::testing
