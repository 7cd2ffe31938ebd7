// Cursor streams loaded into a table through its local cursor: hostile
// block lengths, signatures, column counts and names, and row values.
//
// Input: the first byte chooses whether the table's own signature and column
// blocks come first (odd: the rest of the input is the row blocks), so that
// most inputs reach the rows. Properties: a load either inserts its rows or
// fails with the engine's error and leaves the table empty; nothing reads
// outside the stream or allocates more than the bytes present (libFuzzer's
// allocation limit). A loaded table is emptied for the next input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "execution/cursors/local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
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

// A session logged in, database "Fuzz" with the empty table Items (Code
// INTEGER primary key, Name CHAR(20), Notes CLOB, Amount DECIMAL), its
// manager open and a local cursor on it.
struct World {
  MemoryEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
  TBRNTableManager* Manager = nullptr;
  std::unique_ptr<TBRNCursor> Cursor;
  TBRNLocalCursor* Local = nullptr;
  // The signature and column blocks of the table's own stream.
  std::string Header;

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
    InstallLocalCursorFactory();
    Cursor = Manager->CreateCursor("Fuzz", false, false, false);
    Local = dynamic_cast<TBRNLocalCursor*>(Cursor.get());
    if (Local == nullptr) Fail("the table has no local cursor");
    // A valid stream of one row, whose header blocks prefix most inputs.
    TBRNMemoryStream rows;
    Local->SaveToStream(rows, false);
    Header.assign(reinterpret_cast<const char*>(rows.GetMemory()), size_t(rows.GetSize()));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  TBRNLocalCursor& cursor = *world->Local;
  Input in(data, size);
  const bool withHeader = (in.Byte() & 1) != 0;
  std::string bytes = withHeader ? world->Header : std::string();
  bytes += in.Rest();
  TBRNMemoryStream stream;
  FillStream(stream, bytes);
  bool loaded = false;
  try {
    cursor.LoadFromStream(stream, 0);
    loaded = true;
  } catch (const EBRNException&) {
    // Refused: nothing of the stream may stay.
  }
  if (stream.GetPosition() > stream.GetSize()) Fail("read past the end of the stream");
  if (!loaded && cursor.GetTotalRowCount() != 0) Fail("a refused load left rows");
  if (loaded) cursor.EmptyCursor(false);
  return 0;
}
