// One value's stream form read into a value of a fuzzed type, then used the
// way the engine uses a value from the wire.
#include <cmath>

#include "foundation/types/date_time.h"
#include "platform/variant.h"
#include "value_descriptor.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// Every getter; each may refuse the conversion with an engine error.
void ReadEveryWay(const TBRNValue& value) {
  Try([&] { (void)value.GetAsString(); });
  Try([&] { (void)value.GetAsBytes(); });
  Try([&] { (void)value.GetAsBoolean(); });
  Try([&] { (void)value.GetAsSmallInt(); });
  Try([&] { (void)value.GetAsInteger(); });
  Try([&] { (void)value.GetAsBigInt(); });
  Try([&] { (void)value.GetAsDecimal(); });
  Try([&] { (void)value.GetAsFloat(); });
  Try([&] { (void)value.GetAsDate(); });
  Try([&] { (void)value.GetAsTime(); });
  Try([&] { (void)value.GetAsTimestamp(); });
  Try([&] { (void)value.GetAsDateTime(); });
  Try([&] { (void)value.GetAsYearMonthInterval(); });
  Try([&] { (void)value.GetAsDayTimeInterval(); });
  Try([&] {
    TVariant variant;
    value.GetAsVariant(variant);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Descriptor descriptor = Descriptor::Read(in);
  auto value = descriptor.Make();
  TBRNMemoryStream stream;
  FillStream(stream, in.Rest());
  if (!Try([&] { value->LoadFromStream(stream); })) return 0;
  if (stream.GetPosition() > stream.GetSize()) Fail("read beyond the stream");
  ReadEveryWay(*value);

  // What a value writes, a value of its type reads back to the same bytes.
  TBRNMemoryStream saved;
  value->SaveToStream(saved);
  auto copy = descriptor.Make();
  saved.SetPosition(0);
  copy->LoadFromStream(saved);
  if (saved.GetPosition() != saved.GetSize()) Fail("stream form not read to its end");
  TBRNMemoryStream again;
  copy->SaveToStream(again);
  if (StreamText(again) != StreamText(saved)) Fail("stream form changed on its way back");
  if (copy->GetNull() != value->GetNull()) Fail("NULL state lost");
  // A value equals its own copy (a NaN float excepted, which has no order).
  bool nan =
      value->GetDataType() == dtFloat && !value->GetNull() && std::isnan(value->GetFloatData());
  if (!nan) {
    int32_t result = 0;
    if (Try([&] { result = value->Compare(*copy, 0, false, value->GetCollation()); }) &&
        result != 0)
      Fail("a value differs from its copy");
  }
  return 0;
}
