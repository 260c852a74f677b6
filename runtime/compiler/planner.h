#pragma once

#include <cstddef>
#include <vector>

namespace runtime {

// One tensor that needs arena memory from the step that writes it first to
// the step that reads it last (both inclusive).
struct Lifetime {
  size_t bytes = 0;
  int first = 0;
  int last = 0;
};

struct ArenaPlan {
  size_t bytes = 0;              // total arena size
  std::vector<size_t> offsets;   // per lifetime, in the same order
};

// Every offset is a multiple of this, so kernels see cache-line-aligned tensors.
constexpr size_t kArenaAlignment = 64;

ArenaPlan plan_arena(const std::vector<Lifetime>& lifetimes);

}  // namespace runtime
