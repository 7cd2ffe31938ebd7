#pragma once

#include <cstdint>
#include <vector>

#include "foundation/core/memory_stream.h"

namespace brn {

class TBRNTableFileManager;
class TBRNTableFileBufferBucket;

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
  TBRNTableFileBufferBucket* Bucket = nullptr;
  TBRNMemoryStream BlockStream;
  bool Modified = false;     // differs from disk
  int32_t PinCount = 0;      // callers working on it
  bool Queued = false;       // counted or listed as dirty since its last write
  bool SkipRefresh = false;  // written while a read-ahead filled the cache
  bool HeaderRead = false;   // header fields parsed from the block stream
  // Dropped from the cache while pinned: freed when its last pin goes.
  bool Dead = false;
  int32_t BlockNumber = 0;
  int32_t NextLink = 0;  // first field of every block header
  TBRNTableFileBuffer* Older = nullptr;
  TBRNTableFileBuffer* Newer = nullptr;

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

// The buffers of one hash slot, sorted by block number. Views its buffers.
class TBRNTableFileBufferBucket {
 public:
  TBRNTableFileBuffers Buffers;

  // true with the buffer's index, else false with the insertion point.
  bool Find(int32_t blockNumber, int32_t& index) const;
};

}  // namespace brn
