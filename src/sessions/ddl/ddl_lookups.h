// Lookups and small steps shared by the catalog statements on tables,
// indexes and triggers. Used by the thread of the session that owns the
// database manager.
#pragma once

#include <string>

namespace brn {

class TBRNBaseTable;
class TBRNConfigObject;
class TBRNLocalDatabaseManager;
class TBRNTableManager;

// A table by name: the session's temporary tables first, then the base
// tables visible to the current user (401 when missing).
TBRNBaseTable* FindDdlTable(TBRNLocalDatabaseManager& database, const std::string& name);
// A base table visible to the current user (401 when missing); temporary
// tables are not found.
TBRNBaseTable* FindStoredTable(TBRNLocalDatabaseManager& database, const std::string& name);
// The change lives in this session's catalog only (a Transient or
// Temporary object).
bool IsSessionOnly(const TBRNConfigObject* object);
// The table's registered manager (made when none).
TBRNTableManager& TableManagerOf(TBRNLocalDatabaseManager& database, TBRNBaseTable* table);
// Marks the Information table of that name for a rebuild (nothing when it
// is not registered).
void InvalidateInformationTable(TBRNLocalDatabaseManager& database, const std::string& name);

}  // namespace brn
