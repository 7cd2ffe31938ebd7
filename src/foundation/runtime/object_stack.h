#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/core/numeric_helpers.h"

namespace brn {

// An owning stack of objects: a pool of reusable objects or a stack of nested
// states. Objects come and go as std::unique_ptr, so the stack is their one
// owner while they are on it: Pop hands the object back to the caller, Clear
// frees what is left. The stack has no lock: one thread at a time uses it.
template <typename T>
class TBRNObjectStack {
 public:
  TBRNObjectStack() = default;
  virtual ~TBRNObjectStack() { Clear(); }
  TBRNObjectStack(const TBRNObjectStack&) = delete;
  TBRNObjectStack& operator=(const TBRNObjectStack&) = delete;

  virtual int32_t GetGrowthStep() const { return 8; }

  void Push(std::unique_ptr<T> Obj) {
    int32_t count = Count + 1;
    if (count > Capacity) {
      int32_t capacity = RoundUpToMultiple(count, GetGrowthStep());
      Items.resize(size_t(capacity));
      Capacity = capacity;
    }
    Items[size_t(Count)] = std::move(Obj);
    Count = count;
  }

  // The top object, no longer on the stack; nullptr when empty.
  std::unique_ptr<T> Pop() {
    if (Count == 0) return nullptr;
    --Count;
    return std::move(Items[size_t(Count)]);
  }

  // Frees every object from the top down.
  void Clear() {
    while (Count > 0) {
      --Count;
      Items[size_t(Count)].reset();
    }
  }

  std::vector<std::unique_ptr<T>> Items;
  int32_t Capacity = 0;
  int32_t Count = 0;
};

}  // namespace brn
