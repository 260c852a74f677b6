#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "runtime/kernels/conv2d.h"
#include "tests/kernels/reference.h"

namespace {

using runtime::Activation;
using runtime::FullyConnectedKernel;
using runtime::FullyConnectedShape;
using namespace kernels_test;

TEST(FullyConnected, MatchesPlainLoop) {
  uint32_t seed = 1;
  for (FullyConnectedShape s : {FullyConnectedShape{1, 1, 1}, FullyConnectedShape{1, 7, 5},
                                FullyConnectedShape{1, 1152, 63}, FullyConnectedShape{2, 33, 9},
                                FullyConnectedShape{1, 256, 1}, FullyConnectedShape{3, 64, 17}})
    for (bool bias : {false, true})
      for (Activation a : {Activation::kNone, Activation::kRelu, Activation::kRelu6}) {
        SCOPED_TRACE(std::to_string(s.batch) + "x" + std::to_string(s.in_features) + "->" +
                     std::to_string(s.out_features) + (bias ? " bias" : "") + " act " +
                     std::to_string(static_cast<int>(a)));
        std::mt19937 rng(seed++);
        const auto input = random_floats(size_t(s.batch) * s.in_features, rng, -2, 2);
        const auto weights = random_floats(size_t(s.out_features) * s.in_features, rng);
        const auto biases = random_floats(s.out_features, rng, -3, 3);
        std::string error;
        auto kernel = FullyConnectedKernel::create(s, weights.data(),
                                                   bias ? biases.data() : nullptr, a, error);
        ASSERT_NE(kernel, nullptr) << error;
        std::vector<float> out(size_t(s.batch) * s.out_features, -123.0f);
        kernel->run(input.data(), out.data());
        const Expected e = reference_fully_connected(s, input.data(), weights.data(),
                                                     bias ? biases.data() : nullptr, a);
        EXPECT_EQ(count_mismatches(e, out), 0);
      }
}

// Rows of the weight matrix are outputs: [out][in], as TFLite stores them.
TEST(FullyConnected, UsesOutputMajorWeights) {
  const std::vector<float> weights = {1, 2, 3,  //
                                      -1, 0, 1};
  const std::vector<float> bias = {0.5f, -8};
  const std::vector<float> input = {1, 10, 100};
  std::string error;
  auto kernel = FullyConnectedKernel::create({1, 3, 2}, weights.data(), bias.data(),
                                             Activation::kNone, error);
  ASSERT_NE(kernel, nullptr) << error;
  std::vector<float> out(2);
  kernel->run(input.data(), out.data());
  EXPECT_EQ(out, (std::vector<float>{321.5f, 91}));
  kernel = FullyConnectedKernel::create({1, 3, 2}, weights.data(), bias.data(),
                                        Activation::kRelu6, error);
  ASSERT_NE(kernel, nullptr) << error;
  kernel->run(input.data(), out.data());
  EXPECT_EQ(out, (std::vector<float>{6, 6}));
}

// The first batch row is all NaN (a NaN meets every weight); the second
// shows the clamps still work on ordinary values.
TEST(FullyConnected, NanPassesThroughActivations) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> identity = {1, 0, 0,  //
                                       0, 1, 0,  //
                                       0, 0, 1};
  const std::vector<float> input = {nan, 0, 0,  //
                                    -5, 9, 1};
  for (Activation a : {Activation::kRelu, Activation::kRelu6}) {
    std::string error;
    auto kernel = FullyConnectedKernel::create({2, 3, 3}, identity.data(), nullptr, a, error);
    ASSERT_NE(kernel, nullptr) << error;
    std::vector<float> out(6);
    kernel->run(input.data(), out.data());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isnan(out[i])) << i;
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_EQ(out[4], a == Activation::kRelu ? 9.0f : 6.0f);
    EXPECT_EQ(out[5], 1.0f);
  }
}

TEST(FullyConnected, RejectsBadShapesWithAMessage) {
  const std::vector<float> weights(64, 1.0f);
  for (FullyConnectedShape s : {FullyConnectedShape{0, 4, 4}, FullyConnectedShape{1, 0, 4},
                                FullyConnectedShape{1, 4, -1},
                                FullyConnectedShape{1, 1 << 20, 1 << 12}}) {
    std::string error;
    EXPECT_EQ(FullyConnectedKernel::create(s, weights.data(), nullptr, Activation::kNone, error),
              nullptr);
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_EQ(FullyConnectedKernel::create({1, 4, 4}, nullptr, nullptr, Activation::kNone, error),
            nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
