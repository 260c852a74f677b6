#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

std::vector<float> fc_reference(const std::vector<float>& x, const std::vector<float>& w, const std::vector<float>& b,
                                int batch, int in, int out) {
  std::vector<float> y(static_cast<size_t>(batch) * out);
  for (int r = 0; r < batch; ++r)
    for (int o = 0; o < out; ++o) {
      double acc = b.empty() ? 0.0 : b[o];
      for (int i = 0; i < in; ++i) acc += double{x[static_cast<size_t>(r) * in + i]} * w[static_cast<size_t>(o) * in + i];
      y[static_cast<size_t>(r) * out + o] = static_cast<float>(acc);
    }
  return y;
}

TEST(FullyConnectedOp, FlattensTheInputIntoRows) {
  // [1, 7, 7, 3] read as rows of 21 (batch 7), and the models' [1, 1152] -> [1, 63] form.
  struct Case {
    Dims in_shape;
    int in, out, batch;
  };
  uint32_t seed = 300;
  for (const Case& c : {Case{{1, 7, 7, 3}, 21, 5, 7}, Case{{1, 1152}, 1152, 63, 1}, Case{{3, 17}, 17, 1, 3}}) {
    const auto x = random_floats(count(c.in_shape), seed++);
    const auto w = random_floats(static_cast<size_t>(c.in) * c.out, seed++);
    const auto b = random_floats(static_cast<size_t>(c.out), seed++);
    ModelBuilder m;
    const int in = m.tensor(c.in_shape), out = m.tensor({c.batch, c.out});
    m.op(kFullyConnected, {in, m.constant({c.out, c.in}, w), m.constant({c.out}, b)}, {out},
         fully_connected_options(false));
    m.inputs({in});
    m.outputs({out});
    expect_close(run_model(m, {x}), fc_reference(x, w, b, c.batch, c.in, c.out), 1e-4f);
  }
}

TEST(FullyConnectedOp, KeepNumDimsAndNoBias) {
  const auto x = random_floats(2 * 3 * 4, 5);
  const auto w = random_floats(6 * 4, 6);
  ModelBuilder m;
  const int in = m.tensor({2, 3, 4}), out = m.tensor({2, 3, 6});
  m.op(kFullyConnected, {in, m.constant({6, 4}, w), -1}, {out}, fully_connected_options(true));
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), fc_reference(x, w, {}, 6, 4, 6), 1e-4f);
}

TEST(FullyConnectedOp, InputNotAMultipleOfTheDepthFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({1, 10}), out = m.tensor({1, 2});
  m.op(kFullyConnected, {in, m.constant({2, 3}, std::vector<float>(6, 1.f)), -1}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
