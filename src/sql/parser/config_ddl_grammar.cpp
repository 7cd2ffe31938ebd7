// CREATE and ALTER: the object keywords and the bodies of the configuration
// objects (databases, users, roles, modules, text filters, word generators,
// migrators, stores and jobs with their schedules); GRANT and REVOKE.
//
// The parser fills in no defaults: a clause that is not written is a nil
// argument at its index, and what the object gets for it is decided when the
// statement runs.

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/job_schedule_kind.h"
#include "sql/tree/object_kind.h"

namespace brn {

namespace {

constexpr std::string_view kCreateObjects =
    "DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, TEMPORARY, VIEW, "
    "INDEX, TEXT INDEX, TRIGGER, FUNCTION, PROCEDURE, STORE";
constexpr std::string_view kAlterObjects =
    "DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, VIEW, INDEX, "
    "TRIGGER, FUNCTION, PROCEDURE, STORE";

constexpr std::array<std::string_view, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu",
                                                       "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 5> kOrdinals = {"FIRST", "SECOND", "THIRD", "FOURTH",
                                                       "LAST"};

// Words after GRANT or REVOKE that start the privilege form.
constexpr std::array<std::string_view, 12> kPrivilegeStarts = {
    "ALL",   "SELECT", "INSERT",   "UPDATE", "DELETE",  "CREATE",
    "ALTER", "DROP",   "MAINTAIN", "BACKUP", "RESTORE", "EXECUTE"};

// The index of the current word in Names (ignoring case), or -1.
template <size_t N>
int32_t wordIndex(const TBRNExprParser& Parser, const std::array<std::string_view, N>& Names) {
  for (size_t i = 0; i < N; ++i)
    if (Parser.IsKeyword(Names[i])) return int32_t(i);
  return -1;
}

// A Boolean constant for a switch such as ENCRYPTED CATALOG.
TBRNExprToken* newSwitch(TBRNExprParser& Parser, bool Value) {
  TBRNExprToken* node = Parser.NewNode(tkConstant, opNone);
  node->Text = Value ? "TRUE" : "FALSE";
  node->SetDataType(dtBoolean);
  return node;
}

TBRNExprToken* newIntegerConstant(TBRNExprParser& Parser, std::string Text) {
  TBRNExprToken* node = Parser.NewNode(tkConstant, opNone);
  node->Text = std::move(Text);
  node->SetDataType(dtInteger);
  return node;
}

// Argument indexes of a job statement.
enum : int32_t {
  jbSchedule = 4,
  jbEvery = 5,
  jbDays = 6,
  jbDayNumber = 7,
  jbWeekday = 8,
  jbMonths = 9,
  jbSlotCount = 10,
};

}  // namespace

// ---------------------------------------------------------------------------
// CREATE and ALTER

TBRNExprToken* TBRNExprParser::ParseCreateStatement(TBRNParseFlags Flags) {
  return parseCreateOrAlter(Flags, opCreate);
}

TBRNExprToken* TBRNExprParser::ParseAlterStatement(TBRNParseFlags Flags) {
  return parseCreateOrAlter(Flags, opAlter);
}

