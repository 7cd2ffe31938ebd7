#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types/data_types.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token_kind.h"
#include "sql/tree/lexer.h"

namespace brn {

class TBRNCompiledExpr;
class TBRNExprToken;

// The hand-written recursive-descent parser of the SQL dialect. A compiled
// expression (the owner) hands it its text and receives a syntax tree, or the
// first error raised as error 700 through the owner's ReportError.
//
// This class is the frame that every grammar method shares: the dispatch
// tables, the token helpers, one-token lookahead, text capture, node creation,
// the three error forms, the nesting limit and the entry points. The grammar
// methods are members of this class, defined in their own source files.
//
// Grammar method contract: a parse method takes the context flags and returns
// a new node (or subtree) that its caller owns. An error never returns (it
// unwinds as an exception), so a method that has built nodes holds them in a
// TBRNParsedTree until it hands them on; a failed parse leaves no tree behind.
// A method that can reach itself again (directly or through other levels)
// without consuming a token first holds a TBRNParseNesting while it does.
//
// A session owns one parser and reuses it for every compile; it is used by
// one thread at a time. The owner must stay alive and keep its text unchanged
// from BeginParse to the end of the parse.
class TBRNExprParser : public TBRNExprLexer {
 public:
  // A bound parse method; an empty entry is nullptr.
  using TBRNParseMethod = TBRNExprToken* (TBRNExprParser::*)(TBRNParseFlags Flags);

  // Operation-code ranges of the dispatch tables.
  static constexpr int32_t FirstFunctionCode = 17;
  static constexpr int32_t LastFunctionCode = 109;
  static constexpr int32_t FirstStatementCode = 215;
  static constexpr int32_t LastStatementCode = 255;
  static constexpr int32_t FirstRoutineStatementCode = 182;
  static constexpr int32_t LastRoutineStatementCode = 214;

  // How deeply constructs may nest (parentheses, subqueries, blocks) before
  // the parse is refused with "nested too deeply": hostile text must not run
  // the parser out of stack.
  static constexpr int32_t MaxNestingDepth = 256;

  // Fills the dispatch tables; nothing else is allocated until BeginParse.
  TBRNExprParser();
  ~TBRNExprParser() override;

  // Starts a parse of Owner's text: resets the scanner, the capture stack and
  // the nesting depth, and reads the first token (an unterminated comment
  // there is reported at once).
  void BeginParse(TBRNCompiledExpr& Owner);
  // A boolean expression that must span the whole text.
  TBRNExprToken* ParseExpression(TBRNParseFlags Flags);
  // One statement: its verb selects the parse method; the owner's terminator
  // character follows (required with pcTerminator, else optional) and then
  // only blanks and comments.
  TBRNExprToken* ParseStatement(TBRNParseFlags Flags);

  // Token helpers, all on the current token; "consume" reads the next one.
  // Accept: consume and answer true when the test holds. Check: report the
  // missing kind or word when it fails. Expect: check, then consume.
  bool AcceptToken(uint8_t Kind);
  bool AcceptKeyword(std::string_view Word);
  void CheckToken(uint8_t Kind);
  void CheckKeyword(std::string_view Word);
  void ExpectToken(uint8_t Kind);
  void ExpectKeyword(std::string_view Word);
  // Whether the token after the current one is Kind (Word); the scanner is
  // left as it was. Peeks do not nest.
  bool PeekToken(uint8_t Kind);
  bool PeekKeyword(std::string_view Word);
  // The owner's statement terminator character.
  char GetTerminator() const;
  // Appends ", " and Word to Text, or sets Text to Word when it is empty (the
  // list of still-possible words for an Expected report).
  static void AppendName(std::string& Text, std::string_view Word);

  // The parse methods of a function, statement or procedural code; nullptr
  // when the code has none.
  TBRNParseMethod FunctionParser(TBRNExprOperation Code) const;
  TBRNParseMethod StatementParser(TBRNExprOperation Code) const;
  TBRNParseMethod RoutineStatementParser(TBRNExprOperation Code) const;

