// The statements on whole databases and tables: each reads its clauses,
// fills in what the statement leaves open, calls one session or database
// operation and, for the session's database-wide commands, writes an
// Information event describing what was done.

#include "execution/handlers/database_handlers.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "execution/handlers/handler_frame.h"
#include "foundation/locks/log_manager.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "foundation/values/value.h"
#include "sessions/backup/data_transfer.h"
#include "sessions/backup/database_commands.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_operations.h"

namespace brn {
namespace handlers {

namespace {

constexpr int32_t kInformationCategory = 0;
// The compression of backups and update files when none is given.
constexpr int32_t kDefaultCompression = 6;
// The lock a qualified IMPORT or EXPORT opens its database with (Shared).
constexpr uint8_t kSharedDatabaseLock = 1;

const char* yesNo(bool flag) {
  return flag ? "Yes" : "No";
}

// The names of a TABLES list; empty when the clause is absent (every table).
std::vector<std::string> tableNames(const TBRNExprToken* list) {
  std::vector<std::string> names;
  if (list == nullptr) return names;
  for (const TBRNExprToken* table : list->Arguments()) names.push_back(table->Name);
  return names;
}

TBRNStringsList stringsList(const std::vector<std::string>& names) {
  TBRNStringsList list;
  list.AssignStrings(names);
  return list;
}

// The table list of an Information text.
std::string tableListText(const std::vector<std::string>& names) {
  if (names.empty()) return "All Tables";
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

void writeInformation(TBRNLocalExprEvaluator& evaluator, int32_t operation,
                      const std::string& text) {
  SessionOf(evaluator).WriteLogEvent(kInformationCategory, operation, 0, text);
}

// DESCRIPTION: its text, empty when absent.
std::string descriptionOf(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  return clause != nullptr ? ClauseText(evaluator, clause) : std::string();
}

// COMPRESSION: the level and the text the Information event shows.
struct TCompression {
  int32_t Level = kDefaultCompression;
  std::string Text = "6";
};

TCompression compressionOf(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause) {
  TCompression compression;
  if (clause == nullptr) return compression;
  evaluator.Evaluate(clause);
  if (clause->Value == nullptr) throw std::logic_error("The clause has no value");
  compression.Level = clause->Value->GetAsInteger();
  compression.Text = clause->Value->GetAsString();
  return compression;
}

// The first character of a one-character clause; an empty text is refused
// with the clause's name, as there is no character to take.
char clauseChar(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause, const char* name) {
  const std::string text = ClauseText(evaluator, clause);
  if (text.empty())
    throw EBRNException(kBRNClauseErrorCode,
                        FormatText("An error occurred with the %s %s (%s)",
                                   {"clause", name, "The clause cannot be empty"}));
  return text[0];
}

// ---- Backup, restore, updates and publishing.

void backupDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  TBRNBackupOptions options;
  options.BackupName = ChildName(node, 1);
  options.StoreName = ChildName(node, 2);
  options.TableNames = tableNames(Child(node, 3));
  options.Description = descriptionOf(evaluator, Child(node, 4));
  const TCompression compression = compressionOf(evaluator, Child(node, 5));
  options.Compression = compression.Level;
  options.IncludeCatalog = Child(node, 6) != nullptr;
  options.CatalogOnly = Child(node, 7) != nullptr;
  options.IncludePublishedUpdates = Child(node, 8) == nullptr;
  BackupDatabaseCommand(SessionOf(evaluator), database, options);
  writeInformation(
      evaluator, StatementFailure(opBackup),
      FormatText("Database: %s Backup Name: %s Destination: %s Tables: %s Description: %s "
                 "Compression: %s Catalog Included: %s Published Updates Excluded: %s",
                 {database, options.BackupName, options.StoreName,
                  tableListText(options.TableNames), options.Description, compression.Text,
                  yesNo(options.IncludeCatalog), yesNo(!options.IncludePublishedUpdates)}));
}

void restoreDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  TBRNRestoreOptions options;
  options.BackupName = ChildName(node, 1);
  options.StoreName = ChildName(node, 2);
  options.TableNames = tableNames(Child(node, 3));
  options.IncludeCatalog = Child(node, 4) != nullptr;
  options.CatalogOnly = Child(node, 5) != nullptr;
  options.ResetPublished = Child(node, 6) != nullptr;
  RestoreDatabaseCommand(SessionOf(evaluator), database, options);
  writeInformation(evaluator, StatementFailure(opRestore),
                   FormatText("Database: %s Backup Name: %s Destination: %s Tables: %s Catalog "
                              "Included: %s Published Tables Reset: %s",
                              {database, options.BackupName, options.StoreName,
                               tableListText(options.TableNames), yesNo(options.IncludeCatalog),
                               yesNo(options.ResetPublished)}));
}

void saveUpdates(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  const std::string updates = ChildName(node, 1);
  const std::string store = ChildName(node, 2);
  const std::vector<std::string> tables = tableNames(Child(node, 3));
  const std::string description = descriptionOf(evaluator, Child(node, 4));
  const TCompression compression = compressionOf(evaluator, Child(node, 5));
  SessionOf(evaluator).SaveUpdates(database, updates, store, stringsList(tables), description,
                                   compression.Level, Child(node, 6) != nullptr);
  writeInformation(
      evaluator, StatementFailure(opSaveUpdates),
      FormatText("Database: %s Updates Name: %s Destination: %s Tables: %s "
                 "Description: %s Compression: %s",
                 {database, updates, store, tableListText(tables), description, compression.Text}));
}

void loadUpdates(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  const std::string updates = ChildName(node, 1);
  const std::string store = ChildName(node, 2);
  const std::vector<std::string> tables = tableNames(Child(node, 3));
  SessionOf(evaluator).LoadUpdates(database, updates, store, stringsList(tables),
                                   Child(node, 4) != nullptr);
  writeInformation(evaluator, StatementFailure(opLoadUpdates),
                   FormatText("Database: %s Updates Name: %s Destination: %s Tables: %s",
                              {database, updates, store, tableListText(tables)}));
}

void publishDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  const std::vector<std::string> tables = tableNames(Child(node, 1));
  const TBRNExprToken* by = Child(node, 2);
  SessionOf(evaluator).PublishDatabase(database, stringsList(tables),
                                       by != nullptr ? by->Variant : 0);
  writeInformation(evaluator, StatementFailure(opPublish),
                   FormatText("Database: %s Tables: %s", {database, tableListText(tables)}));
}

void unpublishDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const std::string database = ChildName(node, 0);
  const std::vector<std::string> tables = tableNames(Child(node, 1));
  SessionOf(evaluator).UnpublishDatabase(database, stringsList(tables));
  writeInformation(evaluator, StatementFailure(opUnpublish),
                   FormatText("Database: %s Tables: %s", {database, tableListText(tables)}));
}

