#pragma once

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/conv2d.h"

// What the vector kernels do to a finished sum before it is stored: the
// residual add, the activation and PReLU, on eight output channels at once.
// Compiled for AVX2 with FMA only inside functions that carry the target
// attribute; the rest of the build assumes neither.
namespace runtime::kernels {

// Per-channel values of one kernel, each padded with zeros to a whole number
// of vectors so that loads of the last, partial group stay inside.
struct Epilogue {
  const float* bias = nullptr;   // never null: zeros without a bias
  const float* alpha = nullptr;  // PReLU slopes, or null
  Activation activation = Activation::kNone;
  bool add_residual = false;
};

// The optional steps of an epilogue as bits, for kernels compiled once per
// combination.
constexpr int kWithResidual = 1, kWithPrelu = 2, kStepCombinations = 4;
inline int steps_of(const Epilogue& e) {
  return (e.add_residual ? kWithResidual : 0) | (e.alpha ? kWithPrelu : 0);
}

// A kernel's own copies of the values an Epilogue points at, for `channels`
// channels padded to `padded`.
struct ChannelValues {
  AlignedFloats bias, alpha;
  Epilogue epilogue;

  ChannelValues(int channels, int padded, const float* caller_bias, const Conv2DPostOps& post)
      : bias(padded), alpha(post.prelu_alpha ? padded : 0) {
    for (int c = 0; c < channels; ++c) {
      if (caller_bias) bias.data()[c] = caller_bias[c];
      if (post.prelu_alpha) alpha.data()[c] = post.prelu_alpha[c];
    }
    epilogue = {bias.data(), post.prelu_alpha ? alpha.data() : nullptr, post.activation,
                post.add_residual};
  }
};

// A mask selecting the first `lanes` (0 to 8) of eight floats.
__attribute__((target("avx2"))) inline __m256i lane_mask(int lanes) {
  alignas(32) static constexpr int32_t kOnes[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                    0,  0,  0,  0,  0,  0,  0,  0};
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kOnes + 8 - lanes));
}

// Reads `lanes` floats, the rest zero, never touching memory past them.
__attribute__((target("avx2"))) inline __m256 load_lanes(const float* p, int lanes) {
  return lanes == 8 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, lane_mask(lanes));
}

__attribute__((target("avx2"))) inline void store_lanes(float* p, __m256 v, int lanes) {
  if (lanes == 8)
    _mm256_storeu_ps(p, v);
  else
    _mm256_maskstore_ps(p, lane_mask(lanes), v);
}

// The epilogue in vector registers, set up once per block of outputs.
// MAXPS and MINPS return their second operand when either is NaN, so the
// value goes second and NaN passes RELU and RELU6 as it does in the models'
// reference runtime; without an activation the bounds are the infinities. A
// comparison with NaN is false, so the PReLU blend keeps NaN too.
struct VectorEpilogue {
  __m256 low, high;
  const float* alpha;
  bool add_residual;

  __attribute__((target("avx2"))) explicit VectorEpilogue(const Epilogue& e)
      : low(_mm256_set1_ps(e.activation == Activation::kNone ? -INFINITY : 0.0f)),
        high(_mm256_set1_ps(e.activation == Activation::kRelu6 ? 6.0f : INFINITY)),
        alpha(e.alpha),
        add_residual(e.add_residual) {}

  // Finishes the sum `v` of channels [c, c + lanes) and stores it at `out`;
  // `residual` points at the same channels of the residual tensor (it may be
  // `out` itself).
  __attribute__((target("avx2"))) void store(__m256 v, int c, const float* residual, float* out,
                                             int lanes) const {
    if (add_residual) v = _mm256_add_ps(v, load_lanes(residual, lanes));
    v = _mm256_min_ps(high, _mm256_max_ps(low, v));
    if (alpha) {
      const __m256 scaled = _mm256_mul_ps(v, _mm256_loadu_ps(alpha + c));
      v = _mm256_blendv_ps(v, scaled, _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_LT_OQ));
    }
    store_lanes(out, v, lanes);
  }

  // The same for all eight channels, with the optional steps (`kSteps`, see
  // steps_of) fixed at compile time: the hot kernels' form.
  template <int kSteps>
  __attribute__((target("avx2"), always_inline)) void store8(__m256 v, int c,
                                                             const float* residual,
                                                             float* out) const {
    if constexpr ((kSteps & kWithResidual) != 0) v = _mm256_add_ps(v, _mm256_loadu_ps(residual));
    v = _mm256_min_ps(high, _mm256_max_ps(low, v));
    if constexpr ((kSteps & kWithPrelu) != 0) {
      const __m256 scaled = _mm256_mul_ps(v, _mm256_loadu_ps(alpha + c));
      v = _mm256_blendv_ps(v, scaled, _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_LT_OQ));
    }
    _mm256_storeu_ps(out, v);
  }
};

// The same for one value, for the plain kernels.
inline float finish(const Epilogue& e, float v, int c, const float* residual) {
  if (e.add_residual) v += *residual;
  if (e.activation != Activation::kNone && v < 0.0f) v = 0.0f;
  if (e.activation == Activation::kRelu6 && v > 6.0f) v = 6.0f;
  if (e.alpha && v < 0.0f) v *= e.alpha[c];
  return v;
}

}  // namespace runtime::kernels
