// The system-table part of the database manager's table environment.
#include "foundation/locks/log_manager.h"
#include "foundation/text/collation.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

TBRNSystemTableKind TBRNLocalDatabaseManager::GetSystemTableKind(TBRNConfigObject* table) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(table);
  return entry == nullptr ? TBRNSystemTableKind::None : entry->Kind;
}

bool TBRNLocalDatabaseManager::IsSystemTableFilled(TBRNConfigObject* table) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(table);
  return entry == nullptr || entry->Filled;
}

void TBRNLocalDatabaseManager::SetSystemTableFilled(TBRNConfigObject* table, bool filled) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(table);
  if (entry == nullptr) return;
  if (filled && entry->FillRefused) {
    entry->FillRefused = false;
    return;
  }
  entry->Filled = filled;
}

bool TBRNLocalDatabaseManager::IsSystemTableRefreshable(TBRNConfigObject* table) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(table);
  return entry != nullptr && entry->AlwaysRefresh;
}

void TBRNLocalDatabaseManager::FillSystemTable(TBRNVirtualTableManager& manager) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(manager.GetCatalogObject());
  if (entry == nullptr) return;
  if (Session->RegisteringTables || Session->FillingTable || !entry->Producer) {
    entry->FillRefused = true;
    return;
  }
  entry->FillRefused = false;
  Session->FillingTable = true;
  struct Clear {
    bool& Flag;
    ~Clear() { Flag = false; }
  } clear{Session->FillingTable};
  entry->Producer(manager);
}

void TBRNLocalDatabaseManager::ReloadSystemSource(TBRNConfigObject* table) {
  TBRNSystemTableRegistry::Entry* entry = SystemTables.Find(table);
  if (entry == nullptr) return;
  if (entry->Kind == TBRNSystemTableKind::Information) {
    CatalogManager->BeginRead();
    CatalogManager->EndRead();
  } else if (TextEqualsIgnoreCase(table->Name, "LogEvents")) {
    if (Session->LogManager == nullptr) return;
    Session->LogManager->BeginRead();
    Session->LogManager->EndRead();
  } else {
    if (Session->ConfigManager == nullptr) return;
    Session->ConfigManager->BeginRead();
    Session->ConfigManager->EndRead();
  }
}

}  // namespace brn
