#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"
#include "storage/files/buffer_cache.h"
#include "storage/files/table_file_host.h"

namespace brn {

class TBRNCompressionManager;
class TBRNFileManager;
class TBRNFileStream;
class TBRNStream;
class TBRNTableFileSet;

enum class TBRNTableFileAccess : uint8_t { Shared = 0, Exclusive = 1, InTransaction = 2 };

// The common base of a table's paged files: the header record, fixed-size
// blocks numbered from 1 with a free list, the buffer cache, the flush
// protocol with its write-in-progress flag, the change counter through which
// sessions and processes sharing the file notice each other's writes,
// encryption, backup streams, ".Old" copies and header verification.
//
// One manager serves one session's thread and is never shared; the file
// stream's critical section is held around every multi-step file access.
// Numbers read from the file (block count, free-list head, links) are checked
// before they are used: damage raises 601, never an access outside the file.
class TBRNTableFileManager {
 public:
  static constexpr int32_t kCommonHeaderSize = 54;
  static constexpr int32_t kMaxRunBytes = 1048576;
  // A flush under the exclusive or transaction lock writes dirty blocks
  // apart by at most this many bytes of clean cached blocks as one run.
  static constexpr int32_t kMaxGapBytes = 4096;
  static constexpr int32_t kBackupChunkSize = 65536;

  TBRNTableFileManager(TBRNTableFileHost* host, TBRNFileManager* files);
  // Closes the file without flushing and frees the cache: call Close first
  // to keep the changes of exclusive mode.
  virtual ~TBRNTableFileManager();
  TBRNTableFileManager(const TBRNTableFileManager&) = delete;
  TBRNTableFileManager& operator=(const TBRNTableFileManager&) = delete;

  // Header fields.
  uint32_t Checksum = 0;
  TBRNDigest SignatureDigest;
  int32_t CharacterSetFlag = 0;
  bool EncryptedFlag = false;
  TBRNDigest PasswordDigest;
  int32_t ChangeCounter = 0;
  int32_t FreeListHead = 0;
  int32_t NextBlock = 1;
  bool WriteInProgress = false;

  // Statistics.
  int64_t CacheHits = 0;
  int64_t CacheMisses = 0;
  int64_t DiskReads = 0;
  int64_t BytesRead = 0;
  int64_t DiskWrites = 0;
  int64_t BytesWritten = 0;

  TBRNTableFileHost* GetHost() const { return host_; }
  TBRNFileManager* GetFileManager() const { return files_; }
  bool IsOpen() const { return stream_ != nullptr; }
  TBRNTableFileAccess GetAccessMode() const { return access_; }
  bool GetHeaderModified() const { return headerModified_; }
  void SetHeaderModified() { headerModified_ = true; }

  // The kind's fixed facts.
  virtual std::string GetFileExtension() const = 0;
  virtual int32_t GetHeaderAreaSize() const = 0;
  // The record size, a multiple of 8 (descendants add their fields).
  virtual int32_t GetHeaderRecordSize() const { return 56; }
  virtual std::string GetBlockKindName() const = 0;
  virtual int32_t GetCacheCapacity() const = 0;
  virtual int32_t GetBlockSize() const = 0;
  virtual int32_t GetBufferSize() const = 0;
  // A block missed without read-ahead comes with its neighbours of about
  // this many bytes in the same read (0: alone), for kinds whose blocks are
  // small and read at random.
  virtual int32_t GetMissRunBytes() const { return 0; }

  // Names: folder + table name + extension, and that + ".Old".
  std::string GetFileName() const;
  std::string GetOldFileName() const { return GetFileName() + ".Old"; }

