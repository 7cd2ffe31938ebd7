// The setup the session-level benchmarks share: a temporary folder removed
// with its contents, a database entry added to a session's configuration in
// memory, the columns of a benchmark table, and a new table's files
// created. Single-threaded, as the benchmarks are.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/table_manager.h"

namespace brn {

// A new folder "brn_bench_<name>_XXXXXX" in the system's temporary folder,
// removed with its contents at the end. Path ends with a separator.
struct BenchFolder {
  explicit BenchFolder(const std::string& name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("brn_bench_" + name + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = pattern + "/";
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;

  std::string Path;
};

// The session's handle of a new database entry name at path, added to its
// configuration in memory (not saved); with the default grants when
// defaultGrants. The session owns the handle.
inline TBRNLocalDatabaseManager* AddBenchDatabase(TBRNLocalSessionManager& session,
                                                  const std::string& name, const std::string& path,
                                                  bool defaultGrants) {
  TBRNConfig* config = session.Config.get();
  std::unique_ptr<TBRNDatabaseContainer> entry(
      TBRNDatabaseContainer::CreateOwned(config, config->SystemUser));
  entry->Name = name;
  entry->Path = path;
  if (defaultGrants) entry->ApplyDefaultGrants();
  config->Databases->AddObject(entry.get());
  return session.GetDatabaseManager(entry.release());
}

// A column name of type (with length when not 0) appended to table.
inline TBRNColumn* AddBenchColumn(TBRNCatalog& catalog, TBRNBaseTable* table,
                                  const std::string& name, TBRNDataTypeCode type, int32_t length) {
  auto column = std::make_unique<TBRNColumn>(&catalog);
  column->Name = name;
  column->SetDataType(type);
  if (length != 0) column->SetLength(length);
  table->Columns->AddObject(column.get());
  return column.release();
}

// The columns ID INTEGER and Name CHAR(20) appended to table.
inline void AddIdNameColumns(TBRNCatalog& catalog, TBRNBaseTable* table) {
  for (auto [name, type, length] : {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}})
    AddBenchColumn(catalog, table, name, type, length);
}

// The manager of table, a table of database whose files do not exist yet,
// opened with lockType after creating its files.
inline TBRNTableManager* CreateTableFiles(TBRNLocalDatabaseManager& database, TBRNBaseTable* table,
                                          uint8_t lockType) {
  auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
  manager->SetCreatingFiles(true);
  database.TableManagers->OpenManager(table, lockType);
  manager->SetCreatingFiles(false);
  return manager;
}

}  // namespace brn
