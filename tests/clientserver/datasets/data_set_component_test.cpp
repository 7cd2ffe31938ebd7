#include "clientserver/components/data_set_component.h"

#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/components/component_error.h"
#include "clientserver/components/query_component.h"
#include "clientserver/datasets/dataset_test_support.h"
#include "clientserver/remote/remote_cursor.h"
#include "foundation/text/exception.h"
#include "sessions/manager_interfaces.h"
#include "sessions/session_manager.h"

namespace brn {
namespace {

using test::ExpectDatabaseError;
using test::StatementDataSet;

// A dataset bound by name to a session and database, over one SELECT.
class NamedDataSet : public TBRNDBDataSet {
 public:
  NamedDataSet(const std::string& session, const std::string& database, const std::string& sql)
      : TBRNDBDataSet(nullptr), sql_(sql) {
    SetSessionName(session);
    SetDatabaseName(database);
  }
  ~NamedDataSet() override { Close(); }

 protected:
  TBRNCursor* CreateCursor() override {
    if (GetHandedCursor() != nullptr) return GetHandedCursor();
    statement_.reset(GetDatabase()->GetHandle()->PrepareStatement(sql_));
    return statement_->ExecuteStatement();
  }
  void DestroyCursor() override {
    TBRNDBDataSet::DestroyCursor();
    statement_.reset();
  }

 private:
  std::string sql_;
  std::unique_ptr<TBRNStatementManager> statement_;
};

// Session "S1" with the table Items(ID primary key, Name, Qty) of rowCount
// rows in "Shop": ID 1..n, Name "N<id>", Qty id * 10.
class DataSetComponentTest : public test::ShopDatabaseTest {
 protected:
  void SetUp() override {
    ShopDatabaseTest::SetUp();
    Run("CREATE TABLE Items (ID INTEGER NOT NULL, Name VARCHAR(20), Qty INTEGER, "
        "PRIMARY KEY (ID))");
  }

  void Fill(int32_t rowCount) {
    for (int32_t id = 1; id <= rowCount; ++id)
      Run("INSERT INTO Items VALUES (" + std::to_string(id) + ", 'N" + std::to_string(id) +
          "', " + std::to_string(id * 10) + ")");
  }
  std::unique_ptr<StatementDataSet> Items(const std::string& sql = "SELECT * FROM Items") {
    return std::make_unique<StatementDataSet>(*Database, sql);
  }
};

TEST_P(DataSetComponentTest, EmptyAndOneRowCursors) {
  auto empty = Items();
  empty->Open();
  EXPECT_TRUE(empty->IsEmpty());
  EXPECT_TRUE(empty->GetBof());
  EXPECT_TRUE(empty->GetEof());
  EXPECT_EQ(empty->GetRecord(empty->ActiveBuffer(), gmCurrent), grError);
  EXPECT_EQ(empty->GetRecordCount(), 0);
  EXPECT_TRUE(empty->FieldByName("Name").IsNull());
  empty->Close();

  Fill(1);
  auto one = Items();
  one->Open();
  EXPECT_FALSE(one->IsEmpty());
  EXPECT_EQ(one->FieldByName("ID").GetAsInteger(), 1);
  EXPECT_EQ(one->FieldByName("Name").GetAsString(), "N1");
  // The first row came from the cursor's resting position; the cursor stays
  // on it, so the current record rereads it.
  EXPECT_EQ(one->GetRecord(one->TempBuffer(), gmCurrent), grOK);
  one->Next();
  EXPECT_TRUE(one->GetEof());
  EXPECT_EQ(one->FieldByName("Qty").GetAsInteger(), 10);
  EXPECT_EQ(one->GetRecordCount(), 1);
}

TEST_P(DataSetComponentTest, FieldDefinitionsFollowTheColumns) {
  auto items = Items();
  items->Open();
  struct Case {
    const char* name;
    TFieldType type;
    int32_t size;
    int32_t fieldNo;
  };
  const Case cases[] = {{"ID", ftInteger, 0, 1}, {"Name", ftString, 20, 2}, {"Qty", ftInteger, 0, 3}};
  ASSERT_EQ(items->GetFieldCount(), 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TField& field = items->FieldByName(c.name);
    EXPECT_EQ(field.DataType, c.type);
    EXPECT_EQ(field.Size, c.size);
    EXPECT_EQ(field.FieldNo, c.fieldNo);
    EXPECT_EQ(field.FieldKind, fkData);
  }
}

TEST_P(DataSetComponentTest, ScrollsBothWaysWithRecNo) {
  Fill(25);
  auto items = Items();
  items->Open();
  std::vector<int64_t> forward;
  while (!items->GetEof()) {
    forward.push_back(items->FieldByName("ID").GetAsInteger());
    EXPECT_EQ(items->GetRecNo(), int32_t(forward.size()));
    items->Next();
  }
  ASSERT_EQ(forward.size(), 25u);
  for (size_t i = 0; i < forward.size(); ++i) EXPECT_EQ(forward[i], int64_t(i + 1));

  items->Last();
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 25);
  int32_t backward = 0;
  while (!items->GetBof()) {
    ++backward;
    items->Prior();
  }
  EXPECT_EQ(backward, 25);
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 1);

