#include "metadata/core/config_objects.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "metadata/object_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::NamesOf;
using testing::RecordBuilder;
using testing::TestOwner;
using testing::TestRoot;
using testing::TestTable;
using testing::TestTables;

TEST(ConfigObjectsMembership, AddingBeyondTheMaximumRaises405AndExactlyTheMaximumValidates) {
  TestRoot root;
  TestTables users(&root, "user", 4096);
  for (int32_t i = 1; i <= 4096; ++i) users.Add("U" + std::to_string(i));
  EXPECT_EQ(users.Count(), 4096);
  EXPECT_EQ(users.GetCapacity() % 8, 0);
  // Holding exactly the maximum is valid: the list stays loadable.
  EXPECT_NO_THROW(users.Validate());

  EBRNException e = CaughtError([&] { users.Add("One more"); });
  EXPECT_EQ(e.ErrorCode, 405);
  EXPECT_EQ(e.ErrorMessage, "The maximum number of users has been reached (4096)");
  EXPECT_EQ(users.Count(), 4096);

  // More than the maximum (the limit lowered under a loaded list) is refused.
  users.MaxCount = 4095;
  EXPECT_EQ(CaughtError([&] { users.Validate(); }).ErrorCode, 405);
}

TEST(ConfigObjectsMembership, MaximumMessageNamesTheParent) {
  TestRoot root;
  TestOwner config(&root, "configuration", "Config");
  TestTables jobs(&root, "job", 1);
  jobs.Owner = &config;
  jobs.Add("Nightly");
  EXPECT_EQ(CaughtError([&] { jobs.Add("Weekly"); }).ErrorMessage,
            "The maximum number of jobs in the configuration Config has been reached (1)");
}

TEST(ConfigObjectsMembership, DuplicateNameInAnotherCaseRaises400AndLeavesTheListUnchanged) {
  TestRoot root;
  TestOwner config(&root, "configuration", "Config");
  TestTables users(&root, "user");
  users.Add("Bob");
  int32_t counter = root.IDCounter;
  EBRNException e = CaughtError([&] { users.Add("BOB  "); });
  EXPECT_EQ(e.ErrorCode, 400);
  EXPECT_EQ(e.ErrorMessage, "The table Bob already exists");
  EXPECT_EQ(users.Count(), 1);
  EXPECT_EQ(root.IDCounter, counter);  // no ID taken

  users.Owner = &config;
  EXPECT_EQ(CaughtError([&] { users.CheckNewName(nullptr, "bob"); }).ErrorMessage,
            "The table Bob already exists in the configuration Config");
  EXPECT_NO_THROW(users.CheckNewName(users.GetItem(0), "bob"));
}

// A loaded list is checked as a whole: the first member that has a
// duplicate (in list order) is reported with its first partner's name.
TEST(ConfigObjectsMembership, ValidateFindsTheFirstDuplicatePairOfALoadedList) {
  struct Case {
    std::vector<std::string> names;
    std::string error;  // empty: valid
  };
  const std::vector<Case> cases = {
      {{"A", "B", "C"}, ""},
      {{"Beta", "alpha", "BETA "}, "The table BETA  already exists"},
      {{"x", "Y", "y", "X"}, "The table X already exists"},
      {{"Q", "q", "Q"}, "The table q already exists"},
      {{}, ""},
  };
  for (const Case& c : cases) {
    TestRoot root;
    TestTables tables(&root);
    tables.SetCount(int32_t(c.names.size()));
    for (size_t i = 0; i < c.names.size(); ++i) tables.GetItem(int32_t(i))->Name = c.names[i];
    if (c.error.empty()) {
      EXPECT_NO_THROW(tables.CheckDuplicates()) << c.names.size();
    } else {
      EBRNException e = CaughtError([&] { tables.CheckDuplicates(); });
      EXPECT_EQ(e.ErrorCode, 400);
      EXPECT_EQ(e.ErrorMessage, c.error);
    }
  }
}

