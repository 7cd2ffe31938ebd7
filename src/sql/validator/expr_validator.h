#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token_kind.h"
#include "sql/validator/type_rules.h"

namespace brn {

class TBRNCompiledExpr;
class TBRNExprToken;

// Checks and types a syntax tree that the parser has just built, in place:
// binds every name (through the owner compiled expression, never a catalog of
// its own), gives every expression node its data type, subtype, size, scale
// and collation, rewrites some nodes (a Boolean or integer operand standing
// alone in a condition becomes a comparison with TRUE, "?" markers get
// parameter definitions) and stops at the first error, raised through the
// owner's ReportError (error 700) with the line and column of the offending
// node's leftmost operand.
//
// A session owns one validator and uses it from its own thread only. A run is
// SetExpression, the caller's setting of ExpectedType, ExpectedSubType and
// (for filters) FilterMode, then ValidateExpression; one run ends before the
// next one starts. The owner must outlive the run, and the tree is not
// validated twice.
//
// The class is split over several source files: the frame, the walker and
// the error texts (expr_validator.cpp), name resolution (name_resolution.cpp),
// the type rules (type_rules.cpp), the check tables (check_tables.cpp), query
// validation and join placement (query_validation.cpp, join_placement.cpp)
// and the procedural and statement checks. Every check is public so that the
// checks of other files can call one another.
//
// Recursion: ValidateNode walks a chain of binary operators (a + b + c ...,
// which the parser builds left-deep without a nesting limit) iteratively; the
// other ways down (parentheses, subqueries, function arguments) are bounded
// by the parser's nesting limit.
class TBRNExprValidator {
 public:
  // A check bound to this validator; an empty entry is nullptr.
  using TBRNCheckMethod = void (TBRNExprValidator::*)(TBRNExprToken* Node);

  static constexpr int32_t FirstFunctionCode = 17;
  static constexpr int32_t LastFunctionCode = 109;
  static constexpr int32_t FirstStatementCode = 215;
  static constexpr int32_t LastStatementCode = 255;
  static constexpr int32_t FirstRoutineStatementCode = 182;
  static constexpr int32_t LastRoutineStatementCode = 214;

  // Fills the check tables. StandardNullBehavior: a NULL literal operand
  // keeps the NULL type (and so fails every operand class); when false it
  // takes the other operand's type for the operand checks.
  explicit TBRNExprValidator(bool StandardNullBehavior);
  virtual ~TBRNExprValidator();
  TBRNExprValidator(const TBRNExprValidator&) = delete;
  TBRNExprValidator& operator=(const TBRNExprValidator&) = delete;

  // The owner's IsTextIndexed answer for the column of Node.
  virtual bool IsTextIndexedColumn(TBRNExprToken* Node);

  // ---- Entry points --------------------------------------------------------

  // Binds the validator to Owner for the next run and resets ParamDirection
  // (169), NextParamNumber (1) and FilterMode (false). ExpectedType and
  // ExpectedSubType are left alone: the caller sets them right after.
  void SetExpression(TBRNCompiledExpr& NewOwner);
  // Checks the owner's root. Raises on the first error (error 700 through the
  // owner); the tree is then left as far as it was changed.
  void ValidateExpression();
  // Undoes what the run opened through the owner (qualified databases, USE).
  // Also after a failed run; must be called with the same owner.
  void ReleaseReferences();

  // ---- Walker ---------------------------------------------------------------

  // The recursive check of an expression node; nil does nothing.
  void ValidateNode(TBRNExprToken* Node);
  // Dispatch of SQL statements (codes 215..255) and procedural statements
  // (182..214) through the check tables; an empty entry does nothing.
  void ValidateStatement(TBRNExprToken* Node);
  void ValidateRoutineStatement(TBRNExprToken* Node);
  // Routine roots (function, job, procedure, script, trigger).
  void ValidateRoutine(TBRNExprToken* Node);
  // A Boolean or integer node standing alone in a condition (no parent, or a
  // parent that is AND, OR, NOT or a plain list and not a row value) becomes
  // "node = TRUE": the node object turns into the comparison and a new node
  // takes over its former fields and children.
  void MakeTruthComparison(TBRNExprToken* Node);
  // A subquery whose single value is used as an operand (not a set operand,
  // not under EXISTS, IN, NOT IN or a derived table, not an INSERT or CREATE
  // source).
  bool IsScalarSubquery(const TBRNExprToken* Node) const;

