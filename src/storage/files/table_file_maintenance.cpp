#include <algorithm>
#include <cmath>
#include <string>

#include "foundation/files/file_manager.h"
#include "foundation/locks/compression.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_guards.h"

namespace brn {

namespace {

constexpr int32_t kBackupErrorCode = 1300;
constexpr int32_t kRestoreErrorCode = 1301;
// A compressed chunk of 65536 bytes never grows beyond this.
constexpr int32_t kMaxStoredChunk = TBRNTableFileManager::kBackupChunkSize + 1024;

int32_t percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return int32_t(std::llround(double(done) * 100.0 / double(total)));
}

// The database manager raises the error; should a host return, the plain
// code still ends the operation.
[[noreturn]] void raiseBackup(TBRNTableFileHost* host, const std::string& text) {
  host->RaiseBackupError(text);
  throw EBRNException(kBackupErrorCode, text);
}

[[noreturn]] void raiseRestore(TBRNTableFileHost* host, const std::string& text) {
  host->RaiseRestoreError(text);
  throw EBRNException(kRestoreErrorCode, text);
}

}  // namespace

void TBRNTableFileManager::Rename(const std::string& newTableName) {
  if (stream_ != nullptr) throw std::logic_error("rename of an open table file");
  InitHeader();
  std::string oldName = GetFileName();
  if (files_->FileExists(oldName)) {
    files_->RenameFile(oldName, host_->GetFolder() + newTableName + extension_);
  }
  tableName_ = newTableName;
}

void TBRNTableFileManager::MakeOldCopy(bool byRename) {
  if (byRename) {
    if (stream_ != nullptr) throw std::logic_error("rename of an open table file");
    InitHeader();
    if (files_->FileExists(GetOldFileName())) files_->DeleteFile(GetOldFileName());
    files_->RenameFile(GetFileName(), GetOldFileName());
    return;
  }
  if (stream_ == nullptr) throw std::logic_error("copy of a closed table file");
  TableReadBracket bracket(host_);
  auto copy = files_->CreateFile(GetOldFileName(), true, false, false);
  TableFileHold holdSource(stream_.get());
  TableFileHold holdCopy(copy.get());
  stream_->Seek(0, 0);
  copy->Seek(0, 0);
  copy->CopyFrom(*stream_, stream_->GetSize());
  copy->Flush();
}

void TBRNTableFileManager::RestoreOldCopy(bool byRename) {
  if (byRename) {
    if (stream_ != nullptr) throw std::logic_error("rename of an open table file");
    InitHeader();
    if (files_->FileExists(GetFileName())) files_->DeleteFile(GetFileName());
    if (files_->FileExists(GetOldFileName())) files_->RenameFile(GetOldFileName(), GetFileName());
    return;
  }
  if (stream_ == nullptr) throw std::logic_error("copy into a closed table file");
  if (!files_->FileExists(GetOldFileName())) return;
  TableWriteBracket bracket(host_);
  auto copy = files_->OpenFile(GetOldFileName(), true, false, false);
  {
    TableFileHold holdTarget(stream_.get());
    TableFileHold holdCopy(copy.get());
    stream_->SetSize(0);
    stream_->Seek(0, 0);
    copy->Seek(0, 0);
    stream_->CopyFrom(*copy, copy->GetSize());
    stream_->Flush();
  }
  // The cache and the header held before describe the replaced contents.
  DropCache(false);
  ReadHeader(false);
}

void TBRNTableFileManager::DeleteOldCopy() {
  InitHeader();
  if (files_->FileExists(GetOldFileName())) files_->DeleteFile(GetOldFileName());
}

void TBRNTableFileManager::DeleteFile() {
  if (stream_ != nullptr) throw std::logic_error("delete of an open table file");
  InitHeader();
  if (files_->FileExists(GetFileName())) files_->DeleteFile(GetFileName());
}

void TBRNTableFileManager::RaiseBackupReadError() {
  raiseBackup(host_, FormatText("Error reading the file %s", {GetFileName()}));
}

void TBRNTableFileManager::RaiseBackupWriteError() {
  raiseBackup(host_, FormatText("Error writing the file %s to the backup", {GetFileName()}));
}

