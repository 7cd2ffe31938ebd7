#include "metadata/config/users_roles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/core/memory_stream.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/test_lockable.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "metadata/authorization_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TestConfig;
using testing::TestDatabase;
using testing::TestLockManager;

TEST(UserLockTest, LockNumberOneLocksItsRangeThroughTheLockManager) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob", 1);
  EXPECT_EQ(bob->GetLockOffset(ltShared), 12290);
  EXPECT_EQ(bob->GetLockLength(ltExclusive), 4096);
  for (uint8_t type : {ltRead, ltWrite, ltTransaction}) {
    EXPECT_EQ(bob->GetLockOffset(type), 0);
    EXPECT_EQ(bob->GetLockLength(type), 0);
  }

  TBRNEnvironment environment;
  TBRNMemoryFileManager files(&environment);
  TestLockManager session(&config, &files);
  TestLockManager other(&config, &files);
  session.Open();
  other.Open();
  ASSERT_EQ(session.Slot, 1);
  auto probe = files.OpenFile(session.GetLockFileName(), false, false, true);
  // Whether a byte of the lock file is free (it is left unlocked).
  auto isFree = [&](int64_t offset) {
    if (!probe->SetRangeLock(true, offset, 1)) return false;
    probe->SetRangeLock(false, offset, 1);
    return true;
  };

  EXPECT_TRUE(session.LockObject(bob, ltExclusive, 0));
  EXPECT_EQ(bob->HeldLocks, 2);
  EXPECT_TRUE(isFree(12289));
  EXPECT_FALSE(isFree(12290));
  EXPECT_FALSE(isFree(16385));
  EXPECT_TRUE(isFree(16386));
  // Another session cannot log in as Bob meanwhile.
  TBRNUser otherBob(&config);
  otherBob.Name = "Bob";
  otherBob.LockNumber = 1;
  EBRNException error = CaughtError([&] { other.LockObject(&otherBob, ltShared, 0); });
  EXPECT_EQ(error.ErrorCode, 300);
  EXPECT_EQ(error.ErrorMessage, "Cannot lock the user Bob for shared access");
  session.UnlockObject(bob, ltExclusive);
  EXPECT_EQ(bob->HeldLocks, 0);

  // A Shared lock is the session's own byte of the range; a read lock takes
  // nothing in the file.
  EXPECT_TRUE(session.LockObject(bob, ltShared, 0));
  EXPECT_TRUE(other.LockObject(&otherBob, ltShared, 0));
  EXPECT_FALSE(isFree(12290));
  EXPECT_FALSE(isFree(12291));
  EXPECT_TRUE(isFree(12292));
  session.LockObject(bob, ltRead, 0);
  EXPECT_TRUE(isFree(8194) && isFree(4097));
  other.UnlockObject(&otherBob, ltShared);
  session.UnlockObject(bob, ltShared);
  EXPECT_TRUE(isFree(12290));
}

// The user Bob in the 2.04 layout, with the given lock number.
void WriteBob(TBRNMemoryStream& stream, int32_t lockNumber, int64_t version) {
  stream.WriteInteger(9);
  stream.WriteString("Bob");
  stream.WriteString("Clerk");
  stream.WriteBoolean(false);
  stream.WriteBoolean(false);
  if (version >= kFormatVersion204) stream.WriteString("desk=3");
  stream.WriteString("secret");
  if (version >= kFormatVersion204) stream.WriteInt64(123456789);
  stream.WriteBoolean(false);
  stream.WriteInteger(lockNumber);
  stream.WriteInteger(4096);
  stream.WriteInteger(1);  // one granted role
  stream.WriteInteger(10);
  stream.WriteBoolean(false);
  stream.WriteBoolean(false);
  stream.WriteInteger(4);  // the Public role
  stream.WriteString("System");
}

