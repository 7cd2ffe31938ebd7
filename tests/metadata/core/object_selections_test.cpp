#include "metadata/core/object_selections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "metadata/object_test_support.h"

namespace brn {
namespace {

using testing::NamesOf;
using testing::TestRoot;
using testing::TestSelection;
using testing::TestTable;
using testing::TestTables;

TEST(SelectionOrder, EachObjectFollowsTheObjectsItReferences) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* view = tables.Add("View");  // lowest ID, depends on both others
  TestTable* orders = tables.Add("Orders");
  TestTable* customers = tables.Add("Customers");
  TestTable* hidden = tables.Add("Hidden");
  hidden->Internal = true;
  view->RefIDs = {orders->ID, customers->ID};
  orders->RefIDs = {customers->ID};

  TestSelection selection(&root, &tables);
  selection.SortByDependencies();
  EXPECT_TRUE(selection.Sorted);
  EXPECT_EQ(NamesOf(selection), (std::vector<std::string>{"Customers", "Orders", "View"}));
  EXPECT_EQ(customers->CreationOrder, 1);
  EXPECT_EQ(view->CreationOrder, 3);
}

TEST(SelectionOrder, MutualReferencesAreNumberedInIDOrder) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* a = tables.Add("A");
  TestTable* b = tables.Add("B");
  TestTable* c = tables.Add("C");  // depends on nobody
  a->RefIDs = {b->ID};
  b->RefIDs = {a->ID};
  (void)c;

  TestSelection selection(&root, &tables);
  selection.SortByDependencies();
  EXPECT_EQ(NamesOf(selection), (std::vector<std::string>{"C", "A", "B"}));
  EXPECT_EQ(a->CreationOrder, 2);
  EXPECT_EQ(b->CreationOrder, 3);
}

TEST(SelectionOrder, SortsAreStrictWeakOrderingsWithTiesByID) {
  TestRoot root;
  TestTables tables(&root);
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < 64; ++i) ids.push_back(1000 + i);
  std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
  TBRNSelectedConfigObjects selection(&root);
  for (int32_t i = 0; i < 64; ++i) {
    TestTable* table = tables.Add("T" + std::to_string(i));
    table->ID = ids[size_t(i)];
    table->CreationOrder = i % 3;  // many ties
    selection.AddObject(table);
  }
  selection.SortByCreationOrder();
  for (int32_t i = 1; i < selection.Count(); ++i) {
    const TBRNConfigObject* prev = selection.GetItem(i - 1);
    const TBRNConfigObject* cur = selection.GetItem(i);
    ASSERT_TRUE(prev->CreationOrder < cur->CreationOrder ||
                (prev->CreationOrder == cur->CreationOrder && prev->ID < cur->ID));
  }
  // Duplicate references collapse after sorting by ID.
  selection.AddObject(selection.GetItem(5));
  selection.AddObject(selection.GetItem(9));
  selection.SortByID();
  selection.RemoveDuplicateIDs();
  EXPECT_EQ(selection.Count(), 64);
}

// Old: A, B. New: B with another description, C, and B now depends on C.
TEST(SelectionDifference, AlterCreateInNewOrderThenDrops) {
  TestRoot root;
  TestTables oldTables(&root), newTables(&root);
  oldTables.Add("A");
  oldTables.Add("B");
  TestTable* newB = newTables.Add("b");
  TestTable* newC = newTables.Add("C");
  newB->Description = "changed";
  newB->RefIDs = {newC->ID};

  TestSelection oldSelection(&root, &oldTables), newSelection(&root, &newTables);
  TBRNConfigObjectsDifference difference(&root);
  difference.CompareSelections(&oldSelection, &newSelection, '!');

  std::vector<std::string> entries;
  for (int32_t i = 0; i < difference.Count(); ++i) {
    entries.push_back(difference.GetItem(i)->GetAlterSQL());
  }
  EXPECT_EQ(entries,
            (std::vector<std::string>{"CREATE TABLE \"C\"", "ALTER TABLE \"B\"!COMMENT 'changed'",
                                      "DROP TABLE \"A\""}));
  // The create entry is a clone owned by the difference, not the new object.
  EXPECT_NE(difference.GetItem(0), newC);
  EXPECT_EQ(difference.Clones->Count(), 1);
  EXPECT_EQ(difference.GetItem(1), oldTables.GetItem(1));

  // A second run frees the first run's clones; equal objects give no entry.
  newB->Description = "";
  difference.CompareSelections(&oldSelection, &newSelection, '!');
  EXPECT_EQ(difference.Count(), 2);
  EXPECT_EQ(difference.Clones->Count(), 1);
}

TEST(SelectionReferences, AReferenceListReportsItsOwnerAndFollowsNewIDs) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* used = tables.Add("Used");
  TestTable* view = tables.Add("View");
  TBRNSelectedConfigObjects uses(&root);
  uses.Owner = view;
  uses.AddObject(used);

  TestTable* other = tables.Add("Other");
  uses.RegisterReferenceTo(used);
  uses.RegisterReferenceTo(other);
  ASSERT_EQ(used->GetReferrers()->Count(), 1);
  EXPECT_EQ(used->GetReferrers()->GetItem(0), view);
  EXPECT_FALSE(other->HasReferrers());

  uses.ReplaceReferencedID(used, 500);
  EXPECT_EQ(used->ID, 500);
}

}  // namespace
}  // namespace brn
