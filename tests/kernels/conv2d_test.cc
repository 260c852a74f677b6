#include "runtime/kernels/conv2d.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "runtime/kernels/gemm_conv.h"
#include "runtime/kernels/kernel_family.h"
#include "runtime/kernels/matvec_conv.h"
#include "runtime/kernels/vector_support.h"
#include "runtime/kernels/shape_check.h"
#include "tests/kernels/guarded.h"
#include "tests/support/conv_reference.h"

namespace {

using runtime::Activation;
using runtime::Conv2DKernel;
using runtime::Conv2DPostOps;
using runtime::Conv2DShape;
using namespace kernels_test;
using namespace conv_reference;

// A geometry as a model states it; pads -1 mean SAME (the odd pixel after),
// `valid` means no padding.
struct Geo {
  int h = 7, w = 5, in = 3, out = 5, kh = 3, kw = 3, sh = 1, sw = 1, dh = 1, dw = 1;
  bool depthwise = false, valid = false;
  int top = -1, left = -1, bottom = -1, right = -1, batch = 1;
};

Conv2DShape shape(const Geo& g) {
  const int groups = g.depthwise ? g.in : 1, out = g.depthwise ? g.in : g.out;
  return padded({g.batch, g.h, g.w, g.in, 0, 0, out, g.kh, g.kw, g.sh, g.sw, g.dh, g.dw, g.top, g.left, g.bottom,
                 g.right, groups},
                g.valid);
}

size_t outputs(const Conv2DShape& s) {
  return size_t(s.batch) * s.out_height * s.out_width * s.out_channels;
}

using runtime::kernels::KernelFamily;

// Every kernel family this processor runs: the plain loops, and the vector
// kernels up to the widest.
std::vector<KernelFamily> families() {
  std::vector<KernelFamily> all;
  for (KernelFamily f : {KernelFamily::kPlain, KernelFamily::kAvx2, KernelFamily::kAvx512})
    if (f <= runtime::kernels::processor_kernel_family()) all.push_back(f);
  return all;
}

// Conv2DKernel::create with the given family instead of the chosen one.
std::unique_ptr<Conv2DKernel> create(KernelFamily which, const Conv2DShape& s,
                                     const float* weights, const float* bias,
                                     const Conv2DPostOps& post, std::string& error) {
  if (!runtime::kernels::check_conv2d(s, weights, post, error)) return nullptr;
  return runtime::kernels::make_conv2d(which, s, weights, bias, post);
}

// Builds the kernel from arrays that are overwritten right after create (the
// kernel must keep copies), runs it and compares with the plain loop. Every
// array it reads or writes sits between guard zones.
void expect_matches(const Conv2DShape& s, bool with_bias, bool with_residual, Activation act,
                    bool prelu, uint32_t seed, bool in_place, KernelFamily which) {
  const size_t n_weights =
      size_t(s.out_channels) * s.kernel_height * s.kernel_width * (s.in_channels / s.groups);
  const auto input =
      random_floats(size_t(s.batch) * s.in_height * s.in_width * s.in_channels, 5 * seed, -2, 2);
  auto weights = random_floats(n_weights, 5 * seed + 1);
  // Every other case with float16 values only, as in our model files: the
  // products of few rows then keep them as such.
  if (seed % 2)
    for (float& w : weights) w = std::round(w * 1024) / 1024;
  const auto bias = random_floats(s.out_channels, 5 * seed + 2, -2, 2);
  const auto alpha = random_floats(s.out_channels, 5 * seed + 3, -0.5f, 1.5f);
  const auto residual = random_floats(outputs(s), 5 * seed + 4, -4, 4);  // up to 4: RELU6 clips
  Guarded w(weights), b(bias), a(alpha);
  Conv2DPostOps post{with_residual, act, prelu ? a.data() : nullptr};
  std::string error;
  auto kernel = create(which, s, w.data(), with_bias ? b.data() : nullptr, post, error);
  ASSERT_NE(kernel, nullptr) << error;
  for (Guarded* v : {&w, &b, &a}) {
    EXPECT_EQ(v->damage(), "") << "weights, bias or slopes";
    std::fill(v->data(), v->data() + v->size(), 99.0f);
  }

  // The input on a cache line, half way through one, or elsewhere: the
  // kernels may load whole lines or halves when they can.
  Guarded in(input, std::array<size_t, 3>{0, 8, 3}[seed % 3]), res(residual);
  Guarded out(in_place ? residual : std::vector<float>(outputs(s), -123.0f));
  kernel->run(in.data(), out.data(), in_place ? out.data() : res.data());
  for (const Guarded* v : {&in, &res, &out}) EXPECT_EQ(v->damage(), "") << "input, residual or output";
  const Expected e = conv2d(s, input.data(), weights.data(), with_bias ? bias.data() : nullptr,
                            with_residual ? residual.data() : nullptr, act, prelu ? alpha.data() : nullptr);
  EXPECT_EQ(count_mismatches(e, out.values()), 0);
}

// Odd sizes, strides 1 and 2, 1x1 to 5x5, SAME padding with the odd pixel
// after, explicit pads (some as wide as the kernel), dilation, batch,
// rectangular kernels, channel counts around multiples of 8 (output channels
// cut into strips of 24, 16 and fewer), rows wide enough for whole depthwise
// steps with a few pixels left over, images smaller than the kernel, and an
// output larger than L2; each under every combination of bias, residual,
// activation and PReLU, with float weights and float16 ones, for the vector
// kernels and the plain ones.
TEST(Conv2D, MatchesPlainLoopUnderEveryPostOp) {
  // clang-format off
  const std::vector<Geo> geometries = {
      {.kh = 1, .kw = 1}, {.kh = 1, .kw = 1, .sh = 2, .sw = 2, .valid = true}, {},
      {.h = 8, .w = 6, .in = 5, .out = 13, .sh = 2, .sw = 2}, {.kh = 5, .kw = 5},
      {.h = 6, .w = 9, .kh = 5, .kw = 5, .sh = 2, .sw = 2}, {.kh = 5, .kw = 5, .valid = true},
      {.top = 0, .left = 2, .bottom = 1, .right = 0}, {.top = 4, .left = 0, .bottom = 1, .right = 3},
      {.h = 16, .w = 12, .in = 24, .out = 17, .sh = 2, .sw = 2},
      {.h = 9, .w = 11, .in = 6, .out = 4, .kh = 1, .sh = 2, .dw = 2,
       .top = 1, .left = 2, .bottom = 0, .right = 1},
      {.h = 9, .w = 11, .dh = 2, .dw = 2, .batch = 3},
      {.h = 5, .w = 7, .in = 9, .out = 24, .kh = 1, .kw = 1},
      {.h = 5, .w = 5, .in = 4, .out = 40, .kh = 2, .kw = 2, .sh = 2, .sw = 2, .valid = true},
      {.h = 13, .w = 3, .in = 3, .out = 8, .kh = 1, .kw = 1},
      {.in = 3, .depthwise = true}, {.in = 5, .sh = 2, .sw = 2, .depthwise = true},
      {.h = 9, .w = 6, .kh = 5, .kw = 5, .sh = 2, .sw = 2, .depthwise = true},
      {.h = 11, .w = 13, .in = 17, .depthwise = true},
      {.h = 10, .w = 10, .in = 32, .kh = 5, .kw = 5, .sh = 2, .sw = 2, .depthwise = true},
      {.h = 4, .w = 30, .in = 12, .kh = 5, .kw = 5, .depthwise = true},
      {.h = 3, .w = 37, .in = 9, .sh = 2, .sw = 2, .depthwise = true},
      {.h = 2, .w = 2, .in = 16, .depthwise = true},
      {.h = 1, .w = 3, .in = 8, .kh = 5, .kw = 5, .depthwise = true},
      {.in = 7, .kh = 1, .kw = 1, .depthwise = true},
      {.in = 8, .depthwise = true, .top = 1, .left = 3, .bottom = 4, .right = 0},
      {.h = 9, .w = 7, .in = 8, .sh = 2, .sw = 2, .dh = 2, .dw = 2, .depthwise = true, .batch = 2},
      {.h = 61, .w = 40, .in = 16, .out = 32, .kh = 1, .kw = 1},
      {.h = 61, .w = 40, .in = 32, .depthwise = true},
      // Strips and channel groups of 16-float vectors: 48 (three), 57 (two,
      // two, one partial), 24 and 40 (a half-vector tail).
      {.h = 6, .w = 7, .in = 10, .out = 48}, {.h = 5, .w = 9, .in = 7, .out = 57, .kh = 1, .kw = 1},
      {.h = 7, .w = 19, .in = 40, .depthwise = true},
      {.h = 6, .w = 23, .in = 24, .kh = 5, .kw = 5, .sh = 2, .sw = 2, .depthwise = true},
      // Two output pixels per strip of 16-float vectors (8 or fewer and 17
      // to 24 channels): an odd number of pixels leaves the last one alone,
      // and inputs are read eight at a time with a few left over.
      {.h = 7, .w = 9, .in = 20, .out = 6, .kh = 1, .kw = 1},
      {.h = 9, .w = 5, .in = 11, .out = 21, .sh = 2, .sw = 2},
      {.h = 3, .w = 1, .in = 8, .out = 1, .kh = 1, .kw = 1},
      // 1x1 products over whole blocks of rows, read at fixed offsets (8 or
      // 16 inputs) or through row pointers (32), then a partial block.
      {.h = 5, .w = 7, .in = 16, .out = 8, .kh = 1, .kw = 1},
      {.h = 5, .w = 7, .in = 32, .out = 5, .kh = 1, .kw = 1},
      {.h = 5, .w = 5, .in = 8, .out = 16, .kh = 1, .kw = 1},
      {.h = 4, .w = 5, .in = 8, .out = 40, .kh = 1, .kw = 1},
      // Products of a multiple of 7 rows in one chunk, in blocks of 7 rows:
      // whole two-vector strips and one with 28 real columns.
      {.h = 7, .w = 7, .in = 12, .out = 40, .kh = 1, .kw = 1},
      {.h = 2, .w = 7, .in = 5, .out = 28},
      // Weights too large to stay cached, whose strips' first blocks request
      // them ahead: fewer rows than a block, whole and partial strips of one
      // to three vectors, a product in several chunks.
      {.h = 1, .w = 7, .in = 200, .out = 48, .kh = 1, .kw = 1},
      {.h = 5, .w = 9, .in = 130, .out = 57, .kh = 1, .kw = 1},
      {.h = 16, .w = 20, .in = 48, .out = 40},
      // Depthwise rows of 8 or 24 channels as one run of floats: long steps,
      // single steps and a pixel left over between the edges.
      {.h = 5, .w = 35, .in = 8, .depthwise = true},
      {.h = 4, .w = 36, .in = 8, .kh = 5, .kw = 5, .depthwise = true},
      {.h = 6, .w = 27, .in = 24, .depthwise = true},
      {.h = 5, .w = 30, .in = 24, .kh = 5, .kw = 5, .depthwise = true,
       .top = 2, .left = 1, .bottom = 2, .right = 3},
  };
  // clang-format on
  uint32_t seed = 1;
  for (KernelFamily which : families())
    for (const Geo& g : geometries)
      for (bool bias : {false, true})
        for (bool residual : {false, true})
          for (Activation a : {Activation::kNone, Activation::kRelu, Activation::kRelu6})
            for (bool prelu : {false, true}) {
              SCOPED_TRACE(testing::Message()
                           << runtime::kernels::kernel_family_name(which) << " geometry "
                           << &g - geometries.data() << " bias " << bias << " residual "
                           << residual << " activation " << int(a) << " prelu " << prelu);
              expect_matches(shape(g), bias, residual, a, prelu, seed++, false, which);
            }
}

// The residual may be the output array itself: each output is read as the
// residual before it is written, in every kernel and at model-sized channel
// counts.
TEST(Conv2D, ResidualMayBeTheOutputItself) {
  uint32_t seed = 300;
  for (const Geo& g : {Geo{}, Geo{.in = 17, .kh = 5, .kw = 5, .depthwise = true},
                       Geo{.h = 7, .w = 7, .in = 1152, .out = 192, .kh = 1, .kw = 1},
                       Geo{.top = 4, .left = 0, .bottom = 1, .right = 3}})
    for (bool post_ops : {false, true})
      for (KernelFamily which : families())
        expect_matches(shape(g), !post_ops, true,
                       post_ops ? Activation::kRelu6 : Activation::kNone, post_ops, seed++,
                       /*in_place=*/true, which);
}

// A window over the whole input with one output pixel (a landmark model's
// last layer) keeps its weights as float16 when every one is exactly such a
// value, and must give the matrix-product kernel's outputs bit for bit:
// under post-ops, in a batch, and with one weight that is no float16 value.
TEST(Conv2D, WholeInputWindowOnHalfPrecisionWeightsMatchesTheMatrixProductBitForBit) {
  const bool halves = runtime::kernels::has_vector_kernels() && __builtin_cpu_supports("f16c");
  uint32_t seed = 400;
  for (const Geo& g : {Geo{.h = 2, .w = 2, .in = 128, .out = 1434, .kh = 2, .kw = 2, .valid = true},
                       Geo{.h = 1, .w = 1, .in = 300, .out = 70, .kh = 1, .kw = 1, .batch = 2}})
    for (bool inexact : {false, true})
      for (bool post_ops : {false, true}) {
        const Conv2DShape s = shape(g);
        const size_t n = size_t(s.out_channels) * s.kernel_height * s.kernel_width * s.in_channels;
        std::vector<float> weights = random_floats(n, seed++, -2, 2);
        for (float& w : weights) w = std::round(w * 1024) / 1024;  // float16 values
        if (inexact) weights[n / 2] = 1.0f / 3;
        const auto input = random_floats(size_t(s.batch) * s.in_height * s.in_width * s.in_channels, seed++);
        const auto bias = random_floats(s.out_channels, seed++), alpha = random_floats(s.out_channels, seed++);
        const auto residual = random_floats(outputs(s), seed++, -4, 4);
        const Conv2DPostOps post{post_ops, post_ops ? Activation::kRelu6 : Activation::kNone,
                                 post_ops ? alpha.data() : nullptr};
        EXPECT_EQ(runtime::kernels::make_matvec_conv2d(s, weights.data(), bias.data(), post) != nullptr,
                  halves && !inexact);
        for (KernelFamily which : families()) {
          if (which == KernelFamily::kPlain) continue;
          const auto product = which == KernelFamily::kAvx2
                                   ? runtime::kernels::make_gemm_conv2d(s, weights.data(), bias.data(), post)
                                   : runtime::kernels::make_gemm_conv2d_avx512(s, weights.data(), bias.data(), post);
          std::vector<float> expected(outputs(s)), got(outputs(s));
          product->run(input.data(), expected.data(), residual.data());
          runtime::kernels::make_conv2d(which, s, weights.data(), bias.data(), post)
              ->run(input.data(), got.data(), residual.data());
          EXPECT_EQ(got, expected) << s.out_channels << " outputs, inexact " << inexact << ", post-ops " << post_ops;
        }
      }
}

// NaN from the input, the residual or the bias survives RELU and RELU6 (a
// model that divides by a zero spread must give NaN at the end); infinities
// clamp. The depthwise 1x1 keeps channels apart (9 reach the vector tail); the
// 2 -> 16 expansion takes NaN from its residual and its bias.
TEST(Conv2D, NanPassesThroughActivations) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Conv2DShape dw = shape({.h = 1, .w = 3, .in = 9, .kh = 1, .kw = 1, .depthwise = true});
  const Conv2DShape wide = shape({.h = 1, .w = 3, .in = 2, .out = 16, .kh = 1, .kw = 1});
  const std::vector<float> ones(32, 1.0f), finite(6, 1.0f);
  std::vector<float> input(27, -2.0f), bias(16, 0.0f), residual(48, 0.0f), out(48);
  input[0] = nan, input[1] = -inf, input[2] = inf, input[8] = nan;
  for (KernelFamily which : families()) {
    SCOPED_TRACE(runtime::kernels::kernel_family_name(which));
    for (Activation a : {Activation::kRelu, Activation::kRelu6}) {
      std::string error;
      auto kernel = create(which, dw, ones.data(), nullptr, {false, a, nullptr}, error);
      kernel->run(input.data(), out.data(), nullptr);
      EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[8]));
      EXPECT_EQ(out[1], 0.0f);
      EXPECT_EQ(out[2], a == Activation::kRelu ? inf : 6.0f);
      EXPECT_EQ(out[26], 0.0f);