// ---- Comparison, migration and table maintenance.

void compareDatabases(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNExprToken* term = Child(node, 2);
  const char terminator =
      term != nullptr ? clauseChar(evaluator, term, "STATEMENT TERM CHAR") : '!';
  CompareDatabasesCommand(SessionOf(evaluator), ChildName(node, 0), ChildName(node, 1), terminator);
}

void migrateDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  std::vector<TBRNMigrationParam> params;
  if (const TBRNExprToken* list = Child(node, 1)) {
    for (TBRNExprToken* assignment : list->Arguments()) {
      TBRNExprToken* value = assignment->Right();
      params.push_back({assignment->Left()->Name, [&evaluator, value](TBRNParamValue& target) {
                          evaluator.Evaluate(value);
                          if (value->Value == nullptr)
                            throw std::logic_error("The clause has no value");
                          target.AssignConverting(*value->Value);
                        }});
    }
  }
  MigrateDatabase(DatabaseOf(evaluator), ChildName(node, 0), params, Child(node, 2) != nullptr);
}

void setStatementResult(TBRNLocalExprEvaluator& evaluator, bool result) {
  if (TBRNEvaluatorContext* context = evaluator.GetEvaluatorContext())
    context->StatementResult = result;
}

void verifyTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  setStatementResult(
      evaluator, DatabaseOf(evaluator).VerifyTable(ChildName(node, 0), Child(node, 1) != nullptr));
}

// STATISTICS is accepted and not passed on: the repair has no use for it.
void repairTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  setStatementResult(
      evaluator, DatabaseOf(evaluator).RepairTable(ChildName(node, 0), Child(node, 1) != nullptr));
}

void optimizeTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).OptimizeTable(ChildName(node, 0), ChildName(node, 1));
}

void emptyTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).EmptyTable(ChildName(node, 0), Child(node, 1) != nullptr);
}

// ---- IMPORT and EXPORT.

