#include "sql/tree/compiled_expr.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "sql/test_owner.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TestOwner;

// 1-based position of the n-th occurrence of what in text.
int32_t positionOf(const std::string& text, std::string_view what, int n = 1) {
  size_t at = std::string::npos;
  for (int i = 0; i < n; ++i) at = text.find(what, at == std::string::npos ? 0 : at + 1);
  if (at == std::string::npos) throw std::invalid_argument(std::string(what));
  return int32_t(at) + 1;
}

TBRNExprToken* node(TBRNExprTokenKind kind, std::string name = "", int32_t position = 0) {
  auto* n = new TBRNExprToken;
  n->Kind = kind;
  n->Name = std::move(name);
  n->Position = position;
  return n;
}

TBRNExprToken* column(std::string qualifier, std::string name, int32_t position) {
  TBRNExprToken* n = node(tkColumnReference, std::move(name), position);
  n->SchemaName = std::move(qualifier);
  n->AddArgument(nullptr);
  n->AddArgument(nullptr);
  return n;
}

TBRNExprToken* table(std::string schema, std::string name, std::string alias, int32_t position) {
  TBRNExprToken* n = node(tkTableReference, std::move(name), position);
  n->SchemaName = std::move(schema);
  n->Alias = std::move(alias);
  return n;
}

TBRNExprToken* list(std::vector<TBRNExprToken*> members) {
  TBRNExprToken* n = node(tkList);
  for (TBRNExprToken* m : members) n->AddArgument(m);
  return n;
}

TBRNExprToken* binary(TBRNExprToken* left, TBRNExprToken* right) {
  TBRNExprToken* n = node(tkOperator);
  n->Operation = opEqual;
  n->SetLeft(left);
  n->SetRight(right);
  return n;
}

// A query node with its select items, FROM items and WHERE condition at
// their argument positions.
TBRNExprToken* query(std::vector<TBRNExprToken*> items, std::vector<TBRNExprToken*> from,
                     TBRNExprToken* where = nullptr) {
  TBRNExprToken* q = node(tkQuery);
  q->SetArgumentCount(12);
  q->SetArgument(0, list({}));
  q->SetArgument(1, list({}));
  std::vector<TBRNExprToken*> selectItems;
  for (TBRNExprToken* expression : items) {
    TBRNExprToken* item = node(tkSelectItem, "", expression->Position);
    item->AddArgument(expression);
    selectItems.push_back(item);
  }
  q->SetArgument(2, list(selectItems));
  q->SetArgument(6, list(from));
  if (where) q->SetArgument(7, list({where}));
  return q;
}

// Owner whose "parse" answers a hand-built tree of grammar not yet there.
struct FixedTreeOwner {
  explicit FixedTreeOwner(std::string text, TBRNExprToken* tree) : Tree(tree) {
    Owner.FixedTree = Tree;
    Owner.SetText(text);
  }
  ~FixedTreeOwner() { FreeExprTree(Tree); }
  TBRNExprToken* Tree;
  TestOwner Owner;
};

TEST(CompiledExprTest, SetTextUncompilesOnlyWhenTheTextChangesInAnyCharacter) {
  TestOwner owner;
  owner.CompileText("Amount");
  ASSERT_TRUE(owner.Compiled);
  owner.SetText("Amount");
  EXPECT_TRUE(owner.Compiled);
  EXPECT_EQ(owner.TextChangedCalls, 1);
  owner.SetText("AMOUNT");
  EXPECT_FALSE(owner.Compiled);
  EXPECT_EQ(owner.Root, nullptr);
  EXPECT_EQ(owner.TextChangedCalls, 2);
  EXPECT_EQ(owner.SQLLength, 6);
}

