// The catalog root: object IDs, lock numbers, the catalog stream and what a
// damaged stream does.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/catalog_test_support.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;
using testing::CatalogTable;
using testing::CaughtError;

std::vector<uint8_t> SavedBytes(TBRNConfigObject& object) {
  TBRNMemoryStream stream;
  object.SaveToStream(stream, false);
  const uint8_t* data = stream.GetMemory();
  return std::vector<uint8_t>(data, data + stream.GetSize());
}

void LoadBytes(TBRNConfigObject& object, const std::vector<uint8_t>& bytes) {
  TBRNMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  object.LoadFromStream(stream);
}

template <typename T>
void PutAt(std::vector<uint8_t>& bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof(T));
}

TEST(Catalog, NewCatalogHoldsTheTwoSchemasAndCountsOn) {
  CatalogFixture f;
  TBRNCatalog& catalog = *f.Catalog;
  EXPECT_EQ(catalog.ID, 1);
  ASSERT_EQ(catalog.Schemas->Count(), 2);
  EXPECT_EQ(catalog.InformationSchema, catalog.Schemas->GetItem(0));
  EXPECT_EQ(catalog.InformationSchema->Name, "Information");
  EXPECT_EQ(catalog.InformationSchema->Description, "Information Schema");
  EXPECT_EQ(catalog.InformationSchema->ID, 3);
  EXPECT_TRUE(catalog.InformationSchema->System);
  EXPECT_EQ(catalog.DefaultSchema->Name, "Default");
  EXPECT_EQ(catalog.DefaultSchema->Description, "Default Schema");
  EXPECT_EQ(catalog.DefaultSchema->ID, 4);
  EXPECT_FALSE(catalog.DefaultSchema->System);
  EXPECT_EQ(catalog.GetObjectTypeName(), "catalog");
  EXPECT_EQ(catalog.GetDatabase(), nullptr);

  catalog.Modified = false;
  EXPECT_EQ(catalog.NextID(), 5);
  EXPECT_TRUE(catalog.Modified);
  catalog.NextObjectCounter = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(catalog.NextID(), 1);

  // A new object of the catalog takes its ID from the counter.
  CatalogTable* table = f.AddTable("T");
  EXPECT_EQ(table->ID, 2);
  EXPECT_EQ(table->GetVersion(), kNewestFormatVersion);
}

TEST(Catalog, SetVersionMarksModifiedOnlyOnChange) {
  TBRNCatalog catalog(nullptr);
  EXPECT_EQ(catalog.FormatVersion, 0);
  catalog.Modified = false;
  catalog.SetVersion(0);
  EXPECT_FALSE(catalog.Modified);
  catalog.SetVersion(kFormatVersion204);
  EXPECT_TRUE(catalog.Modified);
  EXPECT_EQ(catalog.GetVersion(), kFormatVersion204);
  EXPECT_EQ(catalog.DefaultSchema->GetVersion(), kFormatVersion204);
}

TEST(Catalog, LockNumbersTakeTheSmallestFreeNumber) {
  CatalogFixture f;
  EXPECT_EQ(f.Catalog->NextTableLockNumber(), 1);
  f.AddTable("A", 1);
  f.AddTable("B", 2);
  f.AddTable("C", 4);
  EXPECT_EQ(f.Catalog->NextTableLockNumber(), 3);
  // Temporary objects and the routine lists do not count for tables.
  CatalogTable* temporary = f.AddTable("D", 3);
  temporary->SetTemporary(true);
  EXPECT_EQ(f.Catalog->NextTableLockNumber(), 3);
  EXPECT_EQ(f.Catalog->NextRoutineLockNumber(), 1);
  // Numbers far beyond the member count do not matter.
  f.AddTable("E", std::numeric_limits<int32_t>::max());
  EXPECT_EQ(f.Catalog->NextTableLockNumber(), 3);
}