  // Text capture: BeginCapture starts at the current token; EndCapture
  // answers the text from there up to (not including) the current token, as
  // written (blanks and comments after the last token of the construct
  // included), and returns to the enclosing capture. Captures nest.
  void BeginCapture();
  std::string EndCapture();

  // A new node with the position of the current token (Line: the statement
  // line remembered by MarkStatementLine for tkRoutineStatement). The caller
  // owns it.
  TBRNExprToken* NewNode(TBRNExprTokenKind Kind, TBRNExprOperation Operation);
  // Remembers the current line for the next procedural statement node.
  void MarkStatementLine();
  // Refuses a columns wildcard ("*" column reference) as an operand.
  void CheckNotWildcard(const TBRNExprToken* Node);

  // The error forms. Each reports through the owner with the line and column
  // of the current token and never returns.
  // "Expected <c> but instead found <token>", or "Missing <c>" when the token
  // start lies beyond the text or on a line break.
  [[noreturn]] void ExpectedChar(char C) override;
  // "Missing <what>" beyond the end of the text, else "Expected <what> but
  // instead found <token>".
  [[noreturn]] void Expected(std::string_view What);
  // "Invalid expression <token> found, <reason>".
  [[noreturn]] void InvalidExpression(std::string_view Reason);
  [[noreturn]] void ReportToOwner(const std::string& Message);

  // Raises "nested too deeply" when the nesting limit is reached, else goes
  // one level deeper. Use through TBRNParseNesting.
  void EnterNesting();
  void LeaveNesting() { --NestingDepth; }

  // The expression grammar (from the loosest level down).
  TBRNExprToken* ParseDisjunction(TBRNParseFlags Flags);
  TBRNExprToken* ParsePrimary(TBRNParseFlags Flags);
  TBRNExprToken* ParseColumnReference(TBRNParseFlags Flags);

  // The expression whose text is parsed; valid while its compile runs.
  TBRNCompiledExpr* Owner = nullptr;
  // Parse methods of function codes 17-109, statement codes 215-255 and
  // procedural codes 182-214, indexed from the first code of each range.
  // The codes themselves come from the keyword tables.
  std::array<TBRNParseMethod, LastFunctionCode - FirstFunctionCode + 1> FunctionParsers{};
  std::array<TBRNParseMethod, LastStatementCode - FirstStatementCode + 1> StatementParsers{};
  std::array<TBRNParseMethod, LastRoutineStatementCode - FirstRoutineStatementCode + 1>
      RoutineStatementParsers{};
  // Where the innermost capture began, and the starts of the enclosing ones.
  int32_t CaptureStart = 1;
  std::vector<int32_t> CaptureStack;
  // The line of the next procedural statement node.
  int32_t StatementLine = 1;
  // Constructs currently open (see MaxNestingDepth).
  int32_t NestingDepth = 0;

 private:
  void checkEndOfText();

  // ---- Expression grammar (expression_grammar.cpp, type_grammar.cpp) ----
 public:
  TBRNExprToken* ParseConjunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseNegation(TBRNParseFlags Flags);
  TBRNExprToken* ParsePredicate(TBRNParseFlags Flags);
  TBRNExprToken* ParseValueExpression(TBRNParseFlags Flags);
  TBRNExprToken* ParseTerm(TBRNParseFlags Flags);
  TBRNExprToken* ParseSigned(TBRNParseFlags Flags);
  // A call of a user-defined function when "(" follows the name, else a
  // column reference.
  TBRNExprToken* ParseIdentifierOrCall(TBRNParseFlags Flags);
  // Appends to ColumnNode the COLLATE list (or nullptr) and, with pcOrdering,
  // the direction (or nullptr).
  void ParseCollateAndOrder(TBRNExprToken* ColumnNode, TBRNParseFlags Flags);
  // A tkCollationName node for the current name ("collation name" missing).
  TBRNExprToken* ParseCollationReference();
  // Reads an interval qualifier when the current word starts one and sets
  // Node's interval type and field set; false (nothing read) otherwise.
  bool ParseIntervalQualifier(TBRNExprToken* Node);
  // Reads a data type into Node (its type, subtype and the written length,
  // precision, scale and collation as arguments). Optional: answers false
  // and reads nothing when the current word is no type word. LengthRequired:
  // a CHAR, VARCHAR, BYTE or VARBYTE type must have its length written.
  bool ParseDataType(TBRNExprToken* Node, bool Optional, bool LengthRequired);
  // Appends the four text conversion options (DATE FORMAT, TIME FORMAT,
  // DECIMAL CHAR, BOOLEAN literals) to Node, nullptr for each one not written.
  void ParseFormatOptions(TBRNExprToken* Node);
  // Query grammar: a SELECT or TABLE query expression (query_grammar.cpp).
  TBRNExprToken* ParseQuery(TBRNParseFlags Flags);

