#pragma once

#include <memory>

#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "fuzz_support.h"

namespace brn::fuzz {

// A value's type as the evaluator sets it up: type, subtype (or interval
// qualifier), declared length, scale and collation, in that order.
struct Descriptor {
  TBRNDataTypeCode type = dtNull;
  TBRNDataSubType subType = stDefault;
  int32_t length = 0;
  int32_t scale = 0;
  int32_t collation = 0;

  // The descriptor in the next bytes of the input (type codes above 14
  // included).
  static Descriptor Read(Input& in) {
    Descriptor d;
    d.type = TBRNDataTypeCode(in.Byte() % 16);
    uint8_t subTypeChoice = in.Byte();
    if (d.type == dtYearMonthInterval || d.type == dtDayTimeInterval) {
      d.subType = subTypeChoice;
    } else {
      const TBRNDataSubType subTypes[] = {stDefault, stFixed, stGuid, stClob};
      d.subType = subTypes[subTypeChoice % 4];
    }
    d.length = int32_t(in.Byte() | (in.Byte() << 8)) % 1100;
    d.scale = in.Byte() % 6;
    const int32_t collations[] = {BinaryCollation, 1033, 1031 | (1 << CaseInsensitiveBit)};
    d.collation = collations[in.Byte() % 3];
    return d;
  }

  template <typename Value = TBRNContainedValue>
  std::unique_ptr<Value> Make() const {
    auto value = std::make_unique<Value>();
    Apply(*value);
    return value;
  }

  void Apply(TBRNContainedValue& value) const {
    value.SetDataType(type);
    value.SetDataSubType(subType);
    value.SetLength(length);
    value.SetScale(scale);
    value.SetCollation(collation);
  }
};

}  // namespace brn::fuzz
