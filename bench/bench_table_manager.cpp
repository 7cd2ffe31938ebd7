// The table manager's row writes and reads against SQLite with the same
// schema: ID INTEGER primary key, Name VARCHAR(40) with a secondary index,
// Amount INTEGER. Brindle runs a real catalog, lock file and table files in
// a folder of its own; SQLite a database file in the same folder.
//
//   Insert/1M in one transaction: Brindle ForceBufferFlush off; SQLite one
//     transaction, synchronous=OFF.
//   Insert/10k one by one: each Brindle change flushed at once; SQLite in
//     autocommit (synchronous=OFF as well: neither syncs).
//   Lookup/1M random primary keys reading the row: Brindle FindRowByKey;
//     SQLite a prepared SELECT.
//   Scan: every row read in row order inside one Read bracket.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "foundation/core/digest.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"
#include "storage/files/fake_table_host.h"
#include "storage/rows/row_evaluator_support.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {
namespace {

constexpr int32_t kBulkRows = 1000000;
constexpr int32_t kFlushedRows = 10000;
constexpr int32_t kLookups = 1000000;

std::string NameOf(int32_t i) {
  return "customer-" + std::to_string(uint32_t(i) * 2654435761u % 1000003u) + "-" +
         std::to_string(i);
}

std::string MakeFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brn_bench_tm_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern + "/";
}

class BenchLocks : public TBRNLockManager {
 public:
  using TBRNLockManager::TBRNLockManager;
  int32_t Slot = 1;
  int32_t GetSessionSlot() override { return Slot; }
  void SetSessionSlot(int32_t slot) override { Slot = slot; }
};

// One session of a database of one table, as the tests' environment is,
// without a recording of what it was asked.
class BenchEnvironment : public TBRNTableEnvironment {
 public:
  explicit BenchEnvironment(const std::string& folder) : Folder(folder) {
    Config.Parser = &Parser;
    Config.Validator = &Validator;
    Catalog = std::make_unique<TBRNCatalog>(&Config);
    Catalog->SetVersion(kNewestFormatVersion);
    Catalog->Name = "Bench";
    Locks = std::make_unique<BenchLocks>(Catalog.get(), &Files);
    Locks->SetLockFileName(Folder + "Bench.BRNLck");
    Locks->Open();
  }
  ~BenchEnvironment() override { Locks->Close(); }

