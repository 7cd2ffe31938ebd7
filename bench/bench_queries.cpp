// SELECT statements end to end against SQLite on the same data with the same
// indexes: each side prepares its statement once, and every iteration
// executes it and reads every column of every result row (Brindle through
// its result cursor, SQLite by stepping). The tables are built once per
// process; the caches are warm and large enough for every table.
//
// Brindle keeps an unchanged insensitive result between executions; here
// every execution rebuilds it (the policy of a statement with input
// parameters), as SQLite recomputes its answer at every step loop.
//
// T (ID INTEGER primary key, A INTEGER indexed, B, C, G INTEGER, S CHAR(12)),
// 1,000,000 rows: A = i % 1000, B = i % 7, C = i % 997, G = i % 10000,
// S = "k" + (i % 9973).
// Regions (ID key, Grp) 1,000 rows; Shops (ID key, Region indexed) 10,000
// rows in region ID % 1000 + 1; Sales (ID key, Shop indexed, Amount) 50,000
// rows in shop ID % 10000 + 1.
// Twice(n) = n * 2 + 1: a stored SQL function on the Brindle side, an
// application-defined C function on SQLite's, each called once per row.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "execution/execution_test_support.h"
#include "execution/queries/query_manager.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn {
namespace {

constexpr int64_t kRows = 1000000;
constexpr int64_t kRegions = 1000;
constexpr int64_t kShops = 10000;
constexpr int64_t kSales = 50000;
constexpr int32_t kTableBufferSize = 256 * 1024 * 1024;

struct ColumnSpec {
  const char* Name;
  TBRNDataTypeCode Type;
  int32_t Length;
};

struct Fixture {
  Fixture() {
    Session->Login("Administrator", "GlenHarbor");
    testing::Execute(*Session, "CREATE DATABASE Bench PATH 'bench'");
    Db = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Bench", kBRNLockShared));
    sqlite3_open(":memory:", &Lite);
    exec("PRAGMA cache_size=-524288");

    createTable("T",
                {{"ID", dtInteger, 0},
                 {"A", dtInteger, 0},
                 {"B", dtInteger, 0},
                 {"C", dtInteger, 0},
                 {"G", dtInteger, 0},
                 {"S", dtChar, 12}},
                {"A"});
    fill("T", 6, kRows, [](int64_t i, int32_t column) -> Cell {
      switch (column) {
        case 0: return i;
        case 1: return i % 1000;
        case 2: return i % 7;
        case 3: return i % 997;
        case 4: return i % 10000;
        default: return "k" + std::to_string(i % 9973);
      }
    });
    createTable("Regions", {{"ID", dtInteger, 0}, {"Grp", dtInteger, 0}}, {});
    fill("Regions", 2, kRegions,
         [](int64_t i, int32_t column) -> Cell { return column == 0 ? i : i % 17; });
    createTable("Shops", {{"ID", dtInteger, 0}, {"Region", dtInteger, 0}}, {"Region"});
    fill("Shops", 2, kShops,
         [](int64_t i, int32_t column) -> Cell { return column == 0 ? i : i % kRegions + 1; });
    createTable("Sales", {{"ID", dtInteger, 0}, {"Shop", dtInteger, 0}, {"Amount", dtInteger, 0}},
                {"Shop"});
    fill("Sales", 3, kSales, [](int64_t i, int32_t column) -> Cell {
      return column == 0 ? i : column == 1 ? i % kShops + 1 : i % 23;
    });
    auto* create = static_cast<TBRNLocalStatementManager*>(Db->PrepareStatement(
        "CREATE FUNCTION Twice(IN n INTEGER) RETURNS INTEGER BEGIN RETURN n * 2 + 1; END"));
    create->ExecuteStatement();
    TBRNLocalStatementManager::FreeStatement(create);
    if (sqlite3_create_function(Lite, "twice", 1, SQLITE_UTF8, nullptr, &LiteTwice, nullptr,
                                nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Lite));
  }

  static void LiteTwice(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL)
      sqlite3_result_null(context);
    else
      sqlite3_result_int64(context, sqlite3_value_int64(arguments[0]) * 2 + 1);
  }

  using Cell = std::variant<int64_t, std::string>;