  // RecNo reports what SetRecNo moved to.
  items->SetRecNo(17);
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 17);
  EXPECT_EQ(items->GetRecNo(), 17);
  EXPECT_EQ(items->MoveBy(3), 3);
  EXPECT_EQ(items->GetRecNo(), 20);
}

TEST_P(DataSetComponentTest, Bookmarks) {
  Fill(5);
  auto items = Items();
  items->Open();
  items->MoveBy(2);
  TBookmark third = items->GetBookmark();
  ASSERT_EQ(int32_t(third.size()), items->GetBookmarkSize());
  items->Last();
  TBookmark fifth = items->GetBookmark();
  items->GotoBookmark(third);
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 3);
  EXPECT_TRUE(items->BookmarkValid(&fifth));

  struct Case {
    const TBookmark* first;
    const TBookmark* second;
    int32_t expected;
  };
  const Case cases[] = {{nullptr, nullptr, 0}, {&third, nullptr, -1}, {nullptr, &third, 1},
                        {&third, &third, 0},   {&third, &fifth, -1}, {&fifth, &third, 1}};
  for (const Case& c : cases) EXPECT_EQ(items->CompareBookmarks(c.first, c.second), c.expected);
}

TEST_P(DataSetComponentTest, EditInsertCancelDelete) {
  Fill(3);
  auto items = Items();
  items->Open();
  ExpectDatabaseError([&] { items->FieldByName("Qty").SetAsInteger(1); },
                      "Table is not in edit or insert mode");
  std::vector<std::string> changed;
  items->FieldByName("Qty").OnChange = [&](TField& field) { changed.push_back(field.FieldName); };

  items->Edit();
  items->FieldByName("Qty").SetAsInteger(111);
  items->Post();
  EXPECT_EQ(changed, std::vector<std::string>{"Qty"});
  EXPECT_EQ(items->GetState(), dsBrowse);
  EXPECT_EQ(items->FieldByName("Qty").GetAsInteger(), 111);

  items->Next();
  items->Edit();
  items->FieldByName("Name").SetAsString("changed");
  items->Cancel();
  EXPECT_EQ(items->FieldByName("Name").GetAsString(), "N2");

  items->Insert();
  items->FieldByName("ID").SetAsInteger(9);
  items->FieldByName("Name").SetAsString("nine");
  items->Post();
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 9);
  EXPECT_EQ(items->GetRecordCount(), 4);

  items->First();
  items->Delete();
  EXPECT_EQ(items->GetRecordCount(), 3);
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 2);

  // A second dataset sees what the first posted.
  auto other = Items("SELECT * FROM Items WHERE ID = 9");
  other->Open();
  EXPECT_EQ(other->FieldByName("Name").GetAsString(), "nine");
}

