#include "foundation/values/value_list.h"

#include <algorithm>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/values/value.h"

namespace brn {

namespace {

constexpr int32_t kCapacityStep = 8;

// A count no stream of this size could hold is refused before anything is
// allocated for it.
[[noreturn]] void RaiseBadCount(int32_t count) {
  RaiseConversionFailure("value", IntegerToString(count), TBRNValue::ConversionDetail("", false));
}

}  // namespace

TBRNValues::~TBRNValues() {
  FreeValues();
}

void TBRNValues::releaseSlot(int32_t Index) {
  DisposeAndNil(Items[size_t(Index)]);
}

TBRNValue* TBRNValues::valueForEmptySlot(int32_t Index) {
  return CreateValue(Index);
}

void TBRNValues::assignValues(const TBRNValues& Source) {
  int32_t common = MinInteger(Count, Source.Count);
  for (int32_t i = 0; i < common; ++i) {
    TBRNValue* target = Items[size_t(i)];
    const TBRNValue* source = Source.Items[size_t(i)];
    if (target && source) target->Assign(*source);
  }
}

void TBRNValues::takeReferences(const TBRNValues& Source) {
  SetCapacity(Source.Count);
  std::copy_n(Source.Items.begin(), Source.Count, Items.begin());
  Count = Source.Count;
  std::fill(Items.begin() + Count, Items.end(), nullptr);
}

void TBRNValues::forgetValues() {
  std::fill(Items.begin(), Items.end(), nullptr);
  Count = 0;
}

TBRNValue* TBRNValues::CreateValue(int32_t Index) {
  (void)Index;
  return nullptr;
}

void TBRNValues::SetCount(int32_t N) {
  if (N < 0 || N > Capacity) throw std::out_of_range("TBRNValues: count beyond the capacity");
  Count = N;
}

void TBRNValues::SetCapacity(int32_t N) {
  int32_t newCapacity = RoundUpToMultiple(N, kCapacityStep);
  if (newCapacity == Capacity) return;
  if (newCapacity < Capacity) {
    // From the last one down; slots beyond Count are nullptr unless SetCount cut
    // the list, and those values belong to an owning list just the same.
    for (int32_t i = Capacity - 1; i >= newCapacity; --i) releaseSlot(i);
    if (Count > newCapacity) Count = newCapacity;
  }
  Items.resize(size_t(newCapacity), nullptr);
  Capacity = newCapacity;
}

void TBRNValues::FreeValues() {
  for (int32_t i = Capacity - 1; i >= 0; --i) DisposeAndNil(Items[size_t(i)]);
  Count = 0;
}

void TBRNValues::Add(TBRNValue* Value) {
  Insert(Count, Value);
}

void TBRNValues::Insert(int32_t Index, TBRNValue* Value) {
  if (Index < 0 || Index > Count) throw std::out_of_range("TBRNValues: index out of range");
  int32_t oldCount = Count;
  SetCapacity(oldCount + 1);
  Count = oldCount + 1;
  auto begin = Items.begin();
  std::move_backward(begin + Index, begin + oldCount, begin + oldCount + 1);
  Items[size_t(Index)] = Value;
}

void TBRNValues::Delete(int32_t Index) {
  if (Count == 0) return;
  if (Index < 0 || Index >= Count) throw std::out_of_range("TBRNValues: index out of range");
  auto begin = Items.begin();
  std::move(begin + Index + 1, begin + Count, begin + Index);
  Items[size_t(Count - 1)] = nullptr;
  --Count;
}

void TBRNValues::Clear() {
  std::fill_n(Items.begin(), Count, nullptr);
  Count = 0;
}

void TBRNValues::SetAllNull() {
  for (int32_t i = 0; i < Count; ++i) {
    if (TBRNValue* item = Items[size_t(i)]) item->SetNull(true);
  }
}

void TBRNValues::Assign(const TBRNValues& Source) {
  if (&Source == this) return;
  assignValues(Source);
}

int32_t TBRNValues::CompareItem(int32_t Index, const TBRNValues& Other, int32_t PartialLength,
                                bool IgnoreCase, int32_t textCollation) const {
  const TBRNValue* item = Items[size_t(Index)];
  const TBRNValue* other = Other.Items[size_t(Index)];
  // A slot never filled counts as NULL.
  if (!item || !other) {
    bool itemNull = !item || item->GetNull();
    bool otherNull = !other || other->GetNull();
    return itemNull == otherNull ? 0 : (itemNull ? -1 : 1);
  }
  if (!item->IsTextType()) return item->Compare(*other, 0, false, 0);
  int32_t partial = Index == Other.Count - 1 ? PartialLength : 0;
  return item->Compare(*other, partial, IgnoreCase, textCollation);
}

int32_t TBRNValues::Compare(const TBRNValues& Other, int32_t PartialLength, bool IgnoreCase) const {
  int32_t common = MinInteger(Count, Other.Count);
  for (int32_t i = 0; i < common; ++i) {
    const TBRNValue* item = Items[size_t(i)];
    int32_t result =
        CompareItem(i, Other, PartialLength, IgnoreCase, item ? item->GetCollation() : 0);
    if (result != 0) return result;
  }
  return 0;
}

void TBRNValues::SaveToStream(TBRNMemoryStream& Stream) const {
  Stream.WriteInteger(Count);
  for (int32_t i = 0; i < Count; ++i) {
    const TBRNValue* item = Items[size_t(i)];
    if (item) {
      item->SaveToStream(Stream);
    } else {
      Stream.WriteBoolean(true);  // an empty slot travels as NULL
    }
  }
}

void TBRNValues::LoadFromStream(TBRNMemoryStream& Stream) {
  int32_t n = Stream.ReadInteger();
  if (n < 0 || n > MinInteger(GetMaxStreamCount(), MaxStreamValueCount) ||
      int64_t(n) * MinimumItemStreamSize() > Stream.GetRemaining())
    RaiseBadCount(n);
  // Values beyond the new count leave the list: an owning list frees them,
  // so that no value is kept in a slot beyond Count.
  for (int32_t i = Count - 1; i >= n; --i) releaseSlot(i);
  SetCapacity(n);
  Count = n;
  for (int32_t i = 0; i < n; ++i) {
    TBRNValue*& item = Items[size_t(i)];
    if (!item) item = valueForEmptySlot(i);
    if (item) item->LoadFromStream(Stream);
  }
}

void TBRNKeyValues::Assign(const TBRNValues& Source) {
  TBRNValues::Assign(Source);
  if (auto* key = dynamic_cast<const TBRNKeyValues*>(&Source)) SetRowID(key->GetRowID());
}

int32_t TBRNKeyValues::Compare(const TBRNValues& Other, int32_t PartialLength,
                               bool IgnoreCase) const {
  // An empty key (a search from the very start) is smaller than any other
  // key from either side, and equal to another empty key.
  if (Count == 0 || Other.GetCount() == 0) {
    if (Count == Other.GetCount()) return 0;
    return Count == 0 ? -1 : 1;
  }
  int32_t common = MinInteger(Count, Other.GetCount());
  for (int32_t i = 0; i < common; ++i) {
    int32_t result = CompareItem(i, Other, PartialLength, IgnoreCase, GetColumnCollation(i));
    if (result != 0) return GetColumnDescending(i) ? -result : result;
  }
  return 0;
}

void TBRNKeyValues::SaveToStream(TBRNMemoryStream& Stream) const {
  TBRNValues::SaveToStream(Stream);
  Stream.WriteInteger(GetRowID());
}

void TBRNKeyValues::LoadFromStream(TBRNMemoryStream& Stream) {
  TBRNValues::LoadFromStream(Stream);
  SetRowID(Stream.ReadInteger());
}

}  // namespace brn
