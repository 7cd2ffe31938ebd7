#include "metadata/core/config_object.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "metadata/object_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::RecordBuilder;
using testing::StreamBytes;
using testing::TestOwner;
using testing::TestRoot;
using testing::TestTable;
using testing::TestTables;

// A plain object held by a collection of a named owner.
struct OwnedObject {
  TestRoot root;
  TestOwner owner{&root, "schema", "Sales"};
  TestTables tables{&root};
  TestTable* table = nullptr;
  OwnedObject() {
    tables.Owner = &owner;
    table = tables.Add("Orders");
  }
};

TEST(ConfigObjectRecord, FullRecordRoundTripsAndMatchesTheByteLayout) {
  TestRoot root;
  TBRNConfigObject written(&root);
  written.ID = 7;
  written.Name = "Bob";
  written.Description = "It's";
  written.Internal = true;
  written.ReadOnly = false;
  TBRNMemoryStream stream;
  written.SaveToStream(stream, false);
  std::vector<uint8_t> expected =
      RecordBuilder().Int(7).Str("Bob").Str("It's").Bool(true).Bool(false).Bytes();
  EXPECT_EQ(StreamBytes(stream), expected);

  TBRNConfigObject read(&root);
  stream.SetPosition(0);
  read.LoadFromStream(stream);
  EXPECT_EQ(read.ID, 7);
  EXPECT_EQ(read.Name, "Bob");
  EXPECT_EQ(read.LoadedName, "Bob");
  EXPECT_EQ(read.Description, "It's");
  EXPECT_TRUE(read.Internal);
  EXPECT_FALSE(read.ReadOnly);
  EXPECT_TRUE(read.Loaded);
  EXPECT_EQ(stream.GetRemaining(), 0);
}

TEST(ConfigObjectRecord, StructureOnlyRecordIsNameAndInternalWithItsChecksum) {
  TestRoot root;
  TBRNConfigObject a(&root), b(&root), c(&root);
  a.Name = b.Name = c.Name = "Orders";
  a.ID = 3;
  b.ID = 99;
  b.Description = "other";
  b.ReadOnly = true;
  c.Internal = true;

  TBRNMemoryStream stream;
  a.SaveToStream(stream, true);
  std::vector<uint8_t> expected = RecordBuilder().Str("Orders").Bool(false).Bytes();
  ASSERT_EQ(StreamBytes(stream), expected);

  // CRC-32 with the register starting at all ones and no final complement:
  // the complement of the standard value.
  uint32_t standard = uint32_t(crc32(0, expected.data(), uInt(expected.size())));
  EXPECT_EQ(a.GetStructureChecksum(), ~standard);
  EXPECT_EQ(a.GetStructureChecksum(), b.GetStructureChecksum());
  EXPECT_NE(a.GetStructureChecksum(), c.GetStructureChecksum());
}

