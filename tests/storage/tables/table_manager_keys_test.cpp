// Index keys, index upkeep and index maintenance of the table manager, and
// its identity, generated and DEFAULT column values.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

// The Docs table: ID (primary key "PK"), Name indexed by "ByName", Qty,
// Body with the text index "Words", Price without an index, and "NameQty"
// over Name and Qty.
constexpr int32_t kPK = 0;
constexpr int32_t kByName = 1;
constexpr int32_t kWords = 2;
constexpr int32_t kNameQty = 3;
enum Column : int32_t { cID, cName, cQty, cBody, cPrice };

struct Doc {
  int32_t ID;
  std::optional<std::string> Name;
  std::optional<int32_t> Qty;
  std::string Body;
};

// Detached row values of a manager's table.
struct RowBuffer {
  explicit RowBuffer(TBRNTableManager& manager)
      : Buffer(manager.NewRowBuffer()), Values(manager.GetColumns(), &manager) {
    Values.SetRow(Buffer.get());
    Values.SetAllNull();
  }
  std::unique_ptr<TBRNRowsetRow> Buffer;
  TBRNRowsetRowValues Values;
};

struct TableManagerKeysTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  TBRNBaseTable* Docs = nullptr;
  TBRNTableManager* m = nullptr;

  void SetUp() override {
    TestTableEnvironment& env = A.Environment;
    Docs = env.AddTable("Docs", {{"ID", dtInteger},
                                 {"Name", dtChar, 20},
                                 {"Qty", dtInteger},
                                 {"Body", dtChar, 200},
                                 {"Price", dtInteger}});
    env.AddPrimaryKey(Docs, "PK", {"ID"});
    env.AddIndex(Docs, "ByName", {"Name"});
    env.AddIndex(Docs, "Words", {"Body"}, kIndexText);
    env.AddIndex(Docs, "NameQty", {"Name", "Qty"});
    env.Finish(Docs);
    m = A.Open(Docs);
  }

  static void Fill(TBRNRowValues& values, const Doc& doc) {
    values.GetItem(cID)->SetAsInteger(doc.ID);
    if (doc.Name) values.GetItem(cName)->SetAsString(*doc.Name);
    if (doc.Qty) values.GetItem(cQty)->SetAsInteger(*doc.Qty);
    values.GetItem(cBody)->SetAsString(doc.Body);
  }

  // Writes a row and its keys (except those of index skip) as one
  // operation, flushed as a row change is.
  int32_t Insert(const Doc& doc, int32_t skip = -1) {
    RowBuffer row(*m);
    Fill(row.Values, doc);
    int32_t number = 0;
    {
      TBRNTableOperation operation(m->GetRowsetManager());
      int32_t counter = 0;
      m->GetRowNavigator()->InsertRow(m->GetRowsetManager()->NextVersion(), row.Values, number,
                                      counter);
      for (int32_t i = 0; i < m->GetIndexCount(); ++i) {
        if (i == skip) continue;
        if (m->GetIndexLayout(i)->IsTextIndex()) {
          m->InsertTextKeys(row.Values, number, i);
        } else {
          m->InsertKey(row.Values, number, i);
        }
      }
      operation.Commit();
    }
    m->FlushFiles(true);
    return number;
  }

  // Rewrites stored row number with change applied, keeping its keys.
  void Update(int32_t number, const std::function<void(TBRNRowValues&)>& change) {
    RowBuffer row(*m);
    ASSERT_TRUE(m->ReadRowByNumber(number, row.Values));
    change(row.Values);
    {
      TBRNTableOperation operation(m->GetRowsetManager());
      for (int32_t i = 0; i < m->GetIndexCount(); ++i) {
        if (m->GetIndexLayout(i)->IsTextIndex()) {
          m->UpdateTextKeys(row.Values, number, i);
        } else {
          m->UpdateKey(row.Values, number, i);
        }
      }
      int32_t counter = 0;
      m->GetRowNavigator()->UpdateRow(row.Values, number, counter);
      operation.Commit();
    }
    m->FlushFiles(true);
  }

  bool HasWord(const std::string& word, int32_t number, int32_t id) {
    TBRNContainedIndexKeyValues key(*m->GetIndexLayout(kWords));
    key.GetItem(0)->SetAsString(word);
    key.SetRowID(id);
    return m->GetIndexNavigator(kWords)->HasKey(key, number);
  }

  TBRNIndex* IndexNamed(const std::string& name) {
    for (int32_t i = 0; i < Docs->Indexes->Count(); ++i) {
      if (Docs->Indexes->GetItem(i)->Name == name) return Docs->Indexes->GetItem(i);
    }
    return nullptr;
  }
};

