#include "platform/bits.h"

#include <stdexcept>

namespace brn {

void TBits::SetSize(int32_t size) {
  if (size < 0) throw std::out_of_range("TBits size");
  bits_.resize(size_t(size), false);
}

bool TBits::Get(int32_t index) const {
  if (index < 0) throw std::out_of_range("TBits index");
  return size_t(index) < bits_.size() && bits_[size_t(index)];
}

void TBits::Set(int32_t index, bool value) {
  if (index < 0) throw std::out_of_range("TBits index");
  if (size_t(index) >= bits_.size()) {
    if (!value) return;
    bits_.resize(size_t(index) + 1, false);
  }
  bits_[size_t(index)] = value;
}

int32_t TBits::OpenBit() const {
  for (size_t i = 0; i < bits_.size(); ++i)
    if (!bits_[i]) return int32_t(i);
  return int32_t(bits_.size());
}

}  // namespace brn
