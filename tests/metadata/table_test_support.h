#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog_test_support.h"
#include "config_test_support.h"
#include "foundation/core/memory_stream.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/table_holder.h"
#include "metadata/catalog/triggers.h"

namespace brn::testing {

// A base table as far as indexes, constraints and triggers need one: its
// lists, its index page size, and the ID completion of its Validate.
class FakeTable : public TBRNPrivilegedCatalogObject, public TBRNTableHolder {
 public:
  FakeTable(TBRNCatalog* catalog, const std::string& name)
      : TBRNPrivilegedCatalogObject(catalog),
        Columns(std::make_unique<TBRNColumns>(catalog)),
        Indexes(std::make_unique<TBRNIndexes>(catalog)),
        Constraints(std::make_unique<TBRNConstraints>(catalog)),
        Triggers(std::make_unique<TBRNTriggers>(catalog)) {
    Name = name;
    Columns->Owner = this;
    Indexes->Owner = this;
    Constraints->Owner = this;
    Triggers->Owner = this;
  }
  ~FakeTable() override {
    // Members reach their table's lists while they go.
    Triggers.reset();
    Constraints.reset();
    Indexes.reset();
  }

  std::unique_ptr<TBRNColumns> Columns;
  std::unique_ptr<TBRNIndexes> Indexes;
  std::unique_ptr<TBRNConstraints> Constraints;
  std::unique_ptr<TBRNTriggers> Triggers;
  int32_t IndexPageSize = 1024;
  bool BaseTable = true;
  bool WorkingCopy = false;

  TBRNColumns* GetColumns() override { return Columns.get(); }
  bool IsBaseTable() const override { return BaseTable; }
  int32_t GetIndexPageSize() const override { return IndexPageSize; }
  TBRNIndexes* GetIndexes() override { return Indexes.get(); }
  TBRNConstraints* GetConstraints() override { return Constraints.get(); }
  TBRNTriggers* GetTriggers() override { return Triggers.get(); }
  bool IsWorkingCopy() const override { return WorkingCopy; }

  std::string GetObjectTypeName() const override { return "table"; }
  void SetTemporary(bool value) override {
    TBRNPrivilegedCatalogObject::SetTemporary(value);
    Columns->SetTemporary(value);
    Indexes->SetTemporary(value);
    Constraints->SetTemporary(value);
    Triggers->SetTemporary(value);
  }
  void Validate() override {
    TBRNPrivilegedCatalogObject::Validate();
    Constraints->CompleteTableID(ID);
    for (int32_t i = 0; i < Indexes->Count(); ++i) Indexes->GetItem(i)->Validate();
  }
  void RegisterReferenceTo(TBRNConfigObject* target) override {
    Columns->RegisterReferenceTo(target);
    Indexes->RegisterReferenceTo(target);
    Constraints->RegisterReferenceTo(target);
    Triggers->RegisterReferenceTo(target);
  }
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override {
    Columns->ReplaceReferencedName(target, newName);
    Constraints->ReplaceReferencedName(target, newName);
    Triggers->ReplaceReferencedName(target, newName);
  }
};

// A catalog with a collation-name lookup ("ANSI", "_CI" for bit 20).
struct TableFixture : CatalogFixture {
  TableFixture() {
    Config.Hooks.GetCollationName = [](int32_t collation, std::string& name) {
      name = (collation & (1 << 20)) != 0 ? "ANSI_CI" : "ANSI";
    };
  }

  // A table added to the Default schema (owned by it).
  FakeTable* AddFakeTable(const std::string& name) {
    auto table = std::make_unique<FakeTable>(Catalog.get(), name);
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
};

// Appends to list (the column entries of an index, constraint or trigger) an
// Entry for each of columns, in order. list is only dereferenced when columns
// is not empty: a check constraint has no column list.
template <typename Entry, typename ListPtr>
void AddColumnEntries(const ListPtr& list, const std::vector<TBRNColumn*>& columns) {
  for (TBRNColumn* column : columns) {
    std::unique_ptr<Entry> entry(static_cast<Entry*>(list->NewItem()));
    entry->SetColumn(column);
    list->AddObject(entry.get());
    entry.release();
  }
}

// Makes foreignKey reference key of target on columns.
inline void Reference(TBRNConstraint* foreignKey, TBRNConfigObject& target, TBRNConstraint* key,
                      const std::vector<TBRNColumn*>& columns) {
  foreignKey->SetTargetTable(&target);
  AddColumnEntries<TBRNConstraintColumn>(foreignKey->TargetTableColumns, columns);
  foreignKey->SetTargetConstraint(key);
}

// The full record of object.
inline std::vector<uint8_t> RecordOf(TBRNConfigObject& object, bool structureOnly = false) {
  TBRNMemoryStream stream;
  object.SaveToStream(stream, structureOnly);
  return StreamBytes(stream);
}

inline void LoadRecord(TBRNConfigObject& object, const std::vector<uint8_t>& bytes) {
  TBRNMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  object.LoadFromStream(stream);
}

}  // namespace brn::testing
