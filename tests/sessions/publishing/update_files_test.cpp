// SAVE UPDATES and LOAD UPDATES: a database's changes carried to another
// database through an update file, the file's checks, cancels and failed
// writes, and the records applied by primary key.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/publishing/publishing_test_support.h"
#include "sessions/publishing/update_file_header.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;

struct UpdateFileTest : PublishingTest {
  // Two databases with the same tables, each published on its own.
  void SetUp() override {
    PublishingTest::SetUp();
    A = &MakeDatabase("A");
    B = &MakeDatabase("B");
    Publish("A");
    Publish("B");
  }

  // count mixed inserts, updates and deletes on both tables of A, parents
  // before their children, from a fixed seed.
  void MixedChanges(int32_t count) {
    std::mt19937 random(40);
    std::set<int32_t> parents;
    std::set<int32_t> children;
    int32_t next = 1;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t kind = int32_t(random() % 6);
      if (kind <= 1 || parents.empty()) {
        Insert(*A, "Parent", {{"Code", std::to_string(next)},
                              {"Name", "p" + std::to_string(next)},
                              {"Amount", std::to_string(random() % 1000)}});
        parents.insert(next++);
      } else if (kind == 2) {
        const int32_t parent = *std::next(parents.begin(), random() % parents.size());
        Insert(*A, "Child", {{"Code", std::to_string(next)},
                             {"ParentCode", std::to_string(parent)},
                             {"Note", "c" + std::to_string(next)}});
        children.insert(next++);
      } else if (kind == 3) {
        const int32_t parent = *std::next(parents.begin(), random() % parents.size());
        Update(*A, "Parent", parent, {{"Amount", std::to_string(random() % 1000)}});
      } else if (kind == 4 && !children.empty()) {
        const int32_t child = *std::next(children.begin(), random() % children.size());
        Update(*A, "Child", child, {{"Note", "n" + std::to_string(i)}});
      } else if (!children.empty()) {
        const int32_t child = *std::next(children.begin(), random() % children.size());
        Delete(*A, "Child", child);
        children.erase(child);
      }
    }
  }

  Db* A = nullptr;
  Db* B = nullptr;
};

TEST_F(UpdateFileTest, ChangesCarriedToACopyMakeItEqualAndNeverComeBack) {
  MixedChanges(1000);
  ASSERT_TRUE(Save("A", "AtoB"));
  EXPECT_TRUE(StoreFileExists("AtoB.BRNUpd"));
  EXPECT_FALSE(StoreFileExists("AtoB.Tmp"));
  // The logs were emptied by the save.
  EXPECT_TRUE(Log(*A, "Parent").empty());
  EXPECT_TRUE(Log(*A, "Child").empty());

  ASSERT_TRUE(Load("B", "AtoB"));
  for (const char* table : {"Parent", "Child"}) {
    EXPECT_EQ(Rows(*B, table), Rows(*A, table)) << table;
  }
  // B logged what it applied, each record carrying A's site and then B's.
  std::vector<LoggedRecord> bLog = Log(*B, "Parent");
  ASSERT_FALSE(bLog.empty());
  EXPECT_THAT(bLog[0].Sites,
              ElementsAre(TableOf(*A, "Parent")->PublishID, TableOf(*B, "Parent")->PublishID));

  // Back to A: every record already passed through A.
  const std::vector<std::string> before = Rows(*A, "Parent");
  ASSERT_TRUE(Save("B", "BtoA"));
  ASSERT_TRUE(Load("A", "BtoA"));
  EXPECT_EQ(Rows(*A, "Parent"), before);
  EXPECT_TRUE(Log(*A, "Parent").empty());
}

