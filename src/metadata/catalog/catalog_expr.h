#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql/parser/parse_flags.h"
#include "sql/tree/compiled_expr.h"

namespace brn {

class TBRNCatalog;
class TBRNColumn;
class TBRNConfigObject;
class TBRNExprBuilder;
class TBRNExprParser;
class TBRNExprValidator;
class TBRNUser;

// The parse flags of the catalog expression family.
inline constexpr TBRNParseFlags kCatalogExprFlags = pcSchemaQualifier | pcColumnQualifier;
inline constexpr TBRNParseFlags kCatalogStatementFlags =
    pcQueries | pcSchemaQualifier | pcColumnQualifier;
// Stored routine bodies are parsed with the flags a CREATE FUNCTION or
// CREATE PROCEDURE statement gives its body (queries, qualified names), so
// that every body the statement accepts can be compiled again from its
// stored text.
inline constexpr TBRNParseFlags kProcedureRoutineFlags =
    kCatalogStatementFlags | pcEndOfText | pcResultCursors;
inline constexpr TBRNParseFlags kFunctionRoutineFlags = kCatalogStatementFlags | pcEndOfText;
inline constexpr TBRNParseFlags kColumnExprFlags = pcNoUserFunctions;
inline constexpr TBRNParseFlags kGeneratedColumnExprFlags = 0;
inline constexpr TBRNParseFlags kComputedColumnExprFlags = pcNoUserFunctions;
inline constexpr TBRNParseFlags kDefaultColumnExprFlags = 0;
// Routine texts stamped before format 2.04 are parsed in the old syntax.
inline constexpr int64_t kRoutineSyntaxVersion = 20400;

// SQL text owned by a metadata object and compiled against a catalog: the
// parser, validator and name binding of the session are reached through the
// catalog's configuration, and every name question of the compiler is
// answered by the catalog. Its stored form is its SQL text only.
//
// The current catalog is the one names bind against at the moment (it
// changes while a statement uses another database); every Parse and
// Validate starts by resetting it to the home catalog. Changing the text
// marks the owner modified.
//
// Used by the thread of the session that owns the catalog.
class TBRNCatalogExpr : public TBRNCompiledExpr {
 public:
  explicit TBRNCatalogExpr(TBRNConfigObject* owner);
  ~TBRNCatalogExpr() override;

  TBRNCatalog* CurrentCatalog = nullptr;
  TBRNCatalog* HomeCatalog = nullptr;
  TBRNConfigObject* Owner;   // never nullptr
  TBRNUser* User = nullptr;  // privilege filter of lookups; nullptr: none

  // The table whose columns the text may name without qualifier.
  virtual TBRNConfigObject* GetOwnerTable() const;

  void SetCatalog(TBRNCatalog* catalog);
  void ResetCatalog() { CurrentCatalog = HomeCatalog; }

  // The context flags and the grammar entry of the class.
  virtual TBRNParseFlags GetParseFlags() const;
  virtual TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags);
  // The session's parser and validator (through the current catalog).
  virtual TBRNExprParser* GetParser() const;
  virtual TBRNExprValidator* GetValidator() const;
  // The session's SQL builder; nullptr while none is attached (the
  // configuration keeps none yet): BuildText then gives empty text.
  virtual TBRNExprBuilder* GetBuilder() const;
  // Writes expressions with the expression writer and statements with the
  // statement writer.
  virtual bool BuildsStatements() const { return false; }

  std::string GetKindName() const override;
  // Node's text (the root's when nullptr) in one line, or in plan form with
  // line breaks and plan notes (cost notes with Costs).
  void BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text, bool ParameterValues,
                 bool Costs) override;
  // Without a parser there is nothing to parse with: std::logic_error.
  TBRNExprToken* Parse() override;
  // The validator with no expected result type; on failure its references
  // are released and the error passes on.
  void Validate() override;
  void ReleaseReferences() override;
  void TextChanged() override;
  void GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void OpenQualifiedDatabase(TBRNExprToken* Node) override;
  void CloseQualifiedDatabase(TBRNExprToken* Node) override;
  bool TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode) override;
  // The type of a parameter of a stored function (procedure) of the
  // Default schema, for the argument checks of a call; nullptr when there is
  // no such routine or parameter. The expression keeps the node until its
  // next validation or its end, as the compiler does not free it.
  TBRNExprToken* GetFunctionParam(std::string_view FunctionName, int32_t Index) override;
  TBRNExprToken* GetProcedureParam(std::string_view ProcedureName, int32_t Index) override;
  // The catalog's binding; every engine error becomes the expression's
  // error report at the node's line and column.
  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override;
  // "*" and the column lists of INSERT through the catalog; errors are
  // reported as for ResolveToken.
  void ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference, int32_t& Position,
                      TBRNExprToken* Wildcard) override;
  void AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode) override;
  // Hands a derived table the tree no longer needs back to the catalog.
  void ReleaseToken(TBRNExprToken* Node) override;
  // Releases the derived tables this expression's compiles created (the
  // catalog's handler may keep one, taking its query out of the tree), then
  // frees the tree: they are the expression's own, whichever catalog is
  // current and whoever the user is by then.
  void ClearRoot() override;
  bool IsTextIndexed(const TBRNExprToken* Node) override;

 protected:
  // The validator's expected result type for Validate (0: none).
  virtual void GetExpectedType(int32_t& dataType, int32_t& subType) const;

 private:
  TBRNExprToken* keepParamNode(std::string_view name, int32_t index, bool function);

  // Parameter nodes handed to the compiler (see GetFunctionParam).
  std::vector<std::unique_ptr<TBRNExprToken>> paramNodes_;
  // The derived tables the binder created for this expression's tree, by
  // catalog, schema ID and table ID (IDs, so that a table or schema dropped
  // meanwhile is found missing instead of read). The catalogs outlive the
  // expressions compiled against them.
  struct DerivedTable {
    TBRNCatalog* Catalog;
    int32_t SchemaID;
    int32_t TableID;
  };
  std::vector<DerivedTable> derivedTables_;
};

