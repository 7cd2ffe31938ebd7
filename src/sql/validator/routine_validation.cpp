// Validation of procedural code: routine roots (function, procedure, script,
// job, trigger), blocks, declarations and the procedural statements, and the
// release pass that closes what CALL and USE opened through the owner.
//
// Recursion: blocks nest through IF, CASE, LOOP, REPEAT, WHILE and BEGIN,
// each of which holds a parser nesting level, so the walk here is bounded by
// the parser's nesting limit.

#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

namespace {

using validation::argumentOrNil;

bool sameName(std::string_view A, std::string_view B) {
  return TextEqualsIgnoreCase(A, B);
}

bool isVariableName(const TBRNExprToken* Name) {
  return Name && (Name->Kind == tkVariable || Name->Kind == tkArrayVariable);
}

using validation::FieldRestorer;

// The declared size of the array variable a whole-array reference is bound
// to (the size literal of its DECLARE), or -1 when it is not known. A size
// beyond int64 counts as the largest size.
int64_t declaredArraySize(const TBRNExprToken* Reference) {
  const TBRNExprToken* name = Reference ? Reference->Link : nullptr;
  const TBRNExprToken* names = name ? name->Parent : nullptr;
  const TBRNExprToken* declaration = names ? names->Parent : nullptr;
  const TBRNExprToken* size = argumentOrNil(declaration, 2);
  if (!size || size->Kind != tkConstant) return -1;
  const std::string& text = size->Text;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) return INT64_MAX;
  if (error != std::errc() || end != text.data() + text.size()) return -1;
  return value;
}

// Visits the statements of a block in order: the section before the
// returned statement, the returned statement itself, the section after it.
// A nested block in a section goes to OnBlock, every other statement (the
// returned one always) to OnStatement; empty entries are passed over.
template <typename BlockVisitor, typename StatementVisitor>
void forEachBlockStatement(TBRNExprToken* Block, BlockVisitor OnBlock,
                           StatementVisitor OnStatement) {
  const auto visitSection = [&](TBRNExprToken* Section) {
    if (!Section) return;
    for (TBRNExprToken* statement : Section->Arguments()) {
      if (!statement) continue;
      if (statement->Kind == tkBlock)
        OnBlock(statement);
      else
        OnStatement(statement);
    }
  };
  visitSection(argumentOrNil(Block, 1));
  if (TBRNExprToken* returned = argumentOrNil(Block, 2)) OnStatement(returned);
  visitSection(argumentOrNil(Block, 3));
}

