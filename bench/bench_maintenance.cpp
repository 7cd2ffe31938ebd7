// OPTIMIZE TABLE of a 1,000,000-row table with a third of its rows deleted,
// against SQLite's VACUUM of the same table.
//
//   Brindle: table T (ID INTEGER with the internal primary key, Name
//     CHAR(20)), 1,000,000 rows inserted and every third deleted through
//     the table manager held Exclusive; then OPTIMIZE TABLE T (the live
//     rows copied in primary-key order into a working copy whose files are
//     swapped in).
//   SQLite: the same table (ID INTEGER PRIMARY KEY), the same rows and
//     deletions in one transaction with synchronous=OFF; then VACUUM.
//
// Only the OPTIMIZE and the VACUUM are timed; each runs once on a fresh
// table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "session_bench_host.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {
namespace {

constexpr int32_t kRows = 1000000;

void DefineTable(TBRNCatalog& catalog, TBRNBaseTable* table) {
  AddIdNameColumns(catalog, table);
  table->EnsurePrimaryKey();
}

void BM_Brindle_Optimize(benchmark::State& state) {
  BenchFolder folder{"maintenance"};
  TBRNEngineManager engine;
  engine.Settings->SetConfigPath(folder.Path);
  TBRNLocalSessionManager session(&engine, false, false);
  session.OpenSession("host", "Bench", "");
  session.Login("Administrator", "GlenHarbor");
  TBRNLocalDatabaseManager* database =
      AddBenchDatabase(session, "Bench", folder.Path + "Bench", true);
  database->OpenDatabase(kBRNLockShared);
  TBRNBaseTable* table = database->CreateTable("T");
  DefineTable(*database->Catalog, table);
  database->CommitCreateTable(table);
  {
    TBRNTableManager* manager = CreateTableFiles(*database, table, kBRNLockTypeExclusive);
    auto buffer = manager->NewRowBuffer();
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    values.SetRow(buffer.get());
    for (int32_t i = 1; i <= kRows; ++i) {
      values.SetAllNull();
      values.GetItem(1)->SetAsString("name" + std::to_string(i));
      int32_t row = 0, version = 0, counter = 0;
      manager->InsertRow(values, row, version, counter, false);
    }
    for (int32_t row = 3; row <= kRows; row += 3) {
      manager->GotoRowNumber(row);
      int32_t counter = 0;
      manager->DeleteRow(manager->GetRowNavigator()->GetCurrentValues(), row, counter);
    }
    manager->Close(false, true);
  }
  for (auto _ : state) {
    if (!database->OptimizeTable("T", "")) throw std::runtime_error("OPTIMIZE cancelled");
  }
  state.SetItemsProcessed(state.iterations() * (kRows - kRows / 3));
  database->CloseDatabase(false);
  session.CloseSession();
}
BENCHMARK(BM_Brindle_Optimize)->Unit(benchmark::kMillisecond)->Iterations(1);

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_SQLite_Vacuum(benchmark::State& state) {
  BenchFolder folder{"maintenance"};
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder.Path + "bench.db").c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db, "CREATE TABLE T (ID INTEGER PRIMARY KEY, Name CHAR(20))", nullptr, nullptr,
                     nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO T VALUES (?, ?)", -1, &insert, nullptr), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  for (int32_t i = 1; i <= kRows; ++i) {
    std::string name = "name" + std::to_string(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_text(insert, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db, SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "DELETE FROM T WHERE ID % 3 = 0", nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  for (auto _ : state) {
    Check(sqlite3_exec(db, "VACUUM", nullptr, nullptr, nullptr), db);
  }
  state.SetItemsProcessed(state.iterations() * (kRows - kRows / 3));
  sqlite3_close(db);
}
BENCHMARK(BM_SQLite_Vacuum)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace brn
