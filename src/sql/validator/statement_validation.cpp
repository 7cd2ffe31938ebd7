// Validation of SQL statements: the targets and values of INSERT, UPDATE and
// DELETE, the queries of CREATE VIEW and CREATE TABLE AS, the routine bodies
// of CREATE and ALTER FUNCTION, PROCEDURE, JOB and TRIGGER, and the option
// values of the definition and administrative statements, which must be
// constants of the right type. Expressions a definition only stores as text
// (defaults, computed columns, CHECK conditions) are compiled later by the
// object that keeps them, with their own expected type.

#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "foundation/text/string_helpers.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/job_schedule_kind.h"
#include "sql/tree/object_kind.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

namespace {

using validation::argumentOrNil;

using validation::FieldRestorer;

// The classes a constant option must belong to.
enum class OptionType { Text, Integer, Number, Date, Time };

// The lowest error code a constraint may raise; the engine's own codes lie
// below it.
constexpr int64_t kFirstUserErrorCode = 10000;

// Argument Index of Node, when present, must be a constant of the given class.
void checkOption(TBRNExprValidator& V, const TBRNExprToken* Node, int32_t Index, OptionType Type) {
  TBRNExprToken* option = argumentOrNil(Node, Index);
  if (!option) return;
  V.CheckKind(option, {tkConstant});
  switch (Type) {
    case OptionType::Text:
      return V.CheckCharacter(option);
    case OptionType::Integer:
      return V.CheckInteger(option);
    case OptionType::Number:
      return V.CheckNumeric(option);
    case OptionType::Date:
      return V.CheckDate(option);
    case OptionType::Time:
      return V.CheckTime(option);
  }
}

void checkTexts(TBRNExprValidator& V, const TBRNExprToken* Node,
                std::initializer_list<int32_t> Indexes) {
  for (int32_t index : Indexes) checkOption(V, Node, index, OptionType::Text);
}

// A text option that must not be empty either.
void checkCharacterOption(TBRNExprValidator& V, const TBRNExprToken* Node, int32_t Index,
                          std::string_view EmptyMessage) {
  checkOption(V, Node, Index, OptionType::Text);
  TBRNExprToken* option = argumentOrNil(Node, Index);
  if (option && option->Text.empty()) V.RaiseInvalid(option, EmptyMessage);
}

// The ERROR CODE and MESSAGE of a NOT NULL or constraint error clause.
void checkErrorClause(TBRNExprValidator& V, const TBRNExprToken* Clause) {
  if (!Clause) return;
  checkOption(V, Clause, 0, OptionType::Integer);
  if (TBRNExprToken* code = argumentOrNil(Clause, 0)) {
    const std::string& text = code->Text;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // An integer constant beyond int64 is far above the limit.
    const bool tooLow = error == std::errc() ? value < kFirstUserErrorCode
                                             : error != std::errc::result_out_of_range;
    if (tooLow || (error == std::errc() && end != text.data() + text.size()))
      V.RaiseInvalid(code, FormatText("an invalid error code was specified, the error code must "
                                      "be greater than or equal to %s",
                                      {"10000"}));
  }
  checkOption(V, Clause, 1, OptionType::Text);
}

// The target table of INSERT, UPDATE and DELETE (the only FROM item of the
// target query).
TBRNExprToken* targetTable(const TBRNExprToken* Target) {
  return argumentOrNil(argumentOrNil(Target, qpFrom), 0);
}

// The visible select items of a query's select list, in order.
std::vector<TBRNExprToken*> visibleSelectItems(const TBRNExprToken* Query) {
  return validation::visibleItems(argumentOrNil(Query, qpSelectList));
}

}  // namespace

