// The stream form of a value: a NULL flag byte, then the data of a non-NULL
// value in the layout of its type.
#include "foundation/values/value_same_type.h"

namespace brn {

void TBRNValue::SaveToStream(TBRNMemoryStream& Stream) const {
  bool null = GetNull();
  Stream.WriteBoolean(null);
  if (!null) SaveDataToStream(*this, Stream);
}

void TBRNValue::LoadFromStream(TBRNMemoryStream& Stream) {
  bool null = Stream.ReadBoolean();
  SetNull(null);
  if (!null) LoadDataFromStream(*this, Stream);
}

}  // namespace brn
