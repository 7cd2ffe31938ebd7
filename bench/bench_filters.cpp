// Filter sets of a 1,000,000-row table built through index walks, a row
// scan, AND and OR of two index sets, and a walk of the rows of a set,
// against SQLite answering the same condition with the same indexes and
// stepping its rows (SELECT rowid ... WHERE ...). Both tables are built once
// per process; the page caches are warm.
//
// Table T (ID INTEGER, A INTEGER, B INTEGER, C INTEGER, S CHAR(12)): A =
// i % 1000, B = i % 7 (no index), C = i % 997, S = "k" + (i % 10000); indexes
// on A, C and S.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/filters/filter_expr.h"
#include "execution/handlers/statement_handlers.h"
#include "metadata/catalog/indexes.h"
#include "sessions/databases/database_test_support.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn {
namespace {

constexpr int32_t kRows = 1000000;

class BenchCursor : public TBRNFilterCursor {
 public:
  BenchCursor(TBRNTableManager& table, TBRNLocalSessionManager& session,
              TBRNLocalDatabaseManager& database)
      : table_(table), evaluator_(true, &session, nullptr) {
    source_.CurrentDatabase = &database;
    source_.DefaultDatabase = &database;
  }
  TBRNTableManager& GetFilterTable() override { return table_; }
  TBRNLocalExprEvaluator& GetFilterEvaluator() override { return evaluator_; }
  TBRNEvaluatorContext& GetFilterSourceContext() override { return source_; }
  bool GetStandardNulls() override { return true; }

