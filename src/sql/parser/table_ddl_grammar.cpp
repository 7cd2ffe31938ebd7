// CREATE TABLE and ALTER TABLE bodies: column definitions, column and table
// constraints, referential actions, LIKE with its copy options, the AS and
// FROM UPDATES forms and the table attributes.
//
// Every clause stands at a fixed argument index of its node, and a clause
// that is not written is a nil argument there: the validator and the table
// DDL execution read the clauses by index.

#include <array>
#include <string>
#include <string_view>

#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

// Words that start a table constraint (CREATE TABLE element, ALTER TABLE
// alteration).
bool startsConstraint(const TBRNExprParser& Parser) {
  return Parser.IsKeyword("CONSTRAINT") || Parser.IsKeyword("PRIMARY") ||
         Parser.IsKeyword("UNIQUE") || Parser.IsKeyword("FOREIGN") || Parser.IsKeyword("CHECK");
}

// Appends Count nil arguments.
void addEmpty(TBRNExprToken* Node, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) Node->AddArgument(nullptr);
}

// The six LIKE copy options, in the order of their slots.
constexpr std::array<std::string_view, 6> kCopyOptions = {"IDENTITY",    "DEFAULTS", "GENERATED",
                                                          "CONSTRAINTS", "INDEXES",  "TRIGGERS"};

// The four MAX ... BUFFER SIZE clauses and their argument indexes.
constexpr std::array<std::string_view, 4> kBufferWords = {"ROW", "INDEX", "BLOB", "PUBLISH"};
constexpr int32_t kFirstBufferArgument = 12;

// Argument indexes of the table attributes.
enum : int32_t {
  taDescription = 4,
  taVersion = 5,
  taReadOnly = 6,
  taEncrypted = 7,
  taIndexPageSize = 8,
  taBlobBlockSize = 9,
  taPublishBlockSize = 10,
  taPublishCompression = 11,
  taAttributes = 16,
  taCount = 17,
};

// Argument indexes of a column definition.
enum : int32_t {
  cdValue = 2,
  cdDescription = 5,
  cdPosition = 6,
  cdAlterCount = 8,
};

}  // namespace

TBRNExprToken* TBRNExprParser::parseOptionalValue(std::string_view Word) {
  if (!AcceptKeyword(Word)) return nullptr;
  return ParsePrimary(0);
}

// ---------------------------------------------------------------------------
// CREATE TABLE

void TBRNExprParser::ParseCreateTableBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(nullptr);  // AS clause
  Statement->AddArgument(nullptr);  // FROM UPDATES clause
  TBRNExprToken* elements = NewNode(tkList, opNone);
  Statement->AddArgument(elements);

  if (IsKeyword("AS")) {
    TBRNExprToken* as = NewNode(tkList, opNone);
    Statement->SetArgument(1, as);
    NextToken();
    const TBRNParseFlags queryFlags = (Flags & ~pcInto) | pcNoRange | pcNoOrderBy;
    if (AcceptToken('(')) {
      TBRNExprToken* query = ParseQuery(queryFlags);
      as->AddArgument(query);
      query->Parenthesized = true;
      ExpectToken(')');
    } else {
      as->AddArgument(ParseQuery(queryFlags));
    }
    ExpectKeyword("WITH");
    if (AcceptKeyword("NO")) {
      ExpectKeyword("DATA");
      as->AddArgument(nullptr);
    } else {
      CheckKeyword("DATA");
      as->AddArgument(NewNode(tkList, opNone));
      NextToken();
    }
    return;
  }

  if (IsKeyword("FROM")) {
    TBRNExprToken* from = NewNode(tkList, opNone);
    Statement->SetArgument(2, from);
    NextToken();
    ExpectKeyword("UPDATES");
    from->AddArgument(ParseUpdatesName());
    ExpectKeyword("IN");
    ExpectKeyword("STORE");
    from->AddArgument(ParseStoreName());
    return;
  }

  ExpectToken('(');
  do elements->AddArgument(parseTableElement(Flags));
  while (AcceptToken(','));
  ExpectToken(')');
}

