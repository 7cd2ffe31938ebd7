// Statement verbs and the statements that only name objects: DROP, RENAME,
// ENABLE and DISABLE; the qualified table name, the privilege word and the
// name parsers that every definition and administrative statement uses.
//
// A statement node is a tkStatement whose Operation is the statement code and
// whose Variant is the object kind (TBRNObjectKind) for the verbs that name
// one. It is created on the token after the verb and its fixed keywords (for
// DROP TABLE t, on t). A clause that is not written is a nil argument at its
// index, so that consumers find every part at a fixed index.

#include <array>
#include <string_view>

#include "foundation/text/collation.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/object_kind.h"

namespace brn {

namespace {

// The object kinds DROP and ALTER report when no object word matches; RENAME
// adds FILE. MIGRATOR is accepted without being listed.
constexpr std::string_view kDropObjects =
    "DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, VIEW, INDEX, "
    "TRIGGER, FUNCTION, PROCEDURE, STORE";
constexpr std::string_view kRenameObjects =
    "DATABASE, USER, ROLE, MODULE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, VIEW, INDEX, "
    "TRIGGER, FUNCTION, PROCEDURE, STORE, FILE";
constexpr std::string_view kSwitchObjects = "TRIGGER, TRIGGERS, JOB, JOBS";
constexpr std::string_view kPrivileges =
    "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, MAINTAIN, BACKUP, RESTORE, EXECUTE";

using TBRNNameParser = TBRNExprToken* (TBRNExprParser::*)();

struct TBRNObjectWord {
  std::string_view Word;
  TBRNObjectKind Kind;
  // The parser of the object's own name (tables, indexes and triggers have
  // their own forms).
  TBRNNameParser NameParser;
};

constexpr std::array<TBRNObjectWord, 13> kObjectWords = {{
    {"DATABASE", okDatabase, &TBRNExprParser::ParseDatabaseName},
    {"USER", okUser, &TBRNExprParser::ParseUserName},
    {"ROLE", okRole, &TBRNExprParser::ParseRoleName},
    {"JOB", okJob, &TBRNExprParser::ParseJobName},
    {"MODULE", okModule, &TBRNExprParser::ParseModuleName},
    {"MIGRATOR", okMigrator, &TBRNExprParser::ParseMigratorName},
    {"TABLE", okTable, nullptr},
    {"VIEW", okView, &TBRNExprParser::ParseViewName},
    {"INDEX", okIndex, &TBRNExprParser::ParseIndexName},
    {"TRIGGER", okTrigger, &TBRNExprParser::ParseTriggerName},
    {"FUNCTION", okFunction, &TBRNExprParser::ParseFunctionName},
    {"PROCEDURE", okProcedure, &TBRNExprParser::ParseProcedureName},
    {"STORE", okStore, &TBRNExprParser::ParseStoreName},
}};

constexpr TBRNObjectWord kTextFilter = {"TEXT FILTER", okTextFilter,
                                        &TBRNExprParser::ParseTextFilterName};
constexpr TBRNObjectWord kWordGenerator = {"WORD GENERATOR", okWordGenerator,
                                           &TBRNExprParser::ParseWordGeneratorName};

// Reads the object keywords after DROP or RENAME; nullptr (nothing read)
// when the current word names no object kind.
const TBRNObjectWord* readObjectWords(TBRNExprParser& Parser) {
  for (const TBRNObjectWord& word : kObjectWords)
    if (Parser.IsKeyword(word.Word)) {
      Parser.NextToken();
      return &word;
    }
  if (Parser.AcceptKeyword("TEXT")) {
    Parser.ExpectKeyword("FILTER");
    return &kTextFilter;
  }
  if (Parser.AcceptKeyword("WORD")) {
    Parser.ExpectKeyword("GENERATOR");
    return &kWordGenerator;
  }
  return nullptr;
}

// Table names of these statements are plain identifiers.
constexpr TBRNParseFlags plainTableFlags(TBRNParseFlags Flags) {
  return Flags & ~pcSchemaQualifier;
}

}  // namespace

void TBRNExprParser::registerStatementParsers() {
  const auto set = [this](TBRNExprOperation Code, TBRNParseMethod Method) {
    StatementParsers[size_t(Code - FirstStatementCode)] = Method;
  };
  set(opSelect, &TBRNExprParser::ParseSelectStatement);
  set(opInsert, &TBRNExprParser::ParseInsert);
  set(opUpdate, &TBRNExprParser::ParseUpdate);
  set(opDelete, &TBRNExprParser::ParseDelete);
  set(opDrop, &TBRNExprParser::ParseDropStatement);
  set(opRename, &TBRNExprParser::ParseRenameStatement);
  set(opEnable, &TBRNExprParser::ParseEnableStatement);
  set(opDisable, &TBRNExprParser::ParseDisableStatement);
  set(opCreate, &TBRNExprParser::ParseCreateStatement);
  set(opAlter, &TBRNExprParser::ParseAlterStatement);
  set(opGrant, &TBRNExprParser::ParseGrantStatement);
  set(opRevoke, &TBRNExprParser::ParseRevokeStatement);
  registerProceduralParsers();
}

TBRNExprToken* TBRNExprParser::ParseDropStatement(TBRNParseFlags Flags) {
  NextToken();
  const TBRNObjectWord* object = readObjectWords(*this);
  if (!object) Expected(kDropObjects);
  TBRNParsedTree statement(NewNode(tkStatement, opDrop));
  statement->Variant = object->Kind;
  switch (object->Kind) {
    case okTable:
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      break;
    case okIndex:
      statement->AddArgument(ParseIndexName());
      ExpectKeyword("FROM");
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      break;
    case okTrigger:
      statement->AddArgument(ParseTriggerName());
      statement->AddArgument(nullptr);
      ExpectKeyword("FROM");
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      break;
    case okDatabase:
    case okStore:
      statement->AddArgument((this->*object->NameParser)());
      if (IsKeyword("KEEP")) {
        statement->AddArgument(NewNode(tkList, opNone));
        NextToken();
        ExpectKeyword("CONTENTS");
      } else {
        statement->AddArgument(nullptr);
      }
      break;
    default:
      statement->AddArgument((this->*object->NameParser)());
      break;
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRenameStatement(TBRNParseFlags Flags) {
  NextToken();
  if (AcceptKeyword("FILE")) {
    TBRNParsedTree statement(NewNode(tkStatement, opRenameFile));
    statement->AddArgument(ParseFileName());
    ExpectKeyword("IN");
    ExpectKeyword("STORE");
    statement->AddArgument(ParseStoreName());
    ExpectKeyword("TO");
    statement->AddArgument(ParseFileName());
    return statement.Release();
  }

  const TBRNObjectWord* object = readObjectWords(*this);
  if (!object) Expected(kRenameObjects);
  TBRNParsedTree statement(NewNode(tkStatement, opRename));
  statement->Variant = object->Kind;
  switch (object->Kind) {
    case okTable:
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      ExpectKeyword("TO");
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      break;
    case okIndex:
      statement->AddArgument(ParseIndexName());
      ExpectKeyword("ON");
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      ExpectKeyword("TO");
      statement->AddArgument(ParseIndexName());
      break;
    case okTrigger:
      statement->AddArgument(ParseTriggerName());
      statement->AddArgument(nullptr);
      ExpectKeyword("ON");
      statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
      ExpectKeyword("TO");
      statement->AddArgument(ParseTriggerName());
      break;
    default:
      statement->AddArgument((this->*object->NameParser)());
      ExpectKeyword("TO");
      statement->AddArgument((this->*object->NameParser)());
      break;
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseEnableStatement(TBRNParseFlags Flags) {
  return parseEnableOrDisable(Flags, opEnable);
}

TBRNExprToken* TBRNExprParser::ParseDisableStatement(TBRNParseFlags Flags) {
  return parseEnableOrDisable(Flags, opDisable);
}

// ENABLE and DISABLE share their forms. An empty first argument means all
// triggers of the table, or all jobs.
TBRNExprToken* TBRNExprParser::parseEnableOrDisable(TBRNParseFlags Flags, TBRNExprOperation Code) {
  NextToken();
  if (AcceptKeyword("TRIGGERS")) {
    ExpectKeyword("ON");
    TBRNParsedTree statement(NewNode(tkStatement, Code));
    statement->Variant = okTrigger;
    statement->AddArgument(nullptr);
    statement->AddArgument(nullptr);
    statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
    return statement.Release();
  }
  if (AcceptKeyword("TRIGGER")) {
    TBRNParsedTree statement(NewNode(tkStatement, Code));
    statement->Variant = okTrigger;
    statement->AddArgument(ParseTriggerName());
    statement->AddArgument(nullptr);
    ExpectKeyword("ON");
    statement->AddArgument(ParseTableName(plainTableFlags(Flags), ""));
    return statement.Release();
  }
  if (AcceptKeyword("JOBS")) {
    TBRNParsedTree statement(NewNode(tkStatement, Code));
    statement->Variant = okJob;
    statement->AddArgument(nullptr);
    return statement.Release();
  }
  if (AcceptKeyword("JOB")) {
    TBRNParsedTree statement(NewNode(tkStatement, Code));
    statement->Variant = okJob;
    statement->AddArgument(ParseJobName());
    return statement.Release();
  }
  Expected(kSwitchObjects);
}

TBRNExprToken* TBRNExprParser::ParseTableName(TBRNParseFlags Flags,
                                              std::string_view DefaultDatabase) {
  if (!IsIdentifierToken()) Expected("table name");
  TBRNParsedTree node(NewNode(tkTableName, opNone));
  node->DatabaseName = DefaultDatabase;
  readTableNameParts(node.Get(), Flags);
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParsePrivilege() {
  static constexpr std::array<std::string_view, 11> kWords = {
      "SELECT", "INSERT",   "UPDATE", "DELETE",  "CREATE", "ALTER",
      "DROP",   "MAINTAIN", "BACKUP", "RESTORE", "EXECUTE"};
  const std::string_view word = currentWord();
  bool known = false;
  for (std::string_view candidate : kWords)
    if (!word.empty() && TextEqualsIgnoreCase(word, candidate)) known = true;
  if (!known) Expected(kPrivileges);
  // Held until NextToken returned: it raises on an unterminated comment.
  TBRNParsedTree node(NewNode(tkPrivilege, opNone));
  node->Name = TokenText();
  NextToken();
  return node.Release();
}

TBRNExprToken* TBRNExprParser::parseNameNode(TBRNExprTokenKind Kind, std::string_view Description) {
  if (!IsIdentifierToken()) Expected(Description);
  // Held until NextToken returned: it raises on an unterminated comment or
  // quoted name.
  TBRNParsedTree node(NewNode(Kind, opNone));
  node->Name = TokenText();
  NextToken();
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseBackupName() {
  return parseNameNode(tkBackupName, "backup name");
}
TBRNExprToken* TBRNExprParser::ParseDatabaseName() {
  return parseNameNode(tkDatabaseName, "database name");
}
TBRNExprToken* TBRNExprParser::ParseUpdatesName() {
  return parseNameNode(tkUpdatesName, "updates name");
}
TBRNExprToken* TBRNExprParser::ParseTextFilterName() {
  return parseNameNode(tkTextFilterName, "text filter name");
}
TBRNExprToken* TBRNExprParser::ParseWordGeneratorName() {
  return parseNameNode(tkWordGeneratorName, "word generator name");
}
TBRNExprToken* TBRNExprParser::ParseMigratorName() {
  return parseNameNode(tkMigratorName, "migrator name");
}
TBRNExprToken* TBRNExprParser::ParseModuleName() {
  return parseNameNode(tkModuleName, "module name");
}
TBRNExprToken* TBRNExprParser::ParseJobName() {
  return parseNameNode(tkJobName, "job name");
}
TBRNExprToken* TBRNExprParser::ParseStoreName() {
  return parseNameNode(tkStoreName, "store name");
}
TBRNExprToken* TBRNExprParser::ParseFileName() {
  return parseNameNode(tkFileName, "file name");
}
TBRNExprToken* TBRNExprParser::ParseUserName() {
  return parseNameNode(tkUserName, "user name");
}
TBRNExprToken* TBRNExprParser::ParseRoleName() {
  return parseNameNode(tkRoleName, "role name");
}
TBRNExprToken* TBRNExprParser::ParseGranteeName() {
  return parseNameNode(tkGranteeName, "user or role name");
}
TBRNExprToken* TBRNExprParser::ParseColumnName() {
  return parseNameNode(tkColumnName, "column name");
}
TBRNExprToken* TBRNExprParser::ParseConstraintNameOnly() {
  return parseNameNode(tkConstraintName, "constraint name");
}
TBRNExprToken* TBRNExprParser::ParseViewName() {
  return parseNameNode(tkViewName, "view name");
}
TBRNExprToken* TBRNExprParser::ParseProcedureName() {
  return parseNameNode(tkProcedureName, "procedure name");
}
TBRNExprToken* TBRNExprParser::ParseFunctionName() {
  return parseNameNode(tkFunctionName, "function name");
}
TBRNExprToken* TBRNExprParser::ParseIndexName() {
  return parseNameNode(tkIndexName, "index name");
}
TBRNExprToken* TBRNExprParser::ParseTriggerName() {
  return parseNameNode(tkTriggerName, "trigger name");
}
TBRNExprToken* TBRNExprParser::ParseCursorName() {
  return parseNameNode(tkCursorReference, "cursor name");
}
TBRNExprToken* TBRNExprParser::ParseParameterName() {
  return parseNameNode(tkRoutineParam, "parameter name");
}

}  // namespace brn