// May the old (Variant 0) or new (Variant 1) row of a trigger with the given
// event receive values?
bool rowAssignable(int32_t RowVariant, int32_t Event) {
  if (RowVariant == 0) return Event == opBeforeLoadUpdate || Event == opErrorLoadUpdate;
  switch (Event) {
    case opBeforeAll:
    case opBeforeInsert:
    case opBeforeLoadUpdate:
    case opBeforeUpdate:
    case opErrorAll:
    case opErrorInsert:
    case opErrorLoadUpdate:
    case opErrorUpdate:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TBRNExprValidator::RegisterRoutineStatementChecks() {
  const auto set = [this](TBRNExprOperation Code, TBRNCheckMethod Check) {
    RoutineStatementChecks[size_t(Code - FirstRoutineStatementCode)] = Check;
  };
  // ABORT, COMMIT, ROLLBACK have nothing to check; DECLARE is validated with
  // its block.
  set(opCall, &TBRNExprValidator::ValidateCall);
  set(opCaseStatement, &TBRNExprValidator::ValidateCaseStatement);
  set(opClose, &TBRNExprValidator::ValidateClose);
  set(opDeleteStatement, &TBRNExprValidator::ValidateCursorDelete);
  set(opExecute, &TBRNExprValidator::ValidateExecute);
  set(opExecuteImmediate, &TBRNExprValidator::ValidateExecuteImmediate);
  set(opFetch, &TBRNExprValidator::ValidateFetch);
  set(opIfStatement, &TBRNExprValidator::ValidateIfStatement);
  set(opInsertStatement, &TBRNExprValidator::ValidateCursorInsert);
  set(opIterate, &TBRNExprValidator::ValidateIterate);
  set(opLeave, &TBRNExprValidator::ValidateLeave);
  set(opLoop, &TBRNExprValidator::ValidateLoop);
  set(opOpen, &TBRNExprValidator::ValidateOpen);
  set(opPrepare, &TBRNExprValidator::ValidatePrepare);
  set(opRaise, &TBRNExprValidator::ValidateRaise);
  set(opRefresh, &TBRNExprValidator::ValidateRefresh);
  set(opRepeatStatement, &TBRNExprValidator::ValidateRepeat);
  set(opRetry, &TBRNExprValidator::ValidateRetry);
  set(opReturn, &TBRNExprValidator::ValidateReturn);
  set(opSetVariable, &TBRNExprValidator::ValidateSet);
  set(opSetLogMessage, &TBRNExprValidator::ValidateSetLogMessage);
  set(opSetProgress, &TBRNExprValidator::ValidateSetProgress);
  set(opSetStatusMessage, &TBRNExprValidator::ValidateSetStatusMessage);
  set(opStart, &TBRNExprValidator::ValidateStartTransaction);
  set(opUnprepare, &TBRNExprValidator::ValidateUnprepare);
  set(opUpdateStatement, &TBRNExprValidator::ValidateCursorUpdate);
  set(opUse, &TBRNExprValidator::ValidateUse);
  set(opWhile, &TBRNExprValidator::ValidateWhile);
}

// ---- Roots, blocks and declarations ---------------------------------------------

void TBRNExprValidator::ValidateRoutine(TBRNExprToken* Node) {
  ValidateDeclarationTypes(argumentOrNil(Node, 0));
  TBRNExprToken* result = nullptr;
  if (Node->Kind == tkFunctionName) {
    result = argumentOrNil(argumentOrNil(Node, 2), 0);
    if (TBRNExprToken* type = argumentOrNil(result, 0)) {
      ValidateDataTypeNode(type);
      result->AssignDataType(type);
    }
  }
  // An EXTERNAL routine has no body.
  if (argumentOrNil(Node, 4)) return;
  TBRNExprToken* body = argumentOrNil(Node, 5);
  if (!body) return;
  ValidateBlock(body);
  if (result)
    if (TBRNExprToken* value = argumentOrNil(argumentOrNil(body, 2), 0))
      CheckAssignable(value, result);
}

void TBRNExprValidator::ValidateDeclarationTypes(TBRNExprToken* ParameterList) {
  if (!ParameterList) return;
  for (TBRNExprToken* param : ParameterList->Arguments()) {
    if (!param) continue;
    if (TBRNExprToken* type = argumentOrNil(param, 0)) {
      ValidateDataTypeNode(type);
      param->AssignDataType(type);
    }
    CheckDuplicateVariableInList(ParameterList, param);
  }
}

void TBRNExprValidator::ValidateBlock(TBRNExprToken* Block) {
  if (!Block) return;
  ValidateDeclarations(argumentOrNil(Block, 0));
  forEachBlockStatement(
      Block, [this](TBRNExprToken* Nested) { ValidateBlock(Nested); },
      [this](TBRNExprToken* Statement) { ValidateRoutineStatement(Statement); });
}

void TBRNExprValidator::ValidateDeclarations(TBRNExprToken* Section) {
  if (!Section) return;
  // First pass: the types of variables (the defaults are validated as
  // expressions only; they are not checked against the variable's type).
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* names = argumentOrNil(declaration, 0);
    TBRNExprToken* first = argumentOrNil(names, 0);
    if (!isVariableName(first)) continue;
    TBRNExprToken* type = argumentOrNil(declaration, 1);
    if (type) ValidateDataTypeNode(type);
    if (first->Kind == tkArrayVariable) {
      if (TBRNExprToken* size = argumentOrNil(declaration, 2)) {
        CheckKind(size, {tkConstant});
        CheckInteger(size);
      }
    }
    if (TBRNExprToken* value = argumentOrNil(declaration, 3)) ValidateNode(value);
    if (type)
      for (TBRNExprToken* name : names->Arguments())
        if (name) name->AssignDataType(type);
  }
  // Second pass: duplicates and the routine's result cursor.
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* names = argumentOrNil(declaration, 0);
    TBRNExprToken* first = argumentOrNil(names, 0);
    if (!first) continue;
    if (isVariableName(first)) {
      for (TBRNExprToken* name : names->Arguments()) {
        if (!name) continue;
        CheckDuplicateVariable(Section, name);
        CheckDuplicateVariableInList(nullptr, name);
      }
    } else if (first->Kind == tkCursorDeclaration) {
      CheckDuplicateCursor(Section, first);
      CheckDuplicateResultCursor(Section, first);
      TBRNExprToken* statement = argumentOrNil(first, 1);
      if (statement) CheckDuplicateStatement(Section, statement);
      TBRNExprToken* root = EnclosingRoutine(Section);
      if (argumentOrNil(first, 0) && root) {
        if (argumentOrNil(root, 3))
          RaiseInvalid(first,
                       FormatText("duplicate result cursor declaration %s found", {first->Name}));
        auto* reference = new TBRNExprToken;
        reference->Kind = tkStatementReference;
        reference->CopyPosition(first);
        if (statement) reference->Name = statement->Name;
        reference->Link = statement;
        while (root->ArgumentCount() < 4) root->AddArgument(nullptr);
        root->SetArgument(3, reference);
      }
    } else if (first->Kind == tkStatementName) {
      for (TBRNExprToken* name : names->Arguments())
        if (name) CheckDuplicateStatement(Section, name);
    }
  }
}

