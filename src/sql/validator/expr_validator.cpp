// The validator frame: entry points, the node walker, the small checks and
// the error texts.

#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "foundation/text/string_helpers.h"
#include "foundation/types/literal_text.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

bool isRoutineRoot(TBRNExprTokenKind Kind) {
  return Kind == tkFunctionName || Kind == tkJobName || Kind == tkProcedureName ||
         Kind == tkScript || Kind == tkTriggerName;
}

using validation::argumentOrNil;

bool isCharOrLob(const TBRNExprToken* Node) {
  return Node->DataType == dtChar || Node->DataType == dtLob;
}

bool isDynamicParam(const TBRNExprToken* Node) {
  return Node && Node->Kind == tkDynamicParamReference;
}

// Joins message names: "a", "a or b", "a, b, or c", then " expression".
std::string joinExpectedNames(const std::vector<std::string>& Names) {
  std::string text;
  for (size_t i = 0; i < Names.size(); ++i) {
    if (i > 0) {
      if (i + 1 < Names.size())
        text += ", ";
      else
        text += Names.size() == 2 ? " or " : ", or ";
    }
    text += Names[i];
  }
  return text + " expression";
}

}  // namespace

TBRNExprValidator::TBRNExprValidator(bool StandardNullBehavior)
    : StandardNullBehavior(StandardNullBehavior) {
  InitFunctionChecks();
  InitStatementChecks();
  InitRoutineStatementChecks();
}

TBRNExprValidator::~TBRNExprValidator() = default;

bool TBRNExprValidator::IsTextIndexedColumn(TBRNExprToken* Node) {
  return Owner->IsTextIndexed(Node);
}

// ---- Entry points ------------------------------------------------------------

void TBRNExprValidator::SetExpression(TBRNCompiledExpr& NewOwner) {
  Owner = &NewOwner;
  ParamDirection = opParamIn;
  NextParamNumber = 1;
  FilterMode = false;
}

void TBRNExprValidator::ValidateExpression() {
  if (!Owner) throw std::logic_error("TBRNExprValidator: SetExpression was not called");
  TBRNExprToken* root = Owner->Root;
  if (!root) return;
  if (root->Kind == tkStatement) return ValidateStatement(root);
  if (isRoutineRoot(root->Kind)) return ValidateRoutine(root);
  ValidateNode(root);
  // The rewrites keep the root node object (MakeTruthComparison turns the
  // node itself into the comparison), so root is still the root.
  if (ExpectedType != 0)
    CheckType(root, GetAssignableTypes(root, TBRNDataTypeCode(ExpectedType), ExpectedSubType));
}

void TBRNExprValidator::ReleaseReferences() {
  if (!Owner) return;
  TBRNExprToken* root = Owner->Root;
  if (!root) return;
  if (root->Kind == tkStatement) return ReleaseStatement(root);
  if (isRoutineRoot(root->Kind)) return ReleaseRoutine(root);
  ReleaseNode(root);
}

void TBRNExprValidator::ValidateStatement(TBRNExprToken* Node) {
  const int32_t code = Node->Operation;
  if (code < FirstStatementCode || code > LastStatementCode) return;
  if (const TBRNCheckMethod check = StatementChecks[size_t(code - FirstStatementCode)])
    (this->*check)(Node);
}

void TBRNExprValidator::ValidateRoutineStatement(TBRNExprToken* Node) {
  const int32_t code = Node->Operation;
  if (code < FirstRoutineStatementCode || code > LastRoutineStatementCode) return;
  if (const TBRNCheckMethod check =
          RoutineStatementChecks[size_t(code - FirstRoutineStatementCode)])
    (this->*check)(Node);
}

// ---- Walker --------------------------------------------------------------------

