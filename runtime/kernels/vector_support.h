#pragma once

namespace runtime::kernels {

// Whether this processor runs the AVX2 and FMA kernels; without them the
// plain kernels take over.
inline bool has_vector_kernels() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

}  // namespace runtime::kernels
