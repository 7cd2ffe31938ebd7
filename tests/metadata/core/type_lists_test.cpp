#include "metadata/core/type_lists.h"

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "metadata/object_test_support.h"

namespace brn {
namespace {

using testing::TestOwner;
using testing::TestRoot;

TEST(TypeLists, DataTypesTakeNamesWithBlanksAndNoIDs) {
  TestRoot root;
  TestOwner config(&root, "configuration", "Config");
  TBRNDataTypes types(&root);
  types.Owner = &config;
  struct Case {
    const char* name;
    TBRNDataTypeCode type;
    TBRNDataSubType subType;
    int32_t binarySize;
  };
  const Case cases[] = {
      {"Interval Day To Second", dtDayTimeInterval, 0, 8},
      {"Integer", dtInteger, stDefault, 4},
      {"Boolean", dtBoolean, stDefault, 1},
      {"VarChar", dtChar, stDefault, 0},
  };
  for (const Case& c : cases) {
    auto* type = static_cast<TBRNDataType*>(types.NewItem());
    type->Name = c.name;
    type->DataType = c.type;
    type->DataSubType = c.subType;
    types.AddObject(type);
    EXPECT_EQ(type->ID, 0);
    EXPECT_EQ(type->GetBinarySize(), c.binarySize) << c.name;
  }
  EXPECT_EQ(types.GetItem(0)->GetObjectTypeName(), "data type");
  EXPECT_EQ(types.FindByName("interval day to second", false), types.GetItem(0));
  EXPECT_EQ(types.GetSystemTableName(), "DataTypes");
  EXPECT_EQ(TBRNODBCTypes(&root).GetSystemTableName(), "SQLTypes");

  auto* twice = static_cast<TBRNDataType*>(types.NewItem());
  twice->Name = "INTEGER";
  EXPECT_THROW(types.AddObject(twice), EBRNException);
  delete twice;
}

TEST(TypeLists, CollationsKeepTheEnvironmentsIDs) {
  TestRoot root;
  TBRNCollations collations(&root);
  auto* collation = static_cast<TBRNCollation*>(collations.NewItem());
  collation->Name = "ANSI";
  collation->SetID(1033);
  collations.AddObject(collation);
  EXPECT_EQ(collation->ID, 1033);
  EXPECT_EQ(collations.FindByID(1033, false), collation);
  EXPECT_EQ(collations.GetSystemTableName(), "Collations");
  EXPECT_EQ(collation->GetObjectTypeName(), "collation");
  // Adding does not refuse a second entry of a name: the filler checks first.
  auto* same = static_cast<TBRNCollation*>(collations.NewItem());
  same->Name = "ansi";
  collations.AddObject(same);
  EXPECT_EQ(collations.Count(), 2);
}

}  // namespace
}  // namespace brn