void TBRNExprValidator::ValidateNode(TBRNExprToken* Node) {
  if (!Node) return;
  switch (Node->Kind) {
    case tkOperator:
      return validateOperatorChain(Node);
    case tkUnaryOperator:
      return validateUnaryOperator(Node);
    case tkConstant:
      return validateConstant(Node);
    case tkColumnReference:
      if (Node->Name == "*") {
        // Only a qualified wildcard names a table to bind to.
        if (!Node->SchemaName.empty()) ResolveColumnReference(Node);
        return;
      }
      return validateColumnReference(Node);
    case tkArrayReference:
    case tkVariableReference:
      ResolveVariable(Node, false);
      return bindParamOrVariable(Node);
    case tkArrayElement:
      ValidateNode(argumentOrNil(argumentOrNil(Node, 0), 0));
      ResolveVariable(Node, false);
      return bindParamOrVariable(Node);
    case tkRoutineParamReference:
      ResolveRoutineParam(Node, true);
      return CopyLinkType(Node);
    case tkCursorReference:
      return ResolveCursor(Node);
    case tkStatementReference:
      return ResolveStatement(Node);
    case tkDynamicParamReference:
      return ResolveDynamicParam(Node);
    case tkPredicate:
      return validatePredicate(Node);
    case tkFunction: {
      const int32_t code = Node->Operation;
      if (code >= FirstFunctionCode && code <= LastFunctionCode)
        if (const TBRNCheckMethod check = FunctionChecks[size_t(code - FirstFunctionCode)])
          (this->*check)(Node);
      return AddFunctionDependency(Node);
    }
    case tkQuery: {
      const bool saved = FilterMode;
      FilterMode = false;
      try {
        ValidateQuery(Node);
      } catch (...) {
        FilterMode = saved;
        throw;
      }
      FilterMode = saved;
      if (FilterMode && IsScalarSubquery(Node)) MakeTruthComparison(Node);
      return;
    }
    case tkRowValue:
      for (TBRNExprToken* member : Node->Arguments()) {
        ValidateNode(member);
        RejectArrayReference(member);
      }
      return;
    default:
      return;
  }
}

void TBRNExprValidator::validateOperatorChain(TBRNExprToken* Node) {
  // The parser builds a + b + c ... left-deep without a depth limit: walk the
  // left spine with a list instead of the stack. Right operands are bounded
  // by the parser's nesting limit.
  std::vector<TBRNExprToken*> spine;
  TBRNExprToken* leaf = Node;
  while (leaf && leaf->Kind == tkOperator) {
    spine.push_back(leaf);
    leaf = leaf->Left();
  }
  // The resolution of names looks upward for the enclosing query, block and
  // routine, which a chain of n links would make n steps long for each of
  // its operands. Meanwhile every link below the top answers to the top as
  // its parent (the enclosing nodes are the same); each operand keeps its
  // own parent. The links are restored however the validation ends.
  std::vector<TBRNExprToken*> parents(spine.size());
  for (size_t i = 1; i < spine.size(); ++i) {
    parents[i] = spine[i]->Parent;
    spine[i]->Parent = Node;
  }
  struct Restore {
    std::vector<TBRNExprToken*>& Spine;
    std::vector<TBRNExprToken*>& Parents;
    ~Restore() {
      for (size_t i = 1; i < Spine.size(); ++i) Spine[i]->Parent = Parents[i];
    }
  } restore{spine, parents};
  ValidateNode(leaf);
  for (auto it = spine.rbegin(); it != spine.rend(); ++it) validateOperator(*it);
}

void TBRNExprValidator::validateOperator(TBRNExprToken* Node) {
  ValidateNode(Node->Right());
  TBRNExprToken* left = Node->Left();
  TBRNExprToken* right = Node->Right();
  if (!left || !right) throw std::invalid_argument("binary operator without two operands");
  RejectArrayReference(left);
  RejectArrayReference(right);
  const TBRNExprOperation operation = Node->Operation;
  CheckOperandTypes(operation, Node->DataType, left, right, Node->SubType);
  if (operation != opIntervalDifference) {
    Node->SetDataType(GetBinaryResultType(operation, left->DataType, left->SubType, right->DataType,
                                          right->SubType));
    Node->SetSubType(GetBinaryResultSubType(operation, left->DataType, left->SubType,
                                            right->DataType, right->SubType));
    Node->Collation =
        GetBinaryResultCollation(operation, left->DataType, left->SubType, left->Collation);
  }
  if (operation == opAdd && isCharOrLob(left) && isCharOrLob(right))
    validation::setConcatenationSize(Node, left->Size, right->Size);
  else if (Node->DataType == dtChar)
    Node->SetSize(std::max(left->Size, right->Size));
  else if (Node->DataType == dtDecimal)
    Node->SetScale(std::max(left->Scale, right->Scale));
}

