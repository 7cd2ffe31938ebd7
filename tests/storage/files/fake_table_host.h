#pragma once

#include <sys/file.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/text/exception.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_host.h"

// The one stand-in table host of the storage tests, benchmarks and fuzz
// targets. It depends on no test framework, so that all three can use it.
namespace brn::testing {

inline TBRNDigest DigestOf(const std::string& text) {
  TBRNDigest digest;
  digest.DigestString(text);
  return digest;
}

// The table, session and engine of one table file, with every answer in a
// field. The Read and Write brackets count their depth and, given a lock
// file, take flock locks on it so that processes exclude each other; an End
// without its Begin throws std::logic_error.
class FakeHost : public TBRNTableFileHost {
 public:
  FakeHost(std::string folder, std::string name, std::string extension = ".BRNTst")
      : Folder(std::move(folder)), Name(std::move(name)), Extension(std::move(extension)) {}

  std::string Folder;
  std::string Name;
  // The extension of every kind of file of the table.
  std::string Extension;
  uint32_t StructureChecksum = 0x12345678;
  bool Encrypted = false;
  bool Transient = false;
  bool Temporary = false;
  bool ReadOnly = false;
  bool SkipWrite = false;
  bool SkipStructure = false;
  bool CreatedByEngine = false;
  bool ExclusiveLock = false;
  bool TransactionLock = false;
  TBRNDigest Signature = DigestOf("brn_watermark");
  TBRNDigest DefaultSignature = DigestOf("brn_watermark");
  TBRNDigest Password = DigestOf("quillharbor");
  // The files of the table, asked by TableHasChanged.
  std::vector<TBRNTableFileManager*> Files;
  // Log lines and warnings are kept only while Record is set (a benchmark
  // clears it so that nothing grows between iterations).
  bool Record = true;
  std::vector<std::string> Log;
  std::vector<std::string> Warnings;
  std::vector<int32_t> Progress;
  int32_t CancelAfter = -1;      // progress calls answered true before a false
  int32_t ProgressDepth = 0;     // progress brackets open now
  int32_t ProgressBrackets = 0;  // progress brackets taken
  int32_t ReadDepth = 0;
  int32_t ReadBrackets = 0;  // Read brackets taken
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
  bool IsCreatedByEngine() const override { return CreatedByEngine; }
  bool HoldsExclusiveLock() const override { return ExclusiveLock; }
  bool HoldsTransactionLock() const override { return TransactionLock; }
  void BeginRead() override {
    ++ReadBrackets;
    if (ReadDepth++ == 0 && WriteDepth == 0) lock(LOCK_SH);
  }
  void EndRead() override {
    if (ReadDepth <= 0) throw std::logic_error("EndRead without BeginRead");
    if (--ReadDepth == 0 && WriteDepth == 0) lock(LOCK_UN);
  }
  void BeginWrite() override {
    if (WriteDepth++ == 0) lock(LOCK_EX);
  }
  void EndWrite() override {
    if (WriteDepth <= 0) throw std::logic_error("EndWrite without BeginWrite");
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
  std::string GetFileExtension(TBRNTableFileKind) const override { return Extension; }
  void LogMessage(const std::string& text) override {
    if (Record) Log.push_back(text);
  }
  void WriteWarningEvent(const std::string& text) override {
    if (Record) Warnings.push_back(text);
  }
  bool UpdateProgress(int32_t percent) override {
    Progress.push_back(percent);
    return CancelAfter < 0 || int32_t(Progress.size()) <= CancelAfter;
  }
  void BeginProgress() override {
    ++ProgressDepth;
    ++ProgressBrackets;
  }
  void EndProgress() override {
    if (ProgressDepth <= 0) throw std::logic_error("EndProgress without BeginProgress");
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

}  // namespace brn::testing