TEST_F(TableManagerKeysTest, OnlyAChangedKeyColumnChangesAnIndex) {
  int32_t number = Insert({1, "name1", 1, "one"});
  Insert({2, "name2", 2, "two"});
  struct Case {
    std::string Name;
    std::function<void(TBRNRowValues&)> Change;
    std::vector<bool> Changed;  // PK, ByName, NameQty
  };
  const std::vector<Case> cases = {
      {"price",
       [](TBRNRowValues& v) { v.GetItem(cPrice)->SetAsInteger(9); },
       {false, false, false}},
      {"same name",
       [](TBRNRowValues& v) { v.GetItem(cName)->SetAsString("name1"); },
       {false, false, false}},
      {"name",
       [](TBRNRowValues& v) { v.GetItem(cName)->SetAsString("other"); },
       {false, true, true}},
      {"qty", [](TBRNRowValues& v) { v.GetItem(cQty)->SetAsInteger(7); }, {false, false, true}},
      {"id", [](TBRNRowValues& v) { v.GetItem(cID)->SetAsInteger(20); }, {true, false, false}},
  };
  for (const Case& c : cases) {
    RowBuffer row(*m);
    ASSERT_TRUE(m->ReadRowByNumber(number, row.Values));
    c.Change(row.Values);
    std::vector<bool> changed;
    for (int32_t i : {kPK, kByName, kNameQty}) changed.push_back(m->IndexKeyChanged(row.Values, i));
    EXPECT_EQ(changed, c.Changed) << c.Name;
    EXPECT_EQ(m->RowChanged(row.Values), c.Name != "same name") << c.Name;
  }

  // An update of a column outside every key leaves the index file alone.
  int32_t indexCounter = m->GetIndexManager()->ChangeCounter;
  uint64_t treeChanges = m->GetIndexManager()->GetTreeChangeCount();
  int32_t rowCounter = m->GetRowsetManager()->ChangeCounter;
  Update(number, [](TBRNRowValues& v) { v.GetItem(cPrice)->SetAsInteger(9); });
  EXPECT_EQ(m->GetIndexManager()->ChangeCounter, indexCounter);
  EXPECT_EQ(m->GetIndexManager()->GetTreeChangeCount(), treeChanges);
  EXPECT_NE(m->GetRowsetManager()->ChangeCounter, rowCounter);

  // A key column update moves the key.
  Update(number, [](TBRNRowValues& v) { v.GetItem(cName)->SetAsString("renamed"); });
  RowBuffer probe(*m);
  RowBuffer found(*m);
  probe.Values.GetItem(cName)->SetAsString("renamed");
  ASSERT_TRUE(m->FindRowByKey(found.Values, probe.Values, kByName, true));
  EXPECT_EQ(found.Values.GetItem(cID)->GetAsInteger(), 1);
  probe.Values.GetItem(cName)->SetAsString("name1");
  EXPECT_FALSE(m->FindRowByKey(found.Values, probe.Values, kByName, false));
}

