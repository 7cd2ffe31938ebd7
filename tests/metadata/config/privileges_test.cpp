#include "metadata/config/privileges.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "metadata/authorization_test_support.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/object_selections.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::PrivilegeSet;
using testing::TestConfig;
using testing::TestDatabase;

// The kinds granted to grantee on object, as a set, with the grantor's name
// of each grant checked against grantorName.
int32_t GrantedSet(TBRNPrivilegedConfigObject* object, const std::string& grantee,
                   const std::string& grantorName = "System") {
  int32_t set = 0;
  for (int32_t i = 0; i < object->Privileges->Count(); ++i) {
    TBRNPrivilege* privilege = object->Privileges->GetPrivilege(i);
    if (privilege->GranteeName != grantee) continue;
    EXPECT_EQ(privilege->GrantorName, grantorName) << grantee << " " << privilege->GetName();
    set |= 1 << privilege->Kind;
  }
  return set;
}

TEST(PrivilegeNamesTest, NamesAndKindsMapBothWays) {
  for (int32_t kind = pkSelect; kind <= pkAll; ++kind) {
    EXPECT_EQ(PrivilegeFromName(PrivilegeName(kind)), kind);
  }
  EXPECT_EQ(PrivilegeFromName("maintain"), pkMaintain);
  EXPECT_EQ(PrivilegeFromName("EXECUTE"), pkExecute);
  EXPECT_EQ(PrivilegeFromName("Usage"), -1);
  EXPECT_EQ(PrivilegeFromName(""), -1);
  EXPECT_EQ(PrivilegeName(12), "");
  EXPECT_EQ(PrivilegeName(-1), "");
  EXPECT_EQ(PrivilegeName(pkAll), "All");
}

TEST(DefaultGrantsTest, NewObjectsGetTheGrantsOfTheirKindAndOwner) {
  TestConfig config;
  const int32_t kBaseFull = 0x7FF;
  const int32_t kBaseDefault = PrivilegeSet({pkSelect, pkInsert, pkUpdate, pkDelete});
  const int32_t kSelect = PrivilegeSet({pkSelect});

  // A database owned by System: the database sets.
  TestDatabase* database = config.AddDatabase("Sales", config.SystemUser);
  EXPECT_EQ(GrantedSet(database, "System"), TestDatabase::kFull);
  EXPECT_EQ(GrantedSet(database, "Administrators"), TestDatabase::kFull);
  EXPECT_EQ(GrantedSet(database, "Public"), kSelect);
  EXPECT_EQ(database->Privileges->Count(), 7 + 7 + 1);

  // A System object: everything to System, the default set to
  // Administrators and Public.
  TestDatabase* builtIn = config.AddDatabase("Configuration", config.SystemUser, true);
  EXPECT_EQ(GrantedSet(builtIn, "System"), TestDatabase::kFull);
  EXPECT_EQ(GrantedSet(builtIn, "Administrators"), kSelect);
  EXPECT_EQ(GrantedSet(builtIn, "Public"), kSelect);
  EXPECT_TRUE(builtIn->Privileges->System);

  // The base kind, owned by another user: the owner gets everything too.
  TBRNUser* bob = config.AddUser("Bob");
  TBRNPrivilegedConfigObject object(&config, bob);
  object.ApplyDefaultGrants();
  EXPECT_EQ(object.OwnerName, "Bob");
  EXPECT_EQ(GrantedSet(&object, "System"), kBaseFull);
  EXPECT_EQ(GrantedSet(&object, "Administrators"), kBaseFull);
  EXPECT_EQ(GrantedSet(&object, "Bob"), kBaseFull);
  EXPECT_EQ(GrantedSet(&object, "Public"), kBaseDefault);
}

class EffectivePrivilegesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bob = config.AddUser("Bob");
    ann = config.AddUser("Ann");
    clerks = config.AddRole("Clerks");
    table = config.AddDatabase("Orders", config.SystemUser);
    table->Privileges->Clear();
    bob->GrantRole(config.SystemUser, clerks);
  }

  TestConfig config;
  TBRNUser* bob = nullptr;
  TBRNUser* ann = nullptr;
  TBRNRole* clerks = nullptr;
  TestDatabase* table = nullptr;
};

