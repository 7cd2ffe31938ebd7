#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql/tree/expr.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {

// The statement-size guard: a statement text of up to LinearStatementLength
// bytes costs the parser, the validator and the SQL text builder time and
// memory linear in its length. Nesting is bounded by the parser's nesting
// limit; a construct that is used several times (the operand of a simple
// CASE) is held once and never copied per use.
inline constexpr int32_t LinearStatementLength = 1 << 20;

class TBRNExprRuntimeObject;
class TBRNExprToken;
class TBRNMemoryStream;

// The error code of every error found in SQL text (parser, validator and
// catalog binding).
inline constexpr int32_t kSQLTextErrorCode = 700;

// SQL text together with the syntax tree compiled from it: the base of every
// catalog expression, prepared statement, script and filter condition.
//
// The parser and the validator never look at a catalog. Every question about
// names, columns, parameters, databases and dependencies goes through one of
// the virtual operations below, which the metadata and execution layers
// override; the base answers each with nothing (empty text, nil, false, no
// action). Their signatures are the seam between the language processor and
// those layers and do not change.
//
// Invariants: SQLLength equals the length of SQL; a compiled object holds the
// tree of its current text (or no tree when the text parses to nothing).
//
// An object belongs to one session and is used by one thread at a time.
class TBRNCompiledExpr : public TBRNExpr {
 public:
  // The constructor: empty text, not compiled, terminator ";".
  TBRNCompiledExpr();
  // Clears the tree. Virtual calls made here reach this class only, so a
  // subclass whose ReleaseToken does work calls ClearRoot in its own
  // destructor.
  ~TBRNCompiledExpr() override;

  // Stores S and calls TextChanged, unless S equals SQL exactly (case kept).
  void SetText(std::string_view S);
  // The compile and uncompile cycle. A call made while one runs (from a hook)
  // does nothing; a call that asks for the current state does nothing. A
  // compile parses, then validates and calls AfterCompile when the parse gave
  // a tree; when any of them raises, the new tree is freed, the object stays
  // uncompiled and the error passes on.
  void SetCompiled(bool Value);
  void Compile() { SetCompiled(true); }
  void Uncompile() { SetCompiled(false); }

  // Renames the references of node kind Kind named OldName (case ignored) to
  // NewName inside SQL, for catalog objects whose referenced object was
  // renamed. The references come from a parse of the current text without
  // validation, so that copies and rewrites made by the validator play no
  // part; each text position is replaced once; the extent of a reference is
  // found by scanning the text again (so quoted and qualified references keep
  // their qualifiers); the replacements are made from the end of the text
  // backwards; NewName is written between double quotes when it is not a
  // plain identifier, when it is a keyword of the dialect, or when the old
  // reference was quoted. A reference whose text at its position does not
  // name OldName is left alone. Renaming a table (tkTableReference) also
  // renames the table qualifiers of column references that name that table
  // through a FROM item without correlation name. When the text changes it is
  // stored with SetText (so the object is uncompiled). Parse errors pass on;
  // NewName must not hold a line break (std::invalid_argument).
  void RenameInText(TBRNExprTokenKind Kind, std::string_view OldName, std::string_view NewName);

  // Calls ReleaseToken for every node below and including Node in post-order
  // (left operand, right operand, arguments in order, then the node). Works
  // without recursion.
  void ReleaseTree(TBRNExprToken* Node);
  // Hangs Object on JoinEntry, a node of this object's tree. The object owns
  // it from then on and frees it with the tree (ClearRoot), after clearing
  // the reference of every node of the tree that holds it. A node that
  // already carries a run-time object, or no object, is a misuse
  // (std::invalid_argument).
  void AttachRuntimeObject(TBRNExprToken* JoinEntry,
                           std::unique_ptr<TBRNExprRuntimeObject> Object);

  // The line (column) that error 700 reports: ErrorLine (ErrorColumn) when
  // non-zero, else the argument.
  int32_t GetErrorLine(int32_t Line) const { return ErrorLine != 0 ? ErrorLine : Line; }
  int32_t GetErrorColumn(int32_t Column) const { return ErrorColumn != 0 ? ErrorColumn : Column; }