TBRNExprToken* TBRNExprParser::parseTableElement(TBRNParseFlags Flags) {
  TBRNParsedTree element(NewNode(tkList, opAdd));
  if (startsConstraint(*this)) {
    TBRNExprToken* constraint = ParseConstraint((Flags | pcColumnListRequired) & ~pcNoColumnList);
    element->AddArgument(constraint);
    constraint->AddArgument(ParseErrorClause());
    constraint->AddArgument(ParseConstraintDescription());
    return element.Release();
  }

  if (AcceptKeyword("LIKE")) {
    TBRNExprToken* source = ParseTableName(Flags, "");
    element->AddArgument(source);
    addEmpty(source, int32_t(kCopyOptions.size()));
    // INCLUDING names an option not yet included; EXCLUDING names any option
    // and changes nothing.
    const auto missingOptions = [source] {
      std::string missing;
      for (size_t i = 0; i < kCopyOptions.size(); ++i)
        if (!source->Argument(int32_t(i))) AppendName(missing, kCopyOptions[i]);
      return missing;
    };
    while (!missingOptions().empty() && (IsKeyword("INCLUDING") || IsKeyword("EXCLUDING"))) {
      const bool including = IsKeyword("INCLUDING");
      NextToken();
      int32_t option = -1;
      for (size_t i = 0; i < kCopyOptions.size(); ++i)
        if (IsKeyword(kCopyOptions[i])) option = int32_t(i);
      if (option < 0 || (including && source->Argument(option))) Expected(missingOptions());
      if (including) source->SetArgument(option, NewNode(tkList, opNone));
      NextToken();
    }
    return element.Release();
  }

  TBRNExprToken* column = ParseColumnName();
  element->AddArgument(column);
  parseColumnDefinition(column, Flags, false, false);
  return element.Release();
}

// ---------------------------------------------------------------------------
// Column definitions

void TBRNExprParser::parseColumnDefinition(TBRNExprToken* Column, TBRNParseFlags Flags, bool Alter,
                                           bool Add) {
  TBRNExprToken* type = NewNode(tkDataType, opNone);
  Column->AddArgument(type);
  ParseDataType(type, false, true);
  Column->AddArgument(ParseCompressionClause());
  if (IsKeyword("GENERATED"))
    Column->AddArgument(ParseGeneratedClause());
  else if (IsKeyword("COMPUTED"))
    Column->AddArgument(ParseComputedClause());
  else
    Column->AddArgument(ParseDefaultClause(true));
  Column->AddArgument(ParseNotNullClause());

  // A column's constraints follow each other without separators; the words
  // that may follow a definition end the list.
  static constexpr std::array<std::string_view, 10> kCreateStops = {
      "DESCRIPTION", "VERSION", "ATTRIBUTES", "READONLY", "ENCRYPTED",
      "INDEX",       "BLOB",    "PUBLISH",    "MAX",      ""};
  static constexpr std::array<std::string_view, 10> kAlterStops = {
      "DESCRIPTION", "AT",   "VERSION", "ATTRIBUTES", "ENCRYPTED",
      "INDEX",       "BLOB", "PUBLISH", "MAX",        ""};
  const auto atStop = [&] {
    if (TokenAtEnd() || IsToken(',') || IsToken(uint8_t(GetTerminator()))) return true;
    if (!Alter && IsToken(')')) return true;
    for (std::string_view word : Alter ? kAlterStops : kCreateStops)
      if (!word.empty() && IsKeyword(word)) return true;
    return false;
  };
  if (atStop()) {
    Column->AddArgument(nullptr);
  } else {
    TBRNExprToken* constraints = NewNode(tkList, opNone);
    Column->AddArgument(constraints);
    const TBRNParseFlags constraintFlags = (Flags & ~pcColumnListRequired) | pcNoColumnList;
    do {
      TBRNExprToken* constraint = ParseConstraint(constraintFlags);
      constraints->AddArgument(constraint);
      constraint->AddArgument(ParseErrorClause());
    } while (!atStop());
  }

  Column->AddArgument(ParseColumnDescription());
  if (!Alter) return;
  Column->AddArgument(Add ? parseOptionalValue("AT") : nullptr);
  Column->AddArgument(nullptr);
}