TEST(CompiledExprTest, CompileCycleCallsEachHookOnceAndOnlyOnChange) {
  TestOwner owner;
  owner.SetText("(Amount)");
  owner.Compile();
  owner.Compile();
  EXPECT_TRUE(owner.Compiled);
  ASSERT_NE(owner.Root, nullptr);
  EXPECT_EQ(owner.Root->Name, "Amount");
  EXPECT_EQ(owner.ParseCalls, 1);
  EXPECT_EQ(owner.ValidateCalls, 1);
  EXPECT_EQ(owner.AfterCompileCalls, 1);
  EXPECT_EQ(owner.AfterUncompileCalls, 0);

  const TBRNExprToken* root = owner.Root;
  owner.Uncompile();
  owner.Uncompile();
  EXPECT_FALSE(owner.Compiled);
  EXPECT_EQ(owner.Root, nullptr);
  EXPECT_EQ(owner.AfterUncompileCalls, 1);
  // The freed tree was released node by node.
  EXPECT_EQ(owner.ReleasedTokens, std::vector<const TBRNExprToken*>{root});
}

TEST(CompiledExprTest, SetCompiledFromInsideAHookDoesNothing) {
  TestOwner owner;
  owner.OnAfterCompile = [](TestOwner& o) {
    o.Uncompile();
    o.Compile();
  };
  owner.CompileText("Amount");
  EXPECT_TRUE(owner.Compiled);
  EXPECT_NE(owner.Root, nullptr);
  EXPECT_EQ(owner.AfterUncompileCalls, 0);
  EXPECT_EQ(owner.ParseCalls, 1);
  EXPECT_FALSE(owner.Compiling);
}

TEST(CompiledExprTest, FailedValidationOrAfterCompileFreesTheTreeAndLeavesUncompiled) {
  for (bool failInValidate : {true, false}) {
    SCOPED_TRACE(failInValidate ? "Validate" : "AfterCompile");
    TestOwner owner;
    auto fail = [](TestOwner& o) { o.ReportError("no such column", 1, 1); };
    if (failInValidate)
      owner.OnValidate = fail;
    else
      owner.OnAfterCompile = fail;
    owner.SetText("Amount");
    EBRNException error = CaughtError([&] { owner.Compile(); });
    EXPECT_EQ(error.ErrorCode, 700);
    EXPECT_FALSE(owner.Compiled);
    EXPECT_FALSE(owner.Compiling);
    EXPECT_EQ(owner.Root, nullptr);
    EXPECT_EQ(owner.ReleasedTokens.size(), 1u);
    // The object is usable again once the cause is gone.
    owner.OnValidate = nullptr;
    owner.OnAfterCompile = nullptr;
    owner.Compile();
    EXPECT_TRUE(owner.Compiled);
  }
}

TEST(CompiledExprTest, ParseErrorLeavesNoTreeAndNilParseStillCompiles) {
  TestOwner owner;
  owner.SetText("(Amount");
  EBRNException error = CaughtError([&] { owner.Compile(); });
  EXPECT_EQ(error.ErrorMessage,
            "An error was found in the expression at line 1 and column 7 (Missing ))");
  EXPECT_FALSE(owner.Compiled);
  EXPECT_FALSE(owner.Compiling);
  EXPECT_EQ(owner.Root, nullptr);
  EXPECT_EQ(owner.ValidateCalls, 0);

  // The base class parses nothing: compiled, without a tree, no hooks run.
  TBRNCompiledExpr plain;
  plain.SetText("anything");
  plain.Compile();
  EXPECT_TRUE(plain.Compiled);
  EXPECT_EQ(plain.Root, nullptr);
}

