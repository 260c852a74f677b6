#include "tests/runtime/binary_test_support.h"

namespace testing_models {
namespace {

TEST(AddOp, EveryBroadcastPatternMatchesAPlainLoop) {
  uint32_t seed = 10;
  for (const auto& c : broadcast_cases()) check_binary(kAdd, c.a, c.b, c.out, [](float a, float b) { return a + b; }, {}, false, seed++);
}

TEST(AddOp, ConstantSecondOperand) {
  check_binary(kAdd, {1, 4, 4, 8}, {8}, {1, 4, 4, 8}, [](float a, float b) { return a + b; }, {}, true);
}

TEST(AddOp, ShapesThatDoNotBroadcastFailToCompile) {
  ModelBuilder m;
  const int a = m.tensor({2, 3}), b = m.tensor({4, 3}), out = m.tensor({2, 3});
  m.op(kAdd, {a, b}, {out});
  m.inputs({a, b});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models

namespace testing_models {
namespace {

TEST(AddOp, FusedActivationsClamp) {
  check_binary(kAdd, {1, 3, 5, 4}, {1, 3, 5, 4}, {1, 3, 5, 4},
               [](float a, float b) { return std::max(a + b, 0.f); }, add_options(fb::ActivationFunctionType_RELU));
  check_binary(kAdd, {1, 3, 5, 4}, {4}, {1, 3, 5, 4},
               [](float a, float b) { return std::min(std::max(a + b, 0.f), 6.f); },
               add_options(fb::ActivationFunctionType_RELU6), false, 3, -8.f, 8.f);
}

TEST(AddOp, UnsupportedFusedActivationFailsToCompile) {
  ModelBuilder m;
  const int a = m.tensor({3}), b = m.tensor({3}), out = m.tensor({3});
  m.op(kAdd, {a, b}, {out}, add_options(fb::ActivationFunctionType_TANH));
  m.inputs({a, b});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