  TBRNBaseTable* AddTable() {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = "Customers";
    table->AddRowIDColumn();
    auto column = [&](const char* name, TBRNDataTypeCode type, int32_t length) {
      auto made = std::make_unique<TBRNColumn>(Catalog.get());
      made->Name = name;
      made->SetDataType(type);
      if (length != 0) made->SetLength(length);
      TBRNColumn* result = made.get();
      table->Columns->AddObject(made.release());
      return result;
    };
    TBRNColumn* id = column("ID", dtInteger, 0);
    TBRNColumn* name = column("Name", dtChar, 40);
    column("Amount", dtInteger, 0);
    auto index = [&](const char* indexName, TBRNColumn* on, int32_t type) {
      std::unique_ptr<TBRNIndex> made(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
      made->Name = indexName;
      made->SetIndexType(type);
      std::unique_ptr<TBRNIndexColumn> entry(
          static_cast<TBRNIndexColumn*>(made->Columns->NewItem()));
      entry->SetColumn(on);
      made->Columns->AddObject(entry.release());
      TBRNIndex* result = made.get();
      table->Indexes->AddObject(made.release());
      return result;
    };
    std::unique_ptr<TBRNConstraint> key(
        static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
    key->Name = "PK";
    key->SetConstraintType(kConstraintPrimaryKey);
    std::unique_ptr<TBRNConstraintColumn> entry(
        static_cast<TBRNConstraintColumn*>(key->Columns->NewItem()));
    entry->SetColumn(id);
    key->Columns->AddObject(entry.release());
    TBRNConstraint* constraint = key.get();
    table->Constraints->AddObject(key.release());
    TBRNIndex* keyIndex = index("PK", id, kIndexPrimaryKey);
    keyIndex->SetOwnerConstraint(constraint);
    constraint->SetEnforcingIndex(keyIndex);
    index("ByName", name, kIndexOrdinary);
    table->SetLockNumber(Catalog->NextTableLockNumber());
    TBRNBaseTable* result = table.get();
    Catalog->DefaultSchema->BaseTables->AddObject(table.release());
    result->Validate();
    result->UpdateStructureChecksum();
    return result;
  }

  TBRNCatalog* GetCatalog() override { return Catalog.get(); }
  std::string GetDatabaseName() const override { return "Bench"; }
  std::string GetSchemaFolder(const std::string&) override { return Folder; }
  TBRNFileManager* GetSchemaFileManager(const std::string&) override { return &Files; }
  TBRNSchemaObjectManagers* GetTableManagers() override { return Managers; }
  bool LockObject(TBRNLockable* object, uint8_t lockType) override {
    return Locks->LockObject(object, lockType, 2000);
  }
  void UnlockObject(TBRNLockable* object, uint8_t lockType) override {
    Locks->UnlockObject(object, lockType);
  }
  const TBRNTableSettings& GetTableSettings() const override { return Settings; }
  TBRNExpressionEvaluator& GetEvaluator() override { return Evaluator; }
  std::unique_ptr<TBRNEvaluationContext> CreateEvaluationContext() override {
    return std::make_unique<TBRNEvaluationContext>();
  }
  void CheckPrivilege(TBRNPrivilegedConfigObject*, int32_t, const std::string&) override {}
  void PushUser(TBRNUser*) override {}
  void PopUser() override {}
  TBRNUser* GetCurrentUser() override { return Config.SystemUser; }
  TBRNUser* GetObjectOwner(TBRNPrivilegedConfigObject*) override { return Config.SystemUser; }
  void LogFailedOperation(int32_t, const EBRNException&) override {}
  void WriteWarningEvent(const std::string&) override {}
  void LogMessage(const std::string&) override {}
  bool UpdateProgress(int32_t) override { return true; }
  [[noreturn]] void RaiseBackupError(const std::string& text) override {
    throw EBRNException(1300, text);
  }
  [[noreturn]] void RaiseRestoreError(const std::string& text) override {
    throw EBRNException(1301, text);
  }
  const TBRNDigest& GetSignatureDigest() const override { return Signature; }
  bool IsValidSignature(const TBRNDigest& digest) const override {
    return digest.Equals(Signature);
  }
  const TBRNDigest& GetEncryptionDigest() const override { return Signature; }
  std::string GetFileExtension(TBRNTableFileKind kind) const override {
    switch (kind) {
      case TBRNTableFileKind::Rows:
        return ".BRNTbl";
      case TBRNTableFileKind::Indexes:
        return ".BRNIdx";
      case TBRNTableFileKind::Blobs:
        return ".BRNBlb";
      default:
        return ".BRNPbl";
    }
  }

  std::string Folder;
  TBRNEnvironment Environment;
  TBRNOSFileManager Files{&Environment};
  TBRNExprParser Parser;
  TBRNExprValidator Validator{false};
  TBRNConfig Config;
  std::unique_ptr<TBRNCatalog> Catalog;
  std::unique_ptr<BenchLocks> Locks;
  testing::RowEvaluator Evaluator;
  TBRNTableSettings Settings;
  TBRNSchemaObjectManagers* Managers = nullptr;
  TBRNDigest Signature = testing::DigestOf("brn_bench");
};

// A Brindle database with the table open, and a row buffer of it.
struct BrindleTable {
  BrindleTable() : Folder(MakeFolder()), Env(Folder) {
    Env.Managers = &Managers;
    Table = Env.AddTable();
    Manager = static_cast<TBRNTableManager*>(Managers.OpenManager(Table, kBRNLockTypeShared));
    Buffer = Manager->NewRowBuffer();
    Values = std::make_unique<TBRNRowsetRowValues>(Manager->GetColumns(), Manager);
    Values->SetRow(Buffer.get());
  }
  ~BrindleTable() {
    Values.reset();
    Buffer.reset();
    Managers.Clear();
    std::filesystem::remove_all(Folder);
  }
  void Insert(int32_t i) {
    Values->SetAllNull();
    Values->GetItem(1)->SetAsInteger(i);
    Values->GetItem(2)->SetAsString(NameOf(i));
    Values->GetItem(3)->SetAsInteger(i % 1000);
    int32_t row = 0, version = 0, counter = 0;
    Manager->InsertRow(*Values, row, version, counter, false);
  }

  std::string Folder;
  BenchEnvironment Env;
  TBRNTableManagers Managers{Env};
  TBRNBaseTable* Table = nullptr;
  TBRNTableManager* Manager = nullptr;
  std::unique_ptr<TBRNRowsetRow> Buffer;
  std::unique_ptr<TBRNRowsetRowValues> Values;
};

void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) throw std::runtime_error(sqlite3_errmsg(db));
}

struct SQLiteTable {
  SQLiteTable() : Folder(MakeFolder()) {
    Check(sqlite3_open((Folder + "bench.db").c_str(), &Db), Db);
    Check(sqlite3_exec(Db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), Db);
    Check(sqlite3_exec(Db,
                       "CREATE TABLE Customers (ID INTEGER PRIMARY KEY, Name VARCHAR(40), Amount "
                       "INTEGER); CREATE INDEX ByName ON Customers (Name)",
                       nullptr, nullptr, nullptr),
          Db);
    Check(sqlite3_prepare_v2(Db, "INSERT INTO Customers VALUES (?, ?, ?)", -1, &Insert_, nullptr),
          Db);
  }
  ~SQLiteTable() {
    sqlite3_finalize(Insert_);
    sqlite3_close(Db);
    std::filesystem::remove_all(Folder);
  }
  void Insert(int32_t i) {
    std::string name = NameOf(i);
    sqlite3_bind_int(Insert_, 1, i);
    sqlite3_bind_text(Insert_, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(Insert_, 3, i % 1000);
    Check(sqlite3_step(Insert_), Db, SQLITE_DONE);
    sqlite3_reset(Insert_);
  }

  std::string Folder;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Insert_ = nullptr;
};

// The tables filled by the bulk inserts, kept for the lookups and the scan.
std::unique_ptr<BrindleTable> gBrindle;
std::unique_ptr<SQLiteTable> gSQLite;

void Brindle_Insert1MInATransaction(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    gBrindle.reset();
    gBrindle = std::make_unique<BrindleTable>();
    state.ResumeTiming();
    gBrindle->Manager->StartTransaction();
    for (int32_t i = 1; i <= kBulkRows; ++i) gBrindle->Insert(i);
    gBrindle->Manager->CommitTransaction();
  }
  state.SetItemsProcessed(state.iterations() * kBulkRows);
}

