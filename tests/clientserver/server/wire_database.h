#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/server/server_engine_manager.h"
#include "clientserver/server/wire_client.h"
#include "foundation/file_test_support.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/columns.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/cursors/key_values.h"

// Helpers for tests of the database, statement and cursor requests: a server
// on an ephemeral port of 127.0.0.1 with an in-memory database, and the
// parts of replies (descriptors, cursor states, row blocks) read field by
// field as a client reads them.
namespace brn::test {

// What a client knows of a cursor from its descriptor: the lists as it
// loaded them, and the active index that keys and bookmarks are built on.
class WireCursorShape : public TBRNCursorShape {
 public:
  TBRNColumns* GetCursorTableColumns() const override { return columns_.get(); }
  TBRNCursorColumns* GetCursorColumnList() const override { return cursorColumns_.get(); }
  TBRNIndex* GetCursorActiveIndex() const override {
    return ActiveIndex >= 0 && ActiveIndex < indexes_->Count() ? indexes_->GetItem(ActiveIndex)
                                                               : nullptr;
  }

  TBRNColumns& Columns() { return *columns_; }
  TBRNCursorIndexes& Indexes() { return *indexes_; }
  // The length of one row entry of a block.
  int32_t EntryLength() const { return 4 + std::max<int32_t>(columns_->RowSize, 17); }

  // The metadata of a descriptor, in the form of version.
  void Load(TBRNMemoryStream& reply, int64_t version, bool withCursorColumns) {
    columns_->FormatVersion = version;
    columns_->LoadFromStream(reply);
    if (withCursorColumns) {
      cursorColumns_->FormatVersion = version;
      cursorColumns_->LoadFromStream(reply);
    }
    indexes_->FormatVersion = version;
    indexes_->LoadFromStream(reply);
  }

  int32_t ActiveIndex = -1;

 private:
  std::unique_ptr<TBRNColumns> columns_ = std::make_unique<TBRNColumns>(nullptr);
  std::unique_ptr<TBRNCursorColumns> cursorColumns_ = std::make_unique<TBRNCursorColumns>(this);
  std::unique_ptr<TBRNCursorIndexes> indexes_ = std::make_unique<TBRNCursorIndexes>(this);
};

struct WireCursorState {
  int32_t ActiveIndex = -1;
  bool Filtered = false;
  double FilterTime = 0;
  bool Ranged = false;
  int32_t RowCount = 0;
  int32_t TotalRowCount = 0;
};

// One row entry: the cursor's row number, then the row's stream form (the
// stored row number first, the image from byte 17).
struct WireRowEntry {
  int32_t Position = 0;
  std::string Row;