TBRNExprToken* TBRNExprParser::ParseCompressionClause() {
  if (!IsKeyword("COMPRESSION")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opNone));
  NextToken();
  clause->AddArgument(ParsePrimary(0));
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseGeneratedClause() {
  if (!IsKeyword("GENERATED")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opGeneratedIdentity));
  NextToken();
  if (AcceptKeyword("ALWAYS")) {
    ExpectKeyword("AS");
    if (!IsKeyword("IDENTITY")) {
      clause->Operation = opGenerated;
      BeginCapture();
      clause->AddArgument(ParseDisjunction(pcNotNullEnds));
      clause->Text = EndCapture();
      return clause.Release();
    }
  } else if (AcceptKeyword("BY")) {
    clause->Operation = opGeneratedByDefault;
    ExpectKeyword("DEFAULT");
    ExpectKeyword("AS");
  } else {
    Expected("ALWAYS, BY");
  }
  ExpectKeyword("IDENTITY");
  addEmpty(clause.Get(), 2);
  if (AcceptToken('(')) {
    ExpectKeyword("START");
    ExpectKeyword("WITH");
    clause->SetArgument(0, ParsePrimary(0));
    if (AcceptToken(',')) {
      ExpectKeyword("INCREMENT");
      ExpectKeyword("BY");
      clause->SetArgument(1, ParsePrimary(0));
    }
    ExpectToken(')');
  }
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseComputedClause() {
  if (!IsKeyword("COMPUTED")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opComputed));
  NextToken();
  ExpectKeyword("ALWAYS");
  ExpectKeyword("AS");
  BeginCapture();
  clause->AddArgument(ParseDisjunction(pcNotNullEnds | pcNoUserFunctions));
  clause->Text = EndCapture();
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseDefaultClause(bool KeywordRequired) {
  if (KeywordRequired && !AcceptKeyword("DEFAULT")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opDefault));
  BeginCapture();
  TBRNExprToken* value = ParseValueExpression(0);
  clause->AddArgument(value);
  clause->Text = EndCapture();
  // The stored default must read back as the same literal: keep a byte
  // string's X prefix even where the scanner's token starts at the quote.
  if (value->Kind == tkConstant && value->DataType == dtBytes && !clause->Text.empty() &&
      clause->Text[0] != 'X' && clause->Text[0] != 'x')
    clause->Text.insert(0, 1, 'X');
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseNotNullClause() {
  if (!IsKeyword("NOT")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opNone));
  NextToken();
  ExpectKeyword("NULL");
  if (AcceptKeyword("ERROR")) {
    ExpectKeyword("CODE");
    clause->AddArgument(ParsePrimary(0));
    ExpectKeyword("MESSAGE");
    clause->AddArgument(ParsePrimary(0));
  } else {
    addEmpty(clause.Get(), 2);
  }
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseColumnDescription() {
  return parseOptionalValue("DESCRIPTION");
}

// ---------------------------------------------------------------------------
// Constraints

TBRNExprToken* TBRNExprParser::ParseConstraint(TBRNParseFlags Flags) {
  TBRNParsedTree constraint(AcceptKeyword("CONSTRAINT") ? ParseConstraintNameOnly()
                                                        : NewNode(tkConstraintName, opNone));
  ParseConstraintBody(constraint.Get(), Flags);
  return constraint.Release();
}