TEST_F(UpdateFileTest, ParentsComeBeforeChildrenAcrossSectionsAndCompressedFilesLoad) {
  // Child comes first in the file (lower ID); its row refers to a parent
  // inserted before it, so only timestamp order across tables applies it.
  ASSERT_LT(TableOf(*A, "Child")->ID, TableOf(*A, "Parent")->ID);
  Insert(*A, "Parent", {{"Code", "1"}, {"Name", "one"}});
  Insert(*A, "Child", {{"Code", "5"}, {"ParentCode", "1"}, {"Note", "n"}});
  ASSERT_TRUE(Save("A", "Packed", 9));
  TBRNMemoryStream file;
  LoadBytes(file, StoreFileBytes("Packed.BRNUpd"));
  TBRNUpdateFileHeader header;
  ASSERT_EQ(ParseUpdateFileHeader(file, B->GetSignatureDigest(), header),
            TBRNUpdateHeaderResult::Valid);
  EXPECT_EQ(header.Compression, 9);
  ASSERT_EQ(header.Sections.size(), 2u);
  EXPECT_EQ(header.Sections[0].TableName, "Child");
  ASSERT_TRUE(Load("B", "Packed"));
  EXPECT_THAT(Rows(*B, "Child"), ElementsAre("Code=5;ParentCode=1;Note=n;"));
}

TEST_F(UpdateFileTest, SaveWithoutChangesSkipsOrWritesEmptySections) {
  EXPECT_TRUE(Save("A", "Nothing", 0, true));
  EXPECT_FALSE(StoreFileExists("Nothing.BRNUpd"));
  EXPECT_TRUE(Save("A", "Empty", 0, false));
  TBRNMemoryStream file;
  LoadBytes(file, StoreFileBytes("Empty.BRNUpd"));
  TBRNUpdateFileHeader header;
  ASSERT_EQ(ParseUpdateFileHeader(file, A->GetSignatureDigest(), header),
            TBRNUpdateHeaderResult::Valid);
  EXPECT_EQ(header.DatabaseName, "A");
  EXPECT_EQ(header.Description, "Changes");
  EXPECT_EQ(header.UserName, "Administrator");
  ASSERT_EQ(header.Sections.size(), 2u);
  for (const TBRNUpdateFileSection& section : header.Sections) EXPECT_EQ(section.Length, 0);
  EXPECT_EQ(file.GetSize(), file.GetPosition());
  EXPECT_TRUE(Load("B", "Empty"));
}

TEST_F(UpdateFileTest, ACancelledSaveLeavesNoFileAndEveryLog) {
  Insert(*A, "Parent", {{"Code", "1"}});
  Insert(*A, "Parent", {{"Code", "2"}});
  Session->SetProgressTimeInterval(0);
  Session->Events.OnProgress = [](int32_t percent, bool& proceed) {
    if (percent > 0) proceed = false;
  };
  EXPECT_FALSE(Save("A", "Stopped"));
  Session->Events.OnProgress = nullptr;
  EXPECT_FALSE(StoreFileExists("Stopped.BRNUpd"));
  EXPECT_FALSE(StoreFileExists("Stopped.Tmp"));
  EXPECT_EQ(Log(*A, "Parent").size(), 2u);
}

TEST_F(UpdateFileTest, ACancelledLoadRollsBackWhatItApplied) {
  for (int32_t code = 1; code <= 5; ++code) Insert(*A, "Parent", {{"Code", std::to_string(code)}});
  ASSERT_TRUE(Save("A", "Five"));
  Session->SetProgressTimeInterval(0);
  int32_t reports = 0;
  Session->Events.OnProgress = [&](int32_t percent, bool& proceed) {
    if (percent > 0 && ++reports == 3) proceed = false;
  };
  EXPECT_FALSE(Load("B", "Five"));
  Session->Events.OnProgress = nullptr;
  EXPECT_TRUE(Rows(*B, "Parent").empty());
  // The whole file loads afterwards, each record once.
  ASSERT_TRUE(Load("B", "Five"));
  EXPECT_EQ(Rows(*B, "Parent").size(), 5u);
}

