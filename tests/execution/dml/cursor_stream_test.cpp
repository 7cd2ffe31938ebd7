// The cursor stream between local cursors: its exact size for an empty
// cursor, the length field, a round trip of every kind of column (a 1 MB
// BLOB makes a row block far above the header block limit), loading into
// tables whose columns differ, and the refusals, which load nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <memory>
#include <string>
#include <vector>

#include "execution/cursors/local_cursor.h"
#include "execution/queries/query_test_support.h"
#include "foundation/core/memory_stream.h"
#include "foundation/values/param_value.h"
#include "foundation/text/exception.h"

namespace brn::testing {
namespace {

struct CursorStreamTest : QueryTest {
  // A cursor on table and its manager, both given back by the destructor.
  struct Open {
    CursorStreamTest& Test;
    TBRNTableManager& Manager;
    std::unique_ptr<TBRNCursor> Cursor;
    Open(CursorStreamTest& test, const std::string& table)
        : Test(test), Manager(test.OpenTable(table)) {
      Cursor = Manager.CreateCursor("C", false, false, false);
    }
    ~Open() {
      Cursor.reset();
      Release(Manager);
    }
    TBRNLocalCursor& Local() { return dynamic_cast<TBRNLocalCursor&>(*Cursor); }
  };

  std::unique_ptr<TBRNMemoryStream> Save(const std::string& table, bool withLength = false) {
    auto stream = std::make_unique<TBRNMemoryStream>();
    Open open(*this, table);
    open.Local().SaveToStream(*stream, withLength);
    stream->SetPosition(0);
    return stream;
  }
  void Load(const std::string& table, TBRNMemoryStream& stream) {
    Open open(*this, table);
    stream.SetPosition(0);
    open.Local().LoadFromStream(stream, 0);
  }
  int32_t ErrorOfLoad(const std::string& table, TBRNMemoryStream& stream) {
    try {
      Load(table, stream);
    } catch (const EBRNException& error) {
      message = error.what();
      return error.ErrorCode;
    }
    return 0;
  }
  std::string Count(const std::string& table) {
    return Query("SELECT COUNT(*) FROM " + table).at(0).at(0);
  }

