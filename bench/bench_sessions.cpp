// A cold open of a database of 1,000 tables against SQLite with the same
// number of tables.
//
//   Brindle: a new local session on an engine configured in a temporary
//     folder, login as Administrator, the database opened (its catalog read),
//     closed, the session closed; the session alone as a baseline. The session's configuration
//     lives in its file, so the database entry is added to each new session in memory.
//   SQLite: a new connection to a file of 1,000 tables, the schema read
//     (SELECT count(*) FROM sqlite_schema), the connection closed.
//
// Both catalogs are written once before the timing; each iteration opens
// from nothing (the files stay in the OS cache).
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
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"

namespace brn {
namespace {

constexpr int32_t kTables = 1000;

std::string TableName(int32_t i) {
  return "Table" + std::to_string(i);
}

// A base table of the Default schema with the columns ID INTEGER and
// Name CHAR(20) and no index.
void AddTable(TBRNCatalog& catalog, const std::string& name) {
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = name;
  AddIdNameColumns(catalog, table.get());
  table->SetLockNumber(catalog.NextTableLockNumber());
  catalog.DefaultSchema->BaseTables->AddObject(table.get());
  TBRNBaseTable* added = table.release();
  added->Validate();
  added->UpdateStructureChecksum();
}

struct BrindleFixture {
  BrindleFixture() {
    Engine.Settings->SetConfigPath(Folder.Path);
    auto session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    session->OpenSession("host", "Setup", "");
    TBRNLocalDatabaseManager* database = AddBenchDatabase(*session, "Bench", DatabasePath(), false);
    database->OpenDatabase(kBRNLockShared);
    database->CatalogManager->BeginUpdate();
    for (int32_t i = 0; i < kTables; ++i) AddTable(*database->Catalog, TableName(i));
    database->CatalogManager->CommitUpdate();
    database->CloseDatabase(false);
    session->CloseSession();
  }
  std::string DatabasePath() const { return Folder.Path + "Bench"; }

  BenchFolder Folder{"sessions"};
  TBRNEngineManager Engine;
};

// The session alone (open, login, close), the part of the cold open that
// does not depend on the database.
void BM_Brindle_SessionOnly(benchmark::State& state) {
  BrindleFixture fixture;
  for (auto _ : state) {
    auto session = std::make_unique<TBRNLocalSessionManager>(&fixture.Engine, false, false);
    session->OpenSession("host", "Bench", "");
    session->Login("Administrator", "GlenHarbor");
    session->CloseSession();
    session.reset();
  }
}
BENCHMARK(BM_Brindle_SessionOnly)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_Brindle_ColdOpen1000Tables(benchmark::State& state) {
  BrindleFixture fixture;
  for (auto _ : state) {
    auto session = std::make_unique<TBRNLocalSessionManager>(&fixture.Engine, false, false);
    session->OpenSession("host", "Bench", "");
    session->Login("Administrator", "GlenHarbor");
    TBRNLocalDatabaseManager* database =
        AddBenchDatabase(*session, "Bench", fixture.DatabasePath(), false);
    database->OpenDatabase(kBRNLockShared);
    if (database->Catalog->DefaultSchema->BaseTables->Count() != kTables)
      throw std::runtime_error("the catalog lost tables");
    database->CloseDatabase(false);
    session->CloseSession();
    session.reset();
  }
  state.SetLabel(std::to_string(kTables) + " tables");
}
BENCHMARK(BM_Brindle_ColdOpen1000Tables)->Unit(benchmark::kMillisecond)->Iterations(20);

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(db != nullptr ? sqlite3_errmsg(db) : "sqlite failed");
}

void BM_SQLite_ColdOpen1000Tables(benchmark::State& state) {
  BenchFolder folder{"sessions"};
  const std::string file = folder.Path + "bench.sqlite";
  {
    sqlite3* db = nullptr;
    Check(sqlite3_open(file.c_str(), &db), db);
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (int32_t i = 0; i < kTables; ++i) {
      std::string sql = "CREATE TABLE " + TableName(i) + " (ID INTEGER, Name CHAR(20))";
      Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
  }
  for (auto _ : state) {
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db);
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &statement, nullptr),
          db);
    Check(sqlite3_step(statement), db);
    if (sqlite3_column_int(statement, 0) != kTables)
      throw std::runtime_error("the schema lost tables");
    sqlite3_finalize(statement);
    sqlite3_close(db);
  }
  state.SetLabel(std::to_string(kTables) + " tables");
}
BENCHMARK(BM_SQLite_ColdOpen1000Tables)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
}  // namespace brn
