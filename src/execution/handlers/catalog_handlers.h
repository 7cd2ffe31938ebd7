#pragma once

// The statements on the catalog objects of a database: CREATE, ALTER, DROP
// and RENAME of tables, views, indexes, text indexes, triggers, functions
// and procedures, ENABLE and DISABLE TRIGGER(S), and the definition helpers
// that turn the clauses of a statement node into the settings of a catalog
// object.
//
// CREATE statements fill a new definition and ALTER TABLE a working copy
// of the table; neither touches the stored catalog before the commit step
// of the database manager, and every failure before or in that step runs
// the matching rollback step, so a failed statement leaves the catalog and
// the table files as they were.
//
// Used by the session's thread only.

#include <functional>

#include "execution/evaluator/local_expr_evaluator.h"

namespace brn {

class TBRNBaseTable;
class TBRNExprToken;
class TBRNLocalDatabaseManager;

// The step of CREATE TABLE ... AS <query> WITH DATA that runs the query
// into the new table. It is called after the table (its columns defined
// from the query and renamed by the column list) has been committed, with
// the database, the committed table and the validated query node. When it
// raises, the table is dropped again and the error passes on. Query
// execution installs it; without one, the WITH DATA form is refused with
// 9999 before anything is created (WITH NO DATA needs no step).
using TBRNCreateTableQueryStep =
    std::function<void(TBRNLocalExprEvaluator& evaluator, TBRNLocalDatabaseManager& database,
                       TBRNBaseTable* table, TBRNExprToken* query)>;

// Installs step for every session and answers the previous one; an empty
// step removes it. Call before sessions run statements (not synchronised
// with running CREATE TABLE statements).
TBRNCreateTableQueryStep SetCreateTableQueryStep(TBRNCreateTableQueryStep step);

namespace handlers {

// Writes the CREATE, ALTER, DROP and RENAME entries of tables, views,
// indexes, text indexes (CREATE and ALTER only), triggers, functions and
// procedures, and ENABLE and DISABLE of triggers.
void FillCatalogObjectHandlers(TBRNStatementHandlers& handlers);

}  // namespace handlers
}  // namespace brn