  // The same table on both sides: a primary key on the first column and an
  // ordinary index on each column of indexes (SQLite: a unique index on the
  // first column, not a row ID alias, so that both look a key up in an index
  // and then read the row).
  void createTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                   const std::vector<std::string>& indexes) {
    TBRNBaseTable* table = Db->CreateTable(name);
    table->AddRowIDColumn();
    // Buffers that hold the whole table, as SQLite's page cache above does:
    // both sides then read from memory.
    table->SetMaxRowBufferSize(kTableBufferSize);
    table->SetMaxIndexBufferSize(kTableBufferSize);
    std::string lite = "CREATE TABLE " + name + " (";
    for (const ColumnSpec& def : columns) {
      auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
      column->Name = def.Name;
      column->SetDataType(def.Type);
      if (def.Length != 0) column->SetLength(def.Length);
      table->Columns->AddObject(column.get());
      column.release();
      lite += std::string(&def == &columns.front() ? "" : ", ") + def.Name +
              (def.Type == dtInteger ? " INTEGER" : " TEXT");
    }
    testing::AddTableKey(table, "PK", kConstraintPrimaryKey, {columns.front().Name});
    for (const std::string& column : indexes)
      testing::AddTableIndex(table, "By" + column, {column}, kIndexOrdinary);
    Db->CommitCreateTable(table);
    exec(lite + ")");
    exec("CREATE UNIQUE INDEX " + name + "PK ON " + name + " (" + columns.front().Name + ")");
    for (const std::string& column : indexes)
      exec("CREATE INDEX " + name + "By" + column + " ON " + name + " (" + column + ")");
  }

  // Rows 1 to count of both tables, cell(i, column) for each of the columns
  // after the row ID; committed every 50,000 rows.
  template <typename CellOf>
  void fill(const std::string& name, int32_t columns, int64_t count, CellOf cell) {
    auto* manager =
        dynamic_cast<TBRNTableManager*>(Db->OpenSchemaObjectManager("", name, false));
    if (manager == nullptr) throw std::logic_error("not a table manager");
    auto buffer = manager->NewRowBuffer();
    TBRNRowsetRowValues values(manager->GetColumns(), manager);
    values.SetRow(buffer.get());
    std::string sql = "INSERT INTO " + name + " VALUES (?";
    for (int32_t c = 1; c < columns; ++c) sql += ", ?";
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(Lite, (sql + ")").c_str(), -1, &insert, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Lite));
    for (int64_t first = 1; first <= count; first += 50000) {
      manager->StartTransaction();
      exec("BEGIN");
      for (int64_t i = first; i < first + 50000 && i <= count; ++i) {
        values.SetAllNull();
        for (int32_t c = 0; c < columns; ++c) {
          const Cell value = cell(i, c);
          if (const auto* number = std::get_if<int64_t>(&value)) {
            values.GetItem(c + 1)->SetAsBigInt(*number);
            sqlite3_bind_int64(insert, c + 1, *number);
          } else {
            const std::string& text = std::get<std::string>(value);
            values.GetItem(c + 1)->SetAsString(text);
            sqlite3_bind_text(insert, c + 1, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
          }
        }
        int32_t row = 0, version = 0, counter = 0;
        manager->InsertRow(values, row, version, counter, false);
        if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(Lite));
        sqlite3_reset(insert);
      }
      manager->CommitTransaction();
      exec("COMMIT");
    }
    sqlite3_finalize(insert);
    values.SetRow(nullptr);
    manager->Close(false, true);
  }

  void exec(const std::string& sql) {
    if (sqlite3_exec(Lite, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Lite));
  }

  testing::ExecutionInstaller Installer;
  testing::TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
  sqlite3* Lite = nullptr;
};

Fixture& fixture() {
  static Fixture* instance = new Fixture();
  return *instance;
}

struct Query {
  const char* Label;
  const char* Brindle;
  const char* SQLite;
  int64_t Iterations;
};

