#include "storage/files/buffer_cache.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/core/numeric_helpers.h"
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

bool TBRNTableFileBufferBucket::Find(int32_t blockNumber, int32_t& index) const {
  auto it = std::lower_bound(
      Buffers.begin(), Buffers.end(), blockNumber,
      [](const TBRNTableFileBuffer* buffer, int32_t n) { return buffer->BlockNumber < n; });
  index = int32_t(it - Buffers.begin());
  return it != Buffers.end() && (*it)->BlockNumber == blockNumber;
}

// ---- The cache of TBRNTableFileManager ----

uint32_t TBRNTableFileManager::bucketOf(int32_t blockNumber) const {
  return HashInteger(blockNumber) % uint32_t(capacity_);
}

TBRNTableFileBuffer* TBRNTableFileManager::FindBuffer(int32_t blockNumber) const {
  if (capacity_ == 0) return nullptr;
  const TBRNTableFileBufferBucket& bucket = buckets_[bucketOf(blockNumber)];
  int32_t index = 0;
  return bucket.Find(blockNumber, index) ? bucket.Buffers[size_t(index)] : nullptr;
}

void TBRNTableFileManager::addToBucket(TBRNTableFileBuffer* buffer) {
  TBRNTableFileBufferBucket& bucket = buckets_[bucketOf(buffer->BlockNumber)];
  int32_t index = 0;
  if (bucket.Find(buffer->BlockNumber, index)) {
    RaiseCorrupt(FormatText("Cannot find %s during retrieval from cache", {GetBlockKindName()}));
  }
  bucket.Buffers.insert(bucket.Buffers.begin() + index, buffer);
  buffer->Bucket = &bucket;
}

void TBRNTableFileManager::removeFromBucket(TBRNTableFileBuffer* buffer) {
  TBRNTableFileBufferBucket* bucket = buffer->Bucket;
  int32_t index = 0;
  if (bucket == nullptr || !bucket->Find(buffer->BlockNumber, index) ||
      bucket->Buffers[size_t(index)] != buffer) {
    RaiseCorrupt(FormatText("Cannot find %s during ejection from cache", {GetBlockKindName()}));
  }
  bucket->Buffers.erase(bucket->Buffers.begin() + index);
  buffer->Bucket = nullptr;
}

void TBRNTableFileManager::linkMostRecent(TBRNTableFileBuffer* buffer) {
  buffer->Newer = nullptr;
  buffer->Older = mostRecent_;
  if (mostRecent_ != nullptr) mostRecent_->Newer = buffer;
  mostRecent_ = buffer;
  if (leastRecent_ == nullptr) leastRecent_ = buffer;
  ++bufferCount_;
}

void TBRNTableFileManager::unlinkBuffer(TBRNTableFileBuffer* buffer) {
  if (buffer->Newer != nullptr) {
    buffer->Newer->Older = buffer->Older;
  } else {
    mostRecent_ = buffer->Older;
  }
  if (buffer->Older != nullptr) {
    buffer->Older->Newer = buffer->Newer;
  } else {
    leastRecent_ = buffer->Newer;
  }
  buffer->Older = buffer->Newer = nullptr;
  --bufferCount_;
}

void TBRNTableFileManager::moveToMostRecent(TBRNTableFileBuffer* buffer) {
  if (mostRecent_ == buffer) return;
  unlinkBuffer(buffer);
  linkMostRecent(buffer);
}

TBRNTableFileBuffer* TBRNTableFileManager::findEvictable() const {
  for (TBRNTableFileBuffer* b = leastRecent_; b != nullptr; b = b->Newer) {
    if (!b->Modified && b->PinCount == 0) return b;
  }
  return nullptr;
}

TBRNTableFileBuffer* TBRNTableFileManager::newBuffer(int32_t blockNumber) {
  TBRNTableFileBuffer* buffer = CreateBuffer();
  buffer->BlockStream.SetSize(GetBufferSize());
  buffer->Reset();
  buffer->BlockNumber = blockNumber;
  linkMostRecent(buffer);
  return buffer;
}