TEST(Catalog, LockRanges) {
  TBRNCatalog catalog(nullptr);
  struct Range {
    uint8_t Type;
    int32_t Offset;
    int32_t Length;
  };
  for (const Range& r : {Range{1, 0, 0}, Range{2, 0, 0}, Range{3, 8193, 4096}, Range{4, 8193, 4096},
                         Range{5, 8192, 1}}) {
    EXPECT_EQ(catalog.GetLockOffset(r.Type), r.Offset) << int(r.Type);
    EXPECT_EQ(catalog.GetLockLength(r.Type), r.Length) << int(r.Type);
  }
  EXPECT_EQ(catalog.GetLockRetryCount(3), 32768);
  EXPECT_EQ(catalog.GetLockRetryDelay(5), 3);
}

TEST(Catalog, SavedAndLoadedCatalogIsEqual) {
  CatalogFixture f;
  f.Catalog->DefaultSchema->SetDescription("Main schema");
  f.Catalog->NextID();
  const std::vector<uint8_t> bytes = SavedBytes(*f.Catalog);
  EXPECT_FALSE(f.Catalog->Modified);

  TBRNCatalog loaded(&f.Config);
  LoadBytes(loaded, bytes);
  EXPECT_TRUE(loaded.IsEqual(f.Catalog.get(), true));
  EXPECT_EQ(loaded.NextObjectCounter, f.Catalog->NextObjectCounter);
  EXPECT_EQ(loaded.FormatVersion, kNewestFormatVersion);
  EXPECT_FALSE(loaded.Modified);
  EXPECT_EQ(loaded.DefaultSchema, loaded.Schemas->GetItem(1));
  EXPECT_EQ(loaded.DefaultSchema->Description, "Main schema");
  // The stored form begins with the version and the counter, no base record.
  int64_t version = 0;
  int32_t counter = 0;
  std::memcpy(&version, bytes.data(), 8);
  std::memcpy(&counter, bytes.data() + 8, 4);
  EXPECT_EQ(version, kNewestFormatVersion);
  EXPECT_EQ(counter, 5);

  // A copy is equal too, and a changed one is not.
  TBRNCatalog copy(&f.Config);
  copy.Assign(f.Catalog.get(), false);
  EXPECT_TRUE(copy.IsEqual(f.Catalog.get(), true));
  EXPECT_EQ(copy.DefaultSchema->Description, "Main schema");
  copy.DefaultSchema->SetDescription("Other");
  EXPECT_FALSE(copy.IsEqual(f.Catalog.get(), true));
}