TBRNTransferRequest transferRequest(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  const TBRNExprToken* table = Child(node, 0);
  if (table == nullptr) throw std::logic_error("An IMPORT or EXPORT statement lacks its table");
  TBRNTransferRequest request;
  request.SchemaName = table->SchemaName;
  request.TableName = table->Name;
  request.FileName = ChildName(node, 1);
  request.StoreName = ChildName(node, 2);
  TBRNTransferFormat& format = request.Format;
  if (const TBRNExprToken* columns = Child(node, 3))
    for (const TBRNExprToken* column : columns->Arguments())
      format.ColumnNames.push_back(column->Name);
  const TBRNExprToken* encoding = Child(node, 4);
  const int32_t encodingCode = encoding != nullptr ? encoding->Variant : -1;
  format.Encoding = encodingCode == 0 ? "ANSI" : encodingCode == 1 ? "UNICODE" : "AUTO";
  format.Format = node->Variant == 1 ? "XML" : "DELIMITED";
  if (TBRNExprToken* clause = Child(node, 5))
    format.DelimiterChar = clauseChar(evaluator, clause, "DELIMITER CHAR");
  if (TBRNExprToken* clause = Child(node, 6)) {
    // An empty quote text means values are not quoted.
    const std::string quote = ClauseText(evaluator, clause);
    format.QuoteChar = quote.empty() ? '\0' : quote[0];
  }
  if (TBRNExprToken* clause = Child(node, 7)) format.DateFormat = ClauseText(evaluator, clause);
  if (TBRNExprToken* clause = Child(node, 8)) {
    format.TimeFormat = ClauseText(evaluator, clause);
    if (TBRNExprToken* am = Child(clause, 0)) format.AMText = ClauseText(evaluator, am);
    if (TBRNExprToken* pm = Child(clause, 1)) format.PMText = ClauseText(evaluator, pm);
  }
  if (TBRNExprToken* clause = Child(node, 9))
    format.DecimalChar = clauseChar(evaluator, clause, "DECIMAL CHAR");
  if (TBRNExprToken* clause = Child(node, 10)) {
    format.TrueText = ClauseText(evaluator, Child(clause, 0));
    format.FalseText = ClauseText(evaluator, Child(clause, 1));
  }
  format.UseHeaders = Child(node, 11) != nullptr;
  if (TBRNExprToken* clause = Child(node, 12)) format.MaxRows = ClauseInteger(evaluator, clause);
  return request;
}

using TBRNTransferOperation = bool (*)(TBRNLocalDatabaseManager& database,
                                       const TBRNTransferRequest& request);

// Runs operation on the current database, or on the database that
// qualifies the table, which is current only for the call.
void transferTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node,
                   TBRNTransferOperation operation) {
  const TBRNTransferRequest request = transferRequest(evaluator, node);
  const std::string& databaseName = Child(node, 0)->DatabaseName;
  if (databaseName.empty()) {
    operation(DatabaseOf(evaluator), request);
    return;
  }
  TBRNEvaluatorContext* context = evaluator.GetEvaluatorContext();
  if (context == nullptr) throw std::logic_error("A table transfer needs an evaluator context");
  auto* database = dynamic_cast<TBRNLocalDatabaseManager*>(
      SessionOf(evaluator).OpenDatabase(databaseName, kSharedDatabaseLock));
  if (database == nullptr) throw std::logic_error("A local session opened a remote database");
  context->SetCurrentDatabase(database);
  try {
    operation(*database, request);
  } catch (...) {
    try {
      context->RestoreDefaultDatabase();
    } catch (...) {
      // The transfer's failure is the one reported.
    }
    throw;
  }
  context->RestoreDefaultDatabase();
}

void importTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  transferTable(evaluator, node, &ImportTable);
}

void exportTable(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  transferTable(evaluator, node, &ExportTable);
}

// ---- Transactions: procedural statements, on the current database.

TBRNExprToken* startTransaction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNStringsList tables;
  if (const TBRNExprToken* list = Child(node, 0))
    for (TBRNExprToken* table : list->Arguments()) tables.Add(ClauseText(evaluator, table));
  TBRNExprToken* timeout = Child(node, 1);
  DatabaseOf(evaluator).StartTransaction(
      tables, timeout != nullptr ? ClauseInteger(evaluator, timeout) : -1);
  return nullptr;
}

TBRNExprToken* commitTransaction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  DatabaseOf(evaluator).Commit(Child(node, 0) == nullptr, false);
  return nullptr;
}

TBRNExprToken* rollbackTransaction(TBRNLocalExprEvaluator& evaluator, TBRNExprToken*) {
  DatabaseOf(evaluator).Rollback();
  return nullptr;
}

template <TBRNExprOperation Code, TBRNHandlerBody Body>
void setStatement(TBRNStatementHandlers& handlers) {
  handlers.SetStatement(Code, &Logged<StatementFailure(Code), Body>);
}

}  // namespace

void FillDatabaseOperationHandlers(TBRNStatementHandlers& handlers) {
  setStatement<opBackup, backupDatabase>(handlers);
  setStatement<opRestore, restoreDatabase>(handlers);
  setStatement<opSaveUpdates, saveUpdates>(handlers);
  setStatement<opLoadUpdates, loadUpdates>(handlers);
  setStatement<opPublish, publishDatabase>(handlers);
  setStatement<opUnpublish, unpublishDatabase>(handlers);
  setStatement<opCompare, compareDatabases>(handlers);
  setStatement<opMigrate, migrateDatabase>(handlers);
  setStatement<opVerify, verifyTable>(handlers);
  setStatement<opRepair, repairTable>(handlers);
  setStatement<opOptimize, optimizeTable>(handlers);
  setStatement<opEmpty, emptyTable>(handlers);
  setStatement<opImport, importTable>(handlers);
  setStatement<opExport, exportTable>(handlers);
  handlers.SetStatement(opStart, &startTransaction);
  handlers.SetStatement(opCommit, &commitTransaction);
  handlers.SetStatement(opRollback, &rollbackTransaction);
}

}  // namespace handlers
}  // namespace brn
