#include "tests/runtime/conv_reference.h"
#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(DepthwiseConv2DOp, GeometriesMatchAPlainLoop) {
  uint32_t seed = 200;
  for (bool same : {true, false})
    for (int stride : {1, 2})
      for (int k : {3, 5}) {
        ConvCase c;
        c.depthwise = true;
        c.h = 9;
        c.w = 8;
        c.in_c = 6;
        c.kh = c.kw = k;
        c.stride_h = c.stride_w = stride;
        c.same = same;
        SCOPED_TRACE(testing::Message() << "k " << k << " stride " << stride << " same " << same);
        const auto x = random_floats(9 * 8 * 6, seed++);
        const auto w = random_floats(static_cast<size_t>(k) * k * 6, seed++);
        const auto b = random_floats(6, seed++);
        ModelBuilder m;
        const int in = m.tensor({1, 9, 8, 6});
        const int out = m.tensor({1, c.out_h(), c.out_w(), 6});
        m.op(kDepthwiseConv2D, {in, m.constant({1, k, k, 6}, w), m.constant({6}, b)}, {out},
             depthwise_options(same ? fb::Padding_SAME : fb::Padding_VALID, stride, stride));
        m.inputs({in});
        m.outputs({out});
        expect_close(run_model(m, {x}), conv_reference(c, x, w, b), 1e-4f);
      }
}

TEST(DepthwiseConv2DOp, FusedRelu6) {
  ConvCase c;
  c.depthwise = true;
  c.in_c = 5;
  const auto x = random_floats(5 * 5 * 5, 3, -4.f, 4.f);
  const auto w = random_floats(3 * 3 * 5, 4, -2.f, 2.f);
  ModelBuilder m;
  const int in = m.tensor({1, 5, 5, 5}), out = m.tensor({1, 5, 5, 5});
  m.op(kDepthwiseConv2D, {in, m.constant({1, 3, 3, 5}, w), -1}, {out},
       depthwise_options(fb::Padding_SAME, 1, 1, fb::ActivationFunctionType_RELU6));
  m.inputs({in});
  m.outputs({out});
  auto expected = conv_reference(c, x, w, {});
  for (float& v : expected) v = std::min(std::max(v, 0.f), 6.f);
  expect_close(run_model(m, {x}), expected, 1e-4f);
}

TEST(DepthwiseConv2DOp, DepthMultiplierAboveOneFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 2}), out = m.tensor({1, 4, 4, 4});
  m.op(kDepthwiseConv2D, {in, m.constant({1, 1, 1, 4}, {1, 2, 3, 4}), -1}, {out},
       depthwise_options(fb::Padding_SAME, 1, 1));
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
