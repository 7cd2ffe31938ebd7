#include "storage/files/table_file_set.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "foundation/files/file_manager.h"
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
  WriteInProgress = false;
  writeHeaderRecord(false);
  if (sync && flushBracketed()) stream_->Flush();
  headerModified_ = false;
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
  size_t begun = 0;
  try {
    for (; begun < files_.size(); ++begun) files_[begun]->BeginOperation();
  } catch (...) {
    while (begun > 0) files_[--begun]->CommitOperation();
    throw;
  }
  ++depth_;
}

void TBRNTableFileSet::CommitOperation() {
  if (depth_ == 0) throw std::logic_error("commit without an open operation");
  --depth_;
  for (TBRNTableFileManager* file : files_) file->CommitOperation();
}

void TBRNTableFileSet::RollbackOperation() {
  if (depth_ == 0) throw std::logic_error("rollback without an open operation");
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
  for (TBRNTableFileManager* file : changed) file->beginFlush(osFlush);
  for (TBRNTableFileManager* file : changed) file->flushBlocks(osFlush);
  for (TBRNTableFileManager* file : changed) file->endFlush(osFlush);
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
