#pragma once

namespace brn {

class TBRNBaseTable;
class TBRNExprToken;
class TBRNLocalDatabaseManager;
class TBRNLocalExprEvaluator;

// The query step of CREATE TABLE ... AS <query> WITH DATA: runs the
// validated query on database with the committed table (its columns
// defined from the query) as the query's result table, which fills it.
// The table is left open to nobody afterwards. A failure passes on; the
// caller drops the table again. Used by the session's thread only.
void RunCreateTableQuery(TBRNLocalExprEvaluator& evaluator, TBRNLocalDatabaseManager& database,
                         TBRNBaseTable* table, TBRNExprToken* query);

}  // namespace brn