TEST(CompiledExprTest, ReportErrorRaises700WithKindLineColumnAndOverrides) {
  struct Case {
    int32_t errorLine, errorColumn, line, column;
    const char* kind;
    int32_t wantLine, wantColumn;
    const char* message;
  };
  const Case cases[] = {
      {0, 0, 3, 14, "expression", 3, 14,
       "An error was found in the expression at line 3 and column 14 (bad thing)"},
      {12, 5, 3, 14, "filter expression", 12, 5,
       "An error was found in the filter expression at line 12 and column 5 (bad thing)"},
      {12, 0, 3, 14, "expression", 12, 14,
       "An error was found in the expression at line 12 and column 14 (bad thing)"},
  };
  for (const Case& c : cases) {
    TestOwner owner;
    owner.KindName = c.kind;
    owner.ErrorLine = c.errorLine;
    owner.ErrorColumn = c.errorColumn;
    EBRNException error = CaughtError([&] { owner.ReportError("bad thing", c.line, c.column); });
    EXPECT_EQ(error.ErrorCode, 700);
    EXPECT_EQ(error.ErrorMessage, c.message);
    EXPECT_EQ(error.ErrorLine, c.wantLine);
    EXPECT_EQ(error.ErrorColumn, c.wantColumn);
  }
}

TEST(CompiledExprTest, UncompiledTextsCompareIgnoringCaseOutsideStringLiterals) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"select amount from orders", "SELECT Amount FROM Orders", true},
      {"Amount > 5\r\n\r\n", "AMOUNT > 5", true},
      {"Name = 'a'", "Name = 'A'", false},
      {"name = 'it''s'", "NAME = 'IT''S'", false},
      {"name = 'it''s'", "NAME = 'it''s'", true},
      {"\"My Col\" = 1", "\"MY COL\" = 1", true},
      {"-- don't\nname = 'x'", "-- DON'T\nNAME = 'x'", true},
      {"/* it's */ name = 'x'", "/* IT'S */ NAME = 'x'", true},
      {"b = X'1f'", "B = x'1F'", true},
      {"a = 1", "a = 2", false},
      {"a = 1", "a = 1  ", true},
      {"a = 1", "a = 1\t", false},
      {"", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b);
    TBRNCompiledExpr a;
    TBRNCompiledExpr b;
    a.SetText(c.a);
    b.SetText(c.b);
    EXPECT_EQ(a.Equals(&b), c.equal);
    EXPECT_EQ(b.Equals(&a), c.equal);
  }
}

TEST(CompiledExprTest, CompiledObjectsCompareTrees) {
  TestOwner a;
  TestOwner b;
  a.CompileText("Amount");
  b.CompileText("( amount )");
  EXPECT_TRUE(a.Equals(&b));
  b.CompileText("City");
  EXPECT_FALSE(a.Equals(&b));
  // One side uncompiled: texts decide.
  b.SetText("AMOUNT");
  EXPECT_TRUE(a.Equals(&b));
  b.SetText("'Amount'");
  EXPECT_FALSE(a.Equals(&b));
}

TEST(CompiledExprTest, StreamFormIsTheTextAloneAndOnlyADifferentTextUncompiles) {
  TestOwner owner;
  owner.CompileText("Amount");
  TBRNMemoryStream stream;
  owner.WriteToStream(stream);
  EXPECT_EQ(testing::StreamHex(stream), "06000000416D6F756E74");

  stream.SetPosition(0);
  owner.ReadFromStream(stream);
  EXPECT_TRUE(owner.Compiled);

  TBRNMemoryStream other;
  other.WriteString("City");
  other.SetPosition(0);
  owner.ReadFromStream(other);
  EXPECT_FALSE(owner.Compiled);
  EXPECT_EQ(owner.SQL, "City");
  EXPECT_EQ(owner.SQLLength, 4);
  EXPECT_EQ(owner.AfterUncompileCalls, 1);
}

