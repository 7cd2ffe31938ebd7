#pragma once

#include <cstdint>
#include <vector>

namespace brn {

class TBRNTableFileManager;

// The files of one table (rows, indexes, BLOBs, published updates), seen
// together for the two brackets that must span all of them. The set views
// its files; whoever owns the files (the table manager) owns the set, and a
// file removes itself when it is destroyed first. Used by the table's
// session thread only.
//
// Operation bracket: one row change, index split or other multi-block
// change, opened by the write path through TBRNTableOperation. While it is
// open, every file of the table keeps the before-image of each block the
// operation pins and the header fields as they stood, and no flush (for
// room or asked for) writes anything: the cache grows instead. Commit
// releases the images (into the enclosing operation when one is open);
// rollback restores exactly those blocks and header fields in every file and
// nothing that earlier operations were told had succeeded. Operations nest:
// a statement holds one around all its row changes, so that a failed
// statement undoes itself and nothing else, in a transaction as well.
//
// Flush bracket: every file with changes gets its write-in-progress header
// before any block of any file is written, and loses it only after the last
// block of every file: a flush cut short (a killed process, a power loss)
// leaves the table marked for repair, and no flushed change stands in one
// file without the rest. A flush that fails with an error puts every file
// back as it stood, flag cleared, and leaves the caches as before it; only
// when that fails too does the table stay marked for repair.
class TBRNTableFileSet {
 public:
  TBRNTableFileSet() = default;
  // Detaches the files that are still members.
  ~TBRNTableFileSet();
  TBRNTableFileSet(const TBRNTableFileSet&) = delete;
  TBRNTableFileSet& operator=(const TBRNTableFileSet&) = delete;

  // A file belongs to one set at a time; std::logic_error while an operation
  // is open or when the file is in another set.
  void Add(TBRNTableFileManager* file);
  void Remove(TBRNTableFileManager* file);
  const std::vector<TBRNTableFileManager*>& GetFiles() const { return files_; }

  // The operation bracket (see above). Every Begin is matched by one Commit
  // or one Rollback; std::logic_error for a Commit or Rollback with nothing
  // open. Rollback restores every file even when one of them fails, then
  // raises the first failure.
  void BeginOperation();
  void CommitOperation();
  void RollbackOperation();
  int32_t GetOperationDepth() const { return depth_; }

  // A batch: an operation whose nested operations fold into it. A nested
  // operation saves no header fields and notes no block images of its own
  // (the batch's level holds them, each block once), so a run of small
  // changes costs one frame. The price is a coarser undo: a nested
  // operation that rolls back cannot put back only its own part; it marks
  // the batch failed, and from then on a nested Begin raises
  // std::logic_error and CommitOperation of the batch rolls the whole batch
  // back and raises std::logic_error. The caller of BeginBatch therefore
  // rolls the batch back whenever a change inside it fails. A batch is
  // ended by CommitOperation or RollbackOperation at its own depth;
  // std::logic_error for a batch inside a batch.
  void BeginBatch();
  bool InBatch() const { return batchDepth_ != 0; }

  // The flush protocol over every file of the table that has changes (see
  // above); osFlush makes each of the three steps durable before the next.
  // std::logic_error inside an open operation.
  void Flush(bool osFlush);
  // The same over any files (a file without a set flushes this way alone).
  static void FlushFiles(const std::vector<TBRNTableFileManager*>& files, bool osFlush);

 private:
  // Puts the files of a failed flush back as they stood before it; never
  // raises (the flush's error is the one reported).
  static void restoreFiles(const std::vector<TBRNTableFileManager*>& files, bool osFlush);

  std::vector<TBRNTableFileManager*> files_;
  int32_t depth_ = 0;
  // The depth of the open batch's own level (0: none), and whether an
  // operation folded into it rolled back.
  int32_t batchDepth_ = 0;
  bool batchFailed_ = false;
};

// One operation over a file's table for a scope: opened on the file's set,
// or on the file alone when it has none. Commit ends it as a success; a
// scope left without Commit (an exception) rolls it back, swallowing a
// failure of the rollback itself since another error is already unwinding.
class TBRNTableOperation {
 public:
  explicit TBRNTableOperation(TBRNTableFileManager* file);
  ~TBRNTableOperation();
  TBRNTableOperation(const TBRNTableOperation&) = delete;
  TBRNTableOperation& operator=(const TBRNTableOperation&) = delete;

  void Commit();

 private:
  TBRNTableFileManager* file_;
  TBRNTableFileSet* set_;
  bool open_ = false;
};

}  // namespace brn
