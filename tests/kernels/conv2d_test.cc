#include "runtime/kernels/conv2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/kernels/reference.h"

namespace {

using runtime::Activation;
using runtime::Conv2DKernel;
using runtime::Conv2DPostOps;
using runtime::Conv2DShape;
using namespace kernels_test;

// One convolution geometry, described the way a model states it: sizes,
// kernel, stride and SAME or VALID padding. Explicit pads override.
struct Geometry {
  int batch = 1, height = 7, width = 5, in_channels = 3, out_channels = 5;
  int kernel = 3, stride = 1, dilation = 1;
  bool depthwise = false;
  bool same = true;
  int pad_top = -1, pad_left = -1, pad_bottom = -1, pad_right = -1;  // -1: from `same`

  Geometry& size(int h, int w) { height = h, width = w; return *this; }
  Geometry& channels(int in, int out) { in_channels = in, out_channels = out; return *this; }
  Geometry& dw(int c) { depthwise = true, in_channels = out_channels = c; return *this; }
  Geometry& k(int kk) { kernel = kk; return *this; }
  Geometry& s(int ss) { stride = ss; return *this; }
  Geometry& valid() { same = false; return *this; }
  Geometry& pads(int t, int l, int b, int r) {
    pad_top = t, pad_left = l, pad_bottom = b, pad_right = r;
    return *this;
  }

  Conv2DShape shape() const {
    Conv2DShape s;
    s.batch = batch;
    s.in_height = height, s.in_width = width, s.in_channels = in_channels;
    s.out_channels = out_channels;
    s.kernel_height = s.kernel_width = kernel;
    s.stride_height = s.stride_width = stride;
    s.dilation_height = s.dilation_width = dilation;
    s.groups = depthwise ? in_channels : 1;
    axis(height, s.out_height, s.pad_top, s.pad_bottom, pad_top, pad_bottom);
    axis(width, s.out_width, s.pad_left, s.pad_right, pad_left, pad_right);
    return s;
  }

