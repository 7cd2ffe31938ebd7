#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/config_test_support.h"

namespace brn::testing {
namespace {

class DatabaseTest : public ::testing::Test {
 protected:
  DatabaseTest() {
    Bob = Root.AddUser("Bob");
    Sales = Root.AddContainer("Sales", Bob);
  }

  ConfigRoot Root;
  TBRNUser* Bob = nullptr;
  TBRNDatabaseContainer* Sales = nullptr;
};

TEST_F(DatabaseTest, CreateTextIsGolden) {
  Sales->Path = "/data/o'brien";
  Sales->Description = "Sales figures \r\n";
  Sales->Attributes = "k='v'";
  EXPECT_EQ(Sales->GetCreateSQL(false, false),
            "CREATE DATABASE \"Sales\"\r\n"
            "PATH '/data/o''brien'\r\n"
            "UNENCRYPTED CATALOG\r\n"
            "DESCRIPTION 'Sales figures'\r\n"
            "ATTRIBUTES 'k=''v'''");

  TBRNDatabaseContainer scratch(&Root, Bob);
  scratch.Name = "Scra\"tch";
  scratch.InMemory = true;
  scratch.Path = "/ignored";
  scratch.EncryptedCatalog = true;
  scratch.DefaultCollation = 12;  // not part of the text
  EXPECT_EQ(scratch.GetCreateSQL(false, false),
            "CREATE DATABASE \"Scra\"\"tch\"\r\n"
            "IN MEMORY\r\n"
            "ENCRYPTED CATALOG");
  EXPECT_EQ(scratch.GetDropSQL(false, false), "DROP DATABASE \"Scra\"\"tch\"");
}

TEST_F(DatabaseTest, RecordRoundTripsEveryField) {
  Sales->ApplyDefaultGrants();
  Sales->SetPath("/data/Sales");
  Sales->SetEncryptedCatalog(true);
  Sales->SetDefaultCollation(42);
  Sales->Description = "Sales";
  Sales->Attributes = "x";
  EXPECT_EQ(Sales->ReservedNumber, 4096);

  TBRNMemoryStream stream;
  Root.Containers->SaveToStream(stream, false);
  ConfigRoot other;
  other.AddUser("Bob");
  stream.SetPosition(0);
  other.Containers->LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  ASSERT_EQ(other.Containers->Count(), 1);
  TBRNDatabaseContainer* copy = other.Containers->GetDatabase(0);
  EXPECT_TRUE(copy->IsEqual(Sales, true));
  EXPECT_EQ(copy->Path, "/data/Sales");
  EXPECT_TRUE(copy->EncryptedCatalog);
  EXPECT_EQ(copy->DefaultCollation, 42);
  EXPECT_EQ(copy->ReservedNumber, 4096);
  EXPECT_EQ(copy->OwnerName, "Bob");
  EXPECT_EQ(copy->Privileges->Count(), Sales->Privileges->Count());
  EXPECT_FALSE(copy->SessionPrivate);
}

// A hand-written record of a 1.06 configuration: owner by ID, no
// Attributes, no EncryptedCatalog, no DefaultCollation.
RecordBuilder Database106Record(int32_t ownerID) {
  RecordBuilder record;
  record.Int(9).Str("Old").Str("Old data").Bool(false).Bool(true);
  record.Int(ownerID).Int(0);  // owner, no grants
  record.Str("/old").Bool(false).Int(4096);
  return record;
}

TEST(DatabaseRecordTest, OlderVersionsReadOnlyTheirFields) {
  ConfigRoot root(kFormatVersion106);
  TBRNMemoryStream stream;
  Database106Record(root.AdministratorUser->ID).Into(stream);
  TBRNDatabaseContainer database(&root);
  database.EncryptedCatalog = true;
  database.DefaultCollation = 5;
  database.LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  EXPECT_EQ(database.Name, "Old");
  EXPECT_TRUE(database.ReadOnly);
  EXPECT_EQ(database.OwnerName, "Administrator");
  EXPECT_EQ(database.Path, "/old");
  EXPECT_FALSE(database.EncryptedCatalog);
  EXPECT_EQ(database.DefaultCollation, 0);
  EXPECT_EQ(database.ReservedNumber, 4096);

  TBRNMemoryStream written;
  database.SaveToStream(written, false);
  EXPECT_EQ(StreamBytes(written), Database106Record(root.AdministratorUser->ID).Bytes());

  // 1.07 adds EncryptedCatalog (one byte); 2.04 adds Attributes and
  // DefaultCollation as well as what 2.00 changed in the privileged part.
  struct GateCase {
    int64_t Version;
    bool ReadsEncrypted;
    bool ReadsCollation;
  };
  for (const GateCase& c :
       {GateCase{kFormatVersion106, false, false}, GateCase{kFormatVersion107, true, false},
        GateCase{kFormatVersion203, true, false}, GateCase{kFormatVersion204, true, true}}) {
    ConfigRoot versioned(c.Version);
    TBRNDatabaseContainer* source = versioned.AddContainer("D", versioned.AdministratorUser);
    source->EncryptedCatalog = true;
    source->DefaultCollation = 7;
    TBRNMemoryStream record;
    source->SaveToStream(record, false);
    record.SetPosition(0);
    TBRNDatabaseContainer copy(&versioned);
    copy.LoadFromStream(record);
    EXPECT_EQ(record.GetPosition(), record.GetSize()) << c.Version;
    EXPECT_EQ(copy.EncryptedCatalog, c.ReadsEncrypted) << c.Version;
    EXPECT_EQ(copy.DefaultCollation, c.ReadsCollation ? 7 : 0) << c.Version;
  }
}

TEST_F(DatabaseTest, HostileRecordsRaiseTheMetadataError) {
  Sales->ApplyDefaultGrants();
  Sales->Path = "/data";
  TBRNMemoryStream stream;
  Sales->SaveToStream(stream, false);
  std::vector<uint8_t> record = StreamBytes(stream);
  EXPECT_GT(
      ExpectEveryCutRefused(record, [&] { return std::make_unique<TBRNDatabaseContainer>(&Root); }),
      50);
  ExpectEveryByteFlipHandled(record,
                             [&] { return std::make_unique<TBRNDatabaseContainer>(&Root); });

  // A grant count far beyond the record.
  ConfigRoot old(kFormatVersion106);
  RecordBuilder hostile;
  hostile.Int(9).Str("Old").Str("").Bool(false).Bool(false).Int(1).Int(100000000);
  TBRNMemoryStream hostileStream;
  hostile.Into(hostileStream);
  TBRNDatabaseContainer database(&old);
  EXPECT_EQ(CaughtError([&] { database.LoadFromStream(hostileStream); }).ErrorCode, 100);
}

TEST_F(DatabaseTest, LockRangesPrivilegesAndCollection) {
  struct RangeCase {
    uint8_t Type;
    int32_t Offset;
    int32_t Length;
  };
  for (const RangeCase& c :
       {RangeCase{ltShared, 4096, 4096}, RangeCase{ltExclusive, 4096, 4096},
        RangeCase{ltRead, 16793601, 16777216}, RangeCase{ltWrite, 16793601, 16777216},
        RangeCase{ltTransaction, 16789505, 4096}}) {
    EXPECT_EQ(Sales->GetLockOffset(c.Type), c.Offset) << int(c.Type);
    EXPECT_EQ(Sales->GetLockLength(c.Type), c.Length) << int(c.Type);
  }

  TBRNUser* carol = Root.AddUser("Carol");
  Sales->GrantAll(Root.SystemUser, carol);
  EXPECT_EQ(Sales->GetEffectivePrivileges(carol),
            PrivilegeSet({pkSelect, pkCreate, pkAlter, pkDrop, pkMaintain, pkBackup, pkRestore}));
  TBRNUser* dave = Root.AddUser("Dave");
  Sales->GrantDefault(Root.SystemUser, dave);
  EXPECT_EQ(Sales->GetEffectivePrivileges(dave), PrivilegeSet({pkSelect}));

  EXPECT_EQ(Root.Containers->GetMaxCount(), 4096);
  EXPECT_EQ(Root.Containers->GetSystemTableName(), "Databases");
  EXPECT_EQ(CaughtError([&] { Root.Containers->RaiseMaximumReached(); }).ErrorMessage,
            "The maximum number of databases has been reached (4096)");
  // Messages about databases never name a parent.
  EBRNException error = CaughtError([&] { Root.AddContainer("sales", Bob); });
  EXPECT_EQ(error.ErrorCode, 400);
  EXPECT_EQ(error.ErrorMessage.find("exists in the "), std::string::npos) << error.ErrorMessage;
  error = CaughtError([&] { Sales->RaiseCatalogNotRead(); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(error.ErrorMessage,
            "There is an error in the metadata for the database Sales (The catalog was not read "
            "properly)");
}

TEST_F(DatabaseTest, LockMarksAndTransactionStateReachTheTransactionTables) {
  FakeCatalog catalog(&Root);
  TestDatabase* orders = catalog.AddTable("Orders", Bob);
  TestDatabase* idle = catalog.AddTable("Idle", Bob);
  catalog.InTransaction = {orders};
  Sales->Catalog = &catalog;

  Sales->MarkLocked(ltShared);
  EXPECT_EQ(Sales->HeldLocks & 1, 1);
  EXPECT_EQ(orders->HeldLocks, 0);  // Shared stays with the database
  Sales->MarkLocked(ltWrite);
  Sales->MarkLocked(ltTransaction);
  EXPECT_EQ(orders->HeldLocks, Sales->HeldLocks & ~1);
  EXPECT_EQ(idle->HeldLocks, 0);
  Sales->MarkUnlocked(ltWrite);
  EXPECT_EQ(orders->HeldLocks & 8, 0);

  Sales->IncTransactionLockCount();
  EXPECT_EQ(orders->TransactionLockCount, 1);
  Sales->DecTransactionLockCount();
  EXPECT_EQ(orders->TransactionLockCount, 0);

  Sales->SetInTransaction();
  EXPECT_TRUE(Sales->IsInTransaction());
  EXPECT_TRUE(orders->IsInTransaction());
  EXPECT_FALSE(idle->IsInTransaction());
  Sales->ClearInTransaction();
  EXPECT_FALSE(Sales->IsInTransaction());
  EXPECT_FALSE(orders->IsInTransaction());

  EXPECT_EQ(Sales->GetObjectCount(), 1 + Sales->Privileges->GetObjectCount() + 7);
  int64_t withCatalog = Sales->GetMemorySize();
  Sales->Catalog = nullptr;
  EXPECT_EQ(withCatalog - Sales->GetMemorySize(), 1000);
}

TEST_F(DatabaseTest, ReferenceWalksGoThroughTheCatalogHooks) {
  FakeCatalog catalog(&Root);
  TestDatabase* orders = catalog.AddTable("Orders", Bob);
  Sales->Catalog = &catalog;

  Bob->BuildReferrers();
  TBRNSelectedConfigObjects* referrers = Bob->GetReferrers();
  bool hasOrders = false;
  bool hasSales = false;
  for (int32_t i = 0; i < referrers->Count(); ++i) {
    hasOrders = hasOrders || referrers->GetItem(i) == orders;
    hasSales = hasSales || referrers->GetItem(i) == Sales;
  }
  EXPECT_TRUE(hasOrders);
  EXPECT_TRUE(hasSales);
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"readBegin Sales", "readEnd Sales"}));