  // Lifecycle.
  void OpenOrCreate();
  void Open();
  void Close();
  void Refresh();
  // Re-reads the header; a moved change counter empties the cache (pinned
  // buffers die when released) and answers true.
  bool HasChanged();
  void RefreshIfShared();
  void BeginTransaction();
  void CommitTransaction(bool osFlush, bool trim);
  void RollbackTransaction();
  virtual void DiscardChanges();
  // The flush protocol: header with the write-in-progress flag and the
  // change counter advanced, the dirty blocks, the header without the flag.
  // With osFlush each step reaches the disk before the next begins. A file
  // of a table file set flushes the whole table (TBRNTableFileSet::Flush).
  // std::logic_error inside an open operation.
  virtual void Flush(bool osFlush);
  void IncrementChangeCounter();
  void Empty();
  void ClearStatistics();
  void ResetStatistics();

  // The table this file belongs to (nullptr: the file stands alone). Set by
  // TBRNTableFileSet::Add and cleared by Remove.
  TBRNTableFileSet* GetFileSet() const { return fileSet_; }

  // The operation levels of this file alone; writers open them through
  // TBRNTableOperation, which goes through the file's set when it has one.
  // While a level is open, every block pinned keeps its before-image (or
  // the note that it was clean) and a hold (HoldBuffer) until it is
  // released unchanged; the cache grows instead of flushing; the header
  // fields are kept as they stood
  // when the level opened. Commit hands the images to the level outside it
  // (or drops them); rollback restores exactly the blocks and header fields
  // of the level: clean blocks leave the cache (disk holds their image),
  // appended blocks go, changed dirty blocks take their image back.
  // Emptying the cache inside a level (another writer's change, a discard)
  // leaves that level nothing to restore.
  void BeginOperation();
  void CommitOperation();
  void RollbackOperation();
  int32_t GetOperationDepth() const { return operationDepth_; }

  // Blocks.
  int32_t GetBlockCount() const { return NextBlock - 1; }
  int32_t GetFreeOrNextBlock() const { return FreeListHead != 0 ? FreeListHead : NextBlock; }
  void SetFreeListHead(int32_t head);
  // 407 when block NextBlock would end past the file size limit.
  virtual void CheckFileFull();

  // The cache. GetBuffer answers a pinned buffer, or nullptr with restart
  // set when another writer changed the table (the cache is then empty and
  // the caller starts its operation again). Direction 0 none, 1 forward, 2
  // backward. A hit touches no lock and no virtual call; a miss takes the
  // table's Read bracket around its change check and read (see
  // TBRNTableFileHost::BeginRead for the bracket its caller holds).
  TBRNTableFileBuffer* GetBuffer(int32_t blockNumber, bool readAhead, uint8_t direction,
                                 int32_t readAheadCount, bool& restart) {
    TBRNTableFileBuffer* buffer = blocks_.Find(blockNumber);
    if (buffer == nullptr || blockNumber == NextBlock) {
      return getBufferSlow(blockNumber, readAhead, direction, readAheadCount, restart);
    }
    restart = false;
    buffer->Referenced = true;
    ++CacheHits;
    ++buffer->PinCount;
    buffer->EnsureHeaderRead();
    if (operationDepth_ > 0) notePinned(buffer);
    return buffer;
  }
  // Unpins; nullptr is ignored.
  void ReleaseBuffer(TBRNTableFileBuffer* buffer) {
    if (buffer == nullptr) return;
    if (buffer->PinCount > 0) --buffer->PinCount;
    if (buffer->Dead || (buffer->Modified && !buffer->Queued) || operationDepth_ > 0) {
      releaseSlow(buffer);
    }
  }
  int32_t GetReadAheadCount() const { return capacity_ / 4; }
  void FlushBuffers();
  void TrimCache(bool toHighWater);
  void DropCache(bool onlyModified);
  void SetCacheCapacity(int32_t capacity);
  int32_t GetCapacity() const { return capacity_; }
  int32_t GetBufferCount() const { return int32_t(cached_.size()); }
  int32_t GetDirtyCount() const { return dirtyCount_; }
  int32_t GetDirtyHighWater() const { return dirtyHighWater_; }
  // Buffers dropped while pinned and not yet released.
  int32_t GetDeadCount() const { return int32_t(dead_.size()); }
  // The cached buffer of a block, or nullptr; does not pin or count.
  TBRNTableFileBuffer* FindBuffer(int32_t blockNumber) const { return blocks_.Find(blockNumber); }
  // An open operation bracket holds the blocks it changes: a held buffer is
  // never evicted or trimmed, and while any buffer is held a full cache
  // grows past its capacity instead of flushing for room. Every Hold is
  // matched by one Unhold; dropping the buffer from the cache drops its
  // holds.
  void HoldBuffer(TBRNTableFileBuffer* buffer);
  void UnholdBuffer(TBRNTableFileBuffer* buffer);
  // Holds on the cached buffers.
  int32_t GetHeldCount() const { return heldCount_; }

