// Single published-update records applied to a table by primary key: hostile
// site counts, strings, operations, column counts, type codes and value
// lengths, inside and around the int32 length that frames each record.
//
// Input: the bytes of a stream of records, applied with a byte count of
// the input's size (the first byte chooses whether missing rows are
// ignored). Properties: a record either applies or fails with error 1305
// (never another error, a crash or a read outside the record), and the
// table's rows stay readable; each input is rolled back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/files/memory_file_manager.h"
#include "fuzz_support.h"
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
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

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

TBRNColumn* addColumn(TBRNCatalog& catalog, TBRNBaseTable* table, const char* name,
                      TBRNDataTypeCode type, int32_t length) {
  auto column = std::make_unique<TBRNColumn>(&catalog);
  column->Name = name;
  column->SetDataType(type);
  if (length != 0) column->SetLength(length);
  table->Columns->AddObject(column.get());
  return column.release();
}

// A session logged in, database "Fuzz" with table Items (Code INTEGER
// primary key, Name CHAR(20), Notes CLOB, Amount DECIMAL) holding one row,
// its manager open.
struct World {
  MemoryEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
  TBRNTableManager* Manager = nullptr;

  World() {
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
    auto buffer = Manager->NewRowBuffer();
    TBRNRowsetRowValues row(Manager->GetColumns(), Manager);
    row.SetRow(buffer.get());
    row.SetAllNull();
    row.GetItem(1)->SetAsInteger(1);
    row.GetItem(2)->SetAsString("one");
    int32_t number = 0, version = 0, counter = 0;
    Manager->InsertRow(row, number, version, counter, false);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  TBRNTableManager& manager = *world->Manager;
  Input in(data, size);
  const bool ignoreMissing = (in.Byte() & 1) != 0;
  TBRNMemoryStream stream;
  FillStream(stream, in.Rest());
  manager.StartTransaction();
  try {
    manager.ApplyUpdateRecords(stream, ignoreMissing, stream.GetSize());
  } catch (const EBRNException& error) {
    if (error.ErrorCode != 1305) Fail("an error other than 1305", error.ErrorMessage);
  }
  if (stream.GetPosition() > stream.GetSize()) Fail("read past the end of the stream");
  manager.RollbackTransaction();
  // The stored row is still there and readable.
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues row(manager.GetColumns(), &manager);
  row.SetRow(buffer.get());
  if (!manager.ReadRowByNumber(1, row) || row.GetItem(1)->GetAsInteger() != 1) {
    Fail("the stored row was lost");
  }
  return 0;
}
