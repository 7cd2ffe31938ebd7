// What the publishing and update-file commands share: the database open
// for one command, and their table list.
#pragma once

#include <functional>
#include <vector>

namespace brn {

class TBRNBaseTable;
class TBRNLocalDatabaseManager;
class TBRNStringsList;

// The database opened Shared for the length of one command; closed at the
// end, where a failure to close is dropped (the command's own error, if
// any, is the one reported).
class TOpenDatabase {
 public:
  explicit TOpenDatabase(TBRNLocalDatabaseManager& database);
  ~TOpenDatabase();
  TOpenDatabase(const TOpenDatabase&) = delete;
  TOpenDatabase& operator=(const TOpenDatabase&) = delete;

 private:
  TBRNLocalDatabaseManager& database_;
};

// The base tables named in names (each once), or every base table of the
// Default schema when names is empty, sorted by ID. A name that is not a
// table raises the catalog's not-found error; a name of a Temporary table
// is passed to temporary (which raises) or, without one, left out.
std::vector<TBRNBaseTable*> PublishingTables(TBRNLocalDatabaseManager& database,
                                             const TBRNStringsList& names,
                                             const std::function<void(TBRNBaseTable*)>& temporary);

}  // namespace brn
