// Catalog expressions: compiling through the session's language processor
// with the catalog answering names, dependencies, renames and routine texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog_test_support.h"
#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;
using testing::CatalogTable;
using testing::CaughtError;

struct GeneratedTable : CatalogFixture {
  CatalogTable* Table = AddTable("T");
  TBRNColumn* X = AddColumn(*Table->Columns, "X", dtInteger);
  TBRNColumn* G = AddColumn(*Table->Columns, "G", dtInteger);
  TBRNColumn* D = AddColumn(*Table->Columns, "D", dtInteger);

  GeneratedTable() {
    G->SetGenerated(true);
    G->GeneratedExpr->SetText("X + 1");
    D->SetHasDefault(true);
    D->DefaultExpr->SetText("X * 2");
  }
};

TEST(CatalogExpr, GeneratedColumnCompilesThroughTheCatalog) {
  GeneratedTable t;
  t.Table->Columns->Compile();
  ASSERT_TRUE(t.G->GeneratedExpr->Compiled);
  ASSERT_NE(t.G->GeneratedExpr->Root, nullptr);
  EXPECT_EQ(t.G->GeneratedExpr->CurrentCatalog, t.Catalog.get());
  EXPECT_EQ(t.G->GeneratedExpr->GetKindName(), "G generated column expression");
  EXPECT_EQ(t.D->DefaultExpr->GetKindName(), "D column default expression");
  ASSERT_EQ(t.G->UsedColumns->Count(), 1);
  EXPECT_EQ(t.G->UsedColumns->GetItem(0), t.X);
  ASSERT_EQ(t.D->DefaultUsedColumns->Count(), 1);
  EXPECT_EQ(t.D->DefaultUsedColumns->GetItem(0), t.X);
  ASSERT_TRUE(t.X->HasDependentColumns());
  EXPECT_EQ(t.X->GetDependentColumns()->GetItem(0), t.G);
  EXPECT_FALSE(t.G->HasDependentColumns());

  // The referrers of X are the two columns whose expressions use it.
  t.X->BuildReferrers();
  TBRNSelectedConfigObjects* referrers = t.X->GetReferrers();
  ASSERT_EQ(referrers->Count(), 2);

  // Uncompiling drops the dependencies again.
  t.G->Uncompile();
  EXPECT_EQ(t.G->UsedColumns->Count(), 0);
  EXPECT_FALSE(t.X->HasDependentColumns());
}

// Dependency lists never keep a column that left the list.
TEST(CatalogExpr, RemovedColumnsLeaveTheDependencyLists) {
  GeneratedTable t;
  t.Table->Columns->Compile();
  ASSERT_TRUE(t.X->HasDependentColumns());
  delete t.Table->Columns->RemoveObject(t.G->Index);
  EXPECT_FALSE(t.X->HasDependentColumns());
  delete t.Table->Columns->RemoveObject(t.X->Index);
  EXPECT_EQ(t.D->DefaultUsedColumns->Count(), 0);
  t.D->DefaultExpr->Uncompile();
  EXPECT_EQ(CaughtError([&] { t.D->Compile(); }).ErrorCode, kSQLTextErrorCode);
}

TEST(CatalogExpr, RenamingAColumnRewritesTheTextsThatUseIt) {
  GeneratedTable t;
  TBRNColumn* other = AddColumn(*t.Table->Columns, "Y", dtInteger);
  other->SetHasDefault(true);
  other->DefaultExpr->SetText("7");
  t.Catalog->Modified = false;

  t.X->NotifyRenamed("Total");
  t.X->SetName("Total");
  EXPECT_EQ(t.G->GeneratedExpr->SQL, "Total + 1");
  EXPECT_EQ(t.D->DefaultExpr->SQL, "Total * 2");
  t.Table->Columns->Compile();
  EXPECT_TRUE(t.G->GeneratedExpr->Compiled);
  EXPECT_EQ(t.G->GetColumnDefinition(false), "INTEGER GENERATED ALWAYS AS Total + 1");

  t.X->NotifyRenamed("Order Total");
  t.X->SetName("Order Total");
  EXPECT_EQ(t.G->GeneratedExpr->SQL, "\"Order Total\" + 1");
  EXPECT_EQ(t.D->DefaultExpr->SQL, "\"Order Total\" * 2");
  EXPECT_EQ(other->DefaultExpr->SQL, "7");
  EXPECT_TRUE(t.Catalog->Modified);

  // The rewritten texts parse and bind again.
  t.Table->Columns->Compile();
  EXPECT_TRUE(t.G->GeneratedExpr->Compiled);
  EXPECT_TRUE(t.D->DefaultExpr->Compiled);
  EXPECT_EQ(t.G->UsedColumns->GetItem(0), t.X);
}

