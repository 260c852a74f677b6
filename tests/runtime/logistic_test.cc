#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(LogisticOp, MatchesItsFormula) {
  check_unary(kLogistic, [](float v) { return 1.f / (1.f + std::exp(-v)); }, unary_inputs(4));
}

TEST(LogisticOp, SaturatesWithoutOverflow) {
  check_unary(kLogistic, [](float v) { return v < 0 ? 0.f : 1.f; }, {-1000.f, 1000.f});
}

TEST(LogisticOp, NaNStaysNaN) { EXPECT_TRUE(is_nan_after(kLogistic, std::nanf(""))); }

}  // namespace
}  // namespace testing_models