void TBRNExprValidator::RegisterStatementChecks() {
  const auto set = [this](TBRNExprOperation Code, TBRNCheckMethod Check) {
    StatementChecks[size_t(Code - FirstStatementCode)] = Check;
  };
  set(opAlter, &TBRNExprValidator::ValidateCreateOrAlter);
  set(opBackup, &TBRNExprValidator::ValidateBackup);
  set(opCompare, &TBRNExprValidator::ValidateCompare);
  set(opCreate, &TBRNExprValidator::ValidateCreateOrAlter);
  set(opDelete, &TBRNExprValidator::ValidateDelete);
  set(opDisconnect, &TBRNExprValidator::ValidateSessionStatement);
  set(opExport, &TBRNExprValidator::ValidateImportExport);
  set(opImport, &TBRNExprValidator::ValidateImportExport);
  set(opInsert, &TBRNExprValidator::ValidateInsert);
  set(opMigrate, &TBRNExprValidator::ValidateMigrate);
  set(opRemove, &TBRNExprValidator::ValidateSessionStatement);
  set(opReset, &TBRNExprValidator::ValidateReset);
  set(opSaveUpdates, &TBRNExprValidator::ValidateSaveUpdates);
  set(opUpdate, &TBRNExprValidator::ValidateUpdate);
}

// ---- INSERT, UPDATE, DELETE ---------------------------------------------------------

namespace {

// Steps shared by the three statements: the parameter list starts empty and
// the target table is bound.
TBRNExprToken* bindTarget(TBRNExprValidator& V, TBRNExprToken* Target) {
  if (TBRNExprToken* params = argumentOrNil(Target, qpParameters))
    if (params->Index == -1) params->Index = 0;
  TBRNExprToken* table = targetTable(Target);
  if (!table) throw std::invalid_argument("statement target without table");
  V.OpenQualifiedDatabase(table);
  V.ResolveObjectName(table, tkTableReference);
  return table;
}

void validateWhere(TBRNExprValidator& V, TBRNExprToken* Target) {
  TBRNExprToken* where = argumentOrNil(Target, qpWhere);
  if (!where) return;
  {
    FieldRestorer<bool> filter(V.FilterMode, true);
    for (int32_t i = 0; i < where->ArgumentCount(); ++i) {
      TBRNExprToken* condition = where->Argument(i);
      if (!condition) continue;
      V.ValidateNode(condition);
      V.CheckType(condition, type_classes::Boolean);
      where->SetArgument(i, PushDownNot(condition, false));
    }
  }
  V.DistributeWhereConditions(Target);
}

}  // namespace

void TBRNExprValidator::ValidateInsert(TBRNExprToken* Node) {
  TBRNExprToken* target = argumentOrNil(Node, 0);
  TBRNExprToken* table = bindTarget(*this, target);
  TBRNExprToken* columns = argumentOrNil(target, qpSelectList);
  if (!columns) throw std::invalid_argument("INSERT without column list");
  if (columns->ArgumentCount() == 0)
    AddTableColumns(table, columns);
  else
    for (TBRNExprToken* column : columns->Arguments()) ValidateNode(column);
  const int32_t columnCount = columns->ArgumentCount();

  if (TBRNExprToken* source = argumentOrNil(target, qpSourceQuery)) {
    ValidateQuery(source);
    const std::vector<TBRNExprToken*> items = visibleSelectItems(source);
    if (int32_t(items.size()) != columnCount)
      RaiseInvalid(argumentOrNil(source, qpSelectList),
                   "the number of INSERT values does not match the number of columns");
    for (int32_t i = 0; i < columnCount; ++i)
      CheckAssignable(items[size_t(i)], columns->Argument(i));
    return;
  }
  // A "?" among the values can also give back the stored value.
  FieldRestorer<TBRNExprOperation> direction(ParamDirection, opParamInOut);
  if (TBRNExprToken* rows = argumentOrNil(target, qpValues)) {
    for (TBRNExprToken* row : rows->Arguments()) {
      if (!row) continue;
      CheckKind(row, {tkRowValue});
      ValidateNode(row);
      if (row->ArgumentCount() != columnCount)
        RaiseInvalid(row, "the number of INSERT values does not match the number of columns");
      for (int32_t j = 0; j < columnCount; ++j)
        if (row->Argument(j)) CheckAssignable(row->Argument(j), columns->Argument(j));
    }
  }
}