TBRNTableFileBuffer* TBRNTableFileManager::reuseBuffer(int32_t blockNumber) {
  TBRNTableFileBuffer* victim = nullptr;
  if (access_ == TBRNTableFileAccess::Exclusive) {
    victim = findEvictable();
    if (victim == nullptr) {
      Flush(false);
      victim = findEvictable();
    }
  } else if (capacity_ / 4 + int32_t(dirty_.size()) < bufferCount_) {
    victim = findEvictable();
  }
  if (victim == nullptr) return newBuffer(blockNumber);
  removeFromBucket(victim);
  moveToMostRecent(victim);
  victim->Reset();
  victim->BlockNumber = blockNumber;
  return victim;
}

TBRNTableFileBuffer* TBRNTableFileManager::acquireBuffer(int32_t blockNumber) {
  if (bufferCount_ < capacity_) return newBuffer(blockNumber);
  return reuseBuffer(blockNumber);
}

TBRNTableFileBuffer* TBRNTableFileManager::GetBuffer(int32_t blockNumber, bool readAhead,
                                                     uint8_t direction, int32_t readAheadCount,
                                                     bool& restart) {
  if (stream_ == nullptr) throw std::logic_error("block access to a closed table file");
  TableReadBracket bracket(host_);
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
    addToBucket(buffer);
    AllocateBlockNumber();
    ++CacheHits;
    return buffer;
  }
  TBRNTableFileBuffer* buffer = FindBuffer(blockNumber);
  if (buffer != nullptr) {
    moveToMostRecent(buffer);
    ++CacheHits;
  } else {
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
    this->readAhead(blockNumber, count, direction);
    buffer = FindBuffer(blockNumber);
  }
  if (buffer == nullptr || buffer->BlockNumber != blockNumber) {
    RaiseCorrupt(FormatText("Cannot find %s during retrieval from cache", {GetBlockKindName()}));
  }
  ++buffer->PinCount;
  buffer->EnsureHeaderRead();
  return buffer;
}