  // Raises error 700 "An error was found in the <kind> at line <l> and column
  // <c> (<message>)" with that line and column; never returns.
  [[noreturn]] void ReportError(const std::string& Message, int32_t Line, int32_t Column) override;
  // Installs Node as the compiled tree (a copy when the tree is owned): SQL
  // becomes the Text of Node's Parent (empty without one) and the object is
  // compiled. A nil Node empties the text and uncompiles without hooks.
  void SetRoot(TBRNExprToken* Node) override;
  int64_t MemorySize() const override;
  // ReleaseTree on an owned root, then frees it.
  void ClearRoot() override;
  // The tree only when WithTree; from another compiled expression also SQL,
  // and Compiled when WithTree (else the object is uncompiled and its own
  // tree is cleared, without hooks).
  void Assign(const TBRNExpr* Other, bool WithTree) override;
  // Two compiled objects compare their trees. When either is not compiled the
  // texts are compared, without trailing CR LF pairs and then trailing blanks:
  // letter case is ignored except inside string literals, so 'a' and 'A'
  // differ.
  bool Equals(const TBRNExpr* Other) const override;
  // The stream form is the text alone, as a string with an int32 length.
  void WriteToStream(TBRNMemoryStream& Stream) override;
  // Reads the text; a text other than SQL is stored and uncompiles.
  void ReadFromStream(TBRNMemoryStream& Stream) override;

  // The seam. Node arguments are nodes of the tree being compiled, owned by
  // that tree; nodes returned by GetFunctionParam and GetProcedureParam are
  // owned by the catalog and stay valid while the compile runs.

