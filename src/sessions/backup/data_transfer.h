// MIGRATE FROM, IMPORT TABLE and EXPORT TABLE of a local database: the
// frames (order of steps, locks, flushes, status texts, stop and failure
// rules) around the work that SQL execution does through the registered
// data execution (sessions/backup/data_execution.h). Used by the thread of
// the session that owns the database manager.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sessions/backup/data_execution.h"

namespace brn {

class TBRNLocalDatabaseManager;
class TBRNParamValue;

// One parameter of MIGRATE FROM: the migrator parameter's name and the
// evaluation of the statement's expression into it.
struct TBRNMigrationParam {
  std::string Name;
  std::function<void(TBRNParamValue& target)> Evaluate;
};

// MIGRATE FROM migratorName: checks with "MIGRATE FROM <name>" (the database
// open and writable, no database transaction), the migrator opened with its
// parameters (a parameter it does not have raises 401) and closed at the
// end in every case; then the module's objects are created by running
// their statements in the module's order. A module with the single ordered
// object list: each object of the list, a table followed by its rows (with
// migrateData, when the statement made a table). Otherwise per kind: a
// table, its rows, its indexes and its triggers; then every view, function
// and procedure. Rows go in one
// table-level transaction per table, flushed after every
// GetRowCacheCapacity-th row and committed at the end (rolled back on
// failure); a stop through the progress commits the rows so far and ends
// the whole migration with false. Status texts on the database:
// "Migrating ...", then "... migrated successfully" or the failure text.
bool MigrateDatabase(TBRNLocalDatabaseManager& database, const std::string& migratorName,
                     const std::vector<TBRNMigrationParam>& params, bool migrateData);

// The table and file of IMPORT TABLE and EXPORT TABLE.
struct TBRNTransferRequest {
  std::string SchemaName;  // "" for the Default schema
  std::string TableName;
  std::string FileName;  // a bare file name of the store
  std::string StoreName;
  TBRNTransferFormat Format;
};

// IMPORT TABLE: the store file opened for reading, then a cursor on the
// table that must not be read-only (403 naming "IMPORT TABLE <table>",
// before any byte of the file is read) nor, unless the current user is
// System, a System table; "Importing ..." status; the cursor's import.
// Stopped: the read is cancelled and the failure text reported (false).
bool ImportTable(TBRNLocalDatabaseManager& database, const TBRNTransferRequest& request);
// EXPORT TABLE: the store file begun for writing, a read-only cursor on the
// table, "Exporting ..."; a stopped or failed export deletes the partial
// file.
bool ExportTable(TBRNLocalDatabaseManager& database, const TBRNTransferRequest& request);

}  // namespace brn
