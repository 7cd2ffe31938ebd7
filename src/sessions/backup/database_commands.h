// The session's BACKUP DATABASE, RESTORE DATABASE and COMPARE DATABASE:
// the frame of the database-wide configuration commands (login check, a
// configuration read, the entry by name, refusal of a built-in database,
// status texts at stages 0, 1 and 2) around the database manager's
// operation (sessions/backup). Each answers false, after the stage 1 text,
// when the user stopped it. Used by the session's own thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brn {

class TBRNLocalSessionManager;

struct TBRNBackupOptions {
  std::string BackupName;  // AS
  std::string StoreName;   // TO STORE
  std::vector<std::string> TableNames;  // empty: every table
  std::string Description;
  int32_t Compression = 6;
  bool IncludeCatalog = false;
  bool CatalogOnly = false;  // INCLUDE CATALOG ONLY
  bool IncludePublishedUpdates = true;
};

struct TBRNRestoreOptions {
  std::string BackupName;  // FROM
  std::string StoreName;   // IN STORE
  std::vector<std::string> TableNames;
  bool IncludeCatalog = false;
  bool CatalogOnly = false;
  bool ResetPublished = false;  // RESET PUBLISHED TABLES
};

// Neither needs a writable configuration: both only read it.
bool BackupDatabaseCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                           const TBRNBackupOptions& options);
bool RestoreDatabaseCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                            const TBRNRestoreOptions& options);
// "COMPARE DATABASE <name> TO <target>" with the statement's terminator.
bool CompareDatabasesCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                             const std::string& targetName, char terminator);

}  // namespace brn
