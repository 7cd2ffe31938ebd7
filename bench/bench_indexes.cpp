// B-tree index throughput beside two references measured in the same run:
// 1,000,000 random inserts of integer keys and 1,000,000 point lookups,
// against std::map holding the same keys and against SQLite (a WITHOUT
// ROWID table keyed by the integer, so that one B-tree is searched and
// changed as here; the inserts in one transaction, the lookups through one
// prepared statement inside one read transaction, as a statement reading
// many keys runs). Both files live on disk in TMPDIR; both writers end
// with a synchronous flush or commit. Then a range scan: 10,000 random
// starting keys, 100 keys in order from each. SQLite runs with a 64 MB
// cache and 4096-byte pages (each case reports its settings in its label).
// Each Brindle statement (the inserts, the lookups, the scans) runs inside
// one Read bracket of its table, as SQLite's run inside one transaction.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/os_file_manager.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_file.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_navigator.h"
#include "storage_bench_host.h"

namespace brn {
namespace {

constexpr int32_t kKeys = 1000000;

// One unique integer index, 4096-byte pages and a 64 MB cache (the whole
// tree stays cached, as SQLite's cache is sized below).
class BenchIndexHost : public TBRNIndexFileHost {
 public:
  BenchIndexHost() {
    TBRNIndexKeyColumn column;
    column.DataType = dtInteger;
    layout_ =
        std::make_unique<TBRNIndexKeyLayout>("ByKey", 1, std::vector<TBRNIndexKeyColumn>{column});
  }
  int32_t GetIndexCount() override { return 1; }
  const TBRNIndexKeyLayout* GetIndexLayout(int32_t) override { return layout_.get(); }
  void SetRebuildNeeded(int32_t, bool) override {}
  int32_t GetIndexPageSize() const override { return 4096; }
  int32_t GetMaxIndexBufferSize() const override { return 64 << 20; }
  bool IsSystemTable() const override { return false; }
  int32_t GetRowFileLastBlock() override { return kKeys; }

 private:
  std::unique_ptr<TBRNIndexKeyLayout> layout_;
};

std::string BenchFolder() {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr ? base : "/tmp") + "/";
}

// The keys in random order (distinct) and the lookups in another.
struct Keys {
  std::vector<int32_t> Inserts;
  std::vector<int32_t> Lookups;
  Keys() {
    std::mt19937 random(7);
    Inserts.resize(kKeys);
    for (int32_t i = 0; i < kKeys; ++i) Inserts[size_t(i)] = i * 3 + 1;
    std::shuffle(Inserts.begin(), Inserts.end(), random);
    Lookups = Inserts;
    std::shuffle(Lookups.begin(), Lookups.end(), random);
  }
};

const Keys& TheKeys() {
  static const Keys keys;
  return keys;
}

// The index file with its navigator; Fill inserts every key (row = position
// + 1) and flushes.
struct BrindleIndex {
  // The writer holds the table as a session inside a transaction would.
  BenchHost Host{BenchFolder(), ".BRNIdx", "BenchIndexes", true, true};
  BenchIndexHost IndexHost;
  TBRNOSFileManager Files{nullptr};
  std::unique_ptr<TBRNIndexManager> File;
  std::unique_ptr<TBRNIndexNavigator> Navigator;