TEST_F(UpdateFileTest, HeaderRefusals) {
  Insert(*A, "Parent", {{"Code", "1"}});
  ASSERT_TRUE(Save("A", "Good"));
  std::string good = StoreFileBytes("Good.BRNUpd");

  std::string foreign = good;
  foreign[4] = char(foreign[4] ^ 0x55);
  WriteStoreFile("Foreign.BRNUpd", foreign);
  EBRNException signature = CaughtEngineError([&] { Load("B", "Foreign"); });
  EXPECT_EQ(signature.ErrorCode, 1305);
  EXPECT_EQ(signature.ErrorMessage,
            "Error loading the updates for the database B (Invalid update file header signature)");

  WriteStoreFile("Short.BRNUpd", good.substr(0, 30));
  EBRNException shortHeader = CaughtEngineError([&] { Load("B", "Short"); });
  EXPECT_EQ(shortHeader.ErrorMessage,
            "Error loading the updates for the database B (Error reading the header from the "
            "update file)");
  EXPECT_TRUE(Rows(*B, "Parent").empty());
}

TEST_F(UpdateFileTest, ADamagedRecordStopsTheLoadAndRollsItBack) {
  Insert(*A, "Parent", {{"Code", "1"}});
  Insert(*A, "Parent", {{"Code", "2"}});
  ASSERT_TRUE(Save("A", "Good", 0, false, {"Parent"}));
  std::string bytes = StoreFileBytes("Good.BRNUpd");
  TBRNMemoryStream file;
  LoadBytes(file, bytes);
  TBRNUpdateFileHeader header;
  ASSERT_EQ(ParseUpdateFileHeader(file, B->GetSignatureDigest(), header),
            TBRNUpdateHeaderResult::Valid);
  const int64_t section = header.Sections.at(0).Offset;
  int32_t firstLength = 0;
  std::memcpy(&firstLength, bytes.data() + section, 4);
  // The second record's length claims more than the section holds.
  std::string damaged = bytes;
  const int32_t huge = 0x7FFFFF00;
  std::memcpy(damaged.data() + section + 4 + firstLength, &huge, 4);
  WriteStoreFile("Damaged.BRNUpd", damaged);
  EBRNException error = CaughtEngineError([&] { Load("B", "Damaged"); });
  EXPECT_EQ(error.ErrorCode, 1305);
  EXPECT_EQ(error.ErrorMessage,
            "Error loading the updates for the database B (Error reading the table Parent from "
            "the update file)");
  // The first record was applied, then rolled back.
  EXPECT_TRUE(Rows(*B, "Parent").empty());
}

TEST_F(UpdateFileTest, ALoadNeedsADeclaredPrimaryKey) {
  B->CatalogManager->BeginUpdate();
  TBRNBaseTable* loose = AddTableOf(*B->Catalog, "Loose", {{"Code", dtInteger, 0}});
  loose->AddPrimaryKey(false);
  loose->Validate();
  loose->UpdateStructureChecksum();
  B->CatalogManager->CommitUpdate();
  CreateFiles(*B, "Loose");
  // A file listing Loose with one record.
  TBRNUpdateFileHeader header;
  header.DatabaseName = "A";
  header.Sections.push_back({"Loose", 0, 0});
  TBRNMemoryStream file;
  header.WriteTo(file, B->GetSignatureDigest());
  const std::string record =
      UpdateRecord({"{site}"}, 1, 1, RecordBytes().Int32(1).IntegerEntry("Code", 1).Text());
  header.Sections[0].Offset = file.GetSize();
  header.Sections[0].Length = int64_t(record.size()) + 4;
  file.SetSize(0);
  file.SetPosition(0);
  header.WriteTo(file, B->GetSignatureDigest());
  const int32_t length = int32_t(record.size());
  file.WriteInteger(length);
  file.Write(record.data(), length);
  WriteStoreFile("Loose.BRNUpd",
                 std::string(reinterpret_cast<const char*>(file.GetMemory()), size_t(file.GetSize())));
  EBRNException error = CaughtEngineError([&] { Load("B", "Loose"); });
  EXPECT_EQ(error.ErrorMessage,
            "Error loading the updates for the database B (No primary key constraint present in "
            "the table Loose)");
}

// ---------------------------------------------------------------------------
// Applying single records