 private:
  TBRNExprToken* parseParenthesized(TBRNParseFlags Flags);

  // ---- Query and statement grammar (query_grammar.cpp, dml_grammar.cpp,
  // verb_grammar.cpp) ----
 public:
  // Query pieces: Item is a tkSelectItem already in the select list;
  // ParseSelectItem gives it its expression, Text and Alias.
  void ParseSelectItem(TBRNExprToken* Item, TBRNParseFlags Flags);
  // A table reference (named or derived) with argument 0; a FROM list adds
  // the condition list and the join list.
  TBRNExprToken* ParseTableReference(TBRNParseFlags Flags);
  // A tkTableReference with the (qualified) name and no arguments.
  TBRNExprToken* ParseQualifiedTableName(TBRNParseFlags Flags);
  // Reads [AS] alias into Node's Alias; Required: "table or query
  // correlation name" is missing when none is written.
  void ParseCorrelationName(TBRNExprToken* Node, bool Required);
  TBRNExprToken* ParseJoinCondition(TBRNParseFlags Flags);
  TBRNExprToken* ParseWhereCondition(TBRNParseFlags Flags);
  TBRNExprToken* ParseGroupByItem();
  TBRNExprToken* ParseHavingCondition(TBRNParseFlags Flags);
  // On UNION, INTERSECT or EXCEPT: the right operand, whose position 1 names
  // the operation.
  TBRNExprToken* ParseSetOperation(TBRNParseFlags Flags);
  TBRNExprToken* ParseSetOperand(TBRNParseFlags Flags, TBRNExprOperation Code);
  TBRNExprToken* ParseOrderByItem();
  // On RANGE: the tkList opRange with the first and the last row number.
  TBRNExprToken* ParseRange(TBRNParseFlags Flags);

  // Statement parse methods (current token on the verb).
  TBRNExprToken* ParseSelectStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseInsert(TBRNParseFlags Flags);
  TBRNExprToken* ParseUpdate(TBRNParseFlags Flags);
  TBRNExprToken* ParseDelete(TBRNParseFlags Flags);
  TBRNExprToken* ParseDropStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRenameStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseEnableStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseDisableStatement(TBRNParseFlags Flags);

  // A tkTableName whose DatabaseName starts as DefaultDatabase; qualifiers
  // need pcSchemaQualifier (one) and pcDatabaseQualifier (two).
  TBRNExprToken* ParseTableName(TBRNParseFlags Flags, std::string_view DefaultDatabase);
  // A tkPrivilege named by the privilege word as written.
  TBRNExprToken* ParsePrivilege();
  // Name parsers: one identifier or quoted identifier as a name node of the
  // object's kind.
  TBRNExprToken* ParseBackupName();
  TBRNExprToken* ParseDatabaseName();
  TBRNExprToken* ParseUpdatesName();
  TBRNExprToken* ParseTextFilterName();
  TBRNExprToken* ParseWordGeneratorName();
  TBRNExprToken* ParseMigratorName();
  TBRNExprToken* ParseModuleName();
  TBRNExprToken* ParseJobName();
  TBRNExprToken* ParseStoreName();
  TBRNExprToken* ParseFileName();
  TBRNExprToken* ParseUserName();
  TBRNExprToken* ParseRoleName();
  TBRNExprToken* ParseGranteeName();
  TBRNExprToken* ParseColumnName();
  TBRNExprToken* ParseConstraintNameOnly();
  TBRNExprToken* ParseViewName();
  TBRNExprToken* ParseProcedureName();
  TBRNExprToken* ParseFunctionName();
  TBRNExprToken* ParseIndexName();
  TBRNExprToken* ParseTriggerName();
  TBRNExprToken* ParseCursorName();
  TBRNExprToken* ParseParameterName();

