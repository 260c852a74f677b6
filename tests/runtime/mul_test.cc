#include "tests/runtime/binary_test_support.h"

namespace testing_models {
namespace {

TEST(MulOp, EveryBroadcastPatternMatchesAPlainLoop) {
  uint32_t seed = 10;
  for (const auto& c : broadcast_cases()) check_binary(kMul, c.a, c.b, c.out, [](float a, float b) { return a * b; }, {}, false, seed++);
}

TEST(MulOp, ConstantSecondOperand) {
  check_binary(kMul, {1, 4, 4, 8}, {8}, {1, 4, 4, 8}, [](float a, float b) { return a * b; }, {}, true);
}

TEST(MulOp, ShapesThatDoNotBroadcastFailToCompile) {
  ModelBuilder m;
  const int a = m.tensor({2, 3}), b = m.tensor({4, 3}), out = m.tensor({2, 3});
  m.op(kMul, {a, b}, {out});
  m.inputs({a, b});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
