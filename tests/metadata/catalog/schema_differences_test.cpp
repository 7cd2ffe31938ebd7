// Schema comparison: the selection of a schema's stored objects and the
// order of the statements that turn one schema into another.

#include "metadata/catalog/schema_differences.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/catalog_test_support.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;

// Two catalogs of one configuration: the current schema and the target.
struct SchemaDifferences : ::testing::Test, CatalogFixture {
  SchemaDifferences() : Target(std::make_unique<TBRNCatalog>(&Config)) {
    Target->SetVersion(kNewestFormatVersion);
  }
  ~SchemaDifferences() override {
    // The difference points at objects of both catalogs.
    Catalog->DefaultSchema->SchemaDifference->Clear();
  }

  std::unique_ptr<TBRNCatalog> Target;

  static TBRNBaseTable* Table(TBRNCatalog& catalog, const std::string& name) {
    auto table = std::make_unique<TBRNBaseTable>(&catalog);
    table->Name = name;
    table->AddRowIDColumn();
    AddColumn(*table->Columns, "ID", dtInteger);
    AddColumn(*table->Columns, "Label", dtChar, 20);
    catalog.DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
  static TBRNView* View(TBRNCatalog& catalog, const std::string& name, const std::string& query) {
    auto view = std::make_unique<TBRNView>(&catalog);
    view->Name = name;
    view->Definition->SetText(query);
    catalog.DefaultSchema->Views->AddObject(view.get());
    return view.release();
  }
  template <typename T>
  static T* Routine(TBRNCatalog& catalog, TBRNConfigObjects& list, const std::string& name,
                    const std::string& text) {
    auto routine = std::make_unique<T>(&catalog);
    routine->Name = name;
    routine->Definition->SetText(text);
    list.AddObject(routine.get());
    return routine.release();
  }
  // A function with its parameters and result taken from its text.
  static TBRNFunction* Function(TBRNCatalog& catalog, const std::string& name,
                                const std::string& text) {
    auto* function = Routine<TBRNFunction>(catalog, *catalog.DefaultSchema->Functions, name, text);
    function->Compile();
    function->DefineParams(function->Definition->Root);
    function->DefineResult(function->Definition->Root);
    return function;
  }
  static TBRNProcedure* Procedure(TBRNCatalog& catalog, const std::string& name,
                                  const std::string& text) {
    return Routine<TBRNProcedure>(catalog, *catalog.DefaultSchema->Procedures, name, text);
  }

  // The first line of each entry of comparing the current schema with
  // target's.
  std::vector<std::string> Compare(TBRNCatalog& target) {
    TBRNSchema* current = Catalog->DefaultSchema;
    current->SchemaObjects->Clear();
    target.DefaultSchema->SchemaObjects->Clear();
    current->SchemaDifference->CompareSelections(current->SchemaObjects.get(),
                                                 target.DefaultSchema->SchemaObjects.get(), ';');
    std::vector<std::string> lines;
    for (int32_t i = 0; i < current->SchemaDifference->Count(); ++i) {
      const std::string text = current->SchemaDifference->GetItem(i)->GetAlterSQL();
      lines.push_back(text.substr(0, text.find("\r\n")));
    }
    return lines;
  }
};

TEST_F(SchemaDifferences, CreatesFollowTheTargetsDependenciesAndDropsComeInReverse) {
  // Current: a view created before the table it reads (lower ID), a kept
  // table and a function whose body changes.
  Table(*Catalog, "Kept");
  View(*Catalog, "OldView", "SELECT ID FROM OldTable");
  Table(*Catalog, "OldTable");
  Function(*Catalog, "Answer", "FUNCTION Answer() RETURNS INTEGER BEGIN RETURN 41; END");

  // Target: again a view before its table, a view over a view, the changed
  // function and a new procedure.
  Table(*Target, "Kept");
  View(*Target, "Top", "SELECT ID FROM NewView");
  View(*Target, "NewView", "SELECT ID, Label FROM NewTable WHERE ID > Answer()");
  Table(*Target, "NewTable");
  Function(*Target, "Answer", "FUNCTION Answer() RETURNS INTEGER BEGIN RETURN 42; END");
  Procedure(*Target, "Touch", "PROCEDURE Touch() BEGIN END");

  EXPECT_EQ(Compare(*Target), (std::vector<std::string>{
                                  "CREATE TABLE \"NewTable\"",
                                  "ALTER FUNCTION Answer() RETURNS INTEGER BEGIN RETURN 42; END",
                                  "CREATE PROCEDURE Touch() BEGIN END",
                                  "CREATE VIEW \"NewView\" AS",
                                  "CREATE VIEW \"Top\" AS",
                                  "DROP VIEW \"OldView\"",
                                  "DROP TABLE \"OldTable\"",
                              }));
  // The CREATE entries are copies owned by the difference, made in the
  // target's lists without joining them.
  TBRNSchemaDifference* difference = Catalog->DefaultSchema->SchemaDifference.get();
  EXPECT_EQ(difference->Clones->Count(), 4);
  auto* createdView = dynamic_cast<TBRNView*>(difference->GetItem(3));
  ASSERT_NE(createdView, nullptr);
  EXPECT_EQ(createdView->Owner, Target->DefaultSchema->Views.get());
  EXPECT_EQ(Target->DefaultSchema->Views->Count(), 2);
  EXPECT_EQ(createdView->GetCreateSQL(false, false),
            "CREATE VIEW \"NewView\" AS\r\nSELECT ID, Label FROM NewTable WHERE ID > "
            "Answer()\r\nVERSION 1.00");
}

TEST_F(SchemaDifferences, IdenticalSchemasAndInternalObjectsGiveNoEntries) {
  Table(*Catalog, "T");
  View(*Catalog, "V", "SELECT ID FROM T");
  Function(*Catalog, "F", "FUNCTION F(N INTEGER) RETURNS INTEGER BEGIN RETURN N; END");
  TBRNCatalog copy(&Config);
  copy.Assign(Catalog.get(), false);
  EXPECT_EQ(Compare(copy), std::vector<std::string>{});

  // An Internal table is no part of a schema's objects.
  Table(copy, "Hidden")->Internal = true;
  copy.DefaultSchema->SchemaObjects->SortByDependencies();
  EXPECT_EQ(copy.DefaultSchema->SchemaObjects->Count(), 3);
  EXPECT_EQ(Compare(copy), std::vector<std::string>{});

  // ResetLinks empties the selection; it is filled again on demand.
  copy.DefaultSchema->ResetLinks();
  EXPECT_EQ(copy.DefaultSchema->SchemaObjects->Count(), 0);
}

TEST_F(SchemaDifferences, RoutinesAndViewsFollowWhatTheyCallOrRead) {
  // Current: a procedure calling a function made after it, and a view that
  // was altered to read a view made after it.
  Table(*Catalog, "T");
  Procedure(*Catalog, "P", "PROCEDURE P() BEGIN DECLARE X INTEGER; SET X = F(); END");
  Function(*Catalog, "F", "FUNCTION F() RETURNS INTEGER BEGIN RETURN 1; END");
  TBRNView* top = View(*Catalog, "Top", "SELECT ID FROM T");
  top->Compile();
  View(*Catalog, "Low", "SELECT ID FROM T")->Compile();
  top->Definition->SetText("SELECT ID FROM Low");
  top->Compile();

  // Target: each caller made before the routine it calls.
  Table(*Target, "T");
  Procedure(*Target, "P2", "PROCEDURE P2() BEGIN CALL Q(); END");
  Procedure(*Target, "Q", "PROCEDURE Q() BEGIN END");
  Routine<TBRNFunction>(*Target, *Target->DefaultSchema->Functions, "G",
                        "FUNCTION G() RETURNS INTEGER BEGIN RETURN H(); END");
  Function(*Target, "H", "FUNCTION H() RETURNS INTEGER BEGIN RETURN 2; END");

  EXPECT_EQ(Compare(*Target), (std::vector<std::string>{
                                  "CREATE PROCEDURE Q() BEGIN END",
                                  "CREATE FUNCTION H() RETURNS INTEGER BEGIN RETURN 2; END",
                                  "CREATE PROCEDURE P2() BEGIN CALL Q(); END",
                                  "CREATE FUNCTION G() RETURNS INTEGER BEGIN RETURN H(); END",
                                  "DROP VIEW \"Top\"",
                                  "DROP PROCEDURE \"P\"",
                                  "DROP VIEW \"Low\"",
                                  "DROP FUNCTION \"F\"",
                              }));
}

TEST_F(SchemaDifferences, CreateEntriesGoWithTheTargetSchema) {
  Table(*Catalog, "Gone");
  Table(*Target, "NewTable");
  View(*Target, "NewView", "SELECT ID, Label FROM NewTable");
  Function(*Target, "Answer", "FUNCTION Answer() RETURNS INTEGER BEGIN RETURN 42; END");

  // A difference freed before the target it was made from.
  {
    TBRNCatalog other(&Config);
    TBRNSchema* schema = other.DefaultSchema;
    schema->SchemaDifference->CompareSelections(schema->SchemaObjects.get(),
                                                Target->DefaultSchema->SchemaObjects.get(), ';');
    EXPECT_EQ(schema->SchemaDifference->Count(), 3);
  }

  // The CREATE entries are objects of the target's catalog: when it goes,
  // the comparison with it goes first.
  EXPECT_EQ(Compare(*Target).size(), 4u);
  Target.reset();
  TBRNSchemaDifference* difference = Catalog->DefaultSchema->SchemaDifference.get();
  EXPECT_EQ(difference->Count(), 0);
  EXPECT_EQ(difference->Clones->Count(), 0);
}

}  // namespace
}  // namespace brn
