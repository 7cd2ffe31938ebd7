#include "metadata/config/config.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/config/jobs.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"

namespace brn {
namespace {

using testing::CaughtError;

TBRNUser* addUser(TBRNConfig& config, const std::string& name, int32_t lockNumber = 0) {
  auto* user = new TBRNUser(&config);
  user->Name = name;
  user->SetPassword("secret");
  user->LockNumber = lockNumber != 0 ? lockNumber : config.NextUserLockNumber();
  try {
    config.Users->AddObject(user);
  } catch (...) {
    delete user;
    throw;
  }
  return user;
}

TBRNDatabaseContainer* addDatabase(TBRNConfig& config, const std::string& name, TBRNUser* owner) {
  auto* database = TBRNDatabaseContainer::CreateOwned(&config, owner);
  database->Name = name;
  database->Path = "/data/" + name;
  try {
    config.Databases->AddObject(database);
  } catch (...) {
    delete database;
    throw;
  }
  database->ApplyDefaultGrants();
  return database;
}

std::vector<std::string> namesOf(const TBRNConfigObjects& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.GetItem(i)->Name);
  return names;
}

TEST(ConfigRootTest, NewRootHoldsTheBuiltInObjects) {
  TBRNConfig config;
  EXPECT_EQ(config.ID, 1);
  EXPECT_EQ(namesOf(*config.Users), (std::vector<std::string>{"System", "Administrator"}));
  EXPECT_EQ(namesOf(*config.Roles), (std::vector<std::string>{"Administrators", "Public"}));
  EXPECT_EQ(namesOf(*config.Databases),
            (std::vector<std::string>{"Configuration", "__Cursor__Cache"}));
  EXPECT_EQ(namesOf(*config.WordGenerators), std::vector<std::string>{"Default"});
  EXPECT_EQ(namesOf(*config.Authorizations),
            (std::vector<std::string>{"System", "Administrator", "Administrators", "Public"}));
  for (auto* list : std::vector<TBRNConfigObjects*>{config.Modules.get(), config.TextFilters.get(),
                                                    config.Migrators.get(), config.Jobs.get(),
                                                    config.Stores.get()}) {
    EXPECT_EQ(list->Count(), 0);
  }

  // Objects take IDs in the order they are made, counting from 3.
  EXPECT_EQ(config.DefaultWordGenerator->ID, 3);
  EXPECT_EQ(config.SystemUser->ID, 4);
  EXPECT_LT(config.AdministratorUser->ID, config.ConfigurationDatabase->ID);
  EXPECT_LT(config.ConfigurationDatabase->ID, config.CursorCacheDatabase->ID);
  EXPECT_EQ(config.NextID, config.CursorCacheDatabase->Privileges
                               ->GetItem(config.CursorCacheDatabase->Privileges->Count() - 1)
                               ->ID);

  EXPECT_TRUE(config.SystemUser->System);
  EXPECT_FALSE(config.AdministratorUser->System);
  EXPECT_EQ(config.SystemUser->LockNumber, 1);
  EXPECT_EQ(config.AdministratorUser->LockNumber, 2);
  EXPECT_TRUE(config.AdministratorUser->CheckPassword("GlenHarbor"));
  EXPECT_FALSE(config.AdministratorUser->CheckPassword("glenharbor"));
  EXPECT_NE(config.AdministratorUser->PasswordChanged, 0);
  // The System user never logs in, whatever its stored password.
  for (const char* text : {"", "GlenHarbor", "System"}) {
    EXPECT_FALSE(config.SystemUser->CheckPassword(text)) << text;
  }
  config.SystemUser->Password = "x";
  EXPECT_FALSE(config.SystemUser->CheckPassword("x"));

  TBRNDatabaseContainer* configuration = config.ConfigurationDatabase;
  EXPECT_TRUE(configuration->System && configuration->ReadOnly && configuration->SessionPrivate);
  EXPECT_EQ(configuration->Description, "Configuration Database");
  EXPECT_TRUE(configuration->HasPrivilege(config.AdministratorUser, pkSelect));
  EXPECT_GE(configuration->FindGrant(config.PublicRole, pkSelect), 0);
  EXPECT_LT(configuration->FindGrant(config.PublicRole, pkCreate), 0);
  TBRNDatabaseContainer* cache = config.CursorCacheDatabase;
  EXPECT_FALSE(cache->ReadOnly);
  EXPECT_TRUE(cache->SessionPrivate);
  for (int32_t kind : {pkSelect, pkCreate, pkAlter, pkDrop, pkMaintain, pkBackup, pkRestore}) {
    EXPECT_GE(cache->FindGrant(config.PublicRole, kind), 0) << kind;
  }
  EXPECT_LT(cache->FindGrant(config.PublicRole, pkInsert), 0);
}

TEST(ConfigRootTest, AdministratorsAreSystemAndHoldersOfTheRole) {
  TBRNConfig config;
  EXPECT_TRUE(config.IsAdministrator(config.SystemUser));
  EXPECT_TRUE(config.IsAdministrator(config.AdministratorUser));
  TBRNUser* fred = addUser(config, "Fred");
  EXPECT_FALSE(config.IsAdministrator(fred));
  fred->GrantRole(config.SystemUser, config.AdministratorsRole);
  EXPECT_TRUE(config.IsAdministrator(fred));
  config.AdministratorUser->RevokeRole(config.AdministratorsRole);
  EXPECT_FALSE(config.IsAdministrator(config.AdministratorUser));
  EXPECT_FALSE(config.IsAdministrator(nullptr));
}

TEST(ConfigRootTest, LockNumbersFillTheFirstGap) {
  TBRNConfig config;
  addUser(config, "Fred", 4);  // System 1, Administrator 2
  EXPECT_EQ(config.NextUserLockNumber(), 3);
  addUser(config, "Anna", 3);
  EXPECT_EQ(config.NextUserLockNumber(), 5);
  EXPECT_EQ(config.NextJobLockNumber(), 1);
  EXPECT_EQ(config.NextStoreLockNumber(), 1);
  EXPECT_EQ(config.NextModuleLockNumber(), 1);
}

TEST(ConfigRootTest, IDsVersionAndLockRanges) {
  TBRNConfig config;
  config.Modified = false;
  int32_t next = config.NextID;
  EXPECT_EQ(config.NextObjectID(), next + 1);
  EXPECT_TRUE(config.Modified);
  config.NextID = INT32_MAX;
  EXPECT_EQ(config.NextObjectID(), 1);

  config.Modified = false;
  config.SetVersion(config.Version);
  EXPECT_FALSE(config.Modified);
  config.SetVersion(kFormatVersion204);
  EXPECT_TRUE(config.Modified);
  EXPECT_EQ(config.GetFormatVersion(), kFormatVersion204);

  EXPECT_EQ(config.GetLockOffset(ltRead), 4097);
  EXPECT_EQ(config.GetLockLength(ltWrite), 4096);
  EXPECT_EQ(config.GetLockOffset(ltTransaction), 4096);
  EXPECT_EQ(config.GetLockLength(ltTransaction), 1);
  EXPECT_EQ(config.GetLockLength(ltShared), 0);
  EXPECT_EQ(config.GetLockLength(ltExclusive), 0);
}

TEST(ConfigRootTest, WritingStoresOnlyTheAdministratorAndCounts) {
  TBRNConfig config;
  TBRNMemoryStream expected;
  expected.WriteInt64(kNewestFormatVersion);
  expected.WriteInteger(config.NextID);
  for (int i = 0; i < 3; ++i) expected.WriteInteger(0);  // text filters, generators, migrators
  expected.WriteInteger(1);
  config.AdministratorUser->SaveToStream(expected, false);
  for (int i = 0; i < 5; ++i) expected.WriteInteger(0);  // roles .. modules

  TBRNMemoryStream written;
  config.Modified = true;
  config.SaveToStream(written, false);
  EXPECT_FALSE(config.Modified);
  EXPECT_EQ(testing::StreamHex(written), testing::StreamHex(expected));
}

TEST(ConfigRootTest, LoadKeepsIdentityAndReportsDroppedMembers) {
  TBRNConfig writer;
  TBRNUser* fred = addUser(writer, "Fred");
  addUser(writer, "Anna");
  fred->GrantRole(writer.SystemUser, writer.AdministratorsRole);
  addDatabase(writer, "Sales", fred);
  TBRNMemoryStream first;
  writer.SaveToStream(first, false);

  TBRNConfig reader;
  std::vector<std::string> unloaded;
  reader.Hooks.OnObjectUnloaded = [&](TBRNConfigObject* object) {
    unloaded.push_back(object->Name);
  };
  TBRNUser* administrator = reader.AdministratorUser;
  first.SetPosition(0);
  reader.LoadFromStream(first);
  EXPECT_EQ(first.GetPosition(), first.GetSize());
  EXPECT_FALSE(reader.Modified);
  EXPECT_EQ(reader.AdministratorUser, administrator);
  EXPECT_EQ(namesOf(*reader.Users),
            (std::vector<std::string>{"System", "Administrator", "Fred", "Anna"}));
  EXPECT_EQ(reader.Authorizations->Count(), 6);
  TBRNUser* readFred = reader.Users->GetUser(2);
  EXPECT_TRUE(reader.IsAdministrator(readFred));
  EXPECT_EQ(reader.NextID, writer.NextID);
  ASSERT_EQ(reader.Databases->Count(), 3);
  EXPECT_EQ(reader.Databases->GetDatabase(2)->GetOwner(), readFred);

  // Anna is dropped by the writer; the reader's Fred stays the same object.
  TBRNConfigObject* anna = writer.Users->RemoveObject(3);
  delete anna;
  TBRNMemoryStream second;
  writer.SaveToStream(second, false);
  second.SetPosition(0);
  reader.LoadFromStream(second);
  EXPECT_EQ(unloaded, std::vector<std::string>{"Anna"});
  EXPECT_EQ(reader.Users->GetUser(2), readFred);
  EXPECT_EQ(
      namesOf(*reader.Authorizations),
      (std::vector<std::string>{"System", "Administrator", "Fred", "Administrators", "Public"}));
}

TEST(ConfigRootTest, DroppingTheAdministratorClearsItsField) {
  TBRNConfig writer;
  TBRNConfigObject* administrator = writer.Users->RemoveObject(1);
  delete administrator;
  writer.AdministratorUser = nullptr;
  TBRNMemoryStream stream;
  writer.SaveToStream(stream, false);
  TBRNConfig reader;
  stream.SetPosition(0);
  reader.LoadFromStream(stream);
  EXPECT_EQ(reader.AdministratorUser, nullptr);
  EXPECT_EQ(reader.Users->Count(), 1);
}

// A stream of an older engine holds only the lists its version had; each
// case appends one more int32 after them that must stay unread.
TEST(ConfigRootTest, OlderStreamsReadOnlyWhatTheirVersionHad) {
  struct Case {
    int64_t version;
    bool migrators, stores, modules;
  };
  const Case cases[] = {
      {kFormatVersion100, false, false, false},
      {kFormatVersion102, false, false, false},
      {10300, true, false, false},
      {kFormatVersion107, true, false, false},
      {kFormatVersion200, true, true, false},
      {kFormatVersion203, true, true, false},
      {kFormatVersion204, true, true, true},
      {kFormatVersion205, true, true, true},
  };
  for (const Case& c : cases) {
    TBRNMemoryStream stream;
    stream.WriteInt64(c.version);
    stream.WriteInteger(77);
    stream.WriteInteger(0);  // text filters
    stream.WriteInteger(0);  // word generators
    if (c.migrators) stream.WriteInteger(0);
    stream.WriteInteger(0);  // users: the Administrator is gone
    stream.WriteInteger(0);  // roles
    stream.WriteInteger(0);  // databases
    stream.WriteInteger(0);  // jobs
    if (c.stores) stream.WriteInteger(0);
    if (c.modules) stream.WriteInteger(0);
    int64_t end = stream.GetPosition();
    stream.WriteInteger(-1);  // read as a count it would be refused

    TBRNConfig config;
    stream.SetPosition(0);
    config.LoadFromStream(stream);
    EXPECT_EQ(stream.GetPosition(), end) << c.version;
    EXPECT_EQ(config.Version, c.version);
    EXPECT_EQ(config.NextID, 77);
    EXPECT_EQ(config.Users->Count(), 1) << c.version;
  }
}

TEST(ConfigRootTest, NewerVersionIsRefusedAfterItWasSet) {
  TBRNMemoryStream stream;
  stream.WriteInt64(kFormatVersion205 + 1);
  stream.WriteInteger(5);
  TBRNConfig config;
  stream.SetPosition(0);
  EBRNException e = CaughtError([&] { config.LoadFromStream(stream); });
  EXPECT_EQ(e.ErrorCode, 100);
  EXPECT_NE(e.ErrorMessage.find("The object has been updated by a newer version of the engine"),
            std::string::npos);
  EXPECT_EQ(config.Version, kFormatVersion205 + 1);
}

TEST(ConfigRootTest, TruncatedStreamRaisesTheMetadataError) {
  TBRNConfig writer;
  addUser(writer, "Fred");
  TBRNMemoryStream stream;
  writer.SaveToStream(stream, false);
  stream.SetSize(stream.GetSize() - 30);
  TBRNConfig reader;
  stream.SetPosition(0);
  EXPECT_EQ(CaughtError([&] { reader.LoadFromStream(stream); }).ErrorCode, 100);
}

TEST(ConfigRootTest, AssignCopiesWithoutSharingMembers) {
  TBRNConfig source;
  addUser(source, "Fred");
  source.Version = kFormatVersion204;
  auto copy = std::make_unique<TBRNConfig>();
  copy->Assign(&source, false);
  EXPECT_EQ(copy->Version, kFormatVersion204);
  EXPECT_EQ(copy->NextID, source.NextID);
  ASSERT_EQ(copy->Users->Count(), 3);
  EXPECT_NE(copy->Users->GetItem(2), source.Users->GetItem(2));
  EXPECT_EQ(copy->Users->GetItem(2)->Config, static_cast<TBRNConfigRoot*>(copy.get()));
  copy.reset();  // frees only its own members
  EXPECT_EQ(source.Users->GetItem(2)->Name, "Fred");
}

TEST(ConfigRootTest, HooksAreForwardedOnlyWhenAssigned) {
  TBRNConfig config;
  TBRNDatabaseContainer* database = config.ConfigurationDatabase;
  config.OnCatalogReadBegin(database);  // nothing assigned: nothing happens
  EXPECT_EQ(config.GetCollationName(3), "");
  std::vector<std::string> calls;
  config.Hooks.OnCatalogReadBegin = [&](TBRNDatabaseContainer* d) {
    calls.push_back("rb " + d->Name);
  };
  config.Hooks.OnCatalogUpdateCommit = [&](TBRNDatabaseContainer* d) {
    calls.push_back("uc " + d->Name);
  };
  config.Hooks.GetCollationName = [](int32_t id, std::string& name) {
    name = "C" + std::to_string(id);
  };
  config.OnCatalogReadBegin(database);
  config.OnCatalogUpdateCommit(database);
  EXPECT_EQ(calls, (std::vector<std::string>{"rb Configuration", "uc Configuration"}));
  EXPECT_EQ(config.GetCollationName(3), "C3");
  config.Path = "/etc/brindle";
  EXPECT_EQ(config.GetConfigFolder(), "/etc/brindle");
  EXPECT_EQ(config.GetDatabaseEntries(), config.Databases.get());
}

// ---------------------------------------------------------------------------
// Renaming users with catalogs that hold grants

// The catalog of one database: a list of tables with grants.
class FakeCatalog : public TBRNContainerCatalog {
 public:
  explicit FakeCatalog(TBRNConfig* config) : Tables(config) {}