TEST(CompiledExprTest, SetRootTakesTheParentTextAndAssignCopiesTextAndState) {
  TBRNExprToken* parent = node(tkSelectItem);
  parent->Text = "Amount * 2";
  TBRNExprToken* child = column("", "Amount", 1);
  parent->AddArgument(child);

  TestOwner owner;
  owner.SetRoot(child);
  EXPECT_TRUE(owner.Compiled);
  EXPECT_EQ(owner.SQL, "Amount * 2");
  EXPECT_EQ(owner.SQLLength, 10);
  ASSERT_NE(owner.Root, nullptr);
  EXPECT_NE(owner.Root, child);  // an owned copy
  EXPECT_TRUE(ExprTreesEqual(owner.Root, child));

  TestOwner withTree;
  withTree.Assign(&owner, true);
  EXPECT_TRUE(withTree.Compiled);
  EXPECT_EQ(withTree.SQL, "Amount * 2");
  EXPECT_TRUE(ExprTreesEqual(withTree.Root, child));
  TestOwner textOnly;
  textOnly.CompileText("City");
  textOnly.Assign(&owner, false);
  EXPECT_FALSE(textOnly.Compiled);
  EXPECT_EQ(textOnly.SQL, "Amount * 2");
  EXPECT_EQ(textOnly.Root, nullptr);

  owner.SetRoot(nullptr);
  EXPECT_FALSE(owner.Compiled);
  EXPECT_EQ(owner.SQL, "");
  EXPECT_EQ(owner.SQLLength, 0);
  FreeExprTree(parent);
}

TEST(CompiledExprTest, ReleaseTreeVisitsPostOrderAndCopesWithAnyDepth) {
  TBRNExprToken* left = column("", "a", 1);
  TBRNExprToken* right = column("", "b", 5);
  TBRNExprToken* op = binary(left, right);
  TBRNExprToken* argument = node(tkConstant);
  TBRNExprToken* root = list({op, nullptr, argument});
  TestOwner owner;
  owner.ReleaseTree(root);
  EXPECT_EQ(owner.ReleasedTokens,
            (std::vector<const TBRNExprToken*>{left, right, op, argument, root}));
  FreeExprTree(root);

  // A chain far deeper than any stack would take recursively.
  TBRNExprToken* deep = node(tkUnaryOperator);
  for (int i = 0; i < 200000; ++i) {
    TBRNExprToken* up = node(tkUnaryOperator);
    up->SetLeft(deep);
    deep = up;
  }
  owner.ReleasedTokens.clear();
  owner.SetRoot(nullptr);
  owner.Root = deep;  // install without copying
  owner.ClearRoot();
  EXPECT_EQ(owner.ReleasedTokens.size(), 200001u);
  EXPECT_EQ(owner.Root, nullptr);
}

// Counts the run-time objects alive.
struct CountedRuntimeObject : TBRNExprRuntimeObject {
  explicit CountedRuntimeObject(int& alive) : Alive(alive) { ++Alive; }
  ~CountedRuntimeObject() override { --Alive; }
  int& Alive;
};

// A compiled object over a tree it does not own.
class SharedTreeOwner : public TBRNCompiledExpr {
 public:
  ~SharedTreeOwner() override { ClearRoot(); }
  bool OwnsRoot() const override { return false; }
};

TEST(CompiledExprTest, RuntimeObjectsOnJoinEntriesGoWithTheTree) {
  struct Case {
    const char* Name;
    void (*Free)(std::unique_ptr<TBRNCompiledExpr>&);
  };
  const Case cases[] = {
      {"destroyed", [](std::unique_ptr<TBRNCompiledExpr>& o) { o.reset(); }},
      {"cleared", [](std::unique_ptr<TBRNCompiledExpr>& o) { o->ClearRoot(); }},
      {"uncompiled", [](std::unique_ptr<TBRNCompiledExpr>& o) { o->Uncompile(); }},
      {"given no tree", [](std::unique_ptr<TBRNCompiledExpr>& o) { o->SetRoot(nullptr); }},
  };
  for (const Case& c : cases) {
    for (bool owned : {true, false}) {
      SCOPED_TRACE(std::string(c.Name) + (owned ? ", owned tree" : ", shared tree"));
      TBRNExprToken* entry = table("", "Orders", "", 0);
      TBRNExprToken* tree = query({column("", "ID", 0)}, {entry}, nullptr);
      std::unique_ptr<TBRNCompiledExpr> owner;
      if (owned) {
        owner = std::make_unique<TestOwner>();
        owner->Root = tree;  // install without copying
        owner->Compiled = true;
      } else {
        owner = std::make_unique<SharedTreeOwner>();
        owner->SetRoot(tree);
      }
      int alive = 0;
      owner->AttachRuntimeObject(entry, std::make_unique<CountedRuntimeObject>(alive));
      EXPECT_EQ(alive, 1);
      EXPECT_THROW(
          owner->AttachRuntimeObject(entry, std::make_unique<CountedRuntimeObject>(alive)),
          std::invalid_argument);
      EXPECT_EQ(alive, 1);
      c.Free(owner);
      EXPECT_EQ(alive, 0);
      // A tree that lives on keeps no reference to the freed object.
      if (!owned) {
        EXPECT_EQ(entry->RuntimeObject, nullptr);
        FreeExprTree(tree);
      }
    }
  }
}