TEST_P(DataSetComponentTest, CalculatedFieldsLiveInTheRecordBuffer) {
  Fill(2);
  auto items = Items();
  TField& doubled = items->AddCalculatedField("Doubled", ftInteger, 0, fkCalculated);
  items->OnCalcFields = [&](TDataSet& dataSet) {
    doubled.SetAsInteger(dataSet.FieldByName("Qty").GetAsInteger() * 2);
  };
  items->Open();
  EXPECT_EQ(doubled.GetAsInteger(), 20);
  items->Next();
  EXPECT_EQ(doubled.GetAsInteger(), 40);
  // Outside the calculation the field is not writable in browse state.
  ExpectDatabaseError([&] { doubled.SetAsInteger(1); }, "Table is not in edit or insert mode");
}

TEST_P(DataSetComponentTest, ClosingFreesEveryCursorRow) {
  Fill(3);
  auto items = Items();
  items->Open();
  EXPECT_GT(items->GetCursorRowCount(), 0);
  items->Close();
  EXPECT_EQ(items->GetCursorRowCount(), 0);
  EXPECT_EQ(items->GetCursor(), nullptr);
  items->Open();
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 1);
}

TEST_P(DataSetComponentTest, BlockReadSizeAndReadAhead) {
  auto items = Items();
  items->Open();
  items->SetBlockReadSize(0);
  EXPECT_EQ(items->GetReadAheadRows(), 10);
  items->SetBlockReadSize(50);
  EXPECT_EQ(items->GetReadAheadRows(), 50);
  EXPECT_EQ(items->GetState(), dsBlockRead);
  items->SetBlockReadSize(0);
  EXPECT_EQ(items->GetReadAheadRows(), 50);
  EXPECT_EQ(items->GetState(), dsBrowse);
}

TEST_P(DataSetComponentTest, RemoteScrollingFetchesRowsInBlocks) {
  if (!IsRemote()) GTEST_SKIP() << "requests are counted on the wire";
  Run("CREATE TABLE Many (ID INTEGER NOT NULL, PRIMARY KEY (ID))");
  for (int32_t base = 0; base < 1000; base += 100) {
    std::string sql = "INSERT INTO Many VALUES ";
    for (int32_t id = base + 1; id <= base + 100; ++id)
      sql += (id > base + 1 ? ", (" : "(") + std::to_string(id) + ")";
    Run(sql);
  }
  std::atomic<int32_t> requests{0};
  Session->SetRemoteTrace(true);
  Session->OnRemoteTrace = [&](TComponent*, const TBRNRemoteTrace& trace) {
    if (trace.ReplyCode == -1) ++requests;
  };
  auto many = Items("SELECT * FROM Many");
  many->Open();
  requests = 0;
  int32_t rows = 0;
  while (!many->GetEof()) {
    ++rows;
    many->Next();
  }
  EXPECT_EQ(rows, 1000);
  EXPECT_GT(requests.load(), 0);
  EXPECT_LE(requests.load(), 101);
  Session->OnRemoteTrace = nullptr;
}

// The IDs the dataset shows from its first record on.
std::vector<int64_t> VisibleIds(TDataSet& dataSet) {
  std::vector<int64_t> ids;
  dataSet.First();
  while (!dataSet.GetEof()) {
    ids.push_back(dataSet.FieldByName("ID").GetAsInteger());
    dataSet.Next();
  }
  return ids;
}

TEST_P(DataSetComponentTest, FilterTextAndRecordFilter) {
  Fill(10);
  auto items = Items();
  items->Open();
  // Filtered without text and handler: no engine filter, still at the first record.
  items->Next();
  items->SetFiltered(true);
  EXPECT_EQ(items->GetFilterHandle(), 0);
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 1);

  items->SetFilterText("Qty > 40");
  EXPECT_NE(items->GetFilterHandle(), 0);
  EXPECT_EQ(VisibleIds(*items), (std::vector<int64_t>{5, 6, 7, 8, 9, 10}));
  items->SetOnFilterRecord([](TDataSet& dataSet, bool& accept) {
    EXPECT_EQ(dataSet.GetState(), dsFilter);
    accept = dataSet.FieldByName("ID").GetAsInteger() % 2 == 0;
  });
  EXPECT_EQ(VisibleIds(*items), (std::vector<int64_t>{6, 8, 10}));
  items->SetFiltered(false);
  EXPECT_EQ(VisibleIds(*items).size(), 10u);

  // Closing drops the engine filter; reopening filtered builds a new one.
  items->SetFiltered(true);
  items->Close();
  EXPECT_EQ(items->GetFilterHandle(), 0);
  items->Open();
  EXPECT_NE(items->GetFilterHandle(), 0);
  EXPECT_EQ(VisibleIds(*items), (std::vector<int64_t>{6, 8, 10}));
}