  // ---- Checks ---------------------------------------------------------------

  void CheckType(TBRNExprToken* Node, const TBRNTypeClass& Class);
  void CheckKind(TBRNExprToken* Node, std::initializer_list<TBRNExprTokenKind> Kinds);
  void CheckArgumentKinds(TBRNExprToken* Node, std::initializer_list<TBRNExprTokenKind> Kinds);
  void RejectRowValue(TBRNExprToken* Node);
  void RejectArrayReference(TBRNExprToken* Node);
  void RejectNullSelectExpression(TBRNExprToken* Node);
  // A row value constructor, or a query with more than one visible item.
  bool IsRowValue(const TBRNExprToken* Node) const;
  // The members of a row value: the node itself for tkRowValue, the select
  // list for a query, else nil.
  TBRNExprToken* RowValueMembers(TBRNExprToken* Node) const;
  // Visible select items of a query, else the argument count.
  int32_t RowValueDegree(const TBRNExprToken* Node) const;
  // Node takes the type descriptor of its Link (which must be set).
  void CopyLinkType(TBRNExprToken* Node);

  // ---- Name resolution (name_resolution.cpp) -------------------------------

  void ResolveVariable(TBRNExprToken* Node, bool Required);
  void ResolveRoutineParam(TBRNExprToken* Node, bool Required);
  void ResolveDynamicParam(TBRNExprToken* Node);
  void ResolveCursor(TBRNExprToken* Node);
  void ResolveStatement(TBRNExprToken* Node);
  void ResolveLabel(TBRNExprToken* Node);
  void ResolveObjectName(TBRNExprToken* Node, TBRNExprTokenKind Kind);
  void ResolveCollations(TBRNExprToken* Node);
  void ResolveRowIdentifier(TBRNExprToken* Node);
  // Binds an unbound column reference (or a qualified wildcard) to a FROM
  // item of its query or of an enclosing one; a qualifier is taken first as
  // a correlation name, then as a table name.
  void ResolveColumnReference(TBRNExprToken* Node);

  // ---- Errors (never return) -----------------------------------------------

  [[noreturn]] void RaiseTypeExpected(TBRNExprToken* Node, const TBRNTypeClass& Class);
  [[noreturn]] void RaiseExpected(TBRNExprToken* Node, std::string_view Noun);
  [[noreturn]] void RaiseKindExpected(TBRNExprToken* Node,
                                      std::initializer_list<TBRNExprTokenKind> Kinds);
  [[noreturn]] void RaiseInvalid(TBRNExprToken* Node, std::string_view Message);
  // "VarChar or CLOB expression", "Date expression", ...
  static std::string DescribeTypeSet(const TBRNTypeClass& Class);
  // "array variable name, array variable element name, or variable name
  // expression": the named kinds in the order of their codes.
  static std::string DescribeKinds(std::initializer_list<TBRNExprTokenKind> Kinds);
  // The node's SQL text as the owner builds it.
  std::string NodeText(const TBRNExprToken* Node) const;

  // ---- Owner forwards --------------------------------------------------------

