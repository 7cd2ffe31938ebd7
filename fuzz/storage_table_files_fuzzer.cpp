// Table files read from disk with hostile contents: a BLOB file, a
// published-updates log, a row file and an index file, each a valid header
// (made by the code) followed by the input's bytes as its blocks, with a few
// header bytes changed by the input. Each file is read the ways a session
// reads it, then verified with repair; a repaired file verifies clean (or,
// for the index file, leaves its indexes to be rebuilt).
//
// Input: byte 0 picks the file kind, then the header changes (see
// PlantBlocks), then the blocks. With BRN_FUZZ_SEEDS=<folder> in the
// environment the target first writes one seed per kind into that folder,
// from files it fills through the ordinary write paths.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/files/memory_file_manager.h"
#include "metadata/catalog/indexes.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/indexes/index_page_test_support.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage_fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

using brn::testing::KeyColumn;

namespace {

constexpr int32_t kChainBlockSize = 64;
constexpr int32_t kIndexPageSize = 256;
constexpr int32_t kMaxBlocks = 64;

enum Kind : uint8_t { kBlobs = 0, kUpdates = 1, kRows = 2, kIndexes = 3, kKinds = 4 };

// The table manager as the row file sees it: BLOB reads answer 16 zero
// bytes (as a BLOB file answers what its chain holds).
class RowsetHost : public TBRNRowsetHost {
 public:
  TBRNRowsetManager* Rows = nullptr;
  void ReadBlob(int32_t, int32_t, TBRNMemoryStream& stream, bool) override { stream.SetSize(16); }
  void WriteBlob(int32_t, int32_t& firstBlock, TBRNMemoryStream& stream, int32_t,
                 int32_t& storedLength) override {
    if (firstBlock == 0) firstBlock = 1;
    storedLength = int32_t(stream.GetSize());
  }
};

// Two indexes: a primary key on an integer and an ordinary index on a
// descending text and an integer.
class IndexHost : public TBRNIndexFileHost {
 public:
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> Layouts;
  IndexHost() {
    Layouts.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "PK", kIndexPrimaryKey, std::vector<TBRNIndexKeyColumn>{KeyColumn(dtInteger)}));
    Layouts.push_back(std::make_unique<TBRNIndexKeyLayout>(
        "BY_NAME", kIndexOrdinary,
        std::vector<TBRNIndexKeyColumn>{KeyColumn(dtChar, 6, true), KeyColumn(dtInteger)}));
  }
  int32_t GetIndexCount() override { return int32_t(Layouts.size()); }
  const TBRNIndexKeyLayout* GetIndexLayout(int32_t i) override { return Layouts[size_t(i)].get(); }
  // Whether a verification left an index to be rebuilt (the repair of a
  // broken tree or free list is the rebuild, which recreates the file).
  bool RebuildNeeded = false;
  void SetRebuildNeeded(int32_t, bool value) override { RebuildNeeded = RebuildNeeded || value; }
  int32_t GetIndexPageSize() const override { return kIndexPageSize; }
  int32_t GetMaxIndexBufferSize() const override { return 1 << 16; }
  bool IsSystemTable() const override { return false; }
  int32_t GetRowFileLastBlock() override { return 1000; }
};

// The row table's columns and the evaluator of its computed column.
struct RowTable {
  ColumnList List;
  RowEvaluator Evaluator;
  TBRNEvaluationContext Context;
  RowTable() { AddRowColumns(List); }
  TBRNRowsetLayout Layout() {
    TBRNRowsetLayout layout;
    layout.Columns = &List.Columns;
    layout.RowSize = (List.Columns.RowSize + 7) / 8 * 8;
    layout.MaxRowBufferSize = 1 << 16;
    return layout;
  }
};

RowTable& Rows() {
  static RowTable table;
  return table;
}
IndexHost& Indexes() {
  static IndexHost host;
  return host;
}

// One table file of a kind over its own in-memory files.
struct File {
  explicit File(Kind kind)
      : Host(kind == kBlobs     ? ".BRNBlb"
             : kind == kUpdates ? ".BRNPbl"
             : kind == kRows    ? ".BRNTbl"
                                : ".BRNIdx") {
    switch (kind) {
      case kBlobs:
        Manager = std::make_unique<TBRNBlobManager>(&Host, &Files, kChainBlockSize, 65536);
        break;
      case kUpdates:
        Manager =
            std::make_unique<TBRNPublishedUpdatesManager>(&Host, &Files, kChainBlockSize, 65536);
        break;
      case kRows:
        Manager = std::make_unique<TBRNRowsetManager>(&Host, &Files, Rows().Layout(), &Rowset);
        Rowset.Rows = static_cast<TBRNRowsetManager*>(Manager.get());
        break;
      default:
        Manager = std::make_unique<TBRNIndexManager>(&Host, &Indexes(), &Files);
        break;
    }
  }
  ~File() {
    Try([&] { Manager->Close(); });
  }
  TBRNMemoryFileManager Files{nullptr};
  FuzzHost Host;
  RowsetHost Rowset;
  std::unique_ptr<TBRNTableFileManager> Manager;
};