void TBRNExprParser::ParseConstraintBody(TBRNExprToken* Constraint, TBRNParseFlags Flags) {
  if (IsKeyword("PRIMARY") || IsKeyword("UNIQUE")) {
    const bool primary = IsKeyword("PRIMARY");
    Constraint->Operation = primary ? opPrimaryKey : opUnique;
    NextToken();
    if (primary) ExpectKeyword("KEY");
    Constraint->AddArgument(ParseConstraintColumnList(Flags));
    addEmpty(Constraint, 4);
    return;
  }
  // FOREIGN KEY (columns) REFERENCES, or a column's REFERENCES alone.
  const bool foreign = IsKeyword("FOREIGN");
  if (foreign || ((Flags & pcNoColumnList) && IsKeyword("REFERENCES"))) {
    Constraint->Operation = opForeignKey;
    NextToken();
    if (foreign) {
      ExpectKeyword("KEY");
      Constraint->AddArgument(ParseConstraintColumnList(Flags));
      ExpectKeyword("REFERENCES");
    } else {
      Constraint->AddArgument(nullptr);
    }
    Constraint->AddArgument(ParseTableName(Flags & ~pcSchemaQualifier, ""));
    Constraint->AddArgument(
        ParseConstraintColumnList((Flags | pcColumnListRequired) & ~pcNoColumnList));
    ParseReferentialActions(Constraint);
    return;
  }
  if (IsKeyword("CHECK")) {
    Constraint->Operation = opCheck;
    NextToken();
    BeginCapture();
    Constraint->AddArgument(ParseDisjunction(0));
    Constraint->Text = EndCapture();
    addEmpty(Constraint, 4);
    return;
  }
  Expected("PRIMARY, UNIQUE, FOREIGN, REFERENCES, CHECK");
}

TBRNExprToken* TBRNExprParser::ParseErrorClause() {
  if (!IsKeyword("ERROR")) return nullptr;
  TBRNParsedTree clause(NewNode(tkList, opNone));
  NextToken();
  ExpectKeyword("CODE");
  clause->AddArgument(ParsePrimary(0));
  ExpectKeyword("MESSAGE");
  clause->AddArgument(ParsePrimary(0));
  return clause.Release();
}

TBRNExprToken* TBRNExprParser::ParseConstraintDescription() {
  return parseOptionalValue("DESCRIPTION");
}

TBRNExprToken* TBRNExprParser::ParseConstraintColumnList(TBRNParseFlags Flags) {
  if (Flags & pcNoColumnList) return nullptr;
  if (Flags & pcColumnListRequired) CheckToken('(');
  if (!IsToken('(')) return nullptr;
  TBRNParsedTree columns(NewNode(tkList, opNone));
  NextToken();
  do columns->AddArgument(ParseColumnName());
  while (AcceptToken(','));
  ExpectToken(')');
  return columns.Release();
}

void TBRNExprParser::ParseReferentialActions(TBRNExprToken* Constraint) {
  // The update action always stands at index 3 and the delete action at 4;
  // UPDATE comes first when both are written.
  Constraint->AddArgument(nullptr);
  Constraint->AddArgument(nullptr);
  const int32_t updateIndex = Constraint->ArgumentCount() - 2;
  if (!AcceptKeyword("ON")) return;
  if (AcceptKeyword("UPDATE")) {
    Constraint->SetArgument(updateIndex, ParseReferentialAction());
    if (!AcceptKeyword("ON")) return;
    ExpectKeyword("DELETE");
  } else if (!AcceptKeyword("DELETE")) {
    Expected("UPDATE, DELETE");
  }
  Constraint->SetArgument(updateIndex + 1, ParseReferentialAction());
}

TBRNExprToken* TBRNExprParser::ParseReferentialAction() {
  TBRNExprOperation action = opNone;
  if (IsKeyword("CASCADE")) {
    action = opCascade;
  } else if (IsKeyword("RESTRICT")) {
    action = opRestrict;
  } else if (AcceptKeyword("SET")) {
    if (IsKeyword("NULL"))
      action = opSetNull;
    else if (IsKeyword("DEFAULT"))
      action = opSetColumn;
    else
      Expected("NULL, DEFAULT");
  } else if (AcceptKeyword("NO")) {
    // NO ACTION leaves the slot empty.
    ExpectKeyword("ACTION");
    return nullptr;
  } else {
    Expected("CASCADE, SET, RESTRICT, NO");
  }
  TBRNParsedTree node(NewNode(tkList, action));
  NextToken();
  return node.Release();
}