void TBRNExprValidator::ValidateUpdate(TBRNExprToken* Node) {
  TBRNExprToken* target = argumentOrNil(Node, 0);
  bindTarget(*this, target);
  TBRNExprToken* targets = argumentOrNil(target, qpSelectList);
  TBRNExprToken* values = argumentOrNil(target, qpValues);
  if (targets) {
    for (TBRNExprToken* column : targets->Arguments()) {
      if (!column) continue;
      ValidateNode(column);
      if (column->Kind == tkRowValue)
        CheckArgumentKinds(column, {tkColumnReference});
      else
        CheckKind(column, {tkColumnReference});
    }
  }
  if (values) {
    for (int32_t j = 0; j < values->ArgumentCount(); ++j) {
      TBRNExprToken* value = values->Argument(j);
      if (!value) continue;
      ValidateNode(value);
      value = values->Argument(j);
      if (TBRNExprToken* column = argumentOrNil(targets, j)) CheckAssignable(value, column);
    }
  }
  validateWhere(*this, target);
}

void TBRNExprValidator::ValidateDelete(TBRNExprToken* Node) {
  TBRNExprToken* target = argumentOrNil(Node, 0);
  bindTarget(*this, target);
  validateWhere(*this, target);
}

// ---- CREATE and ALTER ---------------------------------------------------------------

void TBRNExprValidator::ValidateCreateOrAlter(TBRNExprToken* Node) {
  using enum OptionType;
  switch (Node->Variant) {
    case okDatabase:
      return checkTexts(*this, Node, {1, 3, 4});
    case okFunction:
    case okProcedure:
      ValidateRoutine(argumentOrNil(Node, 0));
      checkOption(*this, Node, 1, Text);
      checkOption(*this, Node, 2, Number);
      return checkOption(*this, Node, 3, Text);
    case okIndex:
      return checkOption(*this, Node, 3, Text);
    case okJob: {
      ValidateRoutine(argumentOrNil(Node, 0));
      checkOption(*this, Node, 2, Date);
      checkOption(*this, Node, 3, Date);
      if (const TBRNExprToken* schedule = argumentOrNil(Node, 4)) {
        switch (schedule->Variant) {
          case jsMonthly:
            checkOption(*this, Node, 7, Integer);
            break;
          case jsEveryXDays:
          case jsEveryXWeeks:
          case jsEveryXHours:
          case jsEveryXMinutes:
            checkOption(*this, Node, 5, Integer);
            break;
          default:
            break;
        }
      }
      checkOption(*this, Node, 10, Time);
      checkOption(*this, Node, 11, Time);
      checkTexts(*this, Node, {12, 13});
      checkOption(*this, Node, 14, Number);
      return checkOption(*this, Node, 15, Text);
    }
    case okStore:
      // PORT, COMPRESSION, TIMEOUT and PING are checked when the statement
      // runs.
      return checkTexts(*this, Node, {1, 2, 3, 5, 7, 9, 10, 14, 15});
    case okMigrator:
    case okWordGenerator:
      return checkOption(*this, Node, 2, Text);
    case okRole:
      return checkTexts(*this, Node, {1, 2});
    case okTable: {
      const TBRNExprToken* as = argumentOrNil(Node, 1);
      TBRNExprToken* query = argumentOrNil(as, 0);
      if (Node->Operation == opCreate && query) {
        ValidateQuery(query);
        const TBRNExprToken* elements = argumentOrNil(Node, 3);
        const std::vector<TBRNExprToken*> items = visibleSelectItems(query);
        if (elements && elements->ArgumentCount() != 0 &&
            elements->ArgumentCount() != int32_t(items.size())) {
          TBRNExprToken* first = items.empty() ? query : argumentOrNil(items.front(), 0);
          RaiseInvalid(first ? first : items.front(),
                       "the number of query columns does not match the number of defined "
                       "columns for the table");
        }
        return;
      }
      ValidateTableElements(Node);
      return ValidateTableOptions(Node);
    }
    case okTextFilter:
      if (Node->Operation == opCreate) checkOption(*this, Node, 1, Text);
      return checkOption(*this, Node, 3, Text);
    case okTextIndex:
      checkOption(*this, Node, 3, Text);
      return checkOption(*this, Node, 4, Integer);
    case okTrigger:
      if (TBRNExprToken* condition = argumentOrNil(argumentOrNil(Node, 4), 0)) {
        ValidateNode(condition);
        CheckBooleanOrInteger(condition);
      }
      ValidateRoutine(argumentOrNil(Node, 0));
      return checkOption(*this, Node, 5, Text);
    case okUser:
      return checkTexts(*this, Node, {1, 2, 3});
    case okView:
      if (TBRNExprToken* query = argumentOrNil(Node, 1)) ValidateQuery(query);
      checkOption(*this, Node, 3, Text);
      checkOption(*this, Node, 4, Number);
      return checkOption(*this, Node, 5, Text);
    case okModule:
      return checkTexts(*this, Node, {1, 2});
    default:
      return;
  }
}