TEST_F(TableManagerKeysTest, ATextUpdateChangesOnlyTheWordsThatDiffer) {
  int32_t number = Insert({4, "doc", 1, "alpha beta"});
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(number, row.Values));
  EXPECT_EQ(m->TextIndexWords(row.Values, kWords), (std::vector<std::string>{"alpha", "beta"}));

  uint64_t treeChanges = m->GetIndexManager()->GetTreeChangeCount();
  Update(number, [](TBRNRowValues& v) { v.GetItem(cBody)->SetAsString("beta gamma"); });
  EXPECT_EQ(m->GetIndexManager()->GetTreeChangeCount() - treeChanges, 2u)
      << "one key deleted, one inserted, beta untouched";
  EXPECT_FALSE(HasWord("alpha", number, 4));
  EXPECT_TRUE(HasWord("beta", number, 4));
  EXPECT_TRUE(HasWord("gamma", number, 4));

  treeChanges = m->GetIndexManager()->GetTreeChangeCount();
  Update(number, [](TBRNRowValues& v) { v.GetItem(cBody)->SetAsString("gamma beta"); });
  EXPECT_EQ(m->GetIndexManager()->GetTreeChangeCount(), treeChanges) << "the same words";
}

TEST_F(TableManagerKeysTest, TextKeysOfARowAreFoundOnlyWhenEveryWordHasOne) {
  int32_t number = Insert({5, "doc", 1, "alpha beta gamma"});
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(number, row.Values));
  EXPECT_TRUE(m->HasRowTextKeys(row.Values, number, kWords));

  // The first word's key goes; the last word's stays.
  TBRNContainedIndexKeyValues key(*m->GetIndexLayout(kWords));
  key.GetItem(0)->SetAsString("alpha");
  key.SetRowID(5);
  m->GetIndexNavigator(kWords)->DeleteKey(key);
  EXPECT_FALSE(m->HasRowTextKeys(row.Values, number, kWords));

  m->DeleteTextKeys(row.Values, number, kWords);  // a missing word is no error
  EXPECT_FALSE(HasWord("gamma", number, 5));
}

TEST_F(TableManagerKeysTest, KeysWithNullValues) {
  struct Case {
    std::optional<std::string> Name;
    std::optional<int32_t> Qty;
    bool HasNull;
    bool AllNull;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, true, true},
      {"a", std::nullopt, true, false},
      {std::nullopt, 1, true, false},
      {"a", 1, false, false},
  };
  for (const Case& c : cases) {
    RowBuffer row(*m);
    Fill(row.Values, {1, c.Name, c.Qty, ""});
    m->BuildIndexKey(row.Values, kNameQty, false);
    EXPECT_EQ(m->KeyHasNull(kNameQty), c.HasNull) << c.Name.value_or("NULL");
    EXPECT_EQ(m->KeyAllNull(kNameQty), c.AllNull) << c.Name.value_or("NULL");
  }
}

TEST_F(TableManagerKeysTest, KeyExistsCanLookPastTheRowItself) {
  int32_t first = Insert({1, "x", 1, ""});
  int32_t second = Insert({2, "y", 2, ""});
  Insert({3, "x", 3, ""});
  struct Case {
    int32_t Index;
    int32_t ID;
    std::string Name;
    int32_t ExceptRow;
    bool Exists;
  };
  const std::vector<Case> cases = {
      {kByName, 0, "x", 0, true},       {kByName, 0, "x", first, true}, {kByName, 0, "y", 0, true},
      {kByName, 0, "y", second, false}, {kByName, 0, "z", 0, false},    {kPK, 2, "", 0, true},
      {kPK, 2, "", second, false},      {kPK, 9, "", 0, false},
  };
  for (const Case& c : cases) {
    RowBuffer row(*m);
    Fill(row.Values, {c.ID, c.Name, std::nullopt, ""});
    m->BuildIndexKey(row.Values, c.Index, false);
    EXPECT_EQ(m->KeyExists(*m->GetIndexKey(c.Index), c.Index, c.ExceptRow), c.Exists)
        << c.Index << " " << c.ID << c.Name << " except " << c.ExceptRow;
  }
}