  // Maintenance.
  void Rename(const std::string& newTableName);
  void MakeOldCopy(bool byRename);
  void RestoreOldCopy(bool byRename);
  void DeleteOldCopy();
  void DeleteFile();
  bool WriteBackup(TBRNStream& stream, int64_t& bytesDone, int64_t totalBytes,
                   int32_t compressionLevel, bool leaveDataOut);
  bool ReadBackup(TBRNStream& stream, int64_t& bytesDone, int64_t totalBytes,
                  int32_t compressionLevel);
  bool Verify(bool& errorsFound, bool repair);
  virtual bool VerifyHeader(bool& errorsFound, bool repair);
  virtual bool VerifyContents(bool& errorsFound, bool repair);
  virtual void LogVerifyError(const std::string& message, const std::string& subObjectKind,
                              const std::string& subObjectName, bool repair);

  [[noreturn]] virtual void RaiseCorrupt(const std::string& message) const;
  [[noreturn]] void RaiseMetadataError(const std::string& message) const;
  [[noreturn]] virtual void RaiseBackupReadError();
  [[noreturn]] virtual void RaiseBackupWriteError();
  [[noreturn]] virtual void RaiseBackupUnknownError(const std::string& message);
  [[noreturn]] virtual void RaiseRestoreReadError();
  [[noreturn]] virtual void RaiseRestoreWriteError();
  [[noreturn]] virtual void RaiseRestoreUnknownError(const std::string& message);

 protected:
  virtual void ReadHeader(bool check);
  virtual void InitHeader();
  virtual void ReadHeaderFields(TBRNMemoryStream& stream);
  virtual void CheckHeader();
  virtual void WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter);
  virtual void CopyHeaderFrom(const TBRNTableFileManager&) {}
  virtual void AllocateBlockNumber();
  virtual TBRNTableFileBuffer* CreateBuffer() = 0;

  // The common rule of the descendants' allocate and free operations. The
  // allocated buffer is pinned, zeroed, reset and modified; nullptr with
  // restart set when another writer changed the table.
  TBRNTableFileBuffer* AllocateBlockBuffer(bool& restart);
  void FreeBlockBuffer(TBRNTableFileBuffer* buffer);

  TBRNFileStream* GetStream() const { return stream_.get(); }
  void ResetAccessMode();

 private:
  friend class TBRNTableFileSet;
  friend class TBRNTableOperation;
  // The flush for room deferred by earlier operations, over the file's set.
  void flushDeferredRoom();

  // A block as an operation level first saw it.
  struct BlockImage {
    bool Kept = false;  // Bytes hold the block; else it was clean
    int32_t NextLink = 0;
    std::vector<uint8_t> Bytes;
  };
  struct OperationLevel {
    TBRNMemoryStream Header;
    bool HeaderModified = false;
    bool TruncatePending = false;
    // The cache was emptied inside the level: nothing left to restore.
    bool Stale = false;
    std::unordered_map<int32_t, BlockImage> Blocks;
  };