TEST(ConfigObjectRecord, HostileOrTruncatedRecordsRaiseTheMetadataError) {
  struct Case {
    const char* what;
    RecordBuilder record;
    const char* detail;
    const char* name = "";  // as far as it was read
  };
  std::vector<Case> cases = {
      {"no bytes", RecordBuilder(), "The stored record ends before all of its fields"},
      {"name longer than the rest", RecordBuilder().Int(1).Int(1000).Bool(true),
       "The stored record holds an invalid length (1000)"},
      {"negative name length", RecordBuilder().Int(1).Int(-5),
       "The stored record holds an invalid length (-5)"},
      {"huge description length", RecordBuilder().Int(1).Str("A").Int(0x7FFFFFFF),
       "The stored record holds an invalid length (2147483647)", "A"},
      {"flags missing", RecordBuilder().Int(1).Str("A").Str("").Bool(false),
       "The stored record ends before all of its fields", "A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestRoot root;
    TBRNConfigObject object(&root);
    TBRNMemoryStream stream;
    c.record.Into(stream);
    EBRNException e = CaughtError([&] { object.LoadFromStream(stream); });
    EXPECT_EQ(e.ErrorCode, 100);
    EXPECT_EQ(e.ErrorMessage, std::string("There is an error in the metadata for the object ") +
                                  c.name + " (" + c.detail + ")");
  }
}

TEST(ConfigObjectVersion, NewestVersionLoadsAndOneAboveIsRefused) {
  TBRNConfigObject object(nullptr);
  object.Name = "Config";
  EXPECT_NO_THROW(object.CheckVersion(20500));
  EBRNException e = CaughtError([&] { object.CheckVersion(20501); });
  EXPECT_EQ(e.ErrorCode, 100);
  EXPECT_EQ(e.ErrorMessage,
            "There is an error in the metadata for the object Config (The object has been "
            "updated by a newer version of the engine)");
}

TEST(ConfigObjectIdentifiers, ValidationRules) {
  struct Case {
    std::string name;
    bool transient;
    bool valid;
  };
  std::vector<Case> cases = {
      {"", false, false},
      {std::string(40, 'a'), false, true},
      {std::string(41, 'a'), false, false},
      {std::string(41, 'a'), true, true},
      {"1abc", false, false},
      {"Sum (Total) of-it.x", false, true},
      {"_x", false, true},
      {"\xC4rger", false, true},
      {"a;b", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBRNConfigObject object(nullptr);
    object.Transient = c.transient;
    if (c.valid) {
      EXPECT_NO_THROW(object.ValidateIdentifier(c.name));
    } else {
      EBRNException e = CaughtError([&] { object.ValidateIdentifier(c.name); });
      EXPECT_EQ(e.ErrorCode, 406);
      EXPECT_EQ(e.ErrorMessage, "Invalid object identifier '" + c.name + "'");
    }
  }
}

TEST(ConfigObjectIdentifiers, MessageNamesTheParent) {
  OwnedObject o;
  EBRNException e = CaughtError([&] { o.table->ValidateIdentifier("9x"); });
  EXPECT_EQ(e.ErrorMessage, "Invalid table identifier '9x' in the schema Sales");
}

TEST(ConfigObjectModified, SettersMarkOnlyRealChanges) {
  OwnedObject o;
  o.root.Modified = false;
  o.table->SetName("Orders");
  EXPECT_FALSE(o.root.Modified);
  o.table->SetName("ORDERS");
  EXPECT_TRUE(o.root.Modified);
  o.root.Modified = false;
  o.table->SetDescription("");
  o.table->SetID(o.table->ID);
  EXPECT_FALSE(o.root.Modified);
  o.table->SetDescription("d");
  EXPECT_TRUE(o.root.Modified);
}

TEST(ConfigObjectModified, ObjectsWithoutOwnerOrWithSpecialFlagsNeverMark) {
  TestRoot root;
  TestOwner owner(&root, "schema", "S");
  for (int flag = 0; flag < 4; ++flag) {
    SCOPED_TRACE(flag);
    TBRNConfigObject object(&root);
    object.Owner = flag == 0 ? nullptr : &owner;
    object.System = flag == 1;
    object.Transient = flag == 2;
    object.Temporary = flag == 3;
    root.Modified = false;
    object.SetName("Other");
    EXPECT_FALSE(root.Modified);
  }
}

TEST(ConfigObjectErrors, RaisersUseTheParentVariantOnlyWithAParent) {
  OwnedObject o;
  TBRNConfigObject loose(nullptr);
  loose.Name = "Loose";
  o.table->System = true;
  loose.System = true;

  EBRNException e = CaughtError([&] { o.table->RaiseMetadataError("bad", 3, 9); });
  EXPECT_EQ(e.ErrorCode, 100);
  EXPECT_EQ(e.ErrorMessage,
            "There is an error in the metadata for the table Orders in the schema "
            "Sales (bad)");
  EXPECT_EQ(e.ErrorLine, 3);
  EXPECT_EQ(e.ErrorColumn, 9);

  e = CaughtError([&] { o.table->CheckNotSystem(); });
  EXPECT_EQ(e.ErrorCode, 200);
  EXPECT_EQ(e.ErrorMessage,
            "This operation cannot be performed on the system table Orders in the "
            "schema Sales or any privileges granted to it");
  e = CaughtError([&] { loose.CheckNotSystem(); });
  EXPECT_EQ(e.ErrorMessage,
            "This operation cannot be performed on the system object Loose or any privileges "
            "granted to it");
}

TEST(ConfigObjectErrors, StillReferencedHasFourVariants) {
  OwnedObject o;
  TBRNConfigObject loose(nullptr), looseReferrer(nullptr);
  loose.Name = "L";
  looseReferrer.Name = "R";
  struct Case {
    TBRNConfigObject* object;
    TBRNConfigObject* referrer;
    const char* message;
  };
  std::vector<Case> cases = {
      {o.table, o.table,
       "The table Orders in the schema Sales cannot be dropped because it is still referenced by "
       "the table Orders in the schema Sales"},
      {&loose, o.table,
       "The object L cannot be dropped because it is still referenced by the table Orders in the "
       "schema Sales"},
      {o.table, &looseReferrer,
       "The table Orders in the schema Sales cannot be dropped because it is still referenced by "
       "the object R"},
      {&loose, &looseReferrer,
       "The object L cannot be dropped because it is still referenced by the object R"},
  };
  for (const Case& c : cases) {
    EBRNException e = CaughtError([&] { c.object->RaiseStillReferenced(c.referrer, "dropped"); });
    EXPECT_EQ(e.ErrorCode, 201);
    EXPECT_EQ(e.ErrorMessage, c.message);
  }
}

TEST(ConfigObjectReferences, CheckNotReferencedNamesTheReferrerWithTheLowestID) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* target = tables.Add("Target");
  TestTable* later = tables.Add("Later", {target->ID});
  TestTable* earlier = tables.Add("Earlier", {target->ID, target->ID});
  // Make the second referrer the one with the lowest ID.
  earlier->ID = 1;
  ASSERT_LT(earlier->ID, later->ID);
  EBRNException e = CaughtError([&] { target->CheckNotReferenced("dropped"); });
  EXPECT_EQ(e.ErrorCode, 201);
  EXPECT_EQ(e.ErrorMessage,
            "The table Target cannot be dropped because it is still referenced by the table "
            "Earlier");
  // A referrer that reaches the target twice is listed once.
  EXPECT_EQ(target->GetReferrers()->Count(), 2);
  EXPECT_TRUE(target->IsReferencedBy(earlier));
  EXPECT_FALSE(earlier->IsReferencedBy(target));
  EXPECT_NO_THROW(later->CheckNotReferenced("dropped"));
}

TEST(ConfigObjectReferences, ReferenceCycleIsDetected) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* a = tables.Add("A");
  TestTable* b = tables.Add("B", {a->ID});
  TestTable* c = tables.Add("C", {a->ID});
  a->RefIDs = {b->ID};
  EXPECT_TRUE(a->IsInReferenceCycle());
  EXPECT_TRUE(b->IsInReferenceCycle());
  EXPECT_FALSE(c->IsInReferenceCycle());
}