void TBRNExprValidator::validateUnaryOperator(TBRNExprToken* Node) {
  ValidateNode(Node->Left());
  TBRNExprToken* operand = Node->Left();
  if (!operand) throw std::invalid_argument("unary operator without operand");
  RejectRowValue(operand);
  RejectArrayReference(operand);
  if (isDynamicParam(operand)) {
    if (Node->Operation == opNegate)
      RaiseInvalid(Node, "dynamic parameter type cannot be inferred");
    if (Node->Operation == opNot && operand->Link) {
      operand->Link->SetDataType(dtBoolean);
      CopyLinkType(operand);
    }
  }
  CheckUnaryOperand(Node->Operation, operand);
  Node->SetDataType(GetUnaryResultType(Node->Operation, operand->DataType));
  Node->SetSubType(GetUnaryResultSubType(Node->Operation, operand->SubType));
  Node->SetSize(operand->Size);
  Node->SetScale(operand->Scale);
}

void TBRNExprValidator::validateConstant(TBRNExprToken* Node) {
  using namespace type_classes;
  switch (Node->DataType) {
    case dtDate:
      if (!IsDateLiteral(Node->Text)) RaiseTypeExpected(Node, Date);
      return;
    case dtTime:
      if (!IsTimeLiteral(Node->Text)) RaiseTypeExpected(Node, Time);
      return;
    case dtTimestamp:
      if (!IsTimestampLiteral(Node->Text)) RaiseTypeExpected(Node, Timestamp);
      return;
    case dtYearMonthInterval:
      if (!IsYearMonthIntervalLiteral(Node->Text, Node->SubType)) RaiseTypeExpected(Node, YM);
      return;
    case dtDayTimeInterval:
      if (!IsDayTimeIntervalLiteral(Node->Text, Node->SubType)) RaiseTypeExpected(Node, DT);
      return;
    default:
      return;
  }
}

void TBRNExprValidator::applyCollateList(TBRNExprToken* Node) {
  if (TBRNExprToken* name = argumentOrNil(argumentOrNil(Node, 1), 0))
    Node->Collation = name->Collation;
}

void TBRNExprValidator::validateColumnReference(TBRNExprToken* Node) {
  // Inside procedural code an unqualified name may be a variable or a
  // routine parameter before it is a column.
  if (Node->SchemaName.empty() && EnclosingBlock(Node)) {
    ResolveVariable(Node, false);
    if (Node->Link) {
      CopyLinkType(Node);
      ResolveCollations(Node);
      ValidateNode(argumentOrNil(argumentOrNil(Node, 0), 0));
      applyCollateList(Node);
    } else {
      ResolveRoutineParam(Node, false);
      if (Node->Link) {
        Node->Kind = tkRoutineParamReference;
        CopyLinkType(Node);
        ResolveCollations(Node);
        applyCollateList(Node);
      }
    }
  }
  if (Node->Kind == tkColumnReference) {
    ResolveRowIdentifier(Node);
    if (Node->Kind == tkColumnReference && !Node->Link) ResolveColumnReference(Node);
    ResolveObjectName(Node, Node->Kind);
    ResolveCollations(Node);
    applyCollateList(Node);
    AddColumnDependency(Node);
  }
  if (FilterMode) MakeTruthComparison(Node);
}

void TBRNExprValidator::bindParamOrVariable(TBRNExprToken* Node) {
  if (!Node->Link) {
    ResolveRoutineParam(Node, false);
    if (Node->Link)
      Node->Kind = tkRoutineParamReference;
    else
      ResolveVariable(Node, true);
  }
  CopyLinkType(Node);
}

void TBRNExprValidator::validatePredicate(TBRNExprToken* Node) {
  switch (Node->Operation) {
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny:
      return validateTextSearch(Node);
    case opIsNull:
    case opIsNotNull:
      ValidateNode(argumentOrNil(Node, 0));
      return RejectArrayReference(argumentOrNil(Node, 0));
    case opLike:
    case opNotLike:
      return validateLike(Node);
    case opBetween:
    case opNotBetween:
    case opIn:
    case opNotIn:
      return validateRangeOrList(Node);
    default:
      return;
  }
}

