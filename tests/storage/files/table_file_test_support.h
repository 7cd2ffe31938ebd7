#pragma once

#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/digest.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/exception.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_host.h"

namespace brn::testing {

inline TBRNDigest DigestOf(const std::string& text) {
  TBRNDigest digest;
  digest.DigestString(text);
  return digest;
}

// The table, session and engine of one table file, with every answer in a
// field. The Read and Write brackets count their depth and, given a lock
// file, take flock locks on it so that processes exclude each other.
class FakeHost : public TBRNTableFileHost {
 public:
  FakeHost(std::string folder, std::string name)
      : Folder(std::move(folder)), Name(std::move(name)) {}

  std::string Folder;
  std::string Name;
  uint32_t StructureChecksum = 0x12345678;
  bool Encrypted = false;
  bool Transient = false;
  bool Temporary = false;
  bool ReadOnly = false;
  bool SkipWrite = false;
  bool SkipStructure = false;
  bool ExclusiveLock = false;
  bool TransactionLock = false;
  TBRNDigest Signature = DigestOf("brn_watermark");
  TBRNDigest DefaultSignature = DigestOf("brn_watermark");
  TBRNDigest Password = DigestOf("quillharbor");
  // The files of the table, asked by TableHasChanged.
  std::vector<TBRNTableFileManager*> Files;
  std::vector<std::string> Log;
  std::vector<std::string> Warnings;
  std::vector<int32_t> Progress;
  int32_t CancelAfter = -1;      // progress calls answered true before a false
  int32_t ProgressDepth = 0;     // progress brackets open now
  int32_t ProgressBrackets = 0;  // progress brackets taken
  int32_t ReadDepth = 0;
  int32_t WriteDepth = 0;
  int32_t ReadDepthInChangeCheck = -1;
  int32_t ChangeChecks = 0;
  int LockFd = -1;

  std::string GetTableName() const override { return Name; }
  std::string GetTableKindName() const override { return "table"; }
  std::string GetFolder() const override { return Folder; }
  uint32_t GetStructureChecksum() const override { return StructureChecksum; }
  bool IsEncrypted() const override { return Encrypted; }
  bool IsTransient() const override { return Transient; }
  bool IsTemporary() const override { return Temporary; }
  bool IsReadOnly() const override { return ReadOnly; }
  void SetReadOnly() override { ReadOnly = true; }
  bool SkipWriteCheck() const override { return SkipWrite; }
  bool SkipStructureCheck() const override { return SkipStructure; }
  bool IsCreatedByEngine() const override { return false; }
  bool HoldsExclusiveLock() const override { return ExclusiveLock; }
  bool HoldsTransactionLock() const override { return TransactionLock; }
  void BeginRead() override {
    if (ReadDepth++ == 0 && WriteDepth == 0) lock(LOCK_SH);
  }
  void EndRead() override {
    ASSERT_GT(ReadDepth, 0);
    if (--ReadDepth == 0 && WriteDepth == 0) lock(LOCK_UN);
  }
  void BeginWrite() override {
    if (WriteDepth++ == 0) lock(LOCK_EX);
  }
  void EndWrite() override {
    ASSERT_GT(WriteDepth, 0);
    if (--WriteDepth == 0) lock(ReadDepth > 0 ? LOCK_SH : LOCK_UN);
  }
  bool TableHasChanged() override {
    ++ChangeChecks;
    ReadDepthInChangeCheck = ReadDepth;
    bool changed = false;
    for (TBRNTableFileManager* file : Files) changed = file->HasChanged() || changed;
    return changed;
  }
  const TBRNDigest& GetSignatureDigest() const override { return Signature; }
  bool IsValidSignature(const TBRNDigest& digest) const override {
    return digest.Equals(Signature) || digest.Equals(DefaultSignature);
  }
  const TBRNDigest& GetEncryptionDigest() const override { return Password; }
  std::string GetFileExtension(TBRNTableFileKind) const override { return ".BRNTst"; }
  void LogMessage(const std::string& text) override { Log.push_back(text); }
  void WriteWarningEvent(const std::string& text) override { Warnings.push_back(text); }
  bool UpdateProgress(int32_t percent) override {
    Progress.push_back(percent);
    return CancelAfter < 0 || int32_t(Progress.size()) <= CancelAfter;
  }
  void BeginProgress() override {
    ++ProgressDepth;
    ++ProgressBrackets;
  }
  void EndProgress() override {
    ASSERT_GT(ProgressDepth, 0);
    --ProgressDepth;
  }
  [[noreturn]] void RaiseBackupError(const std::string& text) override {
    throw EBRNException(1300, "Error backing up the table " + Name + " (" + text + ")");
  }
  [[noreturn]] void RaiseRestoreError(const std::string& text) override {
    throw EBRNException(1301, "Error restoring the table " + Name + " (" + text + ")");
  }

