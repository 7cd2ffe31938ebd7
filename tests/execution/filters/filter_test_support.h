// A table of a test database with indexed, unindexed, descending,
// NULL-holding and text columns, and a filter cursor over its manager.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/execution_test_support.h"
#include "execution/filters/filter_expr.h"
#include "execution/filters/local_filter.h"
#include "execution/filters/range_filters.h"
#include "foundation/text/collation.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/databases/local_database_manager.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {

// The filter cursor of the tests: a table manager, an evaluator with its own
// standard NULL setting, and the session's current database.
class TestFilterCursor : public TBRNFilterCursor {
 public:
  TestFilterCursor(TBRNTableManager& table, TBRNLocalSessionManager& session,
                   TBRNLocalDatabaseManager& database, bool standardNulls)
      : table_(table),
        evaluator_(std::make_unique<TBRNLocalExprEvaluator>(standardNulls, &session, nullptr)),
        standard_(standardNulls) {
    source_.CurrentDatabase = &database;
    source_.DefaultDatabase = &database;
  }
  TBRNTableManager& GetFilterTable() override { return table_; }
  TBRNLocalExprEvaluator& GetFilterEvaluator() override { return *evaluator_; }
  TBRNEvaluatorContext& GetFilterSourceContext() override { return source_; }
  bool GetStandardNulls() override { return standard_; }
  TBRNEvaluatorContext& Source() { return source_; }

 private:
  TBRNTableManager& table_;
  std::unique_ptr<TBRNLocalExprEvaluator> evaluator_;
  TBRNEvaluatorContext source_;
  bool standard_;
};

// One row of the test table; nullopt-like NULLs are given by the flags.
struct TestRow {
  int32_t A = 0;
  int32_t B = 0;
  int32_t D = 0;
  bool DNull = false;
  int32_t N = 0;
  bool NNull = false;
  std::string S;
  std::string W;
};

// The table T (ID, A, B, D, N, S CHAR(20), W CHAR(60), L CHAR(20) in a
// German collation, holding S's text) with the indexes IA on A, ID_D on D
// descending, IN_N on N, IS_S on S, IL on L and, when asked, the text index
// IW on W. B has no index.
struct FilterTable : ::testing::Test, StatementWorkspace {
  static int32_t GermanCollation() { return MakeLocaleId(MakeLanguageId(7, 1), 0); }

  void SetUp() override {
    TBRNDatabaseContainer* database = AddDatabase(*Session, "Shop", Env.Folder.Path + "shop");
    database->ApplyDefaultGrants();
    Db = Session->GetDatabaseManager(database);
    Db->OpenDatabase(kBRNLockShared);
  }
  void TearDown() override {
    if (Manager != nullptr) Manager->Close(false, true);
  }

  void CreateTable(bool withTextIndex, bool withIndexes = true) {
    Table = Db->CreateTable("T");
    try {
      for (auto [name, type, length] :
           {std::tuple{"ID", dtInteger, 0}, std::tuple{"A", dtInteger, 0},
            std::tuple{"B", dtInteger, 0}, std::tuple{"D", dtInteger, 0},
            std::tuple{"N", dtInteger, 0}, std::tuple{"S", dtChar, 20}, std::tuple{"W", dtChar, 60},
            std::tuple{"L", dtChar, 20}}) {
        auto column = std::make_unique<TBRNColumn>(Db->Catalog.get());
        column->Name = name;
        column->SetDataType(type);
        if (length != 0) column->SetLength(length);
        if (std::string(name) == "L") column->SetCollation(GermanCollation());
        Table->Columns->AddObject(column.get());
        column.release();
      }
      Db->CommitCreateTable(Table);
    } catch (...) {
      Db->RollbackCreateTable(Table);
      throw;
    }
    if (withIndexes) {
      AddIndex("IA", "A", kIndexOrdinary, false);
      AddIndex("ID_D", "D", kIndexOrdinary, true);
      AddIndex("IN_N", "N", kIndexOrdinary, false);
      AddIndex("IS_S", "S", kIndexOrdinary, false);
      AddIndex("IL", "L", kIndexOrdinary, false);
      if (withTextIndex) AddIndex("IW", "W", kIndexText, false);
    }
    Manager = static_cast<TBRNTableManager*>(Db->TableManagers->GetManager(Table));
    Db->TableManagers->OpenManager(Table, kBRNLockTypeExclusive);
  }

