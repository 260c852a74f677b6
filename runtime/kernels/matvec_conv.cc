#include "runtime/kernels/matvec_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/kernels/epilogue.h"
#include "runtime/kernels/half_floats.h"
#include "runtime/kernels/vector_support.h"

namespace runtime::kernels {
namespace {

// Output channels per strip: eight vectors of eight, eight independent sums
// so that the multiply-adds never wait on each other.
constexpr int kStripVectors = 8;
constexpr int kStrip = 8 * kStripVectors;

// Below this many weights the matrix-product kernel, whose weights stay in
// cache, is as fast.
constexpr size_t kLeastWeights = 16 * 1024;

class MatVecConv final : public Conv2DKernel {
 public:
  MatVecConv(const Conv2DShape& s, const float* bias, const Conv2DPostOps& post)
      : batch_(s.batch),
        depth_(size_t(s.kernel_height) * s.kernel_width * s.in_channels),
        in_image_(size_t(s.in_height) * s.in_width * s.in_channels),
        channels_(s.out_channels),
        strips_((s.out_channels + kStrip - 1) / kStrip),
        values_(s.out_channels, strips_ * kStrip, bias, post),
        panels_(size_t(strips_) * depth_ * kStrip) {}

  // Per strip, per input: the strip's kStrip weights side by side as
  // float16, zero past the last output channel. False where a weight is no
  // float16 value.
  bool pack(const float* weights) {
    for (int o = 0; o < channels_; ++o)
      for (size_t k = 0; k < depth_; ++k)
        if (!to_half(weights[o * depth_ + k],
                     panels_[(size_t(o / kStrip) * depth_ + k) * kStrip + o % kStrip]))
          return false;
    return true;
  }

  __attribute__((target("avx2,fma,f16c"))) void run(const float* input, float* output,
                                                    const float* residual) override {
    const Epilogue& e = values_.epilogue;
    const VectorEpilogue finish(e);
    for (int n = 0; n < batch_; ++n) {
      const float* x = input + n * in_image_;
      float* out = output + size_t(n) * channels_;
      const float* res = e.add_residual ? residual + size_t(n) * channels_ : out;
      for (int strip = 0; strip < strips_; ++strip) {
        const int first = strip * kStrip;
        const uint16_t* w = panels_.data() + size_t(strip) * depth_ * kStrip;
        __m256 acc[kStripVectors];
#pragma GCC unroll 8
        for (int v = 0; v < kStripVectors; ++v) acc[v] = _mm256_loadu_ps(e.bias + first + 8 * v);
        for (size_t k = 0; k < depth_; ++k, w += kStrip) {
          const __m256 a = _mm256_broadcast_ss(x + k);
#pragma GCC unroll 8
          for (int v = 0; v < kStripVectors; ++v)
            acc[v] = _mm256_fmadd_ps(
                a, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * v))),
                acc[v]);
        }
#pragma GCC unroll 8
        for (int v = 0; v < kStripVectors; ++v) {
          const int c = first + 8 * v;
          const int lanes = std::min(8, channels_ - c);
          if (lanes > 0) finish.store(acc[v], c, res + c, out + c, lanes);
        }
      }
    }
  }

 private:
  int batch_;
  size_t depth_, in_image_;
  int channels_, strips_;
  ChannelValues values_;
  std::vector<uint16_t> panels_;
};

}  // namespace

std::unique_ptr<Conv2DKernel> make_matvec_conv2d(const Conv2DShape& s, const float* weights,
                                                 const float* bias, const Conv2DPostOps& post) {
  const bool whole_input = s.groups == 1 && s.out_height == 1 && s.out_width == 1 &&
                           s.pad_top == 0 && s.pad_left == 0 && s.pad_bottom == 0 &&
                           s.pad_right == 0 && s.kernel_width == s.in_width &&
                           s.kernel_height <= s.in_height &&
                           (s.kernel_height == 1 || s.dilation_height == 1) &&
                           (s.kernel_width == 1 || s.dilation_width == 1);
  const size_t count = size_t(s.out_channels) * s.kernel_height * s.kernel_width * s.in_channels;
  if (!whole_input || count < kLeastWeights || !has_vector_kernels() || !has_half_floats())
    return nullptr;
  auto product = std::make_unique<MatVecConv>(s, bias, post);
  if (!product->pack(weights)) return nullptr;
  return product;
}

}  // namespace runtime::kernels
