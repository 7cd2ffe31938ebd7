// Runtime primitives against the standard library's equivalents, measured in
// the same run: uncontended critical and read sections, and handing out and
// taking back handles in a table that already holds a thousand objects.
#include <benchmark/benchmark.h>

#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "foundation/runtime/handle_objects.h"
#include "foundation/runtime/sections.h"

namespace brn {
namespace {

void BM_CriticalSectionEnterLeave(benchmark::State& state) {
  TBRNCriticalSection section;
  for (auto _ : state) {
    section.Enter();
    section.Leave();
  }
}
BENCHMARK(BM_CriticalSectionEnterLeave);

void BM_Reference_RecursiveMutex(benchmark::State& state) {
  std::recursive_mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}
BENCHMARK(BM_Reference_RecursiveMutex);

void BM_ReadSectionBeginEndRead(benchmark::State& state) {
  TBRNReadWriteSection section;
  for (auto _ : state) {
    section.BeginRead(1);
    section.EndRead();
  }
}
BENCHMARK(BM_ReadSectionBeginEndRead);

void BM_Reference_SharedMutexShared(benchmark::State& state) {
  std::shared_mutex mutex;
  for (auto _ : state) {
    mutex.lock_shared();
    mutex.unlock_shared();
  }
}
BENCHMARK(BM_Reference_SharedMutexShared);

constexpr int LiveObjects = 1000;

void BM_HandleTableAddRemove(benchmark::State& state) {
  TBRNHandleObjects table(4096, true);
  std::vector<TBRNHandleObject> objects(LiveObjects + 1);
  for (int i = 0; i < LiveObjects; ++i) table.AddObject(&objects[size_t(i)], false);
  TBRNHandleObject& probe = objects[LiveObjects];
  table.RemoveObject(&objects[500], false);  // a gap in the middle
  for (auto _ : state) {
    table.AddObject(&probe, false);
    benchmark::DoNotOptimize(table.FindObject(probe.Handle));
    table.RemoveObject(&probe, false);
  }
  for (int i = 0; i < LiveObjects; ++i) table.RemoveObject(&objects[size_t(i)], false);
}
BENCHMARK(BM_HandleTableAddRemove);

// The same work with the handle chosen by the caller and the objects in a
// hash map: what a table without lowest-free numbering would cost.
void BM_Reference_UnorderedMapAddRemove(benchmark::State& state) {
  std::unordered_map<int32_t, TBRNHandleObject*> map;
  std::vector<TBRNHandleObject> objects(LiveObjects + 1);
  for (int i = 0; i < LiveObjects; ++i) map.emplace(i + 1, &objects[size_t(i)]);
  map.erase(501);
  for (auto _ : state) {
    map.emplace(501, &objects[LiveObjects]);
    benchmark::DoNotOptimize(map.find(501)->second);
    map.erase(501);
  }
}
BENCHMARK(BM_Reference_UnorderedMapAddRemove);

}  // namespace
}  // namespace brn
