#include "tests/runtime/reduce_test_support.h"

namespace testing_models {
namespace {

TEST(MeanOp, AxesAsTheModelsUseThem) {
  check_reduce(kMean, {1, 7, 7, 11}, {1, 2}, false);  // global average pool
  check_reduce(kMean, {1, 1, 9, 13}, {3}, true);      // layer norm statistics
  check_reduce(kMean, {1, 15, 2}, {-2}, true, true);  // scalar, negative axis
}

TEST(MeanOp, RepeatedAndAllAxes) {
  check_reduce(kMean, {3, 4, 5}, {0, -3}, false);
  check_reduce(kMean, {3, 4, 5}, {0, 1, 2}, true);
}

TEST(MeanOp, AxisOutOfRangeFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({2, 3}), out = m.tensor({2});
  m.op(kMean, {in, m.constant_ints({1}, {2})}, {out}, reducer_options(false));
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