  // The three steps of the flush protocol, each holding the file: the
  // header with the write-in-progress flag, the blocks, the header without
  // it. sync: reach the disk before the step ends.
  bool flushNeeded() const { return headerModified_ || dirtyCount_ > 0 || truncatePending_; }
  bool flushBracketed() const;
  void beginFlush(bool sync);
  void flushBlocks(bool sync);
  void endFlush(bool sync);

  // What a flush writes over, kept from its start to its end so that a
  // failed flush can put the file back byte for byte: the file's length,
  // the old bytes of the header record and of every block range written
  // over (appended blocks need only the length), and the cache's own state
  // before the flush. Old bytes are read from the file just before they
  // are overwritten, inside the flush's Write bracket.
  struct FlushUndo {
    bool Active = false;
    // The flush wrote (or tried to write) this file.
    bool Touched = false;
    // The header without the flag was written (or tried): the file must be
    // flagged again before any old block goes back.
    bool Cleared = false;
    // Every byte past the header area is kept already (an emptied file).
    bool Whole = false;
    // A truncation cut more bytes than are kept: no way back.
    bool Lost = false;
    int64_t Size = 0;
    std::vector<uint8_t> Header;
    // One per block run, allocated without filling: a big flush neither
    // copies its old bytes while they grow nor clears them first.
    struct Range {
      int64_t Offset = 0;
      size_t Length = 0;
      std::unique_ptr<uint8_t[]> Bytes;
    };
    std::vector<Range> Ranges;
    // The blocks the flush took as dirty, sorted, once it took them.
    bool Taken = false;
    TBRNTableFileBuffers Written;
    int32_t ChangeCounter = 0;
    int32_t DirtyCount = 0;
    bool WriteInProgress = false;
    bool HeaderModified = false;
    bool TruncatePending = false;
  };
  // An emptied file's old blocks are kept up to this many bytes; a longer
  // one, once cut, leaves a failed flush to repair.
  static constexpr int64_t kMaxKeptTailBytes = int64_t(64) * 1048576;
  // Starts the record: the length, the header record and the cache state.
  void openFlushUndo();
  // Keeps the bytes of [offset, offset + length) that the file holds.
  void keepOldBytes(int64_t offset, int64_t length);
  // The truncation of an emptied file, its old blocks kept first.
  void truncateToHeaderArea();
  // The way back, each step over every file before the next: the flag
  // again where it was cleared, the old blocks and length, the old header;
  // so that a header without the flag never stands over a mix of blocks.
  void reflagHeader(bool sync);
  void restoreBlocks(bool sync);
  void restoreHeader(bool sync);
  // The cache as before the flush: every block it took dirty again, the
  // counters and flags as they stood; restored tells whether the file is
  // back as it was (else its flag may be set on disk).
  void restoreFlushState(bool restored);
  void closeFlushUndo();
  // The header fields as they stand, into a stream and back.
  void saveHeaderFields(TBRNMemoryStream& stream, bool& modified);
  void restoreHeaderFields(TBRNMemoryStream& stream, bool modified);
  // Operation hooks of the cache.
  void notePinned(TBRNTableFileBuffer* buffer);
  void noteReleased(TBRNTableFileBuffer* buffer);
  void staleOperations();
  // Takes a buffer out of the cache and out of the dirty blocks.
  void forgetBuffer(TBRNTableFileBuffer* buffer);

  void createNewFile();
  void writeHeaderRecord(bool incrementCounter);
  void closeStream();
  // Header fields that later block accesses rely on.
  void checkHeaderBounds() const;
  bool isPlainHeader();