struct ApplyRecordTest : UpdateFileTest {
  // Applies record to B's Parent as the only record of a stream.
  void Apply(const std::string& record, bool ignoreMissing = false) {
    OpenTable manager(*B, "Parent");
    manager->CheckPrimaryKey();
    RecordBytes stream;
    stream.Int32(int32_t(record.size()));
    TBRNMemoryStream bytes;
    LoadBytes(bytes, stream.Text() + record);
    manager->ApplyUpdateRecords(bytes, ignoreMissing, bytes.GetSize());
  }
  static std::string Key(int32_t code) { return RecordBytes().Int32(1).IntegerEntry("Code", code).Text(); }
};

TEST_F(ApplyRecordTest, MissingRowsUnknownColumnsAndTypeMismatches) {
  Insert(*B, "Parent", {{"Code", "1"}, {"Name", "one"}, {"Amount", "1"}});
  const std::string update =
      UpdateRecord({"{other}"}, 2, 10, Key(7) + RecordBytes().Int32(1).IntegerEntry("Amount", 5).Text());
  EBRNException missing = CaughtEngineError([&] { Apply(update); });
  EXPECT_EQ(missing.ErrorCode, 1305);
  EXPECT_EQ(missing.ErrorMessage,
            "Error loading the updates for the database B (No row found in the table Parent with "
            "the primary key values of 7)");
  Apply(update, true);                              // ignored
  Apply(UpdateRecord({"{other}"}, 3, 11, Key(7)));  // a delete of a missing row: skipped

  // A column the target lacks is skipped; the others apply.
  Apply(UpdateRecord({"{other}"}, 2, 12,
                     Key(1) + RecordBytes()
                                  .Int32(2)
                                  .CharEntry("Gone", "x")
                                  .IntegerEntry("Amount", 42)
                                  .Text()));
  EXPECT_THAT(Rows(*B, "Parent"), ElementsAre("Code=1;Name=one;Amount=42;"));

  EBRNException mismatch = CaughtEngineError([&] {
    Apply(UpdateRecord({"{other}"}, 1, 13,
                       RecordBytes().Int32(2).IntegerEntry("Code", 9).IntegerEntry("Name", 3).Text()));
  });
  EXPECT_EQ(mismatch.ErrorMessage,
            "Error loading the updates for the database B (Invalid or mismatched metadata for the "
            "column Name in the table Parent in the update file)");
  EXPECT_EQ(Rows(*B, "Parent").size(), 1u);
}

TEST_F(ApplyRecordTest, OwnSiteIsSkippedAndAppliedRecordsAreLoggedWithTheirSites) {
  const std::string own = TableOf(*B, "Parent")->PublishID;
  Apply(UpdateRecord({own}, 1, 20, RecordBytes().Int32(1).IntegerEntry("Code", 3).Text()));
  EXPECT_TRUE(Rows(*B, "Parent").empty());
  Apply(UpdateRecord({"{far}", "{near}"}, 1, 21,
                     RecordBytes().Int32(1).IntegerEntry("Code", 3).Text()));
  EXPECT_THAT(Rows(*B, "Parent"), ElementsAre("Code=3;Name=NULL;Amount=NULL;"));
  std::vector<LoggedRecord> log = Log(*B, "Parent");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_THAT(log[0].Sites, ElementsAre("{far}", "{near}", own));
}

