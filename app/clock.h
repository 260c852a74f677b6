#pragma once

#include <chrono>
#include <cstdint>

// Monotonic time in nanoseconds: the one clock of liveness, status timing,
// frame timestamps and tracking times.
inline int64_t steady_now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