TEST(UserRecordTest, OlderLayoutsReadWithoutTheFieldsTheyLack) {
  for (int64_t version : {kFormatVersion203, kFormatVersion204, kFormatVersion205}) {
    SCOPED_TRACE(version);
    TestConfig config(version);
    ASSERT_EQ(config.PublicRole->ID, 4);
    TBRNMemoryStream stream;
    WriteBob(stream, 3, version);
    TBRNUser bob(&config);
    stream.SetPosition(0);
    bob.LoadFromStream(stream);
    EXPECT_EQ(stream.GetRemaining(), 0);
    EXPECT_EQ(bob.Name, "Bob");
    EXPECT_EQ(bob.Password, "secret");
    EXPECT_EQ(bob.Attributes, version >= kFormatVersion204 ? "desk=3" : "");
    EXPECT_EQ(bob.PasswordChanged, version >= kFormatVersion204 ? 123456789 : 0);
    EXPECT_EQ(bob.LockNumber, 3);
    EXPECT_EQ(bob.ReservedNumber, 4096);
    ASSERT_EQ(bob.Roles->Count(), 1);
    EXPECT_EQ(bob.Roles->GetUserRole(0)->GetRole(), config.PublicRole);
    EXPECT_TRUE(bob.HasRole(config.PublicRole));
    // Written back at the same version, the record is the same layout.
    TBRNMemoryStream again;
    bob.SaveToStream(again, false);
    EXPECT_EQ(testing::StreamHex(again), testing::StreamHex(stream));
  }
}

TEST(UserRecordTest, HostileUserRecordsRaiseTheMetadataError) {
  TestConfig config;
  struct Case {
    const char* what;
    int32_t lockNumber;
    int32_t cut;  // bytes taken off the end
  };
  for (const Case& c :
       {Case{"lock number 0", 0, 0}, Case{"negative lock number", -5, 0},
        Case{"lock number beyond the file", 600000, 0}, Case{"cut in the granted role", 3, 4},
        Case{"cut in the password time", 3, 40}}) {
    SCOPED_TRACE(c.what);
    TBRNMemoryStream stream;
    WriteBob(stream, c.lockNumber, kNewestFormatVersion);
    stream.SetSize(stream.GetSize() - c.cut);
    TBRNUser bob(&config);
    stream.SetPosition(0);
    EBRNException error = CaughtError([&] { bob.LoadFromStream(stream); });
    EXPECT_EQ(error.ErrorCode, 100);
  }
}