// Bytes that do not hold what they claim are refused before anything is
// sized by them.
TEST_F(ApplyRecordTest, UntrustedCountsAndLengthsAreRefused) {
  const std::string readError =
      "Error loading the updates for the database B (Error reading the table Parent from the "
      "update file)";
  const std::string insert = UpdateRecord({"{s}"}, 1, 30, Key(4));
  struct Case {
    const char* Name;
    std::string Record;
  };
  const std::vector<Case> cases = {
      {"site count beyond the bytes", RecordBytes().Int32(1000000).Text()},
      {"negative site count", RecordBytes().Int32(-1).Text()},
      {"site string beyond the bytes", RecordBytes().Int32(1).Int32(99).Text()},
      {"operation out of range", UpdateRecord({"{s}"}, 4, 1, Key(4))},
      {"no timestamp", RecordBytes().Int32(0).Int32(1).Text()},
      {"column count beyond the bytes", UpdateRecord({"{s}"}, 1, 1, RecordBytes().Int32(50).Text())},
      {"value length beyond the bytes",
       UpdateRecord({"{s}"}, 1, 1,
                    RecordBytes().Int32(1).String("Name").Int32(dtChar).Int32(0).Byte(0).Int32(500).Text())},
      {"unknown type of a skipped column",
       UpdateRecord({"{s}"}, 1, 1,
                    RecordBytes().Int32(1).String("Gone").Int32(77).Int32(0).Byte(0).Text())},
      {"truncated record", insert.substr(0, insert.size() - 2)},
  };
  for (const Case& c : cases) {
    EBRNException error = CaughtEngineError([&] { Apply(c.Record); });
    EXPECT_EQ(error.ErrorMessage, readError) << c.Name;
  }

  // The records of a stream lie inside the bytes counted for them.
  OpenTable manager(*B, "Parent");
  manager->CheckPrimaryKey();
  RecordBytes two;
  two.Int32(int32_t(insert.size())).Text() += insert;
  TBRNMemoryStream bytes;
  LoadBytes(bytes, two.Text());
  EBRNException past = CaughtEngineError(
      [&] { manager->ApplyUpdateRecords(bytes, false, int64_t(insert.size()) + 2); });
  EXPECT_EQ(past.ErrorMessage, readError);
  LoadBytes(bytes, RecordBytes().Int32(-5).Text());
  EBRNException negative = CaughtEngineError([&] { manager->ApplyUpdateRecords(bytes, false, 4); });
  EXPECT_EQ(negative.ErrorMessage, readError);
  EXPECT_TRUE(Rows(*B, "Parent").empty());
}

TEST_F(ApplyRecordTest, InflatingPastTheBufferLimitStops) {
  OpenTable manager(*B, "Parent");
  TBRNCompressionManager compression;
  compression.SetCompressionLevel(9);
  TBRNMemoryStream plain;
  LoadBytes(plain, std::string(4096, 'x'));
  TBRNMemoryStream packed;
  compression.CompressStream(plain, packed);
  RecordBytes stream;
  stream.Int32(int32_t(packed.GetSize()));
  TBRNMemoryStream source;
  LoadBytes(source, stream.Text() + std::string(reinterpret_cast<const char*>(packed.GetMemory()),
                                                size_t(packed.GetSize())));
  int64_t counter = 0;
  EBRNException exceeded =
      CaughtEngineError([&] { manager->ReadUpdateRecord(source, counter, 9, 1024); });
  EXPECT_EQ(exceeded.ErrorMessage,
            "Error loading the updates for the database B (Updates buffer size of 2147483647 "
            "exceeded in the table Parent)");
  source.SetPosition(0);
  EXPECT_EQ(manager->ReadUpdateRecord(source, counter, 9), 4 + packed.GetSize());
  EXPECT_EQ(manager->GetUpdateRecord().GetSize(), 4096);
}

// ---------------------------------------------------------------------------
// Failed writes

// The records per table of an update file (none without a file).
std::map<std::string, int32_t> SectionRecords(const std::string& bytes, const TBRNDigest& digest) {
  std::map<std::string, int32_t> counts;
  if (bytes.empty()) return counts;
  TBRNMemoryStream file;
  LoadBytes(file, bytes);
  TBRNUpdateFileHeader header;
  EXPECT_EQ(ParseUpdateFileHeader(file, digest, header), TBRNUpdateHeaderResult::Valid);
  for (const TBRNUpdateFileSection& section : header.Sections) {
    int64_t at = section.Offset;
    while (at < section.Offset + section.Length) {
      int32_t length = 0;
      std::memcpy(&length, bytes.data() + at, 4);
      at += 4 + length;
      ++counts[section.TableName];
    }
  }
  return counts;
}