  int32_t StoredRow() const { return int32At(0); }
  int32_t Version() const { return int32At(5); }
  // An INTEGER or BLOB cell at a column's row offset: null flag, then the
  // value (an integer, or a BLOB's first block).
  int32_t Int32Cell(const TBRNColumn& column) const { return int32At(column.RowOffset + 1); }
  int32_t int32At(size_t offset) const {
    int32_t value = 0;
    if (offset + 4 <= Row.size()) std::memcpy(&value, Row.data() + offset, 4);
    return value;
  }
};

struct WireRowBlock {
  bool Bof = false;
  bool Eof = false;
  std::vector<WireRowEntry> Entries;
  int32_t Offset = 0;
  // The entry at the offset (the client's current row).
  int32_t CurrentIndex = -1;
};

// A logged-in wire client with the Configuration database and the in-memory
// database "Wire" open.
class WireDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.Settings->SetConfigPath(folder.Path);
    engine.ServerAddress = "127.0.0.1";
    engine.ServerPort = 0;
    engine.ServerAuthorizedAddresses->Add("*");
    engine.JobTimerInterval = 0;
    engine.SweepTimerEnabled = false;
    engine.Start();
    port = engine.GetListeningPort();
    ASSERT_NE(port, 0);
    client.OpenAndLogin(port);
    const int32_t configuration = client.OpenDatabase("Configuration");
    Exec(client, configuration, "CREATE DATABASE Wire IN MEMORY");
    database = client.OpenDatabase("Wire");
  }

  void TearDown() override { engine.Stop(); }

  // Another client of the same server, connected as version (logged in).
  std::unique_ptr<WireClient> Connect(int64_t version) {
    auto other = std::make_unique<WireClient>();
    WireConnectFields fields;
    fields.Version = version;
    other->OpenAndLogin(port, fields);
    return other;
  }

  static void WriteNoParams(WireClient& c) {
    TBRNParamValues none;
    none.SaveToStream(c.RequestStream());
  }

  // Prepare Statement; the statement handle.
  static int32_t Prepare(WireClient& c, int32_t db, const std::string& sql) {
    c.Begin(250);
    c.Int32(db);
    c.Str(sql);
    const int32_t code = c.Call();
    if (code != 0) {
      ADD_FAILURE() << sql << ": " << code << " " << c.ReadError().Message;
      return 0;
    }
    const int32_t handle = c.ReadInt32();
    TBRNParamValues params;
    params.LoadFromStream(c.ReplyStream());
    return handle;
  }

  // Execute Statement with the flags of a 2.14 client and no parameters;
  // leaves the reply to read. The reply code.
  static int32_t Execute(WireClient& c, int32_t statement) {
    c.Begin(251);
    c.Int32(statement);
    c.Bool(true);   // sensitive
    c.Bool(false);  // constrained
    c.Bool(true);   // plan
    c.Int32(0);
    c.Bool(false);
    c.Bool(false);
    c.Bool(false);
    WriteNoParams(c);
    return c.Call();
  }

  // Prepares, executes and frees sql; the rows affected.
  static int32_t Exec(WireClient& c, int32_t db, const std::string& sql) {
    const int32_t statement = Prepare(c, db, sql);
    int32_t rows = -1;
    if (statement == 0) return rows;
    const int32_t code = Execute(c, statement);
    if (code != 0) {
      ADD_FAILURE() << sql << ": " << code << " " << c.ReadError().Message;
    } else {
      TBRNParamValues output;
      if (c.ClientVersion >= 10600) output.LoadOutputParams(c.ReplyStream());
      c.ReadBool();
      c.ReadStr();
      rows = c.ReadInt32();
    }
    c.Begin(252);
    c.Int32(statement);
    EXPECT_EQ(c.Call(), 0);
    return rows;
  }

  static WireCursorState ReadState(WireClient& c) {
    WireCursorState state;
    state.ActiveIndex = c.ReadInt32();
    state.Filtered = c.ReadBool();
    state.FilterTime = c.ReadDouble();
    state.Ranged = c.ReadBool();
    state.RowCount = c.ReadInt32();
    state.TotalRowCount = c.ReadInt32();
    return state;
  }

  static WireRowBlock ReadBlock(WireClient& c, const WireCursorShape& shape) {
    WireRowBlock block;
    block.Bof = c.ReadBool();
    block.Eof = c.ReadBool();
    const int32_t size = c.ReadInt32();
    const int32_t entry = shape.EntryLength();
    std::string bytes = c.ReadRaw(size);
    EXPECT_EQ(size % entry, 0) << "entries of " << entry << " bytes";
    for (int32_t at = 0; at + entry <= size; at += entry) {
      WireRowEntry row;
      std::memcpy(&row.Position, bytes.data() + at, 4);
      row.Row = bytes.substr(size_t(at + 4), size_t(entry - 4));
      block.Entries.push_back(row);
    }
    block.Offset = c.ReadInt32();
    if (size > 0) block.CurrentIndex = block.Offset / entry;
    return block;
  }

  // Open Table of a 2.14 client; the cursor handle, the shape loaded.
  int32_t OpenTable(WireClient& c, int32_t db, const std::string& table, WireCursorShape& shape,
                    bool readOnly = false) {
    c.Begin(123);
    c.Int32(db);
    c.Str("");
    c.Str(table);
    c.Bool(readOnly);
    c.Bool(false);
    const int32_t code = c.Call();
    if (code != 0) {
      ADD_FAILURE() << "Open Table " << table << ": " << code << " " << c.ReadError().Message;
      return 0;
    }
    const int32_t handle = c.ReadInt32();
    if (c.ClientVersion >= 10600) c.ReadBool();
    shape.Load(c.ReplyStream(), c.ClientVersion, c.ClientVersion >= 20300);
    shape.ActiveIndex = ReadState(c).ActiveIndex;
    return handle;
  }

  // The positioning fields for the row whose primary key (first index
  // column, an INTEGER) is id.
  static void WritePosition(WireClient& c, WireCursorShape& shape, int32_t id, bool bof = false,
                            bool eof = false) {
    TBRNContainedBookmarkValues bookmark(&shape);
    if (bookmark.GetCount() > 0) bookmark.GetItem(0)->SetAsInteger(id);
    bookmark.SaveToStream(c.RequestStream());
    c.Bool(bof);
    c.Bool(eof);
  }

  brn::testing::TempDirectory folder;
  TBRNServerEngineManager engine;
  uint16_t port = 0;
  WireClient client;
  int32_t database = 0;
};

}  // namespace brn::test
