#include "storage/files/table_file_set.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "foundation/files/file_manager.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_guards.h"

namespace brn {

// ---- Operation levels of one file ----

void TBRNTableFileManager::BeginOperation() {
  if (operationDepth_ == int32_t(operations_.size())) {
    operations_.push_back(std::make_unique<OperationLevel>());
  }
  OperationLevel& level = *operations_[size_t(operationDepth_)];
  level.Blocks.clear();
  level.Stale = false;
  level.TruncatePending = truncatePending_;
  saveHeaderFields(level.Header, level.HeaderModified);
  ++operationDepth_;
}

void TBRNTableFileManager::CommitOperation() {
  if (operationDepth_ == 0) throw std::logic_error("commit without an open operation");
  OperationLevel& level = *operations_[size_t(--operationDepth_)];
  // The enclosing level keeps the image it saw first (the older one) with
  // its hold; the images it has no use for let their blocks go.
  OperationLevel* outer =
      operationDepth_ > 0 ? operations_[size_t(operationDepth_ - 1)].get() : nullptr;
  for (auto& [block, image] : level.Blocks) {
    if (outer == nullptr || !outer->Blocks.try_emplace(block, std::move(image)).second) {
      if (TBRNTableFileBuffer* buffer = FindBuffer(block)) UnholdBuffer(buffer);
    }
  }
  level.Blocks.clear();
}

void TBRNTableFileManager::RollbackOperation() {
  if (operationDepth_ == 0) throw std::logic_error("rollback without an open operation");
  OperationLevel& level = *operations_[size_t(--operationDepth_)];
  if (level.Stale) {
    // The blocks pinned since the cache was emptied are let go as they are.
    for (const auto& entry : level.Blocks) {
      if (TBRNTableFileBuffer* buffer = FindBuffer(entry.first)) UnholdBuffer(buffer);
    }
    level.Blocks.clear();
    return;
  }
  // The header first: blocks appended inside the level lie at or beyond the
  // restored NextBlock and leave the cache with the rest.
  restoreHeaderFields(level.Header, level.HeaderModified);
  truncatePending_ = level.TruncatePending;
  for (auto& [block, image] : level.Blocks) {
    TBRNTableFileBuffer* buffer = FindBuffer(block);
    if (buffer == nullptr) continue;
    if (!image.Kept) {
      if (buffer->Modified || block >= NextBlock) {
        forgetBuffer(buffer);
      } else {
        UnholdBuffer(buffer);
      }
      continue;
    }
    UnholdBuffer(buffer);
    buffer->BlockStream.SetSize(int64_t(image.Bytes.size()));
    std::memcpy(buffer->Data(), image.Bytes.data(), image.Bytes.size());
    buffer->ReadHeader();
    buffer->NextLink = image.NextLink;
    buffer->HeaderRead = true;
    buffer->Modified = true;
  }
  level.Blocks.clear();
}

void TBRNTableFileManager::saveHeaderFields(TBRNMemoryStream& stream, bool& modified) {
  modified = headerModified_;
  stream.SetSize(0);
  stream.SetSize(GetHeaderRecordSize());
  stream.SetPosition(0);
  WriteHeaderFields(stream, false);
}

void TBRNTableFileManager::restoreHeaderFields(TBRNMemoryStream& stream, bool modified) {
  stream.SetPosition(0);
  ReadHeaderFields(stream);
  headerModified_ = modified;
}

void TBRNTableFileManager::notePinned(TBRNTableFileBuffer* buffer) {
  OperationLevel& level = *operations_[size_t(operationDepth_ - 1)];
  auto [it, added] = level.Blocks.try_emplace(buffer->BlockNumber);
  if (!added) return;
  HoldBuffer(buffer);
  if (!buffer->Modified) return;
  // A clean block's image is on disk; a dirty one's is kept here, with its
  // header fields written into its bytes.
  BlockImage& image = it->second;
  buffer->WriteHeader();
  image.Kept = true;
  image.NextLink = buffer->NextLink;
  image.Bytes.assign(buffer->Data(), buffer->Data() + buffer->GetSize());
}

void TBRNTableFileManager::noteReleased(TBRNTableFileBuffer* buffer) {
  // Released unchanged: nothing of it to restore.
  if (buffer->PinCount == 0 && !buffer->Modified &&
      operations_[size_t(operationDepth_ - 1)]->Blocks.erase(buffer->BlockNumber) > 0) {
    UnholdBuffer(buffer);
  }
}

void TBRNTableFileManager::staleOperations() {
  for (int32_t i = 0; i < operationDepth_; ++i) {
    OperationLevel& level = *operations_[size_t(i)];
    level.Stale = true;
    for (const auto& entry : level.Blocks) {
      if (TBRNTableFileBuffer* buffer = FindBuffer(entry.first)) UnholdBuffer(buffer);
    }
    level.Blocks.clear();
  }
}

void TBRNTableFileManager::forgetBuffer(TBRNTableFileBuffer* buffer) {
  if (buffer->Queued) {
    auto it = std::find(dirty_.begin(), dirty_.end(), buffer);
    if (it != dirty_.end()) dirty_.erase(it);
    if (dirtyCount_ > 0) --dirtyCount_;
    buffer->Queued = false;
  }
  buffer->Modified = false;
  discardBuffer(buffer);
}

// ---- The flush protocol of one file, step by step ----

bool TBRNTableFileManager::flushBracketed() const {
  return !host_->IsTransient() && !host_->IsTemporary();
}

void TBRNTableFileManager::beginFlush(bool sync) {
  if (stream_ == nullptr) throw std::logic_error("flush of a closed table file");
  flushUndo_.Touched = true;
  if (!flushBracketed()) return;
  TableFileHold hold(stream_.get());
  WriteInProgress = true;
  writeHeaderRecord(true);
  // The flag must be durable before any block can be: a power loss then
  // never leaves torn blocks under a header that says all is well.
  if (sync) stream_->Flush();
}

void TBRNTableFileManager::flushBlocks(bool sync) {
  TableFileHold hold(stream_.get());
  FlushBuffers();
  if (sync && flushBracketed()) stream_->Flush();
}

void TBRNTableFileManager::endFlush(bool sync) {
  TableFileHold hold(stream_.get());
  if (flushBracketed()) flushUndo_.Cleared = true;
  WriteInProgress = false;
  writeHeaderRecord(false);
  if (sync && flushBracketed()) stream_->Flush();
  headerModified_ = false;
}

// ---- The way back from a failed flush ----

void TBRNTableFileManager::openFlushUndo() {
  FlushUndo& undo = flushUndo_;
  undo.Touched = undo.Cleared = undo.Whole = undo.Lost = undo.Taken = false;
  undo.Ranges.clear();
  undo.Written.clear();
  undo.ChangeCounter = ChangeCounter;
  undo.DirtyCount = dirtyCount_;
  undo.WriteInProgress = WriteInProgress;
  undo.HeaderModified = headerModified_;
  undo.TruncatePending = truncatePending_;
  TableFileHold hold(stream_.get());
  undo.Size = stream_->GetSize();
  undo.Header.resize(size_t(std::min<int64_t>(undo.Size, GetHeaderRecordSize())));
  if (!undo.Header.empty()) {
    stream_->Seek(0, 0);
    int32_t got = stream_->Read(undo.Header.data(), int32_t(undo.Header.size()));
    if (got != int32_t(undo.Header.size())) RaiseCorrupt("Error reading header from disk");
  }
  undo.Active = true;
}

void TBRNTableFileManager::keepOldBytes(int64_t offset, int64_t length) {
  FlushUndo& undo = flushUndo_;
  if (!undo.Active || undo.Whole) return;
  int64_t end = std::min(offset + length, undo.Size);
  if (offset >= end) return;
  FlushUndo::Range range;
  range.Offset = offset;
  range.Length = size_t(end - offset);
  range.Bytes.reset(new uint8_t[range.Length]);
  stream_->Seek(0, offset);
  int32_t got = stream_->Read(range.Bytes.get(), int32_t(range.Length));
  if (got != int32_t(range.Length)) {
    RaiseCorrupt(FormatText("Error reading %ss from disk", {GetBlockKindName()}));
  }
  undo.Ranges.push_back(std::move(range));
}

void TBRNTableFileManager::truncateToHeaderArea() {
  FlushUndo& undo = flushUndo_;
  int64_t headerArea = GetHeaderAreaSize();
  if (undo.Active && !undo.Whole && !undo.Lost) {
    if (undo.Size - headerArea <= kMaxKeptTailBytes) {
      keepOldBytes(headerArea, undo.Size - headerArea);
      undo.Whole = true;
    } else {
      undo.Lost = true;
    }
  }
  stream_->SetSize(headerArea);
  truncatePending_ = false;
}

void TBRNTableFileManager::reflagHeader(bool sync) {
  if (!flushUndo_.Active || !flushUndo_.Cleared) return;
  TableFileHold hold(stream_.get());
  WriteInProgress = true;
  writeHeaderRecord(false);
  if (sync) stream_->Flush();
}

void TBRNTableFileManager::restoreBlocks(bool sync) {
  FlushUndo& undo = flushUndo_;
  if (!undo.Active || !undo.Touched) return;
  if (undo.Lost) throw std::runtime_error("the old blocks were not kept");
  TableFileHold hold(stream_.get());
  for (const FlushUndo::Range& range : undo.Ranges) {
    stream_->Seek(0, range.Offset);
    stream_->Write(range.Bytes.get(), int32_t(range.Length));
  }
  if (stream_->GetSize() != undo.Size) stream_->SetSize(undo.Size);
  if (sync && flushBracketed()) stream_->Flush();
}

void TBRNTableFileManager::restoreHeader(bool sync) {
  FlushUndo& undo = flushUndo_;
  if (!undo.Active || !undo.Touched) return;
  TableFileHold hold(stream_.get());
  if (!undo.Header.empty()) {
    stream_->Seek(0, 0);
    stream_->Write(undo.Header.data(), int32_t(undo.Header.size()));
  }
  if (sync && flushBracketed()) stream_->Flush();
}

void TBRNTableFileManager::restoreFlushState(bool restored) {
  FlushUndo& undo = flushUndo_;
  if (!undo.Active) return;
  // The blocks are on disk as before (or in doubt): all of them are dirty
  // again, so that the caller may discard them or flush them once more.
  if (undo.Taken) {
    for (TBRNTableFileBuffer* buffer : undo.Written) {
      buffer->Modified = true;
      buffer->Queued = true;
    }
    if (access_ == TBRNTableFileAccess::Exclusive) {
      dirty_.clear();
    } else {
      dirty_ = undo.Written;
    }
  }
  dirtyCount_ = undo.DirtyCount;
  truncatePending_ = undo.TruncatePending;
  // The kept runs may hold bytes that the disk no longer has.
  dropKeptRuns();
  if (restored || !undo.Touched) {
    ChangeCounter = undo.ChangeCounter;
    WriteInProgress = undo.WriteInProgress;
    headerModified_ = undo.HeaderModified;
  } else {
    // The header on disk is in doubt: the next flush writes it in any case.
    headerModified_ = true;
  }
}

void TBRNTableFileManager::closeFlushUndo() {
  FlushUndo& undo = flushUndo_;
  undo.Active = false;
  undo.Written.clear();
  undo.Ranges.clear();
}

void TBRNTableFileManager::Flush(bool osFlush) {
  if (fileSet_ != nullptr) {
    fileSet_->Flush(osFlush);
  } else {
    TBRNTableFileSet::FlushFiles({this}, osFlush);
  }
}

// ---- TBRNTableFileSet ----

TBRNTableFileSet::~TBRNTableFileSet() {
  for (TBRNTableFileManager* file : files_) file->fileSet_ = nullptr;
}

void TBRNTableFileSet::Add(TBRNTableFileManager* file) {
  if (file == nullptr) throw std::invalid_argument("no table file");
  if (file->fileSet_ == this) return;
  if (file->fileSet_ != nullptr) throw std::logic_error("table file already in a set");
  if (depth_ > 0 || file->operationDepth_ > 0) {
    throw std::logic_error("table file added inside an open operation");
  }
  files_.push_back(file);
  file->fileSet_ = this;
}

void TBRNTableFileSet::Remove(TBRNTableFileManager* file) {
  auto it = std::find(files_.begin(), files_.end(), file);
  if (it == files_.end()) return;
  files_.erase(it);
  file->fileSet_ = nullptr;
}

void TBRNTableFileSet::BeginOperation() {
  if (batchDepth_ != 0) {
    if (batchFailed_) throw std::logic_error("operation inside a failed batch");
    ++depth_;
    return;
  }
  size_t begun = 0;
  try {
    for (; begun < files_.size(); ++begun) files_[begun]->BeginOperation();
  } catch (...) {
    while (begun > 0) files_[--begun]->CommitOperation();
    throw;
  }
  ++depth_;
}

void TBRNTableFileSet::BeginBatch() {
  if (batchDepth_ != 0) throw std::logic_error("batch inside a batch");
  BeginOperation();
  batchDepth_ = depth_;
  batchFailed_ = false;
}

void TBRNTableFileSet::CommitOperation() {
  if (depth_ == 0) throw std::logic_error("commit without an open operation");
  if (batchDepth_ != 0 && depth_ > batchDepth_) {
    --depth_;
    return;
  }
  if (batchDepth_ == depth_ && batchFailed_) {
    RollbackOperation();
    throw std::logic_error("commit of a batch in which a change failed");
  }
  if (batchDepth_ == depth_) batchDepth_ = 0;
  --depth_;
  for (TBRNTableFileManager* file : files_) file->CommitOperation();
}

void TBRNTableFileSet::RollbackOperation() {
  if (depth_ == 0) throw std::logic_error("rollback without an open operation");
  if (batchDepth_ != 0 && depth_ > batchDepth_) {
    // Only the whole batch can be put back.
    --depth_;
    batchFailed_ = true;
    return;
  }
  if (batchDepth_ == depth_) {
    batchDepth_ = 0;
    batchFailed_ = false;
  }
  --depth_;
  std::exception_ptr first;
  for (TBRNTableFileManager* file : files_) {
    try {
      file->RollbackOperation();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TBRNTableFileSet::Flush(bool osFlush) {
  FlushFiles(files_, osFlush);
}

void TBRNTableFileSet::FlushFiles(const std::vector<TBRNTableFileManager*>& files, bool osFlush) {
  std::vector<TBRNTableFileManager*> changed;
  for (TBRNTableFileManager* file : files) {
    if (file->flushNeeded()) changed.push_back(file);
  }
  if (changed.empty()) return;
  for (TBRNTableFileManager* file : changed) {
    if (file->operationDepth_ > 0) throw std::logic_error("flush inside an open operation");
    if (file->stream_ == nullptr) throw std::logic_error("flush of a closed table file");
  }
  // Every file's Write bracket for the whole flush: no other session or
  // process reads a header of the table in between.
  struct WriteBrackets {
    std::vector<TBRNTableFileHost*> Hosts;
    ~WriteBrackets() {
      for (auto it = Hosts.rbegin(); it != Hosts.rend(); ++it) (*it)->EndWrite();
    }
  } brackets;
  brackets.Hosts.reserve(changed.size());
  for (TBRNTableFileManager* file : changed) {
    file->host_->BeginWrite();
    brackets.Hosts.push_back(file->host_);
  }
  // A failed flush puts every file back as it stood, blocks before headers
  // (the same order as the flush, so that no header without the flag ever
  // stands over new blocks), and leaves the cache as before the flush. Only
  // when putting back fails too do the flags stay set.
  struct UndoRecords {
    const std::vector<TBRNTableFileManager*>& Files;
    ~UndoRecords() {
      for (TBRNTableFileManager* file : Files) file->closeFlushUndo();
    }
  } undo{changed};
  for (TBRNTableFileManager* file : changed) file->openFlushUndo();
  try {
    for (TBRNTableFileManager* file : changed) file->beginFlush(osFlush);
    for (TBRNTableFileManager* file : changed) file->flushBlocks(osFlush);
    for (TBRNTableFileManager* file : changed) file->endFlush(osFlush);
  } catch (...) {
    restoreFiles(changed, osFlush);
    throw;
  }
}

void TBRNTableFileSet::restoreFiles(const std::vector<TBRNTableFileManager*>& files,
                                    bool osFlush) {
  std::vector<bool> restored(files.size(), false);
  try {
    for (TBRNTableFileManager* file : files) file->reflagHeader(osFlush);
    for (TBRNTableFileManager* file : files) file->restoreBlocks(osFlush);
    for (size_t i = 0; i < files.size(); ++i) {
      files[i]->restoreHeader(osFlush);
      restored[i] = true;
    }
  } catch (...) {
    // The flush's own error is the one reported; the files not put back
    // keep their flags and ask for repair.
  }
  for (size_t i = 0; i < files.size(); ++i) files[i]->restoreFlushState(restored[i]);
}

// ---- TBRNTableOperation ----

void TBRNTableFileManager::flushDeferredRoom() {
  bool deferred = roomDeferred_;
  if (fileSet_ != nullptr) {
    for (const TBRNTableFileManager* file : fileSet_->GetFiles()) {
      deferred = deferred || file->roomDeferred_;
    }
  }
  if (!deferred) return;
  Flush(false);
  // Back to the capacity: the buffers the operations added are clean now.
  roomDeferred_ = false;
  TrimCache(false);
  if (fileSet_ != nullptr) {
    for (TBRNTableFileManager* file : fileSet_->GetFiles()) {
      file->roomDeferred_ = false;
      file->TrimCache(false);
    }
  }
}

TBRNTableOperation::TBRNTableOperation(TBRNTableFileManager* file)
    : file_(file), set_(file->GetFileSet()) {
  // A cache that grew because earlier operations could not flush for room
  // is flushed before this one changes anything: without it an exclusive
  // cache would grow with every operation and never write.
  if ((set_ != nullptr ? set_->GetOperationDepth() : file_->GetOperationDepth()) == 0) {
    file_->flushDeferredRoom();
  }
  if (set_ != nullptr) {
    set_->BeginOperation();
  } else {
    file_->BeginOperation();
  }
  open_ = true;
}

TBRNTableOperation::~TBRNTableOperation() {
  if (!open_) return;
  try {
    if (set_ != nullptr) {
      set_->RollbackOperation();
    } else {
      file_->RollbackOperation();
    }
  } catch (...) {
    // The error that left the scope is the one reported.
  }
}

void TBRNTableOperation::Commit() {
  if (!open_) return;
  open_ = false;
  if (set_ != nullptr) {
    set_->CommitOperation();
  } else {
    file_->CommitOperation();
  }
}

}  // namespace brn
