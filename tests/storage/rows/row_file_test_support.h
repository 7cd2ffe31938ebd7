#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/core/bytes.h"
#include "metadata/catalog/columns.h"
#include "storage/files/table_file_set.h"
#include "storage/files/table_file_test_support.h"
#include "storage/rows/blob_file.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"

namespace brn::testing {

// The files of one table: its own extension per kind, so that the row file
// and the BLOB file do not share a name.
class RowsTableHost : public FakeHost {
 public:
  using FakeHost::FakeHost;
  std::string GetFileExtension(TBRNTableFileKind kind) const override {
    return kind == TBRNTableFileKind::Rows ? ".BRNTbl" : ".BRNBlb";
  }
};

// The table manager as the rows see it: BLOB values go straight to a BLOB
// file. FailBlobWrite, when set, runs inside WriteBlob after the BLOB file wrote
// the value (the place of an injected failure).
class BlobRowsetHost : public TBRNRowsetHost {
 public:
  TBRNBlobManager* Blobs = nullptr;
  TBRNRowsetManager* Rows = nullptr;
  std::function<void()> FailBlobWrite;

  void ReadBlob(int32_t ownerVersion, int32_t firstBlock, TBRNMemoryStream& stream, bool) override {
    Blobs->ReadBlob(ownerVersion, firstBlock, stream);
  }
  void WriteBlob(int32_t ownerVersion, int32_t& firstBlock, TBRNMemoryStream& stream, int32_t,
                 int32_t& storedLength) override {
    Blobs->WriteBlob(ownerVersion, firstBlock, stream);
    storedLength = int32_t(stream.GetSize());
    if (FailBlobWrite) FailBlobWrite();
  }
};

// Columns of a table without a catalog: the row ID first, then the given
// ones; row offsets set.
inline std::unique_ptr<TBRNColumns> MakeColumns(
    const std::vector<std::pair<TBRNDataTypeCode, int32_t>>& types) {
  auto columns = std::make_unique<TBRNColumns>(nullptr);
  int32_t id = 1;
  auto add = [&](TBRNDataTypeCode type, int32_t length) {
    auto column = std::make_unique<TBRNColumn>(nullptr);
    column->Name = "C" + std::to_string(id);
    column->ID = id++;
    column->SetDataType(type);
    if (length != 0) column->SetLength(length);
    columns->AddObject(column.get());
    column.release();
  };
  add(dtInteger, 0);
  for (const auto& [type, length] : types) add(type, length);
  columns->RebuildColumnLists();
  return columns;
}

inline int32_t RowSizeOf(const TBRNColumns& columns) {
  return (columns.RowSize + 7) / 8 * 8;
}

// A table of a row file and a BLOB file over one file manager, one file set
// (so a row change is one operation over both), opened (or created) and
// closed with the fixture.
struct RowTable {
  RowTable(TBRNFileManager* files, const std::string& folder, TBRNColumns* columns,
           int32_t maxRowBufferSize = 32768, int32_t blobBlockSize = 512)
      : Host(folder, "Rows") {
    TBRNRowsetLayout layout;
    layout.Columns = columns;
    layout.RowSize = RowSizeOf(*columns);
    layout.MaxRowBufferSize = maxRowBufferSize;
    Rows = std::make_unique<TBRNRowsetManager>(&Host, files, layout, &Table);
    Blobs = std::make_unique<TBRNBlobManager>(&Host, files, blobBlockSize, 65536);
    Host.Files = {Rows.get(), Blobs.get()};
    Files.Add(Rows.get());
    Files.Add(Blobs.get());
    Table.Rows = Rows.get();
    Table.Blobs = Blobs.get();
  }
  ~RowTable() {
    Navigator.reset();
    try {
      Close();
    } catch (...) {
    }
    Host.Files.clear();
  }
  void Open() {
    Rows->OpenOrCreate();
    Blobs->OpenOrCreate();
    Navigator = std::make_unique<TBRNRowsetNavigator>(Rows.get());
  }
  void Flush() { Files.Flush(true); }
  void Close() {
    Navigator.reset();
    Rows->Close();
    Blobs->Close();
  }

  RowsTableHost Host;
  BlobRowsetHost Table;
  std::unique_ptr<TBRNRowsetManager> Rows;
  std::unique_ptr<TBRNBlobManager> Blobs;
  TBRNTableFileSet Files;
  std::unique_ptr<TBRNRowsetNavigator> Navigator;
};

// Values of a new row in a buffer of their own.
struct NewRow {
  explicit NewRow(RowTable& table)
      : Buffer(table.Rows->NewRowBuffer()), Values(table.Rows->GetColumns(), &table.Table) {
    Values.SetRow(Buffer.get());
    Values.SetAllNull();
  }
  std::unique_ptr<TBRNRowsetRow> Buffer;
  TBRNRowsetRowValues Values;
};

// The bytes of a BLOB value of the given size, different for every seed.
inline TBRNBytes BlobBytes(int32_t size, int32_t seed) {
  TBRNBytes bytes(size_t(size), 0);
  uint32_t x = uint32_t(seed) * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return bytes;
}

}  // namespace brn::testing