void TBRNExprValidator::validateTextSearch(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  ValidateNode(argumentOrNil(Node, 1));
  TBRNExprToken* column = argumentOrNil(Node, 0);
  TBRNExprToken* search = argumentOrNil(Node, 1);
  if (!column || !search) throw std::invalid_argument("text search without two operands");
  RejectRowValue(column);
  RejectArrayReference(column);
  RejectRowValue(search);
  RejectArrayReference(search);
  if (isDynamicParam(search) && search->Link) {
    search->Link->SetDataType(dtChar);
    search->Link->SetSize(0);
    CopyLinkType(search);
  }
  CheckKind(column, {tkColumnReference});
  CheckCharacter(column);
  CheckCharacter(search);
  Node->SetDataType(dtBoolean);
  if (!IsTextIndexedColumn(column))
    RaiseInvalid(column,
                 "CONTAINS or DOES NOT CONTAIN can only be used with a text-indexed column with a "
                 "matching collation");
}

void TBRNExprValidator::validateLike(TBRNExprToken* Node) {
  ValidateNode(argumentOrNil(Node, 0));
  ValidateNode(argumentOrNil(Node, 1));
  TBRNExprToken* value = argumentOrNil(Node, 0);
  TBRNExprToken* pattern = argumentOrNil(Node, 1);
  if (!value || !pattern) throw std::invalid_argument("LIKE without two operands");
  RejectRowValue(value);
  RejectArrayReference(value);
  RejectRowValue(pattern);
  RejectArrayReference(pattern);
  TBRNExprToken* escape = argumentOrNil(Node, 2);
  if (escape) {
    ValidateNode(escape);
    escape = argumentOrNil(Node, 2);
    RejectArrayReference(escape);
  }
  if (isDynamicParam(pattern) && !isDynamicParam(value)) {
    if (pattern->Link) {
      pattern->Link->AssignDataType(value);
      CopyLinkType(pattern);
    }
  } else if (isDynamicParam(value)) {
    if (isDynamicParam(pattern)) RaiseInvalid(value, "dynamic parameter type cannot be inferred");
    if (value->Link) {
      value->Link->SetDataType(dtChar);
      value->Link->SetSize(0);
      CopyLinkType(value);
    }
  }
  CheckCharacter(value);
  CheckCharacter(pattern);
  if (escape) {
    CheckKind(escape, {tkConstant});
    CheckCharacter(escape);
    if (escape->Text.size() > 1) RaiseInvalid(escape, "only a single character allowed");
  }
  Node->SetDataType(dtBoolean);
}

void TBRNExprValidator::validateRangeOrList(TBRNExprToken* Node) {
  const int32_t count = Node->ArgumentCount();
  for (int32_t i = 0; i < count; ++i) {
    ValidateNode(Node->Argument(i));
    RejectArrayReference(Node->Argument(i));
  }
  TBRNExprToken* tested = argumentOrNil(Node, 0);
  if (!tested) throw std::invalid_argument("predicate without tested value");
  typeComparedValues(tested, Node->Arguments().subspan(1));
  Node->SetDataType(dtBoolean);
}

void TBRNExprValidator::typeComparedValues(TBRNExprToken* Tested,
                                           std::span<TBRNExprToken* const> Values) {
  const auto compared = [](const TBRNExprToken* Value) {
    return Value && Value->Operation != opDefault;
  };
  TBRNExprToken* model = isDynamicParam(Tested) ? nullptr : Tested;
  for (TBRNExprToken* value : Values)
    if (!model && compared(value) && !isDynamicParam(value)) model = value;
  if (!model) RaiseInvalid(Tested, "dynamic parameter type cannot be inferred");
  const auto takeModelType = [&](TBRNExprToken* Param) {
    if (!isDynamicParam(Param) || !Param->Link) return;
    Param->Link->AssignDataType(model);
    CopyLinkType(Param);
  };
  takeModelType(Tested);
  for (TBRNExprToken* value : Values) {
    if (!compared(value)) continue;
    takeModelType(value);
    CheckOperandTypes(opEqual, dtNull, Tested, value, 0);
  }
}