TEST_F(EffectivePrivilegesTest, DirectAndRoleGrantsCombineAndRevokesAreSeen) {
  table->Grant(config.SystemUser, clerks, pkInsert);
  table->Grant(config.SystemUser, bob, pkSelect);
  EXPECT_EQ(table->GetEffectivePrivileges(bob), PrivilegeSet({pkSelect, pkInsert}));
  EXPECT_TRUE(table->IsVisibleTo(bob));
  EXPECT_FALSE(table->IsVisibleTo(ann));

  table->Revoke(clerks, pkInsert);
  EXPECT_EQ(table->GetEffectivePrivileges(bob), PrivilegeSet({pkSelect}));

  // Role membership changes count at once.
  table->Grant(config.SystemUser, clerks, pkUpdate);
  EXPECT_TRUE(table->HasPrivilege(bob, pkUpdate));
  bob->RevokeRole(clerks);
  EXPECT_FALSE(table->HasPrivilege(bob, pkUpdate));
  ann->GrantRole(config.SystemUser, clerks);
  EXPECT_TRUE(table->HasPrivilege(ann, pkUpdate));

  table->RevokeAll(bob);
  EXPECT_EQ(table->GetEffectivePrivileges(bob), 0);
}

TEST_F(EffectivePrivilegesTest, TheCacheHoldsOneUserAtATime) {
  table->Grant(config.SystemUser, bob, pkSelect);
  table->Grant(config.SystemUser, ann, pkDelete);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(table->GetEffectivePrivileges(bob), PrivilegeSet({pkSelect}));
    EXPECT_EQ(table->GetEffectivePrivileges(ann), PrivilegeSet({pkDelete}));
  }
}

TEST_F(EffectivePrivilegesTest, GrantingTwiceKeepsOneGrantAndKindAllIsNeverStored) {
  table->Grant(config.SystemUser, bob, pkSelect);
  table->Grant(ann, bob, pkSelect);
  EXPECT_EQ(table->Privileges->Count(), 1);
  EXPECT_EQ(table->Privileges->GetPrivilege(0)->GrantorName, "System");
  EXPECT_THROW(table->Grant(config.SystemUser, bob, pkAll), std::out_of_range);
  EXPECT_EQ(table->Privileges->Count(), 1);

  // The same grant arriving by a copy is refused on validation.
  TestDatabase copy(&config);
  copy.Assign(table, false);
  auto* duplicate = new TBRNPrivilege(&config);
  duplicate->Assign(table->Privileges->GetPrivilege(0), false);
  EXPECT_EQ(CaughtError([&] { copy.Privileges->AddObject(duplicate); }).ErrorCode, 400);
  delete duplicate;
}

TEST_F(EffectivePrivilegesTest, LookupsForAUserHideInvisibleObjects) {
  table->Grant(config.SystemUser, bob, pkSelect);
  table->DefinedOnDemand = true;
  TBRNPrivilegedConfigObjects* databases = config.Databases.get();
  EXPECT_EQ(databases->FindByNameForUser("orders", bob, true), table);
  EXPECT_TRUE(table->DefinitionComplete);
  EXPECT_EQ(databases->FindByIDForUser(table->ID, bob, true), table);

  EBRNException hidden = CaughtError([&] { databases->FindByNameForUser("Orders", ann, true); });
  EBRNException missing = CaughtError([&] { databases->FindByNameForUser("Nothing", ann, true); });
  EXPECT_EQ(hidden.ErrorCode, 401);
  EXPECT_EQ(missing.ErrorCode, 401);
  EXPECT_EQ(hidden.ErrorMessage, "The database Orders does not exist");
  EXPECT_EQ(CaughtError([&] { databases->FindByIDForUser(table->ID, ann, true); }).ErrorMessage,
            "The database " + std::to_string(table->ID) + " does not exist");

  // Without raising, or without a user, the object is answered.
  EXPECT_EQ(databases->FindByNameForUser("Orders", ann, false), table);
  table->LoadedName = "Orders";
  EXPECT_EQ(databases->FindByLoadedNameForUser("Orders", nullptr, true), table);
  EXPECT_EQ(databases->FindByNameForUser("Nothing", ann, false), nullptr);
}

