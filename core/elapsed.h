#pragma once

#include <chrono>

// Milliseconds of the steady clock since `start`; the trackers time their
// steps with it for tools that look inside.
inline double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}
