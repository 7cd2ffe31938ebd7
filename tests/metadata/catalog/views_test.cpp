#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/catalog_test_support.h"
#include "metadata/table_test_support.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;

struct Views : ::testing::Test, CatalogFixture {
  Views() { Orders = AddBaseTable("Orders", 1); }

  TBRNBaseTable* Orders;

  // A stored table of the Default schema: the row ID, ID, Customer, Amount.
  TBRNBaseTable* AddBaseTable(const std::string& name, int32_t lockNumber) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = name;
    table->LockNumber = lockNumber;
    table->AddRowIDColumn();
    AddColumn(*table->Columns, "ID", dtInteger);
    AddColumn(*table->Columns, "Customer", dtChar, 30);
    AddColumn(*table->Columns, "Amount", dtInteger);
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
  // A view or derived table added to list (the Default schema's views or
  // derived tables).
  TBRNView* AddView(TBRNConfigObjects& list, const std::string& name, const std::string& query) {
    auto view = std::make_unique<TBRNView>(Catalog.get());
    view->Name = name;
    view->Transient = &list == Catalog->DefaultSchema->TemporaryViews.get();
    view->Definition->SetText(query);
    list.AddObject(view.get());
    return view.release();
  }

  // Views of these tests count as stored ones (changes mark the catalog
  // modified) without being members of a schema.
  TBRNReferenceList<TBRNCatalogObjects> Stored{Catalog.get()};

  std::unique_ptr<TBRNView> NewView(const std::string& name, const std::string& query) {
    auto view = std::make_unique<TBRNView>(Catalog.get());
    view->Owner = &Stored;
    view->Name = name;
    view->Definition->SetText(query);
    return view;
  }

  static std::vector<std::string> ColumnNames(TBRNView& view) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < view.Columns->Count(); ++i)
      names.push_back(view.Columns->GetItem(i)->Name);
    return names;
  }
};

TEST_F(Views, GroupingMakesViewNonUpdateableWithoutMarkingCatalogModified) {
  auto view = NewView("Big", "SELECT ID, Customer FROM Orders WHERE Amount > 10");
  Catalog->Modified = false;
  view->Compile();
  EXPECT_TRUE(view->Updateable);
  EXPECT_EQ(ColumnNames(*view), (std::vector<std::string>{"__RowID", "ID", "Customer"}));
  EXPECT_TRUE(view->Columns->GetItem(0)->Internal);
  EXPECT_EQ(view->Columns->GetItem(2)->DataType, dtChar);
  EXPECT_EQ(view->Columns->GetItem(2)->Length, 30);
  EXPECT_FALSE(Catalog->Modified);

  view->Definition->SetText("SELECT Customer, COUNT(*) AS Orders FROM Orders GROUP BY Customer");
  EXPECT_FALSE(view->Definition->Compiled);
  EXPECT_TRUE(Catalog->Modified);  // the new text itself is a change
  Catalog->Modified = false;
  view->Compile();
  EXPECT_FALSE(view->Updateable);
  EXPECT_EQ(ColumnNames(*view), (std::vector<std::string>{"__RowID", "Customer", "Orders"}));
  EXPECT_FALSE(Catalog->Modified);
}

TEST_F(Views, QueriesThatCannotBeServedLiveAreNotUpdateable) {
  const char* queries[] = {
      "SELECT DISTINCT Customer FROM Orders",
      "SELECT Customer FROM Orders GROUP BY Customer",
      "SELECT A.ID FROM Orders A INNER JOIN Orders B ON A.ID = B.ID",
      "SELECT ID FROM Orders UNION SELECT ID FROM Orders",
  };
  for (const char* query : queries) {
    SCOPED_TRACE(query);
    auto view = NewView("V", query);
    view->SetUpdateable(true);
    view->Compile();
    EXPECT_FALSE(view->Updateable);
  }
}

TEST_F(Views, RecompilingAnUnchangedViewKeepsItsColumns) {
  auto view = NewView("Big", "SELECT ID, Amount FROM Orders");
  view->Compile();
  std::vector<TBRNColumn*> before;
  for (int32_t i = 0; i < view->Columns->Count(); ++i) before.push_back(view->Columns->GetItem(i));
  view->Uncompile();
  view->Compile();
  ASSERT_EQ(view->Columns->Count(), int32_t(before.size()));
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(view->Columns->GetItem(int32_t(i)), before[i]);
}

TEST_F(Views, MissingTableFailsTheCompileUnderTheViewsKindName) {
  auto view = NewView("Lost", "SELECT ID FROM Nowhere");
  const EBRNException error = testing::CaughtError([&] { view->Compile(); });
  EXPECT_NE(std::string(error.what()).find("Lost view"), std::string::npos) << error.what();
  EXPECT_FALSE(view->Definition->Compiled);
}