  std::string message;
};

// Block layout helpers for hand-made streams.
void PutBlock(TBRNMemoryStream& stream, const TBRNMemoryStream& block) {
  stream.WriteInteger(int32_t(block.GetSize()));
  stream.Write(block.GetMemory(), int32_t(block.GetSize()));
}

TEST_F(CursorStreamTest, EmptyCursorWritesTheTwoHeaderBlocks) {
  CreateTable("One", {{"A", dtInteger}}, false);
  EXPECT_EQ(Save("One")->GetSize(), 41);
  std::unique_ptr<TBRNMemoryStream> withLength = Save("One", true);
  ASSERT_EQ(withLength->GetSize(), 45);
  EXPECT_EQ(withLength->ReadInteger(), 41);
}

TEST_F(CursorStreamTest, RowsOfEveryTypeRoundTripIntoAnotherColumnOrder) {
  const std::vector<ColumnSpec> columns = {
      {"Txt", dtChar, 20},  {"Int", dtInteger}, {"Big", dtBigInt},  {"Small", dtSmallInt},
      {"Flt", dtFloat},     {"Bool", dtBoolean}, {"Day", dtDate},   {"Stamp", dtTimestamp},
      {"Dec", dtDecimal},   {"Data", dtLob}};
  std::vector<ColumnSpec> source = {{"Id", dtInteger}};
  source.insert(source.end(), columns.begin(), columns.end());
  CreateTable("S", source);
  // The target names the columns in reverse order and has one more, which
  // the stream does not name.
  std::vector<ColumnSpec> target = {{"Id", dtInteger}};
  target.insert(target.end(), columns.rbegin(), columns.rend());
  target.push_back({"Extra", dtInteger});
  CreateTable("D", target);
  const std::string big(1 << 20, 'x');
  Insert("S", {{int64_t(1), std::string("abc"), int64_t(-7), int64_t(1) << 40, int64_t(12), std::string("2.5"),
                std::string("True"), std::string("2024-02-29"), std::string("2024-02-29 13:14:15"),
                std::string("12.34")},
               {int64_t(2), std::string("(empty)")},
               {int64_t(3)}});
  {
    // The BLOB through a statement parameter.
    TBRNLocalStatementManager* statement = Prepare("UPDATE S SET Data = ? WHERE Int = -7");
    try {
      statement->Params->GetItem(0)->SetAsBytes(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(big.data()), big.size()));
      statement->ExecuteStatement();
    } catch (...) {
      Free(statement);
      throw;
    }
    EXPECT_EQ(statement->GetRowsAffected(), 1);
    Free(statement);
  }
  std::unique_ptr<TBRNMemoryStream> stream = Save("S");
  // The BLOB row alone fills a block beyond 256 KiB.
  EXPECT_GT(stream->GetSize(), 1 << 20);
  Load("D", *stream);
  const std::string list = "Id, Txt, Int, Big, Small, Flt, Bool, Day, Stamp, Dec, Data";
  EXPECT_EQ(Query("SELECT " + list + " FROM D"), Query("SELECT " + list + " FROM S"));
  EXPECT_EQ(Query("SELECT COUNT(Extra) FROM D").at(0).at(0), "0");
}

TEST_F(CursorStreamTest, RefusedStreamsLoadNothing) {
  CreateTable("S", {{"A", dtInteger}, {"B", dtChar, 10}}, false);
  CreateTable("Narrow", {{"A", dtInteger}}, false);
  CreateTable("D", {{"B", dtChar, 10}, {"A", dtInteger}}, false);
  std::vector<CellRow> rows;
  for (int64_t i = 0; i < 5000; ++i) rows.push_back({i, std::string("r") + std::to_string(i)});
  Insert("S", rows);
  const std::unique_ptr<TBRNMemoryStream> saved = Save("S");
  const TBRNMemoryStream& good = *saved;
  const int64_t size = good.GetSize();
  auto copy = [&](int64_t length) {
    auto stream = std::make_unique<TBRNMemoryStream>();
    stream->Write(good.GetMemory(), int32_t(length));
    return stream;
  };

  // B is unknown to Narrow.
  EXPECT_EQ(ErrorOfLoad("Narrow", *copy(size)), 401);
  EXPECT_EQ(Count("Narrow"), "0");

  struct Case {
    const char* Name;
    std::unique_ptr<TBRNMemoryStream> Stream;
    const char* Reason;
  };
  std::vector<Case> cases;
  {
    auto stream = copy(size);
    stream->GetMemory()[4] ^= 0xFF;  // first digest byte
    cases.push_back({"another signature", std::move(stream), "The stream signature is invalid"});
  }
  {
    auto stream = copy(28);
    TBRNMemoryStream columns;
    columns.WriteInteger(0);
    stream->SetPosition(28);
    PutBlock(*stream, columns);
    cases.push_back({"no columns", std::move(stream), "The stream column count is invalid"});
  }
  // The last row block claims its bytes, but the stream ends before them.
  cases.push_back({"cut off", copy(size - 1), "The stream data is truncated or invalid"});
  {
    // The first row block says one byte more than it holds; its rows are
    // followed by the next block's length field.
    auto stream = copy(size);
    const int32_t headers = 28 + 4 + 4 + 2 * 5;
    int32_t first = 0;
    std::memcpy(&first, stream->GetMemory() + headers, 4);
    first += 1;
    std::memcpy(stream->GetMemory() + headers, &first, 4);
    cases.push_back({"block longer than its rows", std::move(stream),
                     "The stream data is truncated or invalid"});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ErrorOfLoad("D", *c.Stream), 1003);
    EXPECT_NE(message.find(c.Reason), std::string::npos) << message;
    EXPECT_EQ(Count("D"), "0");
  }
  Load("D", *copy(size));
  EXPECT_EQ(Count("D"), "5000");
}

}  // namespace
}  // namespace brn::testing