TEST(ConfigObjectIDs, ReassignIDPropagatesWhileTheOldIDIsStillVisible) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* target = tables.Add("Target");
  TestTable* user = tables.Add("User", {target->ID});
  int32_t oldID = target->ID;
  target->ReassignID();
  EXPECT_NE(target->ID, oldID);
  EXPECT_EQ(user->RefIDs, std::vector<int32_t>{target->ID});
}

TEST(ConfigObjectCopies, AssignAndEquality) {
  OwnedObject o;
  TBRNConfigObject copy(&o.root);
  o.table->Description = "d";
  o.table->System = true;
  copy.Assign(o.table, false);
  EXPECT_EQ(copy.ID, o.table->ID);
  EXPECT_EQ(copy.Name, "Orders");
  EXPECT_EQ(copy.Description, "d");
  EXPECT_EQ(copy.Index, 0);
  EXPECT_FALSE(copy.System);
  EXPECT_EQ(copy.LoadedName, "");

  TBRNConfigObject other(&o.root);
  other.Assign(&copy, false);
  other.Name = "ORDERS";
  EXPECT_TRUE(other.IsEqual(&copy, true));
  other.ID = 12345;
  EXPECT_FALSE(other.IsEqual(&copy, true));
  EXPECT_TRUE(other.IsEqual(&copy, false));
  other.Description = "D";
  EXPECT_FALSE(other.IsEqual(&copy, false));
  EXPECT_TRUE(other.IsSameObject(&copy));
  EXPECT_FALSE(o.table->IsSameObject(&copy));  // another class
}

}  // namespace
}  // namespace brn
