// The statements of the procedural language: one parse method per keyword,
// dispatched by ParseProceduralStatement through RoutineStatementParsers.
//
// Every statement is one tkRoutineStatement node whose Operation is the
// statement code; it is created on the statement's keyword and carries the
// keyword's line. Optional parts that are not written are nullptr arguments
// at their fixed index. A pair node (SET, FETCH, cursor INSERT and UPDATE) is
// a tkList with the two sides in Left and Right.

#include <string>
#include <string_view>
#include <utility>

#include "foundation/text/collation.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr std::string_view kStatementsInHandler =
    "BEGIN, DECLARE, RAISE, SET, ABORT, IF, CASE, LOOP, REPEAT, WHILE, ITERATE, LEAVE, USE, "
    "START, COMMIT, ROLLBACK, PREPARE, EXECUTE, UNPREPARE, OPEN, CLOSE, FETCH, INSERT, UPDATE, "
    "DELETE";
constexpr std::string_view kStatements =
    "BEGIN, DECLARE, SET, ABORT, IF, CASE, LOOP, REPEAT, WHILE, ITERATE, LEAVE, USE, START, "
    "COMMIT, ROLLBACK, PREPARE, EXECUTE, UNPREPARE, OPEN, CLOSE, FETCH, INSERT, UPDATE, DELETE";
constexpr std::string_view kNoExceptionHandling =
    "exception handling statements and functions not allowed";

// Routine texts stored by engine versions before 2.04 name columns and
// tables literally: such an entry, parsed as a column reference or function
// call, becomes a character constant holding the name.
void makeLiteralName(TBRNExprToken* Node, bool ClearDatabase) {
  if (!Node || (Node->Kind != tkColumnReference && Node->Kind != tkFunction)) return;
  // A name written like a call keeps no arguments as a constant.
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i) {
    TBRNExprToken* argument = Node->Argument(i);
    FreeExprTree(argument);
  }
  Node->SetArgumentCount(0);
  Node->Kind = tkConstant;
  Node->Operation = opNone;
  Node->Text = Node->Name;
  Node->Name.clear();
  if (ClearDatabase) Node->DatabaseName.clear();
  Node->SetDataType(dtChar);
}

}  // namespace

void TBRNExprParser::registerProceduralParsers() {
  const auto statement = [this](TBRNExprOperation Code, TBRNParseMethod Method) {
    StatementParsers[size_t(Code - FirstStatementCode)] = Method;
  };
  statement(opBackup, &TBRNExprParser::ParseBackupStatement);
  statement(opRestore, &TBRNExprParser::ParseRestoreStatement);
  statement(opCompare, &TBRNExprParser::ParseCompareStatement);
  statement(opMigrate, &TBRNExprParser::ParseMigrateStatement);
  statement(opRepair, &TBRNExprParser::ParseRepairStatement);
  statement(opVerify, &TBRNExprParser::ParseVerifyStatement);
  statement(opOptimize, &TBRNExprParser::ParseOptimizeStatement);
  statement(opEmpty, &TBRNExprParser::ParseEmptyStatement);
  statement(opImport, &TBRNExprParser::ParseImportStatement);
  statement(opExport, &TBRNExprParser::ParseExportStatement);
  statement(opPublish, &TBRNExprParser::ParsePublishStatement);
  statement(opUnpublish, &TBRNExprParser::ParseUnpublishStatement);
  statement(opSaveUpdates, &TBRNExprParser::ParseSaveStatement);
  statement(opLoadUpdates, &TBRNExprParser::ParseLoadStatement);
  statement(opCopyFile, &TBRNExprParser::ParseCopyStatement);
  statement(opSet, &TBRNExprParser::ParseSetStoreStatement);
  statement(opDisconnect, &TBRNExprParser::ParseDisconnectStatement);
  statement(opRemove, &TBRNExprParser::ParseRemoveStatement);
  statement(opReset, &TBRNExprParser::ParseResetStatement);

  const auto routine = [this](TBRNExprOperation Code, TBRNParseMethod Method) {
    RoutineStatementParsers[size_t(Code - FirstRoutineStatementCode)] = Method;
  };
  routine(opAbort, &TBRNExprParser::ParseAbortStatement);
  routine(opCall, &TBRNExprParser::ParseCallStatement);
  routine(opCaseStatement, &TBRNExprParser::ParseCaseStatement);
  routine(opClose, &TBRNExprParser::ParseCloseStatement);
  routine(opCommit, &TBRNExprParser::ParseCommitStatement);
  routine(opDeclare, &TBRNExprParser::ParseDeclareStatement);
  routine(opDeleteStatement, &TBRNExprParser::ParseCursorDeleteStatement);
  routine(opExecute, &TBRNExprParser::ParseExecuteStatement);
  routine(opFetch, &TBRNExprParser::ParseFetchStatement);
  routine(opIfStatement, &TBRNExprParser::ParseIfStatement);
  routine(opInsertStatement, &TBRNExprParser::ParseCursorInsertStatement);
  routine(opIterate, &TBRNExprParser::ParseIterateStatement);
  routine(opLeave, &TBRNExprParser::ParseLeaveStatement);
  routine(opLoop, &TBRNExprParser::parseLoopEntry);
  routine(opOpen, &TBRNExprParser::ParseOpenStatement);
  routine(opPrepare, &TBRNExprParser::ParsePrepareStatement);
  routine(opRaise, &TBRNExprParser::ParseRaiseStatement);
  routine(opRefresh, &TBRNExprParser::ParseRefreshStatement);
  routine(opRepeatStatement, &TBRNExprParser::parseRepeatEntry);
  routine(opRetry, &TBRNExprParser::ParseRetryStatement);
  routine(opRollback, &TBRNExprParser::ParseRollbackStatement);
  routine(opSetVariable, &TBRNExprParser::ParseSetStatement);
  routine(opStart, &TBRNExprParser::ParseStartTransactionStatement);
  routine(opUnprepare, &TBRNExprParser::ParseUnprepareStatement);
  routine(opUpdateStatement, &TBRNExprParser::ParseCursorUpdateStatement);
  routine(opUse, &TBRNExprParser::ParseUseStatement);
  routine(opWhile, &TBRNExprParser::parseWhileEntry);
}