// Each write of a save fails in turn. Until the file is complete and
// renamed nothing is left of it and every log is intact; a failure while
// the logs are emptied afterwards leaves the complete file, so that no
// record is lost.
TEST_F(UpdateFileTest, ASaveWhoseWriteFailsLosesNoRecord) {
  Insert(*A, "Parent", {{"Code", "1"}});
  Insert(*A, "Child", {{"Code", "2"}, {"ParentCode", "1"}});
  int32_t withoutFile = 0;
  for (int32_t nth = 1;; ++nth) {
    Engine.Faults->FailWrite(nth);
    bool failed = false;
    try {
      Save("A", "Faulty");
    } catch (const EBRNException&) {
      failed = true;
    }
    Engine.Faults->Disarm();
    if (!failed) break;
    EXPECT_FALSE(StoreFileExists("Faulty.Tmp")) << nth;
    std::map<std::string, int32_t> saved =
        SectionRecords(StoreFileBytes("Faulty.BRNUpd"), A->GetSignatureDigest());
    if (saved.empty()) ++withoutFile;
    for (const char* table : {"Parent", "Child"}) {
      const int32_t logged = int32_t(Log(*A, table).size());
      if (saved.empty()) {
        ASSERT_EQ(logged, 1) << nth << " " << table;
      } else {
        ASSERT_GE(saved[table] + logged, 1) << nth << " " << table;
      }
    }
    if (!saved.empty()) break;  // the file stood: the logs were being emptied
    ASSERT_LT(nth, 200);
  }
  EXPECT_GT(withoutFile, 0);
}

TEST_F(UpdateFileTest, ASaveThatCannotReplaceTheOldFileKeepsEveryLog) {
  Insert(*A, "Parent", {{"Code", "1"}});
  WriteStoreFile("Held.BRNUpd", "old");
  // The old file is in use: it can be neither deleted nor replaced.
  auto held = Engine.Faults->OpenFile(StorePath("Held.BRNUpd"), false, true, false);
  EXPECT_THROW(Save("A", "Held"), EBRNException);
  held.reset();
  EXPECT_FALSE(StoreFileExists("Held.Tmp"));
  EXPECT_EQ(Log(*A, "Parent").size(), 1u);
}

// Each write of a load fails in turn (every one falls in the commit, which
// writes table after table and goes on past a table that fails): every
// table is as before, holds the whole load, or (a flush cut short) reports
// on open that it needs repair, as a failed commit of any transaction does.
TEST_F(UpdateFileTest, ALoadWhoseWriteFailsLeavesEveryTableAsBeforeOrLoaded) {
  for (int32_t code = 1; code <= 3; ++code) {
    Insert(*A, "Parent", {{"Code", std::to_string(code)}});
    Insert(*A, "Child", {{"Code", std::to_string(code)}, {"ParentCode", std::to_string(code)}});
  }
  Update(*A, "Parent", 2, {{"Name", "two"}});
  ASSERT_TRUE(Save("A", "Faulty"));
  const std::vector<std::string> loadedParents = Rows(*A, "Parent");
  const std::vector<std::string> loadedChildren = Rows(*A, "Child");
  int32_t failures = 0;
  for (int32_t nth = 1;; ++nth) {
    const std::string name = "T" + std::to_string(nth);
    Db& target = MakeDatabase(name);
    Publish(name);
    Insert(target, "Parent", {{"Code", "100"}, {"Name", "kept"}});
    const std::vector<std::string> parents = Rows(target, "Parent");
    Engine.Faults->FailWrite(nth);
    bool failed = false;
    try {
      Load(name, "Faulty");
    } catch (const EBRNException&) {
      failed = true;
    }
    Engine.Faults->Disarm();
    if (!failed) break;
    ++failures;
    std::vector<std::string> withLoaded = loadedParents;
    withLoaded.push_back("Code=100;Name=kept;Amount=NULL;");
    std::sort(withLoaded.begin(), withLoaded.end());
    // The rows of a table, or nothing when it needs repair.
    auto rowsOrRepair = [&](const char* table, bool& repair) {
      repair = false;
      try {
        return Rows(target, table);
      } catch (const EBRNException& error) {
        EXPECT_EQ(error.ErrorCode, 100) << error.ErrorMessage;
        repair = true;
        return std::vector<std::string>();
      }
    };
    bool repair = false;
    const std::vector<std::string> nowParents = rowsOrRepair("Parent", repair);
    EXPECT_TRUE(repair || nowParents == parents || nowParents == withLoaded) << nth;
    const std::vector<std::string> nowChildren = rowsOrRepair("Child", repair);
    EXPECT_TRUE(repair || nowChildren.empty() || nowChildren == loadedChildren) << nth;
    ASSERT_LT(nth, 100);
  }
  EXPECT_GT(failures, 0);
}

