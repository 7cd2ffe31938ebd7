// The local store: listing with backup and update headers, transfers,
// copies, file names, drop and rename.
#include "sessions/stores/local_store_manager.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "metadata/config/stores.h"
#include "sessions/stores/store_file_headers.h"
#include "sessions/stores/store_test_support.h"

namespace brn::testing {
namespace {

namespace fs = std::filesystem;

class LocalStoreTest : public StoreSessionTest {
 protected:
  void SetUp() override {
    StoreSessionTest::SetUp();
    store = CreateStore("Archive", "Archive");
    manager = dynamic_cast<TBRNLocalStoreManager*>(session->GetStoreManager(store));
    ASSERT_NE(manager, nullptr);
    manager->OpenStore(kBRNLockShared);
  }

  std::string File(const std::string& name) const { return StoreFile("Archive", name); }

  std::map<std::string, const TBRNStoreFile*> List(const std::string& mask = "*") {
    manager->ListFiles(mask);
    std::map<std::string, const TBRNStoreFile*> files;
    for (int32_t i = 0; i < manager->Files.GetCount(); ++i)
      files[manager->Files.GetItem(i).Name] = &manager->Files.GetItem(i);
    return files;
  }

  TBRNStore* store = nullptr;
  TBRNLocalStoreManager* manager = nullptr;
};

TEST_F(LocalStoreTest, FirstOpenCreatesTheFolderUnderTheConfigurationPath) {
  EXPECT_TRUE(fs::is_directory(folder / "Archive"));
  EXPECT_TRUE(manager->Opened);
  manager->OpenStore(kBRNLockShared);
  EXPECT_EQ(manager->OpenCount, 2);
  manager->CloseStore(false);
  EXPECT_TRUE(manager->Opened);
  manager->CloseStore(false);
  EXPECT_FALSE(manager->Opened);
  EXPECT_EQ(store->GetHeldLocks(), 0);
}

TEST_F(LocalStoreTest, ListingReadsValidHeadersAndListsEveryOtherFileAsPlain) {
  const std::string backup = BackupFile({{"Customers", 8192}, {"Orders", 40960}}, 20500);
  HeaderBytes hugeHeader;
  hugeHeader.Int32(2147483647).Bytes(std::string(96, '\0'));
  HeaderBytes hugeString;
  hugeString.Bytes(SignatureBytes()).Int32(2147483647);
  std::vector<HeaderTable> tooMany(kBRNMaxStoreFileTables + 1, HeaderTable{"T", 1});
  std::vector<HeaderTable> most(kBRNMaxStoreFileTables, HeaderTable{"T", 1});

  struct Case {
    std::string Name;
    std::string Contents;
    TBRNStoreFileKind Kind;
  };
  const std::vector<Case> cases = {
      {"Full.BRNBkp", backup, TBRNStoreFileKind::Backup},
      {"Lower.brnbkp", backup, TBRNStoreFileKind::Backup},
      {"Weekly.BRNUpd", UpdateFile({{"Orders", 300}}), TBRNStoreFileKind::Update},
      {"Most.BRNBkp", BackupFile(most), TBRNStoreFileKind::Backup},
      {"Truncated.BRNBkp", backup.substr(0, backup.size() / 3), TBRNStoreFileKind::Plain},
      {"TooMany.BRNBkp", BackupFile(tooMany), TBRNStoreFileKind::Plain},
      {"ClaimsTooMany.BRNBkp", BackupFile({{"A", 1}}, 0, 4097), TBRNStoreFileKind::Plain},
      {"Renamed.bak", backup, TBRNStoreFileKind::Plain},
      {"BackupAsUpdate.BRNUpd", backup, TBRNStoreFileKind::Plain},
      {"Foreign.BRNBkp", BackupFile({{"A", 1}}, 0, -1, "other"), TBRNStoreFileKind::Plain},
      {"HugeHeader.BRNBkp", hugeHeader.Text(), TBRNStoreFileKind::Plain},
      {"HugeString.BRNUpd", HeaderBytes().Bytes(hugeString.WithLength()).Text(),
       TBRNStoreFileKind::Plain},
      {"Empty.BRNUpd", "", TBRNStoreFileKind::Plain},
      {"notes.txt", "hello", TBRNStoreFileKind::Plain},
  };
  ASSERT_EQ(cases[10].Contents.size(), 100u);
  for (const Case& c : cases) WriteWholeFile(File(c.Name), c.Contents);

  auto files = List();
  ASSERT_EQ(files.size(), cases.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(files.count(c.Name), 1u);
    const TBRNStoreFile& file = *files[c.Name];
    EXPECT_EQ(file.Kind, int32_t(c.Kind));
    EXPECT_EQ(file.Size, int64_t(c.Contents.size()));
    EXPECT_NE(file.Modified, 0);
    if (c.Kind == TBRNStoreFileKind::Plain) {
      EXPECT_NE(file.CreatedOn, 0);
      EXPECT_TRUE(file.Tables.empty());
      EXPECT_TRUE(file.Description.empty());
    }
  }

  const TBRNStoreFile& full = *files["Full.BRNBkp"];
  EXPECT_EQ(full.Description, "Nightly");
  EXPECT_EQ(full.DatabaseName, "Sales");
  EXPECT_EQ(full.DatabasePath, "/data/sales");
  EXPECT_EQ(full.CreatedOn, 1234567890);
  EXPECT_EQ(full.CreatedBy, "Administrator");
  EXPECT_EQ(full.CompressionLevel, 6);
  EXPECT_TRUE(full.IncludesCatalog);
  EXPECT_EQ(full.CatalogVersion, 20500);
  EXPECT_EQ(full.Tables, (std::vector<std::string>{"Customers\t8192", "Orders\t40960"}));

  const TBRNStoreFile& update = *files["Weekly.BRNUpd"];
  EXPECT_EQ(update.CreatedBy, "Clerk");
  EXPECT_EQ(update.CreatedOn, 987654321);
  EXPECT_EQ(update.Tables, (std::vector<std::string>{"Orders\t300"}));
  EXPECT_EQ(files["Most.BRNBkp"]->Tables.size(), size_t(kBRNMaxStoreFileTables));

  // The mask selects.
  EXPECT_EQ(List("*.BRNUpd").size(), 4u);
}

TEST(StoreFileHeaders, HostileLengthsNeverReachPastTheStream) {
  TBRNDigest signature;
  signature.DigestString(kBRNDefaultSignature);
  const std::string backup = BackupFile({{"Customers", 8192}}, 20500);
  // Every prefix of a valid header, and every single byte set to 0xFF, is
  // either refused or read within the bytes given.
  for (size_t cut = 0; cut < backup.size(); ++cut) {
    for (int mutate = 0; mutate < 2; ++mutate) {
      std::string bytes = mutate ? backup : backup.substr(0, cut);
      if (mutate) bytes[cut] = '\xFF';
      TBRNMemoryStream stream;
      stream.Write(bytes.data(), int32_t(bytes.size()));
      TBRNStoreFile record;
      bool valid = ReadBackupFileHeader(stream, signature, record);
      if (!mutate) {
        EXPECT_EQ(valid, cut >= backup.size() - 64) << cut;
      }
      EXPECT_LE(stream.GetPosition(), stream.GetSize());
    }
  }
}

TEST_F(LocalStoreTest, WritesAndReadsFilesInChunksAndCancelsWrites) {
  TBRNMemoryStream chunk;
  const std::string text(100000, 'q');
  chunk.Write(text.data(), int32_t(text.size()));
  manager->BeginWriteFile("Data.bin");
  chunk.SetPosition(0);
  EXPECT_EQ(manager->WriteFile(chunk, 60000), 60000u);
  EXPECT_EQ(manager->WriteFile(chunk, 60000), 40000u);  // what the source holds
  manager->EndWriteFile();
  EXPECT_EQ(ReadWholeFile(File("Data.bin")), text);

  TBRNMemoryStream work;
  EXPECT_EQ(manager->BeginReadFile("Data.bin"), 100000);
  EXPECT_EQ(manager->ReadFile(work, 65536), 65536u);
  EXPECT_EQ(manager->ReadFile(work, 65536), 100000u - 65536u);
  EXPECT_EQ(manager->ReadFile(work, 65536), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(work.GetMemory()), 100000), text);
  manager->EndReadFile();

