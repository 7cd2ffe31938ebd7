#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/rows/blob_file.h"

namespace brn {

// A block of the published-updates log. First block: next link, type 1,
// total length, used bytes, data from offset 13.
class TBRNPublishedUpdatesBlock : public TBRNChainBlock {
 public:
  static constexpr int32_t kFirstHeaderSize = 13;

  explicit TBRNPublishedUpdatesBlock(TBRNTableFileManager* owner) : TBRNChainBlock(owner) {}

  // Also takes the header fields.
  void Assign(const TBRNPublishedUpdatesBlock& source);

 protected:
  int32_t GetFirstHeaderSize() const override { return kFirstHeaderSize; }
  void WriteFirstFields(TBRNMemoryStream& stream) override;
  void ReadFirstFields(TBRNMemoryStream& stream) override;
};

// The log of a published table's changes: entries (byte strings) stored as
// block chains one after another. Entries are appended at the end of the
// file in one piece and read back by block number, so the file never takes
// blocks from its free list. The header record keeps the last-update
// timestamp whole (64 bytes: the common fields, the int64 at 54); after each
// header read it is handed to the engine, so that timestamps never go back
// after a restart. Used by one session's thread.
class TBRNPublishedUpdatesManager : public TBRNChainFileManager {
 public:
  static constexpr int32_t kHeaderRecordSize = 64;

  TBRNPublishedUpdatesManager(TBRNTableFileHost* host, TBRNFileManager* files, int32_t blockSize,
                              int64_t maxBufferBytes, bool systemTable = false);
  ~TBRNPublishedUpdatesManager() override;

  std::string GetFileExtension() const override;
  int32_t GetHeaderAreaSize() const override { return IsSystemTable() ? 1024 : 16384; }
  int32_t GetHeaderRecordSize() const override { return kHeaderRecordSize; }
  std::string GetBlockKindName() const override { return "published updates log block"; }

  int64_t GetLastUpdateTimestamp() const { return lastUpdateTimestamp_; }
  // Marks the header modified when the value changes.
  void SetLastUpdateTimestamp(int64_t timestamp);

  // Block operations. The pinned ones are released with ReleaseBlock.
  std::unique_ptr<TBRNPublishedUpdatesBlock> NewBlockBuffer();
  TBRNPublishedUpdatesBlock* GetBlock(int32_t n, bool readAhead, int32_t count);
  TBRNPublishedUpdatesBlock* GetBlockChecked(int32_t n, bool readAhead, int32_t count,
                                             bool& restart);
  TBRNPublishedUpdatesBlock* AllocateBlock();
  void FreeBlock(TBRNPublishedUpdatesBlock* block);
  void ReleaseBlock(TBRNPublishedUpdatesBlock* block) { ReleaseBuffer(block); }

  // Stores the whole of stream (from position 0, position untouched) as a
  // new entry at the end of the log.
  void AppendEntry(const TBRNMemoryStream& stream);
  void AppendEntry(const uint8_t* data, int32_t size);
  // Reads the entry whose first block is blockNumber (at least 1) into
  // stream and sets blockNumber to the block where the next entry starts.
  // At the end of the log the stream is empty and blockNumber stays as it
  // was (an entry of 0 bytes reads empty too, but moves blockNumber on).
  // Another writer's change met during the read repeats it. Damage raises
  // 601.
  void ReadEntry(int32_t& blockNumber, TBRNMemoryStream& stream);

  bool VerifyContents(bool& errorsFound, bool repair) override;
  // Takes the timestamp of the old file when a table is rebuilt.
  void CopyHeaderFrom(const TBRNTableFileManager& old) override;

 protected:
  TBRNTableFileBuffer* CreateBuffer() override { return new TBRNPublishedUpdatesBlock(this); }
  void ReadHeader(bool check) override;
  void InitHeader() override;
  void ReadHeaderFields(TBRNMemoryStream& stream) override;
  void WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) override;

 private:
  int64_t lastUpdateTimestamp_ = 0;
};

}  // namespace brn