bool TBRNExprValidator::IsScalarSubquery(const TBRNExprToken* Node) const {
  const TBRNExprToken* setOperation = argumentOrNil(Node, qpSetOperation);
  if (setOperation && setOperation->Operation != opNone) return false;
  const TBRNExprToken* parent = Node->Parent;
  if (!parent) return false;
  switch (parent->Operation) {
    case opExists:
    case opIn:
    case opNotIn:
    case opDerivedTable:
      return false;
    default:
      break;
  }
  const TBRNExprToken* grandParent = parent->Parent;
  return grandParent && grandParent->Operation != opCreate && grandParent->Operation != opInsert;
}

void TBRNExprValidator::MakeTruthComparison(TBRNExprToken* Node) {
  if (Node->DataType < dtBoolean || Node->DataType > dtBigInt) return;
  if (const TBRNExprToken* parent = Node->Parent) {
    if (parent->Kind == tkRowValue) return;
    if (parent->Operation != opNone && parent->Operation != opAnd && parent->Operation != opNot &&
        parent->Operation != opOr)
      return;
  }
  // The node object stays where it is (its parent's slot and every pointer
  // to it remain valid); a new node takes over what it was.
  TBRNExprToken* operand = Node->Create();
  operand->Assign(Node, true);
  Node->SetArgumentCount(0);
  Node->Kind = tkOperator;
  Node->Operation = opEqual;
  Node->SetDataType(dtBoolean);
  Node->Collation = 0;
  Node->Text.clear();
  Node->Name.clear();
  Node->SchemaName.clear();
  Node->DatabaseName.clear();
  Node->Link = nullptr;
  Node->Index = -1;
  Node->Variant = 0;
  Node->SetLeft(operand);
  auto* truth = new TBRNExprToken;
  truth->Kind = tkConstant;
  truth->SetDataType(dtBoolean);
  truth->Text = "TRUE";
  truth->CopyPosition(Node);
  Node->SetRight(truth);
}

// ---- Checks ----------------------------------------------------------------------

void TBRNExprValidator::CheckType(TBRNExprToken* Node, const TBRNTypeClass& Class) {
  if (!Class.Contains(Node->DataType, Node->SubType)) RaiseTypeExpected(Node, Class);
}

void TBRNExprValidator::CheckKind(TBRNExprToken* Node,
                                  std::initializer_list<TBRNExprTokenKind> Kinds) {
  if (std::find(Kinds.begin(), Kinds.end(), Node->Kind) == Kinds.end())
    RaiseKindExpected(Node, Kinds);
}

void TBRNExprValidator::CheckArgumentKinds(TBRNExprToken* Node,
                                           std::initializer_list<TBRNExprTokenKind> Kinds) {
  for (TBRNExprToken* argument : Node->Arguments())
    if (argument) CheckKind(argument, Kinds);
}

void TBRNExprValidator::RejectRowValue(TBRNExprToken* Node) {
  if (Node && Node->Kind == tkRowValue) RaiseInvalid(Node, "row values not allowed");
}

void TBRNExprValidator::RejectArrayReference(TBRNExprToken* Node) {
  if (Node && Node->Kind == tkArrayReference) RaiseInvalid(Node, "array references not allowed");
}

void TBRNExprValidator::RejectNullSelectExpression(TBRNExprToken* Node) {
  if (Node && Node->IsNullConstant())
    RaiseInvalid(Node, "a constant NULL value is not allowed as a SELECT expression");
}

bool TBRNExprValidator::IsRowValue(const TBRNExprToken* Node) const {
  if (!Node) return false;
  if (Node->Kind == tkRowValue) return true;
  return Node->Kind == tkQuery && RowValueDegree(Node) > 1;
}

TBRNExprToken* TBRNExprValidator::RowValueMembers(TBRNExprToken* Node) const {
  if (!Node) return nullptr;
  if (Node->Kind == tkRowValue) return Node;
  if (Node->Kind == tkQuery) return argumentOrNil(Node, qpSelectList);
  return nullptr;
}

int32_t TBRNExprValidator::RowValueDegree(const TBRNExprToken* Node) const {
  if (Node->Kind != tkQuery) return Node->ArgumentCount();
  const TBRNExprToken* list = argumentOrNil(Node, qpSelectList);
  if (!list) return 0;
  int32_t count = 0;
  for (const TBRNExprToken* item : list->Arguments())
    if (item && !item->Hidden) ++count;
  return count;
}

void TBRNExprValidator::CopyLinkType(TBRNExprToken* Node) {
  if (Node->Link) Node->AssignDataType(Node->Link);
}