TBRNExprToken* TBRNExprParser::ParseProceduralStatement(TBRNParseFlags Flags,
                                                        const std::string& Label) {
  MarkStatementLine();
  const TBRNParseMethod method = RoutineStatementParser(LookupRoutineStatement());
  if (!method) Expected((Flags & pcExceptionHandling) ? kStatementsInHandler : kStatements);
  pendingLabel = Label;
  TBRNParsedTree statement((this->*method)(Flags));
  if (Flags & pcTerminator) ExpectToken(uint8_t(GetTerminator()));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::parseLoopEntry(TBRNParseFlags Flags) {
  const std::string label = std::move(pendingLabel);
  return ParseLoopStatement(Flags, label);
}

TBRNExprToken* TBRNExprParser::parseRepeatEntry(TBRNParseFlags Flags) {
  const std::string label = std::move(pendingLabel);
  return ParseRepeatStatement(Flags, label);
}

TBRNExprToken* TBRNExprParser::parseWhileEntry(TBRNParseFlags Flags) {
  const std::string label = std::move(pendingLabel);
  return ParseWhileStatement(Flags, label);
}

// After END LOOP, END REPEAT or END WHILE: the statement's label must be
// repeated unless the terminator follows. An unlabelled statement leaves a
// stray word to the terminator check.
void TBRNExprParser::parseEndLabel(const std::string& Label) {
  if (Label.empty() || IsToken(uint8_t(GetTerminator()))) return;
  if (!IsIdentifierToken() || !TextEqualsIgnoreCase(TokenText(), Label)) Expected(Label);
  NextToken();
}

// "USING" v {"," v}, or an empty list when USING is not written.
TBRNExprToken* TBRNExprParser::parseUsingList(TBRNParseFlags Flags) {
  TBRNParsedTree list(NewNode(tkList, opNone));
  if (AcceptKeyword("USING")) {
    do {
      list->AddArgument(ParseDisjunction(Flags | pcColumnQualifier));
    } while (AcceptToken(uint8_t(',')));
  }
  return list.Release();
}

// Each column becomes the Left of a new pair in Pairs.
void TBRNExprParser::parseCursorColumns(TBRNExprToken* Pairs, TBRNParseFlags Flags) {
  if (!AcceptToken(uint8_t('('))) return;
  do {
    TBRNExprToken* pair = NewNode(tkList, opNone);
    Pairs->AddArgument(pair);
    pair->SetLeft(ParseValueExpression(Flags));
    if (Flags & pcLiteralNames) makeLiteralName(pair->Left(), false);
  } while (AcceptToken(uint8_t(',')));
  ExpectToken(uint8_t(')'));
}

// "v {"," v}": the i-th value becomes the Right of the i-th pair; pairs are
// added where the columns run out (or none were written).
void TBRNExprParser::parseCursorPairValues(
    TBRNExprToken* Pairs, TBRNParseFlags Flags,
    TBRNExprToken* (TBRNExprParser::*ParseValue)(TBRNParseFlags)) {
  int32_t index = 0;
  do {
    if (index >= Pairs->ArgumentCount()) Pairs->AddArgument(NewNode(tkList, opNone));
    Pairs->Argument(index)->SetRight((this->*ParseValue)(Flags));
    ++index;
  } while (AcceptToken(uint8_t(',')));
}

TBRNExprToken* TBRNExprParser::ParseAbortStatement(TBRNParseFlags) {
  TBRNExprToken* statement = NewNode(tkRoutineStatement, opAbort);
  NextToken();
  return statement;
}

TBRNExprToken* TBRNExprParser::ParseCallStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opCall));
  NextToken();
  statement->AddArgument(ParseRoutineCall(Flags));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCaseStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opCaseStatement));
  NextToken();
  // A simple CASE keeps its operand once, as argument 2; the condition list
  // then holds the WHEN values it is compared with.
  TBRNParsedTree operand;
  if (!IsKeyword("WHEN")) operand.Reset(ParseDisjunction(Flags));
  TBRNExprToken* conditions = NewNode(tkList, opCaseConditions);
  statement->AddArgument(conditions);
  TBRNExprToken* bodies = NewNode(tkList, opCaseResults);
  statement->AddArgument(bodies);
  CheckKeyword("WHEN");
  while (AcceptKeyword("WHEN")) {
    conditions->AddArgument(ParseDisjunction(Flags));
    ExpectKeyword("THEN");
    bodies->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  }
  if (AcceptKeyword("ELSE")) {
    conditions->AddArgument(nullptr);
    bodies->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  }
  ExpectKeyword("END");
  ExpectKeyword("CASE");
  if (operand.Get()) statement->AddArgument(operand.Release());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCloseStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opClose));
  NextToken();
  statement->AddArgument(ParseCursorName());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCommitStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opCommit));
  NextToken();
  AcceptKeyword("WORK");
  if (IsKeyword("NO")) {
    statement->AddArgument(NewNode(tkList, opNone));
    NextToken();
    ExpectKeyword("FLUSH");
  } else {
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseDeclareStatement(TBRNParseFlags Flags) {
  if (!(Flags & pcDeclarations)) InvalidExpression("declarations not allowed");
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opDeclare));
  NextToken();
  TBRNExprToken* names = NewNode(tkList, opNone);
  statement->AddArgument(names);
  TBRNExprToken* first = ParseVariableName();
  names->AddArgument(first);

  // A cursor: one name, its sensitivity, WITH RETURN and the statement.
  int32_t sensitivity = -1;
  if (IsKeyword("SENSITIVE"))
    sensitivity = 1;
  else if (IsKeyword("INSENSITIVE"))
    sensitivity = 2;
  else if (IsKeyword("ASENSITIVE"))
    sensitivity = 0;
  if (sensitivity >= 0 || IsKeyword("CURSOR")) {
    if (sensitivity >= 0) NextToken();
    ExpectKeyword("CURSOR");
    first->Kind = tkCursorDeclaration;
    first->Variant = sensitivity >= 0 ? sensitivity : 1;
    if (IsKeyword("WITH")) {
      if (!(Flags & pcResultCursors)) InvalidExpression("result cursor declarations not allowed");
      NextToken();
      CheckKeyword("RETURN");
      first->AddArgument(NewNode(tkStatementName, opNone));
      NextToken();
    } else {
      if (AcceptKeyword("WITHOUT")) ExpectKeyword("RETURN");
      first->AddArgument(nullptr);
    }
    ExpectKeyword("FOR");
    first->AddArgument(ParseStatementName());
    return statement.Release();
  }

  while (AcceptToken(uint8_t(','))) names->AddArgument(ParseVariableName());
  if (AcceptKeyword("STATEMENT")) {
    for (TBRNExprToken* name : names->Arguments()) name->Kind = tkStatementName;
    return statement.Release();
  }

  TBRNExprToken* type = NewNode(tkDataType, opNone);
  statement->AddArgument(type);
  ParseDataType(type, false, false);
  if (AcceptKeyword("ARRAY")) {
    ExpectToken(uint8_t('['));
    statement->AddArgument(ParsePrimary(Flags));
    ExpectToken(uint8_t(']'));
    for (TBRNExprToken* name : names->Arguments()) name->Kind = tkArrayVariable;
  } else {
    statement->AddArgument(nullptr);
  }
  statement->AddArgument(AcceptKeyword("DEFAULT") ? ParseDisjunction(Flags) : nullptr);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCursorDeleteStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opDeleteStatement));
  NextToken();
  ExpectKeyword("FROM");
  statement->AddArgument(ParseCursorName());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseExecuteStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opExecute));
  NextToken();
  if (AcceptKeyword("IMMEDIATE")) {
    statement->Operation = opExecuteImmediate;
    statement->AddArgument(ParseValueExpression(pcColumnQualifier));
  } else {
    statement->AddArgument(ParseStatementReference());
  }
  statement->AddArgument(parseUsingList(Flags));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseFetchStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opFetch));
  NextToken();
  TBRNExprToken* orientation = NewNode(tkList, opNone);
  statement->AddArgument(orientation);
  static constexpr std::string_view kOrientations[] = {"NEXT", "PRIOR",    "FIRST",
                                                       "LAST", "ABSOLUTE", "RELATIVE"};
  for (int32_t i = 0; i < 6; ++i)
    if (IsKeyword(kOrientations[i])) {
      orientation->Variant = i + 1;
      NextToken();
      if (i >= 4) orientation->AddArgument(ParsePrimary(Flags));
      break;
    }
  ExpectKeyword("FROM");
  statement->AddArgument(ParseCursorName());
  if (!IsToken(uint8_t('(')) && !IsKeyword("INTO")) {
    statement->AddArgument(nullptr);
    return statement.Release();
  }

  TBRNExprToken* pairs = NewNode(tkList, opNone);
  statement->AddArgument(pairs);
  parseCursorColumns(pairs, Flags);
  ExpectKeyword("INTO");
  parseCursorPairValues(pairs, Flags, &TBRNExprParser::ParseVariableReference);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseIfStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opIfStatement));
  NextToken();
  TBRNExprToken* conditions = NewNode(tkList, opIfConditions);
  statement->AddArgument(conditions);
  TBRNExprToken* branches = NewNode(tkList, opIfBranches);
  statement->AddArgument(branches);
  do {
    conditions->AddArgument(ParseDisjunction(Flags));
    ExpectKeyword("THEN");
    branches->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  } while (AcceptKeyword("ELSEIF"));
  if (AcceptKeyword("ELSE")) {
    conditions->AddArgument(nullptr);
    branches->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  }
  ExpectKeyword("END");
  ExpectKeyword("IF");
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCursorInsertStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opInsertStatement));
  NextToken();
  ExpectKeyword("INTO");
  statement->AddArgument(ParseCursorName());
  TBRNExprToken* pairs = NewNode(tkList, opNone);
  statement->AddArgument(pairs);
  parseCursorColumns(pairs, Flags);
  ExpectKeyword("VALUES");
  ExpectToken(uint8_t('('));
  parseCursorPairValues(pairs, Flags, &TBRNExprParser::ParseDisjunction);
  ExpectToken(uint8_t(')'));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseIterateStatement(TBRNParseFlags) {
  TBRNExprToken* statement = NewNode(tkRoutineStatement, opIterate);
  NextToken();
  if (IsIdentifierToken()) {
    statement->Name = TokenText();
    NextToken();
  }
  return statement;
}