TEST_F(Views, DefinitionTexts) {
  auto view = NewView("Big \"One\"", "SELECT ID FROM Orders \r\n\t");
  EXPECT_EQ(view->GetCreateSQL(false, false),
            "CREATE VIEW \"Big \"\"One\"\"\" AS\r\nSELECT ID FROM Orders\r\nVERSION 1.00");
  EXPECT_EQ(view->GetDropSQL(false, false), "DROP VIEW \"Big \"\"One\"\"\"");

  view->SetWithCheck(true);
  view->Description = "It's big \r\n";
  view->Attributes = "a=1";
  view->Version = 20500;
  EXPECT_EQ(view->GetCreateSQL(false, false),
            "CREATE VIEW \"Big \"\"One\"\"\" AS\r\nSELECT ID FROM Orders\r\nWITH CHECK OPTION\r\n"
            "DESCRIPTION 'It''s big'\r\nVERSION 2.05\r\nATTRIBUTES 'a=1'");
}

TEST_F(Views, AlterTextListsOnlyTheChangedClauses) {
  auto old = NewView("V", "SELECT ID FROM Orders");
  old->WithCheck = true;
  auto changed = NewView("V", "SELECT ID FROM Orders");
  changed->WithCheck = false;

  old->ComputeDifference(1, changed.get(), ';');
  EXPECT_EQ(old->AlterSQL, "ALTER VIEW \"V\" AS\r\nSELECT ID FROM Orders\r\nWITHOUT CHECK OPTION");

  changed->WithCheck = true;
  old->ComputeDifference(1, changed.get(), ';');
  EXPECT_EQ(old->AlterSQL, "");

  changed->Definition->SetText("SELECT Amount FROM Orders");
  changed->Version = 10100;
  old->ComputeDifference(1, changed.get(), ';');
  EXPECT_EQ(old->AlterSQL, "ALTER VIEW \"V\" AS\r\nSELECT Amount FROM Orders\r\nVERSION 1.01");

  old->ComputeDifference(2, changed.get(), ';');
  EXPECT_EQ(old->AlterSQL, "DROP VIEW \"V\"");
}

TEST_F(Views, FlagSettersMarkModifiedOnlyOnChange) {
  auto view = NewView("V", "SELECT ID FROM Orders");
  Catalog->Modified = false;
  view->SetWithCheck(false);
  view->SetUpdateable(false);
  EXPECT_FALSE(Catalog->Modified);
  view->SetWithCheck(true);
  EXPECT_TRUE(Catalog->Modified);
  Catalog->Modified = false;
  view->SetUpdateable(true);
  EXPECT_TRUE(Catalog->Modified);
}

TEST_F(Views, StoredRecordRoundTripsAndRefusesTruncation) {
  auto view = NewView("V", "SELECT ID, Amount FROM Orders");
  view->Compile();
  view->WithCheck = true;
  TBRNMemoryStream stream;
  view->SaveToStream(stream, false);

  auto loaded = std::make_unique<TBRNView>(Catalog.get());
  loaded->Owner = &Stored;
  Catalog->Modified = false;
  stream.SetPosition(0);
  loaded->LoadFromStream(stream);
  EXPECT_FALSE(Catalog->Modified);
  EXPECT_EQ(loaded->Definition->SQL, "SELECT ID, Amount FROM Orders");
  EXPECT_TRUE(loaded->WithCheck);
  EXPECT_TRUE(loaded->Updateable);
  EXPECT_EQ(ColumnNames(*loaded), ColumnNames(*view));
  EXPECT_TRUE(loaded->IsEqual(view.get(), true));

  const std::string bytes(reinterpret_cast<const char*>(stream.GetMemory()),
                          size_t(stream.GetSize()));
  for (size_t cut : {bytes.size() - 1, bytes.size() - 2, bytes.size() - 5}) {
    SCOPED_TRACE(cut);
    TBRNMemoryStream shortStream;
    shortStream.Write(bytes.data(), int32_t(cut));
    shortStream.SetPosition(0);
    auto broken = std::make_unique<TBRNView>(Catalog.get());
    EXPECT_EQ(testing::CaughtError([&] { broken->LoadFromStream(shortStream); }).ErrorCode, 100);
  }
}

TEST_F(Views, KindWordOfViewsAndDerivedTables) {
  auto view = NewView("V", "SELECT ID FROM Orders");
  EXPECT_EQ(view->GetObjectTypeName(), "view");
  view->Transient = true;
  EXPECT_EQ(view->GetObjectTypeName(), "derived table");
}