// Reading an update file as rows: one row per record, an update with both
// its key and its new values.
TEST_F(UpdateFileTest, AnUpdateFileReadAsRows) {
  Insert(*A, "Parent", {{"Code", "1"}, {"Name", "one"}});
  Update(*A, "Parent", 1, {{"Name", "uno"}});
  Delete(*A, "Parent", 1);
  ASSERT_TRUE(Save("A", "Rows", 0, false, {"Parent"}));
  B->CatalogManager->BeginUpdate();
  TBRNBaseTable* updates = AddTableOf(*B->Catalog, "Updates",
                                      {{"TableName", dtChar, 128},
                                       {"UpdateType", dtChar, 10},
                                       {"UpdateTimeStamp", dtTimestamp, 0},
                                       {"Manifest", dtChar, 200},
                                       {"KeyData", dtChar, 200},
                                       {"RowData", dtChar, 200}});
  updates->AddPrimaryKey(false);
  updates->Validate();
  updates->UpdateStructureChecksum();
  B->CatalogManager->CommitUpdate();
  CreateFiles(*B, "Updates");
  {
    OpenTable manager(*B, "Updates");
    B->ReadUpdateFile("Rows", "Outbox", Names({}), *manager);
  }
  const std::string site = TableOf(*A, "Parent")->PublishID;
  std::vector<std::string> rows = Rows(*B, "Updates");
  ASSERT_EQ(rows.size(), 3u);
  auto has = [&](const std::string& type, const std::string& keyData, const std::string& rowData) {
    for (const std::string& row : rows) {
      if (row.find("UpdateType=" + type + ";") != std::string::npos &&
          row.find("Manifest=" + site + ";") != std::string::npos &&
          row.find("KeyData=" + keyData + ";") != std::string::npos &&
          row.find("RowData=" + rowData + ";") != std::string::npos &&
          row.find("TableName=Parent;") != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(has("Insert", "NULL", "Code: 1\r\nName: one\r\n")) << rows[0];
  EXPECT_TRUE(has("Update", "Code: 1\r\n", "Name: uno\r\n"));
  EXPECT_TRUE(has("Delete", "Code: 1\r\n", "NULL"));
}

// Saving writes a file into the store: Maintain on the database is not
// enough without Create on the store.
TEST_F(UpdateFileTest, ASaveNeedsCreateOnTheStore) {
  Insert(*A, "Parent", {{"Code", "1"}});
  TBRNUser* clerk = Session->BeginCreateUser("Clerk");
  Session->EndCreateUser(clerk);
  Session->GrantPrivilege("Clerk", "A", 0, pkMaintain);
  Session->PushCurrentUser();
  Session->SetCurrentUser(clerk);
  EBRNException refused = CaughtEngineError([&] { Save("A", "Clerk"); });
  Session->PopCurrentUser();
  EXPECT_EQ(refused.ErrorCode, 503);
  EXPECT_NE(refused.ErrorMessage.find("(SAVE UPDATES TO DATABASE A)"), std::string::npos)
      << refused.ErrorMessage;
  EXPECT_FALSE(StoreFileExists("Clerk.Tmp"));
  EXPECT_EQ(Log(*A, "Parent").size(), 1u);
  // With Create on the store the same user saves.
  Session->GrantPrivilege("Clerk", "Outbox", 1, pkCreate);
  Session->PushCurrentUser();
  Session->SetCurrentUser(clerk);
  bool saved = false;
  EXPECT_NO_THROW(saved = Save("A", "Clerk"));
  Session->PopCurrentUser();
  EXPECT_TRUE(saved);
  EXPECT_TRUE(StoreFileExists("Clerk.BRNUpd"));
}

}  // namespace
}  // namespace brn::testing