TBRNExprToken* TBRNExprValidator::GetDeclaredParam(TBRNExprToken* Root, int32_t Index) {
  return argumentOrNil(argumentOrNil(Root, 0), Index);
}

// ---- Duplicate checks -------------------------------------------------------------
// Each walks the declarations of the section in order and stops at the
// declaration being checked.

void TBRNExprValidator::CheckDuplicateVariable(TBRNExprToken* Section, TBRNExprToken* Name) {
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* names = argumentOrNil(declaration, 0);
    if (!names || !isVariableName(argumentOrNil(names, 0))) continue;
    for (TBRNExprToken* earlier : names->Arguments()) {
      if (earlier == Name) return;
      if (earlier && sameName(earlier->Name, Name->Name))
        RaiseInvalid(Name, FormatText("duplicate variable declaration %s found", {Name->Name}));
    }
  }
}

void TBRNExprValidator::CheckDuplicateVariableInList(TBRNExprToken* List, TBRNExprToken* Name) {
  if (!List) List = argumentOrNil(EnclosingRoutine(Name), 0);
  if (!List) return;
  for (TBRNExprToken* earlier : List->Arguments()) {
    if (earlier == Name) return;
    if (earlier && sameName(earlier->Name, Name->Name))
      RaiseInvalid(Name, FormatText("duplicate variable declaration %s found", {Name->Name}));
  }
}

void TBRNExprValidator::CheckDuplicateCursor(TBRNExprToken* Section, TBRNExprToken* Cursor) {
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* earlier = argumentOrNil(argumentOrNil(declaration, 0), 0);
    if (earlier == Cursor) return;
    if (earlier && earlier->Kind == tkCursorDeclaration && sameName(earlier->Name, Cursor->Name))
      RaiseInvalid(Cursor, FormatText("duplicate cursor declaration %s found", {Cursor->Name}));
  }
}

void TBRNExprValidator::CheckDuplicateResultCursor(TBRNExprToken* Section, TBRNExprToken* Cursor) {
  if (!argumentOrNil(Cursor, 0)) return;
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* earlier = argumentOrNil(argumentOrNil(declaration, 0), 0);
    if (earlier == Cursor) return;
    if (earlier && earlier->Kind == tkCursorDeclaration && argumentOrNil(earlier, 0))
      RaiseInvalid(Cursor,
                   FormatText("duplicate result cursor declaration %s found", {Cursor->Name}));
  }
}

void TBRNExprValidator::CheckDuplicateStatement(TBRNExprToken* Section,
                                                TBRNExprToken* StatementName) {
  const auto raise = [&] {
    RaiseInvalid(StatementName,
                 FormatText("duplicate statement declaration %s found", {StatementName->Name}));
  };
  for (TBRNExprToken* declaration : Section->Arguments()) {
    TBRNExprToken* names = argumentOrNil(declaration, 0);
    TBRNExprToken* first = argumentOrNil(names, 0);
    if (!first) continue;
    if (first->Kind == tkCursorDeclaration) {
      TBRNExprToken* earlier = argumentOrNil(first, 1);
      if (earlier == StatementName) return;
      if (earlier && sameName(earlier->Name, StatementName->Name)) raise();
    } else if (first->Kind == tkStatementName) {
      for (TBRNExprToken* earlier : names->Arguments()) {
        if (earlier == StatementName) return;
        if (earlier && sameName(earlier->Name, StatementName->Name)) raise();
      }
    }
  }
}

