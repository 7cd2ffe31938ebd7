// BACKUP DATABASE and RESTORE DATABASE: the round trip, the backup file, the
// refusals of a restore before anything changes, damaged backups, stops
// through the progress and the store privilege.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "metadata/config/privileges.h"
#include "sessions/backup/backup_test_support.h"
#include "sessions/backup/database_commands.h"

namespace brn::testing {
namespace {

using Ids = std::vector<int32_t>;

const std::string kHeaderUnreadable =
    "Error restoring the database D (Error reading the header from the backup)";

// Back up, change both tables, restore: every row as at the backup, at
// both levels of compression and with or without the catalog.
TEST_F(BackupTest, RestoreGivesBackTheRowsOfTheBackup) {
  struct Case {
    int32_t Compression;
    bool WithCatalog;
  };
  for (const Case c : {Case{6, true}, Case{0, false}, Case{9, false}, Case{0, true}}) {
    SCOPED_TRACE(::testing::Message() << "compression " << c.Compression << " catalog "
                                    << c.WithCatalog);
    const std::string name = "D" + std::to_string(c.Compression) + (c.WithCatalog ? "C" : "");
    Db& database = MakeDatabase(name, 300, 2);
    // A table whose files were never made: the backup makes them.
    CreateTable(database, "T3");
    ASSERT_TRUE(Backup(database, "Full", {}, c.Compression, c.WithCatalog));
    EXPECT_TRUE(StoreFileExists("Full.BRNBkp"));
    EXPECT_FALSE(StoreFileExists("Full.Tmp"));

    Insert(database, "T1", {1000, 1001});
    DeleteAll(database, "T2");
    database.CloseDatabase(false);
    ASSERT_EQ(Rows(database, "T2"), Ids{});

    ASSERT_TRUE(Restore(database, "Full", {}, c.WithCatalog));
    Ids expected;
    for (int32_t i = 1; i <= 300; ++i) expected.push_back(i);
    EXPECT_EQ(Rows(database, "T1"), expected);
    EXPECT_EQ(Rows(database, "T2"), (Ids{101, 102}));
    EXPECT_EQ(Rows(database, "T3"), Ids{});
    // The files before the restore stay as ".Old" copies.
    EXPECT_TRUE(Engine.Faults->FileExists(database.GetSchemaFolder("") + "T2.BRNTbl.Old"));
    Engine.Faults->DeleteFile(StoreFile("Full.BRNBkp"));
  }
}

// A published table's published-updates file goes with it, or, left out,
// comes back empty with a valid header; RESET PUBLISHED TABLES gives the
// restored catalog's published tables new publish IDs.
TEST_F(BackupTest, PublishedTablesKeepOrResetTheirPublishedUpdates) {
  Db& database = MakeDatabase("D");
  database.CatalogManager->BeginUpdate();
  Table(database, "T1")->SetPublished(true);
  database.CatalogManager->CommitUpdate();
  const std::string publishID = Table(database, "T1")->PublishID;
  Insert(database, "T1", {4});
  ASSERT_TRUE(database.BackupDatabase("With", "Backups", {}, "", 6, true, false, true));
  ASSERT_TRUE(database.BackupDatabase("Without", "Backups", {}, "", 6, true, false, false));
  const std::string updates = database.GetSchemaFolder("") + "T1.BRNPbl";
  ASSERT_TRUE(Engine.Faults->FileExists(updates));
  const int64_t updatesSize = Engine.Faults->GetFileSize(updates);
  database.CloseDatabase(false);

  ASSERT_TRUE(database.RestoreDatabase("Without", "Backups", {}, false, false, false));
  EXPECT_EQ(Rows(database, "T1"), (Ids{1, 2, 3, 4}));
  EXPECT_GT(Engine.Faults->GetFileSize(updates), 0);

  ASSERT_TRUE(database.RestoreDatabase("With", "Backups", {}, true, false, true));
  EXPECT_EQ(Rows(database, "T1"), (Ids{1, 2, 3, 4}));
  EXPECT_EQ(Engine.Faults->GetFileSize(updates), updatesSize);
  EXPECT_TRUE(Table(database, "T1")->Published);
  EXPECT_FALSE(Table(database, "T1")->PublishID.empty());
  EXPECT_NE(Table(database, "T1")->PublishID, publishID);
}

// The header lists each table with its checksum, at offsets in directory
// order; at compression 0 the data is the table files as raw 64 KB chunks,
// each file ended by a zero length.
TEST_F(BackupTest, TheBackupFileHoldsTheHeaderAndRawChunksAtCompressionZero) {
  Db& database = MakeDatabase("D", 2000, 1);
  ASSERT_TRUE(Backup(database, "Raw", {}, 0, false));
  TBRNBackupHeader header = Header("Raw.BRNBkp");
  EXPECT_EQ(header.Description, "Nightly");
  EXPECT_EQ(header.DatabaseName, "D");
  EXPECT_EQ(header.DatabasePath, "/config/D");
  EXPECT_EQ(header.UserName, "Administrator");
  EXPECT_EQ(header.Compression, 0);
  EXPECT_FALSE(header.IncludesCatalog);
  EXPECT_TRUE(header.Catalog.empty());
  ASSERT_EQ(header.Tables.size(), 2u);
  EXPECT_EQ(header.Tables[0].Name, "T1");
  EXPECT_EQ(header.Tables[0].StructureChecksum, Table(database, "T1")->StructureChecksum);
  EXPECT_EQ(header.Tables[1].Name, "T2");

  const std::string backup = FileBytes(*Engine.Faults, StoreFile("Raw.BRNBkp"));
  size_t at = size_t(header.Tables[0].Offset);
  int64_t size = 0;
  for (const char* extension : {".BRNTbl", ".BRNIdx"}) {
    const std::string file = FileBytes(*Engine.Faults, database.GetSchemaFolder("") + "T1" + extension);
    size += int64_t(file.size());
    std::string copied;
    for (;;) {
      int32_t length = 0;
      std::memcpy(&length, backup.data() + at, 4);
      at += 4;
      if (length == 0) break;
      EXPECT_LE(length, 65536);
      copied.append(backup, at, size_t(length));
      at += size_t(length);
    }
    EXPECT_EQ(copied.size(), file.size()) << extension;
    EXPECT_TRUE(copied == file) << extension;
  }
  EXPECT_EQ(header.Tables[0].Size, size);
  EXPECT_EQ(int64_t(at), header.Tables[1].Offset);
}

TEST_F(BackupTest, CatalogOnlyWritesTheCatalogAndAnEmptyDirectory) {
  Db& database = MakeDatabase("D");
  ASSERT_TRUE(Backup(database, "Catalog", {}, 6, true, true));
  TBRNBackupHeader header = Header("Catalog.BRNBkp");
  EXPECT_TRUE(header.IncludesCatalog);
  EXPECT_FALSE(header.Catalog.empty());
  EXPECT_TRUE(header.Tables.empty());

  // Restoring it puts back the catalog and leaves the table files alone.
  Insert(database, "T1", {7});
  database.CloseDatabase(false);
  ASSERT_TRUE(Restore(database, "Catalog", {}, true, true));
  EXPECT_EQ(Rows(database, "T1"), (Ids{1, 2, 3, 7}));
}

// Each refusal comes before anything changes: the database's files, the
// catalog included, stay byte for byte.
TEST_F(BackupTest, RestoreRefusesBeforeAnythingChanges) {
  Db& database = MakeDatabase("D");
  ASSERT_TRUE(Backup(database, "Tables", {}, 6, false));
  ASSERT_TRUE(Backup(database, "T1Only", Names({"T1"}), 6, false));
  Insert(database, "T1", {50});
  Insert(database, "T2", {150});
  // A backup whose T2 has another definition than the catalog's.
  RewriteHeader("Tables", "Changed",
                [](TBRNBackupHeader& header) { header.Tables[1].StructureChecksum ^= 1; });
  const std::string good = FileBytes(*Engine.Faults, StoreFile("Tables.BRNBkp"));
  std::string badSignature = good;
  badSignature[4] = char(badSignature[4] ^ 0x55);
  WriteStoreFile("BadSignature.BRNBkp", badSignature);
  WriteStoreFile("Short.BRNBkp", good.substr(0, 40));
  database.CloseDatabase(false);

  struct Case {
    std::string Backup;
    TBRNStringsList Tables;
    bool WithCatalog;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"Tables", Names({"T1"}), true,
       "Error restoring the database D (Restoration of individual tables is not permitted when "
       "also restoring the database catalog)"},
      {"Tables", {}, true,
       "Error restoring the database D (Cannot restore the catalog, the backup does not contain "
       "a catalog)"},
      {"Short", {}, false, kHeaderUnreadable},
      {"BadSignature", {}, false,
       "Error restoring the database D (Invalid backup header signature)"},
      // T1 matches, but the changed T2 blocks every table.
      {"Changed", {}, false,
       "Error restoring the database D (The table T2 version in the backup does not match the "
       "version in the database catalog)"},
  };
  const auto before = Files(database, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    auto [code, text] = Outcome([&] { Restore(database, c.Backup, c.Tables, c.WithCatalog); });
    EXPECT_EQ(code, 1301);
    EXPECT_EQ(text, c.Message);
    EXPECT_EQ(Files(database, true), before);
    EXPECT_EQ(database.OpenCount, 0);
  }