TEST_P(DataSetComponentTest, FindFiltersOnlyTheSearch) {
  Fill(10);
  auto items = Items();
  items->SetFilterText("Qty >= 30");
  items->SetOnFilterRecord([](TDataSet& dataSet, bool& accept) {
    accept = dataSet.FieldByName("ID").GetAsInteger() != 4;
  });
  items->Open();
  EXPECT_TRUE(items->FindFirst());
  EXPECT_TRUE(items->GetFound());
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 3);
  EXPECT_TRUE(items->FindNext());
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 5);
  EXPECT_TRUE(items->FindLast());
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 10);
  // Between searches every record is visible again.
  items->Prior();
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 9);
  EXPECT_EQ(VisibleIds(*items).size(), 10u);
  items->Last();
  EXPECT_FALSE(items->FindNext());
  EXPECT_FALSE(items->GetFound());
}

TEST_P(DataSetComponentTest, LocateAndLookup) {
  Run("CREATE TABLE People (ID INTEGER NOT NULL, First VARCHAR(20), Last VARCHAR(20), "
      "Age INTEGER, PRIMARY KEY (ID))");
  Run("INSERT INTO People VALUES (1, 'Ann', 'Berg', 30)");
  Run("INSERT INTO People VALUES (2, 'Bob', 'Berg', NULL)");
  Run("INSERT INTO People VALUES (3, 'Bob', 'Carlson', 123)");
  auto people = Items("SELECT * FROM People");
  people->Open();
  struct Case {
    const char* fields;
    std::vector<TVariant> values;
    TLocateOptions options;
    int64_t expectedId;  // 0: not found
  };
  const Case cases[] = {
      // Three fields, two values: Age must be NULL.
      {"First;Last;Age", {TVariant::FromString("Bob"), TVariant::FromString("Berg")}, {}, 2},
      {"Last", {TVariant::FromString("Carlson")}, {}, 3},
      {"Last", {TVariant::FromString("carlson")}, {true, false}, 3},
      {"Last", {TVariant::FromString("carlson")}, {}, 0},
      {"Last", {TVariant::FromString("Carl")}, {false, true}, 3},
      {"Last", {TVariant::FromString("Carl")}, {}, 0},
      // A partial key on an integer compares whole values.
      {"Age", {TVariant::FromInteger(12)}, {false, true}, 0},
      {"Age", {TVariant::FromInteger(123)}, {false, true}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fields) + " " + std::to_string(c.expectedId));
    people->First();
    const bool found = people->Locate(c.fields, c.values, c.options);
    EXPECT_EQ(found, c.expectedId != 0);
    if (found) {
      EXPECT_EQ(people->FieldByName("ID").GetAsInteger(), c.expectedId);
    }
  }
  ExpectDatabaseError([&] { people->Locate(" ", TVariant::FromInteger(1), {}); },
                      "No fields specified for locate");

  people->First();
  TVariant age = people->Lookup("ID", {TVariant::FromInteger(3)}, "Age");
  EXPECT_EQ(age.AsInteger(), 123);
  EXPECT_TRUE(people->Lookup("ID", {TVariant::FromInteger(7)}, "Age").IsEmptyOrNull());
  // The visible record did not change.
  EXPECT_EQ(people->FieldByName("ID").GetAsInteger(), 1);
  people->Next();
  EXPECT_EQ(people->FieldByName("ID").GetAsInteger(), 2);
}

