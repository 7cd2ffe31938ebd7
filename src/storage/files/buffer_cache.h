#pragma once

#include <cstdint>
#include <vector>

#include "foundation/core/memory_stream.h"

namespace brn {

class TBRNTableFileManager;

// One cached block of a table file. The block stream holds the block as it
// stands on disk (plain, header included) and is always one block long. The
// header fields are parsed from it on first use and written back into it
// when the block is flushed. A buffer is used by its file manager's thread
// only; the manager owns it.
class TBRNTableFileBuffer {
 public:
  explicit TBRNTableFileBuffer(TBRNTableFileManager* owner);
  virtual ~TBRNTableFileBuffer() = default;
  TBRNTableFileBuffer(const TBRNTableFileBuffer&) = delete;
  TBRNTableFileBuffer& operator=(const TBRNTableFileBuffer&) = delete;

  TBRNTableFileManager* Owner;
  TBRNMemoryStream BlockStream;
  bool Modified = false;     // differs from disk
  int32_t PinCount = 0;      // callers working on it
  bool Queued = false;       // counted or listed as dirty since its last write
  bool SkipRefresh = false;  // written while a read-ahead filled the cache
  bool HeaderRead = false;   // header fields parsed from the block stream
  // Dropped from the cache while pinned: freed when its last pin goes.
  bool Dead = false;
  // Used since the eviction clock last passed it: the clock passes it once
  // more before it is chosen.
  bool Referenced = false;
  // Open operation brackets holding it (TBRNTableFileManager::HoldBuffer):
  // like a pin, a hold keeps it from being evicted or trimmed.
  int32_t HoldCount = 0;
  int32_t BlockNumber = 0;
  int32_t NextLink = 0;  // first field of every block header
  // Its place in the manager's list of cached buffers, -1 when not listed.
  int32_t CacheIndex = -1;

  // The bytes of the block header (4: the next link).
  virtual int32_t GetHeaderSize() const { return 4; }
  // Copies modified flag, block number, next link and the block bytes.
  void Assign(const TBRNTableFileBuffer& source);
  bool IsSameBlock(const TBRNTableFileBuffer& other) const;
  // Writes the header fields into the block stream and appends the block to
  // target; modified and queued are cleared.
  void FlushToStream(TBRNMemoryStream& target);
  // Writes the header fields at the start of the block stream.
  virtual void WriteHeader();
  // Reads them from the start of the block stream.
  virtual void ReadHeader();
  // A fresh block: next link 0, flags cleared, header fields current.
  virtual void Reset();
  void EnsureHeaderRead() {
    if (!HeaderRead) {
      ReadHeader();
      HeaderRead = true;
    }
  }

  uint8_t* Data() const { return BlockStream.GetMemory(); }
  int32_t GetSize() const { return int32_t(BlockStream.GetSize()); }
  void SetNextLink(int32_t link) {
    NextLink = link;
    Modified = true;
  }
  void MarkModified() { Modified = true; }
};

using TBRNTableFileBuffers = std::vector<TBRNTableFileBuffer*>;

// The cached buffers of one file by block number: open addressing with
// linear probing over a power-of-two array of slots that is never more than
// half full, so that every probe ends at an empty slot. Block numbers are
// positive; 0 marks an empty slot. Views its buffers. Used by the owning
// manager's thread only.
class TBRNBlockTable {
 public:
  TBRNBlockTable();

  // The buffer of a block, or nullptr (also for numbers below 1).
  TBRNTableFileBuffer* Find(int32_t blockNumber) const {
    uint32_t i = slotOf(blockNumber);
    for (;;) {
      const Slot& slot = slots_[i];
      if (slot.BlockNumber == blockNumber) return slot.Buffer;
      if (slot.BlockNumber == 0) return nullptr;
      i = (i + 1) & mask_;
    }
  }
  // Files the buffer under its block number (which is at least 1); false
  // when that block is already filed.
  bool Insert(TBRNTableFileBuffer* buffer);
  // Takes the buffer out; false when it is not filed under its number.
  bool Erase(const TBRNTableFileBuffer* buffer);
  void Clear();
  int32_t Count() const { return count_; }

 private:
  struct Slot {
    int32_t BlockNumber = 0;
    TBRNTableFileBuffer* Buffer = nullptr;
  };
  // Blocks go by groups of kGroupSlots consecutive numbers: a group takes
  // as many adjacent slots, so that a walk in block order reads the slot
  // array sequentially (one cache miss per group, not per block). The group
  // number is Fibonacci-hashed (the top bits of the product), so that runs
  // of groups spread over the whole array and a window of cached blocks
  // never piles up in one probe run. The array has at least kGroupSlots
  // slots.
  static constexpr uint32_t kGroupSlots = 16;
  uint32_t slotOf(int32_t blockNumber) const {
    const uint32_t group = uint32_t(blockNumber) / kGroupSlots;
    return (((group * 0x9E3779B1u) >> shift_) & ~(kGroupSlots - 1)) |
           (uint32_t(blockNumber) & (kGroupSlots - 1));
  }
  void resize(uint32_t slotCount);

  std::vector<Slot> slots_;
  uint32_t mask_ = 0;
  uint32_t shift_ = 32;
  int32_t count_ = 0;
};

}  // namespace brn