TEST(ConfigObjectsMembership, AddAssignsIDsOwnerIndexAndFlags) {
  TestRoot root;
  TestOwner owner(&root, "schema", "S");
  TestTables tables(&root);
  tables.Owner = &owner;
  TestTable* a = tables.Add("A");
  TestTable* b = tables.Add("B");
  EXPECT_EQ(a->Owner, &tables);
  EXPECT_EQ(b->Index, 1);
  EXPECT_EQ(a->ID, 2);
  EXPECT_EQ(b->ID, 3);
  EXPECT_TRUE(root.Modified);

  // Transient members number themselves per list and never mark.
  TestRoot transientRoot;
  TestTables derived(&transientRoot);
  derived.Owner = &owner;
  derived.SetTransient(true);
  TestTable* d1 = derived.Add(std::string(60, 'x'));  // no length limit
  TestTable* d2 = derived.Add("D2");
  EXPECT_TRUE(d1->Transient);
  EXPECT_EQ(d1->ID, 1);
  EXPECT_EQ(d2->ID, 2);
  EXPECT_FALSE(transientRoot.Modified);

  // InsertObject renumbers the members after the new one.
  auto* c = static_cast<TestTable*>(tables.NewItem());
  c->Name = "C";
  tables.InsertObject(0, c);
  EXPECT_EQ(NamesOf(tables), (std::vector<std::string>{"C", "A", "B"}));
  EXPECT_EQ(a->Index, 1);
  EXPECT_EQ(b->Index, 2);

  // An owning list never takes the same object twice.
  EXPECT_THROW(tables.AddObject(b), std::invalid_argument);
  EXPECT_EQ(tables.Count(), 3);

  // Detach gives the object back to the caller.
  tables.Detach(a);
  EXPECT_TRUE(a->Detached);
  EXPECT_EQ(b->Index, 1);
  EXPECT_EQ(tables.FindByName("a", false), nullptr);
  delete a;
}

TEST(ConfigObjectsMembership, FailedValidationLeavesTheObjectWithTheCaller) {
  TestRoot root;
  TestTables tables(&root);
  auto* bad = static_cast<TestTable*>(tables.NewItem());
  bad->Name = "1bad";
  EXPECT_EQ(CaughtError([&] { tables.AddObject(bad); }).ErrorCode, 406);
  EXPECT_EQ(tables.Count(), 0);
  EXPECT_EQ(bad->Owner, &tables);
  delete bad;
}

TEST(ConfigObjectsLookup, FindByIDNameAndLoadedName) {
  TestRoot root;
  TestOwner config(&root, "configuration", "Config");
  TestTables users(&root, "user");
  users.Owner = &config;
  TestTable* bob = users.Add("Bob");
  bob->LoadedName = "Robert";
  EXPECT_EQ(users.FindByID(bob->ID, true), bob);
  EXPECT_EQ(users.FindByName("BOB ", true), bob);
  EXPECT_EQ(users.FindByLoadedName("robert", true), bob);
  EBRNException e = CaughtError([&] { users.FindByID(77, true); });
  EXPECT_EQ(e.ErrorCode, 401);
  EXPECT_EQ(e.ErrorMessage, "The user 77 does not exist in the configuration Config");
  users.Owner = nullptr;
  EXPECT_EQ(CaughtError([&] { users.FindByName("Ann", true); }).ErrorMessage,
            "The user Ann does not exist");
  EXPECT_EQ(users.FindByName("Ann", false), nullptr);
}

TEST(ConfigObjectsNames, MakeUniqueNameAndIdentifier) {
  TestRoot root;
  TestTables columns(&root);
  columns.Add("Column1");
  columns.Add("column2");
  EXPECT_EQ(columns.MakeUniqueName("Column"), "Column3");
  EXPECT_EQ(columns.MakeUniqueName("Other"), "Other1");

  std::string first = columns.MakeUniqueIdentifier("Derived#");
  ASSERT_EQ(first.rfind("Derived_", 0), 0u);
  int32_t value = std::stoi(first.substr(8));
  // The next counter value is taken by a member's loaded name: skipped.
  columns.GetItem(0)->LoadedName = "Derived_" + std::to_string(value + 1);
  EXPECT_EQ(columns.MakeUniqueIdentifier("Derived#"), "Derived_" + std::to_string(value + 2));
}