 private:
  // Fills the statement entries of the verbs above (called by the
  // constructor).
  void registerStatementParsers();
  TBRNExprToken* parseTableQuery(TBRNParseFlags Flags);
  void parseFromList(TBRNExprToken* Query, TBRNParseFlags Flags);
  void readTableNameParts(TBRNExprToken* Node, TBRNParseFlags Flags);
  TBRNExprToken* parseNameNode(TBRNExprTokenKind Kind, std::string_view Description);
  TBRNExprToken* parseDmlTarget(TBRNExprToken* Statement, int32_t Count, TBRNParseFlags Flags,
                                bool Correlation);
  void parseDmlWhere(TBRNExprToken* Target, TBRNParseFlags Flags);
  TBRNExprToken* parseEnableOrDisable(TBRNParseFlags Flags, TBRNExprOperation Code);
  // The current token when it is a plain identifier (no allocation), else
  // empty.
  std::string_view currentWord() const;

  // ---- Procedural and administrative grammar (block_grammar.cpp,
  // procedural_grammar.cpp, admin_grammar.cpp) ----
 public:
  // A BEGIN ... END block (pcBeginBlock in Flags; current token on BEGIN;
  // Name := Label) or a plain statement list (tkBlock 0) that stops at END,
  // FINALLY, EXCEPTION, ELSEIF, ELSE, WHEN, UNTIL or RETURN. Arguments:
  // declarations, statements, RETURN statement or nullptr, FINALLY/EXCEPTION
  // section or nullptr.
  TBRNExprToken* ParseBlock(TBRNParseFlags Flags, const std::string& Label);
  // ParseBlock(Flags | pcBeginBlock, ""): current token on BEGIN; returns the
  // tkBlock 172.
  TBRNExprToken* ParseBeginBlock(TBRNParseFlags Flags);
  // Reads an optional "label:" before a statement into Label (empty when the
  // current word starts a statement).
  void ParseLabel(std::string& Label);
  // Routine entries: the current token is on the routine word (FUNCTION,
  // PROCEDURE, SCRIPT, JOB, TRIGGER; else "Expected <word>"). The root has
  // arguments 0-5 always present (parameters, trigger rows, result,
  // nullptr, EXTERNAL module, body). The caller owns the root.
  TBRNExprToken* ParseFunctionRoutine(TBRNParseFlags Flags);
  TBRNExprToken* ParseProcedureRoutine(TBRNParseFlags Flags);
  TBRNExprToken* ParseScriptRoutine(TBRNParseFlags Flags);
  TBRNExprToken* ParseJobRoutine(TBRNParseFlags Flags);
  TBRNExprToken* ParseTriggerRoutine(TBRNParseFlags Flags);
  // Name nodes of the procedural language ("variable name", "statement name"
  // missing).
  TBRNExprToken* ParseVariableName();
  TBRNExprToken* ParseVariableReference(TBRNParseFlags Flags);
  TBRNExprToken* ParseStatementName();
  TBRNExprToken* ParseStatementReference();
  // A tkRoutineCall named by the current token with its arguments.
  TBRNExprToken* ParseRoutineCall(TBRNParseFlags Flags);

  // One procedural statement (Label: the label read before it, or empty);
  // with pcTerminator the terminator character follows.
  TBRNExprToken* ParseProceduralStatement(TBRNParseFlags Flags, const std::string& Label);
  TBRNExprToken* ParseAbortStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCallStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCaseStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCloseStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCommitStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseDeclareStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCursorDeleteStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseExecuteStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseFetchStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseIfStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCursorInsertStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseIterateStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseLeaveStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseLoopStatement(TBRNParseFlags Flags, const std::string& Label);
  TBRNExprToken* ParseOpenStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParsePrepareStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRaiseStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRefreshStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRepeatStatement(TBRNParseFlags Flags, const std::string& Label);
  TBRNExprToken* ParseRetryStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRollbackStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseSetStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseStartTransactionStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseUnprepareStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCursorUpdateStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseUseStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseWhileStatement(TBRNParseFlags Flags, const std::string& Label);

