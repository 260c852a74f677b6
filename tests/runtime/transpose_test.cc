#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(TransposeOp, PermutationsMatchAPlainLoop) {
  const Dims shape = {2, 3, 4, 5};
  const auto x = random_floats(count(shape), 3);
  for (const std::vector<int32_t>& perm : {std::vector<int32_t>{0, 1, 3, 2}, {3, 2, 1, 0}, {1, 0, 2, 3}, {0, -1, 1, 2}}) {
    SCOPED_TRACE(testing::Message() << perm[0] << perm[1] << perm[2] << perm[3]);
    std::vector<int> p;
    for (int32_t v : perm) p.push_back(v < 0 ? v + 4 : v);
    Dims out_shape;
    for (int d : p) out_shape.push_back(shape[d]);
    std::vector<float> expected;
    for_each_index(out_shape, [&](const std::vector<int>& i) {
      std::vector<int> src(4);
      for (int k = 0; k < 4; ++k) src[p[k]] = i[k];
      expected.push_back(x[((static_cast<size_t>(src[0]) * shape[1] + src[1]) * shape[2] + src[2]) * shape[3] + src[3]]);
    });
    ModelBuilder m;
    const int in = m.tensor(shape), out = m.tensor(out_shape);
    m.op(kTranspose, {in, m.constant_ints({4}, perm)}, {out});
    m.inputs({in});
    m.outputs({out});
    expect_close(run_model(m, {x}), expected);
  }
}

TEST(TransposeOp, NotAPermutationFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({2, 3}), out = m.tensor({3, 2});
  m.op(kTranspose, {in, m.constant_ints({2}, {1, 1})}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