TEST(UserRecordTest, AUserCountAboveTheMaximumIsRefusedBeforeAnyUserIsMade) {
  TestConfig config;
  TBRNMemoryStream stream;
  stream.WriteInteger(kMaxUserCount + 1);
  stream.SetSize(4 + 64 * (kMaxUserCount + 1));
  stream.SetPosition(0);
  EBRNException error = CaughtError([&] { config.Users->LoadFromStream(stream); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(error.ErrorMessage.find("4097"), std::string::npos) << error.ErrorMessage;
  EXPECT_EQ(config.Users->Count(), 2);
}

TEST(UserRecordTest, ATreeOfUsersRolesAndGrantsRoundTripsInFullMode) {
  TestConfig config;
  TBRNRole* clerks = config.AddRole("Clerks");
  clerks->Description = "Order desk";
  clerks->Attributes = "floor=2";
  TBRNUser* bob = config.AddUser("Bob");
  bob->SetPassword("Tr0ub4dor");
  bob->Description = "Bob Clerk";
  bob->Attributes = "desk=3";
  bob->PasswordLoginRefused = true;
  bob->ReservedNumber = 77;
  bob->GrantRole(config.AdministratorUser, clerks);
  bob->GrantRole(config.SystemUser, config.PublicRole);
  TestDatabase* database = config.AddDatabase("Orders", bob);
  database->Grant(bob, clerks, pkInsert);

  TBRNMemoryStream stream;
  config.Save(stream);
  TestConfig loaded;
  loaded.Load(stream);
  EXPECT_EQ(stream.GetRemaining(), 0);

  auto* bob2 = static_cast<TBRNUser*>(loaded.Users->FindByName("Bob", true));
  auto* clerks2 = static_cast<TBRNRole*>(loaded.Roles->FindByName("Clerks", true));
  EXPECT_TRUE(bob2->IsEqual(bob, true));
  EXPECT_TRUE(clerks2->IsEqual(clerks, true));
  EXPECT_EQ(bob2->Password, "Tr0ub4dor");
  EXPECT_EQ(bob2->PasswordChanged, bob->PasswordChanged);
  EXPECT_NE(bob2->PasswordChanged, 0);
  EXPECT_TRUE(bob2->PasswordLoginRefused);
  EXPECT_EQ(bob2->LockNumber, bob->LockNumber);
  EXPECT_EQ(bob2->ReservedNumber, 77);
  EXPECT_EQ(clerks2->Attributes, "floor=2");
  ASSERT_EQ(bob2->Roles->Count(), 2);
  EXPECT_TRUE(bob2->Roles->IsEqual(bob->Roles.get(), true));
  EXPECT_EQ(bob2->Roles->GetUserRole(0)->GetRole(), clerks2);
  EXPECT_EQ(bob2->Roles->GetUserRole(0)->GetGrantor(), loaded.AdministratorUser);
  EXPECT_TRUE(bob2->HasRole(loaded.PublicRole));

  auto* database2 = static_cast<TestDatabase*>(loaded.Databases->FindByName("Orders", true));
  EXPECT_EQ(database2->GetOwner(), bob2);
  EXPECT_TRUE(database2->Privileges->IsEqual(database->Privileges.get(), true));
  EXPECT_TRUE(database2->HasPrivilege(bob2, pkInsert));
  EXPECT_TRUE(database2->HasPrivilege(bob2, pkRestore));  // as the owner

  // The System members are never stored: they stay as they were.
  EXPECT_EQ(loaded.Users->Count(), 3);
  EXPECT_EQ(loaded.Users->GetItem(0), loaded.SystemUser);
  EXPECT_TRUE(loaded.SystemUser->Roles->System);
  EXPECT_EQ(loaded.Authorizations->Count(), 3 + 3);
}

TEST(UserRecordTest, TheStructureOnlyRecordKeepsTheUserFields) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob", 5);
  bob->SetPassword("pw");
  bob->Description = "ignored";
  bob->GrantRole(config.SystemUser, config.PublicRole);
  TBRNMemoryStream stream;
  bob->SaveToStream(stream, true);

  TBRNMemoryStream expected;
  expected.WriteString("Bob");
  expected.WriteBoolean(false);  // Internal
  expected.WriteString("pw");
  expected.WriteInt64(bob->PasswordChanged);
  expected.WriteBoolean(false);
  expected.WriteInteger(5);
  expected.WriteInteger(4096);
  expected.WriteInteger(1);
  expected.WriteBoolean(false);  // the granted role: Internal
  expected.WriteInteger(config.PublicRole->ID);
  expected.WriteString("System");
  EXPECT_EQ(testing::StreamHex(stream), testing::StreamHex(expected));
}

TEST(UserTest, PasswordsAreSetStampedAndChecked) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  config.Modified = false;
  EBRNException error = CaughtError([&] { bob->SetPassword(""); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(
      error.ErrorMessage,
      "There is an error in the metadata for the user Bob (The user password cannot be blank)");
  EXPECT_FALSE(config.Modified);

  bob->SetPassword("Secret");
  EXPECT_TRUE(config.Modified);
  EXPECT_GT(bob->PasswordChanged, 0);
  config.Modified = false;
  bob->PasswordChanged = 1;
  bob->SetPassword("Secret");
  EXPECT_FALSE(config.Modified);
  EXPECT_EQ(bob->PasswordChanged, 1);

  struct Case {
    const char* text;
    bool accepted;
  };
  for (const Case& c : {Case{"Secret", true}, Case{"secret", false}, Case{"Secret  ", true},
                        Case{"Secre", false}, Case{"", false}}) {
    EXPECT_EQ(bob->CheckPassword(c.text), c.accepted) << "'" << c.text << "'";
  }
  bob->PasswordLoginRefused = true;
  EXPECT_FALSE(bob->CheckPassword("Secret"));
  config.SystemUser->Password = "Secret";
  EXPECT_FALSE(config.SystemUser->CheckPassword("Secret"));
  EXPECT_TRUE(config.AdministratorUser->CheckPassword("GlenHarbor"));
}

TEST(UserTest, AssignCopiesAllButTheLockNumber) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob", 7);
  bob->SetPassword("pw");
  bob->ReservedNumber = 12;
  bob->GrantRole(config.SystemUser, config.PublicRole);
  TBRNUser copy(&config);
  copy.LockNumber = 9;
  copy.Assign(bob, false);
  EXPECT_EQ(copy.Password, "pw");
  EXPECT_EQ(copy.PasswordChanged, bob->PasswordChanged);
  EXPECT_EQ(copy.ReservedNumber, 12);
  EXPECT_EQ(copy.LockNumber, 9);
  EXPECT_TRUE(copy.HasRole(config.PublicRole));
  EXPECT_TRUE(copy.IsEqual(bob, true));
}

TEST(UserRoleTest, RolesAreGrantedOnceAndRevoked) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TBRNRole* clerks = config.AddRole("Clerks");
  bob->GrantRole(config.AdministratorUser, clerks);
  bob->GrantRole(config.SystemUser, clerks);
  ASSERT_EQ(bob->Roles->Count(), 1);
  EXPECT_EQ(bob->Roles->GetUserRole(0)->GrantorName, "Administrator");
  EXPECT_EQ(bob->Roles->GetUserRole(0)->GetName(), "Clerks");
  EXPECT_FALSE(bob->HasRole(config.PublicRole));

  bob->RevokeRole(config.PublicRole);
  EXPECT_EQ(bob->Roles->Count(), 1);
  bob->RevokeRole(clerks);
  EXPECT_EQ(bob->Roles->Count(), 0);
  EXPECT_FALSE(bob->HasRole(clerks));

  // A granted role whose role is gone raises 401 when its name is asked for.
  auto* orphan = new TBRNUserRole(&config);
  orphan->RoleID = 999;
  bob->Roles->AddObject(orphan);
  EBRNException error = CaughtError([&] { orphan->GetName(); });
  EXPECT_EQ(error.ErrorCode, 401);
  EXPECT_EQ(error.ErrorMessage, "The role 999 does not exist");
  EXPECT_FALSE(bob->HasRole(clerks));
}