void SQLite_Insert1MInATransaction(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    gSQLite.reset();
    gSQLite = std::make_unique<SQLiteTable>();
    state.ResumeTiming();
    Check(sqlite3_exec(gSQLite->Db, "BEGIN", nullptr, nullptr, nullptr), gSQLite->Db);
    for (int32_t i = 1; i <= kBulkRows; ++i) gSQLite->Insert(i);
    Check(sqlite3_exec(gSQLite->Db, "COMMIT", nullptr, nullptr, nullptr), gSQLite->Db);
  }
  state.SetItemsProcessed(state.iterations() * kBulkRows);
}

void Brindle_Insert10kFlushedOneByOne(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<BrindleTable>();
    state.ResumeTiming();
    for (int32_t i = 1; i <= kFlushedRows; ++i) table->Insert(i);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFlushedRows);
}

void SQLite_Insert10kAutocommit(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<SQLiteTable>();
    state.ResumeTiming();
    for (int32_t i = 1; i <= kFlushedRows; ++i) table->Insert(i);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFlushedRows);
}

void Brindle_Lookup1MRandomKeys(benchmark::State& state) {
  if (!gBrindle) {
    state.SkipWithError("run the bulk insert first");
    return;
  }
  TBRNTableManager* manager = gBrindle->Manager;
  auto keyBuffer = manager->NewRowBuffer();
  TBRNRowsetRowValues key(manager->GetColumns(), manager);
  key.SetRow(keyBuffer.get());
  key.SetAllNull();
  std::mt19937 random(7);
  int64_t sum = 0;
  for (auto _ : state) {
    for (int32_t n = 0; n < kLookups; ++n) {
      key.GetItem(1)->SetAsInteger(int32_t(random() % kBulkRows) + 1);
      if (!manager->FindRowByKey(*gBrindle->Values, key, 0, true)) {
        throw std::runtime_error("key not found");
      }
      sum += gBrindle->Values->GetItem(3)->GetAsInteger();
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void SQLite_Lookup1MRandomKeys(benchmark::State& state) {
  if (!gSQLite) {
    state.SkipWithError("run the bulk insert first");
    return;
  }
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(gSQLite->Db, "SELECT ID, Name, Amount FROM Customers WHERE ID = ?", -1,
                           &select, nullptr),
        gSQLite->Db);
  std::mt19937 random(7);
  int64_t sum = 0;
  for (auto _ : state) {
    for (int32_t n = 0; n < kLookups; ++n) {
      sqlite3_bind_int(select, 1, int32_t(random() % kBulkRows) + 1);
      Check(sqlite3_step(select), gSQLite->Db, SQLITE_ROW);
      sum += sqlite3_column_int(select, 2) + sqlite3_column_bytes(select, 1);
      sqlite3_reset(select);
    }
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Brindle_FullScan(benchmark::State& state) {
  if (!gBrindle) {
    state.SkipWithError("run the bulk insert first");
    return;
  }
  TBRNTableManager* manager = gBrindle->Manager;
  int64_t sum = 0;
  for (auto _ : state) {
    // One Read bracket around the scan, as a statement holds it (SQLite's
    // statement holds its shared lock the same way); without it each row
    // read takes and releases the lock byte and re-reads the header.
    manager->BeginRead();
    const int32_t count = manager->GetPhysicalRowCount();
    for (int32_t row = 1; row <= count; ++row) {
      manager->ReadRowByNumber(row, *gBrindle->Values);
      sum += gBrindle->Values->GetItem(3)->GetAsInteger();
    }
    manager->EndRead();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kBulkRows);
}

void SQLite_FullScan(benchmark::State& state) {
  if (!gSQLite) {
    state.SkipWithError("run the bulk insert first");
    return;
  }
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(gSQLite->Db, "SELECT ID, Name, Amount FROM Customers", -1, &select,
                           nullptr),
        gSQLite->Db);
  int64_t sum = 0;
  for (auto _ : state) {
    while (sqlite3_step(select) == SQLITE_ROW) {
      sum += sqlite3_column_int(select, 2) + sqlite3_column_bytes(select, 1);
    }
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kBulkRows);
}

BENCHMARK(Brindle_Insert1MInATransaction)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(SQLite_Insert1MInATransaction)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Brindle_Insert10kFlushedOneByOne)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(SQLite_Insert10kAutocommit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Brindle_Lookup1MRandomKeys)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(SQLite_Lookup1MRandomKeys)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Brindle_FullScan)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(SQLite_FullScan)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace brn
