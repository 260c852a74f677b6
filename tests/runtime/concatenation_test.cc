#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(ConcatenationOp, EveryAxisIncludingNegative) {
  const Dims a_shape = {2, 3, 4}, b_shape_base = {2, 3, 4};
  for (int axis : {0, 1, 2, -1, -2}) {
    SCOPED_TRACE(axis);
    const int ax = axis < 0 ? axis + 3 : axis;
    Dims b_shape = b_shape_base;
    b_shape[ax] = 5;
    Dims out_shape = a_shape;
    out_shape[ax] += 5;
    const auto a = random_floats(count(a_shape), 1), b = random_floats(count(b_shape), 2);
    std::vector<float> expected;
    for_each_index(out_shape, [&](const std::vector<int>& i) {
      std::vector<int> j = i;
      if (i[ax] < a_shape[ax]) {
        expected.push_back(a[(static_cast<size_t>(j[0]) * a_shape[1] + j[1]) * a_shape[2] + j[2]]);
      } else {
        j[ax] -= a_shape[ax];
        expected.push_back(b[(static_cast<size_t>(j[0]) * b_shape[1] + j[1]) * b_shape[2] + j[2]]);
      }
    });
    ModelBuilder m;
    const int ta = m.tensor(a_shape), tb = m.tensor(b_shape), out = m.tensor(out_shape);
    m.op(kConcatenation, {ta, tb}, {out}, concat_options(axis));
    m.inputs({ta, tb});
    m.outputs({out});
    expect_close(run_model(m, {a, b}), expected);
  }
}

TEST(ConcatenationOp, ConstantTokenBeforeActivations) {
  // As the blendshape model prepends a learned token: constant [1,1,1,4] + input [1,1,3,4] on axis -2.
  const std::vector<float> token = {9, 8, 7, 6};
  const auto x = random_floats(12, 3);
  ModelBuilder m;
  const int in = m.tensor({1, 1, 3, 4}), out = m.tensor({1, 1, 4, 4});
  m.op(kConcatenation, {m.constant({1, 1, 1, 4}, token), in}, {out}, concat_options(-2));
  m.inputs({in});
  m.outputs({out});
  std::vector<float> expected = token;
  expected.insert(expected.end(), x.begin(), x.end());
  expect_close(run_model(m, {x}), expected);
}

TEST(ConcatenationOp, MismatchedShapesFailToCompile) {
  ModelBuilder m;
  const int a = m.tensor({2, 3}), b = m.tensor({3, 3}), out = m.tensor({2, 6});
  m.op(kConcatenation, {a, b}, {out}, concat_options(1));
  m.inputs({a, b});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
