#pragma once

#include <cstdint>
#include <vector>

#include "foundation/core/numeric_helpers.h"

namespace brn {

// An owning stack of objects: a pool of reusable objects or a stack of nested
// states. Pop hands the object back to the caller; Clear frees what is left.
template <typename T>
class TBRNObjectStack {
 public:
  TBRNObjectStack() = default;
  virtual ~TBRNObjectStack() { Clear(); }
  TBRNObjectStack(const TBRNObjectStack&) = delete;
  TBRNObjectStack& operator=(const TBRNObjectStack&) = delete;

  virtual int32_t GetGrowthStep() const { return 8; }

  void Push(T* Obj) {
    int32_t count = Count + 1;
    if (count > Capacity) {
      int32_t capacity = RoundUpToMultiple(count, GetGrowthStep());
      Items.resize(size_t(capacity), nullptr);
      Capacity = capacity;
    }
    Items[size_t(Count)] = Obj;
    Count = count;
  }

  // The top object, no longer owned by the stack; nil when empty.
  T* Pop() {
    if (Count == 0) return nullptr;
    --Count;
    T* object = Items[size_t(Count)];
    Items[size_t(Count)] = nullptr;
    return object;
  }

  // Frees every object from the top down.
  void Clear() {
    while (Count > 0) {
      --Count;
      DisposeAndNil(Items[size_t(Count)]);
    }
  }

  std::vector<T*> Items;
  int32_t Capacity = 0;
  int32_t Count = 0;
};

}  // namespace brn