  // A cancelled write, and a write that a new transfer or the close
  // cancels, leave no file.
  manager->BeginWriteFile("Partial.bin");
  chunk.SetPosition(0);
  manager->WriteFile(chunk, 1000);
  manager->CancelWriteFile();
  EXPECT_FALSE(fs::exists(File("Partial.bin")));
  manager->BeginWriteFile("Partial.bin");
  manager->BeginReadFile("Data.bin");
  EXPECT_FALSE(fs::exists(File("Partial.bin")));
  manager->BeginWriteFile("Partial.bin");
  manager->CloseStore(true);
  EXPECT_FALSE(fs::exists(File("Partial.bin")));
}

TEST_F(LocalStoreTest, FileNamesThatAreNotBareNamesAreRefused) {
  WriteWholeFile(File("Data.bin"), "data");
  const std::string config = folder / "BRNConfig.BRNCfg";
  const std::string before = ReadWholeFile(config);
  ASSERT_FALSE(before.empty());
  for (const std::string name :
       {"..\\BRNConfig.BRNCfg", "../BRNConfig.BRNCfg", "..", "sub/a", "sub\\a", "a..b", ""}) {
    SCOPED_TRACE(name);
    std::vector<std::function<void()>> operations = {
        [&] { manager->BeginReadFile(name); },
        [&] { manager->BeginWriteFile(name); },
        [&] { manager->CopyFile("Data.bin", name); },
        [&] { manager->CopyFile(name, "Copy.bin"); },
        [&] { manager->RenameFile("Data.bin", name); },
        [&] { manager->RenameFile(name, "Other.bin"); },
        [&] { manager->DeleteFile(name); },
    };
    for (auto& operation : operations) {
      EBRNException error = CaughtError(operation);
      EXPECT_EQ(error.ErrorCode, 1306);
      EXPECT_EQ(error.ErrorMessage,
                "Error with the store Archive (Invalid file name " + name + ")");
    }
  }
  EXPECT_EQ(ReadWholeFile(config), before);
  EXPECT_EQ(ReadWholeFile(File("Data.bin")), "data");
  EXPECT_FALSE(fs::exists(File("Copy.bin")));
}

TEST_F(LocalStoreTest, CopyRenameAndDeleteWorkInTheFolder) {
  const std::string data(200000, 'x');
  WriteWholeFile(File("Data.bin"), data);
  std::vector<std::string> texts;
  session->Events.OnStatusMessage = [&](const std::string& text) { texts.push_back(text); };
  manager->CopyFile("Data.bin", "Copy.bin");
  EXPECT_EQ(ReadWholeFile(File("Copy.bin")), data);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Copying the file Data.bin in the store Archive...",
                       "The file Data.bin in the store Archive was copied successfully"}));
  manager->RenameFile("Copy.bin", "Moved.bin");
  EXPECT_TRUE(fs::exists(File("Moved.bin")));
  manager->DeleteFile("Moved.bin");
  EXPECT_FALSE(fs::exists(File("Moved.bin")));
  manager->DeleteFile("Moved.bin");  // missing: nothing
}