TEST(AuthorizationReferencesTest, DroppingAUserRemovesItsGrantsOwnershipsAndGrantorships) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TBRNUser* ann = config.AddUser("Ann");
  TBRNRole* clerks = config.AddRole("Clerks");
  TestDatabase* owned = config.AddDatabase("BobsData", bob);
  TestDatabase* other = config.AddDatabase("Other", config.SystemUser);
  other->Grant(bob, ann, pkAlter);  // Bob is the grantor
  other->Grant(config.SystemUser, bob, pkDrop);
  ann->GrantRole(bob, clerks);

  bob->BuildReferrers();
  EXPECT_EQ(bob->GetReferrers()->Count(), 3);  // Ann, BobsData, Other
  EXPECT_EQ(CaughtError([&] { bob->CheckNotReferenced("dropped"); }).ErrorCode, 201);

  bob->NotifyDropped();
  EXPECT_NO_THROW(bob->CheckNotReferenced("dropped"));
  EXPECT_EQ(owned->OwnerName, "System");
  EXPECT_EQ(owned->GetOwner(), config.SystemUser);
  EXPECT_EQ(GrantedSet(owned, "Bob"), 0);
  EXPECT_EQ(GrantedSet(other, "Bob"), 0);
  EXPECT_EQ(GrantedSet(other, "Ann"), PrivilegeSet({pkAlter}));  // now granted by System
  EXPECT_EQ(ann->Roles->GetUserRole(0)->GrantorName, "System");
  EXPECT_EQ(ann->Roles->GetUserRole(0)->GetGrantor(), config.SystemUser);
}

TEST(AuthorizationReferencesTest, DroppingARoleRemovesItsGrantsAndMemberships) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TBRNRole* clerks = config.AddRole("Clerks");
  TestDatabase* database = config.AddDatabase("Orders", config.SystemUser);
  database->Grant(config.SystemUser, clerks, pkInsert);
  bob->GrantRole(config.SystemUser, clerks);
  EXPECT_TRUE(database->HasPrivilege(bob, pkInsert));

  clerks->NotifyDropped();
  EXPECT_NO_THROW(clerks->CheckNotReferenced("dropped"));
  EXPECT_FALSE(bob->HasRole(clerks));
  EXPECT_EQ(bob->Roles->Count(), 0);
  EXPECT_FALSE(database->HasPrivilege(bob, pkInsert));
  EXPECT_EQ(GrantedSet(database, "Clerks"), 0);
}

TEST(AuthorizationReferencesTest, RenamingAUserRewritesEveryNameThatRefersToIt) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TBRNUser* ann = config.AddUser("Ann");
  TestDatabase* database = config.AddDatabase("Orders", bob);
  database->Grant(bob, ann, pkSelect);
  ann->GrantRole(bob, config.PublicRole);

  bob->NotifyRenamed("Robert");
  bob->SetName("Robert");
  EXPECT_EQ(database->OwnerName, "Robert");
  EXPECT_EQ(GrantedSet(database, "Robert"), TestDatabase::kFull);
  EXPECT_EQ(GrantedSet(database, "Ann", "Robert"), PrivilegeSet({pkSelect}));
  EXPECT_EQ(ann->Roles->GetUserRole(0)->GrantorName, "Robert");
  EXPECT_EQ(database->GetOwner(), bob);
}