  BrindleIndex() {
    File = std::make_unique<TBRNIndexManager>(&Host, &IndexHost, &Files);
    ::unlink(File->GetFileName().c_str());
    File->OpenOrCreate();
    Navigator = std::make_unique<TBRNIndexNavigator>(File.get(), 0);
  }
  ~BrindleIndex() {
    Navigator.reset();
    File->Close();
    ::unlink(File->GetFileName().c_str());
  }
  void Fill() {
    TableReadBracket statement(&Host);
    TBRNContainedIndexKeyValues key(Navigator->GetLayout());
    const std::vector<int32_t>& inserts = TheKeys().Inserts;
    for (int32_t i = 0; i < kKeys; ++i) {
      key.GetItem(0)->SetAsInteger(inserts[size_t(i)]);
      Navigator->InsertKey(key, i + 1);
    }
    File->Flush(true);
  }
};

// Every key inserted into a fresh Index (BrindleIndex or SqliteIndex); only
// the Fill is timed.
template <typename Index>
void RunInserts(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<Index>();
    state.ResumeTiming();
    index->Fill();
    state.PauseTiming();
    index.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_BrindleIndexInsert(benchmark::State& state) {
  RunInserts<BrindleIndex>(state);
}
BENCHMARK(BM_BrindleIndexInsert)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BrindleIndexLookup(benchmark::State& state) {
  BrindleIndex index;
  index.Fill();
  TBRNContainedIndexKeyValues key(index.Navigator->GetLayout());
  const std::vector<int32_t>& lookups = TheKeys().Lookups;
  int64_t found = 0;
  for (auto _ : state) {
    TableReadBracket statement(&index.Host);
    for (int32_t value : lookups) {
      key.GetItem(0)->SetAsInteger(value);
      bool restart = false;
      if (index.Navigator->FindKey(key, 0, restart, false) == 0) {
        found += index.Navigator->GetRowNumber() > 0;
      }
    }
  }
  if (found != int64_t(state.iterations()) * kKeys) state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_BrindleIndexLookup)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StdMapInsert(benchmark::State& state) {
  const std::vector<int32_t>& inserts = TheKeys().Inserts;
  for (auto _ : state) {
    std::map<int32_t, int32_t> map;
    for (int32_t i = 0; i < kKeys; ++i) map.emplace(inserts[size_t(i)], i + 1);
    benchmark::DoNotOptimize(map.size());
    state.PauseTiming();
    map.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapInsert)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StdMapLookup(benchmark::State& state) {
  const std::vector<int32_t>& inserts = TheKeys().Inserts;
  std::map<int32_t, int32_t> map;
  for (int32_t i = 0; i < kKeys; ++i) map.emplace(inserts[size_t(i)], i + 1);
  int64_t found = 0;
  for (auto _ : state) {
    for (int32_t value : TheKeys().Lookups) {
      auto it = map.find(value);
      if (it != map.end()) found += it->second > 0;
    }
  }
  if (found != int64_t(state.iterations()) * kKeys) state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_StdMapLookup)->Unit(benchmark::kMillisecond)->Iterations(3);

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

// The settings a connection runs with, as SQLite reports them.
std::string SqliteSettings(sqlite3* db) {
  std::string text;
  for (const char* pragma : {"journal_mode", "synchronous", "cache_size", "page_size"}) {
    sqlite3_stmt* query = nullptr;
    Check(sqlite3_prepare_v2(db, ("PRAGMA " + std::string(pragma)).c_str(), -1, &query, nullptr),
          db);
    if (sqlite3_step(query) == SQLITE_ROW) {
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
      text += std::string(text.empty() ? "" : " ") + pragma + "=" + (value ? value : "");
    }
    sqlite3_finalize(query);
  }
  return text;
}

struct SqliteIndex {
  std::string Name = BenchFolder() + "bench_indexes.sqlite";
  sqlite3* Db = nullptr;

  SqliteIndex() {
    ::unlink(Name.c_str());
    Check(sqlite3_open(Name.c_str(), &Db), Db);
    Check(sqlite3_exec(Db, "PRAGMA page_size=4096; PRAGMA cache_size=-65536;", nullptr, nullptr,
                       nullptr),
          Db);
    Check(
        sqlite3_exec(Db, "CREATE TABLE t(k INTEGER PRIMARY KEY NOT NULL, r INTEGER) WITHOUT ROWID",
                     nullptr, nullptr, nullptr),
        Db);
  }
  ~SqliteIndex() {
    sqlite3_close(Db);
    ::unlink(Name.c_str());
  }
  void Fill() {
    Check(sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr), Db);
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(Db, "INSERT INTO t(k, r) VALUES (?, ?)", -1, &insert, nullptr), Db);
    const std::vector<int32_t>& inserts = TheKeys().Inserts;
    for (int32_t i = 0; i < kKeys; ++i) {
      sqlite3_bind_int(insert, 1, inserts[size_t(i)]);
      sqlite3_bind_int(insert, 2, i + 1);
      Check(sqlite3_step(insert), Db);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Check(sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr), Db);
  }
};

void BM_SqliteInsert(benchmark::State& state) {
  RunInserts<SqliteIndex>(state);
  SqliteIndex settings;
  state.SetLabel(SqliteSettings(settings.Db));
}
BENCHMARK(BM_SqliteInsert)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteLookup(benchmark::State& state) {
  SqliteIndex index;
  index.Fill();
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(index.Db, "SELECT r FROM t WHERE k = ?", -1, &select, nullptr),
        index.Db);
  int64_t found = 0;
  for (auto _ : state) {
    Check(sqlite3_exec(index.Db, "BEGIN", nullptr, nullptr, nullptr), index.Db);
    for (int32_t value : TheKeys().Lookups) {
      sqlite3_bind_int(select, 1, value);
      if (sqlite3_step(select) == SQLITE_ROW) found += sqlite3_column_int(select, 0) > 0;
      sqlite3_reset(select);
    }
    Check(sqlite3_exec(index.Db, "COMMIT", nullptr, nullptr, nullptr), index.Db);
  }
  sqlite3_finalize(select);
  state.SetLabel(SqliteSettings(index.Db));
  if (found != int64_t(state.iterations()) * kKeys) state.SkipWithError("a key was not found");
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_SqliteLookup)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr int32_t kRanges = 10000;
constexpr int32_t kRangeKeys = 100;