 private:
  void lock(int operation) {
    if (LockFd >= 0) {
      while (flock(LockFd, operation) != 0) {
      }
    }
  }
};

// A table file of the simplest kind: fixed blocks whose header is the next
// link, a 1024-byte header area and the common header record.
class TestBlockFile : public TBRNTableFileManager {
 public:
  TestBlockFile(FakeHost* host, TBRNFileManager* files, int32_t blockSize = 256,
                int32_t capacity = 16)
      : TBRNTableFileManager(host, files), blockSize_(blockSize), capacity_(capacity) {
    host->Files.push_back(this);
  }
  ~TestBlockFile() override {
    try {
      Close();
    } catch (...) {
      // The failed flush left the write-in-progress flag on disk.
    }
    auto* host = static_cast<FakeHost*>(GetHost());
    std::erase(host->Files, this);
  }

  std::string GetFileExtension() const override { return ".BRNTst"; }
  int32_t GetHeaderAreaSize() const override { return 1024; }
  std::string GetBlockKindName() const override { return "test block"; }
  int32_t GetCacheCapacity() const override { return capacity_; }
  int32_t GetBlockSize() const override { return blockSize_; }
  int32_t GetBufferSize() const override { return blockSize_; }

  TBRNTableFileBuffer* Allocate() {
    bool restart = false;
    TBRNTableFileBuffer* buffer = AllocateBlockBuffer(restart);
    EXPECT_FALSE(restart);
    return buffer;
  }
  void Free(TBRNTableFileBuffer* buffer) { FreeBlockBuffer(buffer); }
  TBRNTableFileBuffer* Get(int32_t n) {
    bool restart = false;
    TBRNTableFileBuffer* buffer = GetBuffer(n, false, 0, 0, restart);
    EXPECT_FALSE(restart);
    return buffer;
  }
  using TBRNTableFileManager::GetStream;
  using TBRNTableFileManager::ReadHeader;

 protected:
  TBRNTableFileBuffer* CreateBuffer() override { return new TBRNTableFileBuffer(this); }

 private:
  int32_t blockSize_;
  int32_t capacity_;
};

// Fills the bytes after the block header with one value and marks it
// modified.
inline void FillBlock(TBRNTableFileBuffer* buffer, uint8_t value) {
  std::memset(buffer->Data() + 4, value, size_t(buffer->GetSize() - 4));
  buffer->MarkModified();
}

// The payload value of a block, or -1 when its bytes are not all one value.
inline int32_t BlockValue(const TBRNTableFileBuffer* buffer) {
  uint8_t first = buffer->Data()[4];
  for (int32_t i = 5; i < buffer->GetSize(); ++i) {
    if (buffer->Data()[i] != first) return -1;
  }
  return first;
}

// A file manager whose files may grow only to Limit bytes.
template <typename Base>
class LimitedFiles : public Base {
 public:
  using Base::Base;
  int64_t Limit = 2000000000;
  int64_t GetMaxRowsetFileSize() override { return Limit; }
  int64_t GetMaxTableFileSize() override { return Limit; }
};

// A fresh folder under the test temporary directory, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("BRN_TEST_TMP");
    std::string root = base != nullptr ? base : "/tmp";
    CreateDirectoryPath(root);
    std::string pattern = root + "/storage_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = std::string(buffer.data()) + "/";
  }
  ~TempFolder() {
    int rc = std::system(("rm -rf '" + Path + "'").c_str());
    (void)rc;
  }
  std::string Path;
};

inline std::vector<uint8_t> RawFile(TBRNFileManager& files, const std::string& name) {
  auto stream = files.OpenFile(name, false, true, false);
  std::vector<uint8_t> bytes(size_t(stream->GetSize()));
  stream->Seek(0, 0);
  if (!bytes.empty()) stream->Read(bytes.data(), int32_t(bytes.size()));
  return bytes;
}

}  // namespace brn::testing