TEST_F(TableManagerKeysTest, ARepairRebuildDeletesTheLaterDuplicateOfAUniqueTree) {
  Insert({1, "a", 1, "alpha"});
  Insert({2, "b", 2, "beta"});
  int32_t duplicate = Insert({1, "c", 3, "gamma"}, kPK);
  TBRNIndex* pk = Docs->Indexes->GetItem(kPK);
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(duplicate, row.Values));

  // Without repair the build fails and the index file goes back to its
  // state before the clear.
  std::string indexFile = Database.PathOf("Docs.BRNIdx");
  std::vector<uint8_t> before = RawFile(Database.Files, indexFile);
  m->ClearIndex(pk);
  try {
    m->RebuildIndex(pk, false);
    ADD_FAILURE() << "the rebuild took the duplicate";
  } catch (const EBRNException& e) {
    EXPECT_EQ(e.ErrorCode, 1004);
    EXPECT_EQ(e.ErrorMessage,
              "The primary key constraint PK for the table Docs has been violated "
              "(Duplicate key 1 found)");
  }
  EXPECT_EQ(RawFile(Database.Files, indexFile), before);
  EXPECT_EQ(m->GetRowCount(), 3);
  EXPECT_FALSE(m->RebuildDeletedRows);
  RowBuffer first(*m);
  ASSERT_TRUE(m->ReadRowByNumber(1, first.Values));
  EXPECT_TRUE(m->HasRowKey(first.Values, 1, kPK));

  m->ClearIndex(pk);
  m->RebuildIndex(pk, true);
  EXPECT_EQ(m->GetRowCount(), 2);
  EXPECT_TRUE(m->RebuildDeletedRows);
  m->GotoRowNumber(duplicate);
  EXPECT_EQ(m->GetRowNavigator()->GetCurrentRow()->Status, kRowDeleted);
  EXPECT_FALSE(m->HasRowKey(row.Values, duplicate, kByName)) << "its keys left the other indexes";
  EXPECT_FALSE(HasWord("gamma", duplicate, 1));
  std::vector<int32_t> ids;
  RowBuffer walk(*m);
  for (bool more = m->FirstRowByIndex(walk.Values, kPK); more;
       more = m->NextRowByIndex(walk.Values, kPK)) {
    ids.push_back(walk.Values.GetItem(cID)->GetAsInteger());
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2}));
}

TEST_F(TableManagerKeysTest, AnAddedIndexIsBuiltOrItsCancelLeavesTheFileAsItWas) {
  for (int32_t id = 1; id <= 4; ++id) Insert({id, "n", id * 10, ""});
  std::string indexFile = Database.PathOf("Docs.BRNIdx");
  std::vector<uint8_t> before = RawFile(Database.Files, indexFile);
  TBRNIndex* byQty = A.Environment.AddIndex(Docs, "ByQty", {"Qty"});

  A.Environment.CancelAfter = 0;
  EXPECT_FALSE(m->AddIndex(byQty, false));
  EXPECT_EQ(RawFile(Database.Files, indexFile), before);
  EXPECT_FALSE(Database.Exists("Docs.BRNIdx.Old"));
  EXPECT_EQ(m->GetIndexCount(), 4);

  A.Environment.CancelAfter = -1;
  ASSERT_TRUE(m->AddIndex(byQty, false));
  EXPECT_EQ(m->GetIndexCount(), 5);
  RowBuffer probe(*m);
  RowBuffer found(*m);
  probe.Values.GetItem(cQty)->SetAsInteger(30);
  ASSERT_TRUE(m->FindRowByKey(found.Values, probe.Values, 4, true));
  EXPECT_EQ(found.Values.GetItem(cID)->GetAsInteger(), 3);
  EXPECT_TRUE(Database.Exists("Docs.BRNIdx.Old")) << "kept until the catalog commits";

  // The catalog commit failed: the index file goes back.
  m->CancelIndexChange();
  EXPECT_EQ(RawFile(Database.Files, indexFile), before);
  EXPECT_FALSE(Database.Exists("Docs.BRNIdx.Old"));
}

