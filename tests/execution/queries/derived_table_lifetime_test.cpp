// A derived table outliving the statement that made it: another statement
// reads it by its generated name while the first is freed. The table is kept
// with the subquery its query took out of the freed tree; it goes once
// nothing reads it any more, or with the database. Run under the address
// sanitizer, a kept table reading the freed tree shows as a use after free.
#include <string>
#include <vector>

#include "execution/queries/query_test_support.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/views.h"

namespace brn::testing {
namespace {

using LifetimeRows = std::vector<std::vector<std::string>>;

struct DerivedLifetimeTest : QueryTest {
  DerivedLifetimeTest() {
    CreateTable("Parts", {{"ID", dtInteger}, {"Qty", dtInteger}});
    Insert("Parts",
           {{int64_t(1), int64_t(10)}, {int64_t(2), int64_t(20)}, {int64_t(3), int64_t(30)}});
  }

  TBRNTemporaryViews& DerivedTables() const {
    return *Shop->Catalog->DefaultSchema->TemporaryViews;
  }
  // The generated name of the only derived table.
  std::string DerivedName() const {
    EXPECT_EQ(DerivedTables().Count(), 1);
    return DerivedTables().Count() > 0 ? DerivedTables().GetView(0)->Name : std::string();
  }
  static LifetimeRows Run(TBRNLocalStatementManager* statement) {
    TBRNCursor* cursor = statement->ExecuteStatement();
    return cursor != nullptr ? CursorRows(*cursor) : LifetimeRows{};
  }
  // The statement that makes the derived table, executed once, and one that
  // reads that table by its name (its cursor on the table, opened when it is
  // prepared, holds the table's manager while it lives).
  void PrepareBoth(const std::string& sql) {
    Maker = Prepare(sql);
    Run(Maker);
    Reader = Prepare("SELECT ID, Qty FROM \"" + DerivedName() + "\" ORDER BY ID");
  }

  TBRNLocalStatementManager* Maker = nullptr;
  TBRNLocalStatementManager* Reader = nullptr;
};

struct DerivedShape {
  const char* Name;
  const char* Sql;
};

// A live result on the source table and a materialised one.
const DerivedShape kDerivedShapes[] = {
    {"live", "SELECT D.ID FROM (SELECT ID, Qty FROM Parts WHERE Qty > 15) AS D"},
    {"materialised",
     "SELECT D.ID FROM (SELECT ID, Qty FROM Parts WHERE Qty > 15 "
     "UNION ALL SELECT ID + 100, Qty FROM Parts WHERE ID = 1) AS D"},
};

TEST_F(DerivedLifetimeTest, ATableInUseIsKeptWithItsQueryAndGoesOnceUnused) {
  for (const DerivedShape& shape : kDerivedShapes) {
    SCOPED_TRACE(shape.Name);
    PrepareBoth(shape.Sql);
    const bool live = std::string(shape.Name) == "live";
    LifetimeRows before{{"2", "20"}, {"3", "30"}};
    if (!live) before.push_back({"101", "10"});
    EXPECT_EQ(Run(Reader), before);

    Free(Maker);
    ASSERT_EQ(DerivedTables().Count(), 1) << "the reader's cursor keeps the table";
    // The kept table runs its query again over its sources' changes.
    Insert("Parts", {{int64_t(4), int64_t(40)}});
    LifetimeRows after{{"2", "20"}, {"3", "30"}, {"4", "40"}};
    if (!live) after.push_back({"101", "10"});
    EXPECT_EQ(Run(Reader), after);

    Free(Reader);
    // Unused now, it goes at the next release of a derived table.
    EXPECT_EQ(Query("SELECT X.ID FROM (SELECT ID FROM Parts WHERE ID = 1) AS X"),
              (LifetimeRows{{"1"}}));
    EXPECT_EQ(DerivedTables().Count(), 0);
    Query("DELETE FROM Parts WHERE ID = 4");
  }
}

TEST_F(DerivedLifetimeTest, ATableNoLongerReadGoesWithItsStatement) {
  for (const DerivedShape& shape : kDerivedShapes) {
    SCOPED_TRACE(shape.Name);
    PrepareBoth(shape.Sql);
    Run(Reader);
    Free(Reader);
    ASSERT_EQ(DerivedTables().Count(), 1);
    Free(Maker);
    EXPECT_EQ(DerivedTables().Count(), 0);
  }
}

// The database's close frees the handles first, then the managers and the
// tables still kept, in whatever order the statements were made.
TEST_F(DerivedLifetimeTest, TheDatabaseCloseDropsKeptTables) {
  struct Case {
    const char* Name;
    bool FreeMakerFirst;
  };
  const Case cases[] = {{"maker freed before the close", true}, {"both freed by the close", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    PrepareBoth(kDerivedShapes[1].Sql);
    Run(Reader);
    if (c.FreeMakerFirst) {
      Free(Maker);
      ASSERT_EQ(DerivedTables().Count(), 1);
    }
    // The cursors on the derived table hold the database open as well.
    EXPECT_NO_THROW(Shop->CloseDatabase(true));
    Shop->OpenDatabase(kBRNLockShared);
    EXPECT_EQ(DerivedTables().Count(), 0);
    EXPECT_EQ(Query(kDerivedShapes[1].Sql), (LifetimeRows{{"2"}, {"3"}, {"101"}}));
  }
}

// A kept table whose query read a parameter of the freed statement no longer
// reaches it: its next execution raises an engine error instead of reading
// freed memory.
TEST_F(DerivedLifetimeTest, AKeptQueryLosesTheParametersOfItsStatement) {
  Maker = Prepare(
      "SELECT D.ID FROM (SELECT ID, Qty FROM Parts WHERE Qty > ? "
      "UNION ALL SELECT 0, 0 FROM Parts WHERE ID = 1) AS D");
  ASSERT_EQ(Maker->Params->GetCount(), 1);
  Maker->Params->GetItem(0)->SetAsInteger(25);
  Run(Maker);
  Reader = Prepare("SELECT ID, Qty FROM \"" + DerivedName() + "\" ORDER BY ID");
  Run(Reader);
  Free(Maker);
  Insert("Parts", {{int64_t(4), int64_t(40)}});
  try {
    Run(Reader);
    ADD_FAILURE() << "the parameter is gone";
  } catch (const EBRNException& error) {
    EXPECT_NE(error.ErrorMessage.find("The referenced value does not exist"), std::string::npos)
        << error.ErrorMessage;
  }
  Free(Reader);
}

}  // namespace
}  // namespace brn::testing
