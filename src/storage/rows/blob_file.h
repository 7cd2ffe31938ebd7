#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/core/memory_stream.h"
#include "storage/files/table_file.h"

namespace brn {

class TBRNFileManager;

// One block of a file that stores byte strings as chains of blocks: the
// first block of a chain (type 1) carries the chain's facts, the others
// (type 0) only their next link and their used bytes. Every block starts
// with the int32 next link and the type byte; a type 0 block keeps its used
// bytes at offset 5 and its data from offset 9. Any type other than 0 is
// parsed with the first block's layout, so that verification can report it.
// Owned and used as every block of a table file (see TBRNTableFileBuffer).
class TBRNChainBlock : public TBRNTableFileBuffer {
 public:
  static constexpr int32_t kOtherHeaderSize = 9;

  explicit TBRNChainBlock(TBRNTableFileManager* owner) : TBRNTableFileBuffer(owner) {}

  uint8_t BlockType = 1;
  int32_t TotalLength = 0;  // first block: the bytes of the whole chain's value
  int32_t UsedBytes = 0;    // bytes of data held in this block

  bool IsFirst() const { return BlockType != 0; }
  // 9 for a type 0 block, the kind's first-block header size otherwise.
  int32_t GetHeaderSize() const override {
    return IsFirst() ? GetFirstHeaderSize() : kOtherHeaderSize;
  }
  // The data bytes a block of this type holds at most.
  int32_t GetCapacity() const { return GetSize() - GetHeaderSize(); }
  // The data after the header.
  uint8_t* Payload() const { return Data() + GetHeaderSize(); }

  void WriteHeader() override;
  void ReadHeader() override;
  // Type 1 with every count 0.
  void Reset() override;

 protected:
  virtual int32_t GetFirstHeaderSize() const = 0;
  // The fields of a first block after its type byte.
  virtual void WriteFirstFields(TBRNMemoryStream& stream) = 0;
  virtual void ReadFirstFields(TBRNMemoryStream& stream) = 0;
  void AssignChainFields(const TBRNChainBlock& source);
};

// The common machinery of the BLOB and published-updates files: reading,
// writing and verifying chains of TBRNChainBlock. A manager is used by one
// session's thread.
class TBRNChainFileManager : public TBRNTableFileManager {
 public:
  // blockSize: the kind's block size setting (more than the largest block
  // header); maxBufferBytes: its cache size setting; systemTable: the file
  // of a System table uses the small header area.
  TBRNChainFileManager(TBRNTableFileHost* host, TBRNFileManager* files, int32_t blockSize,
                       int64_t maxBufferBytes, bool systemTable);

  int32_t GetBlockSize() const override { return blockSize_; }
  int32_t GetBufferSize() const override { return blockSize_; }
  int32_t GetCacheCapacity() const override;

 protected:
  static constexpr int32_t kMinCacheBlocks = 128;

  bool IsSystemTable() const { return systemTable_; }
  // The pinned block n of the file, or nullptr with restart set; numbers
  // outside 1 .. block count raise 601 (a link never appends a block).
  TBRNChainBlock* getChainBlock(int32_t n, bool readAhead, int32_t count, bool& restart);
  // Reads the chain at first into stream. With checkOwner a first block
  // owned by another row version gives an empty stream. Answers the number
  // of the last block read (0 when the stream was emptied).
  int32_t readChain(int32_t first, bool checkOwner, int32_t ownerVersion, TBRNMemoryStream& stream);
  // Writes data as the chain at first (a new chain when first is below 1).
  // A new chain starts at the end of the file when atEnd is set.
  void writeChain(int32_t ownerVersion, int32_t& first, const uint8_t* data, int32_t size,
                  bool atEnd);
  // The structure-only walk over every chain of the file.
  bool verifyChains(bool& errorsFound, bool repair, const std::string& status, bool checkTotal);
  // A block at the end of the file, never one from the free list.
  TBRNChainBlock* appendChainBlock();
  TBRNChainBlock* allocateChainBlock();
  // The first block's owner (0 for a kind without one).
  virtual int32_t GetOwner(const TBRNChainBlock&) const { return 0; }
  virtual void SetOwner(TBRNChainBlock&, int32_t) {}
  [[noreturn]] void raiseBlockType() const;
  [[noreturn]] void raiseNotFound() const;