  // The tree of SQL, or nil. Called by SetCompiled only, after the old tree
  // was cleared (and by RenameInText, for a tree it frees itself). Errors are
  // raised through ReportError.
  virtual TBRNExprToken* Parse();
  // Validates Root (this object resolving names); raises on the first error.
  virtual void Validate();
  // The database, schema and table that an unqualified name in Node resolves
  // in. The base answers from the first FROM item of the nearest query
  // around Node (the database for column references only).
  virtual void GetContextDatabaseName(const TBRNExprToken* Node, std::string& Name);
  virtual void GetContextSchemaName(const TBRNExprToken* Node, std::string& Name);
  virtual void GetContextTableName(const TBRNExprToken* Node, std::string& Name);
  // A USE statement switches name resolution to its database (nil: back to
  // the default); EndUseDatabase is the matching release.
  virtual void BeginUseDatabase(TBRNExprToken* UseNode);
  virtual void EndUseDatabase(TBRNExprToken* UseNode);
  // Replaces the wildcard select item at index Position of Query's select
  // list by one item per visible column of TableReference (of every FROM
  // item when nil), advancing Position; the wildcard item is freed.
  virtual void ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference,
                              int32_t& Position, TBRNExprToken* Wildcard);
  // Appends one column reference per visible column of the table.
  virtual void AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode);
  // Opens the catalog of the database Node names and marks Node so that
  // CloseQualifiedDatabase closes it again.
  virtual void OpenQualifiedDatabase(TBRNExprToken* Node);
  virtual void CloseQualifiedDatabase(TBRNExprToken* Node);
  // A node carrying the data type of parameter Index of a stored function or
  // procedure, or nil.
  virtual TBRNExprToken* GetFunctionParam(std::string_view FunctionName, int32_t Index);
  virtual TBRNExprToken* GetProcedureParam(std::string_view ProcedureName, int32_t Index);
  virtual bool TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode);
  // Binds Node to its catalog object of the node kind Kind and copies the
  // object's data type and number into it.
  virtual void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind);
  // Called for every node of an owned tree when it is cleared. Must not raise.
  virtual void ReleaseToken(TBRNExprToken* Node);
  virtual bool IsTextIndexed(const TBRNExprToken* Node);
  // Binds a column reference qualified by OldRow or NewRow to the trigger
  // table. The base sets the node's Operation to 0.
  virtual void ResolveRowIdentifier(TBRNExprToken* Node);
  virtual void AddTableDependency(TBRNExprToken* Node);
  virtual void AddColumnDependency(TBRNExprToken* Node);
  virtual void AddFunctionDependency(TBRNExprToken* Node);
  virtual void AddProcedureDependency(TBRNExprToken* Node);
  // Row size and row count of the table a condition filters.
  virtual int32_t GetRowSize();
  virtual int32_t GetRowCount();
  // The table name that plan notes show for a row scan.
  virtual void GetScanTableName(std::string& Text);
  // Estimates one optimisable condition. The base clears Node's
  // OptimizeLevel, RowCount, EstimatedCost, ScanName and HintColumns.
  virtual void AnalyzeIndexCondition(TBRNExprToken* Node, bool IncludeCosts);
  // Called by SetText after the text changed. The base uncompiles.
  virtual void TextChanged();
  virtual void AfterCompile();
  virtual void AfterUncompile();
  // Whether the parser accepts (and drops) a table qualifier of a column
  // reference where the parse context keeps none.
  virtual bool AllowsTableQualifier();
  // Node's SQL text (the root's when nil), in plan form with cost notes when
  // asked. Defined with the SQL text builder (sql/builder).
  virtual void BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text,
                         bool ParameterValues, bool Costs);
  // Condition analysis of the whole tree for the optimiser (nothing when not
  // compiled): every condition node gets its optimisation level, scan name,
  // hint columns and (with IncludeCosts) row and cost estimates; the cheapest
  // condition of each AND chain moves to the front and index scans that cost
  // more than scanning a cheaper condition's rows are dropped. Overrides run
  // it and then use the root's OptimizeLevel.
  virtual void OptimizeConditions();
  // The validator's release pass: closes what BeginUseDatabase and
  // OpenQualifiedDatabase opened. Called at the end of preparing, also when
  // preparing failed.
  virtual void ReleaseReferences();

  // ---- Condition analysis (condition_analysis.cpp) ----
  // Both do nothing when the object is not compiled.
  //
  // Readies a compiled filter condition: every NOT is pushed down, a
  // comparison with the column on the right is mirrored, and equality (or
  // inequality) of a column with a text ending in a run of "*" becomes a
  // prefix comparison (PartialLength) unless NoPartialCompare; a text of
  // asterisks only makes "=" an IS NOT NULL and "<>" FALSE. Character
  // columns compared with text and the text argument 0 of predicates take the
  // case-insensitive bit when CaseInsensitive. A comparison that already has a
  // PartialLength is not stripped again.
  void PrepareFilter(bool CaseInsensitive, bool NoPartialCompare);
  // Column references linked to another table reference than Table become
  // tkOuterColumnReference; every other outer reference (linked to Table, not
  // linked, or any with a nil Table) becomes tkColumnReference again.
  void MarkOuterColumnReferences(const TBRNExprToken* Table);
  // The annotated condition as the plan shows it (BuildText in plan form with
  // parameter values, with cost notes when IncludeCosts).
  void GetPlanText(std::string& Text);
  // The steps of OptimizeConditions, each on the subtree of Node (nothing for
  // nil). They walk without recursion.
  void AnalyzeCondition(TBRNExprToken* Node);
  // Level, scan name, hints and eliminated cost of an AND or OR node from its
  // operands (other nodes are left alone).
  void MergePlanNotes(TBRNExprToken* Node);
  // Moves the cheapest condition of the AND chain at Node to its front, and
  // so on down the chain; true when anything moved.
  bool ReorderAndChain(TBRNExprToken* Node);
  // The cheapest condition of the AND chain at Node (Node itself when it is
  // no AND), numbering the chain's EvaluationOrder by depth.
  TBRNExprToken* CheapestInChain(TBRNExprToken* Node);
  // The cheaper of two analysed conditions (not nil): by cost with
  // IncludeCosts, else by level; on a tie B.
  TBRNExprToken* CheaperCondition(TBRNExprToken* A, TBRNExprToken* B);
  void EliminateCostlyIndexScans(TBRNExprToken* Node);

  // Fields in declared order.
  std::string SQL;
  int32_t SQLLength = 0;
  bool Compiled = false;
  bool Compiling = false;
  bool IncludeCosts = false;
  char StatementTerminator = ';';
  int32_t ErrorLine = 0;
  int32_t ErrorColumn = 0;

 private:
  // The run-time objects hung on nodes of the tree (AttachRuntimeObject).
  std::vector<std::unique_ptr<TBRNExprRuntimeObject>> runtimeObjects_;
};

}  // namespace brn