TEST(CompiledExprTest, BaseContextNamesComeFromTheFirstFromItemOfTheNearestQuery) {
  TBRNExprToken* where = column("", "ID", 0);
  TBRNExprToken* first = table("Sales", "Orders", "", 0);
  first->DatabaseName = "archive";
  TBRNExprToken* q = query({column("", "Region", 0)}, {first, table("", "Customers", "", 0)},
                           binary(where, node(tkConstant)));
  TBRNCompiledExpr owner;
  std::string name;
  owner.GetContextDatabaseName(where, name);
  EXPECT_EQ(name, "archive");
  owner.GetContextSchemaName(where, name);
  EXPECT_EQ(name, "Sales");
  owner.GetContextTableName(where, name);
  EXPECT_EQ(name, "Orders");
  // The database only for column references; nothing outside a query.
  owner.GetContextDatabaseName(where->Parent, name);
  EXPECT_EQ(name, "");
  owner.GetContextTableName(q, name);
  EXPECT_EQ(name, "");
  FreeExprTree(q);
}

TEST(CompiledExprTest, MemorySizeCountsTheText) {
  TBRNCompiledExpr a;
  const int64_t empty = a.MemorySize();
  a.SetText(std::string(1000, 'x'));
  EXPECT_GE(a.MemorySize(), empty + 1000);
}

TEST(CompiledExprTest, BaseAnswersAreEmptyAndItsTwoActingHooksResetTheNode) {
  TBRNCompiledExpr base;
  TBRNExprToken* ref = column("NewRow", "Amount", 1);
  ref->Operation = opEqual;
  ref->OptimizeLevel = 2;
  ref->RowCount = 10;
  ref->EstimatedCost = 99;
  ref->ScanName = "Orders.ByID";
  ref->HintColumns = "\"Amount\"";
  EXPECT_EQ(base.GetFunctionParam("Discount", 0), nullptr);
  EXPECT_EQ(base.GetProcedureParam("Archive", 0), nullptr);
  EXPECT_FALSE(base.TableHasColumn(ref, ref));
  EXPECT_FALSE(base.IsTextIndexed(ref));
  EXPECT_FALSE(base.AllowsTableQualifier());
  EXPECT_EQ(base.GetRowSize(), 0);
  EXPECT_EQ(base.GetRowCount(), 0);
  std::string text = "stale";
  base.GetScanTableName(text);
  EXPECT_EQ(text, "");
  text = "stale";
  base.BuildText(nullptr, true, text, true, true);
  EXPECT_EQ(text, "");

  base.AnalyzeIndexCondition(ref, true);
  EXPECT_EQ(ref->OptimizeLevel, 0);
  EXPECT_EQ(ref->RowCount, 0);
  EXPECT_EQ(ref->EstimatedCost, 0);
  EXPECT_EQ(ref->ScanName, "");
  EXPECT_EQ(ref->HintColumns, "");
  base.ResolveRowIdentifier(ref);
  EXPECT_EQ(ref->Operation, opNone);
  EXPECT_EQ(ref->Kind, tkColumnReference);
  FreeExprTree(ref);
}

// Renaming inside the stored text.

