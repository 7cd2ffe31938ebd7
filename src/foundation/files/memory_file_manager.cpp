#include "foundation/files/memory_file_manager.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace brn {

namespace {

using FileGuard = std::lock_guard<TBRNCriticalSection>;

}  // namespace

int64_t TBRNMemoryFile::GetSize() {
  FileGuard guard(CriticalSection);
  return Size;
}

void TBRNMemoryFile::SetAllocation(int64_t n) {
  FileGuard guard(CriticalSection);
  if (n <= 0) {
    Blocks.clear();
    Allocated = 0;
    return;
  }
  if (n > INT64_MAX - (BlockSize - 1)) throw std::length_error("Memory file too large");
  int64_t wanted = (n + BlockSize - 1) / BlockSize * BlockSize;
  if (Allocated >= wanted) return;
  Blocks.reserve(size_t(wanted / BlockSize));
  while (Allocated < wanted) {
    Blocks.push_back(std::make_unique<uint8_t[]>(size_t(BlockSize)));  // zeroed
    Allocated += BlockSize;
  }
}

void TBRNMemoryFile::SetSize(int64_t size) {
  if (size < 0) throw std::out_of_range("Memory file size below 0");
  FileGuard guard(CriticalSection);
  if (size < Size && size > 0) Fill(size, Size - size);
  Size = size;
  SetAllocation(size);
  if (Position > size) Position = size;
}

int64_t TBRNMemoryFile::GetCreated() {
  FileGuard guard(CriticalSection);
  return Created;
}

int64_t TBRNMemoryFile::GetModified() {
  FileGuard guard(CriticalSection);
  return Modified;
}

std::unique_ptr<TBRNFileStream> TBRNMemoryFile::CreateNew() {
  FileGuard guard(CriticalSection);
  Size = 0;
  Position = 0;
  SetAllocation(0);
  return TBRNFile::CreateNew();
}

namespace {

// Calls visit(bytes, length) for each piece of the count bytes from `at` that
// lies in one block, in order.
template <typename Visit>
void forEachPiece(const std::vector<std::unique_ptr<uint8_t[]>>& blocks, int64_t at, int64_t count,
                  Visit visit) {
  constexpr int64_t blockSize = TBRNMemoryFile::BlockSize;
  while (count > 0) {
    int64_t inBlock = at % blockSize;
    int64_t piece = std::min(blockSize - inBlock, count);
    visit(blocks[size_t(at / blockSize)].get() + inBlock, size_t(piece));
    at += piece;
    count -= piece;
  }
}

}  // namespace

void TBRNMemoryFile::CopyOut(uint8_t* target, int64_t from, int64_t count) const {
  forEachPiece(Blocks, from, count, [&](const uint8_t* bytes, size_t piece) {
    std::memcpy(target, bytes, piece);
    target += piece;
  });
}

void TBRNMemoryFile::CopyIn(const uint8_t* source, int64_t to, int64_t count) {
  forEachPiece(Blocks, to, count, [&](uint8_t* bytes, size_t piece) {
    std::memcpy(bytes, source, piece);
    source += piece;
  });
}

void TBRNMemoryFile::Fill(int64_t from, int64_t count) {
  forEachPiece(Blocks, from, count,
               [](uint8_t* bytes, size_t piece) { std::memset(bytes, 0, piece); });
}

int32_t TBRNMemoryFile::Read(void* buffer, int32_t count) {
  CheckTransferCount(count);
  FileGuard guard(CriticalSection);
  if (Position < 0 || Position >= Size) return 0;
  int64_t done = Size - Position < count ? Size - Position : count;
  CopyOut(static_cast<uint8_t*>(buffer), Position, done);
  Position += done;
  return int32_t(done);
}

int32_t TBRNMemoryFile::Write(const void* buffer, int32_t count) {
  CheckTransferCount(count);
  FileGuard guard(CriticalSection);
  if (Position < 0) throw std::out_of_range("Memory file write before the start of the file");
  if (Position > INT64_MAX - count) throw std::out_of_range("Memory file write beyond 2^63");
  int64_t start = Position;
  int64_t end = start + count;
  if (end > Size) {
    SetAllocation(end);
    Size = end;
  }
  CopyIn(static_cast<const uint8_t*>(buffer), start, count);
  Position = end;
  return count;
}

int64_t TBRNMemoryFile::Seek(uint8_t origin, int64_t offset) {
  FileGuard guard(CriticalSection);
  Position = SeekTarget(origin, offset, Position, Size);
  return Position;
}

TBRNFile* TBRNMemoryFileManager::CreateFileObject() {
  return new TBRNMemoryFile(this);
}

}  // namespace brn