      residual[20] = nan;
      kernel = create(which, wide, ones.data(), bias.data(), {true, a, nullptr}, error);
      kernel->run(finite.data(), out.data(), residual.data());
      EXPECT_TRUE(std::isnan(out[20]) && out[21] == 2.0f);
      residual[20] = 0.0f, bias[4] = nan;
      kernel = create(which, wide, ones.data(), bias.data(), {true, a, nullptr}, error);
      kernel->run(finite.data(), out.data(), residual.data());
      EXPECT_TRUE(std::isnan(out[4]) && std::isnan(out[36]) && out[5] == 2.0f);
      bias[4] = 0.0f;
    }
  }
}

TEST(Conv2D, RejectsInconsistentShapesWithAMessage) {
  const std::vector<float> weights(10000, 1.0f);
  const Conv2DShape good = shape({});
  // clang-format off
  const std::vector<void (*)(Conv2DShape&)> breaks = {
      [](Conv2DShape& s) { s.out_height += 1; }, [](Conv2DShape& s) { s.out_width -= 1; },
      [](Conv2DShape& s) { s.in_channels = 0; }, [](Conv2DShape& s) { s.batch = 0; },
      [](Conv2DShape& s) { s.stride_height = 0; }, [](Conv2DShape& s) { s.dilation_width = 0; },
      [](Conv2DShape& s) { s.pad_left = -1, s.pad_right = 3; },
      [](Conv2DShape& s) { s.groups = 3; },                            // neither 1 nor depthwise
      [](Conv2DShape& s) { s.groups = 3, s.out_channels = 6; },        // channel multiplier
      [](Conv2DShape& s) { s.kernel_height = 11, s.out_height = 1; },  // larger than the input
      [](Conv2DShape& s) { s.pad_top = s.pad_bottom = 0x7fffffff, s.out_height = 1; },
      [](Conv2DShape& s) { s.in_height = s.in_width = s.out_height = s.out_width = 1 << 16; },
  };
  // clang-format on
  for (size_t i = 0; i < breaks.size(); ++i) {
    Conv2DShape s = good;
    breaks[i](s);
    std::string error;
    EXPECT_EQ(Conv2DKernel::create(s, weights.data(), nullptr, {}, error), nullptr) << i;
    EXPECT_FALSE(error.empty()) << i;
  }
  std::string error;
  EXPECT_EQ(Conv2DKernel::create(good, nullptr, nullptr, {}, error), nullptr);
  EXPECT_NE(error.find("weights"), std::string::npos) << error;
  EXPECT_EQ(Conv2DKernel::create(good, weights.data(), nullptr, {false, Activation(7)}, error),
            nullptr);
}

}  // namespace