 private:
  void axis(int in, int& out, int& before, int& after, int fixed_before, int fixed_after) const {
    const int reach = (kernel - 1) * dilation + 1;
    if (fixed_before >= 0) {
      before = fixed_before, after = fixed_after;
      out = (in + before + after - reach) / stride + 1;
    } else if (same) {
      out = (in + stride - 1) / stride;
      const int total = std::max((out - 1) * stride + reach - in, 0);
      before = total / 2, after = total - before;  // the odd pixel goes after
    } else {
      before = after = 0;
      out = (in - reach) / stride + 1;
    }
  }
};

std::string describe(const Geometry& g) {
  return std::to_string(g.height) + "x" + std::to_string(g.width) + "x" +
         std::to_string(g.in_channels) + "->" + std::to_string(g.out_channels) + " k" +
         std::to_string(g.kernel) + " s" + std::to_string(g.stride) + " d" +
         std::to_string(g.dilation) + (g.depthwise ? " depthwise" : "") + " n" +
         std::to_string(g.batch);
}

// The post-op choices of one run; every combination is exercised per geometry.
struct Post {
  bool bias = true;
  bool residual = false;
  Activation activation = Activation::kNone;
  bool prelu = false;
};

std::string describe(const Post& p) {
  const char* act[] = {"none", "relu", "relu6"};
  return std::string(p.bias ? "bias" : "no bias") + (p.residual ? " residual" : "") + " act " +
         act[static_cast<int>(p.activation)] + (p.prelu ? " prelu" : "");
}

std::vector<Post> every_post() {
  std::vector<Post> all;
  for (bool bias : {false, true})
    for (bool residual : {false, true})
      for (Activation a : {Activation::kNone, Activation::kRelu, Activation::kRelu6})
        for (bool prelu : {false, true}) all.push_back({bias, residual, a, prelu});
  return all;
}

size_t weight_count(const Conv2DShape& s) {
  return size_t(s.out_channels) * s.kernel_height * s.kernel_width * (s.in_channels / s.groups);
}
size_t input_count(const Conv2DShape& s) {
  return size_t(s.batch) * s.in_height * s.in_width * s.in_channels;
}
size_t output_count(const Conv2DShape& s) {
  return size_t(s.batch) * s.out_height * s.out_width * s.out_channels;
}

// Inputs of one convolution; values up to 4 in magnitude so that RELU6 clips.
struct Data {
  std::vector<float> input, weights, bias, residual, alpha;
  Data(const Conv2DShape& s, uint32_t seed) {
    std::mt19937 rng(seed);
    input = random_floats(input_count(s), rng, -2, 2);
    weights = random_floats(weight_count(s), rng, -1, 1);
    bias = random_floats(s.out_channels, rng, -2, 2);
    residual = random_floats(output_count(s), rng, -4, 4);
    alpha = random_floats(s.out_channels, rng, -0.5f, 1.5f);
  }
};

// Builds, runs and compares one geometry under one post-op choice.
void expect_matches_plain_loop(const Geometry& g, const Post& p, uint32_t seed) {
  SCOPED_TRACE(describe(g) + ", " + describe(p));
  const Conv2DShape s = g.shape();
  Data d(s, seed);
  Conv2DPostOps post;
  post.add_residual = p.residual;
  post.activation = p.activation;
  post.prelu_alpha = p.prelu ? d.alpha.data() : nullptr;
  std::string error;
  auto kernel =
      Conv2DKernel::create(s, d.weights.data(), p.bias ? d.bias.data() : nullptr, post, error);
  ASSERT_NE(kernel, nullptr) << error;

  std::vector<float> out(output_count(s), -123.0f);
  kernel->run(d.input.data(), out.data(), p.residual ? d.residual.data() : nullptr);
  const Expected e = reference_conv2d(s, d.input.data(), d.weights.data(),
                                      p.bias ? d.bias.data() : nullptr,
                                      p.residual ? d.residual.data() : nullptr, p.activation,
                                      p.prelu ? d.alpha.data() : nullptr);
  size_t first = 0;
  const int bad = count_mismatches(e, out, &first);
  EXPECT_EQ(bad, 0) << "first at " << first << ": got " << out[first] << ", expected "
                    << e.value[first];
}

void expect_all_posts_match(const std::vector<Geometry>& geometries) {
  uint32_t seed = 1;
  for (const Geometry& g : geometries)
    for (const Post& p : every_post()) expect_matches_plain_loop(g, p, seed++);
}

TEST(Conv2D, OrdinaryMatchesPlainLoopUnderEveryPostOp) {
  expect_all_posts_match({
      Geometry().k(1),
      Geometry().k(1).s(2).valid(),
      Geometry().k(3),
      Geometry().k(3).s(2).channels(5, 3),
      Geometry().k(3).s(2).size(8, 6),  // SAME: pad 0 before, 1 after on both axes
      Geometry().k(5),
      Geometry().k(5).s(2).size(6, 9),
      Geometry().k(5).valid().size(7, 5),
      Geometry().k(3).pads(0, 2, 1, 0),
      Geometry().k(3).pads(4, 0, 1, 3),  // padding as wide as the kernel
      Geometry().k(3).s(2).size(16, 12).channels(24, 17),
      Geometry().k(1).size(6, 6).channels(40, 24),
  });
}

TEST(Conv2D, DepthwiseMatchesPlainLoopUnderEveryPostOp) {
  expect_all_posts_match({
      Geometry().k(3).dw(3),
      Geometry().k(3).dw(5).s(2),
      Geometry().k(3).dw(5).s(2).size(8, 6),
      Geometry().k(5).dw(5),
      Geometry().k(5).dw(3).s(2).size(9, 6),
      Geometry().k(3).dw(17).size(11, 13),
      Geometry().k(5).dw(32).size(10, 10).s(2),
      Geometry().k(1).dw(7),
      Geometry().k(3).dw(5).pads(2, 0, 0, 1),
      Geometry().k(3).dw(8).pads(1, 3, 4, 0),  // padding as wide as the kernel
  });
}

TEST(Conv2D, DilationAndBatchMatchPlainLoop) {
  Geometry dilated = Geometry().k(3).size(9, 11);
  dilated.dilation = 2;
  Geometry dilated_dw = Geometry().k(3).dw(8).size(9, 7).s(2);
  dilated_dw.dilation = 2;
  Geometry batched = Geometry().k(3).channels(4, 6);
  batched.batch = 3;
  Geometry batched_dw = Geometry().k(5).dw(9);
  batched_dw.batch = 2;
  uint32_t seed = 1000;
  for (const Geometry& g : {dilated, dilated_dw, batched, batched_dw})
    for (const Post& p : {Post{}, Post{true, true, Activation::kRelu6, true}})
      expect_matches_plain_loop(g, p, seed++);
}

// Height and width differ in kernel, stride, dilation and padding, so that a
// swapped axis anywhere shows.
TEST(Conv2D, RectangularGeometryMatchesPlainLoop) {
  for (int groups : {1, 6}) {
    Conv2DShape s;
    s.in_height = 9, s.in_width = 13, s.in_channels = 6, s.out_channels = groups == 1 ? 4 : 6;
    s.kernel_height = 1, s.kernel_width = 3;
    s.stride_height = 2, s.stride_width = 1;
    s.dilation_height = 1, s.dilation_width = 2;
    s.pad_top = 1, s.pad_bottom = 0, s.pad_left = 2, s.pad_right = 1;
    s.out_height = (9 + 1 - 1) / 2 + 1, s.out_width = (13 + 3 - 5) / 1 + 1;
    s.groups = groups;
    Data d(s, 42 + groups);
    std::string error;
    auto kernel = Conv2DKernel::create(s, d.weights.data(), d.bias.data(), {}, error);
    ASSERT_NE(kernel, nullptr) << error;
    std::vector<float> out(output_count(s));
    kernel->run(d.input.data(), out.data(), nullptr);
    const Expected e = reference_conv2d(s, d.input.data(), d.weights.data(), d.bias.data(),
                                        nullptr, Activation::kNone, nullptr);
    EXPECT_EQ(count_mismatches(e, out), 0) << "groups " << groups;
  }
}

// Outputs larger than the core's L2, where the library blocks its loops
// differently from the small cases above.
TEST(Conv2D, LargeOutputsMatchPlainLoop) {
  Geometry dilated = Geometry().k(3).dw(32).size(61, 40);
  dilated.dilation = 2;
  uint32_t seed = 700;
  for (const Geometry& g : {Geometry().k(5).size(61, 40).channels(32, 32),
                            Geometry().k(3).s(2).size(122, 80).channels(8, 32),
                            Geometry().k(1).size(61, 40).channels(16, 32),
                            Geometry().k(3).dw(32).s(2).size(121, 79), dilated,
                            Geometry().k(3).dw(32).size(61, 40).pads(4, 1, 0, 1)})
    for (const Post& p : {Post{}, Post{true, true, Activation::kRelu6, true},
                          Post{false, true, Activation::kRelu, false}})
      expect_matches_plain_loop(g, p, seed++);
}

// NaN survives RELU, RELU6 and PReLU (a model that divides by a zero spread
// must give NaN at the end), while infinities clamp like any other value.
TEST(Conv2D, NanPassesThroughActivations) {
  const Conv2DShape s = Geometry().size(1, 3).channels(9, 9).dw(9).k(1).shape();
  const std::vector<float> ones(9, 1.0f), alpha(9, 0.5f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Pixel 0: NaN, -inf, +inf, then ordinary values; the ninth channel is in
  // the scalar tail.
  std::vector<float> input(27, -2.0f);
  input[0] = nan, input[1] = -inf, input[2] = inf, input[8] = nan;
  for (Activation a : {Activation::kRelu, Activation::kRelu6})
    for (bool prelu : {false, true}) {
      SCOPED_TRACE(std::string(a == Activation::kRelu ? "relu" : "relu6") +
                   (prelu ? " prelu" : ""));
      Conv2DPostOps post;
      post.activation = a;
      post.prelu_alpha = prelu ? alpha.data() : nullptr;
      std::string error;
      auto kernel = Conv2DKernel::create(s, ones.data(), nullptr, post, error);
      ASSERT_NE(kernel, nullptr) << error;
      std::vector<float> out(27);
      kernel->run(input.data(), out.data(), nullptr);
      EXPECT_TRUE(std::isnan(out[0]));
      EXPECT_EQ(out[1], 0.0f);
      EXPECT_EQ(out[2], a == Activation::kRelu ? inf : 6.0f);
      EXPECT_EQ(out[3], 0.0f);
      EXPECT_TRUE(std::isnan(out[8]));
      EXPECT_EQ(out[26], 0.0f);
    }
}

// NaN can also come from the residual alone, or from the model's bias; an
// expansion (4 -> 16 channels) reads much less than it writes, the case where
// the kernel checks its inputs instead of passing over its output.
TEST(Conv2D, NanFromResidualOrBiasPassesThroughActivations) {
  const Conv2DShape s = Geometry().size(3, 3).channels(4, 16).k(1).shape();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Data d(s, 9);
  for (Activation a : {Activation::kRelu, Activation::kRelu6}) {
    SCOPED_TRACE(a == Activation::kRelu ? "relu" : "relu6");
    Conv2DPostOps post;
    post.activation = a;
    post.add_residual = true;
    std::string error;
    auto kernel = Conv2DKernel::create(s, d.weights.data(), d.bias.data(), post, error);
    ASSERT_NE(kernel, nullptr) << error;
    std::vector<float> residual = d.residual, out(residual.size());
    kernel->run(d.input.data(), out.data(), residual.data());
    EXPECT_EQ(count_mismatches(reference_conv2d(s, d.input.data(), d.weights.data(),
                                                d.bias.data(), residual.data(), a, nullptr),
                               out),
              0);
    residual[21] = nan;
    kernel->run(d.input.data(), out.data(), residual.data());
    EXPECT_TRUE(std::isnan(out[21]));
    EXPECT_FALSE(std::isnan(out[20]));

    std::vector<float> bias = d.bias;
    bias[3] = nan;
    kernel = Conv2DKernel::create(s, d.weights.data(), bias.data(), post, error);
    ASSERT_NE(kernel, nullptr) << error;
    kernel->run(d.input.data(), out.data(), d.residual.data());
    for (int pixel = 0; pixel < 9; ++pixel) EXPECT_TRUE(std::isnan(out[pixel * 16 + 3])) << pixel;
  }
}

// Values small enough to check by hand: a 3x3 box filter of ones over a 2x3
// image with SAME padding sums each pixel's in-bounds neighbourhood.
TEST(Conv2D, BoxFilterGivesHandComputedSums) {
  const Conv2DShape s = Geometry().size(2, 3).channels(1, 1).k(3).shape();
  const std::vector<float> input = {1, 2, 3, 4, 5, 6};
  const std::vector<float> ones(9, 1.0f);
  const float bias = 0.5f;
  std::string error;
  auto kernel = Conv2DKernel::create(s, ones.data(), &bias, {}, error);
  ASSERT_NE(kernel, nullptr) << error;
  std::vector<float> out(6);
  kernel->run(input.data(), out.data(), nullptr);
  EXPECT_EQ(out, (std::vector<float>{12.5f, 21.5f, 16.5f, 12.5f, 21.5f, 16.5f}));
}

// Post-ops in their stated order: bias, residual, activation, PReLU. With a
// 1x1 identity kernel each output shows which step changed what.
TEST(Conv2D, PostOpsApplyInOrder) {
  const Conv2DShape s = Geometry().size(1, 4).channels(2, 2).k(1).shape();
  const std::vector<float> identity = {1, 0, 0, 1};
  const std::vector<float> bias = {1, -10};
  const std::vector<float> alpha = {0.5f, 0.25f};
  const std::vector<float> input = {-3, 12, 2, 4, 7, 20, -1, 1};
  const std::vector<float> residual = {1, 1, 1, 1, 1, 1, -4, -4};
  Conv2DPostOps post;
  post.add_residual = true;
  post.activation = Activation::kRelu6;
  post.prelu_alpha = alpha.data();
  std::string error;
  auto kernel = Conv2DKernel::create(s, identity.data(), bias.data(), post, error);
  ASSERT_NE(kernel, nullptr) << error;
  std::vector<float> out(8);
  kernel->run(input.data(), out.data(), residual.data());
  // (-3+1+1)=-1 -> 0; (12-10+1)=3; (2+1+1)=4; (4-10+1)=-5 -> 0; 9 -> 6; 11 -> 6;
  // (-1+1-4)=-4 -> 0; (1-10-4) -> 0. RELU6 before PReLU leaves nothing negative.
  EXPECT_EQ(out, (std::vector<float>{0, 3, 4, 0, 6, 6, 0, 0}));

  post.activation = Activation::kNone;
  kernel = Conv2DKernel::create(s, identity.data(), bias.data(), post, error);
  ASSERT_NE(kernel, nullptr) << error;
  kernel->run(input.data(), out.data(), residual.data());
  EXPECT_EQ(out, (std::vector<float>{-0.5f, 3, 4, -1.25f, 9, 11, -2, -3.25f}));
}

// The kernel keeps its own copies: the caller frees its arrays after create,
// and later runs see new inputs rather than the first ones.
TEST(Conv2D, OwnsItsParametersAndReadsEachRunsInput) {
  const Geometry g = Geometry().k(3).channels(8, 8);
  const Conv2DShape s = g.shape();
  Data d(s, 77);
  Conv2DPostOps post;
  post.add_residual = true;
  post.prelu_alpha = d.alpha.data();
  std::string error;
  auto weights = d.weights, bias = d.bias, alpha = d.alpha;
  post.prelu_alpha = alpha.data();
  auto kernel = Conv2DKernel::create(s, weights.data(), bias.data(), post, error);
  ASSERT_NE(kernel, nullptr) << error;
  std::fill(weights.begin(), weights.end(), 99.0f);
  std::fill(bias.begin(), bias.end(), 99.0f);
  std::fill(alpha.begin(), alpha.end(), 99.0f);

  std::mt19937 rng(5);
  for (int round = 0; round < 3; ++round) {
    const auto input = random_floats(input_count(s), rng, -2, 2);
    const auto residual = random_floats(output_count(s), rng, -2, 2);
    std::vector<float> out(output_count(s));
    kernel->run(input.data(), out.data(), residual.data());
    const Expected e = reference_conv2d(s, input.data(), d.weights.data(), d.bias.data(),
                                        residual.data(), Activation::kNone, d.alpha.data());
    EXPECT_EQ(count_mismatches(e, out), 0) << "round " << round;
  }
}

// A caller may add the residual in place: the residual array is the output
// array. Model-sized channel counts make the library split the reduction over
// input channels, which is where an in-place sum could lose the residual.
TEST(Conv2D, ResidualMayBeTheOutputItself) {
  uint32_t seed = 300;
  for (const Geometry& g : {Geometry().k(3).channels(5, 5), Geometry().k(5).dw(17).s(1),
                            Geometry().k(1).size(7, 7).channels(1152, 192),
                            Geometry().k(1).size(9, 5).channels(256, 256),
      Geometry().k(3).size(61, 40).channels(32, 32),
      Geometry().k(3).channels(5, 5).pads(4, 0, 1, 3)})
    for (const Post& p : {Post{true, true, Activation::kNone, false},
                          Post{false, true, Activation::kRelu6, true}}) {
      SCOPED_TRACE(describe(g) + ", " + describe(p));
      const Conv2DShape s = g.shape();
      Data d(s, seed++);
      Conv2DPostOps post;
      post.add_residual = true;
      post.activation = p.activation;
      post.prelu_alpha = p.prelu ? d.alpha.data() : nullptr;
      std::string error;
      auto kernel = Conv2DKernel::create(s, d.weights.data(), p.bias ? d.bias.data() : nullptr,
                                         post, error);
      ASSERT_NE(kernel, nullptr) << error;
      const Expected e = reference_conv2d(s, d.input.data(), d.weights.data(),
                                          p.bias ? d.bias.data() : nullptr, d.residual.data(),
                                          p.activation, post.prelu_alpha);
      // Twice, so that the in-place form and the separate form follow each other.
      for (int round = 0; round < 2; ++round) {
        std::vector<float> out = d.residual;
        kernel->run(d.input.data(), out.data(), out.data());
        EXPECT_EQ(count_mismatches(e, out), 0) << "in place, round " << round;
        std::vector<float> separate(out.size());
        kernel->run(d.input.data(), separate.data(), d.residual.data());
        EXPECT_EQ(count_mismatches(e, separate), 0) << "separate, round " << round;
      }
    }
}

TEST(Conv2D, RejectsInconsistentShapesWithAMessage) {
  const std::vector<float> weights(10000, 1.0f);
  struct Bad {
    const char* what;
    Conv2DShape shape;
  };
  const Conv2DShape good = Geometry().k(3).shape();
  std::vector<Bad> cases;
  auto with = [&](const char* what, auto change) {
    Conv2DShape s = good;
    change(s);
    cases.push_back({what, s});
  };
  with("output too tall", [](Conv2DShape& s) { s.out_height += 1; });
  with("output too narrow", [](Conv2DShape& s) { s.out_width -= 1; });
  with("zero channels", [](Conv2DShape& s) { s.in_channels = 0; });
  with("zero batch", [](Conv2DShape& s) { s.batch = 0; });
  with("zero stride", [](Conv2DShape& s) { s.stride_height = 0; });
  with("zero dilation", [](Conv2DShape& s) { s.dilation_width = 0; });
  with("negative pad", [](Conv2DShape& s) { s.pad_left = -1, s.pad_right = 3; });
  with("groups neither 1 nor depthwise", [](Conv2DShape& s) { s.groups = 3; });
  with("channel multiplier", [](Conv2DShape& s) { s.groups = 3, s.out_channels = 6; });
  with("kernel larger than padded input", [](Conv2DShape& s) {
    s.kernel_height = 11, s.out_height = 1;
  });
  with("padding past the int range", [](Conv2DShape& s) {
    s.pad_top = s.pad_bottom = 0x7fffffff, s.out_height = 1;
  });
  with("huge input", [](Conv2DShape& s) {
    s.in_height = s.in_width = 1 << 16, s.out_height = s.out_width = 1 << 16;
  });
  for (const Bad& bad : cases) {
    std::string error;
    EXPECT_EQ(Conv2DKernel::create(bad.shape, weights.data(), nullptr, {}, error), nullptr)
        << bad.what;
    EXPECT_FALSE(error.empty()) << bad.what;
  }
  std::string error;
  EXPECT_EQ(Conv2DKernel::create(good, nullptr, nullptr, {}, error), nullptr);
  EXPECT_NE(error.find("weights"), std::string::npos) << error;
  Conv2DPostOps bad_activation;
  bad_activation.activation = static_cast<Activation>(7);
  EXPECT_EQ(Conv2DKernel::create(good, weights.data(), nullptr, bad_activation, error), nullptr);
}

}  // namespace