 private:
  // The read-ahead count for the blocks that hold the remaining bytes.
  int32_t followCount(int64_t remaining) const;

  int32_t blockSize_;
  int64_t maxBufferBytes_;
  bool systemTable_;
};

// A block of the BLOB file. First block: next link, type 1, owner (the
// version of the row that wrote the value), total length, used bytes, data
// from offset 17.
class TBRNBlobBlock : public TBRNChainBlock {
 public:
  static constexpr int32_t kFirstHeaderSize = 17;

  explicit TBRNBlobBlock(TBRNTableFileManager* owner) : TBRNChainBlock(owner) {}

  int32_t Owner = 0;

  // Also takes the header fields.
  void Assign(const TBRNBlobBlock& source);
  void Reset() override;

 protected:
  int32_t GetFirstHeaderSize() const override { return kFirstHeaderSize; }
  void WriteFirstFields(TBRNMemoryStream& stream) override;
  void ReadFirstFields(TBRNMemoryStream& stream) override;
};

// The BLOB file of a table: one chain of blocks per stored BLOB or CLOB
// value. A row refers to its value by the chain's first block, which names
// the row version that wrote it. Chains are overwritten in place and never
// freed: a shorter value keeps the chain's later blocks linked for reuse.
// Used by one session's thread.
class TBRNBlobManager : public TBRNChainFileManager {
 public:
  TBRNBlobManager(TBRNTableFileHost* host, TBRNFileManager* files, int32_t blockSize,
                  int64_t maxBufferBytes, bool systemTable = false);
  ~TBRNBlobManager() override;

  std::string GetFileExtension() const override;
  int32_t GetHeaderAreaSize() const override { return IsSystemTable() ? 1024 : 4096; }
  std::string GetBlockKindName() const override { return "BLOB block"; }

  // Block operations. The pinned ones are released with ReleaseBlock.
  std::unique_ptr<TBRNBlobBlock> NewBlockBuffer();
  TBRNBlobBlock* GetBlock(int32_t n, bool readAhead, int32_t count);
  TBRNBlobBlock* GetBlockChecked(int32_t n, bool readAhead, int32_t count, bool& restart);
  TBRNBlobBlock* AllocateBlock();
  void FreeBlock(TBRNBlobBlock* block);
  void ReleaseBlock(TBRNBlobBlock* block) { ReleaseBuffer(block); }

  // Fills stream (sized to the value, position 0) with the value of the
  // chain at firstBlock; an empty stream means no value: no chain there
  // (0 or beyond the file) or one written by another row version. Another
  // writer's change met during the read repeats it. Damage raises 601.
  void ReadBlob(int32_t ownerVersion, int32_t firstBlock, TBRNMemoryStream& stream);
  // Stores the whole of stream (from position 0, position untouched) as
  // the value of the chain at firstBlock, or of a new chain when firstBlock
  // is below 1; firstBlock receives the chain's first block. 407 when the
  // file would pass its size limit.
  void WriteBlob(int32_t ownerVersion, int32_t& firstBlock, const TBRNMemoryStream& stream);
  void WriteBlob(int32_t ownerVersion, int32_t& firstBlock, const uint8_t* data, int32_t size);

  bool VerifyContents(bool& errorsFound, bool repair) override;

 protected:
  TBRNTableFileBuffer* CreateBuffer() override { return new TBRNBlobBlock(this); }
  int32_t GetOwner(const TBRNChainBlock& block) const override;
  void SetOwner(TBRNChainBlock& block, int32_t owner) override;
};

}  // namespace brn
