// Filling the "TableColumns" system table of a database of 1,000 tables of
// 10 columns, against SQLite listing the columns of the same 1,000 tables.
//
//   Brindle: one logged-in administrator session with the database open;
//     each iteration marks the Information tables stale, opens
//     Information.TableColumns as a statement does (which refills it: 10,000
//     rows with their CreateSQL and DropSQL texts), reads every row's table
//     and column name in primary-key order and closes the table.
//   SQLite: one connection; each iteration steps
//     SELECT m.name, p.name, p.type FROM sqlite_schema m, pragma_table_info(m.name) p
//     over all 10,000 rows.
//
// Both catalogs are written once before the timing.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "session_bench_host.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {
namespace {

constexpr int32_t kTables = 1000;
constexpr int32_t kColumns = 10;
constexpr int32_t kRows = kTables * kColumns;

std::string TableName(int32_t i) {
  return "Table" + std::to_string(i);
}
std::string ColumnName(int32_t i) {
  return "Column" + std::to_string(i);
}

// A base table of the Default schema with "__RowID", ten columns (INTEGER
// and VARCHAR(20) in turn) and the internal primary key.
void AddTable(TBRNCatalog& catalog, const std::string& name) {
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = name;
  table->AddRowIDColumn();
  for (int32_t i = 0; i < kColumns; ++i) {
    AddBenchColumn(catalog, table.get(), ColumnName(i), i % 2 == 0 ? dtInteger : dtChar,
                   i % 2 == 0 ? 0 : 20);
  }
  table->AddPrimaryKey(false);
  table->SetLockNumber(catalog.NextTableLockNumber());
  table->ApplyDefaultGrants();
  catalog.DefaultSchema->BaseTables->AddObject(table.get());
  TBRNBaseTable* added = table.release();
  added->Validate();
  added->UpdateStructureChecksum();
}

struct BrindleFixture {
  BrindleFixture() {
    Engine.Settings->SetConfigPath(Folder.Path);
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Bench", "");
    Session->Login("Administrator", "GlenHarbor");
    Database = AddBenchDatabase(*Session, "Bench", Folder.Path + "Bench", false);
    Database->OpenDatabase(kBRNLockShared);
    Database->CatalogManager->BeginUpdate();
    for (int32_t i = 0; i < kTables; ++i) AddTable(*Database->Catalog, TableName(i));
    Database->CatalogManager->CommitUpdate();
  }
  ~BrindleFixture() {
    Database->CloseDatabase(false);
    Session->CloseSession();
  }

  BenchFolder Folder{"system_tables"};
  TBRNEngineManager Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
};

void BM_Brindle_FillTableColumns(benchmark::State& state) {
  BrindleFixture fixture;
  TBRNLocalDatabaseManager& database = *fixture.Database;
  for (auto _ : state) {
    database.SystemTables.Invalidate(TBRNSystemTableKind::Information);
    auto* manager = dynamic_cast<TBRNTableManager*>(
        database.OpenSchemaObjectManager("Information", "TableColumns", false));
    TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    int32_t rows = 0;
    size_t bytes = 0;
    bool restart = false;
    for (bool found = keys->First(restart); found; found = keys->Next(restart)) {
      TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
      values.SetRow(row);
      bytes += values.GetItem(1)->GetAsString().size() + values.GetItem(2)->GetAsString().size();
      values.SetRow(nullptr);
      manager->ReleaseRow(row);
      ++rows;
    }
    manager->Close(false, true);
    if (rows != kRows) throw std::runtime_error("TableColumns lost rows");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetLabel(std::to_string(kRows) + " columns");
}
BENCHMARK(BM_Brindle_FillTableColumns)->Unit(benchmark::kMillisecond)->Iterations(20);

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(db != nullptr ? sqlite3_errmsg(db) : "sqlite failed");
}

void BM_SQLite_PragmaTableInfo(benchmark::State& state) {
  BenchFolder folder{"system_tables"};
  const std::string file = folder.Path + "bench.sqlite";
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.c_str(), &db), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  for (int32_t i = 0; i < kTables; ++i) {
    std::string sql = "CREATE TABLE " + TableName(i) + " (";
    for (int32_t j = 0; j < kColumns; ++j) {
      if (j > 0) sql += ", ";
      sql += ColumnName(j) + (j % 2 == 0 ? " INTEGER" : " VARCHAR(20)");
    }
    sql += ")";
    Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db,
                             "SELECT m.name, p.name, p.type FROM sqlite_schema m, "
                             "pragma_table_info(m.name) p WHERE m.type = 'table'",
                             -1, &statement, nullptr),
          db);
    int32_t rows = 0;
    size_t bytes = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      bytes += static_cast<size_t>(sqlite3_column_bytes(statement, 0)) +
               static_cast<size_t>(sqlite3_column_bytes(statement, 1));
      ++rows;
    }
    Check(rc, db);
    sqlite3_finalize(statement);
    if (rows != kRows) throw std::runtime_error("pragma_table_info lost rows");
    benchmark::DoNotOptimize(bytes);
  }
  sqlite3_close(db);
  state.SetLabel(std::to_string(kRows) + " columns");
}
BENCHMARK(BM_SQLite_PragmaTableInfo)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace brn