// The first key of each range: a stored key, chosen at random.
const std::vector<int32_t>& RangeStarts() {
  static const std::vector<int32_t> starts(TheKeys().Lookups.begin(),
                                           TheKeys().Lookups.begin() + kRanges);
  return starts;
}

void BM_BrindleIndexRangeScan(benchmark::State& state) {
  BrindleIndex index;
  index.Fill();
  TBRNIndexNavigator& navigator = *index.Navigator;
  TBRNContainedIndexKeyValues key(navigator.GetLayout());
  int64_t sum = 0;
  for (auto _ : state) {
    TableReadBracket statement(&index.Host);
    for (int32_t start : RangeStarts()) {
      key.GetItem(0)->SetAsInteger(start);
      bool restart = false;
      navigator.FindKey(key, 0, restart, false);
      for (int32_t i = 0; i < kRangeKeys && !navigator.GetEof(); ++i) {
        sum += navigator.GetRowNumber();
        navigator.Next(restart);
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRanges * kRangeKeys);
}
BENCHMARK(BM_BrindleIndexRangeScan)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StdMapRangeScan(benchmark::State& state) {
  const std::vector<int32_t>& inserts = TheKeys().Inserts;
  std::map<int32_t, int32_t> map;
  for (int32_t i = 0; i < kKeys; ++i) map.emplace(inserts[size_t(i)], i + 1);
  int64_t sum = 0;
  for (auto _ : state) {
    for (int32_t start : RangeStarts()) {
      auto it = map.lower_bound(start);
      for (int32_t i = 0; i < kRangeKeys && it != map.end(); ++i, ++it) sum += it->second;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRanges * kRangeKeys);
}
BENCHMARK(BM_StdMapRangeScan)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteRangeScan(benchmark::State& state) {
  SqliteIndex index;
  index.Fill();
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(index.Db, "SELECT r FROM t WHERE k >= ? ORDER BY k LIMIT 100", -1,
                           &select, nullptr),
        index.Db);
  int64_t sum = 0;
  for (auto _ : state) {
    Check(sqlite3_exec(index.Db, "BEGIN", nullptr, nullptr, nullptr), index.Db);
    for (int32_t start : RangeStarts()) {
      sqlite3_bind_int(select, 1, start);
      while (sqlite3_step(select) == SQLITE_ROW) sum += sqlite3_column_int(select, 0);
      sqlite3_reset(select);
    }
    Check(sqlite3_exec(index.Db, "COMMIT", nullptr, nullptr, nullptr), index.Db);
  }
  sqlite3_finalize(select);
  state.SetLabel(SqliteSettings(index.Db));
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRanges * kRangeKeys);
}
BENCHMARK(BM_SqliteRangeScan)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace brn