void TBRNTableFileManager::RaiseBackupUnknownError(const std::string& message) {
  raiseBackup(host_,
              FormatText("Unknown error occurred with the file %s (%s)", {GetFileName(), message}));
}

void TBRNTableFileManager::RaiseRestoreReadError() {
  raiseRestore(host_, FormatText("Error reading the file %s from the backup", {GetFileName()}));
}

void TBRNTableFileManager::RaiseRestoreWriteError() {
  raiseRestore(host_, FormatText("Error writing the backup to the file %s", {GetFileName()}));
}

void TBRNTableFileManager::RaiseRestoreUnknownError(const std::string& message) {
  raiseRestore(
      host_, FormatText("Unknown error occurred with the file %s (%s)", {GetFileName(), message}));
}

bool TBRNTableFileManager::WriteBackup(TBRNStream& stream, int64_t& bytesDone, int64_t totalBytes,
                                       int32_t compressionLevel, bool leaveDataOut) {
  if (stream_ == nullptr) throw std::logic_error("backup of a closed table file");
  TableReadBracket bracket(host_);
  bool result = true;
  try {
    TableFileHold hold(stream_.get());
    if (!leaveDataOut) {
      TBRNMemoryStream chunk;
      TBRNMemoryStream packed;
      if (compressionLevel > 0) {
        if (compression_ == nullptr) compression_ = std::make_unique<TBRNCompressionManager>();
        compression_->SetCompressionLevel(std::min(compressionLevel, 9));
      }
      int64_t size = stream_->GetSize();
      stream_->Seek(0, 0);
      int64_t position = 0;
      while (position < size) {
        int32_t want = int32_t(std::min<int64_t>(kBackupChunkSize, size - position));
        chunk.SetSize(want);
        int32_t got = stream_->Read(chunk.GetMemory(), want);
        if (got <= 0) RaiseBackupReadError();
        position += got;
        chunk.SetSize(got);
        const TBRNMemoryStream* out = &chunk;
        if (compressionLevel > 0) {
          chunk.SetPosition(0);
          packed.SetSize(0);
          packed.SetPosition(0);
          compression_->CompressStream(chunk, packed);
          out = &packed;
        }
        int32_t length = int32_t(out->GetSize());
        if (stream.WriteLongInt(length) != 4 || stream.Write(out->GetMemory(), length) != length) {
          RaiseBackupWriteError();
        }
        bytesDone += got;
        if (!host_->UpdateProgress(percentOf(bytesDone, totalBytes))) {
          result = false;
          break;
        }
      }
    }
    if (stream.WriteLongInt(0) != 4) RaiseBackupWriteError();
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kBackupErrorCode) throw;
    RaiseBackupUnknownError(e.ErrorMessage);
  } catch (const std::exception& e) {
    RaiseBackupUnknownError(e.what());
  }
  return result;
}

bool TBRNTableFileManager::ReadBackup(TBRNStream& stream, int64_t& bytesDone, int64_t totalBytes,
                                      int32_t compressionLevel) {
  if (stream_ == nullptr) throw std::logic_error("restore into a closed table file");
  TableWriteBracket bracket(host_);
  bool result = true;
  try {
    TableFileHold hold(stream_.get());
    stream_->SetSize(0);
    stream_->Seek(0, 0);
    TBRNMemoryStream chunk;
    TBRNMemoryStream plain;
    if (compressionLevel > 0 && compression_ == nullptr) {
      compression_ = std::make_unique<TBRNCompressionManager>();
    }
    for (;;) {
      int32_t length = 0;
      stream.ReadLongInt(length);
      if (length == 0) break;
      // The stream is untrusted: a length no writer produces is damage.
      int32_t limit = compressionLevel > 0 ? kMaxStoredChunk : kBackupChunkSize;
      if (length < 0 || length > limit) RaiseRestoreReadError();
      chunk.SetSize(length);
      if (stream.Read(chunk.GetMemory(), length) != length) RaiseRestoreReadError();
      const TBRNMemoryStream* out = &chunk;
      if (compressionLevel > 0) {
        chunk.SetPosition(0);
        plain.SetSize(0);
        plain.SetPosition(0);
        compression_->DecompressStream(chunk, plain, kBackupChunkSize);
        out = &plain;
      }
      int32_t size = int32_t(out->GetSize());
      if (stream_->Write(out->GetMemory(), size) != size) RaiseRestoreWriteError();
      bytesDone += size;
      if (!host_->UpdateProgress(percentOf(bytesDone, totalBytes))) {
        result = false;
        break;
      }
    }
  } catch (const EBRNException& e) {
    if (e.ErrorCode == kRestoreErrorCode) throw;
    RaiseRestoreUnknownError(e.ErrorMessage);
  } catch (const std::exception& e) {
    RaiseRestoreUnknownError(e.what());
  }
  // The cache and the header held before describe the replaced contents.
  DropCache(false);
  return result;
}