TBRNExprToken* TBRNExprParser::parseCreateOrAlter(TBRNParseFlags Flags, TBRNExprOperation Code) {
  const bool create = Code == opCreate;
  NextToken();
  TBRNObjectKind kind = okNone;
  bool temporary = false;
  if (AcceptKeyword("DATABASE")) {
    kind = okDatabase;
  } else if (AcceptKeyword("USER")) {
    kind = okUser;
  } else if (AcceptKeyword("ROLE")) {
    kind = okRole;
  } else if (AcceptKeyword("JOB")) {
    kind = okJob;
  } else if (AcceptKeyword("MODULE")) {
    kind = okModule;
  } else if (AcceptKeyword("WORD")) {
    ExpectKeyword("GENERATOR");
    kind = okWordGenerator;
  } else if (AcceptKeyword("MIGRATOR")) {
    kind = okMigrator;
  } else if (AcceptKeyword("TABLE")) {
    kind = okTable;
  } else if (create && AcceptKeyword("TEMPORARY")) {
    ExpectKeyword("TABLE");
    kind = okTable;
    temporary = true;
  } else if (AcceptKeyword("VIEW")) {
    kind = okView;
  } else if (AcceptKeyword("INDEX")) {
    kind = okIndex;
  } else if (AcceptKeyword("TEXT")) {
    if (AcceptKeyword("INDEX"))
      kind = okTextIndex;
    else if (AcceptKeyword("FILTER"))
      kind = okTextFilter;
    else
      Expected("INDEX, FILTER");
  } else if (AcceptKeyword("TRIGGER")) {
    kind = okTrigger;
  } else if (AcceptKeyword("FUNCTION")) {
    kind = okFunction;
  } else if (AcceptKeyword("PROCEDURE")) {
    kind = okProcedure;
  } else if (AcceptKeyword("STORE")) {
    kind = okStore;
  } else {
    Expected(create ? kCreateObjects : kAlterObjects);
  }

  TBRNParsedTree statement(NewNode(tkStatement, Code));
  TBRNExprToken* node = statement.Get();
  node->Variant = kind;
  switch (kind) {
    case okDatabase:
      ParseDatabaseBody(node);
      break;
    case okUser:
      ParseUserBody(node);
      break;
    case okRole:
      ParseRoleBody(node);
      break;
    case okJob:
      ParseJobBody(node, Flags);
      break;
    case okModule:
      node->AddArgument(ParseModuleName());
      ExpectKeyword("PATH");
      node->AddArgument(ParsePrimary(0));
      node->AddArgument(parseOptionalValue("DESCRIPTION"));
      break;
    case okTextFilter:
      node->AddArgument(ParseTextFilterName());
      if (create) {
        ExpectKeyword("TYPE");
        node->AddArgument(ParsePrimary(0));
        ExpectKeyword("MODULE");
        node->AddArgument(ParseModuleName());
      } else {
        node->AddArgument(nullptr);
        node->AddArgument(nullptr);
      }
      node->AddArgument(parseOptionalValue("DESCRIPTION"));
      break;
    case okWordGenerator:
    case okMigrator:
      node->AddArgument(kind == okMigrator ? ParseMigratorName() : ParseWordGeneratorName());
      if (create) {
        ExpectKeyword("MODULE");
        node->AddArgument(ParseModuleName());
      } else {
        node->AddArgument(nullptr);
      }
      node->AddArgument(parseOptionalValue("DESCRIPTION"));
      break;
    case okTable: {
      TBRNExprToken* table = ParseTableName(Flags & ~pcSchemaQualifier, "");
      node->AddArgument(table);
      table->Variant = temporary ? 1 : 0;
      if (create)
        ParseCreateTableBody(node, Flags);
      else
        ParseAlterTableBody(node, Flags);
      ParseTableAttributes(node);
      break;
    }
    case okView:
      ParseViewBody(node, Flags);
      break;
    case okIndex:
      ParseIndexBody(node, Flags);
      break;
    case okTextIndex:
      ParseTextIndexBody(node, Flags);
      break;
    case okTrigger:
      ParseTriggerBody(node, Flags);
      break;
    case okFunction:
      ParseFunctionBody(node, Flags);
      break;
    case okProcedure:
      ParseProcedureBody(node, Flags);
      break;
    case okStore:
      ParseStoreBody(node);
      break;
    default:
      break;
  }
  return statement.Release();
}

// ---------------------------------------------------------------------------
// Databases, users, roles and stores

