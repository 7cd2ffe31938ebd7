#pragma once

#include <memory>
#include <string>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"

namespace brn::testing {

// A table of the catalog as far as columns and lock numbers need one (the
// table class itself comes later).
class CatalogTable : public TBRNPrivilegedCatalogObject,
                     public TBRNColumnsHolder,
                     public TBRNLockNumbered {
 public:
  CatalogTable(TBRNCatalog* catalog, const std::string& name, int32_t lockNumber = 0)
      : TBRNPrivilegedCatalogObject(catalog),
        Columns(std::make_unique<TBRNColumns>(catalog)),
        LockNumber(lockNumber) {
    Name = name;
    Columns->Owner = this;
  }

  std::unique_ptr<TBRNColumns> Columns;
  int32_t LockNumber;

  TBRNColumns* GetColumns() override { return Columns.get(); }
  int32_t GetLockNumber() const override { return LockNumber; }
  std::string GetObjectTypeName() const override { return "table"; }
  void SetTemporary(bool value) override {
    TBRNPrivilegedCatalogObject::SetTemporary(value);
    Columns->SetTemporary(value);
  }
  void RegisterReferenceTo(TBRNConfigObject* target) override {
    Columns->RegisterReferenceTo(target);
  }
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override {
    Columns->ReplaceReferencedName(target, newName);
  }
};

// A session's configuration with its parser and validator, and a catalog.
struct CatalogFixture {
  TBRNExprParser Parser;
  TBRNExprValidator Validator{false};
  TBRNConfig Config;
  std::unique_ptr<TBRNCatalog> Catalog;

  CatalogFixture() {
    Config.Parser = &Parser;
    Config.Validator = &Validator;
    Catalog = std::make_unique<TBRNCatalog>(&Config);
    Catalog->SetVersion(kNewestFormatVersion);
  }

  // A table added to the Default schema (owned by it).
  CatalogTable* AddTable(const std::string& name, int32_t lockNumber = 0) {
    auto table = std::make_unique<CatalogTable>(Catalog.get(), name, lockNumber);
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
};

// A new column of list, added to it, of the given type and length.
inline TBRNColumn* AddColumn(TBRNColumns& list, const std::string& name, TBRNDataTypeCode type,
                             int32_t length = 0) {
  auto column = std::make_unique<TBRNColumn>(list.Catalog);
  column->Name = name;
  column->SetDataType(type);
  if (length != 0) column->SetLength(length);
  list.AddObject(column.get());
  return column.release();
}

}  // namespace brn::testing
