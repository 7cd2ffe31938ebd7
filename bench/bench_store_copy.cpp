// COPY FILE of a 256 MB file between two local stores, and within one
// store, against a plain std::filesystem::copy_file of the same file in the
// same run.
//
//   Brindle between stores: the session's COPY FILE ... TO ... IN STORE,
//     64 KB chunks read from the source store into a work stream and
//     written to the target store, with progress and status texts.
//   Brindle within a store: the store's own copy, 64 KB chunks through one
//     buffer.
//   std::filesystem::copy_file: the C++ library's copy (which may use the
//     kernel's in-kernel copy); and the same followed by fdatasync of the
//     target, since the stores flush a finished copy to the disk before
//     reporting it copied.
//
// The source is written once before the timing; each iteration removes the
// target first (outside the timing). The files lie in the system's
// temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "metadata/config/stores.h"
#include "session_bench_host.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

constexpr int64_t kFileSize = int64_t(256) << 20;

// An engine in a temporary folder, a session logged in as Administrator
// with the stores Source and Target, and the 256 MB file Data.bin in
// Source.
struct CopySetup {
  CopySetup() {
    engine.Settings->SetConfigPath(folder.Path);
    session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    session->OpenSession("host", "Bench", "");
    session->Login("Administrator", "GlenHarbor");
    for (const char* name : {"Source", "Target"}) {
      TBRNStore* store = session->BeginCreateStore(name);
      store->SetStoreType(kLocalStore);
      store->SetPath(name);
      session->EndCreateStore(store);
      std::filesystem::create_directories(folder.Path + name);
    }
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 131 + 7);
    std::ofstream out(Source(), std::ios::binary);
    for (int64_t written = 0; written < kFileSize; written += int64_t(block.size()))
      out.write(block.data(), std::streamsize(block.size()));
  }

  std::string Source() const { return folder.Path + "Source/Data.bin"; }
  std::string Target(const char* store) const { return folder.Path + store + "/Copy.bin"; }

  BenchFolder folder{"store_copy"};
  TBRNEngineManager engine;
  std::unique_ptr<TBRNLocalSessionManager> session;
};

CopySetup& Setup() {
  static CopySetup setup;
  return setup;
}

void BM_CopyFileBetweenStores(benchmark::State& state) {
  CopySetup& setup = Setup();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(setup.Target("Target"));
    state.ResumeTiming();
    setup.session->CopyStoreFile("Source", "Data.bin", "Copy.bin", "Target");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_CopyFileBetweenStores)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CopyFileWithinStore(benchmark::State& state) {
  CopySetup& setup = Setup();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(setup.Target("Source"));
    state.ResumeTiming();
    setup.session->CopyStoreFile("Source", "Data.bin", "Copy.bin", "");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_CopyFileWithinStore)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_StdFilesystemCopyFile(benchmark::State& state) {
  CopySetup& setup = Setup();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(setup.Target("Target"));
    state.ResumeTiming();
    std::filesystem::copy_file(setup.Source(), setup.Target("Target"));
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_StdFilesystemCopyFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_StdFilesystemCopyFileThenSync(benchmark::State& state) {
  CopySetup& setup = Setup();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(setup.Target("Target"));
    state.ResumeTiming();
    std::filesystem::copy_file(setup.Source(), setup.Target("Target"));
    int fd = ::open(setup.Target("Target").c_str(), O_WRONLY);
    if (fd < 0 || ::fdatasync(fd) != 0) state.SkipWithError("fdatasync failed");
    if (fd >= 0) ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(BM_StdFilesystemCopyFileThenSync)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace brn
