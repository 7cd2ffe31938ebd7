// Rows of three columns (INTEGER, VARCHAR(20), INTEGER), 1,000,000 of them,
// inserted and then read back in row order, by three contestants in the same
// run: the row file (rows through its cache and navigator, one flush with an
// operating-system flush at the end, read back after reopening), the same
// row images copied into and out of a plain std::vector<std::byte>, and
// SQLite inserting the same rows in one transaction with a prepared
// statement and reading them back in rowid order. Each case reports
// insert_ms and read_ms; the wall time covers both. Then an update in place
// of 200,000 random rows of the 1,000,000 (the amount column raised by one,
// each row read and written back), by the same three, ending with a flush
// or commit that reaches the disk. The row file's cache is as large as
// SQLite's default page cache (2,048,000 bytes); SQLite runs with its
// defaults, which each case reports in its label. Each statement of the row
// file (the insert, the walk, the update) runs inside one Read bracket of
// its table, as SQLite runs each inside one transaction.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/os_file_manager.h"
#include "metadata/catalog/columns.h"
#include "storage/files/table_file_guards.h"
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

struct ColumnShape {
  TBRNDataTypeCode Type;
  int32_t Length;
  int32_t Scale;
};

// Columns of a table without a catalog, named C1, C2, ... in order.
std::unique_ptr<TBRNColumns> ColumnsOf(const std::vector<ColumnShape>& shapes) {
  auto columns = std::make_unique<TBRNColumns>(nullptr);
  int32_t id = 1;
  for (const ColumnShape& shape : shapes) {
    auto column = std::make_unique<TBRNColumn>(nullptr);
    column->Name = "C" + std::to_string(id);
    column->ID = id++;
    column->SetDataType(shape.Type);
    if (shape.Length != 0) column->SetLength(shape.Length);
    if (shape.Scale != 0) column->SetScale(shape.Scale);
    columns->AddObject(column.get());
    column.release();
  }
  columns->RebuildColumnLists();
  return columns;
}

