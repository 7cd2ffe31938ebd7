#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace brn {

// Fixed-width values in a byte buffer, independent of the host's byte order.
// On a little-endian host the little-endian forms compile to a plain load or
// store; the big-endian forms to a load or store and a byte swap.

namespace byte_order_detail {

template <typename U>
constexpr U SwapBytes(U value) {
  if constexpr (sizeof(U) == 1) {
    return value;
#if defined(__GNUC__)
  } else if constexpr (sizeof(U) == 2) {
    return __builtin_bswap16(value);
  } else if constexpr (sizeof(U) == 4) {
    return __builtin_bswap32(value);
  } else if constexpr (sizeof(U) == 8) {
    return __builtin_bswap64(value);
#endif
  } else {
    U result = 0;
    for (unsigned i = 0; i < sizeof(U); ++i) {
      result = U(result << 8) | U(value & 0xFF);
      value = U(value >> 8);
    }
    return result;
  }
}

template <size_t N>
struct UnsignedOfSize;
template <>
struct UnsignedOfSize<1> {
  using type = uint8_t;
};
template <>
struct UnsignedOfSize<2> {
  using type = uint16_t;
};
template <>
struct UnsignedOfSize<4> {
  using type = uint32_t;
};
template <>
struct UnsignedOfSize<8> {
  using type = uint64_t;
};

}  // namespace byte_order_detail

template <typename T>
inline T LoadLittleEndian(const void* source) {
  static_assert(std::is_trivially_copyable_v<T>);
  using U = typename byte_order_detail::UnsignedOfSize<sizeof(T)>::type;
  U raw;
  std::memcpy(&raw, source, sizeof(U));
  if constexpr (std::endian::native == std::endian::big) raw = byte_order_detail::SwapBytes(raw);
  return std::bit_cast<T>(raw);
}

template <typename T>
inline void StoreLittleEndian(void* target, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  using U = typename byte_order_detail::UnsignedOfSize<sizeof(T)>::type;
  U raw = std::bit_cast<U>(value);
  if constexpr (std::endian::native == std::endian::big) raw = byte_order_detail::SwapBytes(raw);
  std::memcpy(target, &raw, sizeof(U));
}

inline uint32_t LoadBigEndian32(const void* source) {
  uint32_t raw;
  std::memcpy(&raw, source, 4);
  if constexpr (std::endian::native == std::endian::little) raw = byte_order_detail::SwapBytes(raw);
  return raw;
}

inline void StoreBigEndian32(void* target, uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    value = byte_order_detail::SwapBytes(value);
  }
  std::memcpy(target, &value, 4);
}

}  // namespace brn