  void OpenQualifiedDatabase(TBRNExprToken* Node);
  void CloseQualifiedDatabase(TBRNExprToken* Node);
  TBRNExprToken* GetFunctionParam(std::string_view FunctionName, int32_t Index);
  TBRNExprToken* GetProcedureParam(std::string_view ProcedureName, int32_t Index);
  bool TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode);
  void BeginUseDatabase(TBRNExprToken* UseNode);
  void EndUseDatabase(TBRNExprToken* UseNode);
  void ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference, int32_t& Position,
                      TBRNExprToken* Wildcard);
  void AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode);
  std::string GetContextSchemaName(const TBRNExprToken* Node);
  std::string GetContextTableName(const TBRNExprToken* Node);
  void AddTableDependency(TBRNExprToken* Node);
  void AddColumnDependency(TBRNExprToken* Node);
  void AddFunctionDependency(TBRNExprToken* Node);
  void AddProcedureDependency(TBRNExprToken* Node);

  // ---- Type rules (type_rules.cpp) -------------------------------------------

  // Operand rules of the binary operators. ResultType and ResultSubType are
  // the node's own type as the parser left it (read for operation 16 only).
  void CheckOperandTypes(TBRNExprOperation Operation, TBRNDataTypeCode ResultType,
                         TBRNExprToken* Left, TBRNExprToken* Right, int32_t ResultSubType);
  // Row-value comparison; false when neither operand is a row value.
  bool CheckRowValueOperands(TBRNExprOperation Operation, TBRNDataTypeCode ResultType,
                             TBRNExprToken* Left, TBRNExprToken* Right, int32_t ResultSubType);
  // A dynamic parameter operand takes the other operand's type.
  void InferParamFromOperand(TBRNExprToken* A, TBRNExprToken* B);
  static TBRNDataTypeCode GetBinaryResultType(TBRNExprOperation Operation,
                                              TBRNDataTypeCode LeftType, int32_t LeftSubType,
                                              TBRNDataTypeCode RightType, int32_t RightSubType);
  static int32_t GetBinaryResultSubType(TBRNExprOperation Operation, TBRNDataTypeCode LeftType,
                                        int32_t LeftSubType, TBRNDataTypeCode RightType,
                                        int32_t RightSubType);
  static int32_t GetBinaryResultCollation(TBRNExprOperation Operation, TBRNDataTypeCode LeftType,
                                          int32_t LeftSubType, int32_t LeftCollation);
  void CheckUnaryOperand(TBRNExprOperation Operation, TBRNExprToken* Operand);
  static TBRNDataTypeCode GetUnaryResultType(TBRNExprOperation Operation,
                                             TBRNDataTypeCode OperandType);
  static int32_t GetUnaryResultSubType(TBRNExprOperation Operation, int32_t OperandSubType);
  // Source may be assigned to (stored into, compared as, passed as) Target.
  void CheckAssignable(TBRNExprToken* Source, TBRNExprToken* Target);
  // The class a source must belong to for a target of the given type; a LOB
  // source is checked against the LOB half of a Char or Bytes target.
  TBRNTypeClass GetAssignableTypes(const TBRNExprToken* Source, TBRNDataTypeCode TargetType,
                                   int32_t TargetSubType) const;
  bool CheckRowValueAssignment(TBRNExprToken* Source, TBRNExprToken* Target);
  void InferParamFromTarget(TBRNExprToken* Source, TBRNExprToken* Target);
  void CheckCharacter(TBRNExprToken* Node);
  void CheckCharacterOrLob(TBRNExprToken* Node);
  void CheckBooleanOrInteger(TBRNExprToken* Node);
  void CheckNumeric(TBRNExprToken* Node);
  void CheckNumericOrInterval(TBRNExprToken* Node);
  void CheckNumericDateTimeOrInterval(TBRNExprToken* Node);
  void CheckInteger(TBRNExprToken* Node);
  void CheckDate(TBRNExprToken* Node);
  void CheckTime(TBRNExprToken* Node);
  void RejectLob(TBRNExprToken* Node);
  // A tkDataType node: a CAST target, a declared variable, parameter or
  // column type.
  void ValidateDataTypeNode(TBRNExprToken* Node);

  // ---- Release pass ------------------------------------------------------

  void ReleaseNode(TBRNExprToken* Node);
  void ReleaseStatement(TBRNExprToken* Node);
  void ReleaseRoutine(TBRNExprToken* Node);

  // ---- Procedural and statement validation (routine_validation.cpp,
  // statement_validation.cpp) ------------------------------------------------
  // Routine roots, blocks and declarations; one check per procedural and SQL
  // statement code (registered by the two Register... calls of the check
  // tables).

  void RegisterRoutineStatementChecks();
  void RegisterStatementChecks();
  void ValidateBlock(TBRNExprToken* Block);
  void ValidateDeclarations(TBRNExprToken* Section);
  void ValidateDeclarationTypes(TBRNExprToken* ParameterList);
  // May Target receive a value? Other: the value's node, or the column of a
  // FETCH pair, or nullptr.
  void CheckAssignmentTarget(TBRNExprToken* Target, TBRNExprToken* Other);
  // The parameter at Index of Root's parameter list, or nullptr.
  TBRNExprToken* GetDeclaredParam(TBRNExprToken* Root, int32_t Index);
  void CheckDuplicateVariable(TBRNExprToken* Section, TBRNExprToken* Name);
  // List nullptr: the parameters of the enclosing routine root.
  void CheckDuplicateVariableInList(TBRNExprToken* List, TBRNExprToken* Name);
  void CheckDuplicateCursor(TBRNExprToken* Section, TBRNExprToken* Cursor);
  void CheckDuplicateResultCursor(TBRNExprToken* Section, TBRNExprToken* Cursor);
  void CheckDuplicateStatement(TBRNExprToken* Section, TBRNExprToken* StatementName);
  void ReleaseBlock(TBRNExprToken* Block);
  void ReleaseRoutineStatement(TBRNExprToken* Node);
  // Releases the expressions and bodies of a procedural statement.
  void releaseStatementParts(TBRNExprToken* Node);

  void ValidateCall(TBRNExprToken* Node);
  void ValidateCaseStatement(TBRNExprToken* Node);
  void ValidateClose(TBRNExprToken* Node);
  void ValidateCursorDelete(TBRNExprToken* Node);
  void ValidateExecute(TBRNExprToken* Node);
  void ValidateExecuteImmediate(TBRNExprToken* Node);
  void ValidateFetch(TBRNExprToken* Node);
  void ValidateIfStatement(TBRNExprToken* Node);
  void ValidateCursorInsert(TBRNExprToken* Node);
  void ValidateIterate(TBRNExprToken* Node);
  void ValidateLeave(TBRNExprToken* Node);
  void ValidateLoop(TBRNExprToken* Node);
  void ValidateOpen(TBRNExprToken* Node);
  void ValidatePrepare(TBRNExprToken* Node);
  void ValidateRaise(TBRNExprToken* Node);
  void ValidateRefresh(TBRNExprToken* Node);
  void ValidateRepeat(TBRNExprToken* Node);
  void ValidateRetry(TBRNExprToken* Node);
  void ValidateReturn(TBRNExprToken* Node);
  void ValidateSet(TBRNExprToken* Node);
  void ValidateSetLogMessage(TBRNExprToken* Node);
  void ValidateSetProgress(TBRNExprToken* Node);
  void ValidateSetStatusMessage(TBRNExprToken* Node);
  void ValidateStartTransaction(TBRNExprToken* Node);
  void ValidateUnprepare(TBRNExprToken* Node);
  void ValidateCursorUpdate(TBRNExprToken* Node);
  void ValidateUse(TBRNExprToken* Node);
  void ValidateWhile(TBRNExprToken* Node);

  void ValidateCreateOrAlter(TBRNExprToken* Node);
  void ValidateBackup(TBRNExprToken* Node);
  void ValidateCompare(TBRNExprToken* Node);
  void ValidateDelete(TBRNExprToken* Node);
  void ValidateSessionStatement(TBRNExprToken* Node);
  void ValidateImportExport(TBRNExprToken* Node);
  void ValidateInsert(TBRNExprToken* Node);
  void ValidateMigrate(TBRNExprToken* Node);
  void ValidateReset(TBRNExprToken* Node);
  void ValidateSaveUpdates(TBRNExprToken* Node);
  void ValidateUpdate(TBRNExprToken* Node);
  void ValidateTableElements(TBRNExprToken* Statement);
  void ValidateTableOptions(TBRNExprToken* Statement);

  // ---- Query validation (query_validation.cpp, join_placement.cpp) ----------
  // The query check adds its declarations in this section.

  // Binds and types a tkQuery in place: FROM items, select items (named,
  // wildcards expanded), INTO, WHERE, GROUP BY, HAVING, set operations,
  // ORDER BY and RANGE. GROUP BY and ORDER BY expressions and aggregate
  // calls become tkOrderItem nodes linked to select items (hidden ones are
  // added where needed); joins and single-table conditions are placed (see
  // the join section below). Restores FilterMode and ParamDirection also on
  // error.
  void ValidateQuery(TBRNExprToken* Query);
  void ReleaseQuery(TBRNExprToken* Query);
  // Gives an unnamed select item the name of its expression ("COUNT of
  // ALL", a column's name, "Expression") and makes every alias unique in the
  // select list by a numeric suffix.
  void NameSelectItem(TBRNExprToken* Item);
  void FinishSelectItem(TBRNExprToken* Query, TBRNExprToken* Item);
  // Appends a hidden select item holding a validated copy of Expression, for
  // an expression that was not validated yet (Expression is left as it is).
  TBRNExprToken* AddHiddenSelectItem(TBRNExprToken* Query, TBRNExprToken* Expression);
  // Finds the select item Expression stands for (by alias when ByAlias and
  // it is a bare name, else by an equal expression) and, unless NoBind, turns
  // Expression into an order item linked to it. Without a match a hidden
  // item takes the expression node itself and a new order item linked to it
  // takes its place (always, NoBind or not). Expression must be validated
  // unless ByAlias (then this validates it) and must have a parent.
  void BindToSelectItem(TBRNExprToken* Query, TBRNExprToken* Expression, bool NoBind,
                        bool KeepLob, bool ByAlias);
  // Node becomes a tkOrderItem linked to SelectItem (its children freed).
  void BindOrderItem(TBRNExprToken* Node, TBRNExprToken* SelectItem, bool KeepLob);
  static bool ExpressionsMatch(const TBRNExprToken* A, const TBRNExprToken* B);
  // Binds the aggregate calls (and, when asked, the columns and subqueries)
  // of Expression to select items; AVG, RUNSUM and STDDEV standing as a
  // select item get the simpler aggregates they are computed from.
  void BindAggregates(TBRNExprToken* Query, TBRNExprToken* Expression, bool BindQueries,
                      bool BindColumns);
  static int32_t CountVisibleSelectItems(const TBRNExprToken* SelectList);
  void CheckDuplicateCorrelationName(TBRNExprToken* Query, TBRNExprToken* Item);
  // Raises when column references need a FROM or GROUP BY clause the query
  // lacks. HasAggregates: some select item has an aggregate; HasColumns: some
  // item without aggregate has a column reference.
  void CheckColumnReferencesNeedClauses(TBRNExprToken* Query, bool& HasAggregates,
                                        bool& HasColumns);

  // Join order and condition placement (join_placement.cpp). After
  // NormalizeJoins every join entry hangs in the join list of the table its
  // condition starts from, RIGHT joins are LEFT joins driven from the other
  // table and no table is joined twice; the Distribute steps move conditions
  // on one table into that table's own condition list.
  void NormalizeJoins(TBRNExprToken* Query);
  void ReorderJoins(TBRNExprToken* Query, TBRNExprToken* FromItem);
  static TBRNExprToken* FindConditionSource(const TBRNExprToken* Query,
                                            const TBRNExprToken* Join);
  void DistributeWhereConditions(TBRNExprToken* Query);
  // True when Condition left its place (moved, or split and freed): the
  // caller drops it from its list without freeing it.
  bool MoveWhereCondition(TBRNExprToken* Query, TBRNExprToken* Condition);
  // MoveWhereCondition of a condition that is not an AND.
  bool moveWherePart(TBRNExprToken* Query, TBRNExprToken* Condition);
  void DistributeJoinConditions(TBRNExprToken* Query);
  bool MoveJoinCondition(TBRNExprToken* Query, TBRNExprToken* Condition, TBRNExprToken* Origin,
                         bool InOr);
  // MoveJoinCondition of a condition that is neither an AND nor an OR.
  bool moveJoinPart(TBRNExprToken* Query, TBRNExprToken* Condition, TBRNExprToken* Origin,
                    bool InOr);
  // Appends Condition to the list it belongs in; Origin is the join entry it
  // comes from, nullptr for a WHERE condition. False when it must stay.
  bool AttachCondition(TBRNExprToken* Query, TBRNExprToken* Condition, TBRNExprToken* Origin);
  // Query: the enclosing query of Condition when the caller knows it (nil:
  // looked up).
  static bool ComparesTwoTables(const TBRNExprToken* Condition,
                                const TBRNExprToken* Query = nullptr);

  // ---- Built-in function checks (function_validation.cpp) -------------------
  // One check per function code (registered by InitFunctionChecks). Each
  // validates the arguments, refuses row values and whole arrays, types "?"
  // arguments, checks the argument classes and gives the node its result
  // type.

  void ValidateAbortedFunction(TBRNExprToken* Node);
  void ValidateAbsFunction(TBRNExprToken* Node);
  void ValidateAcosFunction(TBRNExprToken* Node);
  void ValidateAsinFunction(TBRNExprToken* Node);
  void ValidateAtanFunction(TBRNExprToken* Node);
  void ValidateAtan2Function(TBRNExprToken* Node);
  void ValidateAvgFunction(TBRNExprToken* Node);
  void ValidateBofFunction(TBRNExprToken* Node);
  void ValidateCardinalityFunction(TBRNExprToken* Node);
  void ValidateCaseConditions(TBRNExprToken* Node);
  void ValidateCaseResults(TBRNExprToken* Node);
  void ValidateCastFunction(TBRNExprToken* Node);
  void ValidateCeilingFunction(TBRNExprToken* Node);
  void ValidateCoalesceFunction(TBRNExprToken* Node);
  void ValidateColumnCountFunction(TBRNExprToken* Node);
  void ValidateColumnNameFunction(TBRNExprToken* Node);
  void ValidateConcatFunction(TBRNExprToken* Node);
  void ValidateCosFunction(TBRNExprToken* Node);
  void ValidateCotFunction(TBRNExprToken* Node);
  void ValidateCountFunction(TBRNExprToken* Node);
  void ValidateDegreesFunction(TBRNExprToken* Node);
  void ValidateEofFunction(TBRNExprToken* Node);
  void ValidateExistsFunction(TBRNExprToken* Node);
  void ValidateExpFunction(TBRNExprToken* Node);
  void ValidateExtractDay(TBRNExprToken* Node);
  void ValidateExtractDayOfWeek(TBRNExprToken* Node);
  void ValidateExtractDayOfYear(TBRNExprToken* Node);
  void ValidateExtractHour(TBRNExprToken* Node);
  void ValidateExtractMinute(TBRNExprToken* Node);
  void ValidateExtractMonth(TBRNExprToken* Node);
  void ValidateExtractMSecond(TBRNExprToken* Node);
  void ValidateExtractSecond(TBRNExprToken* Node);
  void ValidateExtractWeek(TBRNExprToken* Node);
  void ValidateExtractYear(TBRNExprToken* Node);
  void ValidateFloorFunction(TBRNExprToken* Node);
  void ValidateCaseFunction(TBRNExprToken* Node);
  void ValidateIfNullFunction(TBRNExprToken* Node);
  void ValidateIfFunction(TBRNExprToken* Node);
  void ValidateInTransactionFunction(TBRNExprToken* Node);
  void ValidateLastIdentityFunction(TBRNExprToken* Node);
  void ValidateLeftFunction(TBRNExprToken* Node);
  void ValidateLengthFunction(TBRNExprToken* Node);
  void ValidateListFunction(TBRNExprToken* Node);
  void ValidateLoadingUpdatesFunction(TBRNExprToken* Node);
  void ValidateLogFunction(TBRNExprToken* Node);
  void ValidateLog10Function(TBRNExprToken* Node);
  void ValidateLowerFunction(TBRNExprToken* Node);
  void ValidateMaxFunction(TBRNExprToken* Node);
  void ValidateMinFunction(TBRNExprToken* Node);
  void ValidateNullIfFunction(TBRNExprToken* Node);
  void ValidateOccursFunction(TBRNExprToken* Node);
  void ValidatePiFunction(TBRNExprToken* Node);
  void ValidatePositionFunction(TBRNExprToken* Node);
  void ValidatePowerFunction(TBRNExprToken* Node);
  void ValidateQuotedStrFunction(TBRNExprToken* Node);
  void ValidateRadiansFunction(TBRNExprToken* Node);
  void ValidateRandFunction(TBRNExprToken* Node);
  void ValidateRepeatFunction(TBRNExprToken* Node);
  void ValidateReplaceFunction(TBRNExprToken* Node);
  void ValidateRightFunction(TBRNExprToken* Node);
  void ValidateRoundFunction(TBRNExprToken* Node);
  void ValidateRowCountFunction(TBRNExprToken* Node);
  void ValidateRowsAffectedFunction(TBRNExprToken* Node);
  void ValidateRunSumFunction(TBRNExprToken* Node);
  void ValidateSensitiveFunction(TBRNExprToken* Node);
  void ValidateSignFunction(TBRNExprToken* Node);
  void ValidateSinFunction(TBRNExprToken* Node);
  void ValidateSqrtFunction(TBRNExprToken* Node);
  void ValidateStdDevFunction(TBRNExprToken* Node);
  void ValidateStmtResultFunction(TBRNExprToken* Node);
  void ValidateSubstringFunction(TBRNExprToken* Node);
  void ValidateSumFunction(TBRNExprToken* Node);
  void ValidateSumSquareFunction(TBRNExprToken* Node);
  void ValidateTanFunction(TBRNExprToken* Node);
  void ValidateTrimFunction(TBRNExprToken* Node);
  void ValidateTruncateFunction(TBRNExprToken* Node);
  void ValidateUserFunctionCall(TBRNExprToken* Node);
  void ValidateUpperFunction(TBRNExprToken* Node);

  // The common result type of Node's arguments from Start on (CASE results,
  // IF, IFNULL, NULLIF, COALESCE): the first that is neither the NULL
  // constant nor "?" is the model; "?" arguments take its type, every
  // argument must be assignable to it, and Node takes its type widened by
  // each argument (WidenAlternativeType).
  void TypeAlternatives(TBRNExprToken* Node, int32_t Start);
  // Widens Node's type so that Argument's values fit (a longer or varying
  // character type, a LOB, a wider number or a larger scale). Also used for
  // the columns of queries joined by a set operation.
  static void WidenAlternativeType(TBRNExprToken* Node, const TBRNExprToken* Argument);
  // Refuses a CAST of Operand to Target's type that has no conversion.
  void CheckCastOperand(TBRNExprToken* Operand, const TBRNExprToken* Target);
  // A "?" argument gets the parameter type Type (a character type becomes
  // VarChar of size 0); other nodes are left alone.
  void TypeDynamicParam(TBRNExprToken* Argument, TBRNDataTypeCode Type);

 private:
  // Validates arguments First .. First + Count - 1 (all from First when Count
  // is negative) and refuses row values and whole arrays among them.
  void validateFunctionArguments(TBRNExprToken* Node, int32_t First = 0, int32_t Count = -1);
  void validateExtract(TBRNExprToken* Node, const TBRNTypeClass& Class);
  void validateFloatFunction(TBRNExprToken* Node);
  void validateStringPrefix(TBRNExprToken* Node, bool Repeat);
  void validateCursorFunction(TBRNExprToken* Node);
  void validateStatementFunction(TBRNExprToken* Node);
  void validateSumLike(TBRNExprToken* Node);
  void validateRounding(TBRNExprToken* Node);
  void checkSingleCharacter(TBRNExprToken* Argument);
  void checkCharacterConstant(TBRNExprToken* Option);

 public:
  // ---- Fields (declared order) ----------------------------------------------

  // The compiled expression whose tree is validated (not owned).
  TBRNCompiledExpr* Owner = nullptr;
  bool StandardNullBehavior;
  std::array<TBRNCheckMethod, LastFunctionCode - FirstFunctionCode + 1> FunctionChecks{};
  std::array<TBRNCheckMethod, LastStatementCode - FirstStatementCode + 1> StatementChecks{};
  std::array<TBRNCheckMethod, LastRoutineStatementCode - FirstRoutineStatementCode + 1>
      RoutineStatementChecks{};
  // The type the root must be assignable to; 0: no expectation.
  int32_t ExpectedType = 0;
  int32_t ExpectedSubType = 0;
  // Condition context: a Boolean or integer operand standing alone becomes a
  // comparison with TRUE.
  bool FilterMode = false;
  // Operation given to the dynamic parameter definitions created now.
  TBRNExprOperation ParamDirection = opParamIn;
  // Number in the name of the next dynamic parameter definition.
  int32_t NextParamNumber = 1;

 private:
  // The check tables; each registers the checks of its own area.
  void InitFunctionChecks();
  void InitStatementChecks();
  void InitRoutineStatementChecks();

  void validateOperator(TBRNExprToken* Node);
  void validateOperatorChain(TBRNExprToken* Node);
  void validateUnaryOperator(TBRNExprToken* Node);
  void validateConstant(TBRNExprToken* Node);
  void validateColumnReference(TBRNExprToken* Node);
  void bindParamOrVariable(TBRNExprToken* Node);
  void validatePredicate(TBRNExprToken* Node);
  void validateTextSearch(TBRNExprToken* Node);
  void validateLike(TBRNExprToken* Node);
  void validateRangeOrList(TBRNExprToken* Node);
  // Types Tested and each of Values (validated already) as the two sides of
  // "Tested = value": a dynamic parameter takes the type of Tested, or of the
  // first value that is not one. Nil entries and the ELSE marker of a CASE
  // list are skipped.
  void typeComparedValues(TBRNExprToken* Tested, std::span<TBRNExprToken* const> Values);
  void applyCollateList(TBRNExprToken* Node);
  // The operand class check of one side (type_rules.cpp).
  void checkRightClass(TBRNExprOperation Operation, TBRNExprToken* Left, TBRNExprToken* Right);
  void checkLeftClass(TBRNExprOperation Operation, TBRNExprToken* Left);
  void checkIntervalDifference(TBRNDataTypeCode ResultType, int32_t ResultSubType,
                               TBRNExprToken* Left, TBRNExprToken* Right);
};

}  // namespace brn
