#include "runtime/kernels/guard_zones.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace runtime {

namespace {

constexpr uint32_t kPoison = 0x7fbadbad;  // a NaN: a read past the end shows in the results too

}  // namespace

void poison_guards(float* data, size_t count) {
  for (size_t i = 0; i < kGuardFloats; ++i) {
    std::memcpy(data - kGuardFloats + i, &kPoison, sizeof kPoison);
    std::memcpy(data + count + i, &kPoison, sizeof kPoison);
  }
}

bool guards_intact(const float* data, size_t count) {
  for (size_t i = 0; i < kGuardFloats; ++i)
    if (std::memcmp(data - kGuardFloats + i, &kPoison, sizeof kPoison) ||
        std::memcmp(data + count + i, &kPoison, sizeof kPoison))
      return false;
  return true;
}

void guard_damaged(const char* what) {
  std::fprintf(stderr, "runtime: guard zone damaged: %s\n", what);
  std::abort();
}

}  // namespace runtime
