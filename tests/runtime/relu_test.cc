#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(ReluOp, MatchesItsFormula) { check_unary(kRelu, [](float v) { return v > 0 ? v : 0.f; }, unary_inputs(5)); }

TEST(ReluOp, NaNStaysNaN) { EXPECT_TRUE(is_nan_after(kRelu, std::nanf(""))); }

}  // namespace
}  // namespace testing_models