void ReadBlobs(TBRNBlobManager& blobs) {
  for (int32_t n = 1; n <= std::min(blobs.GetBlockCount(), 8); ++n) {
    int32_t owner = 0;
    if (!Try([&] {
          TBRNBlobBlock* block = blobs.GetBlock(n, false, 0);
          owner = block->Owner;
          blobs.ReleaseBlock(block);
        })) {
      continue;
    }
    TBRNMemoryStream stream;
    Try([&] { blobs.ReadBlob(owner, n, stream); });
  }
}

void ReadLog(TBRNPublishedUpdatesManager& log) {
  int32_t block = 1;
  for (int32_t entries = 0; entries <= log.GetBlockCount(); ++entries) {
    TBRNMemoryStream stream;
    int32_t before = block;
    if (!Try([&] { log.ReadEntry(block, stream); }) || stream.GetSize() == 0) return;
    if (block <= before) Fail("a log entry does not move the reader forward");
  }
  Fail("more log entries than blocks");
}

void WalkRows(TBRNRowsetManager& rows) {
  TBRNRowsetNavigator navigator(&rows);
  navigator.GetCurrentValues().Evaluator = &Rows().Evaluator;
  navigator.GetCurrentValues().Context = &Rows().Context;
  bool restart = false;
  int32_t steps = 0;
  Try([&] {
    for (bool more = navigator.First(restart); more && steps <= rows.GetBlockCount() + 1;
         more = navigator.Next(restart), ++steps) {
      (void)navigator.GetCurrentRow()->Status;
      ReadEveryValue(navigator.GetCurrentValues());
    }
  });
  if (steps > rows.GetBlockCount() + 1) Fail("a row walk visits more rows than blocks");
  Try([&] {
    for (int32_t i = 0; i < 3 && (i == 0 ? navigator.Last(restart) : navigator.Prior(restart));
         ++i) {
      ReadEveryValue(navigator.GetCurrentValues());
    }
  });
  Try([&] {
    (void)navigator.GotoRowNumber(rows.GetBlockCount() / 2 + 1, kDirectionForward, restart);
  });
}

void WalkIndexes(TBRNIndexManager& file, Input& in) {
  for (int32_t i = 0; i < Indexes().GetIndexCount(); ++i) {
    TBRNIndexNavigator navigator(&file, i);
    bool restart = false;
    int32_t steps = 0;
    const int32_t limit = kMaxBlocks * kIndexPageSize;
    Try([&] {
      for (bool more = navigator.First(restart); more && steps <= limit;
           more = navigator.Next(restart), ++steps) {
        ReadEveryValue(const_cast<TBRNIndexKey&>(navigator.GetCurrentKey()));
      }
    });
    if (steps > limit) Fail("an index walk never ends");
    Try([&] {
      steps = 0;
      for (bool more = navigator.Last(restart); more && steps <= limit;
           more = navigator.Prior(restart), ++steps) {
      }
    });
    if (steps > limit) Fail("a backward index walk never ends");
    TBRNContainedIndexKeyValues key(*Indexes().Layouts[size_t(i)]);
    for (int32_t c = 0; c < key.GetCount(); ++c) {
      uint32_t word = in.Word32();
      if (key.GetItem(c)->GetDataType() == dtChar) {
        key.GetItem(c)->SetAsString(std::to_string(word % 1000));
      } else {
        key.GetItem(c)->SetAsInteger(int32_t(word % 1000));
      }
    }
    key.SetRowID(int32_t(in.Word32() % 1000));
    Try([&] { (void)navigator.FindKey(key, 0, restart, false); });
    Try([&] { (void)navigator.CountKeysBelow(key, 0, false, restart); });
    Try([&] { (void)navigator.GotoSequenceNumber(int32_t(in.Byte())); });
    Try([&] { (void)navigator.GetRowCount(); });
  }
}

// Keys the seeds' index holds and the fuzzer inserts after a repair.
void InsertKeys(TBRNIndexManager& file, int32_t first, int32_t count) {
  for (int32_t i = 0; i < Indexes().GetIndexCount(); ++i) {
    TBRNIndexNavigator navigator(&file, i);
    TBRNContainedIndexKeyValues key(*Indexes().Layouts[size_t(i)]);
    for (int32_t row = first; row < first + count; ++row) {
      key.GetItem(0)->SetAsString(std::to_string(row * 7 % 100));
      if (key.GetCount() > 1) key.GetItem(1)->SetAsInteger(row);
      key.SetRowID(row);
      navigator.InsertKey(key, row);
    }
  }
}

