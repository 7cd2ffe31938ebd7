// 1,000 database transactions of 10 inserts over two tables (5 rows each),
// against SQLite.
//
//   Brindle: START TRANSACTION ON T1, T2; five rows into each table through
//     the table managers' row files (the row write of SQL execution is not
//     there yet: the rows go in as the table manager's tests insert them);
//     COMMIT without an operating-system flush.
//   SQLite: BEGIN; five INSERTs into each of two tables; COMMIT, with
//     synchronous=OFF.
//
// The tables have the columns ID INTEGER and Name CHAR(20) and no index, in
// files on the temporary folder; they grow over the iterations in both.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "foundation/text/string_list.h"
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
#include "storage/tables/table_manager_test_support.h"

namespace brn {
namespace {

constexpr int32_t kTransactions = 1000;
constexpr int32_t kRowsPerTable = 5;

TBRNBaseTable* AddTable(TBRNCatalog& catalog, const std::string& name) {
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = name;
  AddIdNameColumns(catalog, table.get());
  table->SetLockNumber(catalog.NextTableLockNumber());
  catalog.DefaultSchema->BaseTables->AddObject(table.get());
  TBRNBaseTable* added = table.release();
  added->Validate();
  added->UpdateStructureChecksum();
  return added;
}

void BM_Brindle_Transactions(benchmark::State& state) {
  BenchFolder folder{"transactions"};
  TBRNEngineManager engine;
  engine.Settings->SetConfigPath(folder.Path);
  TBRNLocalSessionManager session(&engine, false, false);
  session.OpenSession("host", "Bench", "");
  TBRNLocalDatabaseManager* database =
      AddBenchDatabase(session, "Bench", folder.Path + "Bench", false);
  database->OpenDatabase(kBRNLockShared);
  database->CatalogManager->BeginUpdate();
  TBRNBaseTable* tables[] = {AddTable(*database->Catalog, "T1"),
                             AddTable(*database->Catalog, "T2")};
  database->CatalogManager->CommitUpdate();
  TBRNTableManager* managers[2];
  for (int i = 0; i < 2; ++i)
    managers[i] = CreateTableFiles(*database, tables[i], kBRNLockTypeShared);
  TBRNStringsList names;
  names.Add("T1");
  names.Add("T2");
  int32_t id = 0;
  for (auto _ : state) {
    for (int32_t t = 0; t < kTransactions; ++t) {
      database->StartTransaction(names, -1);
      for (TBRNTableManager* manager : managers)
        for (int32_t r = 0; r < kRowsPerTable; ++r) testing::InsertRawRow(*manager, ++id, false);
      database->Commit(false, false);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTransactions);
  for (TBRNTableManager* manager : managers) manager->Close(false, true);
  database->CloseDatabase(false);
  session.CloseSession();
}
BENCHMARK(BM_Brindle_Transactions)->Unit(benchmark::kMillisecond)->Iterations(5);

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_SQLite_Transactions(benchmark::State& state) {
  BenchFolder folder{"transactions"};
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder.Path + "bench.db").c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db,
                     "CREATE TABLE T1 (ID INTEGER, Name CHAR(20));"
                     "CREATE TABLE T2 (ID INTEGER, Name CHAR(20))",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* inserts[2] = {nullptr, nullptr};
  Check(sqlite3_prepare_v2(db, "INSERT INTO T1 VALUES (?, ?)", -1, &inserts[0], nullptr), db);
  Check(sqlite3_prepare_v2(db, "INSERT INTO T2 VALUES (?, ?)", -1, &inserts[1], nullptr), db);
  int32_t id = 0;
  for (auto _ : state) {
    for (int32_t t = 0; t < kTransactions; ++t) {
      Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
      for (sqlite3_stmt* insert : inserts) {
        for (int32_t r = 0; r < kRowsPerTable; ++r) {
          std::string name = "name" + std::to_string(++id);
          sqlite3_bind_int(insert, 1, id);
          sqlite3_bind_text(insert, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
          Check(sqlite3_step(insert), db, SQLITE_DONE);
          sqlite3_reset(insert);
        }
      }
      Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTransactions);
  for (sqlite3_stmt* insert : inserts) sqlite3_finalize(insert);
  sqlite3_close(db);
}
BENCHMARK(BM_SQLite_Transactions)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace brn
