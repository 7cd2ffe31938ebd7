#include "storage/rows/published_updates_file.h"

#include <stdexcept>
#include <string>

namespace brn {

// ---- TBRNPublishedUpdatesBlock ----

void TBRNPublishedUpdatesBlock::Assign(const TBRNPublishedUpdatesBlock& source) {
  AssignChainFields(source);
}

void TBRNPublishedUpdatesBlock::WriteFirstFields(TBRNMemoryStream& stream) {
  stream.WriteInteger(TotalLength);
  stream.WriteInteger(UsedBytes);
}

void TBRNPublishedUpdatesBlock::ReadFirstFields(TBRNMemoryStream& stream) {
  TotalLength = stream.ReadInteger();
  UsedBytes = stream.ReadInteger();
}

// ---- TBRNPublishedUpdatesManager ----

TBRNPublishedUpdatesManager::TBRNPublishedUpdatesManager(TBRNTableFileHost* host,
                                                         TBRNFileManager* files, int32_t blockSize,
                                                         int64_t maxBufferBytes, bool systemTable)
    : TBRNChainFileManager(host, files, blockSize, maxBufferBytes, systemTable) {}

TBRNPublishedUpdatesManager::~TBRNPublishedUpdatesManager() = default;

std::string TBRNPublishedUpdatesManager::GetFileExtension() const {
  return GetHost()->GetFileExtension(TBRNTableFileKind::PublishedUpdates);
}

void TBRNPublishedUpdatesManager::SetLastUpdateTimestamp(int64_t timestamp) {
  if (timestamp != lastUpdateTimestamp_) {
    lastUpdateTimestamp_ = timestamp;
    SetHeaderModified();
  }
}

void TBRNPublishedUpdatesManager::InitHeader() {
  TBRNChainFileManager::InitHeader();
  lastUpdateTimestamp_ = 0;
}

void TBRNPublishedUpdatesManager::ReadHeader(bool check) {
  TBRNChainFileManager::ReadHeader(check);
  GetHost()->AdvanceTimestamp(lastUpdateTimestamp_);
}

void TBRNPublishedUpdatesManager::ReadHeaderFields(TBRNMemoryStream& stream) {
  TBRNChainFileManager::ReadHeaderFields(stream);
  lastUpdateTimestamp_ = stream.ReadInt64();
}

void TBRNPublishedUpdatesManager::WriteHeaderFields(TBRNMemoryStream& stream,
                                                    bool incrementCounter) {
  TBRNChainFileManager::WriteHeaderFields(stream, incrementCounter);
  stream.WriteInt64(lastUpdateTimestamp_);
}

void TBRNPublishedUpdatesManager::CopyHeaderFrom(const TBRNTableFileManager& old) {
  if (const auto* log = dynamic_cast<const TBRNPublishedUpdatesManager*>(&old)) {
    SetLastUpdateTimestamp(log->lastUpdateTimestamp_);
  }
}

std::unique_ptr<TBRNPublishedUpdatesBlock> TBRNPublishedUpdatesManager::NewBlockBuffer() {
  auto block = std::make_unique<TBRNPublishedUpdatesBlock>(this);
  block->BlockStream.SetSize(GetBufferSize());
  block->Reset();
  return block;
}

TBRNPublishedUpdatesBlock* TBRNPublishedUpdatesManager::GetBlock(int32_t n, bool readAhead,
                                                                 int32_t count) {
  bool restart = false;
  return GetBlockChecked(n, readAhead, count, restart);
}

TBRNPublishedUpdatesBlock* TBRNPublishedUpdatesManager::GetBlockChecked(int32_t n, bool readAhead,
                                                                        int32_t count,
                                                                        bool& restart) {
  return static_cast<TBRNPublishedUpdatesBlock*>(GetBuffer(n, readAhead, 1, count, restart));
}

TBRNPublishedUpdatesBlock* TBRNPublishedUpdatesManager::AllocateBlock() {
  return static_cast<TBRNPublishedUpdatesBlock*>(allocateChainBlock());
}

void TBRNPublishedUpdatesManager::FreeBlock(TBRNPublishedUpdatesBlock* block) {
  FreeBlockBuffer(block);
}

void TBRNPublishedUpdatesManager::AppendEntry(const TBRNMemoryStream& stream) {
  AppendEntry(stream.GetMemory(), int32_t(stream.GetSize()));
}

void TBRNPublishedUpdatesManager::AppendEntry(const uint8_t* data, int32_t size) {
  // Readers find the next entry at the block after an entry's last one, so
  // an entry takes fresh blocks at the end of the file, one after another.
  int32_t first = 0;
  writeChain(0, first, data, size, true);
}

void TBRNPublishedUpdatesManager::ReadEntry(int32_t& blockNumber, TBRNMemoryStream& stream) {
  if (blockNumber < 1) throw std::invalid_argument("log entries start at block 1");
  int32_t last = readChain(blockNumber, false, 0, stream);
  // An entry's blocks follow one another: a chain that ends before its first
  // block is damage, and a reader going on after it would read earlier
  // entries again, without end.
  if (last > 0 && last < blockNumber) {
    stream.SetSize(0);
    RaiseCorrupt("Invalid next " + GetBlockKindName() + " pointer (" + std::to_string(last) + ")");
  }
  if (last > 0) blockNumber = last + 1;
}

bool TBRNPublishedUpdatesManager::VerifyContents(bool& errorsFound, bool repair) {
  return verifyChains(errorsFound, repair, "Verifying published updates (structure-only)", false);
}

}  // namespace brn
