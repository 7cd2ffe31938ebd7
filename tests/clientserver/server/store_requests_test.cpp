#include "clientserver/server/store_requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/session_requests.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/text/string_list.h"
#include "metadata/config/stores.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

using test::WireClient;
using test::WireError;

// A server engine on an ephemeral port of 127.0.0.1 with a local store
// "Files" (folder "files" of the configuration folder), and a client logged
// in as the Administrator with the store open.
class StoreRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Settings->SetConfigPath(folder.Path);
    engine.ServerAddress = "127.0.0.1";
    engine.ServerPort = 0;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.JobTimerInterval = 0;
    engine.SweepTimerEnabled = false;
    engine.Start();
    {
      TBRNLocalSessionManager local(&engine, false, false);
      local.OpenSession("host", "Setup", "");
      local.Login(test::kWireAdministrator, test::kWireAdministratorPassword);
      TBRNStore* store = local.BeginCreateStore("Files");
      store->SetStoreType(kLocalStore);
      store->SetPath("files");
      local.EndCreateStore(store);
      local.Logout();
      local.CloseSession();
    }
    client.OpenAndLogin(engine.GetListeningPort());
    client.Begin(kBRNOpenStoreCode);
    client.Str("Files");
    client.Byte(0);
    ASSERT_EQ(client.Call(), 0);
    store = client.ReadInt32();
  }

  void TearDown() override {
    client.Close();
    engine.Stop();
  }

  std::string StorePath(const std::string& name) const { return folder.Path + "/files/" + name; }

  // Sends code with the store handle and the fields written by fields.
  template <typename Fields>
  int32_t StoreCall(int32_t code, Fields fields) {
    client.Begin(code);
    client.Int32(store);
    fields();
    return client.Call();
  }
  int32_t StoreCall(int32_t code) {
    return StoreCall(code, [] {});
  }

  brn::testing::TempDirectory folder;
  TBRNServerEngineManager engine;
  WireClient client;
  int32_t store = 0;
};

std::string RandomBytes(size_t size) {
  std::mt19937 random(48);
  std::string bytes(size, '\0');
  // Half random, half runs, so that compression has work to do both ways.
  for (size_t i = 0; i < size; ++i)
    bytes[i] = char((i / 4096) % 2 == 0 ? random() & 0xFF : (i / 97) & 0xFF);
  return bytes;
}

TEST_F(StoreRequestsTest, MegabyteRoundTripsCompressedAndEncrypted) {
  // A connection that asked for encryption, sending at level 6 (the server
  // answers at the level of each request).
  client.Close();
  test::WireConnectFields fields;
  fields.Encrypted = true;
  client.OpenAndLogin(engine.GetListeningPort(), fields);
  client.Transport().CompressionLevel = 6;
  client.Begin(kBRNOpenStoreCode);
  client.Str("Files");
  client.Byte(0);
  ASSERT_EQ(client.Call(), 0);
  store = client.ReadInt32();
  const std::string data = RandomBytes(1 << 20);
  const std::string name = "big.bin";
  ASSERT_EQ(StoreCall(kBRNBeginWriteFileCode, [&] { client.Str(name); }), 0);
  const size_t piece = 100000;
  for (size_t done = 0; done < data.size(); done += piece) {
    const int32_t count = int32_t(std::min(piece, data.size() - done));
    ASSERT_EQ(StoreCall(kBRNWriteFileCode,
                        [&] {
                          client.Int32(count);
                          client.Raw(data.data() + done, count);
                        }),
              0);
    ASSERT_EQ(client.ReadInt32(), count);
  }
  ASSERT_EQ(StoreCall(kBRNEndWriteFileCode), 0);
  EXPECT_EQ(std::filesystem::file_size(StorePath(name)), data.size());

  ASSERT_EQ(StoreCall(kBRNBeginReadFileCode, [&] { client.Str(name); }), 0);
  EXPECT_EQ(client.ReadInt64(), int64_t(data.size()));
  std::string back;
  while (true) {
    ASSERT_EQ(StoreCall(kBRNReadFileCode, [] {}), 1103);  // no count: refused
    ASSERT_EQ(StoreCall(kBRNReadFileCode, [&] { client.Int32(300000); }), 0);
    const int32_t got = client.ReadInt32();
    ASSERT_EQ(client.ReplyRemaining(), got);
    if (got == 0) break;
    back += client.ReadRaw(got);
  }
  ASSERT_EQ(StoreCall(kBRNEndReadFileCode), 0);
  EXPECT_TRUE(back == data);
}

