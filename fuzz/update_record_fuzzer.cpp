// Single published-update records applied to a table by primary key: hostile
// site counts, strings, operations, column counts, type codes and value
// lengths, inside and around the int32 length that frames each record.
//
// Input: the bytes of a stream of records, applied with a byte count of
// the input's size (the first byte chooses whether missing rows are
// ignored). Properties: a record either applies or fails with error 1305
// (never another error, a crash or a read outside the record), and the
// table's rows stay readable; each input is rolled back.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "items_table_world.h"
#include "storage/rows/row_file_navigator.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// The Items table holding one row.
struct World : ItemsTableWorld {
  World() {
    auto buffer = Manager->NewRowBuffer();
    TBRNRowsetRowValues row(Manager->GetColumns(), Manager);
    row.SetRow(buffer.get());
    row.SetAllNull();
    row.GetItem(1)->SetAsInteger(1);
    row.GetItem(2)->SetAsString("one");
    int32_t number = 0, version = 0, counter = 0;
    Manager->InsertRow(row, number, version, counter, false);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  TBRNTableManager& manager = *world->Manager;
  Input in(data, size);
  const bool ignoreMissing = (in.Byte() & 1) != 0;
  TBRNMemoryStream stream;
  FillStream(stream, in.Rest());
  manager.StartTransaction();
  try {
    manager.ApplyUpdateRecords(stream, ignoreMissing, stream.GetSize());
  } catch (const EBRNException& error) {
    if (error.ErrorCode != 1305) Fail("an error other than 1305", error.ErrorMessage);
  }
  if (stream.GetPosition() > stream.GetSize()) Fail("read past the end of the stream");
  manager.RollbackTransaction();
  // The stored row is still there and readable.
  auto buffer = manager.NewRowBuffer();
  TBRNRowsetRowValues row(manager.GetColumns(), &manager);
  row.SetRow(buffer.get());
  if (!manager.ReadRowByNumber(1, row) || row.GetItem(1)->GetAsInteger() != 1) {
    Fail("the stored row was lost");
  }
  return 0;
}
