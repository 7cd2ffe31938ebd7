// IMPORT TABLE and EXPORT TABLE of 1,000,000 rows of five columns, in the
// same run as their references:
//
//   Export: the table's rows written as delimited text into a local store
//     file, against a plain buffered writer (stdio with a 64 KB buffer)
//     formatting the same values from memory into the same text.
//   Import: the same text read into the emptied table in one table
//     transaction, against SQLite inserting the same rows, parsed
//     beforehand, through one prepared statement in one transaction
//     (synchronous=OFF).
//
// The table: ID INTEGER, Name CHAR(20) ("name<ID>"), Amount DECIMAL(12,2),
// Day DATE, Flag BOOLEAN, with the internal row key only; files in the
// temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "execution/cursors/local_cursor_factory.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/handlers/statement_handlers.h"
#include "execution/import_export/import_readers.h"
#include "execution/import_export/import_text.h"
#include "execution/import_export/table_transfer.h"
#include "foundation/core/memory_stream.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/stores.h"
#include "session_bench_host.h"
#include "sessions/backup/data_transfer.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

constexpr int32_t kRows = 1000000;

// The values of row i (1-based), as both sides format them.
struct RowValues {
  int32_t Id;
  std::string Name;
  int32_t Cents;
  int32_t Year, Month, Day;
  bool Flag;
};

RowValues rowValues(int32_t i) {
  return {i,
          "name" + std::to_string(i),
          (i * 37) % 10000000,
          2000 + i % 25,
          1 + i % 12,
          1 + i % 28,
          i % 3 == 0};
}

// One line of the delimited text with the statement defaults (decimals
// without trailing zeros, as the engine writes them).
int formatLine(char* out, size_t size, const RowValues& v) {
  char amount[24];
  if (v.Cents % 100 == 0)
    std::snprintf(amount, sizeof amount, "%d", v.Cents / 100);
  else if (v.Cents % 10 == 0)
    std::snprintf(amount, sizeof amount, "%d.%d", v.Cents / 100, v.Cents % 100 / 10);
  else
    std::snprintf(amount, sizeof amount, "%d.%02d", v.Cents / 100, v.Cents % 100);
  return std::snprintf(out, size, "%d,\"%s\",%s,%04d-%02d-%02d,%s\r\n", v.Id, v.Name.c_str(),
                       amount, v.Year, v.Month, v.Day, v.Flag ? "TRUE" : "FALSE");
}

