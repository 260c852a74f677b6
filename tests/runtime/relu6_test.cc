#include "tests/runtime/unary_test_support.h"

namespace testing_models {
namespace {

TEST(Relu6Op, MatchesItsFormula) {
  check_unary(kRelu6, [](float v) { return std::min(std::max(v, 0.f), 6.f); }, unary_inputs(6));
}

}  // namespace
}  // namespace testing_models