  // Administrative statements (current token on the verb).
  TBRNExprToken* ParseBackupStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRestoreStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCompareStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseMigrateStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRepairStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseVerifyStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseOptimizeStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseEmptyStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseImportStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseExportStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParsePublishStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseUnpublishStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseSaveStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseLoadStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseCopyStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseSetStoreStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseDisconnectStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRemoveStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseResetStatement(TBRNParseFlags Flags);

 private:
  // Fills the administrative verbs and the procedural keywords of the
  // dispatch tables (called by registerStatementParsers).
  void registerProceduralParsers();
  // Table entries of LOOP, REPEAT and WHILE: they take the label that
  // ParseProceduralStatement left in pendingLabel.
  TBRNExprToken* parseLoopEntry(TBRNParseFlags Flags);
  TBRNExprToken* parseRepeatEntry(TBRNParseFlags Flags);
  TBRNExprToken* parseWhileEntry(TBRNParseFlags Flags);
  void parseStatementSection(TBRNExprToken* Section, TBRNParseFlags Flags,
                             const std::string_view* StopWords, size_t StopCount);
  void parseEndLabel(const std::string& Label);
  TBRNExprToken* parseUsingList(TBRNParseFlags Flags);
  // Cursor INSERT and FETCH: the optional "(" column {"," column} ")" and the
  // values or variables that pair with those columns in order.
  void parseCursorColumns(TBRNExprToken* Pairs, TBRNParseFlags Flags);
  void parseCursorPairValues(TBRNExprToken* Pairs, TBRNParseFlags Flags,
                             TBRNExprToken* (TBRNExprParser::*ParseValue)(TBRNParseFlags));
  TBRNExprToken* parseRoutineRoot(TBRNExprTokenKind Kind, std::string_view Word);
  // A function's or procedure's last two slots: EXTERNAL NAME and the module
  // name, or the BEGIN block read with BlockFlags.
  void parseRoutineImplementation(TBRNExprToken* Root, TBRNParseFlags BlockFlags);
  TBRNExprToken* parseTablesList(TBRNParseFlags Flags, const std::string& Database);
  TBRNExprToken* parseParameterAssignments(TBRNParseFlags Flags);
  TBRNExprToken* parseImportExport(TBRNParseFlags Flags, TBRNExprOperation Code);
  std::string pendingLabel;

  // ---- DDL grammar (table_ddl_grammar.cpp, object_ddl_grammar.cpp,
  // config_ddl_grammar.cpp) ----
 public:
  // CREATE and ALTER (object keywords, then the object's body), GRANT and
  // REVOKE; current token on the verb.
  TBRNExprToken* ParseCreateStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseAlterStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseGrantStatement(TBRNParseFlags Flags);
  TBRNExprToken* ParseRevokeStatement(TBRNParseFlags Flags);

  // Tables. The bodies append arguments 1 to 3 to a statement node that
  // holds the table name; ParseTableAttributes appends 4 to 16.
  void ParseCreateTableBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseAlterTableBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseTableAttributes(TBRNExprToken* Statement);
  // Column clauses: the clause, or nullptr when its first keyword is absent.
  TBRNExprToken* ParseCompressionClause();
  TBRNExprToken* ParseGeneratedClause();
  TBRNExprToken* ParseComputedClause();
  TBRNExprToken* ParseNotNullClause();
  TBRNExprToken* ParseColumnDescription();
  // KeywordRequired: nullptr unless DEFAULT is accepted; otherwise the value
  // follows at once (ALTER COLUMN ... SET value).
  TBRNExprToken* ParseDefaultClause(bool KeywordRequired);
  // [CONSTRAINT name] and the body; pcColumnListRequired (table constraints)
  // and pcNoColumnList (column constraints) select the column list rule.
  TBRNExprToken* ParseConstraint(TBRNParseFlags Flags);
  void ParseConstraintBody(TBRNExprToken* Constraint, TBRNParseFlags Flags);
  TBRNExprToken* ParseErrorClause();
  TBRNExprToken* ParseConstraintDescription();
  TBRNExprToken* ParseConstraintColumnList(TBRNParseFlags Flags);
  void ParseReferentialActions(TBRNExprToken* Constraint);
  TBRNExprToken* ParseReferentialAction();

