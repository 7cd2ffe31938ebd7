#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/types/data_types.h"
#include "storage/tables/table_environment.h"

namespace brn {

class TBRNBaseTable;
class TBRNCatalog;
class TBRNConfigObject;
class TBRNConfigObjects;
class TBRNLocalDatabaseManager;
class TBRNLocalSessionManager;
class TBRNVirtualTableManager;

// One column of a system table definition. Length is the declared length of
// a character column (0 for the other types); CaseInsensitive selects the
// binary collation with its case-insensitive flag.
struct TBRNSystemTableColumn {
  const char* Name;
  TBRNDataTypeCode DataType;
  TBRNDataSubType SubType = stDefault;
  int32_t Length = 0;
  int32_t Scale = 0;
  bool CaseInsensitive = false;
};

// One plain index of a system table definition, over the named columns.
struct TBRNSystemTableIndex {
  const char* Name;
  std::vector<const char*> Columns;
};

// The definition of one system table: its name (the one its collection
// class answers with GetSystemTableName), its columns after "__RowID" in
// order, and its indexes. Definitions are static data, one per class.
struct TBRNSystemTableDefinition {
  const char* Name;
  std::vector<TBRNSystemTableColumn> Columns;
  std::vector<TBRNSystemTableIndex> Indexes;
};

// The definition of the table that lists the members of collection (by its
// GetSystemTableName); nullptr when the class defines none.
const TBRNSystemTableDefinition* FindSystemTableDefinition(const TBRNConfigObjects& collection);

// Adds the storage settings, columns and indexes of definition to table,
// which already has its "__RowID" column and primary key (the table's
// CompleteDefinition calls this through its definition callback).
void DefineSystemTable(const TBRNSystemTableDefinition& definition, TBRNCatalog* catalog,
                       TBRNBaseTable* table);

// Fills the rows of one system table. The manager is open, inside its table
// transaction and emptied, and System is the current user; a producer
// inserts every row through InsertRowWithTriggers and may raise, which
// rolls the fill back.
using TBRNSystemTableProducer = std::function<void(TBRNVirtualTableManager&)>;

// The system tables registered in one database's catalog, with their
// producers and their filled and always-refresh marks. Owned by the
// database manager; used by the session's thread only.
class TBRNSystemTableRegistry {
 public:
  struct Entry {
    TBRNSystemTableKind Kind = TBRNSystemTableKind::None;
    TBRNSystemTableProducer Producer;
    bool AlwaysRefresh = false;
    bool Filled = false;
    // Set when a fill was refused: the table manager's mark that follows
    // the fill is then ignored and the table stays unfilled.
    bool FillRefused = false;
  };

  void Add(TBRNBaseTable* table, TBRNSystemTableKind kind, bool alwaysRefresh,
           TBRNSystemTableProducer producer);
  // nullptr for a table that is not registered here.
  Entry* Find(const TBRNConfigObject* table);
  // Forgets table (nothing when it is not registered).
  void Remove(const TBRNConfigObject* table);
  // Marks every table of kind, or the one named name of kind, as to be
  // filled again at its next use.
  void Invalidate(TBRNSystemTableKind kind);
  void Invalidate(TBRNSystemTableKind kind, const std::string& name);
  // The registered table named name of kind, nullptr when there is none.
  TBRNBaseTable* FindByName(TBRNSystemTableKind kind, const std::string& name) const;

 private:
  std::unordered_map<const TBRNConfigObject*, Entry> entries_;
  std::vector<TBRNBaseTable*> tables_;
};

// Registers a table of the "Default" schema of the session's
// "Configuration" database inside a catalog update: System and ReadOnly,
// defined on first lookup, with the smallest free lock number. A failure
// frees the new table, cancels the update and passes on. Inside a catalog
// update the caller opened, the table joins that update instead, and on a
// failure only the new table is freed: the caller cancels.
TBRNBaseTable* RegisterSystemTable(TBRNLocalSessionManager& session,
                                   const TBRNSystemTableDefinition& definition, bool alwaysRefresh,
                                   TBRNSystemTableProducer producer);
// Registers a System, Transient and ReadOnly table of database's
// "Information" schema, defined on first lookup; no catalog update.
TBRNBaseTable* AddInformationTable(TBRNLocalDatabaseManager& database,
                                   const TBRNSystemTableDefinition& definition, bool alwaysRefresh,
                                   TBRNSystemTableProducer producer);

// The Configuration tables of a session that are built, in their order,
// all in one catalog update: all of them are registered, or none (a
// failure takes every table of the call out again and passes on). Called
// by the session with its database entry made writable around it.
void RegisterConfigurationTables(TBRNLocalSessionManager& session);
// The 33 tables of database's "Information" schema, in their order, each
// registered undefined and unfilled.
void RegisterInformationTables(TBRNLocalDatabaseManager& database);

// ---- Configuration and server tables

// The always-refreshed tables of the server's state, registered in the
// session's Configuration database: "ServerSessions" (read from each
// session's published info, no session lock taken), "ServerSessionLocks"
// and "ServerSessionStatistics" (each other session locked for the time of
// its snapshot, 506 after 3000 tries 10 ms apart). They list the sessions
// that serve remote clients, so in an engine that has none they are empty.
void RegisterServerSessionsTable(TBRNLocalSessionManager& session);
void RegisterServerSessionLocksTable(TBRNLocalSessionManager& session);
void RegisterServerStatisticsTable(TBRNLocalSessionManager& session);

// ---- Information and ODBC tables

// The ODBC type table "SQLTypes" of the Configuration database: its
// definition, and its producer, which lists every entry of the session's
// data-type list for every user, with the date and time codes of the
// session's ODBC version. Registered with the other Configuration tables.
const TBRNSystemTableDefinition& ODBCTypesTableDefinition();
void ProduceODBCTypes(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager);

}  // namespace brn