void TBRNExprValidator::ValidateTableElements(TBRNExprToken* Statement) {
  using enum OptionType;
  const TBRNExprToken* elements = argumentOrNil(Statement, 3);
  if (!elements) return;
  for (const TBRNExprToken* element : elements->Arguments()) {
    TBRNExprToken* item = argumentOrNil(element, 0);
    if (!item) continue;
    const bool added = element->Operation == opAdd;
    const bool altered = element->Operation == opAlter;
    if ((added && item->Kind != tkTableName) || (altered && item->Operation == opNone)) {
      if (item->Kind == tkColumnName) {
        TBRNExprToken* type = argumentOrNil(item, 0);
        if (type) {
          ValidateDataTypeNode(type);
          item->AssignDataType(type);
        }
        checkOption(*this, argumentOrNil(item, 1), 0, Integer);
        const TBRNExprToken* value = argumentOrNil(item, 2);
        if (value &&
            (value->Operation == opGeneratedByDefault || value->Operation == opGeneratedIdentity)) {
          if (type) CheckInteger(type);
          checkOption(*this, value, 0, Integer);
          checkOption(*this, value, 1, Integer);
        }
        checkErrorClause(*this, argumentOrNil(item, 3));
        checkOption(*this, item, 5, Text);
        checkOption(*this, item, 6, Integer);
      } else if (item->Kind == tkConstraintName) {
        checkErrorClause(*this, argumentOrNil(item, 5));
        checkOption(*this, item, 6, Text);
      }
    } else if (altered) {
      // A single attribute of a column or constraint.
      if (item->Kind == tkColumnName) {
        if (item->Operation == opMoveTo)
          checkOption(*this, item, 6, Integer);
        else if (item->Operation == opRestartWith)
          checkOption(*this, item, 7, Integer);
        else if (item->Operation == opDescription)
          checkOption(*this, item, 5, Text);
      } else if (item->Kind == tkConstraintName && item->Operation == opDescription) {
        checkOption(*this, item, 6, Text);
      }
    }
  }
}

void TBRNExprValidator::ValidateTableOptions(TBRNExprToken* Statement) {
  using enum OptionType;
  checkOption(*this, Statement, 4, Text);
  checkOption(*this, Statement, 5, Number);
  for (int32_t index = 8; index <= 15; ++index) checkOption(*this, Statement, index, Integer);
  checkOption(*this, Statement, 16, Text);
}

// ---- Administrative statements ----------------------------------------------------------

void TBRNExprValidator::ValidateBackup(TBRNExprToken* Node) {
  checkOption(*this, Node, 4, OptionType::Text);
  checkOption(*this, Node, 5, OptionType::Integer);
}

void TBRNExprValidator::ValidateSaveUpdates(TBRNExprToken* Node) {
  ValidateBackup(Node);
}

