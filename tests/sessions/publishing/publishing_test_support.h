// Databases for the publishing tests: a session logged in as Administrator
// on fault-injecting memory files, databases holding the tables Child and
// Parent (Child refers to Parent and comes first by ID), a store, row
// changes through the table managers, and a reader of published-update
// records written independently of the engine's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/locks/compression.h"
#include "foundation/text/string_list.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/config/stores.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "sessions/engine_settings.h"
#include "sessions/stores/local_store_manager.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_test_support.h"

namespace brn::testing {

using Db = TBRNLocalDatabaseManager;
using Values = std::vector<std::pair<std::string, std::string>>;

// An error raised by work, or a failure when none is.
template <typename Work>
EBRNException CaughtEngineError(Work&& work) {
  try {
    work();
  } catch (const EBRNException& error) {
    return error;
  }
  ADD_FAILURE() << "no engine error raised";
  return EBRNException(0, "");
}

inline TBRNStringsList Names(const std::vector<std::string>& names) {
  TBRNStringsList list;
  for (const std::string& name : names) list.Add(name);
  return list;
}

// One published-update record as the tests read it.
struct LoggedRecord {
  std::vector<std::string> Sites;
  int32_t Operation = 0;
  int64_t Timestamp = 0;
  std::vector<std::string> KeyColumns;
  std::vector<std::string> Columns;
};

// Little-endian record bytes, as an update file or a log holds them.
class RecordBytes {
 public:
  RecordBytes& Int32(int32_t value) { return raw(&value, sizeof value); }
  RecordBytes& Int64(int64_t value) { return raw(&value, sizeof value); }
  RecordBytes& Byte(uint8_t value) { return raw(&value, sizeof value); }
  RecordBytes& String(const std::string& value) {
    Int32(int32_t(value.size()));
    return raw(value.data(), value.size());
  }
  RecordBytes& IntegerEntry(const std::string& column, int32_t value) {
    String(column).Int32(dtInteger).Int32(0).Byte(0);
    return Int32(value);
  }
  RecordBytes& CharEntry(const std::string& column, const std::string& value) {
    String(column).Int32(dtChar).Int32(0).Byte(0);
    return String(value);
  }
  std::string& Text() { return bytes_; }

 private:
  RecordBytes& raw(const void* data, size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
    return *this;
  }
  std::string bytes_;
};

// The update record bytes with sites, operation (1-3), timestamp and the
// blocks already written into blocks.
inline std::string UpdateRecord(const std::vector<std::string>& sites, int32_t operation,
                                int64_t timestamp, const std::string& blocks) {
  RecordBytes record;
  record.Int32(int32_t(sites.size()));
  for (const std::string& site : sites) record.String(site);
  record.Int32(operation).Int64(timestamp);
  return record.Text() + blocks;
}

inline void LoadBytes(TBRNMemoryStream& stream, const std::string& bytes) {
  stream.SetSize(0);
  stream.SetPosition(0);
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
}

class PublishingTest : public ViewRoutineTest {
 protected:
  void SetUp() override {
    TBRNStore* store = Session->BeginCreateStore("Outbox");
    store->SetStoreType(kLocalStore);
    store->SetPath("/config/Outbox");
    Session->EndCreateStore(store);
  }

  // An open database name with the tables Child and Parent, files created.
  Db& MakeDatabase(const std::string& name) {
    TBRNDatabaseContainer* entry = AddDatabase(*Session, name, "/config/" + name);
    entry->ApplyDefaultGrants();
    Db& database = *Session->GetDatabaseManager(entry);
    database.OpenDatabase(kBRNLockShared);
    TBRNCatalog& catalog = *database.Catalog;
    database.CatalogManager->BeginUpdate();
    TBRNBaseTable* child = AddTableOf(catalog, "Child", {{"Code", dtInteger, 0},
                                                        {"ParentCode", dtInteger, 0},
                                                        {"Note", dtChar, 20}});
    TBRNBaseTable* parent = AddTableOf(catalog, "Parent", {{"Code", dtInteger, 0},
                                                          {"Name", dtChar, 20},
                                                          {"Amount", dtInteger, 0}});
    TBRNConstraint* parentKey = AddTableKey(parent, "PK_Parent", kConstraintPrimaryKey, {"Code"});
    AddTableKey(child, "PK_Child", kConstraintPrimaryKey, {"Code"});
    AddTableForeignKey(child, "FK_Child_Parent", {"ParentCode"}, parent, parentKey);
    for (TBRNBaseTable* table : {child, parent}) {
      table->Validate();
      table->UpdateStructureChecksum();
    }
    database.CatalogManager->CommitUpdate();
    CreateFiles(database, "Child");
    CreateFiles(database, "Parent");
    return database;
  }