// A failed or cancelled index change puts the index file back under the
// layouts its copy was taken with: an added index leaves the manager, a
// dropped one returns, and every index answers from its own tree after.
TEST_F(TableManagerKeysTest, AFailedIndexChangePutsTheIndexesOfTheCopyBack) {
  for (int32_t id = 1; id <= 4; ++id) Insert({id, "n" + std::to_string(id), id % 2, "word"});
  std::string indexFile = Database.PathOf("Docs.BRNIdx");
  std::vector<uint8_t> before = RawFile(Database.Files, indexFile);
  auto everyKeyAnswers = [&](int32_t count) {
    ASSERT_EQ(m->GetIndexCount(), count);
    RowBuffer row(*m);
    ASSERT_TRUE(m->ReadRowByNumber(3, row.Values));
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(m->GetIndexNavigator(i)->GetIndexNumber(), i);
      EXPECT_TRUE(i == kWords ? m->HasRowTextKeys(row.Values, 3, i)
                              : m->HasRowKey(row.Values, 3, i))
          << i;
    }
  };

  // The index leaves the definition again, as the catalog reload does.
  auto removeIndex = [&](TBRNIndex* index) {
    std::unique_ptr<TBRNConfigObject> gone(Docs->Indexes->RemoveObject(index->Index));
  };
  struct Case {
    std::string Name;
    std::function<void()> Change;  // ends with the index file put back
  };
  const std::vector<Case> cases = {
      {"unique index over duplicate keys",
       [&] {
         TBRNIndex* byQty = A.Environment.AddIndex(Docs, "UniqueQty", {"Qty"}, kIndexUnique);
         try {
           m->AddIndex(byQty, false);
           ADD_FAILURE() << "the build took the duplicate";
         } catch (const EBRNException& e) {
           EXPECT_EQ(e.ErrorCode, 1004);
           EXPECT_EQ(e.ErrorMessage, "Duplicate key 1 found");
         }
         removeIndex(byQty);
       }},
      {"added index whose catalog commit failed",
       [&] {
         TBRNIndex* byQty = A.Environment.AddIndex(Docs, "ByQty", {"Qty"});
         ASSERT_TRUE(m->AddIndex(byQty, false));
         m->CancelIndexChange();
         removeIndex(byQty);
       }},
      {"dropped index whose catalog commit failed",
       [&] {
         ASSERT_TRUE(m->DropIndex(IndexNamed("ByName"), true));
         ASSERT_EQ(m->GetIndexCount(), 3);
         m->RestoreIndexFile();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Change();
    EXPECT_EQ(RawFile(Database.Files, indexFile), before);
    EXPECT_FALSE(Database.Exists("Docs.BRNIdx.Old"));
    everyKeyAnswers(4);
  }
  // The manager goes on: a new row takes its keys in every index.
  int32_t added = Insert({5, "n5", 7, "other"});
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(added, row.Values));
  EXPECT_TRUE(m->HasRowKey(row.Values, added, kNameQty));
}

TEST_F(TableManagerKeysTest, AnAddIndexFailingAtAnyWriteLeavesTheIndexFileAsItWas) {
  m->ForceClose();
  TBRNFaultFileManager faults(&Database.Environment);
  A.Environment.TableFiles = &faults;
  m = A.Open(Docs);
  for (int32_t id = 1; id <= 40; ++id) Insert({id, "n" + std::to_string(id), id, "word"});
  std::string indexFile = Database.PathOf("Docs.BRNIdx");
  std::vector<uint8_t> before = RawFile(faults, indexFile);
  TBRNIndex* byQty = A.Environment.AddIndex(Docs, "ByQty", {"Qty"});
  bool added = false;
  for (int32_t nth = 1; !added && nth < 200; ++nth) {
    SCOPED_TRACE(nth);
    faults.FailWrite(nth);
    try {
      added = m->AddIndex(byQty, false);
    } catch (const EBRNException&) {
      EXPECT_EQ(RawFile(faults, indexFile), before);
      EXPECT_FALSE(faults.FileExists(indexFile + ".Old"));
      EXPECT_EQ(m->GetIndexCount(), 4);
    }
    faults.Disarm();
  }
  ASSERT_TRUE(added);
  m->HasChanged(false);
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(7, row.Values));
  for (int32_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(i == kWords ? m->HasRowTextKeys(row.Values, 7, i) : m->HasRowKey(row.Values, 7, i))
        << i;
  }
  m->ForceClose();  // its files go before the fault manager
  A.Environment.TableFiles = nullptr;
}