// ---- Errors ----------------------------------------------------------------------

std::string TBRNExprValidator::NodeText(const TBRNExprToken* Node) const {
  std::string text;
  if (Owner && Node) Owner->BuildText(Node, false, text, false, false);
  return text;
}

void TBRNExprValidator::RaiseInvalid(TBRNExprToken* Node, std::string_view Message) {
  const TBRNExprToken* at = Node ? LeftmostOperand(Node) : nullptr;
  Owner->ReportError(FormatText("Invalid expression %s found, %s", {NodeText(Node), Message}),
                     at ? at->Line : 0, at ? at->Column : 0);
  throw std::logic_error("ReportError returned");
}

void TBRNExprValidator::RaiseExpected(TBRNExprToken* Node, std::string_view Noun) {
  const TBRNExprToken* at = Node ? LeftmostOperand(Node) : nullptr;
  Owner->ReportError(FormatText("Expected %s but instead found %s", {Noun, NodeText(Node)}),
                     at ? at->Line : 0, at ? at->Column : 0);
  // An override must raise; should one return, the run still ends here.
  throw std::logic_error("ReportError returned");
}

void TBRNExprValidator::RaiseTypeExpected(TBRNExprToken* Node, const TBRNTypeClass& Class) {
  RaiseExpected(Node, DescribeTypeSet(Class));
}

void TBRNExprValidator::RaiseKindExpected(TBRNExprToken* Node,
                                          std::initializer_list<TBRNExprTokenKind> Kinds) {
  RaiseExpected(Node, DescribeKinds(Kinds));
}

std::string TBRNExprValidator::DescribeTypeSet(const TBRNTypeClass& Class) {
  std::vector<std::string> names;
  const auto add = [&](bool Condition, const char* Name) {
    if (Condition) names.emplace_back(Name);
  };
  add(Class.HasType(dtNull), "NULL");
  if (Class.HasType(dtChar)) {
    add(Class.HasSubType(stFixed), "Char");
    add(Class.HasSubType(stGuid), "GUID");
    add(Class.HasSubType(stDefault), "VarChar");
  }
  if (Class.HasType(dtBytes)) {
    add(Class.HasSubType(stFixed), "Byte");
    add(Class.HasSubType(stGuid), "GUID");
    add(Class.HasSubType(stDefault), "VarByte");
  }
  if (Class.HasType(dtLob)) {
    add(Class.HasSubType(stClob), "CLOB");
    add(Class.HasSubType(stDefault), "BLOB");
  }
  add(Class.HasType(dtBoolean), "Boolean");
  add(Class.HasType(dtSmallInt), "SmallInt");
  add(Class.HasType(dtInteger), "Integer");
  add(Class.HasType(dtBigInt), "BigInt");
  add(Class.HasType(dtFloat), "Float");
  add(Class.HasType(dtDecimal), "Decimal");
  add(Class.HasType(dtDate), "Date");
  add(Class.HasType(dtTime), "Time");
  add(Class.HasType(dtTimestamp), "Timestamp");
  if (Class.HasType(dtYearMonthInterval))
    for (const TBRNQualifierName& q : YearMonthQualifierNames)
      add(Class.HasSubType(q.Qualifier), q.Name);
  if (Class.HasType(dtDayTimeInterval))
    for (const TBRNQualifierName& q : DayTimeQualifierNames)
      add(Class.HasSubType(q.Qualifier), q.Name);
  return joinExpectedNames(names);
}

std::string TBRNExprValidator::DescribeKinds(std::initializer_list<TBRNExprTokenKind> Kinds) {
  // Named kinds in the order of their codes.
  static constexpr struct {
    TBRNExprTokenKind Kind;
    const char* Name;
  } kNames[] = {
      {tkArrayReference, "array variable name"},
      {tkArrayElement, "array variable element name"},
      {tkOperator, "binary operator"},
      {tkColumnReference, "column name"},
      {tkConstant, "constant value"},
      {tkCursorReference, "cursor name"},
      {tkPredicate, "extended binary operator"},
      {tkFunction, "function name"},
      {tkOuterColumnReference, "column name"},
      {tkRoutineParamReference, "parameter name"},
      {tkQuery, "query"},
      {tkRowColumnReference, "column name"},
      {tkRowValue, "row value"},
      {tkStatementReference, "statement name"},
      {tkTableReference, "table name"},
      {tkUnaryOperator, "unary operator"},
      {tkVariableReference, "variable name"},
  };
  std::vector<std::string> names;
  for (const auto& entry : kNames)
    if (std::find(Kinds.begin(), Kinds.end(), entry.Kind) != Kinds.end())
      names.emplace_back(entry.Name);
  return joinExpectedNames(names);
}

