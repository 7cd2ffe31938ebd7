// Rows of three columns (INTEGER, VARCHAR(20), INTEGER), 1,000,000 of them,
// inserted and then read back in row order, by three contestants in the same
// run: the row file (rows through its cache and navigator, one flush with an
// operating-system flush at the end, read back after reopening), the same
// row images copied into and out of a plain std::vector<std::byte>, and
// SQLite inserting the same rows in one transaction with a prepared
// statement and reading them back in rowid order. Each case reports
// insert_ms and read_ms; the wall time covers both.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/os_file_manager.h"
#include "metadata/columns.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage_bench_host.h"

namespace brn {
namespace {

constexpr int32_t kRows = 1000000;

// A fresh folder, removed at the end.
struct BenchFolder {
  BenchFolder() {
    const char* base = std::getenv("BRN_TEST_TMP");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/bench_rows_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = std::string(buffer.data()) + "/";
  }
  ~BenchFolder() {
    int rc = std::system(("rm -rf '" + Path + "'").c_str());
    (void)rc;
  }
  std::string Path;
};

std::unique_ptr<TBRNColumns> BenchColumns() {
  auto columns = std::make_unique<TBRNColumns>(nullptr);
  int32_t id = 1;
  auto add = [&](TBRNDataTypeCode type, int32_t length) {
    auto column = std::make_unique<TBRNColumn>(nullptr);
    column->Name = "C" + std::to_string(id);
    column->ID = id++;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    columns->AddObject(column.get());
    column.release();
  };
  add(dtInteger, 0);
  add(dtChar, 20);
  add(dtInteger, 0);
  columns->RebuildColumnLists();
  return columns;
}

// The values of row i, the same for every contestant.
std::string NameOf(int32_t i) {
  return "customer " + std::to_string(i % 100000);
}
int32_t AmountOf(int32_t i) {
  return (i * 37) % 10007;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Walks every block in order; the rows are all live.
class AllRows : public TBRNRowsetNavigator {
 public:
  using TBRNRowsetNavigator::TBRNRowsetNavigator;
};

void RowFile_InsertAndReadBack(benchmark::State& state) {
  auto columns = BenchColumns();
  TBRNRowsetLayout layout;
  layout.Columns = columns.get();
  layout.RowSize = (columns->RowSize + 7) / 8 * 8;
  double insertMs = 0, readMs = 0;
  int64_t checksum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BenchFolder folder;
    // A bulk insert runs under the table's exclusive lock.
    BenchHost host(folder.Path, ".BRNTbl", "Bench", true);
    TBRNOSFileManager files(nullptr);
    state.ResumeTiming();

    auto start = std::chrono::steady_clock::now();
    {
      TBRNRowsetManager rows(&host, &files, layout);
      rows.OpenOrCreate();
      TBRNRowsetNavigator navigator(&rows);
      auto buffer = rows.NewRowBuffer();
      TBRNRowsetRowValues values(columns.get(), nullptr);
      values.SetRow(buffer.get());
      for (int32_t i = 1; i <= kRows; ++i) {
        values.GetItem(0)->SetAsInteger(rows.NextRowID());
        values.GetItem(1)->SetAsString(NameOf(i));
        values.GetItem(2)->SetAsInteger(AmountOf(i));
        int32_t rowNumber = 0, counter = 0;
        navigator.InsertRow(rows.NextVersion(), values, rowNumber, counter);
      }
      rows.Flush(true);
      rows.Close();
    }
    insertMs += MillisecondsSince(start);

    start = std::chrono::steady_clock::now();
    {
      TBRNRowsetManager rows(&host, &files, layout);
      rows.Open();
      AllRows walk(&rows);
      bool restart = false;
      int32_t seen = 0;
      for (bool more = walk.First(restart); more; more = walk.Next(restart)) {
        TBRNRowsetRowValues& values = walk.GetCurrentValues();
        checksum += values.GetItem(0)->GetAsInteger() + values.GetItem(2)->GetAsInteger() +
                    int64_t(values.GetItem(1)->GetAsString().size());
        ++seen;
      }
      if (seen != kRows || restart) state.SkipWithError("rows missing");
      rows.Close();
    }
    readMs += MillisecondsSince(start);
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["insert_ms"] = insertMs / double(state.iterations());
  state.counters["read_ms"] = readMs / double(state.iterations());
}

void PlainVector_InsertAndReadBack(benchmark::State& state) {
  auto columns = BenchColumns();
  int32_t rowSize = (columns->RowSize + 7) / 8 * 8;
  double insertMs = 0, readMs = 0;
  int64_t checksum = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::byte> rows;
    TBRNMemoryStream image;
    image.SetSize(rowSize);
    TBRNRowsetRowValues values(columns.get(), nullptr);
    values.SetBuffer(&image);
    for (int32_t i = 1; i <= kRows; ++i) {
      values.GetItem(0)->SetAsInteger(i);
      values.GetItem(1)->SetAsString(NameOf(i));
      values.GetItem(2)->SetAsInteger(AmountOf(i));
      size_t at = rows.size();
      rows.resize(at + size_t(rowSize));
      std::memcpy(rows.data() + at, image.GetMemory(), size_t(rowSize));
    }
    insertMs += MillisecondsSince(start);

    start = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < kRows; ++i) {
      std::memcpy(image.GetMemory(), rows.data() + size_t(i) * size_t(rowSize), size_t(rowSize));
      values.SetBuffer(&image);
      checksum += values.GetItem(0)->GetAsInteger() + values.GetItem(2)->GetAsInteger() +
                  int64_t(values.GetItem(1)->GetAsString().size());
    }
    readMs += MillisecondsSince(start);
    values.SetBuffer(nullptr);
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["insert_ms"] = insertMs / double(state.iterations());
  state.counters["read_ms"] = readMs / double(state.iterations());
}

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void SQLite_InsertAndReadBack(benchmark::State& state) {
  double insertMs = 0, readMs = 0;
  int64_t checksum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BenchFolder folder;
    std::string name = folder.Path + "bench.db";
    state.ResumeTiming();

    auto start = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    Check(sqlite3_open(name.c_str(), &db), db);
    Check(sqlite3_exec(db, "CREATE TABLE t (id INTEGER, name VARCHAR(20), amount INTEGER)", nullptr,
                       nullptr, nullptr),
          db);
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?)", -1, &insert, nullptr), db);
    for (int32_t i = 1; i <= kRows; ++i) {
      std::string text = NameOf(i);
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_text(insert, 2, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 3, AmountOf(i));
      Check(sqlite3_step(insert), db, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
    insertMs += MillisecondsSince(start);

    start = std::chrono::steady_clock::now();
    Check(sqlite3_open(name.c_str(), &db), db);
    sqlite3_stmt* select = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT id, name, amount FROM t ORDER BY rowid", -1, &select,
                             nullptr),
          db);
    int32_t seen = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      std::string text(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                       size_t(sqlite3_column_bytes(select, 1)));
      checksum +=
          sqlite3_column_int(select, 0) + sqlite3_column_int(select, 2) + int64_t(text.size());
      ++seen;
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    if (seen != kRows) state.SkipWithError("rows missing");
    readMs += MillisecondsSince(start);
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["insert_ms"] = insertMs / double(state.iterations());
  state.counters["read_ms"] = readMs / double(state.iterations());
}

BENCHMARK(RowFile_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PlainVector_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SQLite_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace brn
