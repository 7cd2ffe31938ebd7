#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../foundation/test_support.h"
#include "catalog_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/text/exception.h"
#include "metadata/columns.h"
#include "metadata/views.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;

struct Views : ::testing::Test, CatalogFixture {
  Views() {
    auto* orders = AddTable("Orders", 1);
    AddColumn(*orders->Columns, "ID", dtInteger);
    AddColumn(*orders->Columns, "Customer", dtChar, 30);
    AddColumn(*orders->Columns, "Amount", dtInteger);
  }

  // Views of these tests count as stored ones (changes mark the catalog
  // modified) without being members of a schema.
  TBRNCatalogObjects Stored{Catalog.get(), false};

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

}  // namespace
}  // namespace brn