TEST(CompiledExprTest, RenameTableReplacesPlainAndSchemaQualifiedReferencesFromTheEnd) {
  const std::string text = "SELECT a.ID FROM Orders a, Default.Orders b WHERE a.ID = b.ID";
  TBRNExprToken* tree = query({column("a", "ID", positionOf(text, "a.ID"))},
                              {table("", "Orders", "a", positionOf(text, "Orders")),
                               table("Default", "Orders", "b", positionOf(text, "Default"))},
                              binary(column("a", "ID", positionOf(text, "a.ID", 2)),
                                     column("b", "ID", positionOf(text, "b.ID"))));
  FixedTreeOwner fixed(text, tree);
  fixed.Owner.Compile();
  fixed.Owner.RenameInText(tkTableReference, "ORDERS", "Purchases");
  EXPECT_EQ(fixed.Owner.SQL, "SELECT a.ID FROM Purchases a, Default.Purchases b WHERE a.ID = b.ID");
  EXPECT_EQ(fixed.Owner.SQLLength, int32_t(fixed.Owner.SQL.size()));
  EXPECT_FALSE(fixed.Owner.Compiled);
  // The parse-only tree was asked for, not the compiled one.
  EXPECT_EQ(fixed.Owner.ParseCalls, 2);
  EXPECT_EQ(fixed.Owner.ValidateCalls, 1);
}

