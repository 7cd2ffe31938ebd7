// The table list of the publishing and update-file commands.
#pragma once

#include <functional>
#include <vector>

namespace brn {

class TBRNBaseTable;
class TBRNLocalDatabaseManager;
class TBRNStringsList;

// The base tables named in names (each once), or every base table of the
// Default schema when names is empty, sorted by ID. A name that is not a
// table raises the catalog's not-found error; a name of a Temporary table
// is passed to temporary (which raises) or, without one, left out.
std::vector<TBRNBaseTable*> PublishingTables(TBRNLocalDatabaseManager& database,
                                             const TBRNStringsList& names,
                                             const std::function<void(TBRNBaseTable*)>& temporary);

}  // namespace brn
