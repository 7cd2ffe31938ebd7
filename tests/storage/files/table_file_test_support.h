#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/text/exception.h"
#include "storage/files/fake_table_host.h"
#include "storage/files/table_file.h"

namespace brn::testing {

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
  int32_t GetMissRunBytes() const override { return MissRunBytes; }
  int32_t MissRunBytes = 0;

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
