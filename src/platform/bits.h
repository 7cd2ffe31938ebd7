#pragma once

#include <cstdint>
#include <vector>

namespace brn {

// A growable set of bits by position; positions beyond the size read as
// clear. Not guarded: the owner serialises its use.
class TBits {
 public:
  int32_t GetSize() const { return int32_t(bits_.size()); }
  // Grows or shrinks; new bits are clear. A negative size raises
  // std::out_of_range.
  void SetSize(int32_t size);
  bool Get(int32_t index) const;
  // Setting a bit beyond the size grows the set to hold it; a negative
  // index raises std::out_of_range.
  void Set(int32_t index, bool value);
  // The lowest clear position (the size when every bit is set).
  int32_t OpenBit() const;

 private:
  std::vector<bool> bits_;
};

}  // namespace brn
