// LOAD UPDATES of 100,000 mixed published-update records into one table,
// against SQLite applying the same changes by primary key.
//
//   Brindle: a database Source publishes the table Items (Code INTEGER
//     primary key, Name CHAR(20), Amount INTEGER); 60,000 inserts, 30,000
//     updates of Amount and 10,000 deletes are made there and saved to an
//     update file once. Each iteration loads the file into a fresh
//     published copy of the database (LOAD UPDATES: one database
//     transaction, each record found by its primary key, COMMIT without an
//     operating-system flush).
//   SQLite: the same changes in the same order through three prepared
//     statements (INSERT, UPDATE ... WHERE Code = ?, DELETE ... WHERE
//     Code = ?) in one transaction, into a fresh table with Code as its
//     INTEGER PRIMARY KEY, synchronous=OFF.
//
// Files on the temporary folder; the setup of each iteration is not timed.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/text/string_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "session_bench_host.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn {
namespace {

constexpr int32_t kInserts = 60000;
constexpr int32_t kUpdates = 30000;
constexpr int32_t kDeletes = 10000;

// One change: 1 insert, 2 update, 3 delete.
struct Change {
  int32_t Operation;
  int32_t Code;
  int32_t Amount;
};

// Every row is inserted before it is updated or deleted; deleted rows are
// not touched again. The order mixes the three kinds.
const std::vector<Change>& Changes() {
  static const std::vector<Change> changes = [] {
    std::vector<Change> list;
    std::mt19937 random(100000);
    std::vector<int32_t> live;
    int32_t inserted = 0, updated = 0, deleted = 0;
    while (inserted < kInserts || updated < kUpdates || deleted < kDeletes) {
      const uint32_t pick = random() % 10;
      if ((pick < 6 || live.size() < 100) && inserted < kInserts) {
        live.push_back(++inserted);
        list.push_back({1, inserted, int32_t(random() % 100000)});
      } else if (pick < 9 && updated < kUpdates && !live.empty()) {
        ++updated;
        list.push_back({2, live[random() % live.size()], int32_t(random() % 100000)});
      } else if (deleted < kDeletes && !live.empty()) {
        const size_t at = random() % live.size();
        ++deleted;
        list.push_back({3, live[at], 0});
        live[at] = live.back();
        live.pop_back();
      } else if (inserted < kInserts) {
        live.push_back(++inserted);
        list.push_back({1, inserted, int32_t(random() % 100000)});
      }
    }
    return list;
  }();
  return changes;
}

// The database name at folder with the table Items, its files created.
TBRNLocalDatabaseManager* MakeDatabase(TBRNLocalSessionManager& session, const std::string& folder,
                                       const std::string& name) {
  TBRNLocalDatabaseManager* database = AddBenchDatabase(session, name, folder + name, true);
  database->OpenDatabase(kBRNLockShared);
  TBRNCatalog& catalog = *database->Catalog;
  database->CatalogManager->BeginUpdate();
  auto table = std::make_unique<TBRNBaseTable>(&catalog);
  table->Name = "Items";
  table->AddRowIDColumn();
  AddBenchColumn(catalog, table.get(), "Code", dtInteger, 0);
  AddBenchColumn(catalog, table.get(), "Name", dtChar, 20);
  AddBenchColumn(catalog, table.get(), "Amount", dtInteger, 0);
  testing::AddTableKey(table.get(), "PK_Items", kConstraintPrimaryKey, {"Code"});
  table->SetLockNumber(catalog.NextTableLockNumber());
  table->ApplyDefaultGrants();
  TBRNBaseTable* added = table.get();
  catalog.DefaultSchema->BaseTables->AddObject(table.release());
  added->Validate();
  added->UpdateStructureChecksum();
  database->CatalogManager->CommitUpdate();
  CreateTableFiles(*database, added, kBRNLockTypeShared)->Close(false, true);
  TBRNStringsList all;
  session.PublishDatabase(name, all, 0);
  return database;
}

// The changes made in Source through its table manager, in one transaction.
void MakeChanges(TBRNLocalDatabaseManager& database) {
  TBRNBaseTable* table = static_cast<TBRNBaseTable*>(
      database.Catalog->DefaultSchema->BaseTables->FindByName("Items", true));
  auto* manager = static_cast<TBRNTableManager*>(
      database.TableManagers->OpenManager(table, kBRNLockTypeShared));
  TBRNStringsList names;
  names.Add("Items");
  database.StartTransaction(names, -1);
  auto buffer = manager->NewRowBuffer();
  TBRNRowsetRowValues row(manager->GetColumns(), manager);
  row.SetRow(buffer.get());
  auto keyBuffer = manager->NewRowBuffer();
  TBRNRowsetRowValues key(manager->GetColumns(), manager);
  key.SetRow(keyBuffer.get());
  for (const Change& change : Changes()) {
    int32_t number = 0, version = 0, counter = 0;
    if (change.Operation == 1) {
      row.SetAllNull();
      row.GetItem(1)->SetAsInteger(change.Code);
      row.GetItem(2)->SetAsString("item " + std::to_string(change.Code));
      row.GetItem(3)->SetAsInteger(change.Amount);
      manager->InsertRow(row, number, version, counter, false);
      continue;
    }
    key.SetAllNull();
    key.GetItem(1)->SetAsInteger(change.Code);
    if (!manager->FindRowByKey(row, key, 0, false)) throw std::logic_error("no row");
    number = manager->GetIndexNavigator(0)->GetRowNumber();
    manager->ReadRowByNumber(number, row);
    row.ClearModified();
    if (change.Operation == 2) {
      row.GetItem(3)->SetAsInteger(change.Amount);
      manager->UpdateRow(row, number, counter);
    } else {
      manager->DeleteRow(row, number, counter);
    }
  }
  database.Commit(false, false);
  manager->Close(false, true);
}

void BM_Brindle_LoadUpdates(benchmark::State& state) {
  BenchFolder folder{"publishing"};
  TBRNEngineManager engine;
  engine.Settings->SetConfigPath(folder.Path);
  TBRNLocalSessionManager session(&engine, false, false);
  session.OpenSession("host", "Bench", "");
  session.Login("Administrator", "GlenHarbor");
  TBRNStore* store = session.BeginCreateStore("Outbox");
  store->SetStoreType(kLocalStore);
  store->SetPath(folder.Path + "Outbox");
  session.EndCreateStore(store);
  TBRNLocalDatabaseManager* source = MakeDatabase(session, folder.Path, "Source");
  MakeChanges(*source);
  TBRNStringsList all;
  session.SaveUpdates("Source", "Changes", "Outbox", all, "", 0, false);
  int32_t copy = 0;
  for (auto _ : state) {
    state.PauseTiming();
    MakeDatabase(session, folder.Path, "Copy" + std::to_string(++copy));
    state.ResumeTiming();
    if (!session.LoadUpdates("Copy" + std::to_string(copy), "Changes", "Outbox", all, false)) {
      state.SkipWithError("load cancelled");
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(Changes().size()));
  session.CloseSession();
}
BENCHMARK(BM_Brindle_LoadUpdates)->Unit(benchmark::kMillisecond)->Iterations(3);

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_SQLite_ApplyByKey(benchmark::State& state) {
  BenchFolder folder{"publishing"};
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder.Path + "bench.db").c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
  for (auto _ : state) {
    state.PauseTiming();
    Check(sqlite3_exec(db,
                       "DROP TABLE IF EXISTS Items; CREATE TABLE Items (Code INTEGER PRIMARY KEY, "
                       "Name TEXT, Amount INTEGER)",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* remove = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO Items VALUES (?, ?, ?)", -1, &insert, nullptr), db);
    Check(
        sqlite3_prepare_v2(db, "UPDATE Items SET Amount = ? WHERE Code = ?", -1, &update, nullptr),
        db);
    Check(sqlite3_prepare_v2(db, "DELETE FROM Items WHERE Code = ?", -1, &remove, nullptr), db);
    state.ResumeTiming();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const Change& change : Changes()) {
      sqlite3_stmt* statement = nullptr;
      if (change.Operation == 1) {
        statement = insert;
        const std::string name = "item " + std::to_string(change.Code);
        sqlite3_bind_int(statement, 1, change.Code);
        sqlite3_bind_text(statement, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 3, change.Amount);
      } else if (change.Operation == 2) {
        statement = update;
        sqlite3_bind_int(statement, 1, change.Amount);
        sqlite3_bind_int(statement, 2, change.Code);
      } else {
        statement = remove;
        sqlite3_bind_int(statement, 1, change.Code);
      }
      Check(sqlite3_step(statement), db, SQLITE_DONE);
      sqlite3_reset(statement);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    state.PauseTiming();
    sqlite3_finalize(insert);
    sqlite3_finalize(update);
    sqlite3_finalize(remove);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(Changes().size()));
  sqlite3_close(db);
}
BENCHMARK(BM_SQLite_ApplyByKey)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace brn
