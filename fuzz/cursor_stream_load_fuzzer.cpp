// Cursor streams loaded into a table through its local cursor: hostile
// block lengths, signatures, column counts and names, and row values.
//
// Input: the first byte chooses whether the table's own signature and column
// blocks come first (odd: the rest of the input is the row blocks), so that
// most inputs reach the rows. Properties: a load either inserts its rows or
// fails with the engine's error and leaves the table empty; nothing reads
// outside the stream or allocates more than the bytes present (libFuzzer's
// allocation limit). A loaded table is emptied for the next input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "execution/cursors/local_cursor.h"
#include "execution/cursors/local_cursor_factory.h"
#include "fuzz_support.h"
#include "items_table_world.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// The empty Items table with a local cursor on it.
struct World : ItemsTableWorld {
  std::unique_ptr<TBRNCursor> Cursor;
  TBRNLocalCursor* Local = nullptr;
  // The signature and column blocks of the table's own stream.
  std::string Header;

  World() {
    InstallLocalCursorFactory();
    Cursor = Manager->CreateCursor("Fuzz", false, false, false);
    Local = dynamic_cast<TBRNLocalCursor*>(Cursor.get());
    if (Local == nullptr) Fail("the table has no local cursor");
    // The table's own stream (no rows): its header blocks prefix most inputs.
    TBRNMemoryStream rows;
    Local->SaveToStream(rows, false);
    Header.assign(reinterpret_cast<const char*>(rows.GetMemory()), size_t(rows.GetSize()));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World();
  TBRNLocalCursor& cursor = *world->Local;
  Input in(data, size);
  const bool withHeader = (in.Byte() & 1) != 0;
  std::string bytes = withHeader ? world->Header : std::string();
  bytes += in.Rest();
  TBRNMemoryStream stream;
  FillStream(stream, bytes);
  bool loaded = false;
  try {
    cursor.LoadFromStream(stream, 0);
    loaded = true;
  } catch (const EBRNException&) {
    // Refused: nothing of the stream may stay.
  }
  if (stream.GetPosition() > stream.GetSize()) Fail("read past the end of the stream");
  if (!loaded && cursor.GetTotalRowCount() != 0) Fail("a refused load left rows");
  if (loaded) cursor.EmptyCursor(false);
  return 0;
}
