#include "execution/handles/database_script.h"

#include "metadata/catalog/catalog.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNDatabaseScript::TBRNDatabaseScript(TBRNLocalDatabaseManager& database)
    : TBRNScriptRoutine(database.Database) {
  SetCatalog(database.Catalog.get());
  User = database.Session->CurrentUser;
}

void TBRNDatabaseScript::TextChanged() {
  // The script belongs to no catalog object: nothing is marked modified.
  TBRNCompiledExpr::TextChanged();
}

}  // namespace brn
