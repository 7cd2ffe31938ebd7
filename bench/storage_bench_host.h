// The table-file host the storage benchmarks run their files under: a plain
// table in a folder of its own, no encryption, no logging; the benchmark
// chooses the table's name, file extension and the lock it holds.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "foundation/core/digest.h"
#include "storage/files/table_file_host.h"

namespace brn {

class BenchHost : public TBRNTableFileHost {
 public:
  BenchHost(std::string folder, std::string extension, std::string tableName = "Bench",
            bool exclusive = false, bool transaction = false)
      : folder_(std::move(folder)),
        extension_(std::move(extension)),
        tableName_(std::move(tableName)),
        exclusive_(exclusive),
        transaction_(transaction) {
    digest_.DigestString("brn_watermark");
  }
  std::string GetTableName() const override { return tableName_; }
  std::string GetTableKindName() const override { return "table"; }
  std::string GetFolder() const override { return folder_; }
  uint32_t GetStructureChecksum() const override { return 1; }
  bool IsEncrypted() const override { return false; }
  bool IsTransient() const override { return false; }
  bool IsTemporary() const override { return false; }
  bool IsReadOnly() const override { return false; }
  void SetReadOnly() override {}
  bool SkipWriteCheck() const override { return false; }
  bool SkipStructureCheck() const override { return false; }
  bool IsCreatedByEngine() const override { return true; }
  bool HoldsExclusiveLock() const override { return exclusive_; }
  bool HoldsTransactionLock() const override { return transaction_; }
  void BeginRead() override {}
  void EndRead() override {}
  void BeginWrite() override {}
  void EndWrite() override {}
  bool TableHasChanged() override { return false; }
  const TBRNDigest& GetSignatureDigest() const override { return digest_; }
  bool IsValidSignature(const TBRNDigest& digest) const override { return digest.Equals(digest_); }
  const TBRNDigest& GetEncryptionDigest() const override { return digest_; }
  std::string GetFileExtension(TBRNTableFileKind) const override { return extension_; }
  void LogMessage(const std::string&) override {}
  void WriteWarningEvent(const std::string&) override {}
  bool UpdateProgress(int32_t) override { return true; }
  [[noreturn]] void RaiseBackupError(const std::string& text) override {
    throw std::runtime_error(text);
  }
  [[noreturn]] void RaiseRestoreError(const std::string& text) override {
    throw std::runtime_error(text);
  }

 private:
  std::string folder_;
  std::string extension_;
  std::string tableName_;
  bool exclusive_;
  bool transaction_;
  TBRNDigest digest_;
};

}  // namespace brn