  void AddIndex(const std::string& name, const std::string& column, int32_t type, bool descending) {
    TBRNBaseTable* table = nullptr;
    TBRNIndex* index = Db->CreateIndex("T", table, name);
    try {
      index->SetIndexType(type);
      std::unique_ptr<TBRNIndexColumn> entry(
          static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
      entry->SetColumn(static_cast<TBRNColumn*>(table->Columns->FindByName(column, true)));
      entry->SetDescending(descending);
      index->Columns->AddObject(entry.get());
      entry.release();
      ASSERT_TRUE(Db->CommitCreateIndex(table, index));
    } catch (...) {
      Db->RollbackCreateIndex(table, index);
      throw;
    }
  }

  int32_t Insert(const TestRow& r) {
    auto buffer = Manager->NewRowBuffer();
    TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
    values.SetRow(buffer.get());
    values.SetAllNull();
    values.GetItem(0)->SetAsInteger(++lastID_);
    values.GetItem(1)->SetAsInteger(r.A);
    values.GetItem(2)->SetAsInteger(r.B);
    if (!r.DNull) values.GetItem(3)->SetAsInteger(r.D);
    if (!r.NNull) values.GetItem(4)->SetAsInteger(r.N);
    if (!r.S.empty()) values.GetItem(5)->SetAsString(r.S);
    if (!r.W.empty()) values.GetItem(6)->SetAsString(r.W);
    if (!r.S.empty()) values.GetItem(7)->SetAsString(r.S);
    int32_t row = 0, version = 0, counter = 0;
    Manager->InsertRow(values, row, version, counter, false);
    return row;
  }

  void Delete(int32_t row) {
    auto buffer = Manager->NewRowBuffer();
    TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
    TBRNRowsetRow* stored = Manager->GetRow(row, false);
    buffer->AssignRow(*stored);
    Manager->ReleaseRow(stored);
    values.SetRow(buffer.get());
    int32_t counter = buffer->UpdateCounter;
    Manager->DeleteRow(values, row, counter);
  }

  // Row i of the standard data: A = i % 100, B = i % 7, D = i % 50 (NULL
  // where that is 13), N NULL for every fifth row else i % 10, S one of a
  // few texts.
  static TestRow StandardRow(int32_t i) {
    static const char* texts[] = {"abc", "abcd", "abx", "ABC", "xyz", "a_c", "bcd", ""};
    TestRow r;
    r.A = i % 100;
    r.B = i % 7;
    r.D = i % 50;
    r.DNull = i % 50 == 13;
    r.NNull = i % 5 == 0;
    r.N = i % 10;
    r.S = texts[i % 8];
    return r;
  }
  void FillStandard(int32_t count) {
    for (int32_t i = 1; i <= count; ++i) Insert(StandardRow(i));
  }

  std::unique_ptr<TestFilterCursor> Cursor(bool standardNulls = true) {
    return std::make_unique<TestFilterCursor>(*Manager, *Session, *Db, standardNulls);
  }

  std::unique_ptr<TBRNExprFilter> Filter(TestFilterCursor& cursor, const std::string& condition,
                                         bool estimates = true) {
    auto filter = std::make_unique<TBRNExprFilter>(cursor, cursor.Source());
    filter->SetCondition(condition);
    filter->Expr->Estimates = estimates;
    filter->Optimize();
    filter->SetActive(true);
    return filter;
  }

  int32_t SlotCount() { return Manager->GetRowsetManager()->GetBlockCount(); }

  // The rows of the filter's set built from nothing.
  std::vector<int32_t> Build(TBRNExprFilter& filter) {
    filter.Rows->Size = SlotCount();
    filter.Build(0, -1);
    return Members(*filter.Rows);
  }

  static std::vector<int32_t> Members(const TBRNSparseBitmap& rows) {
    std::vector<int32_t> result;
    for (int32_t n = 0; rows.FindNextSet(n) && n <= rows.Size;) result.push_back(n);
    return result;
  }

  // The live rows for which the filter's RowPasses answers true.
  std::vector<int32_t> RowByRow(TBRNExprFilter& filter) {
    std::vector<int32_t> result;
    for (int32_t n = 1; n <= SlotCount(); ++n) {
      TBRNRowsetRow* row = Manager->GetRow(n, false);
      auto copy = Manager->NewRowBuffer();
      copy->AssignRow(*row);
      Manager->ReleaseRow(row);
      if (copy->Status == kRowDeleted) continue;
      TBRNRowsetRowValues values(Manager->GetColumns(), Manager);
      values.SetRow(copy.get());
      if (filter.RowPasses(values)) result.push_back(n);
    }
    return result;
  }

  int64_t RowReads() {
    TBRNRowsetManager* file = Manager->GetRowsetManager();
    return file->CacheHits + file->CacheMisses;
  }

  TBRNLocalDatabaseManager* Db = nullptr;
  TBRNBaseTable* Table = nullptr;
  TBRNTableManager* Manager = nullptr;

 private:
  int32_t lastID_ = 0;
};

}  // namespace brn::testing
