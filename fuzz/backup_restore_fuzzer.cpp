// RESTORE DATABASE of hostile backup files into a scratch database: every
// length, count, offset and size of the header and every chunk of the
// table data comes from the input.
//
// Input: a selector byte (bit 0: with the catalog; bit 1: the bytes patch a
// valid backup of the scratch database instead of standing alone), then
// either the file's bytes or patches (a 32-bit offset and a byte each).
// Properties: nothing crashes or leaks, the database is closed afterwards,
// and a restore that fails leaves the table with its rows as before (no
// half-read table, and with the catalog the table itself stays).
#include <cstddef>
#include <cstdint>
#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/files/memory_file_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "fuzz_support.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/stores.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/files/table_file_set.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// An engine whose files all live in its own memory.
class ScratchEngine : public TBRNEngineManager {
 public:
  ScratchEngine() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    return std::make_unique<TBRNMemoryFileManager>(Environment.get());
  }
};

// A logged-in session with the store "Backups" and the database D holding
// the table T1 (ID, Name) with the rows 1, 2 and 3.
struct Scratch {
  Scratch() {
    Session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    Session->OpenSession("fuzz", "Fuzz", "");
    Session->Login("Administrator", "GlenHarbor");
    TBRNStore* store = Session->BeginCreateStore("Backups");
    store->SetStoreType(kLocalStore);
    store->SetPath("/config/Backups");
    Session->EndCreateStore(store);

    TBRNConfig* config = Session->Config.get();
    std::unique_ptr<TBRNDatabaseContainer> entry(
        TBRNDatabaseContainer::CreateOwned(config, config->SystemUser));
    entry->Name = "D";
    entry->Path = "/config/D";
    entry->ApplyDefaultGrants();
    config->Databases->AddObject(entry.get());
    Database = Session->GetDatabaseManager(entry.release());
    Database->OpenDatabase(kBRNLockShared);
    TBRNBaseTable* table = Database->CreateTable("T1");
    try {
      for (auto [name, type, length] :
           {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
        auto column = std::make_unique<TBRNColumn>(Database->Catalog.get());
        column->Name = name;
        column->SetDataType(type);
        if (length != 0) column->SetLength(length);
        table->Columns->AddObject(column.get());
        column.release();
      }
      Database->CommitCreateTable(table);
    } catch (...) {
      Database->RollbackCreateTable(table);
      throw;
    }
    TBRNTableManager* manager = Open();
    for (int32_t id = 1; id <= 3; ++id) {
      auto buffer = manager->NewRowBuffer();
      TBRNRowsetRowValues values(manager->GetColumns(), manager);
      values.SetRow(buffer.get());
      values.SetAllNull();
      values.GetItem(0)->SetAsInteger(id);
      int32_t row = 0;
      int32_t counter = 0;
      TBRNTableOperation operation(manager->GetRowsetManager());
      manager->GetRowNavigator()->InsertRow(manager->GetRowsetManager()->NextVersion(), values,
                                            row, counter);
      operation.Commit();
      manager->FlushFiles(true);
    }
    manager->Close(false, true);
    Database->CloseDatabase(false);
  }

  TBRNTableManager* Open() {
    auto* table = static_cast<TBRNBaseTable*>(
        Database->Catalog->DefaultSchema->BaseTables->FindByName("T1", true));
    auto* manager = static_cast<TBRNTableManager*>(Database->TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    Database->TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    return manager;
  }

  // The IDs of T1's rows.
  std::vector<int32_t> Rows() {
    Database->OpenDatabase(kBRNLockShared);
    std::vector<int32_t> ids;
    TBRNTableManager* manager = Open();
    try {
      auto buffer = manager->NewRowBuffer();
      TBRNRowsetRowValues values(manager->GetColumns(), manager);
      values.SetRow(buffer.get());
      for (int32_t n = 1; n <= manager->GetRowsetManager()->GetBlockCount(); ++n) {
        if (manager->ReadRowByNumber(n, values)) ids.push_back(values.GetItem(0)->GetAsInteger());
      }
    } catch (...) {
      manager->Close(false, true);
      Database->CloseDatabase(false);
      throw;
    }
    manager->Close(false, true);
    Database->CloseDatabase(false);
    return ids;
  }

  ScratchEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session;
  TBRNLocalDatabaseManager* Database = nullptr;
};

std::string ReadFile(TBRNFileManager& files, const std::string& name) {
  auto stream = files.OpenFile(name, false, true, false);
  std::string bytes(size_t(stream->GetSize()), '\0');
  stream->Seek(0, 0);
  if (!bytes.empty()) stream->Read(bytes.data(), int32_t(bytes.size()));
  return bytes;
}

void WriteFile(TBRNFileManager& files, const std::string& name, const std::string& bytes) {
  auto stream = files.CreateFile(name, true, false, false);
  if (!bytes.empty()) stream->Write(bytes.data(), int32_t(bytes.size()));
}

// A valid backup of a fresh scratch database, with and without the catalog.
const std::string& ValidBackup(bool withCatalog) {
  static const std::array<std::string, 2> backups = [] {
    Scratch scratch;
    std::array<std::string, 2> made;
    for (size_t i = 0; i < made.size(); ++i) {
      scratch.Database->BackupDatabase("Valid", "Backups", TBRNStringsList(), "", 6, i == 1,
                                       false, true);
      made[i] = ReadFile(*scratch.Session->FileManager, "/config/Backups/Valid.BRNBkp");
    }
    return made;
  }();
  return backups[withCatalog ? 1 : 0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t selector = in.Byte();
  const bool withCatalog = (selector & 1) != 0;
  std::string bytes;
  if ((selector & 2) != 0) {
    bytes = ValidBackup(withCatalog);
    for (int i = 0; i < 64 && !in.Rest().empty(); ++i) {
      const uint32_t offset = in.Word32();
      const uint8_t value = in.Byte();
      if (!bytes.empty()) bytes[offset % bytes.size()] = char(value);
    }
  } else {
    bytes = std::string(in.Rest());
  }

  Scratch scratch;
  WriteFile(*scratch.Session->FileManager, "/config/Backups/Fuzz.BRNBkp", bytes);
  bool failed = false;
  try {
    scratch.Database->RestoreDatabase("Fuzz", "Backups", TBRNStringsList(), withCatalog, false,
                                      false);
  } catch (const EBRNException&) {
    failed = true;
  }
  if (scratch.Database->OpenCount != 0) Fail("the database stayed open");
  if (!failed) return 0;
  std::vector<int32_t> rows;
  try {
    rows = scratch.Rows();
  } catch (const EBRNException& error) {
    Fail("a failed restore left the table unreadable", error.ErrorMessage);
  }
  if (rows != std::vector<int32_t>{1, 2, 3}) Fail("a failed restore changed the table's rows");
  return 0;
}
