#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(SqrtOp, MatchesItsFormula) {
  check_unary(kSqrt, [](float v) { return std::sqrt(v); }, random_floats(41, 2, 1e-3f, 50.f));
}

TEST(SqrtOp, NegativeGivesNaN) { EXPECT_TRUE(is_nan_after(kSqrt, -1.f)); }

}  // namespace
}  // namespace testing_models
