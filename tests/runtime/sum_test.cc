#include "tests/runtime/reduce_test_support.h"

namespace testing_models {
namespace {

TEST(SumOp, LastAxisAndMiddleAxis) {
  check_reduce(kSum, {1, 15, 2}, {-1}, true);
  check_reduce(kSum, {2, 5, 3}, {1}, false);
}

}  // namespace
}  // namespace testing_models