 private:
  TBRNTableManager& table_;
  TBRNLocalExprEvaluator evaluator_;
  TBRNEvaluatorContext source_;
};

struct Fixture {
  Fixture() {
    InstallLocalEvaluatorFactory(&FillStatementHandlers);
    Session->Login("Administrator", "GlenHarbor");
    TBRNDatabaseContainer* database =
        testing::AddDatabase(*Session, "Bench", Env.Folder.Path + "bench");
    database->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(database);
    Db->OpenDatabase(kBRNLockShared);
    TBRNBaseTable* table = Db->CreateTable("T");
    for (auto [name, type, length] :
         {std::tuple{"ID", dtInteger, 0}, std::tuple{"A", dtInteger, 0},
          std::tuple{"B", dtInteger, 0}, std::tuple{"C", dtInteger, 0},
          std::tuple{"S", dtChar, 12}}) {
      auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
      column->Name = name;
      column->SetDataType(type);
      if (length != 0) column->SetLength(length);
      table->Columns->AddObject(column.get());
      column.release();
    }
    Db->CommitCreateTable(table);
    for (const char* column : {"A", "C", "S"}) {
      TBRNBaseTable* owner = nullptr;
      TBRNIndex* index = Db->CreateIndex("T", owner, std::string("I") + column);
      std::unique_ptr<TBRNIndexColumn> entry(
          static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
      entry->SetColumn(static_cast<TBRNColumn*>(owner->Columns->FindByName(column, true)));
      index->Columns->AddObject(entry.get());
      entry.release();
      if (!Db->CommitCreateIndex(owner, index)) throw std::runtime_error("index");
    }
    Manager = static_cast<TBRNTableManager*>(Db->TableManagers->GetManager(table));
    Db->TableManagers->OpenManager(table, kBRNLockTypeExclusive);
    auto buffer = Manager->NewRowBuffer();
    TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
    values.SetRow(buffer.get());
    for (int32_t i = 1; i <= kRows; ++i) {
      values.SetAllNull();
      values.GetItem(0)->SetAsInteger(i);
      values.GetItem(1)->SetAsInteger(i % 1000);
      values.GetItem(2)->SetAsInteger(i % 7);
      values.GetItem(3)->SetAsInteger(i % 997);
      values.GetItem(4)->SetAsString("k" + std::to_string(i % 10000));
      int32_t row = 0, version = 0, counter = 0;
      Manager->InsertRow(values, row, version, counter, false);
    }
    Cursor = std::make_unique<BenchCursor>(*Manager, *Session, *Db);

    sqlite3_open(":memory:", &Lite);
    exec("PRAGMA cache_size=-262144");
    exec("CREATE TABLE t (id INTEGER, a INTEGER, b INTEGER, c INTEGER, s TEXT)");
    exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(Lite, "INSERT INTO t VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
    for (int32_t i = 1; i <= kRows; ++i) {
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_int(insert, 2, i % 1000);
      sqlite3_bind_int(insert, 3, i % 7);
      sqlite3_bind_int(insert, 4, i % 997);
      const std::string s = "k" + std::to_string(i % 10000);
      sqlite3_bind_text(insert, 5, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec("COMMIT");
    exec("CREATE INDEX ia ON t(a)");
    exec("CREATE INDEX ic ON t(c)");
    exec("CREATE INDEX is_ ON t(s)");
    exec("PRAGMA case_sensitive_like = ON");
  }
  void exec(const char* sql) {
    if (sqlite3_exec(Lite, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Lite));
  }

  testing::TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  TBRNTableManager* Manager = nullptr;
  std::unique_ptr<BenchCursor> Cursor;
  sqlite3* Lite = nullptr;
};

Fixture& fixture() {
  static Fixture* instance = new Fixture();
  return *instance;
}

const std::string kIn100 = [] {
  std::string text = "A IN (";
  for (int32_t i = 0; i < 100; ++i) text += (i ? ", " : "") + std::to_string(i * 7);
  return text + ")";
}();

const char* kConditions[] = {"A = 5", "A BETWEEN 10 AND 14", "S LIKE 'k12%'", kIn100.c_str(),
                             "B = 3 AND ID < 100000", "A = 5 AND C = 7", "A = 5 OR C = 7"};
const char* kLabels[] = {"equal", "between", "like prefix", "in 100", "row scan", "and", "or"};

void BM_Brindle_FilterSet(benchmark::State& state) {
  Fixture& f = fixture();
  const char* condition = kConditions[state.range(0)];
  auto filter = std::make_unique<TBRNExprFilter>(*f.Cursor, f.Cursor->GetFilterSourceContext());
  filter->SetCondition(condition);
  filter->Optimize();
  filter->SetActive(true);
  int64_t rows = 0;
  for (auto _ : state) {
    filter->Rows->Size = f.Manager->GetRowsetManager()->GetBlockCount();
    filter->Build(0, -1);
    rows = filter->Rows->CountSet();
  }
  state.SetLabel(std::string(kLabels[state.range(0)]) + ", " + std::to_string(rows) + " rows");
}
BENCHMARK(BM_Brindle_FilterSet)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

void BM_SQLite_FilterSet(benchmark::State& state) {
  Fixture& f = fixture();
  std::string condition = kConditions[state.range(0)];
  sqlite3_stmt* select = nullptr;
  const std::string sql = "SELECT rowid FROM t WHERE " + condition;
  if (sqlite3_prepare_v2(f.Lite, sql.c_str(), -1, &select, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(f.Lite));
  int64_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) ++rows;
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  state.SetLabel(std::string(kLabels[state.range(0)]) + ", " + std::to_string(rows) + " rows");
}
BENCHMARK(BM_SQLite_FilterSet)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// The rows of the set of A = 5 read one by one.
void BM_Brindle_WalkSet(benchmark::State& state) {
  Fixture& f = fixture();
  auto filter = std::make_unique<TBRNExprFilter>(*f.Cursor, f.Cursor->GetFilterSourceContext());
  filter->SetCondition("A = 5");
  filter->Optimize();
  filter->SetActive(true);
  filter->Rows->Size = f.Manager->GetRowsetManager()->GetBlockCount();
  filter->Build(0, -1);
  int64_t sum = 0;
  for (auto _ : state) {
    TBRNRowsetRowValues values(f.Manager->GetColumns(), f.Manager);
    for (int32_t n = 0; filter->Rows->FindNextSet(n) && n <= filter->Rows->Size;) {
      TBRNRowsetRow* row = f.Manager->GetRow(n, false);
      values.SetRow(row);
      sum += values.GetItem(2)->GetAsInteger();
      values.SetRow(nullptr);
      f.Manager->ReleaseRow(row);
    }
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_Brindle_WalkSet)->Unit(benchmark::kMillisecond);

void BM_SQLite_WalkSet(benchmark::State& state) {
  Fixture& f = fixture();
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(f.Lite, "SELECT b FROM t WHERE a = 5", -1, &select, nullptr);
  int64_t sum = 0;
  for (auto _ : state) {
    while (sqlite3_step(select) == SQLITE_ROW) sum += sqlite3_column_int(select, 0);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_SQLite_WalkSet)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brn

