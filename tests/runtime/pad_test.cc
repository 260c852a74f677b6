#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(PadOp, ChannelPaddingAsTheDetectorsUseIt) {
  // [1,4,4,3] padded with 5 zero channels, then added to a full-depth tensor.
  const auto x = random_floats(4 * 4 * 3, 1);
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 3}), out = m.tensor({1, 4, 4, 8});
  m.op(kPad, {in, m.constant_ints({4, 2}, {0, 0, 0, 0, 0, 0, 0, 5})}, {out});
  m.inputs({in});
  m.outputs({out});
  std::vector<float> expected;
  for (int p = 0; p < 16; ++p)
    for (int c = 0; c < 8; ++c) expected.push_back(c < 3 ? x[p * 3 + c] : 0.f);
  expect_close(run_model(m, {x}), expected);
}

TEST(PadOp, EveryDimensionOfA3DTensor) {
  const Dims shape = {2, 3, 2};
  const std::vector<int32_t> p = {1, 0, 0, 2, 3, 1};
  const Dims out_shape = {3, 5, 6};
  const auto x = random_floats(count(shape), 2);
  std::vector<float> expected;
  for_each_index(out_shape, [&](const std::vector<int>& i) {
    const int a = i[0] - p[0], b = i[1] - p[2], c = i[2] - p[4];
    const bool inside = a >= 0 && a < shape[0] && b >= 0 && b < shape[1] && c >= 0 && c < shape[2];
    expected.push_back(inside ? x[(static_cast<size_t>(a) * shape[1] + b) * shape[2] + c] : 0.f);
  });
  ModelBuilder m;
  const int in = m.tensor(shape), out = m.tensor(out_shape);
  m.op(kPad, {in, m.constant_ints({3, 2}, p)}, {out});
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), expected);
}

TEST(PadOp, NegativeOrMisshapenPaddingFailsToCompile) {
  for (const auto& p : {std::vector<int32_t>{0, -1, 0, 0}, std::vector<int32_t>{0, 1, 0}}) {
    ModelBuilder m;
    const int in = m.tensor({2, 2}), out = m.tensor({2, 3});
    m.op(kPad, {in, m.constant_ints({static_cast<int32_t>(p.size())}, p)}, {out});
    m.inputs({in});
    m.outputs({out});
    EXPECT_TRUE(compile_fails(m));
  }
}

}  // namespace
}  // namespace testing_models