TEST_F(TableManagerKeysTest, DroppingAnIndexRenumbersTheNavigatorsAfterIt) {
  int32_t number = Insert({1, "first", 5, "alpha"});
  ASSERT_TRUE(m->DropIndex(IndexNamed("ByName"), true));
  ASSERT_EQ(m->GetIndexCount(), 3);
  const std::vector<std::string> names = {"PK", "Words", "NameQty"};
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m->GetIndexNavigator(i)->GetIndexNumber(), i);
    EXPECT_EQ(m->GetIndexNavigator(i)->GetLayout().GetIndexName(), names[size_t(i)]);
    EXPECT_EQ(&m->GetIndexKey(i)->GetLayout(), m->GetIndexLayout(i));
  }
  RowBuffer row(*m);
  ASSERT_TRUE(m->ReadRowByNumber(number, row.Values));
  EXPECT_TRUE(m->HasRowTextKeys(row.Values, number, 1));
  EXPECT_TRUE(m->HasRowKey(row.Values, number, 2));
  // The renumbered indexes take new keys in their own trees.
  int32_t added = Insert({2, "second", 6, "beta"});
  RowBuffer probe(*m);
  RowBuffer found(*m);
  probe.Values.GetItem(cName)->SetAsString("second");
  probe.Values.GetItem(cQty)->SetAsInteger(6);
  ASSERT_TRUE(m->FindRowByKey(found.Values, probe.Values, 2, false));
  EXPECT_EQ(m->GetIndexNavigator(2)->GetRowNumber(), added);
}

// ---------------------------------------------------------------------------
// Column values

enum OrderColumn : int32_t { oID, oTicket, oGiven, oPrice, oTotal, oNote };

struct TableManagerValuesTest : ::testing::Test {
  TestDatabaseFiles Database;
  TestSession A{Database};
  TBRNBaseTable* Orders = nullptr;
  TBRNTableManager* m = nullptr;

  // Ticket: identity ALWAYS from 100 by 10; Given: identity BY DEFAULT;
  // Total: generated Price * 2; Note: DEFAULT Total + 1.
  void SetUp() override {
    Orders = A.Environment.AddTable("Orders", {{"ID", dtInteger},
                                               {"Ticket", dtInteger},
                                               {"Given", dtInteger},
                                               {"Price", dtInteger},
                                               {"Total", dtInteger},
                                               {"Note", dtInteger}});
    TBRNColumn* ticket = Orders->Columns->GetItem(oTicket);
    ticket->SetIdentity(true);
    ticket->SetIdentitySeed(100);
    ticket->SetIdentityIncrement(10);
    TBRNColumn* given = Orders->Columns->GetItem(oGiven);
    given->SetIdentity(true);
    given->SetIdentityByDefault(true);
    TBRNColumn* total = Orders->Columns->GetItem(oTotal);
    total->SetGenerated(true);
    total->GeneratedExpr->SetText("Price * 2");
    TBRNColumn* note = Orders->Columns->GetItem(oNote);
    note->SetHasDefault(true);
    note->DefaultExpr->SetText("Total + 1");
    A.Environment.Finish(Orders);
    m = A.Open(Orders);
  }

  // Writes values as a new row, flushed as a row change is.
  void Write(TBRNRowValues& values) {
    {
      TBRNTableOperation operation(m->GetRowsetManager());
      int32_t number = 0;
      int32_t counter = 0;
      m->GetRowNavigator()->InsertRow(m->GetRowsetManager()->NextVersion(), values, number,
                                      counter);
      operation.Commit();
    }
    m->FlushFiles(true);
  }

  static std::optional<int32_t> At(const TBRNRowValues& values, int32_t column) {
    const TBRNValue* value = values.GetItem(column);
    if (value->GetNull()) return std::nullopt;
    return value->GetAsInteger();
  }
};

