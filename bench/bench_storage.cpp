// Table file cache and flush throughput, each beside a reference measured in
// the same run: random reads through a warm cache against a plain vector of
// pages, and a flush of 10,000 dirty blocks against pwrite of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/memory_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "storage/files/table_file.h"
#include "storage/files/table_file_guards.h"
#include "storage_bench_host.h"

namespace brn {
namespace {

constexpr int32_t kBlockSize = 4096;
constexpr int32_t kCachedBlocks = 1024;
constexpr int32_t kFlushBlocks = 10000;

class BenchFile : public TBRNTableFileManager {
 public:
  BenchFile(TBRNTableFileHost* host, TBRNFileManager* files, int32_t capacity)
      : TBRNTableFileManager(host, files), capacity_(capacity) {}
  ~BenchFile() override { Close(); }
  std::string GetFileExtension() const override { return ".BRNBch"; }
  int32_t GetHeaderAreaSize() const override { return 4096; }
  std::string GetBlockKindName() const override { return "block"; }
  int32_t GetCacheCapacity() const override { return capacity_; }
  int32_t GetBlockSize() const override { return kBlockSize; }
  int32_t GetBufferSize() const override { return kBlockSize; }
  TBRNTableFileBuffer* Get(int32_t n) {
    bool restart = false;
    return GetBuffer(n, false, 0, 0, restart);
  }

 protected:
  TBRNTableFileBuffer* CreateBuffer() override { return new TBRNTableFileBuffer(this); }

 private:
  int32_t capacity_;
};

std::vector<int32_t> RandomBlocks(int32_t count) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int32_t> pick(1, count);
  std::vector<int32_t> blocks(65536);
  for (int32_t& n : blocks) n = pick(random);
  return blocks;
}

std::string BenchFolder() {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr ? base : "/tmp") + "/";
}

// Warm pins and releases inside one Read bracket, as a statement holds it
// around its operations: the memory file holds the blocks, the host's lock
// file is on disk.
void BM_CacheRandomReads(benchmark::State& state) {
  TBRNMemoryFileManager files(nullptr);
  BenchHost host(BenchFolder(), ".BRNBch");
  BenchFile file(&host, &files, kCachedBlocks * 2);
  file.OpenOrCreate();
  for (int32_t n = 1; n <= kCachedBlocks; ++n) {
    TBRNTableFileBuffer* buffer = file.Get(n);
    buffer->Data()[100] = uint8_t(n);
    buffer->MarkModified();
    file.ReleaseBuffer(buffer);
  }
  file.Flush(false);
  std::vector<int32_t> blocks = RandomBlocks(kCachedBlocks);
  size_t i = 0;
  uint32_t sum = 0;
  TableReadBracket statement(&host);
  for (auto _ : state) {
    TBRNTableFileBuffer* buffer = file.Get(blocks[i++ & 65535]);
    sum += buffer->Data()[100];
    file.ReleaseBuffer(buffer);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CacheRandomReads);

void BM_VectorOfPagesRandomReads(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> pages(kCachedBlocks + 1, std::vector<uint8_t>(kBlockSize));
  for (int32_t n = 1; n <= kCachedBlocks; ++n) pages[size_t(n)][100] = uint8_t(n);
  std::vector<int32_t> blocks = RandomBlocks(kCachedBlocks);
  size_t i = 0;
  uint32_t sum = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& page = pages[size_t(blocks[i++ & 65535])];
    benchmark::DoNotOptimize(page.data());
    sum += page[100];
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VectorOfPagesRandomReads);

void BM_FlushDirtyBlocks(benchmark::State& state) {
  TBRNOSFileManager files(nullptr);
  BenchHost host(BenchFolder(), ".BRNBch");
  {
    BenchFile file(&host, &files, kFlushBlocks + 16);
    file.OpenOrCreate();
    for (auto _ : state) {
      state.PauseTiming();
      for (int32_t n = 1; n <= kFlushBlocks; ++n) {
        TBRNTableFileBuffer* buffer = file.Get(n);
        buffer->Data()[8] = uint8_t(n);
        buffer->MarkModified();
        file.ReleaseBuffer(buffer);
      }
      state.ResumeTiming();
      file.Flush(false);
    }
  }
  files.DeleteFile(BenchFolder() + "Bench.BRNBch");
  state.SetBytesProcessed(state.iterations() * int64_t(kFlushBlocks) * kBlockSize);
}
BENCHMARK(BM_FlushDirtyBlocks)->Unit(benchmark::kMillisecond);

void BM_PwriteSameBytes(benchmark::State& state) {
  std::string name = BenchFolder() + "bench_pwrite.bin";
  int fd = open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  std::vector<uint8_t> bytes(size_t(kFlushBlocks) * kBlockSize, 7);
  constexpr size_t kRun = 1048576 + kBlockSize;
  for (auto _ : state) {
    for (size_t done = 0; done < bytes.size(); done += kRun) {
      size_t count = std::min(kRun, bytes.size() - done);
      if (pwrite(fd, bytes.data() + done, count, off_t(4096 + done)) != ssize_t(count)) {
        state.SkipWithError("pwrite failed");
      }
    }
    if (pwrite(fd, bytes.data(), 56, 0) != 56) state.SkipWithError("pwrite failed");
    if (pwrite(fd, bytes.data(), 56, 0) != 56) state.SkipWithError("pwrite failed");
  }
  close(fd);
  unlink(name.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
}
BENCHMARK(BM_PwriteSameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brn