std::unique_ptr<TBRNColumns> BenchColumns() {
  return ColumnsOf({{dtInteger, 0, 0}, {dtChar, 20, 0}, {dtInteger, 0, 0}});
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

// As large as SQLite's default page cache (cache_size -2000).
constexpr int32_t kRowCacheBytes = 2048000;

TBRNRowsetLayout BenchLayout(TBRNColumns* columns) {
  TBRNRowsetLayout layout;
  layout.Columns = columns;
  layout.RowSize = (columns->RowSize + 7) / 8 * 8;
  layout.MaxRowBufferSize = kRowCacheBytes;
  return layout;
}

// Inserts every row into a new row file and flushes it to disk.
void WriteRowFile(BenchHost& host, TBRNFileManager& files, const TBRNRowsetLayout& layout) {
  TableReadBracket statement(&host);
  TBRNRowsetManager rows(&host, &files, layout);
  rows.OpenOrCreate();
  TBRNRowsetNavigator navigator(&rows);
  auto buffer = rows.NewRowBuffer();
  TBRNRowsetRowValues values(layout.Columns, nullptr);
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

void RowFile_InsertAndReadBack(benchmark::State& state) {
  auto columns = BenchColumns();
  TBRNRowsetLayout layout = BenchLayout(columns.get());
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
    WriteRowFile(host, files, layout);
    insertMs += MillisecondsSince(start);

    start = std::chrono::steady_clock::now();
    {
      TableReadBracket statement(&host);
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
    rows.reserve(size_t(kRows) * size_t(rowSize));
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

// Creates the table and inserts every row in one transaction.
void WriteSqliteRows(sqlite3* db) {
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
}

void SQLite_InsertAndReadBack(benchmark::State& state) {
  std::string settings;
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
    WriteSqliteRows(db);
    if (settings.empty()) settings = SqliteSettings(db);
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
  state.SetLabel(settings);
  benchmark::DoNotOptimize(checksum);
  state.counters["insert_ms"] = insertMs / double(state.iterations());
  state.counters["read_ms"] = readMs / double(state.iterations());
}

BENCHMARK(RowFile_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PlainVector_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SQLite_InsertAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr int32_t kUpdates = 200000;

// The rows updated, the same for every contestant (repeats allowed).
const std::vector<int32_t>& UpdatedRows() {
  static const std::vector<int32_t> rows = [] {
    std::mt19937 random(29);
    std::uniform_int_distribution<int32_t> pick(1, kRows);
    std::vector<int32_t> picked(kUpdates);
    for (int32_t& n : picked) n = pick(random);
    return picked;
  }();
  return rows;
}

void RowFile_UpdateInPlace(benchmark::State& state) {
  auto columns = BenchColumns();
  TBRNRowsetLayout layout = BenchLayout(columns.get());
  int64_t checksum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BenchFolder folder;
    // An UPDATE of many rows runs under the table's exclusive lock.
    BenchHost host(folder.Path, ".BRNTbl", "Bench", true);
    TBRNOSFileManager files(nullptr);
    WriteRowFile(host, files, layout);
    state.ResumeTiming();
    {
      TableReadBracket statement(&host);
      TBRNRowsetManager rows(&host, &files, layout);
      rows.Open();
      TBRNRowsetNavigator navigator(&rows);
      for (int32_t n : UpdatedRows()) {
        bool restart = false;
        if (!navigator.GotoRowNumber(n, kDirectionNone, restart)) {
          state.SkipWithError("row missing");
          break;
        }
        TBRNRowsetRowValues& values = navigator.GetCurrentValues();
        int32_t amount = values.GetItem(2)->GetAsInteger() + 1;
        values.GetItem(2)->SetAsInteger(amount);
        checksum += amount;
        int32_t counter = 0;
        navigator.UpdateRow(values, n, counter);
      }
      rows.Flush(true);
      rows.Close();
    }
  }
  benchmark::DoNotOptimize(checksum);
  state.SetItemsProcessed(state.iterations() * kUpdates);
}

void PlainVector_UpdateInPlace(benchmark::State& state) {
  auto columns = BenchColumns();
  int32_t rowSize = (columns->RowSize + 7) / 8 * 8;
  TBRNMemoryStream image;
  image.SetSize(rowSize);
  TBRNRowsetRowValues values(columns.get(), nullptr);
  std::vector<std::byte> rows(size_t(kRows) * size_t(rowSize));
  for (int32_t i = 0; i < kRows; ++i) {
    values.SetBuffer(&image);
    values.GetItem(0)->SetAsInteger(i + 1);
    values.GetItem(1)->SetAsString(NameOf(i + 1));
    values.GetItem(2)->SetAsInteger(AmountOf(i + 1));
    std::memcpy(rows.data() + size_t(i) * size_t(rowSize), image.GetMemory(), size_t(rowSize));
  }
  int64_t checksum = 0;
  for (auto _ : state) {
    for (int32_t n : UpdatedRows()) {
      std::byte* row = rows.data() + size_t(n - 1) * size_t(rowSize);
      std::memcpy(image.GetMemory(), row, size_t(rowSize));
      values.SetBuffer(&image);
      int32_t amount = values.GetItem(2)->GetAsInteger() + 1;
      values.GetItem(2)->SetAsInteger(amount);
      checksum += amount;
      std::memcpy(row, image.GetMemory(), size_t(rowSize));
    }
  }
  values.SetBuffer(nullptr);
  benchmark::DoNotOptimize(checksum);
  state.SetItemsProcessed(state.iterations() * kUpdates);
}

void SQLite_UpdateInPlace(benchmark::State& state) {
  std::string settings;
  for (auto _ : state) {
    state.PauseTiming();
    BenchFolder folder;
    std::string name = folder.Path + "bench.db";
    sqlite3* db = nullptr;
    Check(sqlite3_open(name.c_str(), &db), db);
    WriteSqliteRows(db);
    sqlite3_close(db);
    state.ResumeTiming();

    Check(sqlite3_open(name.c_str(), &db), db);
    if (settings.empty()) settings = SqliteSettings(db);
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* update = nullptr;
    Check(sqlite3_prepare_v2(db, "UPDATE t SET amount = amount + 1 WHERE rowid = ?", -1, &update,
                             nullptr),
          db);
    for (int32_t n : UpdatedRows()) {
      sqlite3_bind_int(update, 1, n);
      Check(sqlite3_step(update), db, SQLITE_DONE);
      sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
  }
  state.SetLabel(settings);
  state.SetItemsProcessed(state.iterations() * kUpdates);
}

BENCHMARK(RowFile_UpdateInPlace)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PlainVector_UpdateInPlace)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SQLite_UpdateInPlace)->Unit(benchmark::kMillisecond)->Iterations(3);

// Comparing rows of (INTEGER, VARCHAR(20), INTEGER, DECIMAL), 1,000,000
// pairs per iteration, by three contestants in the same run: plain structs
// (std::string text compared bytewise, as a case-sensitive column without
// collation compares), the row values' own Compare over row buffers, and the
// value-by-value comparison that the row values used before (one virtual
// Compare per column), kept here as the reference. The data makes many
// pairs agree on their leading columns, so later columns are reached.
// "Bound" walks 1,000,000 distinct row buffers and rebinds one row values
// per comparison, as a scan of a table does; "Cached" compares 1,000,000
// pairs among 64 rows that stay bound (the comparison alone, all in cache).
struct CompareRow {
  int32_t Group;
  std::string Name;
  int32_t Amount;
  int64_t Price;  // scaled by 10000
};

std::unique_ptr<TBRNColumns> CompareColumns() {
  return ColumnsOf({{dtInteger, 0, 0}, {dtChar, 20, 0}, {dtInteger, 0, 0}, {dtDecimal, 0, 2}});
}

CompareRow CompareRowOf(int32_t i) {
  return {i / 4, "item " + std::to_string((i / 2) % 5000), (i * 7) % 3,
          int64_t((i * 7919) % 100000) * 100};
}

int ComparePlainRows(const CompareRow& a, const CompareRow& b) {
  auto ordered = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  if (int r = ordered(a.Group, b.Group)) return r;
  if (int r = a.Name.compare(b.Name)) return r < 0 ? -1 : 1;
  if (int r = ordered(a.Amount, b.Amount)) return r;
  return ordered(a.Price, b.Price);
}

// The comparison as TBRNRowValues::Compare made it before comparing in
// place: one virtual Compare per column.
int CompareValueByValue(const TBRNRowValues& a, const TBRNValues& b, int32_t partialLength) {
  int32_t count = std::min(a.GetCount(), b.GetCount());
  for (int32_t i = 0; i < count; ++i) {
    const TBRNRowValue* value = a.GetRowValue(i);
    if (value->GetColumn().Internal) continue;
    const TBRNValue* other = b.GetItem(i);
    if (other == nullptr) continue;
    bool text = IsTextDataType(value->GetDataType(), value->GetSubType());
    int32_t partial = text && i == b.GetCount() - 1 ? partialLength : 0;
    if (int r = value->Compare(*other, partial, false, value->GetCollation())) return r;
  }
  return 0;
}

// Row buffers of rows 0 .. count-1.
std::vector<std::unique_ptr<TBRNMemoryStream>> CompareBuffers(TBRNColumns* columns, int32_t count) {
  std::vector<std::unique_ptr<TBRNMemoryStream>> buffers;
  buffers.reserve(size_t(count));
  TBRNRowsetRowValues values(columns, nullptr);
  for (int32_t i = 0; i < count; ++i) {
    buffers.push_back(std::make_unique<TBRNMemoryStream>());
    buffers.back()->SetSize(columns->RowSize);
    values.SetBuffer(buffers.back().get());
    CompareRow row = CompareRowOf(i);
    values.GetItem(0)->SetAsInteger(row.Group);
    values.GetItem(1)->SetAsString(row.Name);
    values.GetItem(2)->SetAsInteger(row.Amount);
    values.GetItem(3)->SetAsDecimal(row.Price);
  }
  values.SetBuffer(nullptr);
  return buffers;
}

constexpr int32_t kCachedRows = 64;

void RowCompare_Plain_Bound(benchmark::State& state) {
  std::vector<CompareRow> rows;
  rows.reserve(size_t(kRows) + 1);
  for (int32_t i = 0; i <= kRows; ++i) rows.push_back(CompareRowOf(i));
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t i = 0; i < kRows; ++i) sum += ComparePlainRows(rows[i], rows[i + 1]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Row i+1 is bound to the values that row i is not bound to; the sign of
// every other comparison is turned so that each compares row i with i+1.
template <bool ValueByValue>
void RowCompare_Values_Bound(benchmark::State& state) {
  auto columns = CompareColumns();
  auto buffers = CompareBuffers(columns.get(), kRows + 1);
  TBRNRowsetRowValues first(columns.get(), nullptr), second(columns.get(), nullptr);
  TBRNRowsetRowValues* sides[2] = {&first, &second};
  for (auto _ : state) {
    int64_t sum = 0;
    sides[0]->SetBuffer(buffers[0].get());
    for (int32_t i = 0; i < kRows; ++i) {
      TBRNRowsetRowValues& current = *sides[i & 1];
      TBRNRowsetRowValues& next = *sides[(i + 1) & 1];
      next.SetBuffer(buffers[size_t(i) + 1].get());
      if constexpr (ValueByValue)
        sum += CompareValueByValue(current, next, 0);
      else
        sum += current.Compare(next, 0, false);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void RowCompare_Plain_Cached(benchmark::State& state) {
  std::vector<CompareRow> rows;
  for (int32_t i = 0; i < kCachedRows; ++i) rows.push_back(CompareRowOf(i));
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t i = 0; i < kRows; ++i) {
      int32_t at = i % (kCachedRows - 1);
      sum += ComparePlainRows(rows[size_t(at)], rows[size_t(at) + 1]);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

template <bool ValueByValue>
void RowCompare_Values_Cached(benchmark::State& state) {
  auto columns = CompareColumns();
  auto buffers = CompareBuffers(columns.get(), kCachedRows);
  std::vector<std::unique_ptr<TBRNRowsetRowValues>> rows;
  for (auto& buffer : buffers) {
    rows.push_back(std::make_unique<TBRNRowsetRowValues>(columns.get(), nullptr));
    rows.back()->SetBuffer(buffer.get());
  }
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t i = 0; i < kRows; ++i) {
      size_t at = size_t(i % (kCachedRows - 1));
      if constexpr (ValueByValue)
        sum += CompareValueByValue(*rows[at], *rows[at + 1], 0);
      else
        sum += rows[at]->Compare(*rows[at + 1], 0, false);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void RowCompare_ValueByValue_Bound(benchmark::State& state) {
  RowCompare_Values_Bound<true>(state);
}
void RowCompare_RowValues_Bound(benchmark::State& state) {
  RowCompare_Values_Bound<false>(state);
}
void RowCompare_ValueByValue_Cached(benchmark::State& state) {
  RowCompare_Values_Cached<true>(state);
}
void RowCompare_RowValues_Cached(benchmark::State& state) {
  RowCompare_Values_Cached<false>(state);
}

BENCHMARK(RowCompare_Plain_Bound)->Unit(benchmark::kMillisecond);
BENCHMARK(RowCompare_ValueByValue_Bound)->Unit(benchmark::kMillisecond);
BENCHMARK(RowCompare_RowValues_Bound)->Unit(benchmark::kMillisecond);
BENCHMARK(RowCompare_Plain_Cached)->Unit(benchmark::kMillisecond);
BENCHMARK(RowCompare_ValueByValue_Cached)->Unit(benchmark::kMillisecond);
BENCHMARK(RowCompare_RowValues_Cached)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brn