TEST(PrivilegeRecordTest, GrantsAndOwnerRoundTripAndDanglingGranteesCountForNobody) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TestDatabase* database = config.AddDatabase("Orders", bob);
  database->Grant(bob, config.PublicRole, pkBackup);
  database->Attributes = "color=blue";

  TBRNMemoryStream stream;
  database->SaveToStream(stream, false);
  TestDatabase copy(&config);
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  EXPECT_EQ(stream.GetRemaining(), 0);
  EXPECT_EQ(copy.OwnerName, "Bob");
  EXPECT_EQ(copy.Attributes, "color=blue");
  ASSERT_EQ(copy.Privileges->Count(), database->Privileges->Count());
  for (int32_t i = 0; i < copy.Privileges->Count(); ++i) {
    EXPECT_TRUE(copy.Privileges->GetItem(i)->IsEqual(database->Privileges->GetItem(i), true));
  }
  TBRNPrivilege* grant = copy.Privileges->GetPrivilege(copy.FindGrant(config.PublicRole, pkBackup));
  EXPECT_EQ(grant->GrantorName, "Bob");

  // A grantee that no longer exists resolves to nothing.
  TBRNUser* dana = config.AddUser("Dana");
  dana->GrantRole(bob, config.PublicRole);
  EXPECT_TRUE(copy.HasPrivilege(dana, pkBackup));
  grant->GranteeName = "Ghost";
  copy.ResetAllLinks();
  EXPECT_EQ(grant->GetGrantee(), nullptr);
  EXPECT_EQ(grant->GetGrantor(), bob);
  EXPECT_FALSE(copy.HasPrivilege(dana, pkBackup));

  // The structure-only record is the lockable part alone.
  TBRNMemoryStream structure;
  database->SaveToStream(structure, true);
  EXPECT_EQ(structure.GetSize(), 4 + 6 + 1);
}

TEST(PrivilegeRecordTest, RecordsBeforeFormat200NameTheOwnerByID) {
  TestConfig config(kFormatVersion107);
  TBRNUser* bob = config.AddUser("Bob");
  TBRNMemoryStream stream;
  stream.WriteInteger(77);       // ID
  stream.WriteString("Legacy");  // Name
  stream.WriteString("");        // Description
  stream.WriteBoolean(false);    // Internal
  stream.WriteBoolean(false);    // ReadOnly (no Attributes before 2.04)
  stream.WriteInteger(bob->ID);  // OwnerID
  stream.WriteInteger(1);        // one grant
  stream.WriteInteger(78);
  stream.WriteBoolean(false);
  stream.WriteBoolean(false);
  stream.WriteInteger(pkSelect);
  stream.WriteString("Public");
  stream.WriteString("System");

  TestDatabase database(&config);
  stream.SetPosition(0);
  database.LoadFromStream(stream);
  EXPECT_EQ(stream.GetRemaining(), 0);
  EXPECT_EQ(database.OwnerID, bob->ID);
  EXPECT_EQ(database.OwnerName, "Bob");
  EXPECT_EQ(database.GetOwner(), bob);
  EXPECT_EQ(GrantedSet(&database, "Public"), PrivilegeSet({pkSelect}));

  // Written back at that version, the owner is an ID again.
  TBRNMemoryStream again;
  database.SaveToStream(again, false);
  EXPECT_EQ(testing::StreamHex(again), testing::StreamHex(stream));
}

TEST(PrivilegeRecordTest, HostileGrantRecordsRaiseTheMetadataError) {
  TestConfig config;
  struct Case {
    const char* what;
    int32_t kind;
    int32_t count;
  };
  for (const Case& c :
       {Case{"kind 40", 40, 1}, Case{"kind All", pkAll, 1}, Case{"kind -1", -1, 1},
        Case{"count beyond the bytes", pkSelect, 100000}, Case{"negative count", pkSelect, -3}}) {
    SCOPED_TRACE(c.what);
    TBRNMemoryStream stream;
    stream.WriteInteger(5);
    stream.WriteString("Orders");
    stream.WriteString("");
    stream.WriteBoolean(false);
    stream.WriteBoolean(false);
    stream.WriteString("");        // Attributes
    stream.WriteString("System");  // OwnerName
    stream.WriteInteger(c.count);
    stream.WriteInteger(6);
    stream.WriteBoolean(false);
    stream.WriteBoolean(false);
    stream.WriteInteger(c.kind);
    stream.WriteString("Public");
    stream.WriteString("System");
    TestDatabase database(&config);
    stream.SetPosition(0);
    EXPECT_EQ(CaughtError([&] { database.LoadFromStream(stream); }).ErrorCode, 100);
  }
}

