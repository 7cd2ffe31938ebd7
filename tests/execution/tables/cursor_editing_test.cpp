// Rows inserted, updated and deleted through local cursors: the stored
// rows after a reopen, refused rows that write nothing, the constrained
// cursor, read-only cursors and the cursor's table transactions.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "execution/tables/cursor_editing_test_support.h"

namespace brn::testing {
namespace {

struct CursorEditingTest : ::testing::Test {
  CursorFactoryRegistration Factory;
  TempFolder Folder;
  std::unique_ptr<EditSession> A;

  void SetUp() override {
    A = std::make_unique<EditSession>(Folder.Path);
    CreateParts(*A);
  }
};

TEST_F(CursorEditingTest, InsertsUpdatesAndDeletesSurviveAReopen) {
  {
    std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
    PartRow row(*cursor);
    row.New(1, "part1");
    EXPECT_EQ(row.Get("Qty"), 5) << "InitializeRow computes the DEFAULT";
    for (int32_t id = 1; id <= 1000; ++id) {
      row.New(id, "part" + std::to_string(id));
      ASSERT_TRUE(cursor->InsertRow(*row.Row)) << id;
      ASSERT_EQ(CurrentID(*cursor), id) << "the cursor stands on the row it inserted";
      ASSERT_GT(row.Row->RowNumber, 0);
    }
    for (int32_t id = 100; id <= 1000; id += 100) {
      ASSERT_TRUE(FindID(*cursor, id));
      row.Edit().Set("Qty", id + 1);
      ASSERT_TRUE(cursor->UpdateRow(*row.Row)) << id;
      EXPECT_EQ(CurrentID(*cursor), id);
    }
    for (int32_t id : {1, 2, 500, 999, 1000}) {
      ASSERT_TRUE(FindID(*cursor, id));
      row.Current();
      ASSERT_TRUE(cursor->DeleteRow(*row.Row)) << id;
      EXPECT_EQ(row.Row->RowStatus, kRowDeleted);
    }
    EXPECT_EQ(cursor->GetRowCount(), 995);
    // After deleting the last key the cursor stands on the one before it.
    EXPECT_EQ(CurrentID(*cursor), 998);
  }
  A.reset();

  EditSession b(Folder.Path);
  std::unique_ptr<TBRNLocalCursor> cursor = b.Cursor(true);
  EXPECT_EQ(cursor->GetRowCount(), 995);
  PartRow row(*cursor);
  for (int32_t id : {3, 100, 700, 998}) {
    ASSERT_TRUE(FindID(*cursor, id)) << id;
    row.Current();
    EXPECT_EQ(row.Text("Name"), "part" + std::to_string(id));
    EXPECT_EQ(row.Get("Qty"), id % 100 == 0 ? id + 1 : 5) << id;
  }
  for (int32_t id : {1, 2, 500, 999, 1000}) EXPECT_FALSE(FindID(*cursor, id)) << id;
}

// Each refused change leaves the table as it was: no row, the same change
// count, the stored row unchanged, and the failure logged with the
// operation's code.
TEST_F(CursorEditingTest, ARefusedRowWritesNothing) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  PartRow row(*cursor);
  for (int32_t id : {1, 2, 3}) {
    row.New(id, "p" + std::to_string(id));
    ASSERT_TRUE(cursor->InsertRow(*row.Row));
  }
  struct Case {
    const char* Name;
    TBRNOperationCode Code;
    std::function<bool(PartRow&)> Change;
  };
  auto update = [&](int32_t id, const std::function<void(PartRow&)>& set) {
    return [&cursor, id, set](PartRow& r) {
      if (!FindID(*cursor, id)) throw std::logic_error("no row");
      r.Edit();
      set(r);
      return cursor->UpdateRow(*r.Row);
    };
  };
  const std::vector<Case> cases = {
      {"CHECK on insert", kOpInsertRow,
       [&](PartRow& r) { return cursor->InsertRow(*r.New(4, "p4").Set("Qty", -1).Row); }},
      {"duplicate key on insert", kOpInsertRow,
       [&](PartRow& r) { return cursor->InsertRow(*r.New(2, "again").Row); }},
      {"NOT NULL on insert", kOpInsertRow,
       [&](PartRow& r) {
         r.New(5, "p5").Value("Name")->SetNull(true);
         return cursor->InsertRow(*r.Row);
       }},
      {"CHECK on update", kOpUpdateRow, update(2, [](PartRow& r) { r.Set("Qty", -7); })},
      {"duplicate key on update", kOpUpdateRow, update(3, [](PartRow& r) { r.Set("ID", 1); })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TBRNVirtualTableManager& manager = cursor->GetTableManager();
    const int64_t changes = manager.GetChangeCount();
    const size_t logged = ReadLog(*A->Session).size();
    PartRow probe(*cursor);
    EXPECT_EQ(CodeOf([&] { c.Change(probe); }), 1004);
    EXPECT_EQ(manager.GetChangeCount(), changes);
    EXPECT_EQ(cursor->GetRowCount(), 3);
    std::vector<TBRNLogEvent> errors = ErrorsAfter(*A->Session, logged);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().Function, c.Code);
  }
  // The rows are as they were, and a failed update ended its edit lock.
  std::vector<int32_t> ids;
  for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow()) {
    PartRow r(*cursor);
    r.Current();
    EXPECT_EQ(r.Get("Qty"), 5);
    ids.push_back(r.Get("ID"));
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(static_cast<TBRNTableManager&>(cursor->GetTableManager()).GetRowLocks()->Count(), 0);
}

TEST_F(CursorEditingTest, AConstrainedCursorRefusesRowsOutsideItsFilter) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor();
  PartRow row(*cursor);
  for (int32_t id : {1, 2}) ASSERT_TRUE(cursor->InsertRow(*row.New(id, "p").Row));
  cursor->ActivateFilter(cursor->CreateFilter("Qty < 10", false, false, false));
  cursor->SetConstrained(true);
  TBRNVirtualTableManager& manager = cursor->GetTableManager();
  const int64_t changes = manager.GetChangeCount();