// ---- Assignment targets -------------------------------------------------------------

void TBRNExprValidator::CheckAssignmentTarget(TBRNExprToken* Target, TBRNExprToken* Other) {
  CheckKind(Target, {tkRoutineParamReference, tkArrayReference, tkArrayElement, tkVariableReference,
                     tkRowColumnReference});
  if (Target->Kind == tkRoutineParamReference) {
    const TBRNExprToken* param = Target->Link;
    if (!param || (param->Operation != opParamInOut && param->Operation != opParamOut))
      RaiseInvalid(Target, "a value cannot be assigned to an INPUT parameter");
  } else if (Target->Kind == tkRowColumnReference) {
    const TBRNExprToken* row = Target->Link;
    const TBRNExprToken* trigger = row && row->Parent ? row->Parent->Parent : nullptr;
    if (row && row->Kind == tkRowVariable && trigger && trigger->Operation != opNone &&
        !rowAssignable(row->Variant, trigger->Operation))
      RaiseInvalid(Target, "a value cannot be assigned to this column reference");
  }
  if (!Other) return;
  const bool wholeTarget = Target->Kind == tkArrayReference;
  const bool wholeOther = Other->Kind == tkArrayReference;
  if (wholeTarget && !wholeOther) RaiseInvalid(Target, "invalid array assignment");
  if (!wholeTarget && wholeOther) RaiseInvalid(Other, "invalid array assignment");
  if (wholeTarget && declaredArraySize(Other) > declaredArraySize(Target))
    RaiseInvalid(Other, "maximum array cardinality exceeded");
}

// ---- Procedural statements ----------------------------------------------------------

void TBRNExprValidator::ValidateCall(TBRNExprToken* Node) {
  TBRNExprToken* call = argumentOrNil(Node, 0);
  if (!call) return;
  // A procedure calling itself takes its own parameters: it is not in the
  // catalog yet while it is being created. Only a PROCEDURE root counts (a
  // function of the same name is another object).
  TBRNExprToken* root = EnclosingRoutine(Node);
  const bool recursive = root && root->Kind == tkProcedureName && sameName(root->Name, call->Name);
  if (!recursive) {
    OpenQualifiedDatabase(call);
    ResolveObjectName(call, tkRoutineCall);
  }
  for (TBRNExprToken* argument : call->Arguments()) ValidateNode(argument);
  for (int32_t j = 0; j < call->ArgumentCount(); ++j) {
    TBRNExprToken* argument = call->Argument(j);
    if (!argument) continue;
    // Catalog parameter nodes belong to the catalog (valid while the compile
    // runs); they are not freed here.
    TBRNExprToken* param = recursive ? GetDeclaredParam(root, j) : GetProcedureParam(call->Name, j);
    if (!param) RaiseInvalid(argument, "invalid number of parameters specified");
    CheckAssignable(argument, param);
  }
  AddProcedureDependency(call);
}

void TBRNExprValidator::ValidateCaseStatement(TBRNExprToken* Node) {
  // Conditions are used as they are (no comparison with TRUE is added). A
  // simple CASE (its operand argument 2) holds the WHEN values its operand
  // is compared with instead.
  {
    FieldRestorer<bool> filter(FilterMode, false);
    TBRNExprToken* operand = argumentOrNil(Node, 2);
    if (operand) {
      ValidateNode(operand);
      RejectArrayReference(operand);
    }
    if (TBRNExprToken* conditions = argumentOrNil(Node, 0)) {
      for (TBRNExprToken* condition : conditions->Arguments()) {
        if (!condition) continue;
        ValidateNode(condition);
        if (operand)
          RejectArrayReference(condition);
        else
          CheckBooleanOrInteger(condition);
      }
      if (operand) typeComparedValues(operand, conditions->Arguments());
    }
  }
  if (TBRNExprToken* bodies = argumentOrNil(Node, 1))
    for (TBRNExprToken* body : bodies->Arguments()) ValidateBlock(body);
}