  // Views, routines, triggers and indexes: append to the statement node.
  void ParseViewBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseFunctionBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseProcedureBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseTriggerBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseIndexBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  void ParseTextIndexBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  // The tkList of routine parameters; pcOutputParams admits OUT and INOUT,
  // pcNoParamList gives the empty list without reading.
  TBRNExprToken* ParseRoutineParameterList(TBRNParseFlags Flags);
  // One parameter's mode and name (its type is added by the list).
  TBRNExprToken* ParseRoutineParameter(TBRNParseFlags Flags);
  // The tkList with the "Result" parameter of the RETURNS type.
  TBRNExprToken* ParseFunctionResult();
  // WHEN condition of a trigger, or nullptr.
  TBRNExprToken* ParseTriggerWhen(TBRNParseFlags Flags);
  // The tkList of the old (Variant 0) and new (Variant 1) trigger rows.
  TBRNExprToken* NewTriggerRowList();

  // Configuration objects and jobs.
  void ParseDatabaseBody(TBRNExprToken* Statement);
  void ParseUserBody(TBRNExprToken* Statement);
  void ParseRoleBody(TBRNExprToken* Statement);
  void ParseStoreBody(TBRNExprToken* Statement);
  void ParseJobBody(TBRNExprToken* Statement, TBRNParseFlags Flags);
  TBRNExprToken* ParseDayList();
  TBRNExprToken* ParseMonthList();
  TBRNExprToken* ParseDayName();

 private:
  TBRNExprToken* parseCreateOrAlter(TBRNParseFlags Flags, TBRNExprOperation Code);
  void parseColumnDefinition(TBRNExprToken* Column, TBRNParseFlags Flags, bool Alter, bool Add);
  TBRNExprToken* parseTableElement(TBRNParseFlags Flags);
  TBRNExprToken* parseAlteration(TBRNParseFlags Flags);
  void parseRoutineBody(TBRNExprToken* Statement, TBRNParseFlags Flags, bool Function);
  TBRNExprToken* parseIndexColumns(bool TextIndex);
  TBRNExprToken* parseNameList(TBRNExprToken* (TBRNExprParser::*NameParser)());
  TBRNExprToken* parseGrantOrRevoke(TBRNParseFlags Flags, bool Grant);
  // A primary after a clause keyword when Word is accepted, else nullptr.
  TBRNExprToken* parseOptionalValue(std::string_view Word);

  // ---- Built-in function grammar (function_grammar.cpp) ----
  // One method per function keyword; the current token is the keyword on
  // entry and the token after the call on return. Codes 26, 27, 52-61, 101
  // and 108 have no method (made by CASE, EXTRACT, the query check and
  // ParseIdentifierOrCall).
 public:
  TBRNExprToken* ParseAbortedFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAbsFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAcosFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAsinFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAtanFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAtan2Function(TBRNParseFlags Flags);
  TBRNExprToken* ParseAvgFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseBofFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCardinalityFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCastFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCeilingFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCoalesceFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseColumnCountFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseColumnNameFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseConcatFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCosFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCotFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCountFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentComputerFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentDatabaseFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentDateFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentGuidFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentTimeFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentTimestampFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentUserFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCurrentVersionFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseDegreesFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseEofFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseErrorCodeFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseErrorMsgFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseExistsFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseExpFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseExtractFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseFloorFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseCaseFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseIfNullFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseIfFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseInTransactionFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLastIdentityFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLeftFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLengthFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseListFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLoadingUpdatesFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLogFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLog10Function(TBRNParseFlags Flags);
  TBRNExprToken* ParseLowerFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseMaxFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseMinFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseNullIfFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseOccursFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseOperationFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParsePiFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParsePositionFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParsePowerFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseQuotedStrFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRadiansFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRandFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRepeatFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseReplaceFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRightFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRoundFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRowCountFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRowsAffectedFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRunSumFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSensitiveFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSignFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSinFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSqrtFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseStdDevFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseStmtResultFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSubstringFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseSumFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseTanFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseTrimFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseAllTrimFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseLTrimFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseRTrimFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseTruncateFunction(TBRNParseFlags Flags);
  TBRNExprToken* ParseUpperFunction(TBRNParseFlags Flags);

