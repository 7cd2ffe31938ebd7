#include "storage/files/buffer_cache.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <stdexcept>
#include <cstring>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_guards.h"

namespace brn {

// ---- TBRNTableFileBuffer ----

TBRNTableFileBuffer::TBRNTableFileBuffer(TBRNTableFileManager* owner) : Owner(owner) {}

void TBRNTableFileBuffer::Assign(const TBRNTableFileBuffer& source) {
  Modified = source.Modified;
  BlockNumber = source.BlockNumber;
  NextLink = source.NextLink;
  BlockStream.SetSize(source.BlockStream.GetSize());
  if (source.BlockStream.GetSize() > 0) {
    std::memcpy(BlockStream.GetMemory(), source.BlockStream.GetMemory(),
                size_t(source.BlockStream.GetSize()));
  }
}

bool TBRNTableFileBuffer::IsSameBlock(const TBRNTableFileBuffer& other) const {
  return BlockNumber == other.BlockNumber && NextLink == other.NextLink;
}

void TBRNTableFileBuffer::WriteHeader() {
  BlockStream.SetPosition(0);
  BlockStream.WriteInteger(NextLink);
}

void TBRNTableFileBuffer::ReadHeader() {
  BlockStream.SetPosition(0);
  NextLink = BlockStream.ReadInteger();
}

void TBRNTableFileBuffer::Reset() {
  NextLink = 0;
  SkipRefresh = false;
  Queued = false;
  Modified = false;
  HeaderRead = true;
}

void TBRNTableFileBuffer::FlushToStream(TBRNMemoryStream& target) {
  EnsureHeaderRead();
  WriteHeader();
  target.Write(BlockStream.GetMemory(), int32_t(BlockStream.GetSize()));
  Modified = false;
  Queued = false;
}

// ---- TBRNBlockTable ----

namespace {

constexpr uint32_t kMinSlots = 16;

}  // namespace

TBRNBlockTable::TBRNBlockTable() {
  resize(kMinSlots);
}

void TBRNBlockTable::resize(uint32_t slotCount) {
  static_assert(kMinSlots >= kGroupSlots, "a group of blocks must fit in the smallest array");
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(slotCount, Slot{});
  mask_ = slotCount - 1;
  shift_ = 32 - uint32_t(std::countr_zero(slotCount));
  for (const Slot& slot : old) {
    if (slot.BlockNumber == 0) continue;
    uint32_t i = slotOf(slot.BlockNumber);
    while (slots_[i].BlockNumber != 0) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

bool TBRNBlockTable::Insert(TBRNTableFileBuffer* buffer) {
  if (buffer->BlockNumber <= 0) throw std::logic_error("block number below 1 in the cache");
  if (uint64_t(count_ + 1) * 2 > slots_.size()) resize(uint32_t(slots_.size() * 2));
  uint32_t i = slotOf(buffer->BlockNumber);
  for (;; i = (i + 1) & mask_) {
    if (slots_[i].BlockNumber == buffer->BlockNumber) return false;
    if (slots_[i].BlockNumber == 0) break;
  }
  slots_[i] = Slot{buffer->BlockNumber, buffer};
  ++count_;
  return true;
}

bool TBRNBlockTable::Erase(const TBRNTableFileBuffer* buffer) {
  uint32_t i = slotOf(buffer->BlockNumber);
  for (;; i = (i + 1) & mask_) {
    if (slots_[i].BlockNumber == 0) return false;
    if (slots_[i].BlockNumber == buffer->BlockNumber) break;
  }
  if (slots_[i].Buffer != buffer) return false;
  // Backward shift: every entry of the probe run after the hole that may
  // live in the hole moves into it, so that no run is ever broken.
  uint32_t hole = i;
  for (uint32_t j = (hole + 1) & mask_; slots_[j].BlockNumber != 0; j = (j + 1) & mask_) {
    uint32_t home = slotOf(slots_[j].BlockNumber);
    // The entry at j stays when its home lies cyclically in (hole, j].
    bool stays = hole < j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (!stays) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{};
  --count_;
  // A transaction can fill the cache with a million blocks; once they are
  // gone, a sparse table would make every lookup a cache miss.
  if (slots_.size() > kMinSlots && uint64_t(count_) * 8 < slots_.size()) {
    resize(uint32_t(slots_.size() / 2));
  }
  return true;
}

void TBRNBlockTable::Clear() {
  std::vector<Slot>().swap(slots_);
  count_ = 0;
  resize(kMinSlots);
}

// ---- The cache of TBRNTableFileManager ----

void TBRNTableFileManager::addToTable(TBRNTableFileBuffer* buffer) {
  if (!blocks_.Insert(buffer)) {
    RaiseCorrupt(FormatText("Cannot find %s during retrieval from cache", {GetBlockKindName()}));
  }
}

void TBRNTableFileManager::removeFromTable(TBRNTableFileBuffer* buffer) {
  if (!blocks_.Erase(buffer)) {
    RaiseCorrupt(FormatText("Cannot find %s during ejection from cache", {GetBlockKindName()}));
  }
}

std::unique_ptr<TBRNTableFileBuffer> TBRNTableFileManager::unlistBuffer(
    TBRNTableFileBuffer* buffer) {
  size_t at = size_t(buffer->CacheIndex);
  if (at >= cached_.size() || cached_[at].get() != buffer) {
    RaiseCorrupt(FormatText("Cannot find %s during ejection from cache", {GetBlockKindName()}));
  }
  std::unique_ptr<TBRNTableFileBuffer> owned = std::move(cached_[at]);
  if (at + 1 != cached_.size()) {
    cached_[at] = std::move(cached_.back());
    cached_[at]->CacheIndex = int32_t(at);
  }
  cached_.pop_back();
  owned->CacheIndex = -1;
  return owned;
}

bool TBRNTableFileManager::isEvictable(const TBRNTableFileBuffer* buffer) {
  return !buffer->Modified && buffer->PinCount == 0 && buffer->HoldCount == 0;
}

TBRNTableFileBuffer* TBRNTableFileManager::findEvictable() {
  // Inside an operation every block it pins is held, so a round that found
  // nothing stays fruitless until a hold ends: the cache grows without
  // sweeping again, else a long operation would cost a sweep per block.
  if (operationDepth_ > 0 && sweptEmpty_) return nullptr;
  // The clock: a buffer used since the hand last passed it loses its mark
  // and is passed once more; two rounds visit every buffer unmarked.
  size_t count = cached_.size();
  for (size_t step = 0; step < 2 * count; ++step) {
    if (clockHand_ >= count) clockHand_ = 0;
    TBRNTableFileBuffer* buffer = cached_[clockHand_++].get();
    if (!isEvictable(buffer)) continue;
    if (buffer->Referenced) {
      buffer->Referenced = false;
      continue;
    }
    return buffer;
  }
  sweptEmpty_ = operationDepth_ > 0;
  return nullptr;
}

TBRNTableFileBuffer* TBRNTableFileManager::newBuffer(int32_t blockNumber) {
  std::unique_ptr<TBRNTableFileBuffer> buffer(CreateBuffer());
  buffer->BlockStream.SetSize(GetBufferSize());
  buffer->Reset();
  buffer->BlockNumber = blockNumber;
  buffer->Referenced = true;
  buffer->CacheIndex = int32_t(cached_.size());
  cached_.push_back(std::move(buffer));
  return cached_.back().get();
}

TBRNTableFileBuffer* TBRNTableFileManager::reuseBuffer(int32_t blockNumber) {
  TBRNTableFileBuffer* victim = nullptr;
  if (access_ == TBRNTableFileAccess::Exclusive) {
    victim = findEvictable();
    // Never flush for room while an operation is open or holds blocks: its
    // half-done change would reach the disk. The cache grows instead. The
    // flush covers every file of the table.
    if (victim == nullptr && heldCount_ == 0 && operationDepth_ == 0) {
      Flush(false);
      victim = findEvictable();
    } else if (victim == nullptr) {
      roomDeferred_ = true;
    }
  } else if (capacity_ / 4 + int32_t(dirty_.size()) < GetBufferCount()) {
    victim = findEvictable();
  }
  if (victim == nullptr) return newBuffer(blockNumber);
  removeFromTable(victim);
  victim->Reset();
  victim->BlockNumber = blockNumber;
  victim->Referenced = true;
  return victim;
}

TBRNTableFileBuffer* TBRNTableFileManager::acquireBuffer(int32_t blockNumber) {
  if (GetBufferCount() < capacity_) return newBuffer(blockNumber);
  return reuseBuffer(blockNumber);
}

void TBRNTableFileManager::HoldBuffer(TBRNTableFileBuffer* buffer) {
  ++buffer->HoldCount;
  ++heldCount_;
}

void TBRNTableFileManager::UnholdBuffer(TBRNTableFileBuffer* buffer) {
  if (buffer->HoldCount == 0) return;
  --buffer->HoldCount;
  --heldCount_;
  sweptEmpty_ = false;
}

TBRNTableFileBuffer* TBRNTableFileManager::getBufferSlow(int32_t blockNumber, bool readAhead,
                                                         uint8_t direction,
                                                         int32_t readAheadCount, bool& restart) {
  if (stream_ == nullptr) throw std::logic_error("block access to a closed table file");
  if (blockNumber <= 0) {
    RaiseCorrupt(
        FormatText("Invalid %s number specified for retrieval from cache", {GetBlockKindName()}));
  }
  restart = false;
  if (blockNumber == NextBlock) {
    CheckFileFull();
    TBRNTableFileBuffer* buffer = acquireBuffer(blockNumber);
    std::memset(buffer->Data(), 0, size_t(buffer->GetSize()));
    ++buffer->PinCount;
    addToTable(buffer);
    AllocateBlockNumber();
    ++CacheHits;
    if (operationDepth_ > 0) notePinned(buffer);
    return buffer;
  }
  TBRNTableFileBuffer* buffer = blocks_.Find(blockNumber);
  if (buffer != nullptr) {
    buffer->Referenced = true;
    ++CacheHits;
  } else {
    // Going to the file: change detection and the read run inside the
    // table's Read bracket (nested in the caller's when it holds one).
    TableReadBracket bracket(host_);
    // Only a shared reader can meet another writer's change; in the other
    // modes the header held may carry changes not yet flushed, which a
    // re-read would lose.
    if (access_ == TBRNTableFileAccess::Shared && host_->TableHasChanged()) {
      restart = true;
      return nullptr;
    }
    // A number beyond the file comes from a damaged link: never read or
    // write outside the blocks the header accounts for.
    if (blockNumber > NextBlock) {
      RaiseCorrupt(
          FormatText("Invalid %s number specified for retrieval from cache", {GetBlockKindName()}));
    }
    int32_t count = 1;
    if (readAhead && readAheadCount > 1) {
      if (direction == 1) {
        count = std::min(readAheadCount, NextBlock - blockNumber);
      } else if (direction == 2) {
        count = std::min(readAheadCount, blockNumber);
      }
    }
    int32_t maxCount = std::max(1, (1 << 28) / std::max(1, GetBlockSize()));
    count = std::clamp(count, 1, maxCount);
    int32_t span = missSpan();
    if (count > 1) {
      int32_t first = direction == 2 ? blockNumber - count + 1 : blockNumber;
      this->readAhead(blockNumber, first, count, count, false);
    } else if (const uint8_t* kept = keptBlock(blockNumber)) {
      ++CacheMisses;
      installBlock(blockNumber, kept);
    } else if (span > 1) {
      // The aligned run of the kind's miss-run bytes around the block is
      // read and kept; only the block itself must be in the file.
      int32_t first = (blockNumber - 1) / span * span + 1;
      int32_t run = std::min(span, NextBlock - first);
      this->readAhead(blockNumber, first, run, blockNumber - first + 1, true);
    } else {
      this->readAhead(blockNumber, blockNumber, 1, 1, false);
    }
    buffer = blocks_.Find(blockNumber);
  }
  if (buffer == nullptr || buffer->BlockNumber != blockNumber) {
    RaiseCorrupt(FormatText("Cannot find %s during retrieval from cache", {GetBlockKindName()}));
  }
  ++buffer->PinCount;
  buffer->EnsureHeaderRead();
  if (operationDepth_ > 0) notePinned(buffer);
  return buffer;
}

int32_t TBRNTableFileManager::missSpan() const {
  return std::clamp(GetMissRunBytes() / std::max(1, GetBlockSize()), 1,
                    std::max(1, GetReadAheadCount()));
}

TBRNTableFileManager::KeptRun* TBRNTableFileManager::keptRunOf(int32_t blockNumber) {
  int32_t span = missSpan();
  if (span <= 1 || blockNumber <= 0) return nullptr;
  if (keptRuns_.empty()) keptRuns_.resize(kKeptRuns);
  return &keptRuns_[size_t((blockNumber - 1) / span % kKeptRuns)];
}

uint8_t* TBRNTableFileManager::keptBlock(int32_t blockNumber) {
  KeptRun* run = keptRunOf(blockNumber);
  if (run == nullptr || run->Count == 0 || blockNumber < run->First ||
      blockNumber >= run->First + run->Count) {
    return nullptr;
  }
  return run->Bytes.data() + size_t(blockNumber - run->First) * size_t(GetBlockSize());
}

void TBRNTableFileManager::dropKeptRuns() {
  for (KeptRun& run : keptRuns_) run.Count = 0;
}

void TBRNTableFileManager::installBlock(int32_t blockNumber, const uint8_t* bytes) {
  TBRNTableFileBuffer* buffer = acquireBuffer(blockNumber);
  addToTable(buffer);
  std::memcpy(buffer->Data(), bytes, size_t(GetBlockSize()));
  buffer->HeaderRead = false;
}

void TBRNTableFileManager::readAhead(int32_t blockNumber, int32_t first, int32_t count,
                                     int32_t needed, bool keep) {
  ++CacheMisses;
  int32_t blockSize = GetBlockSize();
  int32_t requested = count * blockSize;
  int64_t offset = int64_t(GetHeaderAreaSize()) + int64_t(first - 1) * blockSize;
  struct RunGuard {
    TBRNTableFileManager* self;
    ~RunGuard() {
      self->readAheadFirst_ = self->readAheadLast_ = 0;
      self->readAheadStream_.SetSize(0);
    }
  } guard{this};
  readAheadStream_.SetSize(requested);
  readAheadFirst_ = first;
  readAheadLast_ = first + count - 1;
  int32_t got = 0;
  {
    TableFileHold hold(stream_.get());
    stream_->Seek(0, offset);
    got = stream_->Read(readAheadStream_.GetMemory(), requested);
  }
  // Under the exclusive or transaction lock blocks appended in the cache
  // may not be on disk yet.
  bool partialAllowed = host_->HoldsExclusiveLock() || host_->HoldsTransactionLock();
  if (got == 0 || (!partialAllowed && got < needed * blockSize)) {
    // The file size only words the message: asked for on failure alone.
    int64_t fileSize = 0;
    {
      TableFileHold hold(stream_.get());
      fileSize = stream_->GetSize();
    }
    RaiseCorrupt(
        FormatText("Error reading %ss into cache - Size: %s Offset: %s Requested: %s Actual: %s",
                   {GetBlockKindName(), std::to_string(fileSize), std::to_string(offset),
                    std::to_string(requested), std::to_string(got)}));
  }
  ++DiskReads;
  BytesRead += got;
  int32_t whole = got / blockSize;
  if (host_->IsEncrypted()) {
    for (int32_t i = 0; i < whole; ++i) {
      readAheadStream_.SetPosition(int64_t(i) * blockSize);
      readAheadStream_.Decrypt(blockSize);
    }
  }
  if (keep) {
    // The neighbours stay as bytes until they are asked for: a random read
    // pays for one buffer, not for a run of them.
    KeptRun* run = keptRunOf(blockNumber);
    run->First = first;
    run->Count = whole;
    run->Bytes.assign(readAheadStream_.GetMemory(),
                      readAheadStream_.GetMemory() + int64_t(whole) * blockSize);
    if (blockNumber >= first + whole) return;
    installBlock(blockNumber, run->Bytes.data() + size_t(blockNumber - first) * size_t(blockSize));
    return;
  }
  auto distribute = [&](int32_t block) {
    const uint8_t* bytes = readAheadStream_.GetMemory() + int64_t(block - first) * blockSize;
    TBRNTableFileBuffer* buffer = blocks_.Find(block);
    if (buffer != nullptr) {
      buffer->Referenced = true;
      if (buffer->PinCount > 0 || buffer->Modified) return;
      if (buffer->SkipRefresh) {
        buffer->SkipRefresh = false;
        return;
      }
    } else {
      buffer = acquireBuffer(block);
      addToTable(buffer);
    }
    std::memcpy(buffer->Data(), bytes, size_t(blockSize));
    buffer->HeaderRead = false;
  };
  // The block asked for comes last, so that no other block of the run can
  // take its buffer.
  for (int32_t block = first; block < first + whole; ++block) {
    if (block != blockNumber) distribute(block);
  }
  if (blockNumber < first + whole) distribute(blockNumber);
}

void TBRNTableFileManager::releaseSlow(TBRNTableFileBuffer* buffer) {
  if (buffer->Dead) {
    if (buffer->PinCount == 0) {
      auto it = std::find_if(dead_.begin(), dead_.end(),
                             [&](const auto& owned) { return owned.get() == buffer; });
      if (it != dead_.end()) dead_.erase(it);
    }
    return;
  }
  if (buffer->Modified && !buffer->Queued) {
    buffer->Queued = true;
    if (access_ != TBRNTableFileAccess::Exclusive) dirty_.push_back(buffer);
    ++dirtyCount_;
  }
  if (operationDepth_ > 0) noteReleased(buffer);
}

void TBRNTableFileManager::FlushBuffers() {
  int32_t blockSize = GetBlockSize();
  // In exclusive mode the list is built now. A queued buffer that is pinned
  // stays queued and counted: its release will not count it again, so the
  // next flush must find it.
  int32_t stillQueued = 0;
  roomDeferred_ = false;
  sweptEmpty_ = false;
  if (access_ == TBRNTableFileAccess::Exclusive && dirtyCount_ > 0) {
    dirty_.clear();
    for (const auto& buffer : cached_) {
      if (!buffer->Queued) continue;
      if (buffer->PinCount == 0) {
        dirty_.push_back(buffer.get());
      } else {
        ++stillQueued;
      }
    }
  }
  if (dirty_.empty()) {
    dirtyCount_ = stillQueued;
    if (truncatePending_) {
      TableFileHold hold(stream_.get());
      truncateToHeaderArea();
      ++DiskWrites;
    }
    return;
  }
  dirtyHighWater_ = std::max(dirtyHighWater_, int32_t(dirty_.size()));
  std::sort(dirty_.begin(), dirty_.end(),
            [](const TBRNTableFileBuffer* a, const TBRNTableFileBuffer* b) {
              return a->BlockNumber < b->BlockNumber;
            });
  if (flushUndo_.Active) {
    flushUndo_.Written = dirty_;
    flushUndo_.Taken = true;
  }
  // Under the exclusive or transaction lock no other writer changes the
  // file, so a clean cached block holds what is on disk and may fill the
  // gap between two dirty blocks: one write instead of two.
  bool fillGaps = access_ == TBRNTableFileAccess::Exclusive || host_->HoldsTransactionLock();
  auto gapCached = [&](int32_t from, int32_t to) {
    if (!fillGaps || int64_t(to - from + 1) * blockSize > kMaxGapBytes) return false;
    for (int32_t n = from; n <= to; ++n) {
      const TBRNTableFileBuffer* buffer = blocks_.Find(n);
      if (buffer == nullptr ? keptBlock(n) == nullptr
                            : buffer->Modified || buffer->PinCount > 0) {
        return false;
      }
    }
    return true;
  };
  size_t i = 0;
  try {
    while (i < dirty_.size()) {
      size_t j = i;
      int64_t bytes = blockSize;
      while (j + 1 < dirty_.size() && bytes <= kMaxRunBytes) {
        int32_t last = dirty_[j]->BlockNumber;
        int32_t next = dirty_[j + 1]->BlockNumber;
        if (next != last + 1 && !gapCached(last + 1, next - 1)) break;
        ++j;
        bytes += int64_t(next - last) * blockSize;
      }
      for (size_t k = i; k <= j; ++k) {
        if (dirty_[k]->PinCount > 0) {
          RaiseCorrupt(FormatText("Attempted to flush a %s from the cache while it is in use",
                                  {GetBlockKindName()}));
        }
      }
      flushStream_.SetSize(0);
      flushStream_.SetCapacity(int32_t(bytes));
      flushStream_.SetPosition(0);
      for (size_t k = i; k <= j; ++k) {
        TBRNTableFileBuffer* buffer = dirty_[k];
        if (k > i) {
          for (int32_t n = dirty_[k - 1]->BlockNumber + 1; n < buffer->BlockNumber; ++n) {
            const TBRNTableFileBuffer* clean = blocks_.Find(n);
            flushStream_.Write(clean != nullptr ? clean->Data() : keptBlock(n), blockSize);
          }
        }
        buffer->FlushToStream(flushStream_);
        if (readAheadFirst_ != 0 && buffer->BlockNumber >= readAheadFirst_ &&
            buffer->BlockNumber <= readAheadLast_) {
          buffer->SkipRefresh = true;
        }
      }
      // Kept runs follow the disk (dropped below when the write fails).
      for (int32_t n = dirty_[i]->BlockNumber; n <= dirty_[j]->BlockNumber; ++n) {
        if (uint8_t* kept = keptBlock(n)) {
          std::memcpy(kept,
                      flushStream_.GetMemory() + int64_t(n - dirty_[i]->BlockNumber) * blockSize,
                      size_t(blockSize));
        }
      }
      if (host_->IsEncrypted()) {
        for (int64_t k = 0; k < bytes / blockSize; ++k) {
          flushStream_.SetPosition(int64_t(k) * blockSize);
          flushStream_.Encrypt(blockSize);
        }
      }
      {
        TableFileHold hold(stream_.get());
        if (truncatePending_) truncateToHeaderArea();
        int64_t offset =
            int64_t(GetHeaderAreaSize()) + int64_t(dirty_[i]->BlockNumber - 1) * blockSize;
        keepOldBytes(offset, bytes);
        stream_->Seek(0, offset);
        stream_->Write(flushStream_.GetMemory(), int32_t(bytes));
      }
      ++DiskWrites;
      BytesWritten += bytes;
      i = j + 1;
    }
  } catch (...) {
    // The blocks of the failed run and of the runs after it stay modified
    // and listed, so that the next flush writes them again.
    TBRNTableFileBuffers rest(dirty_.begin() + std::ptrdiff_t(i), dirty_.end());
    for (TBRNTableFileBuffer* buffer : rest) {
      buffer->Modified = true;
      buffer->Queued = true;
    }
    dirty_ = std::move(rest);
    dirtyCount_ = int32_t(dirty_.size()) + stillQueued;
    flushStream_.SetSize(0);
    dropKeptRuns();
    throw;
  }
  dirty_.clear();
  dirtyCount_ = stillQueued;
  flushStream_.SetSize(0);
}

void TBRNTableFileManager::discardBuffer(TBRNTableFileBuffer* buffer) {
  removeFromTable(buffer);
  heldCount_ -= buffer->HoldCount;
  buffer->HoldCount = 0;
  std::unique_ptr<TBRNTableFileBuffer> owned = unlistBuffer(buffer);
  if (owned->PinCount > 0) {
    owned->Dead = true;
    dead_.push_back(std::move(owned));
  }
}

void TBRNTableFileManager::TrimCache(bool toHighWater) {
  int32_t limit = toHighWater ? dirtyHighWater_ : capacity_;
  // Buffers not used since the clock last passed them go first. Walking
  // from the end, a buffer moved into a freed place was already visited.
  for (bool anyReferenced : {false, true}) {
    for (size_t i = cached_.size(); i-- > 0 && GetBufferCount() > limit;) {
      TBRNTableFileBuffer* buffer = cached_[i].get();
      if (isEvictable(buffer) && (anyReferenced || !buffer->Referenced)) discardBuffer(buffer);
    }
  }
}

void TBRNTableFileManager::DropCache(bool onlyModified) {
  for (size_t i = cached_.size(); i-- > 0;) {
    TBRNTableFileBuffer* buffer = cached_[i].get();
    if (!onlyModified || buffer->Modified) discardBuffer(buffer);
  }
  dirty_.clear();
  dirtyCount_ = 0;
  sweptEmpty_ = false;
  staleOperations();
  dropKeptRuns();
}

void TBRNTableFileManager::freeAllBuffers() {
  // Called from the destructor: no check that could raise.
  blocks_.Clear();
  cached_.clear();
  dead_.clear();
  dirty_.clear();
  dirtyCount_ = 0;
  heldCount_ = 0;
}

void TBRNTableFileManager::SetCacheCapacity(int32_t capacity) {
  capacity = std::max(capacity, 2);
  if (capacity % 2 != 0) ++capacity;
  capacity_ = capacity;
  // The span of a kept run depends on the capacity.
  dropKeptRuns();
}

}  // namespace brn