void TBRNExprValidator::ValidateCompare(TBRNExprToken* Node) {
  checkCharacterOption(*this, Node, 2, "the statement termination character cannot be empty");
}

void TBRNExprValidator::ValidateMigrate(TBRNExprToken* Node) {
  const TBRNExprToken* pairs = argumentOrNil(Node, 1);
  if (!pairs) return;
  for (const TBRNExprToken* pair : pairs->Arguments())
    if (pair && pair->Right()) CheckKind(pair->Right(), {tkConstant});
}

void TBRNExprValidator::ValidateSessionStatement(TBRNExprToken* Node) {
  checkOption(*this, Node, 0, OptionType::Integer);
}

void TBRNExprValidator::ValidateReset(TBRNExprToken* Node) {
  if (Node->Variant == okServerSessionStatistics) checkOption(*this, Node, 0, OptionType::Integer);
}

void TBRNExprValidator::ValidateImportExport(TBRNExprToken* Node) {
  using enum OptionType;
  checkCharacterOption(*this, Node, 5, "the delimiter character cannot be empty");
  // An empty quote text is allowed: values are then not quoted.
  checkOption(*this, Node, 6, Text);
  checkOption(*this, Node, 7, Text);
  checkOption(*this, Node, 8, Text);
  if (const TBRNExprToken* timeFormat = argumentOrNil(Node, 8))
    checkTexts(*this, timeFormat, {0, 1});
  checkCharacterOption(*this, Node, 9, "the decimal character cannot be empty");
  if (const TBRNExprToken* booleans = argumentOrNil(Node, 10)) checkTexts(*this, booleans, {0, 1});
  if (TBRNExprToken* maxRows = argumentOrNil(Node, 12)) {
    CheckKind(maxRows, {tkConstant, tkUnaryOperator});
    // A negative count is a unary minus that still needs its type.
    if (maxRows->Kind == tkUnaryOperator) ValidateNode(maxRows);
    CheckInteger(maxRows);
  }
}

// ---- Release pass -----------------------------------------------------------------------

void TBRNExprValidator::ReleaseStatement(TBRNExprToken* Node) {
  switch (Node->Operation) {
    case opCreate:
    case opAlter:
      switch (Node->Variant) {
        case okTrigger:
          // The WHEN condition may call stored functions.
          ReleaseNode(argumentOrNil(argumentOrNil(Node, 4), 0));
          return ReleaseRoutine(argumentOrNil(Node, 0));
        case okFunction:
        case okJob:
        case okProcedure:
          return ReleaseRoutine(argumentOrNil(Node, 0));
        case okTable:
          if (Node->Operation == opCreate)
            if (TBRNExprToken* query = argumentOrNil(argumentOrNil(Node, 1), 0))
              ReleaseQuery(query);
          return;
        case okView:
          if (TBRNExprToken* query = argumentOrNil(Node, 1)) ReleaseQuery(query);
          return;
        default:
          return;
      }
    case opDelete:
    case opInsert:
    case opUpdate: {
      TBRNExprToken* target = argumentOrNil(Node, 0);
      if (TBRNExprToken* table = targetTable(target)) {
        for (int32_t list : {int32_t(trConditions), int32_t(trJoins)})
          if (const TBRNExprToken* nodes = argumentOrNil(table, list))
            for (TBRNExprToken* node : nodes->Arguments()) ReleaseNode(node);
        CloseQualifiedDatabase(table);
      }
      const auto releaseAll = [this](const TBRNExprToken* List) {
        if (List)
          for (TBRNExprToken* node : List->Arguments()) ReleaseNode(node);
      };
      if (Node->Operation == opInsert) {
        if (TBRNExprToken* source = argumentOrNil(target, qpSourceQuery))
          ReleaseQuery(source);
        else
          releaseAll(argumentOrNil(target, qpValues));
        return;
      }
      if (Node->Operation == opUpdate) releaseAll(argumentOrNil(target, qpValues));
      return releaseAll(argumentOrNil(target, qpWhere));
    }
    default:
      return;
  }
}

}  // namespace brn
