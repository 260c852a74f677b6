#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(RsqrtOp, MatchesItsFormula) {
  check_unary(kRsqrt, [](float v) { return 1.f / std::sqrt(v); }, random_floats(41, 3, 1e-3f, 50.f));
}

TEST(RsqrtOp, NaNStaysNaN) { EXPECT_TRUE(is_nan_after(kRsqrt, std::nanf(""))); }

}  // namespace
}  // namespace testing_models