void TBRNTableFileManager::readAhead(int32_t blockNumber, int32_t count, uint8_t direction) {
  ++CacheMisses;
  int32_t blockSize = GetBlockSize();
  int32_t first = direction == 2 ? blockNumber - count + 1 : blockNumber;
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
  int64_t fileSize = 0;
  {
    TableFileHold hold(stream_.get());
    stream_->Seek(0, offset);
    got = stream_->Read(readAheadStream_.GetMemory(), requested);
    fileSize = stream_->GetSize();
  }
  // Under the exclusive or transaction lock blocks appended in the cache
  // may not be on disk yet.
  bool partialAllowed = host_->HoldsExclusiveLock() || host_->HoldsTransactionLock();
  if (got == 0 || (!partialAllowed && got < requested)) {
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
  auto distribute = [&](int32_t block) {
    const uint8_t* bytes = readAheadStream_.GetMemory() + int64_t(block - first) * blockSize;
    TBRNTableFileBuffer* buffer = FindBuffer(block);
    if (buffer != nullptr) {
      moveToMostRecent(buffer);
      if (buffer->PinCount > 0 || buffer->Modified) return;
      if (buffer->SkipRefresh) {
        buffer->SkipRefresh = false;
        return;
      }
    } else {
      buffer = acquireBuffer(block);
      addToBucket(buffer);
    }
    std::memcpy(buffer->Data(), bytes, size_t(blockSize));
    buffer->HeaderRead = false;
  };
  if (direction == 2) {
    for (int32_t block = first; block < first + whole; ++block) distribute(block);
  } else {
    for (int32_t block = first + whole - 1; block >= blockNumber; --block) distribute(block);
  }
}

void TBRNTableFileManager::ReleaseBuffer(TBRNTableFileBuffer* buffer) {
  if (buffer == nullptr) return;
  if (buffer->PinCount > 0) --buffer->PinCount;
  if (buffer->Dead) {
    if (buffer->PinCount == 0) {
      auto it = std::find(dead_.begin(), dead_.end(), buffer);
      if (it != dead_.end()) dead_.erase(it);
      delete buffer;
    }
    return;
  }
  if (buffer->Modified && !buffer->Queued) {
    buffer->Queued = true;
    if (access_ != TBRNTableFileAccess::Exclusive) dirty_.push_back(buffer);
    ++dirtyCount_;
  }
}

void TBRNTableFileManager::FlushBuffers() {
  int32_t blockSize = GetBlockSize();
  auto writeAtHeaderArea = [&]() {
    stream_->SetSize(GetHeaderAreaSize());
    truncatePending_ = false;
  };
  if (access_ == TBRNTableFileAccess::Exclusive && dirtyCount_ > 0) {
    dirty_.clear();
    for (const TBRNTableFileBufferBucket& bucket : buckets_) {
      for (TBRNTableFileBuffer* buffer : bucket.Buffers) {
        if (buffer->Queued && buffer->PinCount == 0) dirty_.push_back(buffer);
      }
    }
  }
  if (dirty_.empty()) {
    dirtyCount_ = 0;
    if (truncatePending_) {
      TableFileHold hold(stream_.get());
      writeAtHeaderArea();
      ++DiskWrites;
    }
    return;
  }
  dirtyHighWater_ = std::max(dirtyHighWater_, int32_t(dirty_.size()));
  std::sort(dirty_.begin(), dirty_.end(),
            [](const TBRNTableFileBuffer* a, const TBRNTableFileBuffer* b) {
              return a->BlockNumber < b->BlockNumber;
            });
  size_t i = 0;
  try {
    while (i < dirty_.size()) {
      size_t j = i;
      int64_t bytes = blockSize;
      while (j + 1 < dirty_.size() && dirty_[j + 1]->BlockNumber == dirty_[j]->BlockNumber + 1 &&
             bytes <= kMaxRunBytes) {
        ++j;
        bytes += blockSize;
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
        buffer->FlushToStream(flushStream_);
        if (readAheadFirst_ != 0 && buffer->BlockNumber >= readAheadFirst_ &&
            buffer->BlockNumber <= readAheadLast_) {
          buffer->SkipRefresh = true;
        }
      }
      if (host_->IsEncrypted()) {
        for (size_t k = 0; k <= j - i; ++k) {
          flushStream_.SetPosition(int64_t(k) * blockSize);
          flushStream_.Encrypt(blockSize);
        }
      }
      {
        TableFileHold hold(stream_.get());
        if (truncatePending_) writeAtHeaderArea();
        stream_->Seek(
            0, int64_t(GetHeaderAreaSize()) + int64_t(dirty_[i]->BlockNumber - 1) * blockSize);
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
    dirtyCount_ = int32_t(dirty_.size());
    flushStream_.SetSize(0);
    throw;
  }
  dirty_.clear();
  dirtyCount_ = 0;
  flushStream_.SetSize(0);
}

void TBRNTableFileManager::discardBuffer(TBRNTableFileBuffer* buffer) {
  if (buffer->Bucket != nullptr) removeFromBucket(buffer);
  unlinkBuffer(buffer);
  if (buffer->PinCount > 0) {
    buffer->Dead = true;
    dead_.push_back(buffer);
  } else {
    delete buffer;
  }
}

void TBRNTableFileManager::TrimCache(bool toHighWater) {
  int32_t limit = toHighWater ? dirtyHighWater_ : capacity_;
  TBRNTableFileBuffer* buffer = leastRecent_;
  while (buffer != nullptr && bufferCount_ > limit) {
    TBRNTableFileBuffer* newer = buffer->Newer;
    if (!buffer->Modified && buffer->PinCount == 0) discardBuffer(buffer);
    buffer = newer;
  }
}

void TBRNTableFileManager::DropCache(bool onlyModified) {
  for (TBRNTableFileBufferBucket& bucket : buckets_) {
    for (size_t i = bucket.Buffers.size(); i-- > 0;) {
      TBRNTableFileBuffer* buffer = bucket.Buffers[i];
      if (!onlyModified || buffer->Modified) discardBuffer(buffer);
    }
  }
  dirty_.clear();
  dirtyCount_ = 0;
}

void TBRNTableFileManager::freeAllBuffers() {
  DropCache(false);
  for (TBRNTableFileBuffer* buffer : dead_) delete buffer;
  dead_.clear();
}

void TBRNTableFileManager::SetCacheCapacity(int32_t capacity) {
  capacity = std::max(capacity, 2);
  if (capacity % 2 != 0) ++capacity;
  if (capacity == capacity_) return;
  std::vector<TBRNTableFileBuffer*> all;
  for (const TBRNTableFileBufferBucket& bucket : buckets_) {
    for (TBRNTableFileBuffer* buffer : bucket.Buffers) all.push_back(buffer);
  }
  buckets_.clear();
  capacity_ = capacity;
  buckets_.resize(size_t(capacity));
  for (TBRNTableFileBuffer* buffer : all) {
    buffer->Bucket = nullptr;
    addToBucket(buffer);
  }
}

}  // namespace brn
