// Compression wrapper against zlib's own one-call functions on the same
// 1 MB of row-like data.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>

#include "foundation/locks/compression.h"
#include "foundation/core/memory_stream.h"

namespace {

using brn::TBRNCompressionManager;
using brn::TBRNMemoryStream;

const std::string& rowLikeData() {
  static const std::string data = [] {
    std::mt19937 random(7);
    std::string s;
    while (s.size() < (1u << 20)) {
      s += "ROW" + std::to_string(random() % 100000) + "|Customer " + char('A' + random() % 26) +
           "|2024-0" + std::to_string(1 + random() % 9) + "-1" + std::to_string(random() % 10) +
           '\0';
    }
    s.resize(1u << 20);
    return s;
  }();
  return data;
}

void BM_WrapperCompress(benchmark::State& state) {
  const std::string& data = rowLikeData();
  TBRNCompressionManager manager;
  manager.SetCompressionLevel(int32_t(state.range(0)));
  TBRNMemoryStream source, target;
  source.Write(data.data(), int32_t(data.size()));
  for (auto _ : state) {
    source.SetPosition(0);
    target.SetPosition(0);
    manager.CompressStream(source, target);
    benchmark::DoNotOptimize(target.GetMemory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_ZlibCompress2(benchmark::State& state) {
  const std::string& data = rowLikeData();
  std::string out(compressBound(uLong(data.size())), '\0');
  for (auto _ : state) {
    uLongf length = uLongf(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), int(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_WrapperDecompress(benchmark::State& state) {
  const std::string& data = rowLikeData();
  TBRNCompressionManager manager;
  manager.SetCompressionLevel(int32_t(state.range(0)));
  TBRNMemoryStream source, packed, target;
  source.Write(data.data(), int32_t(data.size()));
  source.SetPosition(0);
  manager.CompressStream(source, packed);
  for (auto _ : state) {
    packed.SetPosition(0);
    target.SetPosition(0);
    manager.DecompressStream(packed, target);
    benchmark::DoNotOptimize(target.GetMemory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_ZlibUncompress(benchmark::State& state) {
  const std::string& data = rowLikeData();
  std::string packed(compressBound(uLong(data.size())), '\0');
  uLongf packedLength = uLongf(packed.size());
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedLength,
            reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), int(state.range(0)));
  std::string out(data.size(), '\0');
  for (auto _ : state) {
    uLongf length = uLongf(out.size());
    uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
               reinterpret_cast<const Bytef*>(packed.data()), packedLength);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

BENCHMARK(BM_WrapperCompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress2)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WrapperDecompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
