// A session logged in as the Administrator on an engine whose files live in
// fault-injecting memory, with the store "Backups" and databases whose
// tables are made through CREATE TABLE and filled with rows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/text/exception.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/columns.h"
#include "metadata/config/stores.h"
#include "sessions/backup/backup_file.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {

using Db = TBRNLocalDatabaseManager;

inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline TBRNStringsList Names(std::initializer_list<const char*> names) {
  TBRNStringsList list;
  for (const char* name : names) list.Add(name);
  return list;
}

// The code and message of what work raises; {0, ""} when it raises nothing.
template <typename Work>
std::pair<int32_t, std::string> Outcome(Work&& work) {
  try {
    work();
  } catch (const EBRNException& error) {
    return {error.ErrorCode, error.ErrorMessage};
  }
  return {0, ""};
}

struct BackupTest : ViewRoutineTest {
  static constexpr const char* kStorePath = "/config/Backups";

  void SetUp() override {
    Session->SetProgressTimeInterval(0);
    TBRNStore* store = Session->BeginCreateStore("Backups");
    store->SetStoreType(kLocalStore);
    store->SetPath(kStorePath);
    Session->EndCreateStore(store);
  }

  // The database name (entry and folder /config/<name>), open Shared, with
  // the tables T1 and T2 (ID INTEGER, Name CHAR(20)) made through CREATE
  // TABLE and holding rows: T1 the IDs 1 to t1Rows, T2 the IDs 101 to 100 +
  // t2Rows.
  Db& MakeDatabase(const std::string& name, int32_t t1Rows = 3, int32_t t2Rows = 2) {
    TBRNDatabaseContainer* entry = AddDatabase(*Session, name, "/config/" + name);
    entry->ApplyDefaultGrants();
    Db& database = *Session->GetDatabaseManager(entry);
    database.OpenDatabase(kBRNLockShared);
    CreateTable(database, "T1");
    CreateTable(database, "T2");
    std::vector<int32_t> first, second;
    for (int32_t i = 1; i <= t1Rows; ++i) first.push_back(i);
    for (int32_t i = 1; i <= t2Rows; ++i) second.push_back(100 + i);
    Insert(database, "T1", first);
    Insert(database, "T2", second);
    return database;
  }

  static void CreateTable(Db& database, const std::string& name) {
    TBRNBaseTable* table = database.CreateTable(name);
    try {
      for (auto [columnName, type, length] :
           {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
        auto column = std::make_unique<TBRNColumn>(database.Catalog.get());
        column->Name = columnName;
        column->SetDataType(type);
        if (length != 0) column->SetLength(length);
        table->Columns->AddObject(column.get());
        column.release();
      }
      database.CommitCreateTable(table);
    } catch (...) {
      database.RollbackCreateTable(table);
      throw;
    }
  }

  static TBRNBaseTable* Table(Db& database, const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        database.Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }

  // Appends rows with these IDs (the database open).
  static void Insert(Db& database, const std::string& name, const std::vector<int32_t>& ids) {
    TBRNBaseTable* table = Table(database, name);
    auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    for (int32_t id : ids) InsertRawRow(*manager, id, false);
    manager->Close(false, true);
  }

  // Deletes every row of the table (the database open).
  static void DeleteAll(Db& database, const std::string& name) {
    TBRNBaseTable* table = Table(database, name);
    auto* manager = static_cast<TBRNTableManager*>(
        database.TableManagers->OpenManager(table, kBRNLockTypeShared));
    manager->EmptyTable(true);
    manager->Close(false, true);
  }

  // The IDs of the table's rows, read through a fresh open (the database
  // is opened Shared for the read and closed again).
  static std::vector<int32_t> Rows(Db& database, const std::string& name) {
    database.OpenDatabase(kBRNLockShared);
    TBRNBaseTable* table = Table(database, name);
    auto* manager = static_cast<TBRNTableManager*>(
        database.TableManagers->OpenManager(table, kBRNLockTypeShared));
    std::vector<int32_t> ids = ReadRowIDs(*manager);
    manager->Close(false, true);
    database.CloseDatabase(false);
    return ids;
  }

  std::string StoreFile(const std::string& name) const {
    return std::string(kStorePath) + "/" + name;
  }
  bool StoreFileExists(const std::string& name) {
    return Engine.Faults->FileExists(StoreFile(name));
  }

  // Every table and catalog file of the database with its bytes (".Old"
  // copies left out unless withOld; lock files always).
  std::map<std::string, std::string> Files(Db& database, bool withOld = false) {
    std::map<std::string, std::string> found;
    const std::string catalog = database.GetCatalogFileName();
    const std::string catalogFolder = catalog.substr(0, catalog.find_last_of("\\/") + 1);
    for (const auto& file : Engine.Faults->Files) {
      if (file->Name.rfind(database.GetSchemaFolder(""), 0) != 0 &&
          file->Name.rfind(catalogFolder, 0) != 0)
        continue;
      if (EndsWith(file->Name, ".BRNLck")) continue;
      if (!withOld && EndsWith(file->Name, ".Old")) continue;
      std::string bytes = FileBytes(*Engine.Faults, file->Name);
      // A rewrite of the catalog advances the update counter of its header
      // even when the catalog is the same: the body tells.
      if (file->Name == catalog) bytes.erase(0, std::min<size_t>(bytes.size(), 56));
      found[file->Name] = std::move(bytes);
    }
    return found;
  }

  bool Backup(Db& database, const std::string& name, const TBRNStringsList& tables = {},
              int32_t compression = 6, bool includeCatalog = true, bool catalogOnly = false) {
    return database.BackupDatabase(name, "Backups", tables, "Nightly", compression,
                                   includeCatalog, catalogOnly, true);
  }
  bool Restore(Db& database, const std::string& name, const TBRNStringsList& tables = {},
               bool includeCatalog = false, bool catalogOnly = false) {
    return database.RestoreDatabase(name, "Backups", tables, includeCatalog, catalogOnly, false);
  }

  // The header of a backup file of the store.
  TBRNBackupHeader Header(const std::string& name) {
    std::unique_ptr<TBRNFileStream> stream =
        Engine.Faults->OpenFile(StoreFile(name), false, true, false);
    TBRNBackupHeader header;
    EXPECT_EQ(ReadBackupHeader(*stream, Session->SessionSettings->GetSignatureDigest(), header),
              TBRNBackupHeaderStatus::Valid);
    return header;
  }
  // Writes the backup target as a copy of source whose header change made.
  void RewriteHeader(const std::string& source, const std::string& target,
                     const std::function<void(TBRNBackupHeader&)>& change) {
    const std::string bytes = FileBytes(*Engine.Faults, StoreFile(source + ".BRNBkp"));
    TBRNBackupHeader header = Header(source + ".BRNBkp");
    change(header);
    TBRNMemoryStream written;
    header.Write(written);
    int32_t length = 0;
    std::memcpy(&length, bytes.data(), 4);
    ASSERT_EQ(written.GetSize(), length);
    WriteStoreFile(target + ".BRNBkp",
                   bytes.substr(0, 4) +
                       std::string(reinterpret_cast<const char*>(written.GetMemory()),
                                   size_t(length)) +
                       bytes.substr(4 + size_t(length)));
  }
  // Replaces a store file's bytes.
  void WriteStoreFile(const std::string& name, const std::string& bytes) {
    std::unique_ptr<TBRNFileStream> stream =
        Engine.Faults->CreateFile(StoreFile(name), true, false, false);
    stream->Write(bytes.data(), int32_t(bytes.size()));
  }
};

}  // namespace brn::testing
