#include "storage/rows/blob_file.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/files/file_manager.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file_guards.h"
#include "storage/files/table_file_set.h"

namespace brn {

namespace {

// Holds one pinned block of a chain and releases it when the scope ends,
// also when the work on it throws. After a restart the block is dead in
// the cache; releasing it frees it.
class HeldBlock {
 public:
  HeldBlock(TBRNTableFileManager* file, TBRNChainBlock* block) : file_(file), block_(block) {}
  ~HeldBlock() { file_->ReleaseBuffer(block_); }
  HeldBlock(const HeldBlock&) = delete;
  HeldBlock& operator=(const HeldBlock&) = delete;

  TBRNChainBlock* Get() const { return block_; }
  void Replace(TBRNChainBlock* block) {
    file_->ReleaseBuffer(block_);
    block_ = block;
  }

 private:
  TBRNTableFileManager* file_;
  TBRNChainBlock* block_;
};

std::string text(int64_t value) {
  return std::to_string(value);
}

}  // namespace

// ---- TBRNChainBlock ----

void TBRNChainBlock::WriteHeader() {
  BlockStream.SetPosition(0);
  BlockStream.WriteInteger(NextLink);
  BlockStream.WriteByte(BlockType);
  if (IsFirst()) {
    WriteFirstFields(BlockStream);
  } else {
    BlockStream.WriteInteger(UsedBytes);
  }
}

void TBRNChainBlock::ReadHeader() {
  BlockStream.SetPosition(0);
  NextLink = BlockStream.ReadInteger();
  BlockType = BlockStream.ReadByte();
  if (IsFirst()) {
    ReadFirstFields(BlockStream);
  } else {
    TotalLength = 0;
    UsedBytes = BlockStream.ReadInteger();
  }
}

void TBRNChainBlock::Reset() {
  TBRNTableFileBuffer::Reset();
  BlockType = 1;
  TotalLength = 0;
  UsedBytes = 0;
}

void TBRNChainBlock::AssignChainFields(const TBRNChainBlock& source) {
  TBRNTableFileBuffer::Assign(source);
  HeaderRead = source.HeaderRead;
  BlockType = source.BlockType;
  TotalLength = source.TotalLength;
  UsedBytes = source.UsedBytes;
}

// ---- TBRNChainFileManager ----

TBRNChainFileManager::TBRNChainFileManager(TBRNTableFileHost* host, TBRNFileManager* files,
                                           int32_t blockSize, int64_t maxBufferBytes,
                                           bool systemTable)
    : TBRNTableFileManager(host, files),
      blockSize_(blockSize),
      maxBufferBytes_(maxBufferBytes),
      systemTable_(systemTable) {
  if (blockSize <= TBRNBlobBlock::kFirstHeaderSize) {
    throw std::invalid_argument("block size " + std::to_string(blockSize) +
                                " leaves no room for data");
  }
}

int32_t TBRNChainFileManager::GetCacheCapacity() const {
  int64_t blocks = std::max<int64_t>(maxBufferBytes_, 0) / blockSize_;
  return int32_t(std::clamp<int64_t>(blocks, kMinCacheBlocks, INT32_MAX / 2));
}

void TBRNChainFileManager::raiseBlockType() const {
  RaiseCorrupt(FormatText("Invalid %s type found", {GetBlockKindName()}));
  // An override that returned still ends the operation.
  throw std::logic_error("RaiseCorrupt returned");
}

void TBRNChainFileManager::raiseNotFound() const {
  RaiseCorrupt(FormatText("Cannot find %s during retrieval from cache", {GetBlockKindName()}));
  throw std::logic_error("RaiseCorrupt returned");
}

int32_t TBRNChainFileManager::followCount(int64_t remaining) const {
  int64_t count = std::max<int64_t>(1, remaining / (blockSize_ - TBRNChainBlock::kOtherHeaderSize));
  return int32_t(std::min<int64_t>(count, std::max(1, GetReadAheadCount())));
}

TBRNChainBlock* TBRNChainFileManager::getChainBlock(int32_t n, bool readAhead, int32_t count,
                                                    bool& restart) {
  // A link read from the file may name any number; only blocks the file
  // holds are read (block NextBlock would be appended).
  if (n < 1 || n > GetBlockCount()) {
    RaiseCorrupt(
        FormatText("Invalid %s number specified for retrieval from cache", {GetBlockKindName()}));
  }
  return static_cast<TBRNChainBlock*>(GetBuffer(n, readAhead, 1, count, restart));
}

TBRNChainBlock* TBRNChainFileManager::appendChainBlock() {
  bool restart = false;
  TBRNTableFileBuffer* buffer = GetBuffer(NextBlock, false, 0, 0, restart);
  if (buffer == nullptr) raiseNotFound();
  buffer->Reset();
  buffer->Modified = true;
  return static_cast<TBRNChainBlock*>(buffer);
}

TBRNChainBlock* TBRNChainFileManager::allocateChainBlock() {
  bool restart = false;
  TBRNTableFileBuffer* buffer = AllocateBlockBuffer(restart);
  // Writers hold the table against other writers: a change met here leaves
  // nothing sound to continue with.
  if (buffer == nullptr) raiseNotFound();
  return static_cast<TBRNChainBlock*>(buffer);
}

int32_t TBRNChainFileManager::readChain(int32_t first, bool checkOwner, int32_t ownerVersion,
                                        TBRNMemoryStream& stream) {
  TableReadBracket operation(GetHost());
  std::string kind = GetBlockKindName();
  for (;;) {
    stream.SetSize(0);
    stream.SetPosition(0);
    if (first > GetBlockCount()) return 0;
    bool restart = false;
    TBRNChainBlock* block = getChainBlock(first, false, 1, restart);
    if (restart) continue;
    HeldBlock held(this, block);
    if (block->BlockType != 1) raiseBlockType();
    if (checkOwner && GetOwner(*block) != ownerVersion) return 0;
    // The chain can hold no more than the blocks of the file: a larger
    // total is damage, never a reason to allocate.
    int64_t total = block->TotalLength;
    int64_t room = int64_t(block->GetCapacity()) +
                   int64_t(GetBlockCount() - 1) * (blockSize_ - TBRNChainBlock::kOtherHeaderSize);
    if (total < 0 || total > room) raiseNotFound();
    stream.SetSize(total);
    int64_t done = 0;
    int32_t last = first;
    int32_t blocksRead = 1;
    for (;;) {
      int32_t used = block->UsedBytes;
      if (used < 0 || used > block->GetCapacity()) {
        RaiseCorrupt(FormatText("Invalid %s %s size (%s) for start %s %s",
                                {kind, text(block->BlockNumber), text(used), kind, text(first)}));
      }
      int64_t take = std::min<int64_t>(used, total - done);
      if (take > 0) std::memcpy(stream.GetMemory() + done, block->Payload(), size_t(take));
      done += take;
      if (done >= total) break;
      int32_t next = block->NextLink;
      if (next == 0) raiseNotFound();
      if (next < 0 || next > GetBlockCount()) {
        RaiseCorrupt(FormatText("Invalid next %s pointer (%s)", {kind, text(next)}));
      }
      if (++blocksRead > GetBlockCount()) {
        RaiseCorrupt(FormatText("Recursive next %s pointer (%s)", {kind, text(next)}));
      }
      block = getChainBlock(next, true, followCount(total - done), restart);
      if (restart) break;
      held.Replace(block);
      if (block->BlockType != 0) raiseBlockType();
      last = next;
    }
    if (restart) continue;
    stream.SetPosition(0);
    return last;
  }
}

void TBRNChainFileManager::writeChain(int32_t ownerVersion, int32_t& first, const uint8_t* data,
                                      int32_t size, bool atEnd) {
  TableReadBracket bracket(GetHost());
  if (size < 0 || (size > 0 && data == nullptr)) throw std::invalid_argument("chain data");
  // A chain that fails halfway is restored whole.
  TBRNTableOperation operation(this);
  std::string kind = GetBlockKindName();
  auto newBlock = [&]() { return atEnd ? appendChainBlock() : allocateChainBlock(); };
  TBRNChainBlock* block = nullptr;
  if (first < 1) {
    block = newBlock();
  } else {
    bool restart = false;
    block = getChainBlock(first, false, 1, restart);
    if (block == nullptr) raiseNotFound();
  }
  HeldBlock held(this, block);
  if (block->BlockType != 1) raiseBlockType();
  SetOwner(*block, ownerVersion);
  block->TotalLength = size;
  block->UsedBytes = 0;
  block->MarkModified();
  first = block->BlockNumber;
  int64_t done = 0;
  int32_t blocksWritten = 1;
  for (;;) {
    int32_t used = int32_t(std::min<int64_t>(block->GetCapacity(), size - done));
    if (used > 0) std::memcpy(block->Payload(), data + done, size_t(used));
    block->UsedBytes = used;
    block->MarkModified();
    done += used;
    if (done >= size) break;
    int32_t next = block->NextLink;
    TBRNChainBlock* following = nullptr;
    if (next == 0) {
      following = newBlock();
      following->BlockType = 0;
      block->SetNextLink(following->BlockNumber);
    } else {
      if (next < 0 || next > GetBlockCount()) {
        RaiseCorrupt(FormatText("Invalid next %s pointer (%s)", {kind, text(next)}));
      }
      if (++blocksWritten > GetBlockCount()) {
        RaiseCorrupt(FormatText("Recursive next %s pointer (%s)", {kind, text(next)}));
      }
      bool restart = false;
      following = getChainBlock(next, true, followCount(size - done), restart);
      if (following == nullptr) raiseNotFound();
      if (following->BlockType != 0) {
        ReleaseBuffer(following);
        raiseBlockType();
      }
    }
    held.Replace(following);
    block = following;
  }
  operation.Commit();
}

bool TBRNChainFileManager::verifyChains(bool& errorsFound, bool repair, const std::string& status,
                                        bool checkTotal) {
  GetHost()->ReportVerifyStatus(status);
  TableProgressBracket progress(GetHost());
  std::string kind = GetBlockKindName();
  int32_t last = GetBlockCount();
  // A header that counts more blocks than the file holds (reported by the
  // header check) must not send the walk beyond the file; blocks appended
  // in the cache and not yet written are still counted.
  if (GetDirtyCount() == 0 && GetStream() != nullptr) {
    int64_t onDisk = (GetStream()->GetSize() - GetHeaderAreaSize()) / blockSize_;
    last = int32_t(std::clamp<int64_t>(onDisk, 0, last));
  }
  std::vector<bool> visited(size_t(last) + 1, false);
  auto finding = [&](const std::string& message) {
    LogVerifyError(message, "", "", repair);
    errorsFound = true;
  };
  auto pin = [&](int32_t n, bool readAhead) {
    bool restart = false;
    int32_t count = std::min(GetReadAheadCount(), last - n + 1);
    TBRNChainBlock* block = getChainBlock(n, readAhead, count, restart);
    // Verification holds the table exclusively: no other writer can move it.
    if (block == nullptr) raiseNotFound();
    return block;
  };
  // Checks one block of the chain at start and answers its valid next link
  // (0 when the chain ends there).
  auto checkBlock = [&](TBRNChainBlock* block, int32_t start, int64_t& sum) {
    int32_t next = block->NextLink;
    if (next < 0 || next > last) {
      finding(FormatText("Invalid next %s pointer (%s)", {kind, text(next)}));
      if (repair) block->SetNextLink(0);
      next = 0;
    }
    uint8_t wanted = block->BlockNumber == start ? 1 : 0;
    if (block->BlockType != wanted) {
      finding(
          FormatText("Invalid %s %s type (%s) for start %s %s",
                     {kind, text(block->BlockNumber), text(block->BlockType), kind, text(start)}));
      if (repair) {
        // Only the type byte is taken as wrong: the other fields are read
        // again in the layout of the right type, so that a start block
        // keeps its owner and length.
        block->WriteHeader();
        block->Data()[4] = wanted;
        block->ReadHeader();
        block->MarkModified();
      }
    }
    int32_t used = block->UsedBytes;
    if (used < 0 || used > block->GetCapacity()) {
      finding(FormatText("Invalid %s %s size (%s) for start %s %s",
                         {kind, text(block->BlockNumber), text(used), kind, text(start)}));
      if (repair) {
        block->UsedBytes = used < 0 ? 0 : block->GetCapacity();
        block->MarkModified();
      }
    }
    sum += std::max(0, block->UsedBytes);
    return next;
  };
  auto walk = [&](TBRNChainBlock* startBlock) {
    int32_t start = startBlock->BlockNumber;
    visited[size_t(start)] = true;
    int64_t sum = 0;
    HeldBlock current(this, nullptr);
    TBRNChainBlock* block = startBlock;
    for (;;) {
      int32_t next = checkBlock(block, start, sum);
      if (next == 0) break;
      if (visited[size_t(next)]) {
        finding(FormatText("Recursive next %s pointer (%s)", {kind, text(next)}));
        if (repair) block->SetNextLink(0);
        break;
      }
      visited[size_t(next)] = true;
      block = pin(next, true);
      current.Replace(block);
    }
    if (checkTotal && (startBlock->TotalLength < 0 || sum < startBlock->TotalLength)) {
      finding(FormatText("Invalid total size (%s) for start %s %s",
                         {text(startBlock->TotalLength), kind, text(start)}));
      if (repair) {
        startBlock->TotalLength = int32_t(sum);
        startBlock->MarkModified();
      }
    }
  };
  // Chains start at their type 1 blocks; a chain whose later blocks lie
  // before its first block is walked from its start, not taken apart from
  // the middle. What no chain reaches is then walked as a chain of its own.
  int32_t lastPercent = -1;
  for (int32_t n = 1; n <= last; ++n) {
    if (visited[size_t(n)]) continue;
    int32_t percent = int32_t(int64_t(n) * 100 / last);
    if (percent != lastPercent) {
      lastPercent = percent;
      if (!GetHost()->UpdateProgress(percent)) return false;
    }
    HeldBlock start(this, pin(n, true));
    if (start.Get()->BlockType == 1) walk(start.Get());
  }
  for (int32_t n = 1; n <= last; ++n) {
    if (visited[size_t(n)]) continue;
    HeldBlock start(this, pin(n, false));
    walk(start.Get());
  }
  return true;
}

// ---- TBRNBlobBlock ----

void TBRNBlobBlock::Assign(const TBRNBlobBlock& source) {
  AssignChainFields(source);
  Owner = source.Owner;
}

void TBRNBlobBlock::Reset() {
  TBRNChainBlock::Reset();
  Owner = 0;
}

void TBRNBlobBlock::WriteFirstFields(TBRNMemoryStream& stream) {
  stream.WriteInteger(Owner);
  stream.WriteInteger(TotalLength);
  stream.WriteInteger(UsedBytes);
}

void TBRNBlobBlock::ReadFirstFields(TBRNMemoryStream& stream) {
  Owner = stream.ReadInteger();
  TotalLength = stream.ReadInteger();
  UsedBytes = stream.ReadInteger();
}

// ---- TBRNBlobManager ----

TBRNBlobManager::TBRNBlobManager(TBRNTableFileHost* host, TBRNFileManager* files, int32_t blockSize,
                                 int64_t maxBufferBytes, bool systemTable)
    : TBRNChainFileManager(host, files, blockSize, maxBufferBytes, systemTable) {}

TBRNBlobManager::~TBRNBlobManager() = default;

std::string TBRNBlobManager::GetFileExtension() const {
  return GetHost()->GetFileExtension(TBRNTableFileKind::Blobs);
}

int32_t TBRNBlobManager::GetOwner(const TBRNChainBlock& block) const {
  return static_cast<const TBRNBlobBlock&>(block).Owner;
}

void TBRNBlobManager::SetOwner(TBRNChainBlock& block, int32_t owner) {
  static_cast<TBRNBlobBlock&>(block).Owner = owner;
  block.MarkModified();
}

std::unique_ptr<TBRNBlobBlock> TBRNBlobManager::NewBlockBuffer() {
  auto block = std::make_unique<TBRNBlobBlock>(this);
  block->BlockStream.SetSize(GetBufferSize());
  block->Reset();
  return block;
}

TBRNBlobBlock* TBRNBlobManager::GetBlock(int32_t n, bool readAhead, int32_t count) {
  bool restart = false;
  return GetBlockChecked(n, readAhead, count, restart);
}

TBRNBlobBlock* TBRNBlobManager::GetBlockChecked(int32_t n, bool readAhead, int32_t count,
                                                bool& restart) {
  return static_cast<TBRNBlobBlock*>(GetBuffer(n, readAhead, 1, count, restart));
}

TBRNBlobBlock* TBRNBlobManager::AllocateBlock() {
  return static_cast<TBRNBlobBlock*>(allocateChainBlock());
}

void TBRNBlobManager::FreeBlock(TBRNBlobBlock* block) {
  FreeBlockBuffer(block);
}

void TBRNBlobManager::ReadBlob(int32_t ownerVersion, int32_t firstBlock, TBRNMemoryStream& stream) {
  if (firstBlock == 0) {
    stream.SetSize(0);
    stream.SetPosition(0);
    return;
  }
  if (firstBlock < 0) {
    RaiseCorrupt(
        FormatText("Invalid %s number specified for retrieval from cache", {GetBlockKindName()}));
  }
  readChain(firstBlock, true, ownerVersion, stream);
}

void TBRNBlobManager::WriteBlob(int32_t ownerVersion, int32_t& firstBlock,
                                const TBRNMemoryStream& stream) {
  WriteBlob(ownerVersion, firstBlock, stream.GetMemory(), int32_t(stream.GetSize()));
}

void TBRNBlobManager::WriteBlob(int32_t ownerVersion, int32_t& firstBlock, const uint8_t* data,
                                int32_t size) {
  writeChain(ownerVersion, firstBlock, data, size, false);
}

bool TBRNBlobManager::VerifyContents(bool& errorsFound, bool repair) {
  return verifyChains(errorsFound, repair, "Verifying BLOBs (structure-only)", true);
}

}  // namespace brn
