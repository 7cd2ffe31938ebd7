#pragma once

// The frame shared by the statement handlers (not for use outside
// execution/handlers): the failure codes of the statements, the logging
// wrapper and the readers of clause values.

#include <cstdint>
#include <exception>
#include <string>

#include "execution/evaluator/local_expr_evaluator.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/object_kind.h"

namespace brn {

class TBRNLocalDatabaseManager;
class TBRNLocalSessionManager;

namespace handlers {

// The failure code of a statement code (215..255 without the verbs): the
// operation code its failures are logged with, 0 for none.
constexpr int32_t StatementFailure(int32_t code) {
  switch (code) {
    case opBackup:
      return 51;
    case opSetBackupsStore:
      return 52;
    case opCompare:
      return 36;
    case opCopyFile:
      return 410;
    case opDeleteFile:
      return 412;
    case opEmpty:
      return 129;
    case opExport:
      return 127;
    case opSetFilesStore:
      return 400;
    case opGrantPrivileges:
      return 80;
    case opGrantRoles:
      return 82;
    case opImport:
      return 126;
    case opLoadUpdates:
      return 59;
    case opMigrate:
      return 54;
    case opOptimize:
      return 125;
    case opPublish:
      return 55;
    case opRenameFile:
      return 411;
    case opRepair:
      return 124;
    case opRestore:
      return 53;
    case opRevokePrivileges:
      return 81;
    case opRevokeRoles:
      return 83;
    case opSaveUpdates:
      return 57;
    case opSetMigrator:
      return 50;
    case opUnpublish:
      return 56;
    case opSetUpdatesStore:
      return 58;
    case opVerify:
      return 119;
    default:
      return 0;
  }
}

// The operation decade of an object kind for CREATE (+0), ALTER (+1), DROP
// (+2); 0 for a kind without a definition statement.
constexpr int32_t KindDecade(int32_t kind) {
  switch (kind) {
    case okDatabase:
      return 30;
    case okFunction:
      return 160;
    case okIndex:
      return 140;
    case okJob:
      return 90;
    case okStore:
      return 420;
    case okMigrator:
      return 114;
    case okProcedure:
      return 170;
    case okRole:
      return 70;
    case okTable:
      return 120;
    case okTextFilter:
      return 100;
    case okTextIndex:
      return 140;
    case okTrigger:
      return 150;
    case okUser:
      return 60;
    case okView:
      return 130;
    case okWordGenerator:
      return 110;
    case okModule:
      return 20;
    default:
      return 0;
  }
}

// The failure code of a (verb, kind) pair; 0 for an empty entry and for
// RESET SERVER SESSION STATISTICS, which logs nothing.
constexpr int32_t VerbFailure(TBRNObjectVerb verb, int32_t kind) {
  const int32_t decade = KindDecade(kind);
  switch (verb) {
    case ovCreate:
      return decade;
    case ovAlter:
      return decade == 0 ? 0 : decade + 1;
    case ovDrop:
      return kind == okTextIndex || decade == 0 ? 0 : decade + 2;
    case ovRename:
      switch (kind) {
        case okDatabase:
          return 35;
        case okJob:
          return 95;
        case okTable:
          return 128;
        case okTrigger:
          return 154;
        case okView:
          return 134;
        case okTextIndex:
          return 0;
        default:
          return decade == 0 ? 0 : decade + 3;
      }
    case ovEnable:
      return kind == okJob ? 96 : kind == okTrigger ? 155 : 0;
    case ovDisable:
      return kind == okJob ? 97 : kind == okTrigger ? 156 : 0;
    case ovReset:
      return kind == okJob ? 98 : 0;
  }
  return 0;
}

// The session of the evaluator; std::logic_error when it has none or no
// evaluator context is current.
TBRNLocalSessionManager& SessionOf(TBRNLocalExprEvaluator& evaluator);
// The current database of the current context; std::logic_error when none.
TBRNLocalDatabaseManager& DatabaseOf(TBRNLocalExprEvaluator& evaluator);

// Writes error to the session's log with operation (nothing for 0).
void LogFailure(TBRNLocalExprEvaluator& evaluator, const std::exception& error, int32_t operation);

// The body of a SQL-statement handler.
using TBRNHandlerBody = void (*)(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node);

// A handler that runs Body and logs what leaves it with Failure (nothing
// for 0) before it passes on; it answers nullptr.
template <int32_t Failure, TBRNHandlerBody Body>
TBRNExprToken* Logged(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  try {
    Body(evaluator, node);
  } catch (const std::exception& error) {
    LogFailure(evaluator, error, Failure);
    throw;
  }
  return nullptr;
}

// Clause readers: each evaluates the clause node (not nullptr) and reads
// its value.
std::string ClauseText(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
int32_t ClauseInteger(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
bool ClauseBoolean(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
int64_t ClauseDecimal(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
int32_t ClauseDate(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
int32_t ClauseTime(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* clause);
// Child index of node, nullptr when absent (also beyond the children).
TBRNExprToken* Child(const TBRNExprToken* node, int32_t index);
// The identifier of the name child index; empty when absent.
std::string ChildName(const TBRNExprToken* node, int32_t index);

// The configuration handlers (config_handlers.cpp): the CREATE, ALTER,
// DROP and RENAME entries of databases, users, roles, jobs, stores,
// modules, text filters, word generators and migrators.
void FillConfigObjectHandlers(TBRNStatementHandlers& handlers);

}  // namespace handlers
}  // namespace brn
