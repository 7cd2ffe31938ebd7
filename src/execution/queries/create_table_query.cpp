#include "execution/queries/create_table_query.h"

#include <stdexcept>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/query_manager.h"
#include "sessions/databases/local_database_manager.h"

namespace brn {

void RunCreateTableQuery(TBRNLocalExprEvaluator& evaluator, TBRNLocalDatabaseManager& database,
                         TBRNBaseTable* table, TBRNExprToken* query) {
  if (table == nullptr || query == nullptr)
    throw std::invalid_argument("CREATE TABLE ... AS needs the table and its query");
  TBRNQueryManager manager(evaluator, query);
  // Names in the query resolve in the database the table was created in.
  manager.Context->SetDatabaseManager(&database);
  manager.PredefinedDefinition = table;
  manager.FillPredefined = true;
  manager.Prepare();
  bool built = false;
  TBRNCursor* cursor = nullptr;
  manager.ExecuteQuery(false, std::string(), false, built, cursor, false, false);
  // The manager's end closes the table; the tree's run-time values go with
  // the statement.
}

}  // namespace brn
