#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/collation.h"
#include "storage/files/table_file_test_support.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage/indexes/index_page_test_support.h"
#include "storage/indexes/index_pages.h"

namespace brn::testing {

// The indexes of a table as key layouts, with the table's storage settings
// in fields.
class FakeIndexHost : public TBRNIndexFileHost {
 public:
  std::vector<std::unique_ptr<TBRNIndexKeyLayout>> Layouts;
  std::vector<bool> Rebuild;
  int32_t PageSize = 4096;
  int32_t MaxBufferSize = 1 << 20;
  bool SystemTable = false;
  int32_t RowFileLastBlock = INT_MAX - 1;

  TBRNIndexKeyLayout* Add(const std::string& name, int32_t type,
                          std::vector<TBRNIndexKeyColumn> columns) {
    Layouts.push_back(std::make_unique<TBRNIndexKeyLayout>(name, type, std::move(columns)));
    Rebuild.push_back(false);
    return Layouts.back().get();
  }
  void Remove(int32_t i) {
    Layouts.erase(Layouts.begin() + i);
    Rebuild.erase(Rebuild.begin() + i);
  }

  int32_t GetIndexCount() override { return int32_t(Layouts.size()); }
  const TBRNIndexKeyLayout* GetIndexLayout(int32_t i) override { return Layouts[size_t(i)].get(); }
  void SetRebuildNeeded(int32_t i, bool value) override { Rebuild[size_t(i)] = value; }
  int32_t GetIndexPageSize() const override { return PageSize; }
  int32_t GetMaxIndexBufferSize() const override { return MaxBufferSize; }
  bool IsSystemTable() const override { return SystemTable; }
  int32_t GetRowFileLastBlock() override { return RowFileLastBlock; }
};

// An index file over a fake table, registered with the host so that a
// cache miss notices another writer's flush.
class TestIndexFile : public TBRNIndexManager {
 public:
  TestIndexFile(FakeHost* host, FakeIndexHost* indexHost, TBRNFileManager* files)
      : TBRNIndexManager(host, indexHost, files) {
    host->Files.push_back(this);
  }
  ~TestIndexFile() override {
    try {
      Close();
    } catch (...) {
    }
    auto* host = static_cast<FakeHost*>(GetHost());
    std::erase(host->Files, this);
  }
  using TBRNIndexManager::GetHeaderRecordSize;
};

// One key of an index: its values and its row ID (the row number doubles as
// the row ID in these tests).
class TestKey {
 public:
  explicit TestKey(const TBRNIndexKeyLayout& layout) : values_(layout) {}
  TestKey& Int(int32_t value, int32_t row = 0) {
    values_.GetItem(0)->SetAsInteger(value);
    values_.SetRowID(row);
    return *this;
  }
  TestKey& Text(const std::string& value, int32_t row = 0) {
    values_.GetItem(0)->SetAsString(value);
    values_.SetRowID(row);
    return *this;
  }
  const TBRNContainedIndexKeyValues& Get() const { return values_; }
  TBRNContainedIndexKeyValues& Get() { return values_; }

 private:
  TBRNContainedIndexKeyValues values_;
};

// The pages on the free list, following the links (at most the file's page
// count, so that a loop ends).
inline int32_t FreeListLength(TBRNIndexManager& file) {
  int32_t count = 0;
  for (int32_t n = file.FreeListHead; n != 0 && count <= file.GetBlockCount(); ++count) {
    bool restart = false;
    TBRNTableFileBuffer* buffer = file.GetBuffer(n, false, 0, 0, restart);
    EXPECT_NE(buffer, nullptr);
    if (buffer == nullptr) break;
    n = buffer->NextLink;
    file.ReleaseBuffer(buffer);
  }
  return count;
}

// Pages of the file's cache that someone holds pinned.
inline int32_t PinnedPages(TBRNIndexManager& file) {
  int32_t pinned = 0;
  for (int32_t n = 1; n < file.NextBlock; ++n) {
    TBRNTableFileBuffer* buffer = file.FindBuffer(n);
    if (buffer != nullptr && buffer->PinCount > 0) ++pinned;
  }
  return pinned + file.GetDeadCount();
}

}  // namespace brn::testing
