// BACKUP DATABASE of a database with one table of 1,000,000 rows, against
// SQLite's online backup of the same rows and against zlib alone over the
// same bytes, in the same run.
//
//   Brindle: BACKUP DATABASE into a local store at compression 0 (the table
//     files as raw 64 KB chunks) and 6 (each chunk deflated), without the
//     catalog.
//   SQLite: sqlite3_backup_init / step(-1) / finish from the database file
//     into a new file, with synchronous=OFF on both.
//   zlib: compress2 at level 6 over the bytes of the same table files, in
//     the same 64 KB chunks, in memory (the compression alone, no I/O).
//
// The table has the columns ID INTEGER and Name CHAR(20) ("name<ID>") and
// no index, in files on the temporary folder. The counters give the bytes
// written per backup.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/text/string_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "session_bench_host.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn {
namespace {

constexpr int32_t kRows = 1000000;
constexpr int32_t kChunk = 65536;

// The database Bench with T1 of kRows rows, and the store Backups, made
// once for every benchmark of the run.
struct BrindleData {
  BrindleData() {
    engine.Settings->SetConfigPath(folder.Path);
    session = std::make_unique<TBRNLocalSessionManager>(&engine, false, false);
    session->OpenSession("host", "Bench", "");
    session->Login("Administrator", "GlenHarbor");
    TBRNStore* store = session->BeginCreateStore("Backups");
    store->SetStoreType(kLocalStore);
    store->SetPath(folder.Path + "Backups");
    session->EndCreateStore(store);
    database = AddBenchDatabase(*session, "Bench", folder.Path + "Bench", true);
    database->OpenDatabase(kBRNLockShared);
    database->CatalogManager->BeginUpdate();
    TBRNCatalog& catalog = *database->Catalog;
    auto table = std::make_unique<TBRNBaseTable>(&catalog);
    table->Name = "T1";
    AddIdNameColumns(catalog, table.get());
    table->SetLockNumber(catalog.NextTableLockNumber());
    table->ApplyDefaultGrants();
    catalog.DefaultSchema->BaseTables->AddObject(table.get());
    TBRNBaseTable* added = table.release();
    added->Validate();
    added->UpdateStructureChecksum();
    database->CatalogManager->CommitUpdate();
    TBRNTableManager* manager = CreateTableFiles(*database, added, kBRNLockTypeShared);
    for (int32_t first = 1; first <= kRows; first += 10000) {
      manager->StartTransaction();
      for (int32_t id = first; id < first + 10000 && id <= kRows; ++id)
        testing::InsertRawRow(*manager, id, false);
      manager->CommitTransaction();
    }
    manager->Close(false, true);
    database->CloseDatabase(false);
    for (const char* extension : {".BRNTbl", ".BRNIdx"}) {
      std::ifstream file(folder.Path + "Bench/T1" + extension, std::ios::binary);
      fileBytes.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  }

  BenchFolder folder{"backup"};
  TBRNEngineManager engine;
  std::unique_ptr<TBRNLocalSessionManager> session;
  TBRNLocalDatabaseManager* database = nullptr;
  // The table's files, as the backup reads them.
  std::string fileBytes;
};

BrindleData& Brindle() {
  static BrindleData data;
  return data;
}

void BM_Brindle_Backup(benchmark::State& state) {
  BrindleData& data = Brindle();
  const int32_t compression = int32_t(state.range(0));
  for (auto _ : state) {
    if (!data.database->BackupDatabase("Bench", "Backups", TBRNStringsList(), "", compression,
                                       false, false, true))
      throw std::runtime_error("the backup stopped");
  }
  const int64_t written =
      int64_t(std::filesystem::file_size(data.folder.Path + "Backups/Bench.BRNBkp"));
  state.counters["bytes_written"] = double(written);
  state.counters["table_bytes"] = double(data.fileBytes.size());
  state.SetBytesProcessed(state.iterations() * int64_t(data.fileBytes.size()));
}
BENCHMARK(BM_Brindle_Backup)->Arg(0)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Zlib_Level6(benchmark::State& state) {
  const std::string& bytes = Brindle().fileBytes;
  std::vector<Bytef> packed(compressBound(kChunk));
  int64_t written = 0;
  for (auto _ : state) {
    written = 0;
    for (size_t at = 0; at < bytes.size(); at += kChunk) {
      uLongf length = uLongf(packed.size());
      const uLong chunk = uLong(std::min<size_t>(kChunk, bytes.size() - at));
      if (compress2(packed.data(), &length, reinterpret_cast<const Bytef*>(bytes.data() + at),
                    chunk, 6) != Z_OK)
        throw std::runtime_error("compress2 failed");
      written += int64_t(length) + 4;
    }
  }
  state.counters["bytes_written"] = double(written);
  state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
}
BENCHMARK(BM_Zlib_Level6)->Unit(benchmark::kMillisecond)->Iterations(3);

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

void BM_SQLite_OnlineBackup(benchmark::State& state) {
  BenchFolder folder{"backup"};
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder.Path + "bench.db").c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), db);
  Check(sqlite3_exec(db, "CREATE TABLE T1 (ID INTEGER, Name CHAR(20))", nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO T1 VALUES (?, ?)", -1, &insert, nullptr), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  for (int32_t id = 1; id <= kRows; ++id) {
    std::string name = "name" + std::to_string(id);
    sqlite3_bind_int(insert, 1, id);
    sqlite3_bind_text(insert, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db, SQLITE_DONE);
    sqlite3_reset(insert);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_finalize(insert);
  const std::string target = folder.Path + "backup.db";
  for (auto _ : state) {
    std::filesystem::remove(target);
    sqlite3* copy = nullptr;
    Check(sqlite3_open(target.c_str(), &copy), copy);
    Check(sqlite3_exec(copy, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), copy);
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db, "main");
    if (backup == nullptr) throw std::runtime_error(sqlite3_errmsg(copy));
    Check(sqlite3_backup_step(backup, -1), copy, SQLITE_DONE);
    Check(sqlite3_backup_finish(backup), copy);
    sqlite3_close(copy);
  }
  state.counters["bytes_written"] = double(std::filesystem::file_size(target));
  state.SetBytesProcessed(state.iterations() * int64_t(std::filesystem::file_size(target)));
  sqlite3_close(db);
}
BENCHMARK(BM_SQLite_OnlineBackup)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace brn