void TBRNExprParser::ParseDatabaseBody(TBRNExprToken* Statement) {
  Statement->AddArgument(ParseDatabaseName());
  if (AcceptKeyword("PATH")) {
    Statement->AddArgument(ParsePrimary(0));
  } else {
    // IN MEMORY: no path.
    ExpectKeyword("IN");
    ExpectKeyword("MEMORY");
    Statement->AddArgument(nullptr);
  }
  if (IsKeyword("ENCRYPTED") || IsKeyword("UNENCRYPTED")) {
    Statement->AddArgument(newSwitch(*this, IsKeyword("ENCRYPTED")));
    NextToken();
    ExpectKeyword("CATALOG");
  } else {
    Statement->AddArgument(nullptr);
  }
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

void TBRNExprParser::ParseUserBody(TBRNExprToken* Statement) {
  Statement->AddArgument(ParseUserName());
  ExpectKeyword("PASSWORD");
  Statement->AddArgument(ParsePrimary(0));
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

void TBRNExprParser::ParseRoleBody(TBRNExprToken* Statement) {
  Statement->AddArgument(ParseRoleName());
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

void TBRNExprParser::ParseStoreBody(TBRNExprToken* Statement) {
  Statement->AddArgument(ParseStoreName());
  ExpectKeyword("AS");
  if (AcceptKeyword("LOCAL")) {
    ExpectKeyword("PATH");
    Statement->AddArgument(ParsePrimary(0));
    for (int32_t i = 0; i < 12; ++i) Statement->AddArgument(nullptr);
  } else if (AcceptKeyword("REMOTE")) {
    Statement->AddArgument(nullptr);
    // Exactly one of each pair stands in its slot, the other stays empty.
    const auto pair = [this, Statement](std::string_view First, std::string_view Second) {
      const bool first = IsKeyword(First);
      if (!first && !IsKeyword(Second)) {
        std::string words(First);
        AppendName(words, Second);
        Expected(words);
      }
      NextToken();
      TBRNExprToken* value = ParsePrimary(0);
      Statement->AddArgument(first ? value : nullptr);
      Statement->AddArgument(first ? nullptr : value);
    };
    pair("ADDRESS", "HOST");
    pair("PORT", "SERVICE");
    ExpectKeyword("USER");
    Statement->AddArgument(ParseUserName());
    ExpectKeyword("PASSWORD");
    Statement->AddArgument(ParsePrimary(0));
    ExpectKeyword("STORE");
    Statement->AddArgument(ParseStoreName());
    Statement->AddArgument(parseOptionalValue("SIGNATURE"));
    if (AcceptKeyword("ENCRYPTED")) {
      ExpectKeyword("WITH");
      ExpectKeyword("PASSWORD");
      Statement->AddArgument(ParsePrimary(0));
    } else {
      Statement->AddArgument(nullptr);
    }
    Statement->AddArgument(parseOptionalValue("COMPRESSION"));
    Statement->AddArgument(parseOptionalValue("TIMEOUT"));
    Statement->AddArgument(parseOptionalValue("PING"));
  } else {
    Expected("LOCAL, REMOTE");
  }
  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

// ---------------------------------------------------------------------------
// Jobs

void TBRNExprParser::ParseJobBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  TBRNExprToken* root = ParseJobName();
  Statement->AddArgument(root);
  ExpectKeyword("RUN");
  ExpectKeyword("AS");
  Statement->AddArgument(ParseUserName());
  ExpectKeyword("FROM");
  Statement->AddArgument(ParsePrimary(0));
  ExpectKeyword("TO");
  Statement->AddArgument(ParsePrimary(0));

  // The schedule clause and slots 5 to 9, each empty unless the kind fills
  // it.
  TBRNExprToken* schedule = NewNode(tkList, opNone);
  Statement->AddArgument(schedule);
  Statement->SetArgumentCount(jbSlotCount);
  const auto optionalDays = [this, Statement] {
    if (AcceptKeyword("ON")) Statement->SetArgument(jbDays, ParseDayList());
  };
  if (AcceptKeyword("ONCE")) {
    schedule->Variant = jsOnce;
  } else if (AcceptKeyword("HOURLY")) {
    schedule->Variant = jsHourly;
    optionalDays();
  } else if (AcceptKeyword("DAILY")) {
    schedule->Variant = jsDaily;
    optionalDays();
  } else if (AcceptKeyword("WEEKLY")) {
    schedule->Variant = jsWeekly;
    ExpectKeyword("ON");
    Statement->SetArgument(jbDays, ParseDayList());
  } else if (AcceptKeyword("MONTHLY")) {
    schedule->Variant = jsMonthly;
    ExpectKeyword("ON");
    if (AcceptKeyword("DAY")) {
      Statement->SetArgument(jbDayNumber, ParsePrimary(0));
    } else {
      const int32_t ordinal = wordIndex(*this, kOrdinals);
      TBRNExprToken* weekday =
          newIntegerConstant(*this, ordinal < 0 ? std::string() : IntegerToString(ordinal + 1));
      Statement->SetArgument(jbWeekday, weekday);
      if (ordinal >= 0) NextToken();
      weekday->AddArgument(ParseDayName());
    }
    ExpectKeyword("OF");
    Statement->SetArgument(jbMonths, ParseMonthList());
  } else if (AcceptKeyword("EVERY")) {
    Statement->SetArgument(jbEvery, ParsePrimary(0));
    if (AcceptKeyword("MINUTES")) {
      schedule->Variant = jsEveryXMinutes;
      optionalDays();
    } else if (AcceptKeyword("HOURS")) {
      schedule->Variant = jsEveryXHours;
      optionalDays();
    } else if (AcceptKeyword("DAYS")) {
      schedule->Variant = jsEveryXDays;
    } else if (AcceptKeyword("WEEKS")) {
      schedule->Variant = jsEveryXWeeks;
      ExpectKeyword("ON");
      Statement->SetArgument(jbDays, ParseDayList());
    } else {
      Expected("DAYS, WEEKS");
    }
  } else {
    Expected("ONCE, HOURLY, DAILY, WEEKLY, MONTHLY, EVERY");
  }

  ExpectKeyword("BETWEEN");
  Statement->AddArgument(ParsePrimary(0));
  ExpectKeyword("AND");
  Statement->AddArgument(ParsePrimary(0));
  Statement->AddArgument(parseOptionalValue("CATEGORY"));

  // The job's routine: no parameters, the body may USE other databases.
  root->AddArgument(ParseRoutineParameterList(pcNoParamList));
  for (int32_t i = 0; i < 4; ++i) root->AddArgument(nullptr);
  CheckKeyword("BEGIN");
  BeginCapture();
  root->AddArgument(
      ParseBeginBlock((Flags & ~(pcTerminator | pcEndOfText)) | pcDatabaseOperations));
  Statement->Text = "JOB " + QuoteString(root->Name, '"') + "\r\n" + EndCapture();

  Statement->AddArgument(parseOptionalValue("DESCRIPTION"));
  Statement->AddArgument(parseOptionalValue("VERSION"));
  Statement->AddArgument(parseOptionalValue("ATTRIBUTES"));
}

namespace {

// A list with one slot per name; each named one holds a constant with its
// fixed short name. Names are separated by ",".
template <size_t N>
TBRNExprToken* parseNamedSlots(TBRNExprParser& Parser, const std::array<std::string_view, N>& Names,
                               std::string_view Duplicate, std::string_view Missing) {
  TBRNParsedTree list(Parser.NewNode(tkList, opNone));
  list->SetArgumentCount(int32_t(N));
  do {
    const int32_t index = wordIndex(Parser, Names);
    if (index < 0) Parser.InvalidExpression(Missing);
    if (list->Argument(index)) Parser.InvalidExpression(Duplicate);
    TBRNExprToken* name = Parser.NewNode(tkConstant, opNone);
    name->Text = Names[size_t(index)];
    list->SetArgument(index, name);
    Parser.NextToken();
  } while (Parser.AcceptToken(','));
  return list.Release();
}

}  // namespace

TBRNExprToken* TBRNExprParser::ParseDayList() {
  return parseNamedSlots(*this, kDayNames, "duplicate day specified",
                         "at least one day must be specified");
}

TBRNExprToken* TBRNExprParser::ParseMonthList() {
  return parseNamedSlots(*this, kMonthNames, "duplicate month specified",
                         "at least one month must be specified");
}

TBRNExprToken* TBRNExprParser::ParseDayName() {
  const int32_t index = wordIndex(*this, kDayNames);
  if (index < 0) InvalidExpression("a day must be specified");
  TBRNParsedTree day(newIntegerConstant(*this, IntegerToString(index + 1)));
  NextToken();
  return day.Release();
}

// ---------------------------------------------------------------------------
// GRANT and REVOKE

TBRNExprToken* TBRNExprParser::ParseGrantStatement(TBRNParseFlags Flags) {
  return parseGrantOrRevoke(Flags, true);
}

TBRNExprToken* TBRNExprParser::ParseRevokeStatement(TBRNParseFlags Flags) {
  return parseGrantOrRevoke(Flags, false);
}

TBRNExprToken* TBRNExprParser::parseNameList(TBRNExprToken* (TBRNExprParser::*NameParser)()) {
  TBRNParsedTree list(NewNode(tkList, opNone));
  do list->AddArgument((this->*NameParser)());
  while (AcceptToken(','));
  return list.Release();
}

TBRNExprToken* TBRNExprParser::parseGrantOrRevoke(TBRNParseFlags Flags, bool Grant) {
  NextToken();
  const std::string_view direction = Grant ? "TO" : "FROM";
  if (wordIndex(*this, kPrivilegeStarts) < 0) {
    TBRNParsedTree statement(NewNode(tkStatement, Grant ? opGrantRoles : opRevokeRoles));
    statement->AddArgument(parseNameList(&TBRNExprParser::ParseRoleName));
    ExpectKeyword(direction);
    statement->AddArgument(parseNameList(&TBRNExprParser::ParseUserName));
    return statement.Release();
  }

  TBRNParsedTree statement(NewNode(tkStatement, Grant ? opGrantPrivileges : opRevokePrivileges));
  if (IsKeyword("ALL")) {
    TBRNExprToken* privileges = NewNode(tkList, opNone);
    statement->AddArgument(privileges);
    TBRNExprToken* all = NewNode(tkPrivilege, opNone);
    privileges->AddArgument(all);
    all->Name = "ALL";
    NextToken();
    ExpectKeyword("PRIVILEGES");
  } else {
    statement->AddArgument(parseNameList(&TBRNExprParser::ParsePrivilege));
  }

  ExpectKeyword("ON");
  if (AcceptKeyword("DATABASE"))
    statement->AddArgument(ParseDatabaseName());
  else if (AcceptKeyword("STORE"))
    statement->AddArgument(ParseStoreName());
  else if (AcceptKeyword("TABLE"))
    statement->AddArgument(ParseTableName(Flags & ~pcSchemaQualifier, ""));
  else if (AcceptKeyword("VIEW"))
    statement->AddArgument(ParseViewName());
  else if (AcceptKeyword("PROCEDURE"))
    statement->AddArgument(ParseProcedureName());
  else if (AcceptKeyword("FUNCTION"))
    statement->AddArgument(ParseFunctionName());
  else
    Expected("DATABASE, STORE, TABLE, VIEW, PROCEDURE, FUNCTION");

  ExpectKeyword(direction);
  statement->AddArgument(parseNameList(&TBRNExprParser::ParseGranteeName));
  return statement.Release();
}

}  // namespace brn