TEST(CatalogExpr, BindingErrorsNameTheExpressionAndPosition) {
  GeneratedTable t;
  t.G->GeneratedExpr->SetText("X +\n  Missing");
  const EBRNException error = CaughtError([&] { t.G->Compile(); });
  EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);
  EXPECT_EQ(error.ErrorMessage,
            "An error was found in the G generated column expression at line 2 and column 3 "
            "(The column Missing does not exist in the table T)");
  EXPECT_FALSE(t.G->GeneratedExpr->Compiled);
  EXPECT_EQ(t.G->UsedColumns->Count(), 0);

  t.G->GeneratedExpr->SetText("X +");
  EXPECT_EQ(CaughtError([&] { t.G->Compile(); }).ErrorCode, kSQLTextErrorCode);
}

TEST(CatalogExpr, TextChangesMarkTheCatalogUnlessTemporary) {
  GeneratedTable t;
  t.Catalog->Modified = false;
  t.D->DefaultExpr->SetText("X * 3");
  EXPECT_TRUE(t.Catalog->Modified);
  t.Table->SetTemporary(true);
  t.Catalog->Modified = false;
  t.D->DefaultExpr->SetText("X * 4");
  EXPECT_FALSE(t.Catalog->Modified);
}

TEST(CatalogExpr, ColumnListWithoutCatalogBindsItsOwnColumns) {
  TBRNExprParser parser;
  TBRNExprValidator validator(false);
  TBRNExprBuilder builder;
  TBRNColumns columns(nullptr);
  columns.Parser = &parser;
  columns.Validator = &validator;
  columns.Builder = &builder;
  AddColumn(columns, "A", dtInteger);
  TBRNColumn* computed = AddColumn(columns, "B", dtInteger);
  computed->SetComputed(true);
  computed->ComputedExpr->SetText("A + 1");
  TBRNColumn* withDefault = AddColumn(columns, "C", dtInteger);
  withDefault->SetHasDefault(true);
  withDefault->DefaultExpr->SetText("A");

  EXPECT_TRUE(computed->ComputedExpr->IsUnbound());
  columns.Compile();
  ASSERT_NE(computed->ComputedExpr->Root, nullptr);
  EXPECT_EQ(computed->UsedColumns->GetItem(0)->Name, "A");
  // The text is written back through the list's builder.
  std::string text = "stale";
  computed->ComputedExpr->BuildText(nullptr, false, text, false, false);
  EXPECT_EQ(text, "\"A\" + 1");
  EXPECT_EQ(builder.GetText(), "");
  // A default expression without catalog is never parsed.
  EXPECT_EQ(withDefault->DefaultExpr->Root, nullptr);

  computed->ComputedExpr->SetText("Nothing + 1");
  EXPECT_EQ(CaughtError([&] { computed->Compile(); }).ErrorCode, kSQLTextErrorCode);
}

