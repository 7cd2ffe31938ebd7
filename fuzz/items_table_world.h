// The set-up the fuzzers over one keyed table share: an engine whose files
// live in memory, a session logged in, the database "Fuzz" and its table
// Items (Code INTEGER primary key, Name CHAR(20), Notes CLOB, Amount
// DECIMAL), empty, its manager open. Built once per fuzzer process and used
// from its one thread.
#pragma once

#include <memory>

#include "foundation/files/memory_file_manager.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager.h"

namespace brn::fuzz {

class MemoryEngine : public TBRNEngineManager {
 public:
  MemoryEngine() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    return std::make_unique<TBRNMemoryFileManager>(Environment.get());
  }
};

struct ItemsTableWorld {
  MemoryEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
  TBRNTableManager* Manager = nullptr;

  ItemsTableWorld() {
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("host", "Fuzz", "");
    Session->Login("Administrator", "GlenHarbor");
    TBRNConfig* config = Session->Config.get();
    std::unique_ptr<TBRNDatabaseContainer> entry(
        TBRNDatabaseContainer::CreateOwned(config, config->SystemUser));
    entry->Name = "Fuzz";
    entry->Path = "/config/Fuzz";
    config->Databases->AddObject(entry.get());
    Database = Session->GetDatabaseManager(entry.release());
    Database->OpenDatabase(kBRNLockShared);
    TBRNCatalog& catalog = *Database->Catalog;
    Database->CatalogManager->BeginUpdate();
    auto table = std::make_unique<TBRNBaseTable>(&catalog);
    table->Name = "Items";
    table->AddRowIDColumn();
    TBRNColumn* code = addColumn(catalog, table.get(), "Code", dtInteger, 0);
    addColumn(catalog, table.get(), "Name", dtChar, 20);
    TBRNColumn* notes = addColumn(catalog, table.get(), "Notes", dtLob, 0);
    notes->SetSubType(stClob);
    addColumn(catalog, table.get(), "Amount", dtDecimal, 0);
    std::unique_ptr<TBRNConstraint> key(static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
    key->Name = "PK_Items";
    key->SetConstraintType(kConstraintPrimaryKey);
    std::unique_ptr<TBRNConstraintColumn> keyColumn(
        static_cast<TBRNConstraintColumn*>(key->Columns->NewItem()));
    keyColumn->SetColumn(code);
    key->Columns->AddObject(keyColumn.release());
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
    index->Name = "PK_Items";
    index->SetIndexType(kIndexPrimaryKey);
    std::unique_ptr<TBRNIndexColumn> indexColumn(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    indexColumn->SetColumn(code);
    index->Columns->AddObject(indexColumn.release());
    TBRNConstraint* keyAdded = key.get();
    table->Constraints->AddObject(key.release());
    TBRNIndex* indexAdded = index.get();
    table->Indexes->AddObject(index.release());
    indexAdded->SetOwnerConstraint(keyAdded);
    keyAdded->SetEnforcingIndex(indexAdded);
    table->SetLockNumber(catalog.NextTableLockNumber());
    TBRNBaseTable* added = table.get();
    catalog.DefaultSchema->BaseTables->AddObject(table.release());
    added->Validate();
    added->UpdateStructureChecksum();
    Database->CatalogManager->CommitUpdate();
    Manager = static_cast<TBRNTableManager*>(Database->TableManagers->GetManager(added));
    Manager->SetCreatingFiles(true);
    Database->TableManagers->OpenManager(added, kBRNLockTypeShared);
    Manager->SetCreatingFiles(false);
    Manager->CheckPrimaryKey();
  }

 private:
  static TBRNColumn* addColumn(TBRNCatalog& catalog, TBRNBaseTable* table, const char* name,
                               TBRNDataTypeCode type, int32_t length) {
    auto column = std::make_unique<TBRNColumn>(&catalog);
    column->Name = name;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    table->Columns->AddObject(column.get());
    return column.release();
  }
};

}  // namespace brn::fuzz