// ---------------------------------------------------------------------------
// ALTER TABLE

void TBRNExprParser::ParseAlterTableBody(TBRNExprToken* Statement, TBRNParseFlags Flags) {
  Statement->AddArgument(nullptr);
  Statement->AddArgument(nullptr);
  TBRNExprToken* alterations = NewNode(tkList, opNone);
  Statement->AddArgument(alterations);
  // The first alteration is optional (ALTER TABLE t with attributes only);
  // after a "," one is required.
  const auto startsAlteration = [this] {
    return IsKeyword("ADD") || IsKeyword("ALTER") || IsKeyword("RENAME") || IsKeyword("DROP");
  };
  if (!startsAlteration()) return;
  do {
    if (!startsAlteration()) Expected("ADD, ALTER, RENAME, DROP");
    alterations->AddArgument(parseAlteration(Flags));
  } while (AcceptToken(','));
}

TBRNExprToken* TBRNExprParser::parseAlteration(TBRNParseFlags Flags) {
  TBRNExprOperation action = opAdd;
  if (IsKeyword("ALTER"))
    action = opAlter;
  else if (IsKeyword("RENAME"))
    action = opRename;
  else if (IsKeyword("DROP"))
    action = opDrop;
  TBRNParsedTree alteration(NewNode(tkList, action));
  NextToken();

  if (startsConstraint(*this)) {
    if (action == opAdd) {
      TBRNExprToken* constraint = ParseConstraint((Flags | pcColumnListRequired) & ~pcNoColumnList);
      alteration->AddArgument(constraint);
      constraint->AddArgument(ParseErrorClause());
      constraint->AddArgument(ParseConstraintDescription());
      return alteration.Release();
    }
    ExpectKeyword("CONSTRAINT");
    TBRNExprToken* constraint = ParseConstraintNameOnly();
    alteration->AddArgument(constraint);
    if (action == opAlter) {
      if (AcceptKeyword("AS")) {
        ParseConstraintBody(constraint, (Flags | pcColumnListRequired) & ~pcNoColumnList);
        constraint->AddArgument(ParseErrorClause());
        constraint->AddArgument(ParseConstraintDescription());
      } else if (AcceptKeyword("DESCRIPTION")) {
        constraint->Operation = opDescription;
        addEmpty(constraint, 5);
        constraint->AddArgument(ParsePrimary(0));
      } else {
        Expected("AS, DESCRIPTION");
      }
    } else if (action == opRename) {
      ExpectKeyword("TO");
      constraint->AddArgument(ParseConstraintNameOnly());
    }
    return alteration.Release();
  }

  AcceptKeyword("COLUMN");
  TBRNExprToken* column = ParseColumnName();
  alteration->AddArgument(column);
  switch (action) {
    case opAdd:
      parseColumnDefinition(column, Flags, true, true);
      break;
    case opRename:
      ExpectKeyword("TO");
      column->AddArgument(ParseColumnName());
      break;
    case opDrop:
      break;
    default:
      if (AcceptKeyword("AS")) {
        parseColumnDefinition(column, Flags, true, false);
      } else if (AcceptKeyword("MOVE")) {
        ExpectKeyword("TO");
        column->Operation = opMoveTo;
        addEmpty(column, cdPosition);
        column->AddArgument(ParsePrimary(0));
        column->AddArgument(nullptr);
      } else if (AcceptKeyword("SET")) {
        // The value follows SET directly: SET DEFAULT 5 reads DEFAULT as the
        // value and leaves 5 over.
        column->Operation = opSetColumn;
        addEmpty(column, cdValue);
        column->AddArgument(ParseDefaultClause(false));
        addEmpty(column, cdAlterCount - cdValue - 1);
      } else if (AcceptKeyword("DROP")) {
        ExpectKeyword("DEFAULT");
        column->Operation = opDropDefault;
        addEmpty(column, cdAlterCount);
      } else if (AcceptKeyword("DESCRIPTION")) {
        column->Operation = opDescription;
        addEmpty(column, cdDescription);
        column->AddArgument(ParsePrimary(0));
        addEmpty(column, cdAlterCount - cdDescription - 1);
      } else if (AcceptKeyword("RESTART")) {
        ExpectKeyword("WITH");
        column->Operation = opRestartWith;
        addEmpty(column, cdAlterCount - 1);
        column->AddArgument(ParsePrimary(0));
      } else {
        Expected("SET, DROP, MOVE, DESCRIPTION, RESTART");
      }
      break;
  }
  return alteration.Release();
}

