// A session with the database "Shop" whose tables the tests define and fill
// directly through the catalog and the table managers, and queries run
// through statement handles.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "execution/execution_test_support.h"
#include "execution/handles/local_statement_manager.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/child_process.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

// A cell of a test row: NULL, an integer or a text.
using Cell = std::variant<std::monostate, int64_t, std::string>;
using CellRow = std::vector<Cell>;

struct ColumnSpec {
  std::string Name;
  TBRNDataTypeCode Type;
  int32_t Length = 0;
};

// The text a result value is compared by: "NULL" or the value as text.
inline std::string CellText(const TBRNValue& value) {
  return value.GetNull() ? std::string("NULL") : value.GetAsString();
}

struct QueryWorkspace : StatementWorkspace {
  QueryWorkspace() {
    Execute(*Session, "CREATE DATABASE Shop PATH 'shop'");
    Shop = static_cast<TBRNLocalDatabaseManager*>(Session->OpenDatabase("Shop", kBRNLockShared));
  }
  ~QueryWorkspace() {
    try {
      TBRNDatabaseManager* shop = Shop;
      if (shop != nullptr) Session->CloseDatabase(shop);
    } catch (...) {
    }
  }

  // A base table with the columns given, a primary key "PK" on the first
  // when key, and ordinary indexes on the columns named in indexes.
  TBRNBaseTable* CreateTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                             bool key = true, const std::vector<std::string>& indexes = {}) {
    TBRNBaseTable* table = Shop->CreateTable(name);
    try {
      table->AddRowIDColumn();
      for (const ColumnSpec& definition : columns) {
        auto column = std::make_unique<TBRNColumn>(Shop->Catalog.get());
        column->Name = definition.Name;
        column->SetDataType(definition.Type);
        if (definition.Length != 0) column->SetLength(definition.Length);
        table->Columns->AddObject(column.get());
        column.release();
      }
      if (key) AddTableKey(table, "PK", kConstraintPrimaryKey, {columns.front().Name});
      for (const std::string& column : indexes)
        AddTableIndex(table, "By" + column, {column}, kIndexOrdinary);
      Shop->CommitCreateTable(table);
    } catch (...) {
      Shop->RollbackCreateTable(table);
      throw;
    }
    return table;
  }

  // The open manager of a table of database (one user; give it back with
  // Release).
  static TBRNTableManager& OpenTable(TBRNLocalDatabaseManager& database, const std::string& name) {
    auto* manager =
        dynamic_cast<TBRNTableManager*>(database.OpenSchemaObjectManager("", name, false));
    if (manager == nullptr) throw std::logic_error("not a table manager");
    return *manager;
  }
  TBRNTableManager& OpenTable(const std::string& name) { return OpenTable(*Shop, name); }
  static void Release(TBRNTableManager& manager) { manager.Close(false, true); }

  // Inserts rows (cells in column order after the row ID) in one
  // transaction.
  void Insert(const std::string& name, const std::vector<CellRow>& rows) {
    InsertInto(*Shop, name, rows);
  }
  // The same from a forked process with a session of its own, as another
  // program sharing the database would; answers the child's exit code.
  int InsertFromChild(const std::string& name, const std::vector<CellRow>& rows) {
    pid_t pid = Fork([&] {
      std::unique_ptr<TBRNLocalSessionManager> other = Env.OpenSession("Child");
      other->Login("Administrator", "GlenHarbor");
      TBRNDatabaseManager* shop = other->OpenDatabase("Shop", kBRNLockShared);
      InsertInto(*static_cast<TBRNLocalDatabaseManager*>(shop), name, rows);
      other->CloseDatabase(shop);
      return 0;
    });
    return Wait(pid);
  }
  static void InsertInto(TBRNLocalDatabaseManager& database, const std::string& name,
                         const std::vector<CellRow>& rows) {
    TBRNTableManager& manager = OpenTable(database, name);
    manager.StartTransaction();
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    for (const CellRow& row : rows) {
      values.SetAllNull();
      for (size_t i = 0; i < row.size(); ++i) {
        TBRNValue* value = values.GetItem(int32_t(i) + 1);
        if (const auto* number = std::get_if<int64_t>(&row[i]))
          value->SetAsBigInt(*number);
        else if (const auto* text = std::get_if<std::string>(&row[i]))
          value->SetAsString(*text);
      }
      int32_t number = 0, version = 0, counter = 0;
      manager.InsertRow(values, number, version, counter, false);
    }
    manager.CommitTransaction();
    Release(manager);
  }

  // A statement of Shop, freed at the end of the test (or by Free).
  TBRNLocalStatementManager* Prepare(const std::string& sql) {
    auto* statement = static_cast<TBRNLocalStatementManager*>(Shop->PrepareStatement(sql));
    return statement;
  }
  static void Free(TBRNLocalStatementManager*& statement) {
    TBRNLocalStatementManager::FreeStatement(statement);
  }

  // The rows of a cursor from its first row, each value as CellText.
  static std::vector<std::vector<std::string>> CursorRows(TBRNCursor& cursor) {
    std::vector<std::vector<std::string>> rows;
    TBRNCursorColumns& columns = cursor.GetCursorColumns();
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    for (bool on = cursor.FirstRow(); on && !cursor.GetEof(); on = cursor.NextRow()) {
      cursor.ReadRow(*row);
      std::vector<std::string> values;
      for (int32_t i = 0; i < columns.Count(); ++i)
        values.push_back(
            CellText(*row->Values.GetItem(columns.GetColumn(i)->GetTableColumn()->Index)));
      rows.push_back(std::move(values));
    }
    return rows;
  }

  // Prepares, executes and frees sql; its rows.
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    TBRNLocalStatementManager* statement = Prepare(sql);
    std::vector<std::vector<std::string>> rows;
    try {
      if (TBRNCursor* cursor = statement->ExecuteStatement()) rows = CursorRows(*cursor);
    } catch (...) {
      Free(statement);
      throw;
    }
    Free(statement);
    return rows;
  }

  TBRNLocalDatabaseManager* Shop = nullptr;
};

struct QueryTest : ::testing::Test, QueryWorkspace {};

}  // namespace brn::testing