TEST_F(Views, TablesViewsAndDerivedTablesShareOneNamespace) {
  TBRNSchema* schema = Catalog->DefaultSchema;
  AddView(*schema->Views, "Big", "SELECT ID FROM Orders");
  struct Case {
    const char* what;
    TBRNConfigObjects* list;
    std::string name;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"view named as a table", schema->Views.get(), "ORDERS",
       "The table Orders already exists in the schema Default"},
      {"table named as a view", schema->BaseTables.get(), "big",
       "The view Big already exists in the schema Default"},
      // A derived table's clash names no parent.
      {"derived table named as a table", schema->TemporaryViews.get(), "Orders",
       "The table Orders already exists"},
      {"derived table named as a view", schema->TemporaryViews.get(), "BIG",
       "The view Big already exists"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TBRNConfigObject> object;
    if (c.list == schema->BaseTables.get()) {
      object = std::make_unique<TBRNBaseTable>(Catalog.get());
    } else {
      object = std::make_unique<TBRNView>(Catalog.get());
    }
    object->Name = c.name;
    const EBRNException error = testing::CaughtError([&] { c.list->AddObject(object.get()); });
    EXPECT_EQ(error.ErrorCode, 400);
    EXPECT_EQ(error.ErrorMessage, c.message);
  }
  EXPECT_EQ(schema->AllTables->Count(), 2);

  // A derived table is no change of the catalog and never stored; a view
  // then refuses its name too.
  const std::vector<uint8_t> before = testing::RecordOf(*schema);
  Catalog->Modified = false;
  TBRNView* derived = AddView(*schema->TemporaryViews, "T1", "SELECT ID FROM Orders");
  EXPECT_FALSE(Catalog->Modified);
  EXPECT_EQ(derived->GetObjectTypeName(), "derived table");
  EXPECT_EQ(testing::RecordOf(*schema), before);
  auto view = std::make_unique<TBRNView>(Catalog.get());
  view->Name = "t1";
  EXPECT_EQ(testing::CaughtError([&] { schema->Views->AddObject(view.get()); }).ErrorMessage,
            "The derived table T1 already exists in the schema Default");
}

TEST_F(Views, RenamesRewriteTheQueryOfTheViewsThatUseTheObject) {
  TBRNSchema* schema = Catalog->DefaultSchema;
  auto bonus = std::make_unique<TBRNFunction>(Catalog.get());
  bonus->Name = "Bonus";
  bonus->Definition->SetText("FUNCTION Bonus() RETURNS INTEGER BEGIN RETURN 10; END");
  TBRNFunction* function = bonus.get();
  schema->Functions->AddObject(bonus.release());
  function->Compile();
  function->DefineResult(function->Definition->Root);
  TBRNBaseTable* other = AddBaseTable("Other", 2);

  TBRNView* view =
      AddView(*schema->Views, "Big", "SELECT Orders.ID, Amount FROM Orders WHERE Amount > Bonus()");
  TBRNView* unrelated = AddView(*schema->Views, "Rest", "SELECT ID FROM Other");
  view->Compile();
  ASSERT_EQ(view->ReferencedTables->Count(), 1);
  EXPECT_EQ(view->ReferencedTables->GetItem(0), Orders);
  ASSERT_EQ(view->ReferencedFunctions->Count(), 1);
  EXPECT_EQ(view->ReferencedFunctions->GetItem(0), function);

  // The views that name an object are its referrers.
  EXPECT_TRUE(Orders->IsReferencedBy(view));
  EXPECT_FALSE(Orders->IsReferencedBy(unrelated));
  EXPECT_TRUE(other->IsReferencedBy(unrelated));
  EXPECT_TRUE(function->IsReferencedBy(view));

  Catalog->Modified = false;
  schema->Views->ReplaceReferencedName(Orders, "Sales");
  EXPECT_EQ(view->Definition->SQL, "SELECT Sales.ID, Amount FROM Sales WHERE Amount > Bonus()");
  EXPECT_EQ(unrelated->Definition->SQL, "SELECT ID FROM Other");
  EXPECT_TRUE(Catalog->Modified);
  Orders->Name = "Sales";

  schema->Views->ReplaceReferencedName(function, "Extra");
  EXPECT_EQ(view->Definition->SQL, "SELECT Sales.ID, Amount FROM Sales WHERE Amount > Extra()");
  function->Name = "Extra";
  function->Definition->ReplaceRoutineName("Extra");
  // The rewritten text compiles against the renamed objects, and the view's
  // columns still lead to their base columns.
  EXPECT_NO_THROW(view->Compile());
  EXPECT_EQ(view->ReferencedTables->GetItem(0), Orders);
  ASSERT_TRUE(view->Updateable);
  EXPECT_EQ(view->Columns->GetItem(2)->ResolveOrigin(), Orders->Columns->GetItem(3));

  // Uncompiling forgets the dependencies.
  view->Uncompile();
  EXPECT_EQ(view->ReferencedTables->Count(), 0);
  EXPECT_EQ(view->ReferencedFunctions->Count(), 0);
}