// ---------------------------------------------------------------------------
// Table attributes

void TBRNExprParser::ParseTableAttributes(TBRNExprToken* Statement) {
  Statement->SetArgumentCount(taCount);
  const auto switchConstant = [this](bool Value) {
    TBRNParsedTree node(NewNode(tkConstant, opNone));
    node->Text = Value ? "TRUE" : "FALSE";
    node->SetDataType(dtBoolean);
    NextToken();
    return node.Release();
  };
  // Value clause: Words (all required once the first is read), then a
  // primary.
  const auto clause = [this, Statement](int32_t Index,
                                        std::initializer_list<std::string_view> Words) {
    bool first = true;
    for (std::string_view word : Words) {
      if (first && !IsKeyword(word)) return;
      ExpectKeyword(word);
      first = false;
    }
    Statement->SetArgument(Index, ParsePrimary(0));
  };

  clause(taDescription, {"DESCRIPTION"});
  clause(taVersion, {"VERSION"});
  if (IsKeyword("READONLY") || IsKeyword("READWRITE"))
    Statement->SetArgument(taReadOnly, switchConstant(IsKeyword("READONLY")));
  if (IsKeyword("ENCRYPTED") || IsKeyword("UNENCRYPTED"))
    Statement->SetArgument(taEncrypted, switchConstant(IsKeyword("ENCRYPTED")));
  clause(taIndexPageSize, {"INDEX", "PAGE", "SIZE"});
  clause(taBlobBlockSize, {"BLOB", "BLOCK", "SIZE"});

  if (AcceptKeyword("PUBLISH")) {
    if (AcceptKeyword("BLOCK")) {
      ExpectKeyword("SIZE");
      Statement->SetArgument(taPublishBlockSize, ParsePrimary(0));
      clause(taPublishCompression, {"PUBLISH", "COMPRESSION"});
    } else if (AcceptKeyword("COMPRESSION")) {
      Statement->SetArgument(taPublishCompression, ParsePrimary(0));
    } else {
      Expected("BLOCK, COMPRESSION");
    }
  }

  // The MAX clauses in any order, each once; once all four are read a
  // further MAX is left over for the caller.
  const auto bufferMissing = [Statement] {
    for (size_t i = 0; i < kBufferWords.size(); ++i)
      if (!Statement->Argument(kFirstBufferArgument + int32_t(i))) return true;
    return false;
  };
  while (bufferMissing() && AcceptKeyword("MAX")) {
    int32_t found = -1;
    std::string missing;
    for (size_t i = 0; i < kBufferWords.size(); ++i) {
      const int32_t index = kFirstBufferArgument + int32_t(i);
      if (Statement->Argument(index)) continue;
      AppendName(missing, kBufferWords[i]);
      if (IsKeyword(kBufferWords[i])) found = index;
    }
    if (found < 0) Expected(missing);
    NextToken();
    ExpectKeyword("BUFFER");
    ExpectKeyword("SIZE");
    Statement->SetArgument(found, ParsePrimary(0));
  }

  clause(taAttributes, {"ATTRIBUTES"});
}

}  // namespace brn