TEST(ConfigObjectsStoredForm, SystemMembersAreNotStoredAndMergeLoadKeepsIdentity) {
  TestRoot root;
  TestTables users(&root);
  TestTable* system = users.Add("System");
  system->SetSystem(true);
  TestTable* a = users.Add("A");
  TestTable* b = users.Add("B", {7});

  TBRNMemoryStream saved;
  users.SaveToStream(saved, false);
  saved.SetPosition(0);
  EXPECT_EQ(saved.ReadInteger(), 2);

  // The two members in the other order, B renamed by another process.
  TBRNMemoryStream reordered;
  reordered.WriteInteger(2);
  b->Name = "B2";
  b->SaveToStream(reordered, false);
  b->Name = "B";
  a->SaveToStream(reordered, false);
  reordered.SetPosition(0);
  users.LoadFromStream(reordered);

  ASSERT_EQ(users.Count(), 3);
  EXPECT_EQ(users.GetItem(0), system);
  EXPECT_EQ(users.GetItem(1), b);
  EXPECT_EQ(users.GetItem(2), a);
  EXPECT_EQ(b->Index, 1);
  EXPECT_EQ(a->Index, 2);
  EXPECT_EQ(b->Name, "B2");
  EXPECT_EQ(b->LoadedName, "B2");
  EXPECT_EQ(b->RefIDs, std::vector<int32_t>{7});
  EXPECT_TRUE(root.Unloaded.empty());
}

TEST(ConfigObjectsStoredForm, MergeLoadReportsAndFreesAMemberThatLeft) {
  TestRoot root;
  TestTables users(&root);
  TestTable* system = users.Add("System");
  system->SetSystem(true);
  TestTable* a = users.Add("A");
  TestTable* gone = users.Add("Gone");
  int32_t goneID = gone->ID;

  TBRNMemoryStream stream;
  stream.WriteInteger(1);
  a->SaveToStream(stream, false);
  stream.SetPosition(0);
  users.LoadFromStream(stream);

  EXPECT_EQ(NamesOf(users), (std::vector<std::string>{"System", "A"}));
  EXPECT_EQ(root.Unloaded, std::vector<std::string>{"Gone#" + std::to_string(goneID)});
  EXPECT_EQ(users.GetItem(1), a);

  // An empty stream frees every stored member, never the System one.
  TBRNMemoryStream empty;
  empty.WriteInteger(0);
  empty.SetPosition(0);
  users.LoadFromStream(empty);
  EXPECT_EQ(NamesOf(users), std::vector<std::string>{"System"});
}

// Links cached across a merge-load that frees their target: the cached
// pointer is never handed out again (AddressSanitizer would report the use),
// the link looks its target up again by the stored ID.
TEST(ConfigObjectsLinks, CachedLinksAndReferrersSurviveAMergeLoadThatFreesTheTarget) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* holder = tables.Add("Holder");
  TestTable* target = tables.Add("Target", {holder->ID});
  holder->PartnerID = target->ID;
  ASSERT_EQ(holder->Partner(), target);
  holder->BuildReferrers();
  ASSERT_TRUE(holder->HasReferrers());
  EXPECT_EQ(holder->GetReferrers()->GetItem(0), target);

  // Reloaded: Holder stays, Target is gone.
  TBRNMemoryStream stream;
  stream.WriteInteger(1);
  holder->SaveToStream(stream, false);
  stream.SetPosition(0);
  tables.LoadFromStream(stream);
  ASSERT_EQ(tables.Count(), 1);
  ASSERT_EQ(tables.GetItem(0), holder);

  EXPECT_EQ(holder->Partner(), nullptr);
  EXPECT_FALSE(holder->HasReferrers());
  EXPECT_NO_THROW(holder->CheckNotReferenced("dropped"));

  // A new object under the stored ID is found again.
  TestTable* replacement = tables.Add("Replacement", {holder->ID});
  replacement->ID = holder->PartnerID;
  EXPECT_EQ(holder->Partner(), replacement);
  EXPECT_EQ(CaughtError([&] { holder->CheckNotReferenced("dropped"); }).ErrorCode, 201);
}