struct TransferData {
  TransferData() {
    InstallLocalEvaluatorFactory(&FillStatementHandlers);
    InstallDataExecution();
    SetTableObjectFactory(&factory);
    engine.Settings->SetConfigPath(folder.Path);
    session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    session->OpenSession("host", "Bench", "");
    session->Login("Administrator", "GlenHarbor");
    session->SetProgressTimeInterval(1000);
    std::filesystem::create_directories(folder.Path + "Files");
    TBRNStore* store = session->BeginCreateStore("Files");
    store->SetStoreType(kLocalStore);
    store->SetPath(folder.Path + "Files");
    session->EndCreateStore(store);
    database = AddBenchDatabase(*session, "Bench", folder.Path + "Bench", true);
    database->OpenDatabase(kBRNLockShared);
    // As CREATE TABLE makes it: "__RowID" first and the internal key.
    TBRNBaseTable* table = database->CreateTable("Rows");
    TBRNCatalog& catalog = *database->Catalog;
    table->AddRowIDColumn();
    AddIdNameColumns(catalog, table);
    AddBenchColumn(catalog, table, "Amount", dtDecimal, 12)->SetScale(2);
    AddBenchColumn(catalog, table, "Day", dtDate, 0);
    AddBenchColumn(catalog, table, "Flag", dtBoolean, 0);
    table->EnsurePrimaryKey();
    database->CommitCreateTable(table);

    // The import file, and the rows SQLite gets.
    std::FILE* file = std::fopen((folder.Path + "Files/rows.txt").c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write the import file");
    char line[128];
    for (int32_t i = 1; i <= kRows; ++i) {
      const RowValues values = rowValues(i);
      const int length = formatLine(line, sizeof line, values);
      std::fwrite(line, 1, size_t(length), file);
      textBytes += length;
      parsed.push_back(values);
    }
    std::fclose(file);
    Import();
  }
  ~TransferData() { SetTableObjectFactory(nullptr); }

  TBRNTransferRequest Request(const std::string& fileName) const {
    TBRNTransferRequest request;
    request.TableName = "Rows";
    request.FileName = fileName;
    request.StoreName = "Files";
    request.Format.Encoding = "AUTO";
    request.Format.Format = "DELIMITED";
    return request;
  }
  void Import() {
    database->EmptyTable("Rows", false);
    if (!ImportTable(*database, Request("rows.txt"))) throw std::runtime_error("import stopped");
  }

  BenchFolder folder{"transfer"};
  TBRNLocalCursorFactory factory;
  TBRNEngineManager engine;
  std::unique_ptr<TBRNLocalSessionManager> session;
  TBRNLocalDatabaseManager* database = nullptr;
  std::vector<RowValues> parsed;
  int64_t textBytes = 0;
};

TransferData& Data() {
  static TransferData data;
  return data;
}

void BM_Brindle_Export(benchmark::State& state) {
  TransferData& data = Data();
  for (auto _ : state) {
    if (!ExportTable(*data.database, data.Request("out.txt")))
      throw std::runtime_error("export stopped");
  }
  const auto written = std::filesystem::file_size(data.folder.Path + "Files/out.txt");
  if (int64_t(written) != data.textBytes) throw std::runtime_error("the export differs in size");
  state.SetBytesProcessed(state.iterations() * int64_t(written));
}
BENCHMARK(BM_Brindle_Export)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlainBufferedWriter(benchmark::State& state) {
  TransferData& data = Data();
  const std::string path = data.folder.Path + "plain.txt";
  std::vector<char> buffer(65536);
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write the plain file");
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    char line[128];
    for (const RowValues& values : data.parsed) {
      const int length = formatLine(line, sizeof line, values);
      std::fwrite(line, 1, size_t(length), file);
    }
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * data.textBytes);
}
BENCHMARK(BM_PlainBufferedWriter)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Brindle_Import(benchmark::State& state) {
  TransferData& data = Data();
  for (auto _ : state) {
    state.PauseTiming();
    data.database->EmptyTable("Rows", false);
    state.ResumeTiming();
    if (!ImportTable(*data.database, data.Request("rows.txt")))
      throw std::runtime_error("import stopped");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Brindle_Import)->Unit(benchmark::kMillisecond)->Iterations(3);

// The delimited reader alone over the same text in memory, its values
// handed to a target that only counts them: the share of an import that is
// not the cursor's inserts.
class CountingTarget : public TBRNImportTarget {
 public:
  int32_t FindColumn(std::string_view) override { return -1; }
  int64_t ValueLimit(int32_t) override { return kMaxImportShortText; }
  void BeginRow() override {}
  void StoreValue(int32_t, std::string_view text, int64_t, int64_t) override {
    Characters += int64_t(text.size());
  }
  bool PostRow(int64_t) override {
    ++Rows;
    return true;
  }
  bool Progress() override { return true; }
  [[noreturn]] void Fail(const std::string& reason, int64_t, int64_t) override {
    throw std::runtime_error(reason);
  }
  int64_t Rows = 0;
  int64_t Characters = 0;
};

void BM_Brindle_ReadDelimitedOnly(benchmark::State& state) {
  TransferData& data = Data();
  TBRNMemoryStream text;
  {
    std::FILE* file = std::fopen((data.folder.Path + "Files/rows.txt").c_str(), "rb");
    std::vector<char> bytes(size_t(data.textBytes));
    if (file == nullptr || std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
      throw std::runtime_error("cannot read the import file");
    std::fclose(file);
    text.Write(bytes.data(), int32_t(bytes.size()));
  }
  TBRNImportLayout layout;
  layout.Columns = {0, 1, 2, 3, 4};
  for (auto _ : state) {
    text.SetPosition(0);
    TBRNImportText characters(text, kTransferEncodingAuto);
    CountingTarget target;
    ReadDelimitedText(characters, target, layout);
    if (target.Rows != kRows) throw std::runtime_error("the reader lost rows");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Brindle_ReadDelimitedOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_SQLite_InsertParsedRows(benchmark::State& state) {
  TransferData& data = Data();
  BenchFolder folder{"transfer_sqlite"};
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder.Path + "bench.db").c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db,
                     "CREATE TABLE Rows (ID INTEGER, Name CHAR(20), Amount DECIMAL(12,2), "
                     "Day DATE, Flag BOOLEAN)",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO Rows VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr),
        db);
  for (auto _ : state) {
    state.PauseTiming();
    Check(sqlite3_exec(db, "DELETE FROM Rows", nullptr, nullptr, nullptr), db);
    state.ResumeTiming();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const RowValues& v : data.parsed) {
      char day[11];
      std::snprintf(day, sizeof day, "%04d-%02d-%02d", v.Year, v.Month, v.Day);
      sqlite3_bind_int(insert, 1, v.Id);
      sqlite3_bind_text(insert, 2, v.Name.c_str(), int(v.Name.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 3, v.Cents / 100.0);
      sqlite3_bind_text(insert, 4, day, 10, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 5, v.Flag ? 1 : 0);
      Check(sqlite3_step(insert), db, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQLite_InsertParsedRows)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace brn