TBRNExprToken* TBRNExprParser::ParseLeaveStatement(TBRNParseFlags) {
  TBRNExprToken* statement = NewNode(tkRoutineStatement, opLeave);
  NextToken();
  if (IsIdentifierToken()) {
    statement->Name = TokenText();
    NextToken();
  }
  return statement;
}

TBRNExprToken* TBRNExprParser::ParseLoopStatement(TBRNParseFlags Flags, const std::string& Label) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opLoop));
  statement->Name = Label;
  NextToken();
  statement->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  ExpectKeyword("END");
  ExpectKeyword("LOOP");
  parseEndLabel(Label);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseOpenStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opOpen));
  NextToken();
  statement->AddArgument(ParseCursorName());
  statement->AddArgument(parseUsingList(Flags));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParsePrepareStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opPrepare));
  NextToken();
  statement->AddArgument(ParseStatementReference());
  ExpectKeyword("FROM");
  statement->AddArgument(ParseValueExpression(pcColumnQualifier));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRaiseStatement(TBRNParseFlags Flags) {
  // RAISE alone re-raises the error being handled.
  if (!(Flags & pcExceptionHandling) && !PeekKeyword("ERROR"))
    InvalidExpression(kNoExceptionHandling);
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opRaise));
  NextToken();
  if (AcceptKeyword("ERROR")) {
    ExpectKeyword("CODE");
    statement->AddArgument(ParseValueExpression(Flags));
    ExpectKeyword("MESSAGE");
    statement->AddArgument(ParseValueExpression(Flags));
  } else {
    statement->AddArgument(nullptr);
    statement->AddArgument(nullptr);
  }
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRefreshStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opRefresh));
  NextToken();
  statement->AddArgument(ParseCursorName());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRepeatStatement(TBRNParseFlags Flags,
                                                    const std::string& Label) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opRepeatStatement));
  statement->Name = Label;
  NextToken();
  statement->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  ExpectKeyword("UNTIL");
  statement->AddArgument(ParseDisjunction(Flags));
  ExpectKeyword("END");
  ExpectKeyword("REPEAT");
  parseEndLabel(Label);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseRetryStatement(TBRNParseFlags Flags) {
  if (!(Flags & pcRetry)) InvalidExpression(kNoExceptionHandling);
  TBRNExprToken* statement = NewNode(tkRoutineStatement, opRetry);
  NextToken();
  return statement;
}

