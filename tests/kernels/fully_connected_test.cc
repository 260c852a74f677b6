#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/kernel_family.h"
#include "tests/kernels/guarded.h"
#include "tests/support/conv_reference.h"

namespace {

using runtime::Activation;
using runtime::FullyConnectedKernel;
using runtime::FullyConnectedShape;

using runtime::kernels::KernelFamily;

// Checked as a 1x1 convolution over `batch` pixels, whose weights are [out][in] too, with
// every kernel family this processor runs.
TEST(FullyConnected, MatchesPlainLoop) {
  uint32_t seed = 1;
  for (KernelFamily f : {KernelFamily::kPlain, KernelFamily::kAvx2, KernelFamily::kAvx512})
    for (FullyConnectedShape s : {FullyConnectedShape{1, 1, 1}, FullyConnectedShape{1, 7, 5},
                                  FullyConnectedShape{1, 1152, 63}, FullyConnectedShape{3, 33, 17},
                                  FullyConnectedShape{2, 40, 48}})
      for (bool bias : {false, true})
        for (Activation a : {Activation::kNone, Activation::kRelu, Activation::kRelu6}) {
          using conv_reference::random_floats;
          const auto in = random_floats(size_t(s.batch) * s.in_features, 3 * seed, -2, 2);
          const auto w = random_floats(size_t(s.out_features) * s.in_features, 3 * seed + 1);
          const auto b = random_floats(s.out_features, 3 * seed + 2, -3, 3);
          ++seed;
          kernels_test::Guarded gw(w), gb(b), gin(in),
              out(std::vector<float>(size_t(s.batch) * s.out_features));
          std::string error;
          auto kernel = runtime::kernels::make_fully_connected(
              f, s, gw.data(), bias ? gb.data() : nullptr, a, error);
          ASSERT_NE(kernel, nullptr) << error;
          kernel->run(gin.data(), out.data());
          for (const auto* g : {&gw, &gb, &gin, &out}) EXPECT_EQ(g->damage(), "");
          const runtime::Conv2DShape c{1, 1, s.batch, s.in_features, 1, s.batch, s.out_features};
          const auto e = conv_reference::conv2d(c, in.data(), w.data(), bias ? b.data() : nullptr, nullptr, a);
          EXPECT_EQ(conv_reference::count_mismatches(e, out.values()), 0)
              << s.in_features << " " << bias << " " << runtime::kernels::kernel_family_name(f);
        }
}

// Hand-checked: rows of the weights are outputs; NaN survives the activation.
TEST(FullyConnected, UsesOutputMajorWeightsAndKeepsNan) {
  const std::vector<float> weights = {1, 2, 3, -1, 0, 1}, bias = {0.5f, -8};
  const std::vector<float> input = {1, 10, 100, std::numeric_limits<float>::quiet_NaN(), 0, 0};
  std::string error;
  std::vector<float> out(4);
  FullyConnectedKernel::create({2, 3, 2}, weights.data(), bias.data(), Activation::kRelu6, error)
      ->run(input.data(), out.data());
  EXPECT_TRUE(out[0] == 6 && out[1] == 6 && std::isnan(out[2]) && std::isnan(out[3]));
  FullyConnectedKernel::create({1, 3, 2}, weights.data(), bias.data(), Activation::kNone, error)
      ->run(input.data(), out.data());
  EXPECT_TRUE(out[0] == 321.5f && out[1] == 91);
}

TEST(FullyConnected, RejectsBadShapesWithAMessage) {
  const std::vector<float> weights(64, 1.0f);
  for (FullyConnectedShape s :
       {FullyConnectedShape{0, 4, 4}, FullyConnectedShape{1, 0, 4}, FullyConnectedShape{1, 4, -1},
        FullyConnectedShape{1, 1 << 20, 1 << 12}}) {
    std::string error;
    EXPECT_EQ(FullyConnectedKernel::create(s, weights.data(), nullptr, Activation::kNone, error),
              nullptr);
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_EQ(FullyConnectedKernel::create({1, 4, 4}, nullptr, nullptr, Activation::kNone, error),
            nullptr);
}

}  // namespace