void TBRNExprValidator::ValidateIfStatement(TBRNExprToken* Node) {
  ValidateCaseStatement(Node);
}

void TBRNExprValidator::ValidateClose(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateRefresh(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateCursorDelete(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateExecute(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  if (TBRNExprToken* values = argumentOrNil(Node, 1))
    for (TBRNExprToken* value : values->Arguments()) ValidateNode(value);
}

void TBRNExprValidator::ValidateOpen(TBRNExprToken* Node) {
  ValidateExecute(Node);
}

void TBRNExprValidator::ValidateExecuteImmediate(TBRNExprToken* Node) {
  if (TBRNExprToken* text = argumentOrNil(Node, 0)) {
    ValidateNode(text);
    CheckCharacter(text);
  }
  if (TBRNExprToken* values = argumentOrNil(Node, 1))
    for (TBRNExprToken* value : values->Arguments()) ValidateNode(value);
}

void TBRNExprValidator::ValidateFetch(TBRNExprToken* Node) {
  TBRNExprToken* orientation = argumentOrNil(Node, 0);
  if (orientation && (orientation->Variant == 5 || orientation->Variant == 6)) {
    if (TBRNExprToken* value = argumentOrNil(orientation, 0)) {
      ValidateNode(value);
      CheckInteger(value);
    }
  }
  ValidateNode(argumentOrNil(Node, 1));
  TBRNExprToken* pairs = argumentOrNil(Node, 2);
  if (!pairs) return;
  for (TBRNExprToken* pair : pairs->Arguments()) {
    if (!pair) continue;
    TBRNExprToken* column = pair->Left();
    if (column) {
      ValidateNode(column);
      CheckCharacter(column);
    }
    TBRNExprToken* target = pair->Right();
    if (!target)
      RaiseInvalid(column,
                   "the number of FETCH target variables does not match the number of columns");
    ValidateNode(target);
    CheckAssignmentTarget(target, column);
  }
}

void TBRNExprValidator::ValidateCursorInsert(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  TBRNExprToken* pairs = argumentOrNil(Node, 1);
  if (!pairs) return;
  for (TBRNExprToken* pair : pairs->Arguments()) {
    if (!pair) continue;
    TBRNExprToken* column = pair->Left();
    if (column) {
      ValidateNode(column);
      CheckCharacter(column);
    }
    TBRNExprToken* value = pair->Right();
    if (!value)
      RaiseInvalid(column, "the number of INSERT values does not match the number of columns");
    ValidateNode(value);
  }
}

void TBRNExprValidator::ValidateCursorUpdate(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  TBRNExprToken* pairs = argumentOrNil(Node, 1);
  if (!pairs) return;
  for (TBRNExprToken* pair : pairs->Arguments()) {
    if (!pair) continue;
    if (TBRNExprToken* column = pair->Left()) {
      ValidateNode(column);
      CheckCharacter(column);
    }
    ValidateNode(pair->Right());
  }
}

void TBRNExprValidator::ValidateIterate(TBRNExprToken* Node) {
  ResolveLabel(Node);
}

void TBRNExprValidator::ValidateLeave(TBRNExprToken* Node) {
  ResolveLabel(Node);
}

void TBRNExprValidator::ValidateRetry(TBRNExprToken* Node) {
  ResolveLabel(Node);
}

void TBRNExprValidator::ValidateLoop(TBRNExprToken* Node) {
  ValidateBlock(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateRepeat(TBRNExprToken* Node) {
  ValidateBlock(argumentOrNil(Node, 0));
  if (TBRNExprToken* condition = argumentOrNil(Node, 1)) {
    FieldRestorer<bool> filter(FilterMode, false);
    ValidateNode(condition);
    CheckBooleanOrInteger(condition);
  }
}

void TBRNExprValidator::ValidateWhile(TBRNExprToken* Node) {
  if (TBRNExprToken* condition = argumentOrNil(Node, 0)) {
    FieldRestorer<bool> filter(FilterMode, false);
    ValidateNode(condition);
    CheckBooleanOrInteger(condition);
  }
  ValidateBlock(argumentOrNil(Node, 1));
}

void TBRNExprValidator::ValidatePrepare(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  if (TBRNExprToken* text = argumentOrNil(Node, 1)) {
    ValidateNode(text);
    CheckCharacter(text);
  }
}

void TBRNExprValidator::ValidateUnprepare(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateRaise(TBRNExprToken* Node) {
  TBRNExprToken* code = argumentOrNil(Node, 0);
  if (!code) return;
  ValidateNode(code);
  TBRNExprToken* message = argumentOrNil(Node, 1);
  ValidateNode(message);
  CheckInteger(code);
  if (message) CheckCharacter(message);
}

void TBRNExprValidator::ValidateReturn(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
}

void TBRNExprValidator::ValidateSet(TBRNExprToken* Node) {
  for (TBRNExprToken* pair : Node->Arguments()) {
    if (!pair) continue;
    ValidateNode(pair->Left());
    ValidateNode(pair->Right());
    TBRNExprToken* target = pair->Left();
    TBRNExprToken* value = pair->Right();
    if (!target || !value) throw std::invalid_argument("SET pair without target and value");
    CheckAssignable(value, target);
    CheckAssignmentTarget(target, value);
  }
}

void TBRNExprValidator::ValidateSetLogMessage(TBRNExprToken* Node) {
  if (TBRNExprToken* value = argumentOrNil(Node, 0)) {
    ValidateNode(value);
    CheckCharacterOrLob(value);
  }
}

void TBRNExprValidator::ValidateSetStatusMessage(TBRNExprToken* Node) {
  ValidateSetLogMessage(Node);
}

void TBRNExprValidator::ValidateSetProgress(TBRNExprToken* Node) {
  if (TBRNExprToken* value = argumentOrNil(Node, 0)) {
    ValidateNode(value);
    CheckNumeric(value);
  }
}

void TBRNExprValidator::ValidateStartTransaction(TBRNExprToken* Node) {
  // The TIMEOUT value is checked when the statement runs.
  TBRNExprToken* tables = argumentOrNil(Node, 0);
  if (!tables) return;
  for (TBRNExprToken* table : tables->Arguments()) {
    if (!table) continue;
    ValidateNode(table);
    CheckCharacter(table);
  }
}

void TBRNExprValidator::ValidateUse(TBRNExprToken* Node) {
  BeginUseDatabase(argumentOrNil(Node, 0));
}

// ---- Release pass -----------------------------------------------------------------------

void TBRNExprValidator::ReleaseRoutine(TBRNExprToken* Node) {
  if (!Node || argumentOrNil(Node, 4)) return;
  ReleaseBlock(argumentOrNil(Node, 5));
}

void TBRNExprValidator::ReleaseBlock(TBRNExprToken* Block) {
  if (!Block) return;
  // DEFAULT values may call stored functions too.
  if (const TBRNExprToken* declarations = argumentOrNil(Block, 0))
    for (const TBRNExprToken* declaration : declarations->Arguments())
      ReleaseNode(argumentOrNil(declaration, 3));
  forEachBlockStatement(
      Block, [this](TBRNExprToken* Nested) { ReleaseBlock(Nested); },
      [this](TBRNExprToken* Statement) { ReleaseRoutineStatement(Statement); });
}

void TBRNExprValidator::ReleaseRoutineStatement(TBRNExprToken* Node) {
  switch (Node->Operation) {
    case opCall:
      if (TBRNExprToken* call = argumentOrNil(Node, 0)) {
        for (TBRNExprToken* argument : call->Arguments()) ReleaseNode(argument);
        CloseQualifiedDatabase(call);
      }
      return;
    case opUse:
      return EndUseDatabase(argumentOrNil(Node, 0));
    default:
      // Bodies (IF, CASE, LOOP, REPEAT, WHILE) and every expression: a
      // stored function called in a condition or value has opened its
      // database as well.
      return releaseStatementParts(Node);
  }
}

void TBRNExprValidator::releaseStatementParts(TBRNExprToken* Node) {
  // Lists (conditions, bodies, pairs, USING values) nest only as deep as the
  // statement's own layout; expressions and blocks have their own walks.
  for (TBRNExprToken* part : Node->Arguments()) {
    if (!part) continue;
    if (part->Kind == tkBlock) {
      ReleaseBlock(part);
    } else if (part->Kind == tkList) {
      releaseStatementParts(part);
      ReleaseNode(part->Left());
      ReleaseNode(part->Right());
    } else {
      ReleaseNode(part);
    }
  }
}

}  // namespace brn