// A routine body that CREATE PROCEDURE or CREATE FUNCTION accepts must also
// compile from the routine text the catalog stores, with the flags the
// catalog uses: bodies with subqueries and qualified column references
// included.
TEST(CatalogExpr, StoredRoutineAcceptsWhatTheCreateStatementAccepts) {
  CatalogFixture f;
  AddColumn(*f.AddTable("Orders")->Columns, "ID", dtInteger);
  // The bare routine-entry flags (end of text, result cursors) refuse the
  // first two bodies; the catalog's flags must not.
  struct BareFlagsRoutine : TBRNCatalogRoutine {
    BareFlagsRoutine(TBRNConfigObject* owner, bool function)
        : TBRNCatalogRoutine(owner), Function(function) {}
    bool Function;
    bool IsFunction() const override { return Function; }
    TBRNParseFlags GetParseFlags() const override {
      return Function ? pcEndOfText : pcEndOfText | pcResultCursors;
    }
  };
  const bool bareFlagsRefuse[] = {true, true, false};
  const char* const statements[] = {
      "CREATE PROCEDURE Tally (OUT Amount INTEGER)\n"
      "BEGIN\n"
      "  SET Amount = (SELECT Orders.ID FROM Orders);\n"
      "END",
      "CREATE FUNCTION Latest () RETURNS INTEGER\n"
      "BEGIN\n"
      "  DECLARE Result INTEGER;\n"
      "  SET Result = (SELECT o.ID FROM Default.Orders o);\n"
      "  RETURN Result;\n"
      "END",
      "CREATE PROCEDURE \"Plain\" ()\n"
      "BEGIN\n"
      "  DECLARE N INTEGER;\n"
      "  SET N = 1;\n"
      "END",
  };
  for (size_t i = 0; i < std::size(statements); ++i) {
    const char* text = statements[i];
    TBRNCatalogObject owner(f.Catalog.get());
    owner.Name = "Routine";
    TBRNCatalogStatement statement(&owner);
    statement.SetCatalog(f.Catalog.get());
    statement.SetText(text);
    EXPECT_EQ(statement.GetKindName(), "statement");
    statement.Compile();
    ASSERT_NE(statement.Root, nullptr) << text;
    const std::string routineText = statement.Root->Text;
    ASSERT_FALSE(routineText.empty()) << text;

    const bool isFunction = routineText.rfind("FUNCTION", 0) == 0;
    std::unique_ptr<TBRNCatalogRoutine> routine;
    if (isFunction) {
      routine = std::make_unique<TBRNFunctionRoutine>(&owner);
    } else {
      routine = std::make_unique<TBRNProcedureRoutine>(&owner);
    }
    routine->SetCatalog(f.Catalog.get());
    routine->SetText(routineText);
    EXPECT_NO_THROW(routine->Compile()) << routineText;
    EXPECT_TRUE(routine->Compiled) << routineText;
    EXPECT_EQ(routine->GetKindName(), isFunction ? "Routine function" : "Routine procedure");
    EXPECT_EQ(routine->GetParseFlags() & (pcQueries | pcSchemaQualifier | pcColumnQualifier),
              pcQueries | pcSchemaQualifier | pcColumnQualifier);

    BareFlagsRoutine bare(&owner, isFunction);
    bare.SetCatalog(f.Catalog.get());
    bare.SetText(routineText);
    if (bareFlagsRefuse[i]) {
      EXPECT_EQ(CaughtError([&] { bare.Compile(); }).ErrorCode, kSQLTextErrorCode) << routineText;
    } else {
      EXPECT_NO_THROW(bare.Compile()) << routineText;
    }
  }
}

// The row-qualified references of a trigger body, in text order: whether
// each is bound to the old row (0), the new row (1) or to none (-1).
std::vector<int32_t> RowBindings(const TBRNExprToken* root) {
  std::vector<std::pair<int32_t, int32_t>> found;
  ForEachNode(root, [&found](const TBRNExprToken* node) {
    if (node->Kind == tkRowColumnReference)
      found.emplace_back(node->Position, node->Link != nullptr ? node->Link->Variant : -1);
  });
  std::sort(found.begin(), found.end());
  std::vector<int32_t> bindings;
  for (const auto& entry : found) bindings.push_back(entry.second);
  return bindings;
}

TEST(CatalogExpr, TriggerRowsBindAsTheEventAllows) {
  CatalogFixture f;
  AddColumn(*f.AddTable("Orders")->Columns, "ID", dtInteger);
  struct Case {
    const char* Event;
    const char* Row;
    int32_t Binding;  // 0 old row, 1 new row, -1 refused (no such row)
  };
  const Case cases[] = {
      {"BEFORE INSERT", "NewRow", 1}, {"BEFORE INSERT", "OldRow", -1},
      {"AFTER DELETE", "OldRow", 0},  {"AFTER DELETE", "newrow", -1},
      {"AFTER UPDATE", "OldRow", 0},  {"AFTER UPDATE", "NewRow", 1},
  };
  for (const Case& c : cases) {
    TBRNCatalogObject owner(f.Catalog.get());
    TBRNCatalogStatement statement(&owner);
    statement.SetCatalog(f.Catalog.get());
    statement.SetText(std::string("CREATE TRIGGER Audit ") + c.Event +
                      " ON Orders\nBEGIN\n  DECLARE v INTEGER;\n  SET v = " + c.Row +
                      ".ID + 1;\nEND");
    const std::string what = std::string(c.Event) + " " + c.Row;
    if (c.Binding < 0) {
      const EBRNException error = CaughtError([&] { statement.Compile(); });
      EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode) << what;
      EXPECT_EQ(error.ErrorLine, 4) << what;
      continue;
    }
    statement.Compile();
    std::string table;
    statement.GetContextTableName(nullptr, table);
    EXPECT_EQ(table, "Orders");
    EXPECT_EQ(RowBindings(statement.Root), std::vector<int32_t>{c.Binding}) << what;
  }
}