// A statement kept by a catalog object (a trigger's statement text).
class TBRNCatalogStatement : public TBRNCatalogExpr {
 public:
  using TBRNCatalogExpr::TBRNCatalogExpr;

  std::string GetKindName() const override;
  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) override;
  bool BuildsStatements() const override { return true; }
  // In a CREATE or ALTER TRIGGER statement: the trigger's table.
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  // In a CREATE or ALTER TRIGGER statement a column reference of the body
  // becomes a row-qualified reference; the qualifiers OldRow and NewRow bind
  // it to the old or new row where the trigger's event has that row.
  // References inside queries keep their kind unless so qualified.
  void ResolveRowIdentifier(TBRNExprToken* Node) override;

  // The trigger statement's root, or nullptr for any other statement.
  const TBRNExprToken* TriggerStatement() const;
};

// The definition of a stored routine: "PROCEDURE name (...) BEGIN ... END"
// or "FUNCTION name (...) RETURNS ... BEGIN ... END".
class TBRNCatalogRoutine : public TBRNCatalogStatement {
 public:
  using TBRNCatalogStatement::TBRNCatalogStatement;

  // Functions parse with the function entry, every other routine with the
  // procedure entry.
  virtual bool IsFunction() const;
  // The format version the text was written in (0: the newest); texts
  // below 2.04 are parsed in the old syntax.
  virtual int64_t GetVersionStamp() const;

  std::string GetKindName() const override;
  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) override;

  // Rewrites the name (the second token) after a rename: keyword, a blank,
  // the new name (in double quotes, inner ones doubled, when the old one was
  // quoted), a blank and the rest of the old text after the old name.
  void ReplaceRoutineName(const std::string& newName);
};

// Routines of the catalog: the kind name is the owner's name and the kind.
class TBRNProcedureRoutine : public TBRNCatalogRoutine {
 public:
  using TBRNCatalogRoutine::TBRNCatalogRoutine;
  std::string GetKindName() const override;
};

class TBRNFunctionRoutine : public TBRNCatalogRoutine {
 public:
  using TBRNCatalogRoutine::TBRNCatalogRoutine;
  bool IsFunction() const override;
  std::string GetKindName() const override;
};

// The text of a script run against a database: "SCRIPT (parameters)
// BEGIN ... END", parsed with the flags of a stored procedure (queries,
// qualified names, result cursors) and named "script" in error reports.
class TBRNScriptRoutine : public TBRNCatalogRoutine {
 public:
  using TBRNCatalogRoutine::TBRNCatalogRoutine;
  std::string GetKindName() const override;
  TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) override;
};

// An expression of a column: generated, computed or default. It works with
// or without a catalog; without one it uses the parser and validator of its
// column list and binds column references among the list's columns.
// Owns its tree.
class TBRNColumnExpr : public TBRNCatalogExpr {
 public:
  explicit TBRNColumnExpr(TBRNColumn* column);
  ~TBRNColumnExpr() override;

  TBRNColumn* Column;

  TBRNConfigObject* GetOwnerTable() const override;
  TBRNExprParser* GetParser() const override;
  TBRNExprValidator* GetValidator() const override;
  TBRNExprBuilder* GetBuilder() const override;
  TBRNParseFlags GetParseFlags() const override;
  std::string GetKindName() const override;
  void Validate() override;
  void GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override;

  // Whether the expression binds without a catalog.
  bool IsUnbound() const;

 protected:
  void GetExpectedType(int32_t& dataType, int32_t& subType) const override;
  virtual std::string kindWord() const;
};

// GENERATED ALWAYS AS and COMPUTED ALWAYS AS: the dependencies they report
// go to the column's UsedColumns, UsedFunctions and CallsFunctions.
class TBRNGeneratedColumnExpr : public TBRNColumnExpr {
 public:
  using TBRNColumnExpr::TBRNColumnExpr;

  TBRNParseFlags GetParseFlags() const override;
  void AfterCompile() override;
  void AfterUncompile() override;
  void AddColumnDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;

 protected:
  std::string kindWord() const override;
};

class TBRNComputedColumnExpr : public TBRNGeneratedColumnExpr {
 public:
  using TBRNGeneratedColumnExpr::TBRNGeneratedColumnExpr;

  TBRNParseFlags GetParseFlags() const override;

 protected:
  std::string kindWord() const override;
};

// DEFAULT: keeps its own dependency lists; never parsed without a catalog.
class TBRNDefaultColumnExpr : public TBRNColumnExpr {
 public:
  using TBRNColumnExpr::TBRNColumnExpr;

  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* Parse() override;
  void AfterCompile() override;
  void AfterUncompile() override;
  void AddColumnDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;

 protected:
  std::string kindWord() const override;
};

}  // namespace brn
