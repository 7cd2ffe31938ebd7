// Bit sets against a std::vector<bool> of the same size, measured in the same
// run: each Bitmap_... (2^20 bits) or Sparse_... (2^22 rows) case has a
// VectorBool_... twin of the same size and density doing the same work.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/core/bitmap.h"
#include "foundation/core/sparse_bitmap.h"

namespace brn {
namespace {

constexpr int32_t kDenseSize = 1 << 20;
constexpr int32_t kSparseSize = 1 << 22;

// Random 1-based positions in 1..size, the same for both contestants.
std::vector<int32_t> RandomPositions(int32_t size, size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int32_t> positions(count);
  for (auto& p : positions) p = int32_t(random() % uint32_t(size)) + 1;
  return positions;
}

// Every position with probability percent / 100.
std::vector<int32_t> Members(int32_t size, int percent, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int32_t> rows;
  for (int32_t p = 1; p <= size; ++p)
    if (int(random() % 100) < percent) rows.push_back(p);
  return rows;
}

TBRNBitmap DenseOf(int32_t size, const std::vector<int32_t>& rows) {
  TBRNBitmap bitmap;
  bitmap.SetSize(size);
  for (int32_t r : rows) bitmap.SetBit(r);
  return bitmap;
}

std::vector<bool> VectorOf(int32_t size, const std::vector<int32_t>& rows) {
  std::vector<bool> bits(size_t(size), false);
  for (int32_t r : rows) bits[size_t(r - 1)] = true;
  return bits;
}

void SparseOf(TBRNSparseBitmap& set, int32_t size, const std::vector<int32_t>& rows) {
  set.Size = size;
  for (int32_t r : rows) set.SetBit(r);
}

// --- the std::vector<bool> references of whole-set operations, for both sizes
// (argument: density in percent) --------------------------------------------

template <int32_t Size>
void BM_VectorBool_IsBitSet(benchmark::State& state) {
  auto positions = RandomPositions(Size, 1 << 16, 2);
  std::vector<bool> bits = VectorOf(Size, Members(Size, int(state.range(0)), 3));
  for (auto _ : state) {
    int32_t hits = 0;
    for (int32_t p : positions) hits += bits[size_t(p - 1)];
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}

template <int32_t Size>
void BM_VectorBool_CountSet(benchmark::State& state) {
  std::vector<bool> bits = VectorOf(Size, Members(Size, int(state.range(0)), 4));
  for (auto _ : state) benchmark::DoNotOptimize(std::count(bits.begin(), bits.end(), true));
  state.SetItemsProcessed(state.iterations() * Size);
}

template <int32_t Size>
void BM_VectorBool_Walk(benchmark::State& state) {
  std::vector<bool> bits = VectorOf(Size, Members(Size, int(state.range(0)), 5));
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t i = 0; i < Size; ++i)
      if (bits[size_t(i)]) sum += i + 1;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * Size);
}

template <int32_t Size>
void BM_VectorBool_AndOr(benchmark::State& state) {
  std::vector<bool> a = VectorOf(Size, Members(Size, int(state.range(0)), 6));
  std::vector<bool> b = VectorOf(Size, Members(Size, int(state.range(0)), 7));
  for (auto _ : state) {
    for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] && b[i];
    for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] || b[i];
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * Size);
}

template <int32_t Size>
void BM_VectorBool_Invert(benchmark::State& state) {
  std::vector<bool> bits = VectorOf(Size, Members(Size, int(state.range(0)), 8));
  for (auto _ : state) {
    bits.flip();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * Size);
}

BENCHMARK(BM_VectorBool_IsBitSet<kDenseSize>)->Arg(50);
BENCHMARK(BM_VectorBool_CountSet<kDenseSize>)->Arg(50);
BENCHMARK(BM_VectorBool_Walk<kDenseSize>)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_AndOr<kDenseSize>)->Arg(50);
BENCHMARK(BM_VectorBool_Invert<kDenseSize>)->Arg(50);
BENCHMARK(BM_VectorBool_IsBitSet<kSparseSize>)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_CountSet<kSparseSize>)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_Walk<kSparseSize>)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_AndOr<kSparseSize>)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_Invert<kSparseSize>)->Arg(1)->Arg(50);

// --- dense ----------------------------------------------------------------