 private:
  // Fills FunctionParsers (called by the constructor).
  void InitFunctionParsers();
  // The function node for the current keyword (consumed), typed Type.
  TBRNExprToken* newFunction(TBRNExprOperation Code, TBRNDataTypeCode Type);
  // "," or Word, else "Expected <Word> or ,".
  void expectSeparator(std::string_view Word);
  bool acceptSeparator(std::string_view Word);
  // The optional "()" of a function without arguments.
  void acceptEmptyParentheses();
  TBRNExprToken* parseNiladicFunction(TBRNExprOperation Code, TBRNDataTypeCode Type);
  // Code "(" value {Separator value} ")" with Count values; an empty
  // Separator means ",".
  TBRNExprToken* parseValueFunction(TBRNParseFlags Flags, TBRNExprOperation Code,
                                    TBRNDataTypeCode Type, int32_t Count,
                                    std::string_view Separator = {},
                                    std::string_view SecondSeparator = {});
  TBRNExprToken* parseAggregateFunction(TBRNParseFlags Flags, TBRNExprOperation Code,
                                        TBRNDataTypeCode Type, bool Distinct);
  TBRNExprToken* parseAlternativesFunction(TBRNParseFlags Flags, TBRNExprOperation Code);
  TBRNExprToken* parseRoundingFunction(TBRNParseFlags Flags, TBRNExprOperation Code);
  TBRNExprToken* parseCurrentMomentFunction(TBRNExprOperation Code, TBRNDataTypeCode Type);
  TBRNExprToken* parseShortTrimFunction(TBRNParseFlags Flags, TBRNExprOperation Code);
  // Code "(" name [, value] ")" with a cursor or statement name.
  TBRNExprToken* parseNamedObjectFunction(TBRNParseFlags Flags, TBRNExprOperation Code,
                                          TBRNDataTypeCode Type, bool Statement,
                                          bool WithValue = false);
};

// Holds one nesting level of a parser for its lifetime.
class TBRNParseNesting {
 public:
  explicit TBRNParseNesting(TBRNExprParser& Parser) : FParser(Parser) { Parser.EnterNesting(); }
  ~TBRNParseNesting() { FParser.LeaveNesting(); }
  TBRNParseNesting(const TBRNParseNesting&) = delete;
  TBRNParseNesting& operator=(const TBRNParseNesting&) = delete;

 private:
  TBRNExprParser& FParser;
};

// Owns a subtree under construction and frees it (FreeExprTree) unless it
// was released, so that an error passing through a parse method leaves no
// nodes behind.
class TBRNParsedTree {
 public:
  explicit TBRNParsedTree(TBRNExprToken* Node = nullptr) : FNode(Node) {}
  ~TBRNParsedTree();
  TBRNParsedTree(const TBRNParsedTree&) = delete;
  TBRNParsedTree& operator=(const TBRNParsedTree&) = delete;

  TBRNExprToken* Get() const { return FNode; }
  TBRNExprToken* operator->() const { return FNode; }
  // Frees the held tree and holds Node instead.
  void Reset(TBRNExprToken* Node);
  // Hands the tree to the caller.
  TBRNExprToken* Release();

 private:
  TBRNExprToken* FNode;
};

}  // namespace brn