// ---- Owner forwards ------------------------------------------------------------

void TBRNExprValidator::OpenQualifiedDatabase(TBRNExprToken* Node) {
  Owner->OpenQualifiedDatabase(Node);
}
void TBRNExprValidator::CloseQualifiedDatabase(TBRNExprToken* Node) {
  Owner->CloseQualifiedDatabase(Node);
}
TBRNExprToken* TBRNExprValidator::GetFunctionParam(std::string_view FunctionName, int32_t Index) {
  return Owner->GetFunctionParam(FunctionName, Index);
}
TBRNExprToken* TBRNExprValidator::GetProcedureParam(std::string_view ProcedureName, int32_t Index) {
  return Owner->GetProcedureParam(ProcedureName, Index);
}
bool TBRNExprValidator::TableHasColumn(const TBRNExprToken* TableNode,
                                       const TBRNExprToken* ColumnNode) {
  return Owner->TableHasColumn(TableNode, ColumnNode);
}
void TBRNExprValidator::BeginUseDatabase(TBRNExprToken* UseNode) {
  Owner->BeginUseDatabase(UseNode);
}
void TBRNExprValidator::EndUseDatabase(TBRNExprToken* UseNode) {
  Owner->EndUseDatabase(UseNode);
}
void TBRNExprValidator::ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference,
                                       int32_t& Position, TBRNExprToken* Wildcard) {
  Owner->ExpandWildcard(Query, TableReference, Position, Wildcard);
}
void TBRNExprValidator::AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode) {
  Owner->AddTableColumns(TableReference, ListNode);
}
std::string TBRNExprValidator::GetContextSchemaName(const TBRNExprToken* Node) {
  std::string name;
  Owner->GetContextSchemaName(Node, name);
  return name;
}
std::string TBRNExprValidator::GetContextTableName(const TBRNExprToken* Node) {
  std::string name;
  Owner->GetContextTableName(Node, name);
  return name;
}
void TBRNExprValidator::AddTableDependency(TBRNExprToken* Node) {
  Owner->AddTableDependency(Node);
}
void TBRNExprValidator::AddColumnDependency(TBRNExprToken* Node) {
  Owner->AddColumnDependency(Node);
}
void TBRNExprValidator::AddFunctionDependency(TBRNExprToken* Node) {
  Owner->AddFunctionDependency(Node);
}
void TBRNExprValidator::AddProcedureDependency(TBRNExprToken* Node) {
  Owner->AddProcedureDependency(Node);
}

// ---- Release pass ----------------------------------------------------------------

void TBRNExprValidator::ReleaseNode(TBRNExprToken* Node) {
  // Iterative: operator chains have no depth limit. A user function call's
  // database is closed after its arguments were released.
  struct Pending {
    TBRNExprToken* Node;
    bool Close;
  };
  std::vector<Pending> stack;
  if (Node) stack.push_back({Node, false});
  while (!stack.empty()) {
    const Pending pending = stack.back();
    stack.pop_back();
    TBRNExprToken* node = pending.Node;
    if (pending.Close) {
      CloseQualifiedDatabase(node);
      continue;
    }
    const auto pushArguments = [&] {
      const auto arguments = node->Arguments();
      for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        if (*it) stack.push_back({*it, false});
    };
    switch (node->Kind) {
      case tkOperator:
        if (node->Right()) stack.push_back({node->Right(), false});
        if (node->Left()) stack.push_back({node->Left(), false});
        break;
      case tkUnaryOperator:
        if (node->Left()) stack.push_back({node->Left(), false});
        break;
      case tkPredicate:
      case tkRowValue:
        pushArguments();
        break;
      case tkFunction:
        if (node->Operation == opUserFunction) stack.push_back({node, true});
        pushArguments();
        break;
      case tkQuery:
        ReleaseQuery(node);
        break;
      default:
        break;
    }
  }
}

}  // namespace brn