  TBRNPrivilegedConfigObject* AddTable(const std::string& name, TBRNUser* owner) {
    auto* table = new TBRNPrivilegedConfigObject(Tables.Config, owner);
    table->Name = name;
    Tables.AddObject(table);
    return table;
  }

  void CollectTransactionTables(std::vector<TBRNPrivilegedConfigObject*>&) override {}
  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override {
    holders.push_back(&Tables);
  }
  int64_t GetCatalogMemorySize() const override { return 0; }
  int32_t GetCatalogObjectCount() const override { return 0; }

  TBRNPrivilegedConfigObjects Tables;
};

class FakeRenameCatalogs : public TBRNRenameCatalogs {
 public:
  std::vector<std::string> Calls;
  std::string FailBegin, FailCommit;  // database names
  std::vector<std::pair<TBRNDatabaseContainer*, TBRNContainerCatalog*>> Catalogs;

  void BeginCatalogRename(TBRNDatabaseContainer* database) override {
    Calls.push_back("begin " + database->Name);
    if (database->Name == FailBegin) throw EBRNException(600, "Cannot open the catalog");
    for (auto& [d, catalog] : Catalogs) {
      if (d == database) database->Catalog = catalog;
    }
  }
  void CommitCatalogRename(TBRNDatabaseContainer* database) override {
    Calls.push_back("commit " + database->Name);
    if (database->Name == FailCommit) throw EBRNException(600, "Disk full");
  }
  void CancelCatalogRename(TBRNDatabaseContainer* database) noexcept override {
    Calls.push_back("cancel " + database->Name);
  }
};

class RenameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fred = addUser(config, "Fred");
    sales = addDatabase(config, "Sales", config.AdministratorUser);
    stock = addDatabase(config, "Stock", config.AdministratorUser);
    sales->Grant(config.SystemUser, fred, pkSelect);
    salesCatalog.AddTable("Orders", config.AdministratorUser)
        ->Grant(config.SystemUser, fred, pkInsert);
    stockCatalog.AddTable("Items", fred);
    catalogs.Catalogs = {{sales, &salesCatalog}, {stock, &stockCatalog}};
    config.Hooks.RenameCatalogs = &catalogs;
    config.Modified = false;
  }

  std::string salesGrantee() {
    return sales->Privileges->GetPrivilege(sales->FindGrant(fred, pkSelect))->GranteeName;
  }
  std::string ordersGrantee() {
    auto* orders = static_cast<TBRNPrivilegedConfigObject*>(salesCatalog.Tables.GetItem(0));
    auto* grants = orders->Privileges.get();
    for (int32_t i = 0; i < grants->Count(); ++i) {
      if (grants->GetPrivilege(i)->Kind == pkInsert) return grants->GetPrivilege(i)->GranteeName;
    }
    return "";
  }
  std::string itemsOwner() {
    return static_cast<TBRNPrivilegedConfigObject*>(stockCatalog.Tables.GetItem(0))->OwnerName;
  }

  TBRNConfig config;
  FakeCatalog salesCatalog{&config};
  FakeCatalog stockCatalog{&config};
  FakeRenameCatalogs catalogs;
  TBRNUser* fred = nullptr;
  TBRNDatabaseContainer* sales = nullptr;
  TBRNDatabaseContainer* stock = nullptr;
};

