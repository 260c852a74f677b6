#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(NegOp, MatchesItsFormula) { check_unary(kNeg, [](float v) { return -v; }, unary_inputs(1)); }

}  // namespace
}  // namespace testing_models
