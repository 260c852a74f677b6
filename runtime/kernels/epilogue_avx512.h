#pragma once

#include <immintrin.h>

#include <cmath>

#include "runtime/kernels/epilogue.h"

// The epilogue of the AVX-512 kernels: as VectorEpilogue, on sixteen output
// channels at once, with mask registers for the channel tails. Compiled for
// AVX-512 only inside functions that carry the target attribute, so that
// nothing shared with the rest of the build (inline functions, template
// instances) can come out in instructions an older processor lacks.
namespace runtime::kernels {

// The first `lanes` (0 to 16) of sixteen floats.
inline __mmask16 lane_mask16(int lanes) {
  return static_cast<__mmask16>((1u << lanes) - 1u);
}

// Reads `lanes` floats, the rest zero; masked lanes never fault.
__attribute__((target("avx512f"), always_inline)) inline __m512 load_lanes16(const float* p,
                                                                            int lanes) {
  return _mm512_maskz_loadu_ps(lane_mask16(lanes), p);
}

// MAXPS and MINPS with every lane selected: GCC 12's unmasked forms start
// from an undefined vector that -Wmaybe-uninitialized reports.
__attribute__((target("avx512f"), always_inline)) inline __m512 max16(__m512 a, __m512 b) {
  return _mm512_maskz_max_ps(0xffff, a, b);
}
__attribute__((target("avx512f"), always_inline)) inline __m512 min16(__m512 a, __m512 b) {
  return _mm512_maskz_min_ps(0xffff, a, b);
}

// Same NaN handling as VectorEpilogue: the value goes second into MAXPS and
// MINPS, and the PReLU comparison is false for NaN.
struct VectorEpilogue16 {
  __m512 low, high;
  const float* alpha;
  bool add_residual;
  Activation activation;  // for a 256-bit VectorEpilogue of the same steps

  __attribute__((target("avx512f"))) explicit VectorEpilogue16(const Epilogue& e)
      : low(_mm512_set1_ps(e.activation == Activation::kNone ? -INFINITY : 0.0f)),
        high(_mm512_set1_ps(e.activation == Activation::kRelu6 ? 6.0f : INFINITY)),
        alpha(e.alpha),
        add_residual(e.add_residual),
        activation(e.activation) {}

  // Finishes the sum `v` of channels [c, c + lanes) and stores those lanes
  // at `out`; `residual` may be `out` itself.
  __attribute__((target("avx512f"), always_inline)) void store(__m512 v, int c,
                                                               const float* residual, float* out,
                                                               int lanes) const {
    const __mmask16 m = lane_mask16(lanes);
    if (add_residual) v = _mm512_add_ps(v, _mm512_maskz_loadu_ps(m, residual));
    v = min16(high, max16(low, v));
    if (alpha) {
      const __mmask16 negative = _mm512_cmp_ps_mask(v, _mm512_setzero_ps(), _CMP_LT_OQ);
      v = _mm512_mask_mul_ps(v, negative, v, _mm512_loadu_ps(alpha + c));
    }
    _mm512_mask_storeu_ps(out, m, v);
  }

  // All sixteen channels with the optional steps fixed (see steps_of).
  template <int kSteps>
  __attribute__((target("avx512f"), always_inline)) void store16(__m512 v, int c,
                                                                 const float* residual,
                                                                 float* out) const {
    store16<kSteps>(v, c, residual, out, 0xffff);
  }

  // The same for the channels selected by `lanes` (the first few, or all):
  // the steps fixed, the mask a register, no branch.
  template <int kSteps>
  __attribute__((target("avx512f"), always_inline)) void store16(__m512 v, int c,
                                                                 const float* residual, float* out,
                                                                 __mmask16 lanes) const {
    if constexpr ((kSteps & kWithResidual) != 0)
      v = _mm512_add_ps(v, _mm512_maskz_loadu_ps(lanes, residual));
    v = min16(high, max16(low, v));
    if constexpr ((kSteps & kWithPrelu) != 0) {
      const __mmask16 negative = _mm512_cmp_ps_mask(v, _mm512_setzero_ps(), _CMP_LT_OQ);
      v = _mm512_mask_mul_ps(v, negative, v, _mm512_loadu_ps(alpha + c));
    }
    _mm512_mask_storeu_ps(out, lanes, v);
  }
};

}  // namespace runtime::kernels