TEST_F(LocalStoreTest, AStoppedOrFailedCopyLeavesNoTarget) {
  WriteWholeFile(File("Data.bin"), std::string(300000, 'x'));
  session->SetProgressTimeInterval(0);
  std::vector<std::string> texts;
  session->Events.OnStatusMessage = [&](const std::string& text) { texts.push_back(text); };

  int32_t calls = 0;
  session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    if (percent > 0 && percent < 100) proceed = ++calls < 2;
  };
  manager->CopyFile("Data.bin", "Stopped.bin");
  EXPECT_FALSE(fs::exists(File("Stopped.bin")));
  EXPECT_EQ(texts.back(), "The copy of the file Data.bin in the store Archive did not complete");

  // The source shrinks under the copy: the read of 0 bytes fails it.
  session->Events.OnProgress = [&](int32_t percent, bool&) {
    if (percent > 0 && percent < 100) fs::resize_file(File("Data.bin"), 65536);
  };
  EBRNException error = CaughtError([&] { manager->CopyFile("Data.bin", "Failed.bin"); });
  EXPECT_EQ(error.ErrorCode, 1306);
  EXPECT_EQ(error.ErrorMessage,
            "Error with the store Archive (Error reading from the file Data.bin)");
  EXPECT_FALSE(fs::exists(File("Failed.bin")));
  EXPECT_EQ(texts.back(), "The copy of the file Data.bin in the store Archive did not complete");
}

TEST_F(LocalStoreTest, DropRemovesTheFolderUnlessFilesAreKept) {
  WriteWholeFile(File("a.txt"), "a");
  manager->CloseStore(true);
  manager->DropStore(true);
  EXPECT_TRUE(fs::exists(File("a.txt")));
  manager->DropStore(false);
  EXPECT_FALSE(fs::exists(folder / "Archive"));
  manager->DropStore(false);  // no folder: nothing

  manager->RenameStore("Attic");
  EXPECT_EQ(store->Name, "Attic");
  EXPECT_EQ(store->GetHeldLocks(), 0);
}

}  // namespace
}  // namespace brn::testing