TEST_F(StoreRequestsTest, ReadCountIsCappedAndNegativeCountsRefused) {
  {
    std::ofstream file(StorePath("small.txt"), std::ios::binary);
    file << "twelve bytes";
  }
  ASSERT_EQ(StoreCall(kBRNBeginReadFileCode, [&] { client.Str("small.txt"); }), 0);
  ASSERT_EQ(StoreCall(kBRNReadFileCode, [&] { client.Int32(-1); }), 1103);
  // A count far beyond what a message may hold reads what there is.
  ASSERT_EQ(StoreCall(kBRNReadFileCode, [&] { client.Int32(0x7FFFFFFF); }), 0);
  ASSERT_EQ(client.ReadInt32(), 12);
  EXPECT_EQ(client.ReadRaw(12), "twelve bytes");
  EXPECT_EQ(client.ReplyRemaining(), 0);
  ASSERT_EQ(StoreCall(kBRNCancelReadFileCode), 0);

  EXPECT_LE(MaxReadFileCount(64 * 1024) + 32 + 4, 64 * 1024);
  EXPECT_GT(MaxReadFileCount(256 * 1024 * 1024), 255 * 1024 * 1024);
  EXPECT_EQ(MaxReadFileCount(0), 0);
}

TEST_F(StoreRequestsTest, ShortWriteRequestIsRefusedAndWritesNothing) {
  ASSERT_EQ(StoreCall(kBRNBeginWriteFileCode, [&] { client.Str("short.bin"); }), 0);
  struct Case {
    int32_t count;
    int32_t sent;
  };
  for (const Case& c : {Case{100, 10}, Case{-5, 0}, Case{0x7FFFFFFF, 3}}) {
    SCOPED_TRACE(c.count);
    ASSERT_EQ(StoreCall(kBRNWriteFileCode,
                        [&] {
                          client.Int32(c.count);
                          client.Raw(std::string(size_t(c.sent), 'x').data(), c.sent);
                        }),
              1103);
    EXPECT_EQ(client.ReadError().Message, "An invalid or unknown request was sent to the server");
  }
  ASSERT_EQ(StoreCall(kBRNWriteFileCode,
                      [&] {
                        client.Int32(3);
                        client.Raw("abc", 3);
                      }),
            0);
  ASSERT_EQ(StoreCall(kBRNEndWriteFileCode), 0);
  std::ifstream file(StorePath("short.bin"), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "abc");
}

TEST_F(StoreRequestsTest, ListCopyRenameDeleteAndCancelledWrite) {
  {
    std::ofstream file(StorePath("one.txt"), std::ios::binary);
    file << "1";
  }
  ASSERT_EQ(StoreCall(kBRNCopyFileCode,
                      [&] {
                        client.Str("one.txt");
                        client.Str("two.txt");
                      }),
            0);
  ASSERT_EQ(StoreCall(kBRNRenameFileCode,
                      [&] {
                        client.Str("two.txt");
                        client.Str("three.txt");
                      }),
            0);
  ASSERT_EQ(StoreCall(kBRNBeginWriteFileCode, [&] { client.Str("gone.txt"); }), 0);
  ASSERT_EQ(StoreCall(kBRNCancelWriteFileCode), 0);
  EXPECT_FALSE(std::filesystem::exists(StorePath("gone.txt")));

  ASSERT_EQ(StoreCall(kBRNListStoreFilesCode, [&] { client.Str("*.txt"); }), 0);
  TBRNStoreFilesList files;
  files.LoadFromStream(client.ReplyStream());
  std::vector<std::string> names;
  for (int32_t i = 0; i < files.GetCount(); ++i) names.push_back(files.GetItem(i).Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "three.txt"}));

  ASSERT_EQ(StoreCall(kBRNDeleteFileCode, [&] { client.Str("one.txt"); }), 0);
  EXPECT_FALSE(std::filesystem::exists(StorePath("one.txt")));
  // A store error keeps its own code.
  const int32_t code = StoreCall(kBRNBeginReadFileCode, [&] { client.Str("one.txt"); });
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 1103);
  EXPECT_FALSE(client.ReadError().Message.empty());

  ASSERT_EQ(StoreCall(kBRNCloseStoreCode), 0);
  EXPECT_EQ(StoreCall(kBRNListStoreFilesCode, [&] { client.Str("*"); }), 1103);
}

}  // namespace
}  // namespace brn