TEST(CompiledExprTest, RenameTableRenamesColumnQualifiersThatNameTheTableNotAliases) {
  struct Case {
    std::string text;
    std::vector<std::string> qualifiers;  // of the column references, in text order
    std::vector<std::pair<std::string, std::string>> from;  // table, alias
    std::string renamed;
  };
  const std::vector<Case> cases = {
      {"SELECT Orders.Amount FROM Orders WHERE Orders.ID = Orders.CustomerID",
       {"Orders", "Orders", "Orders"},
       {{"Orders", ""}},
       "SELECT \"Order Lines\".Amount FROM \"Order Lines\" WHERE \"Order Lines\".ID = "
       "\"Order Lines\".CustomerID"},
      // Orders is the correlation name of Customers here: nothing names the
      // table Orders.
      {"SELECT Orders.Amount FROM Customers Orders WHERE Orders.ID = Orders.CustomerID",
       {"Orders", "Orders", "Orders"},
       {{"Customers", "Orders"}},
       "SELECT Orders.Amount FROM Customers Orders WHERE Orders.ID = Orders.CustomerID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<TBRNExprToken*> columns;
    int n = 1;
    for (const std::string& q : c.qualifiers) {
      const int32_t at = positionOf(c.text, q + ".", n++);
      columns.push_back(column(q, "x", at));
    }
    std::vector<TBRNExprToken*> from;
    for (const auto& [name, alias] : c.from)
      from.push_back(table("", name, alias, positionOf(c.text, "FROM " + name) + 5));
    TBRNExprToken* tree = query({columns[0]}, from, binary(columns[1], columns[2]));
    FixedTreeOwner fixed(c.text, tree);
    fixed.Owner.RenameInText(tkTableReference, "Orders", "Order Lines");
    EXPECT_EQ(fixed.Owner.SQL, c.renamed);
  }
}

TEST(CompiledExprTest, RenameQuotesTheNewNameWhenItMustAndKeepsQuotedReferencesQuoted) {
  struct Case {
    std::string text;
    std::string newName;
    std::string renamed;
  };
  const std::vector<Case> cases = {
      {"Amount", "Total", "Total"},
      {"Amount", "Net Total", "\"Net Total\""},
      {"Amount", "Select", "\"Select\""},  // a keyword
      {"Amount", "Count", "\"Count\""},    // a function name
      {"Amount", "2nd", "\"2nd\""},
      {"Amount", "Say \"hi\"", "\"Say \"\"hi\"\"\""},
      {"(\"Amount\")", "Total", "(\"Total\")"},
      {"( \"amount\" )", "Net Total", "( \"Net Total\" )"},
      {"Orders.Amount", "Total", "Orders.Total"},
      {"Orders./* the sum */Amount", "Total", "Orders./* the sum */Total"},
      {"\"Orders\".\"Amount\"", "Total", "\"Orders\".\"Total\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TestOwner owner;
    owner.AllowQualifier = true;  // the qualifier is dropped from the node
    owner.SetText(c.text);
    owner.RenameInText(tkColumnReference, "AMOUNT", c.newName);
    EXPECT_EQ(owner.SQL, c.renamed);
    // The result reads back as the renamed column.
    owner.Compile();
    ASSERT_NE(owner.Root, nullptr);
    EXPECT_EQ(owner.Root->Name, c.newName);
  }
}

TEST(CompiledExprTest, RenameKeepsTheQualifierThatTheParserKeptInTheNode) {
  TestOwner owner(testing::TestCatalog::Sample(), testing::TestParseMode::Expression,
                  pcColumnQualifier);
  owner.CompileText("Sales.Amount");
  ASSERT_EQ(owner.Root->SchemaName, "Sales");
  owner.RenameInText(tkColumnReference, "Amount", "Total");
  EXPECT_EQ(owner.SQL, "Sales.Total");
}

TEST(CompiledExprTest, RenameReplacesAPositionSharedByCopiesOnce) {
  const std::string text = "Amount = Amount";
  TBRNExprToken* first = column("", "Amount", 1);
  TBRNExprToken* copy = column("", "Amount", 1);
  TBRNExprToken* second = column("", "Amount", positionOf(text, "Amount", 2));
  TBRNExprToken* tree = list({binary(first, second), copy});
  FixedTreeOwner fixed(text, tree);
  fixed.Owner.RenameInText(tkColumnReference, "Amount", "Grand Total");
  EXPECT_EQ(fixed.Owner.SQL, "\"Grand Total\" = \"Grand Total\"");
}

TEST(CompiledExprTest, RenameLeavesTextAloneWhereThePositionDoesNotNameTheObject) {
  const std::string text = "City = Amount";
  // A reference whose position points at another name, and one at a blank.
  TBRNExprToken* tree = binary(column("", "Amount", 1), column("", "Amount", 5));
  FixedTreeOwner fixed(text, tree);
  fixed.Owner.Compile();
  fixed.Owner.RenameInText(tkColumnReference, "Amount", "Total");
  EXPECT_EQ(fixed.Owner.SQL, text);
  EXPECT_TRUE(fixed.Owner.Compiled);
  EXPECT_EQ(fixed.Owner.TextChangedCalls, 1);
}

TEST(CompiledExprTest, RenameSeparatesTriggerRowReferencesFromPlainColumns) {
  const std::string text = "NewRow.Amount = Amount";
  TBRNExprToken* tree =
      binary(column("NewRow", "Amount", 1), column("", "Amount", positionOf(text, "Amount", 2)));
  FixedTreeOwner rows(text, tree);
  rows.Owner.RenameInText(tkRowColumnReference, "Amount", "Total");
  EXPECT_EQ(rows.Owner.SQL, "NewRow.Total = Amount");

  FixedTreeOwner plain(text, CopyExprTree(tree));
  plain.Owner.RenameInText(tkColumnReference, "Amount", "Total");
  EXPECT_EQ(plain.Owner.SQL, "NewRow.Amount = Total");
}

TEST(CompiledExprTest, RenameRefusesANameWithALineBreakAndPassesParseErrorsOn) {
  TestOwner owner;
  owner.SetText("Amount");
  EXPECT_THROW(owner.RenameInText(tkColumnReference, "Amount", "a\nb"), std::invalid_argument);
  owner.SetText("(Amount");
  EXPECT_EQ(CaughtError([&] { owner.RenameInText(tkColumnReference, "Amount", "b"); }).ErrorCode,
            700);
  EXPECT_EQ(owner.SQL, "(Amount");
}

}  // namespace
}  // namespace brn
