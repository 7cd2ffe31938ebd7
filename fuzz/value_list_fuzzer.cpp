// A value list's stream form read into an owning list that creates values of
// fuzzed column types, and into a key that refers to values kept elsewhere.
#include <vector>

#include "foundation/values/value_list.h"
#include "value_descriptor.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// An owning list of the columns' types; with Bounded it expects no more values
// than it has columns, like a row.
class ColumnValues : public TBRNValues {
 public:
  ColumnValues(const std::vector<Descriptor>& columns, bool bounded)
      : Columns(columns), Bounded(bounded) {}
  TBRNValue* CreateValue(int32_t Index) override {
    return Columns[size_t(Index) % Columns.size()].Make().release();
  }
  int32_t GetMaxStreamCount() const override {
    return Bounded ? int32_t(Columns.size()) : TBRNValues::GetMaxStreamCount();
  }
  const std::vector<Descriptor>& Columns;
  bool Bounded;
};

class Key : public TBRNValueReferences<TBRNKeyValues> {
 public:
  int32_t GetColumnCollation(int32_t) const override { return 0; }
  bool GetColumnDescending(int32_t Index) const override { return Index % 2 == 1; }
  int32_t GetRowID() const override { return RowID; }
  void SetRowID(int32_t ID) override { RowID = ID; }
  int32_t RowID = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint8_t shape = in.Byte();
  std::vector<Descriptor> columns(size_t(shape % 8 + 1));
  for (Descriptor& column : columns) column = Descriptor::Read(in);
  bool bounded = (shape & 0x80) != 0;
  std::string_view bytes = in.Rest();

  ColumnValues list(columns, bounded);
  TBRNMemoryStream stream;
  FillStream(stream, bytes);
  if (Try([&] { list.LoadFromStream(stream); })) {
    if (bounded && list.GetCount() > int32_t(columns.size())) Fail("more values than columns");
    TBRNMemoryStream saved;
    list.SaveToStream(saved);
    ColumnValues copy(columns, bounded);
    saved.SetPosition(0);
    copy.LoadFromStream(saved);
    TBRNMemoryStream again;
    copy.SaveToStream(again);
    if (StreamText(again) != StreamText(saved)) Fail("list stream form changed on its way back");
    Try([&] { (void)list.Compare(copy, 0, false); });
  }

  // A key over values owned here: slots it has load, others are skipped.
  std::vector<std::unique_ptr<TBRNContainedValue>> owned;
  Key key;
  for (const Descriptor& column : columns) {
    owned.push_back(column.Make());
    key.Add(owned.back().get());
  }
  TBRNMemoryStream keyStream;
  FillStream(keyStream, bytes);
  if (Try([&] { key.LoadFromStream(keyStream); })) {
    Key other;
    Try([&] { (void)key.Compare(other, 1, true); });
    TBRNMemoryStream saved;
    key.SaveToStream(saved);
  }
  return 0;
}