TEST_F(RenameTest, RenameReachesEveryCatalogAndCommitsThem) {
  config.RenameAuthorization(fred, "Frederick");
  EXPECT_EQ(fred->Name, "Frederick");
  EXPECT_EQ(salesGrantee(), "Frederick");
  EXPECT_EQ(ordersGrantee(), "Frederick");
  EXPECT_EQ(itemsOwner(), "Frederick");
  EXPECT_TRUE(config.Modified);
  EXPECT_EQ(catalogs.Calls, (std::vector<std::string>{"begin Sales", "begin Stock", "commit Sales",
                                                      "commit Stock"}));
}

TEST_F(RenameTest, ACatalogThatCannotBeUpdatedStopsTheRenameBeforeAnyChange) {
  catalogs.FailBegin = "Stock";
  EXPECT_EQ(CaughtError([&] { config.RenameAuthorization(fred, "Frederick"); }).ErrorCode, 600);
  EXPECT_EQ(fred->Name, "Fred");
  EXPECT_EQ(salesGrantee(), "Fred");
  EXPECT_EQ(ordersGrantee(), "Fred");
  EXPECT_FALSE(config.Modified);
  EXPECT_EQ(catalogs.Calls,
            (std::vector<std::string>{"begin Sales", "begin Stock", "cancel Sales"}));
  // A new user of the old name would not inherit anything: the old name
  // still belongs to Fred everywhere.
  EXPECT_EQ(CaughtError([&] { addUser(config, "Fred"); }).ErrorCode, 400);
}

