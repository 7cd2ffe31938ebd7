#include "execution/handles/database_statement.h"

#include "metadata/catalog/catalog.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

TBRNDatabaseStatement::TBRNDatabaseStatement(TBRNLocalDatabaseManager& database)
    : TBRNCatalogStatement(database.Database) {
  SetCatalog(database.Catalog.get());
  User = database.Session->CurrentUser;
}

TBRNParseFlags TBRNDatabaseStatement::GetParseFlags() const {
  // A statement's own SELECT may assign its first row INTO dynamic
  // parameters; the parser clears the flag for every nested query.
  return kCatalogStatementFlags | pcDynamicParams | pcSubqueryParams | pcDatabaseQualifier |
         pcInto;
}

void TBRNDatabaseStatement::TextChanged() {
  TBRNCompiledExpr::TextChanged();
}

}  // namespace brn