TEST_F(Views, StoredViewsLoadWithTheirCatalog) {
  TBRNSchema* schema = Catalog->DefaultSchema;
  TBRNView* view = AddView(*schema->Views, "Big", "SELECT ID, Amount FROM Orders");
  view->Compile();
  view->SetWithCheck(true);
  const std::vector<uint8_t> bytes = testing::RecordOf(*Catalog);

  TBRNCatalog loaded(&Config);
  testing::LoadRecord(loaded, bytes);
  EXPECT_TRUE(loaded.IsEqual(Catalog.get(), true));
  TBRNSchema* loadedSchema = loaded.DefaultSchema;
  ASSERT_EQ(loadedSchema->Views->Count(), 1);
  TBRNView* loadedView = loadedSchema->Views->GetView(0);
  EXPECT_EQ(loadedView->Definition->SQL, "SELECT ID, Amount FROM Orders");
  EXPECT_TRUE(loadedView->WithCheck);
  EXPECT_EQ(ColumnNames(*loadedView), ColumnNames(*view));
  // The list of all tables and views follows the load: tables, then views.
  ASSERT_EQ(loadedSchema->AllTables->Count(), 2);
  EXPECT_EQ(loadedSchema->AllTables->GetItem(1), loadedView);
  EXPECT_NO_THROW(loadedView->Compile());
}

TEST_F(Views, ResultViewsKeepTheirColumnsWhenCompiledAgain) {
  const char* queries[] = {
      "SELECT Customer, COUNT(*) AS N, SUM(Amount) AS S FROM Orders GROUP BY Customer",
      "SELECT ID FROM Orders ORDER BY Amount",
      "SELECT T.ID FROM (SELECT ID, Amount FROM Orders) T GROUP BY T.ID",
      "SELECT DISTINCT Customer, CAST(Amount AS VARCHAR(10)) AS A FROM Orders",
  };
  for (const char* query : queries) {
    SCOPED_TRACE(query);
    auto view = NewView("V", query);
    view->Compile();
    EXPECT_FALSE(view->Updateable);
    std::vector<TBRNColumn*> before;
    for (int32_t i = 0; i < view->Columns->Count(); ++i)
      before.push_back(view->Columns->GetItem(i));
    view->Uncompile();
    view->Compile();
    ASSERT_EQ(view->Columns->Count(), int32_t(before.size()));
    for (size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(view->Columns->GetItem(int32_t(i)), before[i]);
  }
  EXPECT_EQ(Catalog->DefaultSchema->TemporaryViews->Count(), 0);
}

TEST_F(Views, DerivedTablesOfAStoredViewLiveWithItsCompiledQuery) {
  TBRNSchema* schema = Catalog->DefaultSchema;
  TBRNView* view = AddView(*schema->Views, "Big",
                           "SELECT T.ID, T.Amount FROM (SELECT ID, Amount FROM Orders) T");
  view->Compile();
  EXPECT_EQ(schema->TemporaryViews->Count(), 1);
  EXPECT_TRUE(Orders->IsReferencedBy(view));
  TBRNView* top = AddView(*schema->Views, "Top", "SELECT ID FROM Big");
  top->Compile();

  // A copy of the compiled view shares nothing that it would free.
  auto copy = std::make_unique<TBRNView>(Catalog.get());
  copy->Assign(view, true);
  view->Uncompile();
  EXPECT_EQ(schema->TemporaryViews->Count(), 0);
  copy.reset();
  view->Compile();
  EXPECT_EQ(schema->TemporaryViews->Count(), 1);
}

TEST_F(Views, ColumnsOverADerivedTableLeadToItsSource) {
  // The derived tables' generated names depend on what else is compiled at
  // the time; the view's columns must not.
  TBRNSchema* schema = Catalog->DefaultSchema;
  TBRNView* first =
      AddView(*schema->Views, "First", "SELECT T.ID AS A FROM (SELECT ID FROM Orders) T");
  TBRNView* second = AddView(*schema->Views, "Second",
                             "SELECT T.Customer AS B FROM (SELECT Customer FROM Orders) T");
  first->Compile();
  second->Compile();
  ASSERT_TRUE(second->Updateable);
  first->Uncompile();
  second->Uncompile();
  second->Compile();
  EXPECT_EQ(second->Columns->GetItem(1)->ResolveOrigin(), Orders->Columns->GetItem(2));
  TBRNCatalogQuery query(&Stored);
  query.SetCatalog(Catalog.get());
  query.SetText("SELECT B FROM Second");
  EXPECT_NO_THROW(query.Compile());
}

}  // namespace
}  // namespace brn
