#include "sessions/backup/database_commands.h"

#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

TBRNStringsList namesList(const std::vector<std::string>& names) {
  TBRNStringsList list;
  for (const std::string& name : names) list.Add(name);
  return list;
}

}  // namespace

bool BackupDatabaseCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                           const TBRNBackupOptions& options) {
  return session.RunDatabaseCommand(
      FormatText("BACKUP DATABASE %s", {databaseName}), false, databaseName,
      &TBRNLocalSessionManager::ReportBackupStatus, [&](TBRNLocalDatabaseManager& database) {
        return database.BackupDatabase(options.BackupName, options.StoreName,
                                       namesList(options.TableNames), options.Description,
                                       options.Compression, options.IncludeCatalog,
                                       options.CatalogOnly, options.IncludePublishedUpdates);
      });
}

bool RestoreDatabaseCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                            const TBRNRestoreOptions& options) {
  return session.RunDatabaseCommand(
      FormatText("RESTORE DATABASE %s", {databaseName}), false, databaseName,
      &TBRNLocalSessionManager::ReportRestoreStatus, [&](TBRNLocalDatabaseManager& database) {
        return database.RestoreDatabase(options.BackupName, options.StoreName,
                                        namesList(options.TableNames), options.IncludeCatalog,
                                        options.CatalogOnly, options.ResetPublished);
      });
}

bool CompareDatabasesCommand(TBRNLocalSessionManager& session, const std::string& databaseName,
                             const std::string& targetName, char terminator) {
  return session.RunDatabasePairCommand(
      FormatText("COMPARE DATABASE %s TO %s", {databaseName, targetName}), databaseName,
      targetName, [terminator](TBRNLocalDatabaseManager& database, TBRNLocalDatabaseManager& other) {
        return database.CompareDatabases(other, terminator);
      });
}

}  // namespace brn