  struct ColumnShape {
    std::string Name;
    TBRNDataTypeCode Type;
    int32_t Length;
  };
  static TBRNBaseTable* AddTableOf(TBRNCatalog& catalog, const std::string& name,
                                   const std::vector<ColumnShape>& columns) {
    auto table = std::make_unique<TBRNBaseTable>(&catalog);
    table->Name = name;
    table->AddRowIDColumn();
    for (const ColumnShape& shape : columns) {
      auto column = std::make_unique<TBRNColumn>(&catalog);
      column->Name = shape.Name;
      column->SetDataType(shape.Type);
      if (shape.Length != 0) column->SetLength(shape.Length);
      table->Columns->AddObject(column.get());
      column.release();
    }
    table->SetLockNumber(catalog.NextTableLockNumber());
    table->ApplyDefaultGrants();
    catalog.DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
  static TBRNColumn* ColumnOf(TBRNBaseTable* table, const std::string& name) {
    return static_cast<TBRNColumn*>(table->Columns->FindByName(name, true));
  }
  static TBRNBaseTable* TableOf(Db& database, const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        database.Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }
  static void CreateFiles(Db& database, const std::string& name) {
    TBRNBaseTable* table = TableOf(database, name);
    auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    manager->Close(false, true);
  }

  // A table's manager open for the scope.
  class OpenTable {
   public:
    OpenTable(Db& database, const std::string& name)
        : table_(TableOf(database, name)),
          manager_(static_cast<TBRNTableManager*>(
              database.TableManagers->OpenManager(table_, kBRNLockTypeShared))) {}
    ~OpenTable() { manager_->Close(false, true); }
    TBRNTableManager& operator*() const { return *manager_; }
    TBRNTableManager* operator->() const { return manager_; }

   private:
    TBRNBaseTable* table_;
    TBRNTableManager* manager_;
  };

  // Whether stored row n holds a row (not a deleted one).
  static bool Live(TBRNTableManager& manager, int32_t n) {
    TBRNRowsetRow* stored = manager.GetRow(n, false);
    const bool live = stored->Status != kRowDeleted;
    manager.ReleaseRow(stored);
    return live;
  }

  // A row of a table manager, set and read by column name.
  class Row {
   public:
    explicit Row(TBRNTableManager& manager)
        : manager_(manager),
          buffer_(manager.NewRowBuffer()),
          values_(std::make_unique<TBRNRowsetRowValues>(manager.GetColumns(), &manager)) {
      values_->SetRow(buffer_.get());
      values_->SetAllNull();
    }
    TBRNRowsetRowValues& Values() { return *values_; }
    void Set(const ::brn::testing::Values& values) {
      for (const auto& [name, text] : values) {
        values_->GetItem(ColumnOf(manager_.GetBaseTable(), name)->Index)->SetAsString(text);
      }
    }
    // The stored row whose Code is code; false when there is none.
    bool Find(int32_t code) {
      int32_t codeAt = ColumnOf(manager_.GetBaseTable(), "Code")->Index;
      for (int32_t n = 1; n <= manager_.GetRowsetManager()->GetBlockCount(); ++n) {
        if (!Live(manager_, n) || !manager_.ReadRowByNumber(n, *values_)) continue;
        if (values_->GetItem(codeAt)->GetAsInteger() == code) {
          RowNumber = n;
          return true;
        }
      }
      return false;
    }
    int32_t RowNumber = 0;

   private:
    TBRNTableManager& manager_;
    std::unique_ptr<TBRNRowsetRow> buffer_;
    std::unique_ptr<TBRNRowsetRowValues> values_;
  };

  static void Insert(Db& database, const std::string& table, const Values& values,
                     bool copying = false) {
    OpenTable manager(database, table);
    Row row(*manager);
    row.Set(values);
    int32_t number = 0, version = 0, counter = 0;
    manager->InsertRow(row.Values(), number, version, counter, copying);
  }
  static void Update(Db& database, const std::string& table, int32_t code, const Values& values) {
    OpenTable manager(database, table);
    Row row(*manager);
    ASSERT_TRUE(row.Find(code)) << table << " " << code;
    row.Values().ClearModified();
    row.Set(values);
    int32_t counter = 0;
    manager->UpdateRow(row.Values(), row.RowNumber, counter);
  }
  static void Delete(Db& database, const std::string& table, int32_t code) {
    OpenTable manager(database, table);
    Row row(*manager);
    ASSERT_TRUE(row.Find(code)) << table << " " << code;
    int32_t counter = 0;
    manager->DeleteRow(row.Values(), row.RowNumber, counter);
  }

  // Every row of the table as "column=value;..." over its non-internal
  // columns, sorted.
  static std::vector<std::string> Rows(Db& database, const std::string& table) {
    OpenTable manager(database, table);
    Row row(*manager);
    std::vector<std::string> rows;
    TBRNColumns* columns = manager->GetColumns();
    for (int32_t n = 1; n <= manager->GetRowsetManager()->GetBlockCount(); ++n) {
      if (!Live(*manager, n) || !manager->ReadRowByNumber(n, row.Values())) continue;
      std::string text;
      for (int32_t i = 0; i < columns->Count(); ++i) {
        if (columns->GetItem(i)->Internal) continue;
        const TBRNValue* value = row.Values().GetItem(i);
        text += columns->GetItem(i)->Name + "=" + (value->GetNull() ? "NULL" : value->GetAsString()) +
                ";";
      }
      rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // The records of the table's log, decoded here.
  static std::vector<LoggedRecord> Log(Db& database, const std::string& table) {
    OpenTable manager(database, table);
    std::vector<LoggedRecord> records;
    int32_t block = 1;
    for (;;) {
      TBRNMemoryStream record;
      int32_t first = block;
      manager->ReadPublishedUpdate(block, record, manager->GetBaseTable()->PublishCompression > 0);
      if (block == first) break;
      records.push_back(Decode(record));
    }
    return records;
  }
  static LoggedRecord Decode(TBRNMemoryStream& stream) {
    stream.SetPosition(0);
    LoggedRecord record;
    auto readString = [&] {
      std::string text;
      stream.ReadString(text);
      return text;
    };
    auto readBlock = [&](std::vector<std::string>& names) {
      int32_t count = stream.ReadInteger();
      for (int32_t i = 0; i < count; ++i) {
        names.push_back(readString());
        int32_t type = stream.ReadInteger();
        stream.ReadInteger();
        if (stream.ReadByte() != 0) continue;
        if (type == dtChar || type == dtBytes || type == dtLob) {
          stream.Seek(1, stream.ReadInteger());
        } else {
          stream.Seek(1, type == dtInteger ? 4 : 8);
        }
      }
    };
    int32_t sites = stream.ReadInteger();
    for (int32_t i = 0; i < sites; ++i) record.Sites.push_back(readString());
    record.Operation = stream.ReadInteger();
    record.Timestamp = stream.ReadInt64();
    if (record.Operation != 1) readBlock(record.KeyColumns);
    if (record.Operation != 3) readBlock(record.Columns);
    EXPECT_EQ(stream.GetPosition(), stream.GetSize()) << "bytes after the record";
    return record;
  }

  // Whether the database's folder holds the file name.
  bool TableFileExists(Db& database, const std::string& name) {
    const std::string catalog = database.GetCatalogFileName();
    return Engine.Faults->FileExists(catalog.substr(0, catalog.find_last_of("\\/") + 1) + name);
  }

  // The full name of the Outbox store's file name.
  std::string StorePath(const std::string& name) {
    auto* store = static_cast<TBRNStore*>(Session->Config->Stores->FindByName("Outbox", true));
    return static_cast<TBRNLocalStoreManager*>(Session->GetStoreManager(store))
        ->GetStoreFileName(name);
  }
  // The store's file name as bytes; empty when missing.
  std::string StoreFileBytes(const std::string& name) {
    return FileBytes(*Engine.Faults, StorePath(name));
  }
  bool StoreFileExists(const std::string& name) {
    return Engine.Faults->FileExists(StorePath(name));
  }
  void WriteStoreFile(const std::string& name, const std::string& bytes) {
    auto stream = Engine.Faults->CreateFile(StorePath(name), true, false, false);
    stream->Write(bytes.data(), int32_t(bytes.size()));
  }

  bool Save(const std::string& database, const std::string& update, int32_t compression = 0,
            bool skipWhenEmpty = false, const std::vector<std::string>& tables = {}) {
    return Session->SaveUpdates(database, update, "Outbox", Names(tables), "Changes", compression,
                                skipWhenEmpty);
  }
  bool Load(const std::string& database, const std::string& update, bool ignoreMissing = false,
            const std::vector<std::string>& tables = {}) {
    return Session->LoadUpdates(database, update, "Outbox", Names(tables), ignoreMissing);
  }
  void Publish(const std::string& database, int32_t columnMode = 0,
               const std::vector<std::string>& tables = {}) {
    Session->PublishDatabase(database, Names(tables), columnMode);
  }
};

}  // namespace brn::testing
