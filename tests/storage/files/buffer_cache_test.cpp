#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/memory_file_manager.h"
#include "storage/files/buffer_cache.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

// The cache against a plain model: pins, changes, releases, reads with and
// without read-ahead, appends, holds, flushes and closes in random order on
// small caches, each block's expected bytes kept in a map. Every read is
// checked, and after each run the file is reopened and every block read
// back. A shared-mode close drops what was not flushed, so the model keeps
// the flushed state beside the current one.
class CacheModel {
 public:
  CacheModel(uint32_t seed, int32_t capacity, bool exclusive)
      : random_(seed), seed_(seed), capacity_(capacity), exclusive_(exclusive) {}

  void Run(int32_t steps) {
    host_.ExclusiveLock = exclusive_;
    open(true);
    for (int32_t step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      switch (pick(0, 9)) {
        case 0:
        case 1:
          pin(pick(1, blockCount_ + 1));
          break;
        case 2:
          if (!pinned_.empty()) change(pinned_[size_t(pick(0, int32_t(pinned_.size()) - 1))]);
          break;
        case 3:
        case 4:
          if (!pinned_.empty()) unpin(size_t(pick(0, int32_t(pinned_.size()) - 1)));
          break;
        case 5:
          // Shared mode reads whole runs only inside the file's flushed end.
          if (blockCount_ > 0 && (exclusive_ || blockCount_ == flushedCount_)) {
            read(pick(1, blockCount_), uint8_t(pick(0, 2)));
          }
          break;
        case 6:
          hold();
          break;
        case 7:
          flush();
          break;
        case 8:
          if (pick(0, 4) == 0) reopen();
          break;
        default:
          if (blockCount_ > 0) read(pick(1, blockCount_), 0);
          break;
      }
    }
    closeAll();
    host_.ExclusiveLock = false;
    open(false);
    checkEveryBlock();
    file_.reset();
  }

 private:
  using Contents = std::map<int32_t, std::vector<uint8_t>>;

  int32_t pick(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random_);
  }

  void open(bool create) {
    file_ = std::make_unique<TestBlockFile>(&host_, &files_, kBlockSize, capacity_);
    // Half of the runs read the neighbours of a missed block with it.
    file_->MissRunBytes = seed_ % 2 == 0 ? 4 * kBlockSize : 0;
    if (create) {
      file_->OpenOrCreate();
    } else {
      file_->Open();
    }
    ASSERT_EQ(file_->NextBlock, blockCount_ + 1);
  }

  void expectContents(const TBRNTableFileBuffer* buffer) {
    const std::vector<uint8_t>& expected = current_[buffer->BlockNumber];
    std::vector<uint8_t> actual(buffer->Data() + 4, buffer->Data() + kBlockSize);
    EXPECT_EQ(actual, expected) << "block " << buffer->BlockNumber;
  }

  // Pins a block, or appends one past the end.
  void pin(int32_t n) {
    TBRNTableFileBuffer* buffer = nullptr;
    if (n > blockCount_) {
      buffer = file_->Allocate();
      ++blockCount_;
      current_[blockCount_].assign(kBlockSize - 4, 0);
    } else {
      buffer = file_->Get(n);
    }
    ASSERT_NE(buffer, nullptr);
    expectContents(buffer);
    pinned_.push_back(buffer);
  }

  void change(TBRNTableFileBuffer* buffer) {
    int32_t at = pick(4, kBlockSize - 1);
    auto value = uint8_t(pick(0, 255));
    buffer->Data()[at] = value;
    buffer->MarkModified();
    current_[buffer->BlockNumber][size_t(at - 4)] = value;
  }

  void unpin(size_t index) {
    file_->ReleaseBuffer(pinned_[index]);
    pinned_.erase(pinned_.begin() + std::ptrdiff_t(index));
  }

  void read(int32_t n, uint8_t direction) {
    bool restart = false;
    TBRNTableFileBuffer* buffer = file_->GetBuffer(n, direction != 0, direction, 4, restart);
    ASSERT_NE(buffer, nullptr);
    EXPECT_FALSE(restart);
    expectContents(buffer);
    file_->ReleaseBuffer(buffer);
  }

  // Holds a pinned buffer until it is unheld at random later, in exclusive
  // mode, where holds keep the cache from flushing for room.
  void hold() {
    if (!held_.empty() && pick(0, 1) == 0) {
      size_t index = size_t(pick(0, int32_t(held_.size()) - 1));
      file_->UnholdBuffer(held_[index]);
      held_.erase(held_.begin() + std::ptrdiff_t(index));
    } else if (exclusive_ && !pinned_.empty()) {
      TBRNTableFileBuffer* buffer = pinned_[size_t(pick(0, int32_t(pinned_.size()) - 1))];
      file_->HoldBuffer(buffer);
      held_.push_back(buffer);
    }
  }

  // A shared-mode flush finds every listed block released, as its callers
  // guarantee; in exclusive mode pinned blocks wait for the next flush.
  void flush() {
    if (!exclusive_ && !pinned_.empty()) return;
    file_->Flush(false);
    if (pinned_.empty()) {
      flushed_ = current_;
      flushedCount_ = blockCount_;
    }
  }

  void closeAll() {
    while (!pinned_.empty()) unpin(pinned_.size() - 1);
    for (TBRNTableFileBuffer* buffer : held_) file_->UnholdBuffer(buffer);
    held_.clear();
    file_->Close();
    if (exclusive_) {
      flushed_ = current_;
      flushedCount_ = blockCount_;
    } else {
      current_ = flushed_;
      blockCount_ = flushedCount_;
    }
    file_.reset();
  }

  void reopen() {
    closeAll();
    open(false);
  }

  void checkEveryBlock() {
    for (int32_t n = 1; n <= blockCount_; ++n) {
      TBRNTableFileBuffer* buffer = file_->Get(n);
      ASSERT_NE(buffer, nullptr);
      expectContents(buffer);
      file_->ReleaseBuffer(buffer);
    }
  }

  static constexpr int32_t kBlockSize = 32;
  std::mt19937 random_;
  uint32_t seed_;
  int32_t capacity_;
  bool exclusive_;
  TBRNMemoryFileManager files_{nullptr};
  FakeHost host_{"/mem/", "Model"};
  std::unique_ptr<TestBlockFile> file_;
  std::vector<TBRNTableFileBuffer*> pinned_;
  std::vector<TBRNTableFileBuffer*> held_;
  Contents current_;
  Contents flushed_;
  int32_t blockCount_ = 0;
  int32_t flushedCount_ = 0;
};

