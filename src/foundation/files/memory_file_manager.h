#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/files/file_manager.h"

namespace brn {

// A file that lives only in its manager's table; its contents are held in
// blocks of 16384 bytes. Byte-range locks are the file's in-process locks.
// Every operation runs under the file's critical section, so the streams of
// several threads may use one file at once.
class TBRNMemoryFile : public TBRNFile {
 public:
  static constexpr int64_t BlockSize = 16384;

  explicit TBRNMemoryFile(TBRNFileManager* manager) : TBRNFile(manager) {}

  int64_t Created = 0;   // stays 0
  int64_t Modified = 0;  // stays 0
  int64_t Size = 0;
  int64_t Position = 0;
  std::vector<std::unique_ptr<uint8_t[]>> Blocks;  // block i: bytes i * BlockSize onwards
  int64_t Allocated = 0;                           // bytes held by Blocks, a multiple of BlockSize

  int64_t GetSize() override;
  // Shrinking keeps the blocks but clears the bytes cut off, so that growing
  // again brings back zeros, as on disk; a size of 0 releases all memory.
  void SetSize(int64_t size) override;
  int64_t GetCreated() override;
  int64_t GetModified() override;
  std::unique_ptr<TBRNFileStream> CreateNew() override;
  int32_t Read(void* buffer, int32_t count) override;
  // A write at a negative position is a range error.
  int32_t Write(const void* buffer, int32_t count) override;
  // No clamping: the position may lie before the start or beyond the end.
  int64_t Seek(uint8_t origin, int64_t offset) override;

  // Grows the blocks to hold n bytes; n <= 0 releases them all. Never shrinks
  // otherwise.
  void SetAllocation(int64_t n);

 private:
  void CopyOut(uint8_t* target, int64_t from, int64_t count) const;
  void CopyIn(const uint8_t* source, int64_t to, int64_t count);
  void Fill(int64_t from, int64_t count);
};

// Files kept in memory under the interface of the disk manager: names that
// were never created are not found, and closed files stay registered because
// the table holds their contents.
class TBRNMemoryFileManager : public TBRNFileManager {
 public:
  explicit TBRNMemoryFileManager(TBRNEnvironment* environment) : TBRNFileManager(environment) {}

  TBRNFile* CreateFileObject() override;
};

}  // namespace brn