TEST(CatalogExpr, OldRoutineTextsParseInTheOldSyntax) {
  struct OldRoutine : TBRNProcedureRoutine {
    using TBRNProcedureRoutine::TBRNProcedureRoutine;
    int64_t Stamp = 0;
    int64_t GetVersionStamp() const override { return Stamp; }
  };
  TBRNCatalogObject owner(nullptr);
  OldRoutine routine(&owner);
  routine.Stamp = kFormatVersion203;
  EXPECT_NE(routine.GetParseFlags() & pcLiteralNames, 0u);
  routine.Stamp = kFormatVersion204;
  EXPECT_EQ(routine.GetParseFlags() & pcLiteralNames, 0u);
  routine.Stamp = 0;
  EXPECT_EQ(routine.GetParseFlags(), kProcedureRoutineFlags);
  TBRNFunctionRoutine function(&owner);
  EXPECT_EQ(function.GetParseFlags(), kFunctionRoutineFlags);
}

// A script compiles its parameters and body against the catalog; its
// errors name it "script".
TEST(CatalogExpr, ScriptRoutineCompilesAgainstTheCatalog) {
  CatalogFixture f;
  AddColumn(*f.AddTable("Orders")->Columns, "ID", dtInteger);
  TBRNCatalogObject owner(f.Catalog.get());
  owner.Name = "Session script";
  TBRNScriptRoutine script(&owner);
  script.SetCatalog(f.Catalog.get());
  EXPECT_EQ(script.GetKindName(), "script");
  EXPECT_EQ(script.GetParseFlags(), kProcedureRoutineFlags);
  script.SetText(
      "SCRIPT (IN Low INTEGER)\n"
      "BEGIN\n"
      "  DECLARE C CURSOR WITH RETURN FOR S;\n"
      "  DECLARE N INTEGER;\n"
      "  SET N = (SELECT MAX(ID) FROM Orders WHERE ID > Low);\n"
      "END");
  script.Compile();
  ASSERT_NE(script.Root, nullptr);
  EXPECT_EQ(script.Root->Kind, tkScript);

  TBRNScriptRoutine broken(&owner);
  broken.SetCatalog(f.Catalog.get());
  broken.SetText("SCRIPT () BEGIN SET N = (SELECT Missing FROM Orders); END");
  const EBRNException error = CaughtError([&] { broken.Compile(); });
  EXPECT_NE(error.ErrorMessage.find("script"), std::string::npos) << error.ErrorMessage;
  EXPECT_EQ(error.ErrorLine, 1);

  TBRNScriptRoutine procedureText(&owner);
  procedureText.SetCatalog(f.Catalog.get());
  procedureText.SetText("PROCEDURE p () BEGIN END");
  EXPECT_EQ(CaughtError([&] { procedureText.Compile(); }).ErrorCode, kSQLTextErrorCode);
}

TEST(CatalogExpr, ReplaceRoutineNameKeepsQuotingAndTheRest) {
  struct Case {
    const char* Text;
    const char* NewName;
    const char* Expected;
  };
  const Case cases[] = {
      {"PROCEDURE \"Old Name\" (IN A INTEGER)\r\nBEGIN END", "New \"One\"",
       "PROCEDURE \"New \"\"One\"\"\"  (IN A INTEGER)\r\nBEGIN END"},
      {"FUNCTION Old() RETURNS INTEGER BEGIN RETURN 1; END", "Fresh",
       "FUNCTION Fresh () RETURNS INTEGER BEGIN RETURN 1; END"},
  };
  TBRNCatalog catalog(nullptr);
  for (const Case& c : cases) {
    TBRNCatalogObject owner(&catalog);
    TBRNCatalogRoutine routine(&owner);
    routine.SetText(c.Text);
    routine.ReplaceRoutineName(c.NewName);
    EXPECT_EQ(routine.SQL, c.Expected);
  }
}

}  // namespace
}  // namespace brn
