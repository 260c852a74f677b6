#pragma once

namespace runtime::kernels {

// Whether this processor runs the AVX2 and FMA kernels; without them the
// plain kernels take over.
inline bool has_vector_kernels() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// Whether it also runs the AVX-512 kernels, which need only the foundation
// instructions (with the AVX2 and FMA ones they imply).
inline bool has_avx512_kernels() {
  return has_vector_kernels() && __builtin_cpu_supports("avx512f");
}

}  // namespace runtime::kernels
