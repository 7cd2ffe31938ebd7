#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {

// A small in-memory catalog for the language processor's tests: tables with
// columns, and stored functions and procedures with parameters. Names are
// compared ignoring case, as the engine does.
struct TestColumn {
  std::string Name;
  TBRNDataTypeCode DataType = dtInteger;
  int32_t Size = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;
  bool TextIndexed = false;
};

struct TestTable {
  std::string Database;  // empty: the default catalog
  std::string Schema = "Default";
  std::string Name;
  int32_t ObjectID = 0;
  std::vector<TestColumn> Columns;

  // The 0-based number of the column, or -1.
  int32_t FindColumn(std::string_view name) const;
};

struct TestParam {
  std::string Name;
  TBRNDataTypeCode DataType = dtInteger;
  int32_t Size = 0;
  int32_t Scale = 0;
};

struct TestRoutine {
  std::string Name;
  bool IsFunction = true;
  int32_t ObjectID = 0;
  TBRNDataTypeCode ResultType = dtNull;  // functions only
  int32_t ResultSize = 0;
  std::vector<TestParam> Params;
};

struct TestCatalog {
  std::vector<TestTable> Tables;
  std::vector<TestRoutine> Routines;

  // An empty schema or database matches any.
  const TestTable* FindTable(std::string_view database, std::string_view schema,
                             std::string_view name) const;
  const TestRoutine* FindRoutine(std::string_view name, bool isFunction) const;

  // The catalog most tests share:
  //   Customers (ID Integer, Name VarChar(40) text-indexed, City VarChar(30))
  //   Orders (ID Integer, CustomerID Integer, Amount Decimal(12,2), Placed Date)
  //   Sales.Orders (ID Integer, Region VarChar(10))
  //   archive database: Default.Orders (ID Integer, Closed Timestamp)
  //   function Discount (Amount Decimal(12,2), Percent Integer) -> Decimal
  //   function Greeting (Name VarChar(40)) -> VarChar(60)
  //   procedure Archive (Before Date, Keep Boolean)
  static TestCatalog Sample();
};

enum class TestParseMode { Expression, Statement };

// A compiled expression answering every name question from a TestCatalog.
// It parses with Parser (its own by default; a test may point it at a parser
// with extra grammar), in Mode with Flags, and counts the calls of its hooks.
// A later validator is plugged in through OnValidate.
class TestOwner : public TBRNCompiledExpr {
 public:
  explicit TestOwner(TestCatalog catalog = TestCatalog::Sample(),
                     TestParseMode mode = TestParseMode::Expression, TBRNParseFlags flags = 0);
  ~TestOwner() override;

  // Sets the text and compiles it.
  void CompileText(std::string_view text);

  TestCatalog Catalog;
  TestParseMode Mode;
  TBRNParseFlags Flags;
  TBRNExprParser OwnParser;
  TBRNExprParser* Parser = &OwnParser;
  // When set, Parse answers a copy of this tree instead of parsing (for trees
  // of grammar a test builds by hand). Not owned.
  const TBRNExprToken* FixedTree = nullptr;
  // The noun of error messages.
  std::string KindName = "expression";
  // AllowsTableQualifier's answer.
  bool AllowQualifier = false;
  // The owning table of a column or check expression: the context of every
  // unqualified name when set.
  std::string ContextTable;
  std::function<void(TestOwner&)> OnValidate;
  std::function<void(TestOwner&)> OnAfterCompile;

  // Calls seen.
  int ParseCalls = 0;
  int ValidateCalls = 0;
  int AfterCompileCalls = 0;
  int AfterUncompileCalls = 0;
  int TextChangedCalls = 0;
  std::vector<const TBRNExprToken*> ReleasedTokens;
  std::vector<std::string> TableDependencies;
  std::vector<std::string> ColumnDependencies;
  std::vector<std::string> FunctionDependencies;
  std::vector<std::string> ProcedureDependencies;

  std::string GetKindName() const override { return KindName; }
  TBRNExprToken* Parse() override;
  void Validate() override;
  void GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void ExpandWildcard(TBRNExprToken* Query, TBRNExprToken* TableReference, int32_t& Position,
                      TBRNExprToken* Wildcard) override;
  void AddTableColumns(TBRNExprToken* TableReference, TBRNExprToken* ListNode) override;
  TBRNExprToken* GetFunctionParam(std::string_view FunctionName, int32_t Index) override;
  TBRNExprToken* GetProcedureParam(std::string_view ProcedureName, int32_t Index) override;
  bool TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode) override;
  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override;
  void ReleaseToken(TBRNExprToken* Node) override;
  bool IsTextIndexed(const TBRNExprToken* Node) override;
  void AddTableDependency(TBRNExprToken* Node) override;
  void AddColumnDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;
  void AddProcedureDependency(TBRNExprToken* Node) override;
  void TextChanged() override;
  void AfterCompile() override;
  void AfterUncompile() override;
  bool AllowsTableQualifier() override { return AllowQualifier; }

  // The catalog table a table reference (or the table of a bound column
  // reference, or the context table) stands for; nil when unknown.
  const TestTable* TableOf(const TBRNExprToken* node) const;

 private:
  TBRNExprToken* paramNode(const TestRoutine* routine, int32_t index);
  TBRNExprToken* columnReference(const TestTable& table, int32_t column, TBRNExprToken* link);

  // Parameter nodes handed out by GetFunctionParam and GetProcedureParam.
  std::vector<std::unique_ptr<TBRNExprToken>> FParamNodes;
};

}  // namespace brn::testing