TEST_P(DataSetComponentTest, DatabaseIsHeldWhileOpen) {
  Fill(3);
  Session->KeepConnections = false;
  NamedDataSet items("S1", "Shop", "SELECT * FROM Items");
  EXPECT_EQ(Session->FindDatabase("Shop"), nullptr);
  items.Open();
  TBRNDatabase* database = Session->FindDatabase("Shop");
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(items.GetDatabase(), database);
  EXPECT_TRUE(database->GetTemporary());
  EXPECT_EQ(database->GetUseCount(), 1);
  ExpectDatabaseError([&] { items.SetDatabaseName("Other"); },
                      "Cannot perform this operation on an open dataset");
  items.Close();
  EXPECT_EQ(items.GetDatabase(), nullptr);
  EXPECT_EQ(Session->FindDatabase("Shop"), nullptr);

  // Closing the database cancels the dataset's edit and closes it.
  items.Open();
  items.Edit();
  items.FieldByName("Qty").SetAsInteger(999);
  Session->KeepConnections = true;
  Session->FindDatabase("Shop")->SetKeepConnection(true);
  Session->FindDatabase("Shop")->Close();
  EXPECT_FALSE(items.GetActive());
  items.Open();
  EXPECT_EQ(items.FieldByName("Qty").GetAsInteger(), 10);

  NamedDataSet unknown("Nowhere", "Shop", "SELECT * FROM Items");
  ExpectDatabaseError([&] { unknown.Open(); }, "Session name 'Nowhere' is not valid");
  EXPECT_FALSE(unknown.GetActive());
}

TEST_P(DataSetComponentTest, PessimisticLockBlocksASecondSessionUntilPost) {
  Fill(2);
  std::unique_ptr<TBRNSession> one = NewSession("S2");
  std::unique_ptr<TBRNSession> two = NewSession("S3");
  for (TBRNSession* session : {one.get(), two.get()}) {
    session->SetRecordLockProtocol(lpPessimistic);
    session->SetRecordLockRetryCount(2);
    session->SetRecordLockWaitTime(10);
  }
  NamedDataSet first("S2", "Shop", "SELECT * FROM Items");
  NamedDataSet other("S3", "Shop", "SELECT * FROM Items");
  first.Open();
  other.Open();
  first.Edit();
  first.FieldByName("Name").SetAsString("first");
  EXPECT_THROW(other.Edit(), EBRNError);
  EXPECT_EQ(other.GetState(), dsBrowse);
  first.Post();
  other.Edit();
  EXPECT_EQ(other.FieldByName("Name").GetAsString(), "first");
  other.FieldByName("Name").SetAsString("second");
  other.Post();
  other.Close();
  first.Refresh();
  EXPECT_EQ(first.FieldByName("Name").GetAsString(), "second");
  first.Close();
}

TEST_P(DataSetComponentTest, CopyOnAppendStartsFromTheCurrentRow) {
  Fill(3);
  struct Case {
    bool copyOnAppend;
    int32_t moveBy;
    const char* expectedName;  // nullptr: NULL
  };
  const Case cases[] = {{true, 1, "N2"}, {false, 1, nullptr}, {true, 2, "N3"}};
  int32_t newId = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.copyOnAppend) + " " + std::to_string(c.moveBy));
    auto items = Items();
    items->CopyOnAppend = c.copyOnAppend;
    items->Open();
    items->MoveBy(c.moveBy);
    items->Insert();
    TField& name = items->FieldByName("Name");
    if (c.expectedName == nullptr) {
      EXPECT_TRUE(name.IsNull());
    } else {
      EXPECT_EQ(name.GetAsString(), c.expectedName);
    }
    items->FieldByName("ID").SetAsInteger(++newId);
    items->Post();
    auto stored = Items("SELECT * FROM Items WHERE ID = " + std::to_string(newId));
    stored->Open();
    EXPECT_EQ(stored->FieldByName("Name").IsNull(), c.expectedName == nullptr);
  }
  // An empty dataset has no row to copy.
  Run("DELETE FROM Items");
  auto empty = Items();
  empty->CopyOnAppend = true;
  empty->Open();
  empty->Insert();
  EXPECT_TRUE(empty->FieldByName("Name").IsNull());
  empty->Cancel();
}