TEST(CachedLinkTest, LinksHeldAcrossAMergeLoadThatFreesTheirTargetsResolveAgain) {
  TestConfig config;
  TBRNUser* bob = config.AddUser("Bob");
  TBRNUser* carl = config.AddUser("Carl");
  TBRNRole* clerks = config.AddRole("Clerks");
  TestDatabase* database = config.AddDatabase("Orders", bob);
  database->Grant(bob, clerks, pkInsert);
  carl->GrantRole(bob, clerks);
  TBRNMemoryStream before;
  config.Save(before);

  // The stored users and roles without Bob and Clerks.
  TBRNMemoryStream without;
  without.WriteInteger(2);
  config.AdministratorUser->SaveToStream(without, false);
  carl->SaveToStream(without, false);
  without.WriteInteger(0);

  // Cache every link to Bob and Clerks.
  TBRNUserRole* membership = carl->Roles->GetUserRole(0);
  TBRNPrivilege* grant = database->Privileges->GetPrivilege(database->FindGrant(clerks, pkInsert));
  ASSERT_EQ(database->GetOwner(), bob);
  ASSERT_EQ(grant->GetGrantee(), clerks);
  ASSERT_EQ(grant->GetGrantor(), bob);
  ASSERT_EQ(membership->GetRole(), clerks);
  ASSERT_EQ(membership->GetGrantor(), bob);
  ASSERT_TRUE(database->HasPrivilege(carl, pkInsert));

  // Bob and Clerks are freed while the database, its grants and Carl with
  // his membership stay.
  without.SetPosition(0);
  config.Users->LoadFromStream(without);
  config.Roles->LoadFromStream(without);
  EXPECT_EQ(config.Unloaded, (std::vector<std::string>{"Bob", "Clerks"}));
  EXPECT_EQ(config.Users->FindByName("Carl", false), carl);
  EXPECT_EQ(carl->Roles->GetUserRole(0), membership);
  EXPECT_EQ(grant->GetGrantee(), nullptr);
  EXPECT_EQ(grant->GetGrantor(), config.SystemUser);
  EXPECT_EQ(membership->FindRole(), nullptr);
  EXPECT_EQ(membership->GetGrantor(), config.SystemUser);
  EXPECT_EQ(CaughtError([&] { membership->GetName(); }).ErrorCode, 401);
  EXPECT_EQ(CaughtError([&] { database->GetOwner(); }).ErrorMessage, "The user Bob does not exist");
  EXPECT_FALSE(database->HasPrivilege(carl, pkInsert));

  // Loading the earlier state brings new objects under the same IDs.
  config.Load(before);
  auto* newBob = static_cast<TBRNUser*>(config.Users->FindByName("Bob", true));
  auto* newClerks = static_cast<TBRNRole*>(config.Roles->FindByName("Clerks", true));
  EXPECT_EQ(database->GetOwner(), newBob);
  EXPECT_EQ(grant->GetGrantee(), newClerks);
  EXPECT_EQ(membership->GetRole(), newClerks);
  EXPECT_TRUE(database->HasPrivilege(carl, pkInsert));
}

TEST(PrivilegedStateTest, StateBitsAreIndependent) {
  TestConfig config;
  TBRNPrivilegedConfigObject object(&config);
  object.SetInTransaction();
  object.SetSkipStructureCheck();
  EXPECT_EQ(object.StateBits, 1 | 8);
  object.SetTransactionOwner();
  object.SetSkipWriteCheck();
  object.ClearInTransaction();
  EXPECT_EQ(object.StateBits, 2 | 4 | 8);
  EXPECT_TRUE(object.IsTransactionOwner() && object.GetSkipWriteCheck());
  object.ClearTransactionOwner();
  object.ClearSkipWriteCheck();
  object.ClearSkipStructureCheck();
  EXPECT_EQ(object.StateBits, 0);
}

}  // namespace
}  // namespace brn