  // Cache internals.
  TBRNTableFileBuffer* getBufferSlow(int32_t blockNumber, bool readAhead, uint8_t direction,
                                     int32_t readAheadCount, bool& restart);
  void releaseSlow(TBRNTableFileBuffer* buffer);
  TBRNTableFileBuffer* acquireBuffer(int32_t blockNumber);
  TBRNTableFileBuffer* newBuffer(int32_t blockNumber);
  TBRNTableFileBuffer* reuseBuffer(int32_t blockNumber);
  static bool isEvictable(const TBRNTableFileBuffer* buffer);
  TBRNTableFileBuffer* findEvictable();
  // Reads count blocks from first in one read; the first needed blocks
  // must be in the file. Fills the cache with them, blockNumber last, or
  // with keep only blockNumber, keeping the run's bytes.
  void readAhead(int32_t blockNumber, int32_t first, int32_t count, int32_t needed, bool keep);
  // A fresh buffer for a block that is not cached, filled with bytes.
  void installBlock(int32_t blockNumber, const uint8_t* bytes);
  // The runs read around missed blocks, as they stand on disk: a later miss
  // inside one is served without a read, and a flush may fill a gap with
  // them. Every block write updates them; dropping the cache drops them.
  struct KeptRun {
    int32_t First = 0;
    int32_t Count = 0;  // blocks held, 0 when none
    std::vector<uint8_t> Bytes;
  };
  static constexpr int32_t kKeptRuns = 16;
  // Blocks in the run around a missed block (1: the block alone).
  int32_t missSpan() const;
  // The slot of the run that would hold a block, nullptr when none are kept.
  KeptRun* keptRunOf(int32_t blockNumber);
  // The kept bytes of a block, or nullptr.
  uint8_t* keptBlock(int32_t blockNumber);
  void dropKeptRuns();
  void addToTable(TBRNTableFileBuffer* buffer);
  void removeFromTable(TBRNTableFileBuffer* buffer);
  // Takes the buffer out of the cached list and hands over its ownership.
  std::unique_ptr<TBRNTableFileBuffer> unlistBuffer(TBRNTableFileBuffer* buffer);
  // Takes the buffer out of the cache and frees it, or marks it dead when
  // it is pinned.
  void discardBuffer(TBRNTableFileBuffer* buffer);
  void freeAllBuffers();

  TBRNTableFileHost* host_;
  TBRNFileManager* files_;
  std::string tableName_;
  std::string extension_;
  std::unique_ptr<TBRNFileStream> stream_;
  TBRNMemoryStream headerStream_;
  TBRNMemoryStream readAheadStream_;
  int32_t readAheadFirst_ = 0;
  int32_t readAheadLast_ = 0;
  TBRNMemoryStream flushStream_;
  // Every cached buffer, owned; a buffer's CacheIndex is its place here.
  // The eviction clock's hand walks it round.
  std::vector<std::unique_ptr<TBRNTableFileBuffer>> cached_;
  size_t clockHand_ = 0;
  // The cached buffers by block number.
  TBRNBlockTable blocks_;
  int32_t capacity_ = 0;
  int32_t heldCount_ = 0;
  // An exclusive cache grew past its capacity because an open operation
  // kept it from flushing for room: the next outermost operation flushes
  // the table first.
  bool roomDeferred_ = false;
  // The last eviction round inside an operation found no victim.
  bool sweptEmpty_ = false;
  std::vector<KeptRun> keptRuns_;
  TBRNTableFileBuffers dirty_;
  int32_t dirtyCount_ = 0;
  int32_t dirtyHighWater_ = 0;
  std::vector<std::unique_ptr<TBRNTableFileBuffer>> dead_;
  TBRNTableFileAccess access_ = TBRNTableFileAccess::Shared;
  bool headerModified_ = false;
  bool truncatePending_ = false;
  std::unique_ptr<TBRNCompressionManager> compression_;
  TBRNTableFileSet* fileSet_ = nullptr;
  // Levels 0 .. operationDepth_ - 1 are open; the ones above are kept for
  // reuse.
  std::vector<std::unique_ptr<OperationLevel>> operations_;
  int32_t operationDepth_ = 0;
  FlushUndo flushUndo_;
};

}  // namespace brn
