#include "sessions/system_tables/system_tables.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "foundation/text/collation.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

// Storage settings shared by every system table: the engine's minimum
// buffers, since each session keeps its own copy of the rows.
constexpr int32_t kSystemBlobBlockSize = 64;
constexpr int32_t kSystemMaxRowBufferSize = 4096;
constexpr int32_t kSystemMaxIndexBufferSize = 8192;
constexpr int32_t kSystemMaxBlobBufferSize = 4096;

TBRNColumn* findColumn(TBRNBaseTable* table, const char* name) {
  return static_cast<TBRNColumn*>(table->Columns->FindByName(name, true));
}

TBRNBaseTable* newRegisteredTable(TBRNCatalog* catalog, const TBRNSystemTableDefinition& definition,
                                  bool transient) {
  auto table = std::make_unique<TBRNBaseTable>(catalog);
  table->DefinedOnDemand = true;
  table->SetSystem(true);
  if (transient) table->SetTransient(true);
  table->ReadOnly = true;
  table->Name = definition.Name;
  table->LoadedName = definition.Name;
  const TBRNSystemTableDefinition* shared = &definition;
  table->DefinitionCallback = [shared](TBRNCatalog* owner, TBRNBaseTable* target) {
    DefineSystemTable(*shared, owner, target);
  };
  return table.release();
}

}  // namespace

void DefineSystemTable(const TBRNSystemTableDefinition& definition, TBRNCatalog* catalog,
                       TBRNBaseTable* table) {
  table->SetBlobBlockSize(kSystemBlobBlockSize);
  table->SetMaxRowBufferSize(kSystemMaxRowBufferSize);
  table->SetMaxIndexBufferSize(kSystemMaxIndexBufferSize);
  table->SetMaxBlobBufferSize(kSystemMaxBlobBufferSize);
  for (const TBRNSystemTableColumn& wanted : definition.Columns) {
    auto column = std::make_unique<TBRNColumn>(catalog);
    column->Name = wanted.Name;
    column->SetDataType(wanted.DataType);
    if (wanted.SubType != stDefault) column->SetSubType(wanted.SubType);
    if (wanted.Length != 0) column->SetLength(wanted.Length);
    if (wanted.Scale != 0) column->SetScale(wanted.Scale);
    if (wanted.CaseInsensitive) column->SetCaseInsensitiveCollation(true);
    table->Columns->AddObject(column.get());
    column.release();
  }
  for (const TBRNSystemTableIndex& indexDefinition : definition.Indexes) {
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
    index->Name = indexDefinition.Name;
    index->SetIndexType(kIndexOrdinary);
    for (const char* columnName : indexDefinition.Columns) {
      TBRNColumn* column = findColumn(table, columnName);
      std::unique_ptr<TBRNIndexColumn> entry(
          static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
      entry->SetColumn(column);
      entry->SetCollation(column->Collation);
      index->Columns->AddObject(entry.get());
      entry.release();
    }
    table->Indexes->AddObject(index.get());
    index.release();
  }
}

// ---------------------------------------------------------------------------
// TBRNSystemTableRegistry

void TBRNSystemTableRegistry::Add(TBRNBaseTable* table, TBRNSystemTableKind kind,
                                  bool alwaysRefresh, TBRNSystemTableProducer producer) {
  Entry& entry = entries_[table];
  entry.Kind = kind;
  entry.Producer = std::move(producer);
  entry.AlwaysRefresh = alwaysRefresh;
  entry.Filled = false;
  tables_.push_back(table);
}

TBRNSystemTableRegistry::Entry* TBRNSystemTableRegistry::Find(const TBRNConfigObject* table) {
  auto found = entries_.find(table);
  return found == entries_.end() ? nullptr : &found->second;
}

void TBRNSystemTableRegistry::Remove(const TBRNConfigObject* table) {
  if (entries_.erase(table) == 0) return;
  tables_.erase(std::find(tables_.begin(), tables_.end(), table));
}

void TBRNSystemTableRegistry::Invalidate(TBRNSystemTableKind kind) {
  for (auto& [table, entry] : entries_) {
    if (entry.Kind == kind) entry.Filled = false;
  }
}

void TBRNSystemTableRegistry::Invalidate(TBRNSystemTableKind kind, const std::string& name) {
  TBRNBaseTable* table = FindByName(kind, name);
  if (table != nullptr) entries_[table].Filled = false;
}

TBRNBaseTable* TBRNSystemTableRegistry::FindByName(TBRNSystemTableKind kind,
                                                   const std::string& name) const {
  for (TBRNBaseTable* table : tables_) {
    if (entries_.at(table).Kind == kind && TextEqualsIgnoreCase(table->Name, name)) return table;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Registration

TBRNBaseTable* RegisterSystemTable(TBRNLocalSessionManager& session,
                                   const TBRNSystemTableDefinition& definition, bool alwaysRefresh,
                                   TBRNSystemTableProducer producer) {
  TBRNLocalDatabaseManager* database = session.ConfigurationDatabase;
  if (database == nullptr)
    throw std::logic_error("RegisterSystemTable: the Configuration database is not open");
  TBRNCatalog* catalog = database->Catalog.get();
  const bool ownUpdate = !database->CatalogManager->InUpdate;
  if (ownUpdate) database->CatalogManager->BeginUpdate();
  std::unique_ptr<TBRNBaseTable> table;
  TBRNBaseTable* added = nullptr;
  try {
    table.reset(newRegisteredTable(catalog, definition, false));
    table->SetLockNumber(catalog->NextTableLockNumber());
    catalog->DefaultSchema->BaseTables->AddObject(table.get());
    added = table.release();
    if (ownUpdate) database->CatalogManager->CommitUpdate();
  } catch (...) {
    if (added != nullptr) {
      catalog->DefaultSchema->BaseTables->RemoveObject(added->Index);
      table.reset(added);
    }
    if (ownUpdate) {
      try {
        database->CatalogManager->CancelUpdate();
      } catch (...) {
        // The registration's error is the one reported.
      }
    }
    throw;
  }
  database->SystemTables.Add(added, TBRNSystemTableKind::Configuration, alwaysRefresh,
                             std::move(producer));
  return added;
}

TBRNBaseTable* AddInformationTable(TBRNLocalDatabaseManager& database,
                                   const TBRNSystemTableDefinition& definition, bool alwaysRefresh,
                                   TBRNSystemTableProducer producer) {
  TBRNCatalog* catalog = database.Catalog.get();
  std::unique_ptr<TBRNBaseTable> table(newRegisteredTable(catalog, definition, true));
  catalog->InformationSchema->BaseTables->AddObject(table.get());
  TBRNBaseTable* added = table.release();
  database.SystemTables.Add(added, TBRNSystemTableKind::Information, alwaysRefresh,
                            std::move(producer));
  return added;
}

}  // namespace brn