void BM_Bitmap_SetBit(benchmark::State& state) {
  auto positions = RandomPositions(kDenseSize, 1 << 16, 1);
  TBRNBitmap bitmap = DenseOf(kDenseSize, {});
  for (auto _ : state) {
    for (int32_t p : positions) bitmap.SetBit(p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}
void BM_VectorBool_SetBit(benchmark::State& state) {
  auto positions = RandomPositions(kDenseSize, 1 << 16, 1);
  std::vector<bool> bits(kDenseSize);
  for (auto _ : state) {
    for (int32_t p : positions) bits[size_t(p - 1)] = true;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}

void BM_Bitmap_IsBitSet(benchmark::State& state) {
  auto positions = RandomPositions(kDenseSize, 1 << 16, 2);
  TBRNBitmap bitmap = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 3));
  for (auto _ : state) {
    int32_t hits = 0;
    for (int32_t p : positions) hits += bitmap.IsBitSet(p);
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}
void BM_Bitmap_CountSet(benchmark::State& state) {
  TBRNBitmap bitmap = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 4));
  for (auto _ : state) benchmark::DoNotOptimize(bitmap.CountSet());
  state.SetItemsProcessed(state.iterations() * kDenseSize);
}
// Walks every member; the argument is the density in percent.
void BM_Bitmap_FindNextSet(benchmark::State& state) {
  TBRNBitmap bitmap = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 5));
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t n = 0; bitmap.FindNextSet(n);) sum += n;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kDenseSize);
}
void BM_Bitmap_AndOr(benchmark::State& state) {
  TBRNBitmap a = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 6));
  TBRNBitmap b = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 7));
  for (auto _ : state) {
    a.AndBitmap(b);
    a.OrBitmap(b);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kDenseSize);
}
void BM_Bitmap_Invert(benchmark::State& state) {
  TBRNBitmap bitmap = DenseOf(kDenseSize, Members(kDenseSize, int(state.range(0)), 8));
  for (auto _ : state) {
    bitmap.Invert();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kDenseSize);
}
BENCHMARK(BM_Bitmap_SetBit);
BENCHMARK(BM_VectorBool_SetBit);
BENCHMARK(BM_Bitmap_IsBitSet)->Arg(50);
BENCHMARK(BM_Bitmap_CountSet)->Arg(50);
BENCHMARK(BM_Bitmap_FindNextSet)->Arg(1)->Arg(50);
BENCHMARK(BM_Bitmap_AndOr)->Arg(50);
BENCHMARK(BM_Bitmap_Invert)->Arg(50);

// --- sparse (argument: density in percent of kSparseSize rows) -------------

void BM_Sparse_SetClear(benchmark::State& state) {
  auto rows = Members(kSparseSize, int(state.range(0)), 9);
  TBRNSparseBitmap set(true, false, 0);
  set.Size = kSparseSize;
  for (auto _ : state) {
    for (int32_t r : rows) set.SetBit(r);
    for (int32_t r : rows) set.ClearBit(r, false);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(rows.size()) * 2);
}
void BM_VectorBool_SetClear(benchmark::State& state) {
  auto rows = Members(kSparseSize, int(state.range(0)), 9);
  std::vector<bool> bits(kSparseSize);
  for (auto _ : state) {
    for (int32_t r : rows) bits[size_t(r - 1)] = true;
    for (int32_t r : rows) bits[size_t(r - 1)] = false;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(rows.size()) * 2);
}

void BM_Sparse_IsBitSet(benchmark::State& state) {
  auto positions = RandomPositions(kSparseSize, 1 << 16, 2);
  TBRNSparseBitmap set(true, false, 0);
  SparseOf(set, kSparseSize, Members(kSparseSize, int(state.range(0)), 3));
  for (auto _ : state) {
    int32_t hits = 0;
    for (int32_t p : positions) hits += set.IsBitSet(p);
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}
void BM_Sparse_Walk(benchmark::State& state) {
  TBRNSparseBitmap set(true, false, 0);
  SparseOf(set, kSparseSize, Members(kSparseSize, int(state.range(0)), 5));
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t n = 0; set.FindNextSet(n);) sum += n;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kSparseSize);
}
void BM_Sparse_CountSet(benchmark::State& state) {
  TBRNSparseBitmap set(true, false, 0);
  SparseOf(set, kSparseSize, Members(kSparseSize, int(state.range(0)), 4));
  for (auto _ : state) benchmark::DoNotOptimize(set.CountSet());
  state.SetItemsProcessed(state.iterations() * kSparseSize);
}
void BM_Sparse_AndOr(benchmark::State& state) {
  TBRNSparseBitmap a(true, false, 0), b(true, false, 0);
  SparseOf(a, kSparseSize, Members(kSparseSize, int(state.range(0)), 6));
  SparseOf(b, kSparseSize, Members(kSparseSize, int(state.range(0)), 7));
  for (auto _ : state) {
    a.AndBitmap(b);
    a.OrBitmap(b);
  }
  state.SetItemsProcessed(state.iterations() * kSparseSize);
}
void BM_Sparse_Invert(benchmark::State& state) {
  TBRNSparseBitmap set(true, false, 0);
  SparseOf(set, kSparseSize, Members(kSparseSize, int(state.range(0)), 8));
  for (auto _ : state) benchmark::DoNotOptimize(set.Invert());
  state.SetItemsProcessed(state.iterations() * kSparseSize);
}
BENCHMARK(BM_Sparse_SetClear)->Arg(1)->Arg(50);
BENCHMARK(BM_VectorBool_SetClear)->Arg(1)->Arg(50);
BENCHMARK(BM_Sparse_IsBitSet)->Arg(1)->Arg(50);
BENCHMARK(BM_Sparse_Walk)->Arg(1)->Arg(50);
BENCHMARK(BM_Sparse_CountSet)->Arg(1)->Arg(50);
BENCHMARK(BM_Sparse_AndOr)->Arg(1)->Arg(50);
BENCHMARK(BM_Sparse_Invert)->Arg(1)->Arg(50);

}  // namespace
}  // namespace brn