// Verification with repair, then again: a repaired file must verify clean
// (an index file may instead leave its indexes to be rebuilt).
void VerifyAndRepair(TBRNTableFileManager& file, FuzzHost& host) {
  bool errors = false;
  Indexes().RebuildNeeded = false;
  if (!Try([&] { file.Verify(errors, true); })) return;
  if (!Try([&] { file.Flush(false); })) return;
  if (Indexes().RebuildNeeded) return;
  errors = false;
  host.Log.clear();
  Try([&] {
    file.Verify(errors, false);
    if (errors) Fail("a repaired file still has findings", host.Log.empty() ? "" : host.Log[0]);
  });
}

// The bytes of the blocks of a file as written.
std::string BlockBytes(TBRNTableFileManager& manager) {
  auto stream = manager.GetFileManager()->OpenFile(manager.GetFileName(), false, true, false);
  int64_t size = stream->GetSize() - manager.GetHeaderAreaSize();
  std::string bytes(size_t(std::max<int64_t>(size, 0)), '\0');
  stream->Seek(0, manager.GetHeaderAreaSize());
  if (!bytes.empty()) stream->Read(bytes.data(), int32_t(bytes.size()));
  return bytes;
}

// Fills a fresh file of kind through its write paths (the seeds' contents).
void FillFile(Kind kind, File& file) {
  switch (kind) {
    case kBlobs: {
      auto& blobs = static_cast<TBRNBlobManager&>(*file.Manager);
      std::vector<uint8_t> data(150);
      for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
      int32_t first = 0;
      blobs.WriteBlob(7, first, data.data(), 150);
      first = 0;
      blobs.WriteBlob(8, first, data.data(), 20);
      break;
    }
    case kUpdates: {
      auto& log = static_cast<TBRNPublishedUpdatesManager&>(*file.Manager);
      std::vector<uint8_t> data(100, 0x5A);
      log.AppendEntry(data.data(), 100);
      log.AppendEntry(data.data(), 10);
      log.SetLastUpdateTimestamp(63000000000000);
      break;
    }
    case kRows: {
      auto& rows = static_cast<TBRNRowsetManager&>(*file.Manager);
      TBRNRowsetNavigator navigator(&rows);
      for (int32_t id = 1; id <= 3; ++id) {
        auto buffer = rows.NewRowBuffer();
        TBRNRowsetRowValues values(rows.GetColumns(), &file.Rowset);
        values.Evaluator = &Rows().Evaluator;
        values.Context = &Rows().Context;
        values.SetRow(buffer.get());
        values.SetAllNull();
        values.GetItem(0)->SetAsInteger(id);
        values.GetItem(1)->SetAsString("row " + std::to_string(id));
        values.GetItem(2)->SetAsString("AB");
        values.GetItem(5)->SetAsString("12.5");
        int32_t number = 0, counter = 0;
        navigator.InsertRow(rows.NextVersion(), values, number, counter);
      }
      int32_t counter = 0;
      navigator.DeleteRow(2, counter);
      break;
    }
    default:
      InsertKeys(static_cast<TBRNIndexManager&>(*file.Manager), 1, 40);
      break;
  }
}

void WriteSeeds(const std::string& folder) {
  static const char* const kNames[] = {"blob_file", "published_updates", "row_file", "index_file"};
  for (uint8_t kind = 0; kind < kKinds; ++kind) {
    File file{Kind(kind)};
    file.Manager->OpenOrCreate();
    FillFile(Kind(kind), file);
    file.Manager->Close();
    std::string seed(1, char(kind));
    seed += '\0';  // no header changes
    seed += BlockBytes(*file.Manager);
    std::ofstream(folder + "/" + kNames[kind], std::ios::binary) << seed;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("BRN_FUZZ_SEEDS")) WriteSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Kind kind = Kind(in.Byte() % kKinds);
  File file(kind);
  file.Manager->OpenOrCreate();
  file.Manager->Close();
  PlantBlocks(*file.Manager, in, kMaxBlocks);
  if (!Try([&] { file.Manager->Open(); })) return 0;

  switch (kind) {
    case kBlobs: {
      auto& blobs = static_cast<TBRNBlobManager&>(*file.Manager);
      ReadBlobs(blobs);
      bool errors = false;
      Try([&] { blobs.VerifyContents(errors, false); });
      VerifyAndRepair(blobs, file.Host);
      ReadBlobs(blobs);
      break;
    }
    case kUpdates: {
      auto& log = static_cast<TBRNPublishedUpdatesManager&>(*file.Manager);
      ReadLog(log);
      VerifyAndRepair(log, file.Host);
      ReadLog(log);
      break;
    }
    case kRows: {
      auto& rows = static_cast<TBRNRowsetManager&>(*file.Manager);
      WalkRows(rows);
      VerifyAndRepair(rows, file.Host);
      WalkRows(rows);
      break;
    }
    default: {
      auto& indexes = static_cast<TBRNIndexManager&>(*file.Manager);
      // Search keys from the first bytes of the input.
      Input keys(data, std::min<size_t>(size, 16));
      WalkIndexes(indexes, keys);
      VerifyAndRepair(indexes, file.Host);
      WalkIndexes(indexes, keys);
      Try([&] { InsertKeys(indexes, 900, 3); });
      break;
    }
  }
  return 0;
}