TEST_P(DataSetComponentTest, RecordReadsRaiseTheReadAheadForTheCall) {
  if (!IsRemote()) GTEST_SKIP() << "only the remote cursor reads ahead";
  Fill(5);
  auto items = Items();
  std::vector<int32_t> during;
  items->OnCalcFields = [&](TDataSet& dataSet) {
    auto* remote = dynamic_cast<TBRNRemoteCursor*>(static_cast<TBRNDataSet&>(dataSet).GetCursor());
    during.push_back(remote->RowsPerBlock);
  };
  items->Open();
  items->SetBlockReadSize(1);
  items->SetBlockReadSize(0);
  ASSERT_EQ(items->GetReadAheadRows(), 1);
  auto* remote = dynamic_cast<TBRNRemoteCursor*>(items->GetCursor());
  ASSERT_NE(remote, nullptr);
  during.clear();
  items->Last();
  items->First();
  // The two record buffers are read ahead during First and Last, a single
  // step reads one row.
  EXPECT_EQ(during, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(remote->RowsPerBlock, 1);
  items->Next();
  EXPECT_EQ(during.back(), 1);
}

TEST_P(DataSetComponentTest, FieldsTakeTheOriginOfTheirTableColumn) {
  Fill(2);
  auto items = Items("SELECT ID, Name, Qty * 2 AS Twice FROM Items ORDER BY Name DESC");
  items->AddCalculatedField("Calc", ftInteger, 0, fkCalculated);
  items->Open();
  struct Case {
    const char* field;
    const char* origin;
  };
  const Case cases[] = {{"ID", "Items.ID"}, {"Name", "Items.Name"}, {"Twice", ""}, {"Calc", ""}};
  for (const Case& c : cases) EXPECT_EQ(items->FieldByName(c.field).Origin, c.origin) << c.field;
}

// An update object that only remembers its dataset.
class RecordingUpdateObject : public TBRNDataSetUpdateObject {
 public:
  RecordingUpdateObject() : TBRNDataSetUpdateObject(nullptr) {}
  TDataSet* GetDataSet() const override { return dataSet_; }
  void SetDataSet(TDataSet* dataSet) override { dataSet_ = dataSet; }
  void Apply(TUpdateKind) override {}

 private:
  TDataSet* dataSet_ = nullptr;
};

TEST_P(DataSetComponentTest, UpdateObjectFollowsTheQuery) {
  auto first = std::make_unique<RecordingUpdateObject>();
  auto second = std::make_unique<RecordingUpdateObject>();
  auto query = std::make_unique<TBRNQuery>(nullptr);
  query->SetUpdateObject(first.get());
  EXPECT_EQ(first->GetDataSet(), query.get());
  query->SetUpdateObject(second.get());
  EXPECT_EQ(first->GetDataSet(), nullptr);
  EXPECT_EQ(second->GetDataSet(), query.get());
  // Freeing the query leaves its update object without a dataset.
  query.reset();
  EXPECT_EQ(second->GetDataSet(), nullptr);
  // Freeing the update object leaves the query without one.
  query = std::make_unique<TBRNQuery>(nullptr);
  query->SetUpdateObject(first.get());
  first.reset();
  EXPECT_EQ(query->GetUpdateObject(), nullptr);
}

TEST_P(DataSetComponentTest, ProviderAnswersAndUpdateRecord) {
  auto items = Items();
  EXPECT_TRUE(items->PSIsSQLSupported());
  EXPECT_FALSE(items->PSIsSQLBased());
  EXPECT_EQ(items->PSGetQuoteChar(), "\"");

  const EUpdateError previous("earlier", "", 77, 0, nullptr);
  const EBRNException engine(300, "engine");
  const EBRNError wrapped(EBRNException(301, "wrapped"));
  const std::runtime_error plain("plain");
  struct Case {
    const std::exception& error;
    std::exception_ptr thrown;
    const EUpdateError* previous;
    int32_t code;
    int32_t previousCode;
  };
  const Case cases[] = {
      {engine, std::make_exception_ptr(engine), nullptr, 300, 0},
      {wrapped, std::make_exception_ptr(wrapped), &previous, 301, 77},
      {plain, std::make_exception_ptr(plain), &previous, 0, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error.what());
    std::unique_ptr<EUpdateError> error = items->PSGetUpdateException(c.thrown, c.previous);
    EXPECT_EQ(std::string(error->what()), c.error.what());
    EXPECT_EQ(error->Context, "");
    EXPECT_EQ(error->ErrorCode, c.code);
    EXPECT_EQ(error->PreviousError, c.previousCode);
    EXPECT_EQ(error->OriginalException, c.thrown);
  }

  EXPECT_FALSE(items->PSUpdateRecord(ukModify, *items));
  std::vector<TUpdateKind> kinds;
  for (TUpdateAction answer : {uaApplied, uaFail, uaSkip}) {
    items->OnUpdateRecord = [&](TDataSet& delta, TUpdateKind kind, TUpdateAction& action) {
      EXPECT_EQ(&delta, items.get());
      EXPECT_EQ(action, uaFail);
      kinds.push_back(kind);
      action = answer;
    };
    EXPECT_EQ(items->PSUpdateRecord(ukInsert, *items), answer == uaApplied);
  }
  EXPECT_EQ(kinds.size(), 3u);

  // Reset refreshes the cursor when there is one.
  items->PSReset();
  Fill(2);
  items->Open();
  Run("INSERT INTO Items VALUES (3, 'N3', 30)");
  items->PSReset();
  items->Last();
  EXPECT_EQ(items->FieldByName("ID").GetAsInteger(), 3);
}

TEST_P(DataSetComponentTest, ProviderStatementsAndTransactions) {
  Fill(3);
  TBRNQuery query(nullptr);
  query.SetSessionName("S1");
  query.SetDatabaseName("Shop");
  EXPECT_FALSE(query.PSInTransaction());

  query.PSStartTransaction();
  ASSERT_NE(query.GetDatabase(), nullptr);
  EXPECT_TRUE(query.PSInTransaction());
  TParams params;
  params.CreateParam(ftInteger, "ID", ptUnknown).SetValue(TVariant::FromInteger(2));
  EXPECT_EQ(query.PSExecuteStatement("DELETE FROM Items WHERE ID = :ID", &params), 1);
  EXPECT_EQ(params.Get(0).ParamType, ptInput);
  query.PSEndTransaction(false);
  EXPECT_FALSE(query.PSInTransaction());
  EXPECT_EQ(query.GetDatabase(), nullptr);

  std::unique_ptr<TBRNQuery> rows;
  query.PSExecuteStatement("SELECT * FROM Items WHERE ID = 2", nullptr, &rows);
  ASSERT_NE(rows, nullptr);
  EXPECT_TRUE(rows->GetActive());
  EXPECT_EQ(rows->FieldByName("Name").GetAsString(), "N2");
  rows.reset();
  EXPECT_EQ(query.GetDatabase(), nullptr);

  query.PSStartTransaction();
  EXPECT_EQ(query.PSExecuteStatement("UPDATE Items SET Qty = 0", nullptr), 3);
  query.PSEndTransaction(true);
  auto items = Items("SELECT * FROM Items WHERE Qty = 0");
  items->Open();
  EXPECT_EQ(items->GetRecordCount(), 3);

  // A failed start gives the database back.
  query.SetDatabaseName("Nowhere");
  EXPECT_ANY_THROW(query.PSStartTransaction());
  EXPECT_EQ(query.GetDatabase(), nullptr);
  EXPECT_EQ(Session->FindDatabase("Nowhere"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sessions, DataSetComponentTest, ::testing::Values(stLocal, stRemote),
                         test::SessionTypeName);

}  // namespace
}  // namespace brn
