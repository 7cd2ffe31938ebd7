#include "foundation/files/fault_file_manager.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/text/environment.h"

namespace brn {

namespace {

using FileGuard = std::lock_guard<TBRNCriticalSection>;

}  // namespace

// ---- TBRNFaultFileManager

TBRNFile* TBRNFaultFileManager::CreateFileObject() {
  return new TBRNFaultFile(this);
}

void TBRNFaultFileManager::Arm(const TBRNFileFault& fault) {
  if (fault.Nth < 1) throw std::invalid_argument("A fault hits call 1 or later");
  if (fault.Action == TBRNFaultAction::ShortWrite && fault.KeptBytes < 0) {
    throw std::invalid_argument("A short write keeps 0 bytes or more");
  }
  std::lock_guard<std::mutex> guard(mutex_);
  armed_.push_back({fault, 0, false});
}

void TBRNFaultFileManager::FailWrite(int32_t nth, int32_t errorCode, bool persistent) {
  Arm({TBRNFaultAction::FailWrite, nth, persistent, errorCode, 0, ""});
}

void TBRNFaultFileManager::ShortWrite(int32_t nth, int32_t keptBytes) {
  Arm({TBRNFaultAction::ShortWrite, nth, false, ENOSPC, keptBytes, ""});
}

void TBRNFaultFileManager::FailFlush(int32_t nth, int32_t errorCode, bool persistent) {
  Arm({TBRNFaultAction::FailFlush, nth, persistent, errorCode, 0, ""});
}

void TBRNFaultFileManager::FailRead(int32_t nth, int32_t errorCode) {
  Arm({TBRNFaultAction::FailRead, nth, false, errorCode, 0, ""});
}

void TBRNFaultFileManager::Disarm() {
  std::lock_guard<std::mutex> guard(mutex_);
  armed_.clear();
}

int32_t TBRNFaultFileManager::WriteCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return writes_;
}

int32_t TBRNFaultFileManager::FlushCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return flushes_;
}

int32_t TBRNFaultFileManager::ReadCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reads_;
}

int32_t TBRNFaultFileManager::InjectedCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return injected_;
}

bool TBRNFaultFileManager::NextCallFails(Call call, const std::string& fileName,
                                         TBRNFileFault& hit) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (call == Call::Write) ++writes_;
  if (call == Call::Flush) ++flushes_;
  if (call == Call::Read) ++reads_;
  bool hitOne = false;
  for (Armed& armed : armed_) {
    const TBRNFileFault& fault = armed.Fault;
    bool counts = false;
    switch (fault.Action) {
      case TBRNFaultAction::FailWrite:
      case TBRNFaultAction::ShortWrite:
        counts = call == Call::Write;
        break;
      case TBRNFaultAction::FailFlush:
        counts = call == Call::Flush;
        break;
      case TBRNFaultAction::FailSetSize:
        counts = call == Call::SetSize;
        break;
      case TBRNFaultAction::FailRead:
        counts = call == Call::Read;
        break;
    }
    if (!counts || armed.Spent || (!fault.FileName.empty() && fault.FileName != fileName)) {
      continue;
    }
    ++armed.Seen;
    if (armed.Seen < fault.Nth) continue;
    if (!fault.Persistent) armed.Spent = true;
    // Every armed fault counts the call; the first that hits decides it.
    if (!hitOne) {
      hit = fault;
      hitOne = true;
    }
  }
  if (hitOne) ++injected_;
  return hitOne;
}

// ---- TBRNFaultFile

void TBRNFaultFile::SetSize(int64_t size) {
  FileGuard guard(CriticalSection);
  TBRNFileFault hit;
  if (faults_->NextCallFails(TBRNFaultFileManager::Call::SetSize, Name, hit)) {
    RaiseWriteError(OSErrorMessage(hit.ErrorCode));
  }
  TBRNMemoryFile::SetSize(size);
}

int32_t TBRNFaultFile::Read(void* buffer, int32_t count) {
  FileGuard guard(CriticalSection);
  TBRNFileFault hit;
  if (faults_->NextCallFails(TBRNFaultFileManager::Call::Read, Name, hit)) {
    errno = hit.ErrorCode;
    return -1;
  }
  return TBRNMemoryFile::Read(buffer, count);
}

int32_t TBRNFaultFile::Write(const void* buffer, int32_t count) {
  CheckTransferCount(count);
  FileGuard guard(CriticalSection);
  TBRNFileFault hit;
  if (!faults_->NextCallFails(TBRNFaultFileManager::Call::Write, Name, hit)) {
    return TBRNMemoryFile::Write(buffer, count);
  }
  if (hit.Action == TBRNFaultAction::ShortWrite) {
    int32_t done = TBRNMemoryFile::Write(buffer, std::min(count, hit.KeptBytes));
    errno = hit.ErrorCode;
    return done;
  }
  errno = hit.ErrorCode;
  return -1;
}

void TBRNFaultFile::Flush() {
  FileGuard guard(CriticalSection);
  TBRNFileFault hit;
  if (faults_->NextCallFails(TBRNFaultFileManager::Call::Flush, Name, hit)) {
    RaiseFlushError(OSErrorMessage(hit.ErrorCode));
  }
  TBRNMemoryFile::Flush();
}

}  // namespace brn