TEST(BufferCacheModel, RandomOperationsKeepEveryBlocksLatestBytes) {
  for (bool exclusive : {true, false}) {
    for (int32_t capacity : {2, 4, 8, 16}) {
      for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE((exclusive ? "exclusive" : "shared") + std::string(", capacity ") +
                     std::to_string(capacity) + ", seed " + std::to_string(seed));
        CacheModel(seed, capacity, exclusive).Run(300);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace brn::testing

namespace brn::testing {
namespace {

// The block table grows while a transaction fills the cache and shrinks as
// the blocks leave; every remaining block stays findable through both.
TEST(BlockTable, FindsEveryBlockWhileGrowingAndShrinking) {
  constexpr int32_t kBlocks = 50000;
  std::vector<std::unique_ptr<TBRNTableFileBuffer>> buffers;
  TBRNBlockTable table;
  for (int32_t n = 1; n <= kBlocks; ++n) {
    buffers.push_back(std::make_unique<TBRNTableFileBuffer>(nullptr));
    buffers.back()->BlockNumber = n;
    ASSERT_TRUE(table.Insert(buffers.back().get()));
  }
  EXPECT_FALSE(table.Insert(buffers[7].get()));
  std::vector<int32_t> order(kBlocks);
  for (int32_t i = 0; i < kBlocks; ++i) order[size_t(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  std::vector<bool> present(kBlocks, true);
  for (int32_t step = 0; step < kBlocks; ++step) {
    int32_t gone = order[size_t(step)];
    ASSERT_TRUE(table.Erase(buffers[size_t(gone)].get()));
    present[size_t(gone)] = false;
    // A full check at a few points, the erased block at every step.
    ASSERT_EQ(table.Find(gone + 1), nullptr);
    if (step % 5000 == 0 || kBlocks - step < 40) {
      for (int32_t i = 0; i < kBlocks; ++i) {
        ASSERT_EQ(table.Find(i + 1), present[size_t(i)] ? buffers[size_t(i)].get() : nullptr)
            << "block " << i + 1 << " after " << step + 1 << " erasures";
      }
    }
  }
  EXPECT_EQ(table.Count(), 0);
  EXPECT_FALSE(table.Erase(buffers[0].get()));
}

// Consecutive blocks share adjacent slots: the number shapes that could
// crowd one probe run (a window far above the slot count, strides that
// land every block on the same place of its group, groups interleaved with
// gaps) stay findable, absent neighbours stay absent, through growth and
// shrinking.
TEST(BlockTable, FindsBlocksOfEveryNumberShape) {
  struct Shape {
    const char* Name;
    int32_t First;
    int32_t Stride;
    int32_t Count;
  };
  const Shape shapes[] = {
      {"window far above the slots", 1000001, 1, 20000},
      {"stride of one group", 5, 16, 6000},
      {"stride of a power of two", 16, 4096, 3000},
      {"every other group", 1, 32, 8000},
      {"top of the range", 2147483647 - 5000 * 17, 17, 5000},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.Name);
    std::vector<std::unique_ptr<TBRNTableFileBuffer>> buffers;
    TBRNBlockTable table;
    for (int32_t i = 0; i < shape.Count; ++i) {
      buffers.push_back(std::make_unique<TBRNTableFileBuffer>(nullptr));
      buffers.back()->BlockNumber = shape.First + i * shape.Stride;
      ASSERT_TRUE(table.Insert(buffers.back().get()));
    }
    auto check = [&](int32_t from) {
      for (int32_t i = from; i < shape.Count; i += 7) {
        const int32_t n = buffers[size_t(i)]->BlockNumber;
        ASSERT_EQ(table.Find(n), buffers[size_t(i)].get()) << "block " << n;
        if (shape.Stride > 1) {
          ASSERT_EQ(table.Find(n + 1), nullptr) << "block " << n + 1;
        }
      }
    };
    check(0);
    // All but the last eighth go in random order, so that the array
    // shrinks; the rest stays findable.
    const int32_t kept = shape.Count / 8;
    std::vector<size_t> order(size_t(shape.Count - kept));
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    for (size_t gone : order) {
      ASSERT_TRUE(table.Erase(buffers[gone].get()));
      ASSERT_EQ(table.Find(buffers[gone]->BlockNumber), nullptr);
    }
    check(shape.Count - kept);
    EXPECT_EQ(table.Count(), kept);
  }
}

}  // namespace
}  // namespace brn::testing