TEST_F(TableManagerValuesTest, IdentityValuesContinueAfterAReopen) {
  std::vector<int32_t> tickets;
  for (int32_t id = 1; id <= 2; ++id) {
    RowBuffer row(*m);
    row.Values.GetItem(oID)->SetAsInteger(id);
    row.Values.GetItem(oTicket)->SetAsInteger(5);  // ALWAYS: a given value is replaced
    m->AssignIdentityValues(row.Values);
    tickets.push_back(*At(row.Values, oTicket));
    Write(row.Values);
  }
  m->ForceClose();
  m = A.Open(Orders);
  RowBuffer row(*m);
  row.Values.GetItem(oGiven)->SetAsInteger(77);  // BY DEFAULT: a given value stays
  m->AssignIdentityValues(row.Values);
  tickets.push_back(*At(row.Values, oTicket));
  EXPECT_EQ(tickets, (std::vector<int32_t>{110, 120, 130}));
  EXPECT_EQ(At(row.Values, oGiven), 77);
}

TEST_F(TableManagerValuesTest, DefaultValuesSeeTheGeneratedValuesComputedBeforeThem) {
  RowBuffer row(*m);
  row.Values.GetItem(oPrice)->SetAsInteger(4);
  // The order of an insert: identity, generated, DEFAULT.
  m->AssignIdentityValues(row.Values);
  m->ComputeGeneratedColumns(row.Values, true);
  m->ComputeColumns(row.Values);
  EXPECT_EQ(At(row.Values, oTotal), 8);
  EXPECT_EQ(At(row.Values, oNote), 9);

  RowBuffer given(*m);
  given.Values.GetItem(oPrice)->SetAsInteger(4);
  given.Values.GetItem(oNote)->SetAsInteger(1);
  m->ComputeColumns(given.Values);
  EXPECT_EQ(At(given.Values, oNote), 1) << "only NULL columns take their DEFAULT";
}

TEST_F(TableManagerValuesTest, AGeneratedValueIsRecomputedWhenASourceColumnChanges) {
  RowBuffer row(*m);
  row.Values.GetItem(oPrice)->SetAsInteger(4);
  row.Values.GetItem(oTotal)->SetAsInteger(99);  // as if stored so
  row.Values.ClearModified();
  m->ComputeGeneratedColumns(row.Values, false);
  EXPECT_EQ(At(row.Values, oTotal), 99) << "nothing it reads changed";
  row.Values.GetItem(oPrice)->SetAsInteger(5);
  m->ComputeGeneratedColumns(row.Values, false);
  EXPECT_EQ(At(row.Values, oTotal), 10);
}

TEST_F(TableManagerValuesTest, AlterationAndKeptValuesLimitWhatIsAssigned) {
  struct Case {
    std::string Name;
    bool Keep;
    bool Filling;
    bool NewColumnsOnly;
    std::optional<int32_t> Ticket, Total, Note;
  };
  // Ticket and Total are new columns of the alteration.
  Orders->Columns->GetItem(oTicket)->AlterSourcePosition = -1;
  Orders->Columns->GetItem(oTotal)->AlterSourcePosition = -1;
  const std::vector<Case> cases = {
      {"insert", false, false, false, 110, 8, 9},
      {"kept values", true, false, false, std::nullopt, 8, std::nullopt},
      {"alteration", false, true, false, std::nullopt, std::nullopt, std::nullopt},
      {"new columns", false, true, true, 120, 8, std::nullopt},
  };
  for (const Case& c : cases) {
    m->KeepGivenValues = c.Keep;
    m->FillingByAlteration = c.Filling;
    m->AlterationFillsNewColumns = c.NewColumnsOnly;
    RowBuffer row(*m);
    row.Values.GetItem(oPrice)->SetAsInteger(4);
    m->AssignIdentityValues(row.Values);
    m->ComputeGeneratedColumns(row.Values, true);
    m->ComputeColumns(row.Values);
    EXPECT_EQ(At(row.Values, oTicket), c.Ticket) << c.Name;
    EXPECT_EQ(At(row.Values, oTotal), c.Total) << c.Name;
    EXPECT_EQ(At(row.Values, oNote), c.Note) << c.Name;
  }
}

}  // namespace
}  // namespace brn::testing