TEST(UserRoleTest, UsersAndRolesShareOneNamespace) {
  TestConfig config;
  config.AddUser("Bob");
  config.AddRole("Clerks");
  EBRNException roleLikeUser = CaughtError([&] { config.AddRole("BOB"); });
  EXPECT_EQ(roleLikeUser.ErrorCode, 400);
  EXPECT_EQ(roleLikeUser.ErrorMessage, "The user Bob already exists");
  EBRNException userLikeRole = CaughtError([&] { config.AddUser("clerks"); });
  EXPECT_EQ(userLikeRole.ErrorCode, 400);
  EXPECT_EQ(userLikeRole.ErrorMessage, "The role Clerks already exists");
  EXPECT_EQ(CaughtError([&] { config.AddUser("bob"); }).ErrorMessage,
            "The user Bob already exists");
  EXPECT_EQ(config.Users->Count(), 3);
  EXPECT_EQ(config.Roles->Count(), 3);
  EXPECT_EQ(config.Authorizations->Count(), 6);
}

TEST(UserRoleTest, TheUsersListHoldsAtMost4096Users) {
  TestConfig config;
  for (int32_t n = config.Users->Count(); n < kMaxUserCount; ++n) {
    config.AddUser("U" + std::to_string(n), n + 1);
  }
  EXPECT_EQ(config.Users->Count(), 4096);
  EXPECT_NO_THROW(config.Users->Validate());
  EBRNException error = CaughtError([&] { config.AddUser("OneTooMany", 5000); });
  EXPECT_EQ(error.ErrorCode, 405);
  EXPECT_EQ(error.ErrorMessage, "The maximum number of users has been reached (4096)");
}

TEST(AuthorizationSQLTest, CreateAndDropTexts) {
  TestConfig config;
  // Not an identifier a collection would accept, but the text must still
  // quote it soundly.
  TBRNUser bob(&config);
  TBRNUser* user = &bob;
  user->Name = "Bob \"B\" Smith";
  user->SetPassword("never shown");
  user->Description = "Clerk's desk \t ";
  TBRNRole* role = config.AddRole("Clerks");
  role->Attributes = "floor=2 ";
  user->GrantRole(config.SystemUser, role);

  EXPECT_EQ(user->GetCreateSQL(false, false),
            "CREATE USER \"Bob \"\"B\"\" Smith\"\r\n"
            "PASSWORD '<Password>'\r\n"
            "DESCRIPTION 'Clerk''s desk'");
  user->Description.clear();
  user->Attributes = "a";
  EXPECT_EQ(user->GetCreateSQL(false, false),
            "CREATE USER \"Bob \"\"B\"\" Smith\"\r\nPASSWORD '<Password>'\r\nATTRIBUTES 'a'");
  EXPECT_EQ(user->GetDropSQL(false, false), "DROP USER \"Bob \"\"B\"\" Smith\"");
  EXPECT_EQ(role->GetCreateSQL(false, false), "CREATE ROLE \"Clerks\"\r\nATTRIBUTES 'floor=2'");
  EXPECT_EQ(role->GetDropSQL(false, false), "DROP ROLE \"Clerks\"");
  TBRNUserRole* granted = user->Roles->GetUserRole(0);
  EXPECT_EQ(granted->GetCreateSQL(false, false), "GRANT \"Clerks\" TO \"Bob \"\"B\"\" Smith\"");
  EXPECT_EQ(granted->GetDropSQL(false, false), "REVOKE \"Clerks\" FROM \"Bob \"\"B\"\" Smith\"");
}

}  // namespace
}  // namespace brn