const Query kQueries[] = {
    {"5-term WHERE scan",
     "SELECT ID, S FROM T WHERE B = 3 AND C < 500 AND G >= 100 AND S <> 'k77' AND C <> G",
     "SELECT id, s FROM t WHERE b = 3 AND c < 500 AND g >= 100 AND s <> 'k77' AND c <> g", 3},
    {"point lookup", "SELECT * FROM T WHERE ID = 500001", "SELECT * FROM t WHERE id = 500001",
     500},
    {"range lookup", "SELECT ID, B, S FROM T WHERE A BETWEEN 10 AND 14",
     "SELECT id, b, s FROM t WHERE a BETWEEN 10 AND 14", 10},
    {"GROUP BY 10,000 groups", "SELECT G, COUNT(*), SUM(B) FROM T GROUP BY G",
     "SELECT g, COUNT(*), SUM(b) FROM t GROUP BY g", 2},
    {"3-table join",
     "SELECT r.Grp, h.ID, s.Amount FROM Sales s INNER JOIN Shops h ON s.Shop = h.ID "
     "INNER JOIN Regions r ON h.Region = r.ID WHERE r.ID <= 200",
     "SELECT r.grp, h.id, s.amount FROM sales s INNER JOIN shops h ON s.shop = h.id "
     "INNER JOIN regions r ON h.region = r.id WHERE r.id <= 200",
     10},
    {"ORDER BY, first 100", "SELECT ID, C, S FROM T ORDER BY C DESC, ID RANGE 1 TO 100",
     "SELECT id, c, s FROM t ORDER BY c DESC, id LIMIT 100", 2},
    {"function per row", "SELECT Twice(C) FROM T", "SELECT twice(c) FROM t", 2},
    // The same values without the call: what the call itself costs.
    {"function inline", "SELECT C * 2 + 1 FROM T", "SELECT c * 2 + 1 FROM t", 2},
};

// Every value of the row read: integers as numbers, the rest as text.
int64_t Consume(const TBRNValue& value) {
  if (value.GetNull()) return 0;
  switch (value.GetDataType()) {
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      return value.GetAsBigInt();
    default:
      return int64_t(value.GetAsString().size());
  }
}

void BM_Brindle_Query(benchmark::State& state) {
  Fixture& f = fixture();
  const Query& query = kQueries[state.range(0)];
  TBRNLocalStatementManager* statement =
      static_cast<TBRNLocalStatementManager*>(f.Db->PrepareStatement(query.Brindle));
  if (statement->Query != nullptr) statement->Query->RebuildPerCursor = true;
  int64_t rows = 0, sum = 0;
  for (auto _ : state) {
    TBRNCursor* cursor = statement->ExecuteStatement();
    TBRNCursorColumns& columns = cursor->GetCursorColumns();
    std::vector<int32_t> positions;
    for (int32_t i = 0; i < columns.Count(); ++i)
      positions.push_back(columns.GetColumn(i)->GetTableColumn()->Index);
    std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
    rows = 0;
    for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow()) {
      cursor->ReadRow(*row);
      for (int32_t position : positions) sum += Consume(*row->Values.GetItem(position));
      ++rows;
    }
    row.reset();
    f.Db->Cursors.RemoveObject(cursor, false);
    delete cursor;
  }
  TBRNLocalStatementManager::FreeStatement(statement);
  benchmark::DoNotOptimize(sum);
  state.SetLabel(std::string(query.Label) + ", " + std::to_string(rows) + " rows");
}

void BM_SQLite_Query(benchmark::State& state) {
  Fixture& f = fixture();
  const Query& query = kQueries[state.range(0)];
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(f.Lite, query.SQLite, -1, &select, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(f.Lite));
  const int columns = sqlite3_column_count(select);
  int64_t rows = 0, sum = 0;
  for (auto _ : state) {
    rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c)
        sum += sqlite3_column_type(select, c) == SQLITE_INTEGER ? sqlite3_column_int64(select, c)
                                                                 : sqlite3_column_bytes(select, c);
      ++rows;
    }
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  benchmark::DoNotOptimize(sum);
  state.SetLabel(std::string(query.Label) + ", " + std::to_string(rows) + " rows");
}

// Both engines query by query, so that each ratio reads off two lines.
void RegisterQueries() {
  for (int64_t i = 0; i < int64_t(std::size(kQueries)); ++i) {
    benchmark::RegisterBenchmark("BM_Brindle_Query", BM_Brindle_Query)
        ->Arg(i)
        ->Iterations(kQueries[i].Iterations)
        ->Unit(kQueries[i].Iterations > 100 ? benchmark::kMicrosecond : benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SQLite_Query", BM_SQLite_Query)
        ->Arg(i)
        ->Iterations(kQueries[i].Iterations)
        ->Unit(kQueries[i].Iterations > 100 ? benchmark::kMicrosecond : benchmark::kMillisecond);
  }
}

[[maybe_unused]] const bool kRegistered = (RegisterQueries(), true);

}  // namespace
}  // namespace brn
