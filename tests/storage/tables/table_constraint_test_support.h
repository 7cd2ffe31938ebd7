// Tables with every kind of constraint and computed value for the tests of
// the row changes, and rows written and read through a table manager.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {

// A column of a constrained test table: its kind and its values' rules.
struct ConstrainedColumn {
  ConstrainedColumn(std::string name, bool notNull = false, std::string defaultText = {},
                    std::string generatedText = {}, bool identity = false)
      : Name(std::move(name)),
        NotNull(notNull),
        Default(std::move(defaultText)),
        Generated(std::move(generatedText)),
        Identity(identity) {}

  std::string Name;
  bool NotNull = false;
  std::string Default;    // DEFAULT expression text, empty: none
  std::string Generated;  // GENERATED expression text, empty: none
  bool Identity = false;  // GENERATED ALWAYS AS IDENTITY, seed 0, step 1
};

// Builds tables whose first column is the row identifier "__RowID" and
// whose other columns are INTEGER, with their keys and checks.
class ConstraintBuilder {
 public:
  explicit ConstraintBuilder(TestTableEnvironment& environment) : env(environment) {}

  TBRNBaseTable* AddTable(const std::string& name, const std::vector<ConstrainedColumn>& columns) {
    TBRNBaseTable* table = env.AddTable(name, {});
    table->AddRowIDColumn();
    for (const ConstrainedColumn& wanted : columns) {
      auto column = std::make_unique<TBRNColumn>(env.Catalog.get());
      column->Name = wanted.Name;
      column->SetDataType(dtInteger);
      column->SetNotNull(wanted.NotNull);
      if (!wanted.Default.empty()) {
        column->SetHasDefault(true);
        column->DefaultExpr->SetText(wanted.Default);
      }
      if (!wanted.Generated.empty()) {
        column->SetGenerated(true);
        column->GeneratedExpr->SetText(wanted.Generated);
      }
      if (wanted.Identity) {
        column->SetIdentity(true);
        column->SetIdentitySeed(0);
        column->SetIdentityIncrement(1);
      }
      table->Columns->AddObject(column.get());
      column.release();
    }
    return table;
  }
  // A primary key or unique constraint (type) with its enforcing index.
  TBRNConstraint* AddKey(TBRNBaseTable* table, const std::string& name, int32_t type,
                         const std::vector<std::string>& columns) {
    return AddTableKey(table, name, type, columns);
  }
  // A foreign key on columns of table referring to key of target, with its
  // own index, entered in the key's list of referring foreign keys.
  TBRNConstraint* AddForeignKey(TBRNBaseTable* table, const std::string& name,
                                const std::vector<std::string>& columns, TBRNBaseTable* target,
                                TBRNConstraint* key) {
    return AddTableForeignKey(table, name, columns, target, key);
  }
  // A check constraint; code and message replace the standard error when
  // code is not 0.
  TBRNConstraint* AddCheck(TBRNBaseTable* table, const std::string& name,
                           const std::string& condition, int32_t code = 0,
                           const std::string& message = std::string()) {
    TBRNConstraint* check = AddTableConstraint(table, name, kConstraintCheck, {});
    check->CheckExpr->SetText(condition);
    if (code != 0) {
      check->SetErrorCode(code);
      check->SetErrorMessage(message);
    }
    return check;
  }

 private:
  TestTableEnvironment& env;
};

// One row of a table manager: a buffer of its own with row values over it,
// read and set by column name.
class TestRow {
 public:
  explicit TestRow(TBRNTableManager& manager)
      : table(manager),
        buffer(manager.NewRowBuffer()),
        values(std::make_unique<TBRNRowsetRowValues>(manager.GetColumns(), &manager)) {
    values->SetRow(buffer.get());
    values->SetAllNull();
  }

  TBRNRowsetRowValues& Values() { return *values; }
  int32_t RowNumber = 0;
  int32_t RowVersion = 0;
  int32_t UpdateCounter = 0;

  TestRow& Set(const std::string& name, int32_t value) {
    values->GetItem(index(name))->SetAsInteger(value);
    return *this;
  }
  TestRow& SetNull(const std::string& name) {
    values->GetItem(index(name))->SetNull(true);
    return *this;
  }
  bool IsNull(const std::string& name) { return values->GetItem(index(name))->GetNull(); }
  int32_t Get(const std::string& name) { return values->GetItem(index(name))->GetAsInteger(); }

  void Insert() { table.InsertRow(*values, RowNumber, RowVersion, UpdateCounter, false); }
  // Reads stored row n into the buffer.
  bool Read(int32_t n) {
    if (!table.ReadRowByNumber(n, *values)) return false;
    TBRNRowsetRow* stored = table.GetRow(n, false);
    RowNumber = n;
    RowVersion = stored->Version;
    UpdateCounter = stored->UpdateCounter;
    table.ReleaseRow(stored);
    return true;
  }
  void Update() { table.UpdateRow(*values, RowNumber, UpdateCounter); }
  void Delete() { table.DeleteRow(*values, RowNumber, UpdateCounter); }

 private:
  int32_t index(const std::string& name) const {
    TBRNColumns* columns = table.GetColumns();
    for (int32_t i = 0; i < columns->Count(); ++i) {
      if (columns->GetItem(i)->Name == name) return i;
    }
    throw std::invalid_argument("no column " + name);
  }

  TBRNTableManager& table;
  std::unique_ptr<TBRNRowsetRow> buffer;
  std::unique_ptr<TBRNRowsetRowValues> values;
};

}  // namespace brn::testing
