#include "tests/runtime/binary_test_support.h"

namespace testing_models {
namespace {

TEST(DivOp, EveryBroadcastPatternMatchesAPlainLoop) {
  uint32_t seed = 20;
  // Divisors kept away from zero so the loop and the kernel agree closely.
  for (const auto& c : broadcast_cases())
    check_binary(kDiv, c.a, c.b, c.out, [](float a, float b) { return a / b; }, {}, false, seed++, 0.5f, 3.f);
}

TEST(DivOp, ZeroByZeroIsNaN) {
  ModelBuilder m;
  const int a = m.tensor({2}), b = m.tensor({1}), out = m.tensor({2});
  m.op(kDiv, {a, b}, {out});
  m.inputs({a, b});
  m.outputs({out});
  const auto r = run_model(m, {{0.f, 1.f}, {0.f}});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(std::isnan(r[0]));
  EXPECT_TRUE(std::isinf(r[1]));
}

}  // namespace
}  // namespace testing_models