TEST(ConfigObjectsLinks, LinksCacheWhileNothingChanged) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* holder = tables.Add("Holder");
  TestTable* target = tables.Add("Target");
  holder->PartnerID = target->ID;
  ASSERT_EQ(holder->Partner(), target);
  // The stored key changes without the epoch moving: the cached pointer
  // still answers until the links are reset.
  holder->PartnerID = 999;
  EXPECT_EQ(holder->Partner(), target);
  holder->ResetLinks();
  EXPECT_EQ(holder->Partner(), nullptr);
  // Without a root nothing is cached.
  TBRNObjectLink link;
  link.Set(target, nullptr);
  EXPECT_EQ(link.Get(nullptr), nullptr);
}

TEST(ConfigObjectsStoredForm, LoadIntoAnEmptyListCreatesTheMembers) {
  TestRoot root;
  TestTables source(&root);
  source.Add("A");
  source.Add("B", {1, 2});
  TBRNMemoryStream stream;
  source.SaveToStream(stream, false);
  stream.SetPosition(0);
  TestTables copy(&root);
  copy.LoadFromStream(stream);
  EXPECT_EQ(NamesOf(copy), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(copy.IsEqual(&source, true));
  EXPECT_EQ(copy.At(1)->Index, 1);
  EXPECT_EQ(copy.At(1)->Owner, &copy);
}

TEST(ConfigObjectsStoredForm, HostileCountsAreRefusedBeforeAllocation) {
  struct Case {
    const char* what;
    int32_t count;
    int32_t extraBytes;
  };
  std::vector<Case> cases = {
      {"negative", -1, 0},
      {"larger than the maximum", 5, 100},
      {"larger than the bytes left", 4, 4 * 6 - 1},
      {"huge", 0x7FFFFFFF, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestRoot root;
    TestTables users(&root, "user", 4);
    TBRNMemoryStream stream;
    stream.WriteInteger(c.count);
    for (int32_t i = 0; i < c.extraBytes; ++i) stream.WriteByte(0);
    stream.SetPosition(0);
    EBRNException e = CaughtError([&] { users.LoadFromStream(stream); });
    EXPECT_EQ(e.ErrorCode, 100);
    EXPECT_EQ(e.ErrorMessage,
              "There is an error in the metadata for the user  (The stored record "
              "holds an invalid count (" +
                  std::to_string(c.count) + "))");
    EXPECT_EQ(users.Count(), 0);
  }
}

TEST(ConfigObjectsStoredForm, ATruncatedMemberRecordRaisesWithoutLeaking) {
  TestRoot root;
  TestTables users(&root);
  TBRNMemoryStream stream;
  RecordBuilder()
      .Int(2)
      .Int(5)
      .Str("A")
      .Str("")
      .Bool(false)
      .Bool(false)
      .Int(0)
      .Int(6)
      .Str("B")
      .Str("")
      .Bool(false)
      .Bool(false)
      .Int(3)
      .Int(1)
      .Into(stream);
  EXPECT_EQ(CaughtError([&] { users.LoadFromStream(stream); }).ErrorCode, 100);
}

TEST(ConfigObjectsComparison, IsEqualComparesCountsFirst) {
  TestRoot root;
  TestTables two(&root), three(&root);
  two.Add("A");
  two.Add("B");
  three.Add("A");
  three.Add("B");
  three.Add("C");
  EXPECT_FALSE(two.IsEqual(&three, false));
  EXPECT_FALSE(three.IsEqual(&two, false));
  three.Clear();
  three.Add("a");
  three.Add("b");
  EXPECT_TRUE(two.IsEqual(&three, false));
  EXPECT_FALSE(two.IsEqual(&three, true));  // other IDs

  TestTable loose(&root);
  EXPECT_FALSE(two.IsEqual(&loose, false));
}

TEST(ConfigObjectsComparison, AssignCopiesMembers) {
  TestRoot root;
  TestTables source(&root), target(&root);
  source.Add("A", {1});
  source.Add("B");
  target.Add("Z");
  target.Add("Y");
  target.Add("X");
  target.Assign(&source, false);
  EXPECT_EQ(NamesOf(target), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(target.IsEqual(&source, true));
  EXPECT_EQ(target.At(0)->RefIDs, std::vector<int32_t>{1});
}

TEST(ConfigObjectsText, CreateSQLSkipsInternalMembers) {
  TestRoot root;
  TestTables tables(&root);
  tables.Add("A");
  tables.Add("B")->Internal = true;
  tables.Add("C");
  EXPECT_EQ(tables.GetCreateSQL(false, false), "CREATE TABLE \"A\",\r\nCREATE TABLE \"C\"");
  EXPECT_EQ(tables.GetDropSQL(false, false), "DROP TABLE \"A\",\r\nDROP TABLE \"C\"");
}

TEST(ConfigObjectsFlags, FlagsReachOwnedMembersOnly) {
  TestRoot root;
  TestTables tables(&root);
  TestTable* a = tables.Add("A");
  TBRNSelectedConfigObjects selection(&root);
  selection.AddObject(a);
  selection.SetSystem(true);
  EXPECT_FALSE(a->System);  // a selection's flag stays its own
  tables.SetTemporary(true);
  EXPECT_TRUE(a->Temporary);
  auto* fresh = tables.NewItem();
  EXPECT_TRUE(fresh->Temporary);
  delete fresh;
}

// A reference list made from an owning collection class keeps the class's
// own behaviour (its kind word, its change hook) but none of the duties of
// ownership: the members stay with their owner, untouched, and nothing is
// freed twice (the sanitizer would report it).
TEST(ConfigObjectsReferences, AReferenceListOverAnOwningClassLeavesItsMembersAlone) {
  TestRoot root;
  TestTables owner(&root);
  TestTable* a = owner.Add("A");
  TestTable* b = owner.Add("B");
  TBRNReferenceList<TestTables> list(&root, "picked table", 1);
  EXPECT_FALSE(list.OwnsItems());
  EXPECT_TRUE(owner.OwnsItems());
  root.Modified = false;

  list.AddObject(b);
  list.InsertObject(0, a);
  list.AddObject(a);  // beyond its maximum, twice over, and still no checks
  EXPECT_EQ(NamesOf(list), (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(list.GetObjectTypeName(), "picked table");
  EXPECT_EQ(list.ChangedCalls, 3);
  for (TestTable* member : {a, b}) {
    SCOPED_TRACE(member->Name);
    EXPECT_EQ(member->Owner, &owner);
    EXPECT_EQ(member->Index, member == a ? 0 : 1);
  }
  EXPECT_FALSE(root.Modified);
  list.Validate();
  list.SetTransient(true);
  EXPECT_FALSE(a->Transient);
  EXPECT_EQ(list.GetObjectCount(), 1);

  TBRNMemoryStream stream;
  list.SaveToStream(stream, false);
  EXPECT_EQ(stream.GetSize(), 0);

  TBRNReferenceList<TestTables> same(&root);
  same.Assign(&list, false);
  EXPECT_EQ(same.GetItem(0), a);
  EXPECT_TRUE(same.IsEqual(&list, true));
  TestTables copies(&root);
  copies.Assign(&list, false);
  EXPECT_FALSE(same.IsEqual(&copies, true));  // equal members, other objects
  root.Modified = false;                      // the copies marked it

  EXPECT_EQ(list.RemoveObject(1), b);
  EXPECT_EQ(b->Index, 1);
  list.SetCount(4);
  EXPECT_EQ(list.GetItem(3), nullptr);
  list.Clear();
  EXPECT_EQ(owner.Count(), 2);
  EXPECT_FALSE(root.Modified);
}

TEST(ConfigObjectsCounts, SetCountAndMemoryFigures) {
  TestRoot root;
  TestTables tables(&root);
  tables.SetCount(3);
  EXPECT_EQ(tables.Count(), 3);
  EXPECT_EQ(tables.GetItem(2)->Index, 2);
  EXPECT_EQ(tables.GetItem(2)->Owner, &tables);
  EXPECT_EQ(tables.GetCapacity(), 8);
  // The list and its three members, each counted once.
  EXPECT_EQ(tables.GetObjectCount(), 4);
  EXPECT_GT(tables.GetMemorySize(), 8 * 4);
  root.Modified = false;
  tables.SetCountModified(3);
  EXPECT_FALSE(root.Modified);
  tables.SetCount(1);
  EXPECT_EQ(tables.Count(), 1);
}

}  // namespace
}  // namespace brn