TBRNExprToken* TBRNExprParser::ParseRollbackStatement(TBRNParseFlags) {
  TBRNExprToken* statement = NewNode(tkRoutineStatement, opRollback);
  NextToken();
  AcceptKeyword("WORK");
  return statement;
}

TBRNExprToken* TBRNExprParser::ParseSetStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opSetVariable));
  NextToken();
  // The three message forms; a variable may still be called LOG, PROGRESS or
  // STATUS, so the word after it decides.
  if (IsKeyword("LOG") && PeekKeyword("MESSAGE")) {
    statement->Operation = opSetLogMessage;
    NextToken();
    NextToken();
  } else if (IsKeyword("STATUS") && PeekKeyword("MESSAGE")) {
    statement->Operation = opSetStatusMessage;
    NextToken();
    NextToken();
  } else if (IsKeyword("PROGRESS") && PeekKeyword("TO")) {
    statement->Operation = opSetProgress;
    NextToken();
  }
  if (statement->Operation != opSetVariable) {
    ExpectKeyword("TO");
    statement->AddArgument(ParsePredicate(Flags));
    return statement.Release();
  }

  do {
    TBRNExprToken* pair = NewNode(tkList, opNone);
    statement->AddArgument(pair);
    pair->SetLeft(ParsePrimary(pcColumnQualifier));
    ExpectToken(uint8_t('='));
    pair->SetRight(ParseDisjunction(Flags));
  } while (AcceptToken(uint8_t(',')));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseStartTransactionStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opStart));
  NextToken();
  ExpectKeyword("TRANSACTION");
  if (AcceptKeyword("ON")) {
    ExpectKeyword("TABLES");
    TBRNExprToken* tables = NewNode(tkList, opNone);
    statement->AddArgument(tables);
    do {
      TBRNExprToken* table = ParseValueExpression(Flags);
      tables->AddArgument(table);
      if (Flags & pcLiteralNames) makeLiteralName(table, true);
    } while (AcceptToken(uint8_t(',')));
  } else {
    statement->AddArgument(nullptr);
  }
  statement->AddArgument(AcceptKeyword("TIMEOUT") ? ParsePrimary(Flags) : nullptr);
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseUnprepareStatement(TBRNParseFlags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opUnprepare));
  NextToken();
  statement->AddArgument(ParseStatementReference());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseCursorUpdateStatement(TBRNParseFlags Flags) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opUpdateStatement));
  NextToken();
  statement->AddArgument(ParseCursorName());
  ExpectKeyword("SET");
  TBRNExprToken* pairs = NewNode(tkList, opNone);
  statement->AddArgument(pairs);
  do {
    TBRNExprToken* pair = NewNode(tkList, opNone);
    pairs->AddArgument(pair);
    pair->SetLeft(ParseValueExpression(Flags));
    if (Flags & pcLiteralNames) makeLiteralName(pair->Left(), false);
    ExpectToken(uint8_t('='));
    pair->SetRight(ParseDisjunction(Flags));
  } while (AcceptToken(uint8_t(',')));
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseUseStatement(TBRNParseFlags Flags) {
  if (!(Flags & pcDatabaseOperations)) InvalidExpression("database operations not allowed");
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opUse));
  NextToken();
  statement->AddArgument(IsToken(uint8_t(GetTerminator())) ? nullptr : ParseDatabaseName());
  return statement.Release();
}

TBRNExprToken* TBRNExprParser::ParseWhileStatement(TBRNParseFlags Flags, const std::string& Label) {
  TBRNParsedTree statement(NewNode(tkRoutineStatement, opWhile));
  statement->Name = Label;
  NextToken();
  statement->AddArgument(ParseDisjunction(Flags));
  ExpectKeyword("DO");
  statement->AddArgument(ParseBlock(Flags & ~pcBeginBlock, std::string()));
  ExpectKeyword("END");
  ExpectKeyword("WHILE");
  parseEndLabel(Label);
  return statement.Release();
}

}  // namespace brn
