#include "tests/runtime/binary_test_support.h"

namespace testing_models {
namespace {

float prelu(float x, float a) { return x >= 0 ? x : x * a; }

TEST(PreluOp, PerChannelSlopeAsTheModelsUseIt) {
  check_binary(kPrelu, {1, 5, 3, 7}, {1, 1, 7}, {1, 5, 3, 7}, prelu, {}, true);
}

TEST(PreluOp, FullAndScalarSlopes) {
  check_binary(kPrelu, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}, prelu, {}, true, 4);
  check_binary(kPrelu, {2, 3, 4}, {1}, {2, 3, 4}, prelu, {}, true, 5);
}

TEST(PreluOp, SlopeLargerThanTheInputFailsToCompile) {
  ModelBuilder m;
  const int x = m.tensor({1, 3}), a = m.constant({2, 3}, std::vector<float>(6, 0.1f)), out = m.tensor({2, 3});
  m.op(kPrelu, {x, a}, {out});
  m.inputs({x});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
