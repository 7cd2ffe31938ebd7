#pragma once

#include <cstddef>
#include <string>

namespace brn {

// Overwrites a buffer with four passes of 0x55, 0xAA, 0xFF and 0x00 before
// it is released, so that key material does not linger in freed memory. The
// writes go through a volatile pointer, which the compiler may not drop as
// dead stores.
void WipeBuffer(void* data, size_t size) noexcept;
// The characters of text, including its spare capacity, then the text is
// emptied.
void WipeString(std::string& text) noexcept;

}  // namespace brn