void TBRNTableFileManager::LogVerifyError(const std::string& message,
                                          const std::string& subObjectKind,
                                          const std::string& subObjectName, bool repair) {
  std::string fixed = host_->GetFixedText(repair);
  if (subObjectKind.empty()) {
    host_->LogMessage(FormatText(
        "Verification error for the %s %s file %s (%s) - %s",
        {host_->GetTableName(), host_->GetTableKindName(), GetFileName(), message, fixed}));
  } else {
    host_->LogMessage(FormatText("Verification error for the %s %s in the %s %s file %s (%s) - %s",
                                 {subObjectKind, subObjectName, host_->GetTableName(),
                                  host_->GetTableKindName(), GetFileName(), message, fixed}));
  }
}

bool TBRNTableFileManager::VerifyHeader(bool& errorsFound, bool repair) {
  if (stream_ == nullptr) throw std::logic_error("verification of a closed table file");
  TableReadBracket bracket(host_);
  TableFileHold hold(stream_.get());
  std::string kind = GetBlockKindName();
  auto finding = [&](const std::string& message) {
    LogVerifyError(message, "", "", repair);
    errorsFound = true;
  };
  if (WriteInProgress) {
    finding("Write interrupted");
    if (repair) {
      WriteInProgress = false;
      headerModified_ = true;
    }
  }
  int64_t headerArea = GetHeaderAreaSize();
  int64_t blockSize = GetBlockSize();
  int64_t fileSize = stream_->GetSize();
  if (fileSize > headerArea) {
    int64_t blocks = (fileSize - headerArea) / blockSize;
    if ((fileSize - headerArea) % blockSize != 0) {
      finding(FormatText("Invalid %s boundary detected", {kind}));
      if (repair) stream_->SetSize(headerArea + blocks * blockSize);
    }
    if (blocks + 1 != int64_t(NextBlock)) {
      finding(FormatText("Invalid total %s count (%s)",
                         {kind, std::to_string(int64_t(NextBlock) - 1)}));
      if (repair) {
        // A file with more blocks than a header can count is cut to the
        // blocks it can.
        if (blocks + 1 > INT32_MAX) {
          blocks = INT32_MAX - 1;
          stream_->SetSize(headerArea + blocks * blockSize);
        }
        NextBlock = int32_t(blocks + 1);
        headerModified_ = true;
      }
    }
    if (FreeListHead < 0 || FreeListHead >= NextBlock) {
      finding(
          FormatText("Invalid free %s list pointer (%s)", {kind, std::to_string(FreeListHead)}));
      if (repair) {
        FreeListHead = 0;
        headerModified_ = true;
      }
    }
  } else {
    if (NextBlock != 1) {
      finding(FormatText("Invalid total %s count (%s)",
                         {kind, std::to_string(int64_t(NextBlock) - 1)}));
      if (repair) {
        NextBlock = 1;
        headerModified_ = true;
      }
    }
    if (FreeListHead != 0) {
      finding(
          FormatText("Invalid free %s list pointer (%s)", {kind, std::to_string(FreeListHead)}));
      if (repair) {
        FreeListHead = 0;
        headerModified_ = true;
      }
    }
  }
  if (repair && headerModified_) DropCache(false);
  return true;
}

bool TBRNTableFileManager::VerifyContents(bool&, bool) {
  return true;
}

bool TBRNTableFileManager::Verify(bool& errorsFound, bool repair) {
  if (!VerifyHeader(errorsFound, repair)) return false;
  return VerifyContents(errorsFound, repair);
}

}  // namespace brn