  // A table named but not in the backup is left untouched; the other is
  // restored.
  ASSERT_TRUE(Restore(database, "T1Only", Names({"T1", "T2"})));
  EXPECT_EQ(Rows(database, "T1"), (Ids{1, 2, 3}));
  EXPECT_EQ(Rows(database, "T2"), (Ids{101, 102, 150}));
}

// A damaged header is refused with 1301 before anything changes: every
// count, length, offset and size is checked against the file.
TEST_F(BackupTest, DamagedHeadersAreRefusedWithoutTrustingTheirNumbers) {
  Db& database = MakeDatabase("D");
  ASSERT_TRUE(Backup(database, "Good", {}, 6, false));
  database.CloseDatabase(false);
  const std::string good = FileBytes(*Engine.Faults, StoreFile("Good.BRNBkp"));
  const TBRNBackupHeader header = Header("Good.BRNBkp");
  int32_t headerLength = 0;
  std::memcpy(&headerLength, good.data(), 4);
  // Where the fields lie: length, signature, then "Nightly", "D",
  // "/config/D", time, user, compression, catalog flag and length, count.
  const size_t description = 4 + 16;
  const size_t compression = description + 4 + 7 + 4 + 1 + 4 + 9 + 8 + 4 + 13;
  const size_t catalogLength = compression + 4 + 1;
  const size_t count = catalogLength + 4;
  const size_t firstOffset = count + 4 + 4 + 2 + 4;
  const size_t firstSize = firstOffset + 8;
  ASSERT_EQ(good.substr(description + 4, 7), "Nightly");

  auto patch32 = [&](size_t at, int32_t value) {
    std::string bytes = good;
    std::memcpy(bytes.data() + at, &value, 4);
    return bytes;
  };
  auto patch64 = [&](size_t at, int64_t value) {
    std::string bytes = good;
    std::memcpy(bytes.data() + at, &value, 8);
    return bytes;
  };
  struct Case {
    std::string Name;
    std::string Bytes;
  };
  const std::vector<Case> cases = {
      {"empty file", ""},
      {"header longer than the file", patch32(0, headerLength + 1)},
      {"huge header length", patch32(0, 0x7FFFFFF0)},
      {"negative header length", patch32(0, -5)},
      {"string longer than the header", patch32(description, 1 << 30)},
      {"negative string length", patch32(description, -1)},
      {"compression out of range", patch32(compression, 10)},
      {"catalog length without a catalog", patch32(catalogLength, 4)},
      {"table count above 4096", patch32(count, 5000)},
      {"table count beyond the header", patch32(count, 3)},
      {"offset beyond the file", patch64(firstOffset, int64_t(good.size()) + 1)},
      {"offset inside the header", patch64(firstOffset, 8)},
      {"negative size", patch64(firstSize, -1)},
      {"size the stored bytes cannot hold", patch64(firstSize, int64_t(1) << 50)},
      {"truncated table data", good.substr(0, size_t(header.Tables[1].Offset) + 10)},
  };
  const auto before = Files(database, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteStoreFile("Bad.BRNBkp", c.Bytes);
    auto [code, text] = Outcome([&] { Restore(database, "Bad"); });
    EXPECT_EQ(code, 1301) << text;
    if (c.Name != "truncated table data") {
      EXPECT_EQ(text, kHeaderUnreadable);
      EXPECT_EQ(Files(database, true), before);
    }
    // The tables hold their rows: damaged data never leaves a half-read
    // table behind.
    EXPECT_EQ(Rows(database, "T1"), (Ids{1, 2, 3}));
    EXPECT_EQ(Rows(database, "T2"), (Ids{101, 102}));
  }
}

// A catalog in a backup is untrusted too: one whose table could never be
// locked is refused before anything changes.
TEST_F(BackupTest, ACatalogWithAnImpossibleLockNumberIsRefused) {
  Db& source = MakeDatabase("X");
  source.CatalogManager->BeginUpdate();
  Table(source, "T2")->SetLockNumber(0x7FFFFFF0);
  source.CatalogManager->CommitUpdate();
  ASSERT_TRUE(Backup(source, "Broken", {}, 6, true, true));
  source.CloseDatabase(false);

  Db& database = MakeDatabase("D");
  database.CloseDatabase(false);
  const auto before = Files(database, true);
  auto [code, text] = Outcome([&] { Restore(database, "Broken", {}, true, true); });
  EXPECT_EQ(code, 1301);
  EXPECT_EQ(text, kHeaderUnreadable);
  EXPECT_EQ(Files(database, true), before);
  EXPECT_EQ(Rows(database, "T2"), (Ids{101, 102}));
}

// A backup stopped through the progress answers false, reports the failure
// stage and leaves no file; an earlier backup of the name stays as it was.
TEST_F(BackupTest, AStoppedBackupLeavesNoFileAndKeepsAnEarlierOne) {
  Db& database = MakeDatabase("D", 3000, 2);
  database.CloseDatabase(false);
  TBRNBackupOptions options;
  options.BackupName = "Nightly";
  options.StoreName = "Backups";
  ASSERT_TRUE(BackupDatabaseCommand(*Session, "D", options));
  const std::string earlier = FileBytes(*Engine.Faults, StoreFile("Nightly.BRNBkp"));
  ASSERT_FALSE(earlier.empty());

  int32_t calls = 0;
  Session->Events.OnProgress = [&](int32_t, bool& proceed) { proceed = ++calls < 2; };
  Statuses.clear();
  EXPECT_FALSE(BackupDatabaseCommand(*Session, "D", options));
  Session->Events.OnProgress = nullptr;
  ASSERT_FALSE(Statuses.empty());
  EXPECT_EQ(Statuses.back(), "The back up of the database D did not complete");
  EXPECT_FALSE(StoreFileExists("Nightly.Tmp"));
  EXPECT_EQ(FileBytes(*Engine.Faults, StoreFile("Nightly.BRNBkp")), earlier);
  EXPECT_EQ(database.OpenCount, 0);
}

// A restore stopped through the progress puts the previous files of the
// table being read back; with the catalog, every restored table and the
// catalog go back too.
TEST_F(BackupTest, AStoppedRestoreLeavesNoHalfReadTable) {
  Db& database = MakeDatabase("D", 3000, 3000);
  ASSERT_TRUE(Backup(database, "Full", {}, 0, true));
  Insert(database, "T1", {9001});
  Insert(database, "T2", {9002});
  ASSERT_TRUE(Backup(database, "Changed", {}, 0, true));
  database.CloseDatabase(false);

  int32_t stops = 0;
  for (bool withCatalog : {false, true}) {
    for (int32_t stopAt = 1;; ++stopAt) {
      SCOPED_TRACE(::testing::Message() << "catalog " << withCatalog << " stop " << stopAt);
      ASSERT_TRUE(Restore(database, "Changed", {}, true));
      const auto before = Files(database);
      int32_t calls = 0;
      Session->Events.OnProgress = [&](int32_t, bool& proceed) { proceed = ++calls < stopAt; };
      const bool completed = Restore(database, "Full", {}, withCatalog);
      Session->Events.OnProgress = nullptr;
      const Ids t1 = Rows(database, "T1");
      const Ids t2 = Rows(database, "T2");
      if (completed) {
        EXPECT_EQ(t1.size(), 3000u);
        EXPECT_EQ(t2.size(), 3000u);
        break;
      }
      ++stops;
      // Each table wholly as before or wholly as in the backup; with the
      // catalog, everything as before.
      EXPECT_TRUE(t1.size() == 3001u || t1.size() == 3000u) << t1.size();
      EXPECT_EQ(t2.size(), 3001u);
      if (withCatalog) {
        EXPECT_EQ(t1.size(), 3001u);
        EXPECT_EQ(Files(database), before);
      }
    }
  }
  EXPECT_GT(stops, 4);
}

// Writing into a store is creating a file there: BACKUP needs the Create
// privilege on the store besides Backup on the database.
TEST_F(BackupTest, BackupNeedsTheCreatePrivilegeOnTheStore) {
  Db& database = MakeDatabase("D");
  database.CloseDatabase(false);
  TBRNUser* user = Session->BeginCreateUser("Clerk");
  user->SetPassword("secret");
  Session->EndCreateUser(user);
  auto* clerk = static_cast<TBRNUser*>(Session->Config->Users->FindByName("Clerk", true));
  database.Database->Grant(Session->Config->SystemUser, clerk, pkBackup);
  Session->Logout();
  Session->Login("Clerk", "secret");
  auto [code, text] = Outcome([&] { Backup(database, "Clerk", {}, 6, false); });
  EXPECT_EQ(code, 503) << text;
  EXPECT_FALSE(StoreFileExists("Clerk.BRNBkp"));
  EXPECT_FALSE(StoreFileExists("Clerk.Tmp"));
}

}  // namespace
}  // namespace brn::testing
