#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/config_test_support.h"

namespace brn::testing {
namespace {

class StoreTest : public ::testing::Test {
 protected:
  StoreTest() { Bob = Root.AddUser("Bob"); }

  ConfigRoot Root;
  TBRNUser* Bob = nullptr;
};

// A new remote store with its address, user, password and remote store set.
void makeRemote(TBRNStore& store) {
  store.StoreType = kRemoteStore;
  store.UserName = "backup";
  store.Password = "pw";
  store.RemoteStore = "Archive";
}

struct TextCase {
  const char* Name;
  std::function<void(TBRNStore&)> Setup;
  const char* Expected;
};

TEST_F(StoreTest, CreateTextIsGolden) {
  const std::vector<TextCase> cases = {
      {"new remote store", makeRemote,
       "CREATE STORE \"S\" AS\r\nREMOTE ADDRESS '127.0.0.1'\r\nPORT 12010\r\nUSER \"backup\"\r\n"
       "PASSWORD 'pw'\r\nSTORE \"Archive\""},
      {"host and service",
       [](TBRNStore& s) {
         makeRemote(s);
         s.Address.clear();
         s.Host = "example.org";
         s.Port = 0;
         s.Service = "brn";
       },
       "CREATE STORE \"S\" AS\r\nREMOTE HOST 'example.org'\r\nSERVICE 'brn'\r\nUSER \"backup\"\r\n"
       "PASSWORD 'pw'\r\nSTORE \"Archive\""},
      {"every setting away from its default",
       [](TBRNStore& s) {
         makeRemote(s);
         s.Signature = "it's mine";
         s.Encrypted = true;
         s.EncryptionPassword = "secret";
         s.Compression = 9;
         s.Timeout = 30;
         s.PingInterval = 45;
         s.Description = "Off site ";
         s.Attributes = "a";
       },
       "CREATE STORE \"S\" AS\r\nREMOTE ADDRESS '127.0.0.1'\r\nPORT 12010\r\nUSER \"backup\"\r\n"
       "PASSWORD 'pw'\r\nSTORE \"Archive\"\r\nSIGNATURE 'it''s mine'\r\n"
       "ENCRYPTED WITH PASSWORD 'secret'\r\nCOMPRESSION 9\r\nTIMEOUT 30\r\nPING 45\r\n"
       "DESCRIPTION 'Off site'\r\nATTRIBUTES 'a'"},
      {"default signature in another case, ping 60, ping off",
       [](TBRNStore& s) {
         makeRemote(s);
         s.Signature = "BRN_Watermark";
         s.Ping = true;
         s.PingInterval = 60;
       },
       "CREATE STORE \"S\" AS\r\nREMOTE ADDRESS '127.0.0.1'\r\nPORT 12010\r\nUSER \"backup\"\r\n"
       "PASSWORD 'pw'\r\nSTORE \"Archive\""},
      {"no ping",
       [](TBRNStore& s) {
         makeRemote(s);
         s.Ping = false;
         s.PingInterval = 45;
       },
       "CREATE STORE \"S\" AS\r\nREMOTE ADDRESS '127.0.0.1'\r\nPORT 12010\r\nUSER \"backup\"\r\n"
       "PASSWORD 'pw'\r\nSTORE \"Archive\""},
      {"local store",
       [](TBRNStore& s) {
         s.StoreType = kLocalStore;
         s.Path = "/backups/o'neil";
         s.Description = "Nightly";
       },
       "CREATE STORE \"S\" AS\r\nLOCAL PATH '/backups/o''neil'\r\nDESCRIPTION 'Nightly'"},
      {"no type", [](TBRNStore&) {}, "CREATE STORE \"S\" AS"},
  };
  for (const TextCase& c : cases) {
    TBRNStore store(&Root, Bob);
    store.Name = "S";
    c.Setup(store);
    EXPECT_EQ(store.GetCreateSQL(false, false), c.Expected) << c.Name;
  }
  TBRNStore store(&Root, Bob);
  store.Name = "S";
  EXPECT_EQ(store.GetDropSQL(false, false), "DROP STORE \"S\"");
}

// Without ENCRYPTED WITH PASSWORD the statement makes an unencrypted store:
// the clause follows the Encrypted flag, whatever the password.
TEST_F(StoreTest, EncryptionClauseExactlyWhenEncrypted) {
  struct EncryptionCase {
    bool Encrypted;
    const char* Password;
    const char* Line;  // nullptr: no clause
  };
  for (const EncryptionCase& c :
       {EncryptionCase{false, "secret", nullptr}, EncryptionCase{false, "quillharbor", nullptr},
        EncryptionCase{true, "secret", "\r\nENCRYPTED WITH PASSWORD 'secret'"},
        EncryptionCase{true, "quillharbor", "\r\nENCRYPTED WITH PASSWORD 'quillharbor'"}}) {
    TBRNStore store(&Root, Bob);
    store.Name = "S";
    makeRemote(store);
    store.Encrypted = c.Encrypted;
    store.EncryptionPassword = c.Password;
    std::string text = store.GetCreateSQL(false, false);
    if (c.Line == nullptr) {
      EXPECT_EQ(text.find("ENCRYPTED"), std::string::npos) << c.Password << ": " << text;
    } else {
      EXPECT_NE(text.find(c.Line), std::string::npos) << c.Password << ": " << text;
    }
  }
}

TEST_F(StoreTest, NewStoresTakeTheDefaultsAndLoadedStoresTheirRecord) {
  TBRNStore* store = Root.AddStore("Remote", Bob);
  EXPECT_EQ(store->StoreType, 0);
  EXPECT_EQ(store->Address, "127.0.0.1");
  EXPECT_EQ(store->Port, 12010);
  EXPECT_EQ(store->Signature, "brn_watermark");
  EXPECT_FALSE(store->Encrypted);
  EXPECT_EQ(store->EncryptionPassword, "quillharbor");
  EXPECT_EQ(store->Compression, 6);
  EXPECT_EQ(store->Timeout, 180);
  EXPECT_TRUE(store->Ping);
  EXPECT_EQ(store->PingInterval, 60);
  EXPECT_EQ(store->OwnerName, "Bob");

  auto* plain = static_cast<TBRNStore*>(Root.Stores->CreateItem());
  EXPECT_EQ(plain->Port, 0);
  EXPECT_EQ(plain->Address, "");
  delete plain;

  // Every field round-trips.
  makeRemote(*store);
  store->Path = "/p";
  store->ReservedFlag = true;
  store->Host = "h";
  store->Service = "svc";
  store->Encrypted = true;
  store->EncryptionPassword = "secret";
  store->Compression = 1;
  store->Timeout = 2;
  store->Ping = false;
  store->PingInterval = 31;
  store->LockNumber = 5;
  store->Attributes = "x";
  store->ApplyDefaultGrants();
  TBRNMemoryStream stream;
  Root.Stores->SaveToStream(stream, false);
  ConfigRoot other;
  other.AddUser("Bob");
  stream.SetPosition(0);
  other.Stores->LoadFromStream(stream);
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  ASSERT_EQ(other.Stores->Count(), 1);
  TBRNStore* copy = other.Stores->GetStore(0);
  EXPECT_TRUE(copy->IsEqual(store, true));
  EXPECT_EQ(copy->GetCreateSQL(false, false), store->GetCreateSQL(false, false));
  EXPECT_TRUE(copy->ReservedFlag);
  EXPECT_EQ(copy->Path, "/p");
  EXPECT_EQ(copy->LockNumber, 5);
  EXPECT_EQ(copy->Privileges->Count(), store->Privileges->Count());
}

TEST_F(StoreTest, HostileRecordsRaiseTheMetadataError) {
  TBRNStore* store = Root.AddStore("Remote", Bob);
  makeRemote(*store);
  store->LockNumber = 1;
  TBRNMemoryStream stream;
  store->SaveToStream(stream, false);
  std::vector<uint8_t> record = StreamBytes(stream);
  EXPECT_GT(ExpectEveryCutRefused(record, [&] { return std::make_unique<TBRNStore>(&Root); }), 80);
  ExpectEveryByteFlipHandled(record, [&] { return std::make_unique<TBRNStore>(&Root); });

  for (int32_t lockNumber : {-3, 2147483647}) {
    std::vector<uint8_t> bad = record;
    for (int i = 0; i < 4; ++i) {
      bad[bad.size() - 4 + size_t(i)] = uint8_t(uint32_t(lockNumber) >> (8 * i));
    }
    TBRNMemoryStream badStream;
    badStream.Write(bad.data(), int32_t(bad.size()));
    badStream.SetPosition(0);
    TBRNStore loaded(&Root);
    EXPECT_EQ(CaughtError([&] { loaded.LoadFromStream(badStream); }).ErrorCode, 100) << lockNumber;
  }
}

TEST_F(StoreTest, SettersCompareTextsIgnoringCaseExceptThePath) {
  TBRNStore* store = Root.AddStore("Remote", Bob);
  Root.Modified = false;
  store->SetAddress("127.0.0.1");
  store->SetSignature("BRN_WATERMARK");
  store->SetPort(12010);
  store->SetPing(true);
  EXPECT_FALSE(Root.GetRootModified());
  EXPECT_EQ(store->Signature, "brn_watermark");

  store->SetPath("/A");
  EXPECT_TRUE(Root.GetRootModified());
  Root.Modified = false;
  store->SetPath("/a");
  EXPECT_TRUE(Root.GetRootModified());
  EXPECT_EQ(store->Path, "/a");
  Root.Modified = false;
  store->SetUserName("Someone");
  EXPECT_TRUE(Root.GetRootModified());
}

TEST_F(StoreTest, LockRangePrivilegesAndCollection) {
  TBRNStore* store = Root.AddStore("Remote", Bob);
  store->LockNumber = 2;
  EXPECT_EQ(store->GetLockOffset(ltShared), 2 * 4096 + 33562626);
  EXPECT_EQ(store->GetLockLength(ltExclusive), 4096);
  EXPECT_EQ(store->GetLockOffset(ltWrite), 0);

  TBRNUser* carol = Root.AddUser("Carol");
  store->GrantAll(Root.SystemUser, carol);
  EXPECT_EQ(store->GetEffectivePrivileges(carol),
            PrivilegeSet({pkSelect, pkCreate, pkAlter, pkDrop}));
  TBRNUser* dave = Root.AddUser("Dave");
  store->GrantDefault(Root.SystemUser, dave);
  EXPECT_EQ(store->GetEffectivePrivileges(dave), PrivilegeSet({pkSelect}));

  EXPECT_EQ(Root.Stores->GetMaxCount(), 4096);
  EXPECT_EQ(Root.Stores->GetSystemTableName(), "Stores");
  EXPECT_EQ(TBRNStoreFiles(&Root).GetSystemTableName(), "Files");
  EXPECT_EQ(StoreTypeName(kLocalStore), "Local");
  EXPECT_EQ(StoreTypeName(kRemoteStore), "Remote");
  EXPECT_EQ(StoreTypeName(0), "");

  // Dropping the owner hands the store to the System user.
  Bob->NotifyDropped();
  EXPECT_EQ(store->OwnerName, "System");
}

}  // namespace
}  // namespace brn::testing