  // Registration needs the catalog: 100, and the read still ends.
  Root.HookCalls.clear();
  Sales->Catalog = nullptr;
  EBRNException error = CaughtError([&] { Sales->RegisterReferenceTo(Bob); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(error.ErrorMessage.find("The catalog was not read properly"), std::string::npos);
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"readBegin Sales", "readEnd Sales"}));

  // A rename reaches the catalog between update begin and commit.
  Root.HookCalls.clear();
  Sales->Catalog = &catalog;
  Bob->NotifyRenamed("Robert");
  EXPECT_EQ(Sales->OwnerName, "Robert");
  EXPECT_EQ(orders->OwnerName, "Robert");
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"updateBegin Sales", "updateCommit Sales"}));
}

// A catalog that cannot be updated is left as it is, the update is
// cancelled and the operation goes on without an error.
TEST_F(DatabaseTest, CatalogThatCannotBeUpdatedIsCancelledQuietly) {
  FakeCatalog catalog(&Root);
  TestDatabase* orders = catalog.AddTable("Orders", Bob);
  Sales->Catalog = &catalog;
  catalog.Refuse = true;
  EXPECT_NO_THROW(Bob->NotifyRenamed("Robert"));
  EXPECT_EQ(Sales->OwnerName, "Robert");
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"updateBegin Sales", "updateCancel Sales"}));

  Root.HookCalls.clear();
  Sales->Catalog = nullptr;
  EXPECT_NO_THROW(Sales->ReplaceReferencedName(Bob, "Bobby"));
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"updateBegin Sales", "updateCancel Sales"}));

  Root.HookCalls.clear();
  Sales->Catalog = &catalog;
  Sales->OwnerName = "Bob";
  orders->OwnerName = "Bob";
  catalog.Refuse = false;
  Root.FailUpdateBegin = true;
  EXPECT_NO_THROW(Sales->RemoveReferenceTo(Bob));
  EXPECT_EQ(orders->OwnerName, "Bob");  // the catalog was not touched
  EXPECT_EQ(Sales->OwnerName, "System");
  EXPECT_EQ(Root.HookCalls, (std::vector<std::string>{"updateBegin Sales", "updateCancel Sales"}));
}

}  // namespace
}  // namespace brn::testing