TEST(Catalog, NewerVersionIsRefusedAndNothingIsApplied) {
  CatalogFixture f;
  std::vector<uint8_t> bytes = SavedBytes(*f.Catalog);
  PutAt<int64_t>(bytes, 0, 20600);
  TBRNCatalog catalog(&f.Config);
  const EBRNException error = CaughtError([&] { LoadBytes(catalog, bytes); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(std::string(error.ErrorMessage)
                .find("The object has been updated by a newer version of the engine"),
            std::string::npos)
      << error.ErrorMessage;
  EXPECT_EQ(catalog.FormatVersion, 0);
  EXPECT_EQ(catalog.NextObjectCounter, 4);
}

// Damaged streams raise an engine error, leave the catalog as it was, and
// never fault (the sanitizers watch every case).
TEST(Catalog, HostileStreamsRaiseAndLeaveTheCatalogIntact) {
  CatalogFixture f;
  f.Catalog->DefaultSchema->SetDescription("Main schema");
  const std::vector<uint8_t> good = SavedBytes(*f.Catalog);

  auto expectRefused = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
    TBRNCatalog catalog(&f.Config);
    const std::vector<uint8_t> before = SavedBytes(catalog);
    const EBRNException error = CaughtError([&] { LoadBytes(catalog, bytes); });
    EXPECT_GE(error.ErrorCode, 100) << what;
    EXPECT_EQ(SavedBytes(catalog), before) << what;
    EXPECT_EQ(catalog.DefaultSchema, catalog.Schemas->GetItem(1)) << what;
  };

  for (size_t cut = 0; cut < good.size(); ++cut)
    expectRefused(std::vector<uint8_t>(good.begin(), good.begin() + cut),
                  "cut at " + std::to_string(cut));

  struct Patch {
    const char* What;
    size_t At;
    int64_t Value;
    int Width;
  };
  // Offsets: version 0, counter 8, schema count 12, Default's ID 16.
  const Patch patches[] = {
      {"negative version", 0, -1, 8},       {"counter 0", 8, 0, 4},
      {"negative counter", 8, -5, 4},       {"huge schema count", 12, 0x7FFFFFFF, 4},
      {"negative schema count", 12, -1, 4}, {"no Default schema", 12, 0, 4},
      {"Default schema ID 0", 16, 0, 4},    {"Default schema ID of Information", 16, 3, 4},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> bytes = good;
    if (p.Width == 8) {
      PutAt<int64_t>(bytes, p.At, p.Value);
    } else {
      PutAt<int32_t>(bytes, p.At, int32_t(p.Value));
    }
    expectRefused(bytes, p.What);
  }

  // The schema's name length beyond the stream, and a stored table, which
  // this engine cannot read yet.
  {
    std::vector<uint8_t> bytes = good;
    PutAt<int32_t>(bytes, 20, 0x10000000);
    expectRefused(bytes, "name length");
  }
  {
    std::vector<uint8_t> bytes = good;
    // The base tables count is the fourth int32 from the end.
    PutAt<int32_t>(bytes, bytes.size() - 16, 1);
    expectRefused(bytes, "stored table");
  }

  // Every byte replaced: loads or raises an engine error.
  for (size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> bytes = good;
    bytes[at] ^= 0xFF;
    TBRNCatalog catalog(&f.Config);
    try {
      LoadBytes(catalog, bytes);
    } catch (const EBRNException& e) {
      EXPECT_GE(e.ErrorCode, 100) << "byte " << at;
    }
    EXPECT_NE(catalog.DefaultSchema, nullptr);
  }
}

TEST(Catalog, ChangesOfObjectsReachTheCatalogUnlessTemporary) {
  CatalogFixture f;
  CatalogTable* table = f.AddTable("T");
  TBRNColumn* column = AddColumn(*table->Columns, "A", dtInteger);
  f.Catalog->Modified = false;
  column->SetNotNull(true);
  EXPECT_TRUE(f.Catalog->Modified);

  CatalogTable* temporary = f.AddTable("Tmp");
  TBRNColumn* tempColumn = AddColumn(*temporary->Columns, "A", dtInteger);
  temporary->SetTemporary(true);
  f.Catalog->Modified = false;
  tempColumn->SetNotNull(true);
  EXPECT_FALSE(f.Catalog->Modified);

  // Transient and Temporary pass on to the Default schema.
  f.Catalog->SetTemporary(true);
  EXPECT_TRUE(f.Catalog->DefaultSchema->Temporary);
  f.Catalog->SetTemporary(false);
  EXPECT_FALSE(f.Catalog->DefaultSchema->Temporary);
}

TEST(Catalog, AnswersForTheContainerAndTheConfiguration) {
  CatalogFixture f;
  CatalogTable* table = f.AddTable("T");
  std::vector<TBRNConfigObjects*> holders;
  f.Catalog->CollectAuthorizationHolders(holders);
  EXPECT_NE(std::find(holders.begin(), holders.end(), f.Catalog->DefaultSchema->BaseTables.get()),
            holders.end());
  EXPECT_EQ(f.Catalog->GetCatalogObjectCount(), f.Catalog->GetObjectCount());
  EXPECT_GT(f.Catalog->GetCatalogMemorySize(), 0);

  std::vector<TBRNPrivilegedConfigObject*> tables;
  f.Catalog->CollectTransactionTables(tables);
  EXPECT_TRUE(tables.empty());
  table->SetInTransaction();
  f.Catalog->CollectTransactionTables(tables);
  EXPECT_EQ(tables, std::vector<TBRNPrivilegedConfigObject*>{table});

  // Users come from the configuration: the table's owner is its System user.
  EXPECT_EQ(f.Catalog->GetSystemUser(), f.Config.SystemUser);
  EXPECT_EQ(table->GetOwner(), f.Config.SystemUser);
  // A catalog's cached links follow the configuration's epoch.
  const uint64_t epoch = f.Catalog->GetChangeEpoch();
  f.Config.AdvanceChangeEpoch();
  EXPECT_NE(f.Catalog->GetChangeEpoch(), epoch);
}

}  // namespace
}  // namespace brn
