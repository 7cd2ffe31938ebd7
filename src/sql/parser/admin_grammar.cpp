// The administrative statements: backup and restore, compare and migrate,
// table maintenance, import and export, publishing and updates, store files,
// the store settings and the server session and job controls.
//
// Each statement is one tkStatement node (Variant 0 unless stated), created
// on the token after the verb and its fixed keywords. Every clause has a
// fixed argument index; a clause that is not written leaves nullptr there.
// A switch clause is a tkList when written; the switches of BACKUP and
// RESTORE are "TRUE" constants without a data type. Values after clause
// keywords are primaries.

#include <initializer_list>
#include <string>
#include <string_view>

#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/object_kind.h"

namespace brn {

namespace {

// The switch constant of BACKUP and RESTORE.
TBRNExprToken* newTrueSwitch(TBRNExprParser& Parser) {
  TBRNExprToken* node = Parser.NewNode(tkConstant, opNone);
  node->Text = "TRUE";
  return node;
}

// Reads the keywords of a switch clause when its first word is current: a
// tkList, else nullptr (nothing read).
TBRNExprToken* parseSwitch(TBRNExprParser& Parser, std::initializer_list<std::string_view> Words) {
  auto word = Words.begin();
  if (!Parser.IsKeyword(*word)) return nullptr;
  TBRNExprToken* node = Parser.NewNode(tkList, opNone);
  Parser.NextToken();
  try {
    for (++word; word != Words.end(); ++word) Parser.ExpectKeyword(*word);
  } catch (...) {
    FreeExprTree(node);
    throw;
  }
  return node;
}

void expectKeywords(TBRNExprParser& Parser, std::initializer_list<std::string_view> Words) {
  for (std::string_view word : Words) Parser.ExpectKeyword(word);
}

// Table names of the maintenance statements are plain identifiers.
constexpr TBRNParseFlags kPlainTableFlags = 0;

constexpr std::string_view kOnlyWithTables =
    "the ONLY clause can only be specified when the TABLES clause is not specified";

}  // namespace

// [TABLES t {"," t}]: a tkList of table names that carry Database, or
// nullptr when TABLES is not written.
TBRNExprToken* TBRNExprParser::parseTablesList(TBRNParseFlags, const std::string& Database) {
  if (!AcceptKeyword("TABLES")) return nullptr;
  TBRNParsedTree list(NewNode(tkList, opNone));
  do {
    list->AddArgument(ParseTableName(kPlainTableFlags, Database));
  } while (AcceptToken(uint8_t(',')));
  return list.Release();
}

// [USING name "=" value {"," name "=" value}]: the list is always made.
TBRNExprToken* TBRNExprParser::parseParameterAssignments(TBRNParseFlags Flags) {
  TBRNParsedTree list(NewNode(tkList, opNone));
  if (AcceptKeyword("USING")) {
    do {
      TBRNExprToken* assignment = NewNode(tkList, opNone);
      list->AddArgument(assignment);
      assignment->SetLeft(ParseParameterName());
      ExpectToken(uint8_t('='));
      assignment->SetRight(ParsePrimary(Flags));
    } while (AcceptToken(uint8_t(',')));
  }
  return list.Release();
}

TBRNExprToken* TBRNExprParser::ParseBackupStatement(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("DATABASE");
  TBRNParsedTree statement(NewNode(tkStatement, opBackup));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  ExpectKeyword("AS");
  statement->AddArgument(ParseBackupName());
  expectKeywords(*this, {"TO", "STORE"});
  statement->AddArgument(ParseStoreName());
  TBRNExprToken* tables = parseTablesList(Flags, database->Name);
  statement->AddArgument(tables);
  statement->AddArgument(AcceptKeyword("DESCRIPTION") ? ParsePrimary(Flags) : nullptr);
  statement->AddArgument(AcceptKeyword("COMPRESSION") ? ParsePrimary(Flags) : nullptr);
  if (AcceptKeyword("INCLUDE")) {
    ExpectKeyword("CATALOG");
    statement->AddArgument(newTrueSwitch(*this));
    if (IsKeyword("ONLY")) {
      if (tables) InvalidExpression(kOnlyWithTables);
      statement->AddArgument(newTrueSwitch(*this));
      NextToken();
    } else {
      statement->AddArgument(nullptr);
    }
  } else {
    statement->AddArgument(nullptr);
    statement->AddArgument(nullptr);
  }
  if (IsKeyword("EXCLUDE")) {
    statement->AddArgument(newTrueSwitch(*this));
    NextToken();
    expectKeywords(*this, {"PUBLISHED", "UPDATES"});
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRestoreStatement(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("DATABASE");
  TBRNParsedTree statement(NewNode(tkStatement, opRestore));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  ExpectKeyword("FROM");
  statement->AddArgument(ParseBackupName());
  expectKeywords(*this, {"IN", "STORE"});
  statement->AddArgument(ParseStoreName());
  TBRNExprToken* tables = parseTablesList(Flags, database->Name);
  statement->AddArgument(tables);
  TBRNExprToken* include = nullptr;
  TBRNExprToken* only = nullptr;
  TBRNExprToken* reset = nullptr;
  if (AcceptKeyword("INCLUDE")) {
    ExpectKeyword("CATALOG");
    include = newTrueSwitch(*this);
    statement->AddArgument(include);
    if (IsKeyword("ONLY")) {
      if (tables) InvalidExpression(kOnlyWithTables);
      only = newTrueSwitch(*this);
      statement->AddArgument(only);
      NextToken();
    } else {
      statement->AddArgument(nullptr);
    }
    if (IsKeyword("RESET")) {
      reset = newTrueSwitch(*this);
      statement->AddArgument(reset);
      NextToken();
      expectKeywords(*this, {"PUBLISHED", "TABLES"});
    } else {
      statement->AddArgument(nullptr);
    }
  } else {
    for (int32_t i = 4; i <= 6; ++i) statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCompareStatement(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("DATABASE");
  TBRNParsedTree statement(NewNode(tkStatement, opCompare));
  statement->AddArgument(ParseDatabaseName());
  ExpectKeyword("TO");
  statement->AddArgument(ParseDatabaseName());
  if (AcceptKeyword("STATEMENT")) {
    expectKeywords(*this, {"TERM", "CHAR"});
    statement->AddArgument(ParsePrimary(Flags));
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseMigrateStatement(TBRNParseFlags Flags) {
  NextToken();
  expectKeywords(*this, {"DATABASE", "FROM"});
  TBRNParsedTree statement(NewNode(tkStatement, opMigrate));
  statement->AddArgument(ParseMigratorName());
  statement->AddArgument(parseParameterAssignments(Flags));
  if (AcceptKeyword("WITH")) {
    if (AcceptKeyword("NO")) {
      ExpectKeyword("DATA");
      statement->AddArgument(nullptr);
    } else {
      CheckKeyword("DATA");
      statement->AddArgument(NewNode(tkList, opNone));
      NextToken();
    }
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRepairStatement(TBRNParseFlags) {
  NextToken();
  ExpectKeyword("TABLE");
  TBRNParsedTree statement(NewNode(tkStatement, opRepair));
  statement->AddArgument(ParseTableName(kPlainTableFlags, ""));
  statement->AddArgument(parseSwitch(*this, {"STRUCTURE", "ONLY"}));
  statement->AddArgument(parseSwitch(*this, {"STATISTICS"}));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseVerifyStatement(TBRNParseFlags) {
  NextToken();
  ExpectKeyword("TABLE");
  TBRNParsedTree statement(NewNode(tkStatement, opVerify));
  statement->AddArgument(ParseTableName(kPlainTableFlags, ""));
  statement->AddArgument(parseSwitch(*this, {"STRUCTURE", "ONLY"}));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseOptimizeStatement(TBRNParseFlags) {
  NextToken();
  ExpectKeyword("TABLE");
  TBRNParsedTree statement(NewNode(tkStatement, opOptimize));
  statement->AddArgument(ParseTableName(kPlainTableFlags, ""));
  statement->AddArgument(AcceptKeyword("USING") ? ParseIndexName() : nullptr);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseEmptyStatement(TBRNParseFlags) {
  NextToken();
  ExpectKeyword("TABLE");
  TBRNParsedTree statement(NewNode(tkStatement, opEmpty));
  statement->AddArgument(ParseTableName(kPlainTableFlags, ""));
  statement->AddArgument(parseSwitch(*this, {"IGNORE", "CONSTRAINTS"}));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseImportStatement(TBRNParseFlags Flags) {
  return parseImportExport(Flags, opImport);
}

TBRNExprToken* TBRNExprParser::ParseExportStatement(TBRNParseFlags Flags) {
  return parseImportExport(Flags, opExport);
}

// IMPORT and EXPORT share their layout: Variant the file format (0
// delimited, 1 XML); arguments table, file, store, columns, encoding,
// delimiter, quote, the four format options, headers switch, MAX ROWS.
TBRNExprToken* TBRNExprParser::parseImportExport(TBRNParseFlags Flags, TBRNExprOperation Code) {
  const bool isImport = Code == opImport;
  NextToken();
  ExpectKeyword("TABLE");
  TBRNParsedTree statement(NewNode(tkStatement, Code));
  statement->AddArgument(ParseTableName(Flags, ""));
  ExpectKeyword(isImport ? "FROM" : "TO");
  statement->AddArgument(ParseFileName());
  expectKeywords(*this, {"IN", "STORE"});
  statement->AddArgument(ParseStoreName());

  if (AcceptToken(uint8_t('('))) {
    TBRNExprToken* columns = NewNode(tkList, opNone);
    statement->AddArgument(columns);
    do {
      columns->AddArgument(ParseColumnName());
    } while (AcceptToken(uint8_t(',')));
    ExpectToken(uint8_t(')'));
  } else {
    statement->AddArgument(nullptr);
  }

  if (AcceptKeyword("FORMAT")) {
    if (AcceptKeyword("XML"))
      statement->Variant = 1;
    else if (!AcceptKeyword("DELIMITED"))
      Expected("DELIMITED, XML");
  }

  TBRNExprToken* encoding = NewNode(tkList, opNone);
  encoding->Variant = -1;
  statement->AddArgument(encoding);
  if (AcceptKeyword("ENCODING")) {
    if (IsKeyword("ANSI"))
      encoding->Variant = 0;
    else if (IsKeyword("UNICODE"))
      encoding->Variant = 1;
    else if (!IsKeyword("AUTO"))
      Expected("AUTO, ANSI, UNICODE");
    NextToken();
  }

  // An XML file has no delimiter: a DELIMITER written there is left to the
  // end check of the statement.
  if (statement->Variant == 0 && AcceptKeyword("DELIMITER")) {
    ExpectKeyword("CHAR");
    statement->AddArgument(ParsePrimary(Flags));
  } else {
    statement->AddArgument(nullptr);
  }
  if (AcceptKeyword("QUOTE")) {
    ExpectKeyword("CHAR");
    statement->AddArgument(ParsePrimary(Flags));
  } else {
    statement->AddArgument(nullptr);
  }
  ParseFormatOptions(statement.Get());
  statement->AddArgument(parseSwitch(
      *this, {isImport ? std::string_view("USE") : std::string_view("INCLUDE"), "HEADERS"}));
  if (AcceptKeyword("MAX")) {
    ExpectKeyword("ROWS");
    statement->AddArgument(ParseSigned(Flags));
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParsePublishStatement(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("DATABASE");
  TBRNParsedTree statement(NewNode(tkStatement, opPublish));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  statement->AddArgument(parseTablesList(Flags, database->Name));
  if (AcceptKeyword("BY")) {
    TBRNExprToken* by = NewNode(tkList, opNone);
    statement->AddArgument(by);
    if (IsKeyword("ROW"))
      by->Variant = 1;
    else if (!IsKeyword("COLUMN"))
      Expected("COLUMN, ROW");
    NextToken();
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseUnpublishStatement(TBRNParseFlags Flags) {
  NextToken();
  ExpectKeyword("DATABASE");
  TBRNParsedTree statement(NewNode(tkStatement, opUnpublish));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  statement->AddArgument(parseTablesList(Flags, database->Name));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseSaveStatement(TBRNParseFlags Flags) {
  NextToken();
  expectKeywords(*this, {"UPDATES", "FOR", "DATABASE"});
  TBRNParsedTree statement(NewNode(tkStatement, opSaveUpdates));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  ExpectKeyword("AS");
  statement->AddArgument(ParseUpdatesName());
  expectKeywords(*this, {"TO", "STORE"});
  statement->AddArgument(ParseStoreName());
  statement->AddArgument(parseTablesList(Flags, database->Name));
  statement->AddArgument(AcceptKeyword("DESCRIPTION") ? ParsePrimary(Flags) : nullptr);
  statement->AddArgument(AcceptKeyword("COMPRESSION") ? ParsePrimary(Flags) : nullptr);
  statement->AddArgument(parseSwitch(*this, {"IF", "NOT", "EMPTY"}));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseLoadStatement(TBRNParseFlags Flags) {
  NextToken();
  expectKeywords(*this, {"UPDATES", "FOR", "DATABASE"});
  TBRNParsedTree statement(NewNode(tkStatement, opLoadUpdates));
  TBRNExprToken* database = ParseDatabaseName();
  statement->AddArgument(database);
  ExpectKeyword("FROM");
  statement->AddArgument(ParseUpdatesName());
  expectKeywords(*this, {"IN", "STORE"});
  statement->AddArgument(ParseStoreName());
  statement->AddArgument(parseTablesList(Flags, database->Name));
  statement->AddArgument(parseSwitch(*this, {"IGNORE", "MISSING", "UPDATES"}));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCopyStatement(TBRNParseFlags) {
  NextToken();
  ExpectKeyword("FILE");
  TBRNParsedTree statement(NewNode(tkStatement, opCopyFile));
  statement->AddArgument(ParseFileName());
  expectKeywords(*this, {"IN", "STORE"});
  statement->AddArgument(ParseStoreName());
  ExpectKeyword("TO");
  statement->AddArgument(ParseFileName());
  if (AcceptKeyword("IN")) {
    ExpectKeyword("STORE");
    statement->AddArgument(ParseStoreName());
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseSetStoreStatement(TBRNParseFlags Flags) {
  NextToken();
  if (AcceptKeyword("MIGRATOR")) {
    ExpectKeyword("TO");
    TBRNParsedTree statement(NewNode(tkStatement, opSetMigrator));
    statement->AddArgument(ParseMigratorName());
    statement->AddArgument(parseParameterAssignments(Flags));
    return statement.Release();
  }
  TBRNExprOperation code = opNone;
  if (IsKeyword("BACKUPS"))
    code = opSetBackupsStore;
  else if (IsKeyword("FILES"))
    code = opSetFilesStore;
  else if (IsKeyword("UPDATES"))
    code = opSetUpdatesStore;
  else
    Expected("BACKUPS, FILES, UPDATES");
  NextToken();
  expectKeywords(*this, {"STORE", "TO"});
  TBRNParsedTree statement(NewNode(tkStatement, code));
  statement->AddArgument(ParseStoreName());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseDisconnectStatement(TBRNParseFlags Flags) {
  NextToken();
  expectKeywords(*this, {"SERVER", "SESSION"});
  TBRNParsedTree statement(NewNode(tkStatement, opDisconnect));
  statement->AddArgument(ParsePrimary(Flags));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRemoveStatement(TBRNParseFlags Flags) {
  NextToken();
  expectKeywords(*this, {"SERVER", "SESSION"});
  TBRNParsedTree statement(NewNode(tkStatement, opRemove));
  statement->AddArgument(ParsePrimary(Flags));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseResetStatement(TBRNParseFlags Flags) {
  NextToken();
  if (AcceptKeyword("SERVER")) {
    expectKeywords(*this, {"SESSION", "STATISTICS"});
    TBRNParsedTree statement(NewNode(tkStatement, opReset));
    statement->Variant = okServerSessionStatistics;
    statement->AddArgument(ParsePrimary(Flags));
    return statement.Release();
  }
  if (AcceptKeyword("JOB")) {
    TBRNParsedTree statement(NewNode(tkStatement, opReset));
    statement->Variant = okJob;
    statement->AddArgument(ParseJobName());
    return statement.Release();
  }
  Expected("SERVER SESSION STATISTICS, JOB");
}

}  // namespace brn