  EXPECT_EQ(Outcome([&] { cursor->InsertRow(*row.New(3, "p").Set("Qty", 50).Row); }),
            std::make_pair(1009, std::string("The cursor is constrained and this row violates the "
                                             "current cursor constraint condition(s)")));
  ASSERT_TRUE(cursor->FirstRow());
  row.Edit().Set("Qty", 50);
  EXPECT_EQ(CodeOf([&] { cursor->UpdateRow(*row.Row); }), 1009);
  cursor->CancelRow(*row.Row);
  EXPECT_EQ(manager.GetChangeCount(), changes);
  EXPECT_EQ(manager.GetRowCount(), 2);

  // A row that passes goes in, and the filter set follows the cursor's own
  // writes without a rebuild.
  ASSERT_TRUE(cursor->InsertRow(*row.New(4, "p").Set("Qty", 9).Row));
  EXPECT_EQ(cursor->GetRowCount(), 3);
  EXPECT_EQ(CurrentID(*cursor), 4);
  ASSERT_TRUE(cursor->FirstRow());
  row.Current();
  ASSERT_TRUE(cursor->DeleteRow(*row.Row));
  EXPECT_EQ(cursor->GetRowCount(), 2);
  EXPECT_EQ(CurrentID(*cursor), 2);

  // Unconstrained, the same row is written but the cursor does not show it.
  cursor->SetConstrained(false);
  ASSERT_TRUE(cursor->InsertRow(*row.New(5, "p").Set("Qty", 50).Row));
  EXPECT_EQ(manager.GetRowCount(), 3);
  EXPECT_EQ(cursor->GetRowCount(), 2);
  EXPECT_NE(CurrentID(*cursor), 5);
}

TEST_F(CursorEditingTest, AReadOnlyCursorChangesNothing) {
  {
    std::unique_ptr<TBRNLocalCursor> writer = A->Cursor();
    PartRow row(*writer);
    ASSERT_TRUE(writer->InsertRow(*row.New(1, "p").Row));
  }
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(false, true);
  ASSERT_TRUE(cursor->FirstRow());
  PartRow row(*cursor);
  row.Current();
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"insert", [&] { cursor->InsertRow(*row.Row); }},
      {"update", [&] { cursor->UpdateRow(*row.Row); }},
      {"delete", [&] { cursor->DeleteRow(*row.Row); }},
      {"empty", [&] { cursor->EmptyCursor(true); }},
      {"table transaction", [&] { cursor->StartTableTransaction(); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Outcome(call), std::make_pair(1000, std::string("An error occurred with the cursor "
                                                              "Parts (An attempt was made to "
                                                              "update a read-only cursor)")));
  }
  EXPECT_EQ(cursor->GetTotalRowCount(), 1);
}

TEST_F(CursorEditingTest, TableTransactionsAndEmptying) {
  std::unique_ptr<TBRNLocalCursor> cursor = A->Cursor(true);
  PartRow row(*cursor);
  ASSERT_TRUE(cursor->InsertRow(*row.New(1, "kept").Row));

  cursor->StartTableTransaction();
  for (int32_t id = 2; id <= 4; ++id) ASSERT_TRUE(cursor->InsertRow(*row.New(id, "gone").Row));
  EXPECT_EQ(cursor->GetRowCount(), 4);
  cursor->RollbackTableTransaction();
  EXPECT_EQ(cursor->GetRowCount(), 1);
  EXPECT_FALSE(FindID(*cursor, 3));

  cursor->StartTableTransaction();
  ASSERT_TRUE(cursor->InsertRow(*row.New(7, "committed").Row));
  cursor->CommitTableTransaction();
  {
    EditSession b(Folder.Path);
    EXPECT_EQ(b.Cursor()->GetRowCount(), 2) << "another session sees the committed row";
  }

  cursor->EmptyCursor(false);
  EXPECT_EQ(cursor->GetRowCount(), 0);
  EXPECT_EQ(cursor->GetRowNumber(), 0);
  cursor->FirstRow();
  EXPECT_TRUE(cursor->GetBof() && cursor->GetEof());
  ASSERT_TRUE(cursor->InsertRow(*row.New(1, "again").Row)) << "the emptied table takes rows";
  cursor->FlushCursor();
  EXPECT_EQ(cursor->GetRowCount(), 1);
}

}  // namespace
}  // namespace brn::testing
