// Memory stream, CRC-32, Blowfish and MD5 throughput, each beside a reference
// measured in the same run.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"

namespace brn {
namespace {

constexpr int kRecords = 4096;
// One record: INTEGER, BIGINT, FLOAT, SMALLINT, byte = 23 bytes.
constexpr int kRecordSize = 4 + 8 + 8 + 2 + 1;

inline void WriteRecords(TBRNMemoryStream& stream) {
  for (int i = 0; i < kRecords; ++i) {
    stream.WriteInteger(i);
    stream.WriteInt64(int64_t(i) << 20);
    stream.WriteDouble(i * 0.5);
    stream.WriteSmallInt(int16_t(i));
    stream.WriteByte(uint8_t(i));
  }
}

// The same record's bytes with memcpy, the reference for the typed writers.
inline void PutRecord(uint8_t* p, int i) {
  int32_t a = i;
  int64_t b = int64_t(i) << 20;
  double c = i * 0.5;
  int16_t d = int16_t(i);
  std::memcpy(p, &a, 4);
  std::memcpy(p + 4, &b, 8);
  std::memcpy(p + 12, &c, 8);
  std::memcpy(p + 20, &d, 2);
  p[22] = uint8_t(i);
}

void StreamWriteTyped(benchmark::State& state) {
  TBRNMemoryStream stream;
  stream.SetCapacity(kRecords * kRecordSize);
  for (auto _ : state) {
    stream.SetPosition(0);
    WriteRecords(stream);
    benchmark::DoNotOptimize(stream.GetMemory());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(StreamWriteTyped);

// The same values and bytes with memcpy at a running offset.
void ReferenceWriteMemcpy(benchmark::State& state) {
  std::vector<uint8_t> buffer(kRecords * kRecordSize);
  for (auto _ : state) {
    uint8_t* p = buffer.data();
    for (int i = 0; i < kRecords; ++i) {
      PutRecord(p, i);
      p += kRecordSize;
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(ReferenceWriteMemcpy);

// Appending to a fresh stream that grows by 64 KiB blocks.
void StreamWriteGrowing(benchmark::State& state) {
  for (auto _ : state) {
    TBRNMemoryStream stream;
    stream.SetBlockSize(65536);
    WriteRecords(stream);
    benchmark::DoNotOptimize(stream.GetMemory());
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(StreamWriteGrowing);

// The same appends to a std::vector, which grows geometrically.
void ReferenceWriteGrowingVector(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> buffer;
    for (int i = 0; i < kRecords; ++i) {
      size_t at = buffer.size();
      buffer.resize(at + kRecordSize);
      PutRecord(buffer.data() + at, i);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(ReferenceWriteGrowingVector);

void StreamReadTyped(benchmark::State& state) {
  TBRNMemoryStream stream;
  WriteRecords(stream);
  for (auto _ : state) {
    stream.SetPosition(0);
    int64_t sum = 0;
    double total = 0;
    for (int i = 0; i < kRecords; ++i) {
      sum += stream.ReadInteger();
      sum += stream.ReadInt64();
      total += stream.ReadDouble();
      sum += stream.ReadSmallInt();
      sum += stream.ReadByte();
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(StreamReadTyped);

void ReferenceReadMemcpy(benchmark::State& state) {
  std::vector<uint8_t> buffer(kRecords * kRecordSize);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 7);
  for (auto _ : state) {
    const uint8_t* p = buffer.data();
    int64_t sum = 0;
    double total = 0;
    for (int i = 0; i < kRecords; ++i) {
      int32_t a;
      int64_t b;
      double c;
      int16_t d;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + 4, 8);
      std::memcpy(&c, p + 12, 8);
      std::memcpy(&d, p + 20, 2);
      sum += a + b + d + p[22];
      total += c;
      p += kRecordSize;
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * kRecords * kRecordSize);
}
BENCHMARK(ReferenceReadMemcpy);

std::vector<uint8_t> Payload(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i * 131 + (i >> 9));
  return data;
}

constexpr size_t kPayloadSize = 1 << 16;

void CRC32Register(benchmark::State& state) {
  TBRNMemoryStream stream;
  std::vector<uint8_t> data = Payload(kPayloadSize);
  stream.Write(data.data(), int32_t(data.size()));
  for (auto _ : state) benchmark::DoNotOptimize(stream.CalculateCRC32(0));
  state.SetBytesProcessed(state.iterations() * int64_t(kPayloadSize));
}
BENCHMARK(CRC32Register);

void ReferenceZlibCRC32(benchmark::State& state) {
  std::vector<uint8_t> data = Payload(kPayloadSize);
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), uInt(data.size())));
  state.SetBytesProcessed(state.iterations() * int64_t(kPayloadSize));
}
BENCHMARK(ReferenceZlibCRC32);

// Encrypt or Decrypt over 64 KiB in place, one chain per call.
void BlowfishCBC(benchmark::State& state, void (TBRNMemoryStream::*process)(int32_t)) {
  TBRNDigest key;
  key.DigestString("password");
  TBRNMemoryStream stream;
  stream.SetEncryptionKey(key);
  std::vector<uint8_t> data = Payload(kPayloadSize);
  stream.Write(data.data(), int32_t(data.size()));
  for (auto _ : state) {
    stream.SetPosition(0);
    (stream.*process)(0);
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPayloadSize));
}
BENCHMARK_CAPTURE(BlowfishCBC, Encrypt, &TBRNMemoryStream::Encrypt);
BENCHMARK_CAPTURE(BlowfishCBC, Decrypt, &TBRNMemoryStream::Decrypt);

void MD5Digest(benchmark::State& state) {
  TBRNBytes data = Payload(kPayloadSize);
  TBRNDigest digest;
  for (auto _ : state) {
    digest.Initialize();
    digest.Update(data, int32_t(data.size()));
    digest.Finalize();
    benchmark::DoNotOptimize(digest.Digest.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPayloadSize));
}
BENCHMARK(MD5Digest);

}  // namespace
}  // namespace brn
