#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace brn::testing {

// Generous bound for anything that should happen "soon" on a loaded machine.
inline constexpr int32_t LongWaitMs = 20000;

// Polls until condition holds or LongWaitMs passes; whether it came to hold.
template <typename Condition>
bool Eventually(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LongWaitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Polls every millisecond until condition holds or ms pass; the last value
// of condition, so a condition that came true at the deadline still counts.
template <typename Condition>
bool WaitUntil(Condition condition, int32_t ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace brn::testing