TEST_F(RenameTest, AFailedCommitPutsTheConfigurationBack) {
  catalogs.FailCommit = "Sales";
  EXPECT_EQ(CaughtError([&] { config.RenameAuthorization(fred, "Frederick"); }).ErrorCode, 600);
  EXPECT_EQ(config.Users->GetUser(2), fred);  // the same object, its old name
  EXPECT_EQ(fred->Name, "Fred");
  EXPECT_EQ(salesGrantee(), "Fred");
  EXPECT_FALSE(config.Modified);
  EXPECT_EQ(catalogs.Calls, (std::vector<std::string>{"begin Sales", "begin Stock", "commit Sales",
                                                      "cancel Sales", "cancel Stock"}));
}

TEST_F(RenameTest, WithoutTheCatalogHookNothingIsRenamed) {
  config.Hooks.RenameCatalogs = nullptr;
  EBRNException e = CaughtError([&] { config.RenameAuthorization(fred, "Frederick"); });
  EXPECT_EQ(e.ErrorCode, 100);
  EXPECT_NE(e.ErrorMessage.find("the database Sales cannot be updated"), std::string::npos);
  EXPECT_EQ(fred->Name, "Fred");
  EXPECT_EQ(salesGrantee(), "Fred");
}

TEST_F(RenameTest, NamesAreCheckedFirst) {
  EXPECT_EQ(CaughtError([&] { config.RenameAuthorization(fred, "Public"); }).ErrorCode, 400);
  EXPECT_EQ(CaughtError([&] { config.RenameAuthorization(fred, "Administrator"); }).ErrorCode, 400);
  EXPECT_EQ(CaughtError([&] { config.RenameAuthorization(config.SystemUser, "Root"); }).ErrorCode,
            200);
  EXPECT_TRUE(catalogs.Calls.empty());
}

}  // namespace
}  // namespace brn
