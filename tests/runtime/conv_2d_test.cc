// CONV_2D against a plain loop, and the graph's fusions around it: a PAD
// folded into a VALID convolution; a residual ADD, RELU/RELU6 and PRELU
// folded into the kernel, and left alone when another operator needs the
// intermediate result.
#include "tests/runtime/conv_reference.h"
#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

struct ConvModel {
  ModelBuilder m;
  int input = -1, conv_out = -1;
  std::vector<float> x, weights, bias;
};

ConvModel build_conv(const ConvCase& c, fb::ActivationFunctionType act = fb::ActivationFunctionType_NONE,
                     uint32_t seed = 1) {
  ConvModel cm;
  cm.x = random_floats(static_cast<size_t>(c.batch) * c.h * c.w * c.in_c, seed);
  cm.weights = random_floats(static_cast<size_t>(c.out_c) * c.kh * c.kw * c.in_c, seed + 1);
  cm.bias = random_floats(static_cast<size_t>(c.out_c), seed + 2);
  cm.input = cm.m.tensor({c.batch, c.h, c.w, c.in_c});
  const int w = cm.m.constant({c.out_c, c.kh, c.kw, c.in_c}, cm.weights);
  const int b = cm.m.constant({c.out_c}, cm.bias);
  cm.conv_out = cm.m.tensor({c.batch, c.out_h(), c.out_w(), c.out_c});
  cm.m.op(kConv2D, {cm.input, w, b}, {cm.conv_out},
          conv_options(c.same ? fb::Padding_SAME : fb::Padding_VALID, c.stride_h, c.stride_w, act, c.dilation_h,
                       c.dilation_w));
  cm.m.inputs({cm.input});
  return cm;
}

TEST(Conv2DOp, GeometriesMatchAPlainLoop) {
  std::vector<ConvCase> cases;
  for (bool same : {true, false})
    for (int stride : {1, 2})
      for (int k : {1, 2, 3}) {
        ConvCase c;
        c.h = 7;
        c.w = 6;  // odd and even sizes: SAME pads unevenly
        c.kh = k;
        c.kw = k == 2 ? 3 : k;
        c.stride_h = c.stride_w = stride;
        c.same = same;
        cases.push_back(c);
      }
  ConvCase dilated;
  dilated.h = dilated.w = 9;
  dilated.dilation_h = 2;
  dilated.dilation_w = 3;
  cases.push_back(dilated);
  ConvCase batched;
  batched.batch = 2;
  batched.stride_h = 2;
  cases.push_back(batched);
  uint32_t seed = 100;
  for (const ConvCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "k " << c.kh << "x" << c.kw << " stride " << c.stride_h << " same " << c.same
                                    << " dilation " << c.dilation_h << " batch " << c.batch);
    ConvModel cm = build_conv(c, fb::ActivationFunctionType_NONE, seed += 3);
    cm.m.outputs({cm.conv_out});
    expect_close(run_model(cm.m, {cm.x}), conv_reference(c, cm.x, cm.weights, cm.bias), 1e-4f);
  }
}

TEST(Conv2DOp, FusedActivationOfTheOperator) {
  ConvCase c;
  ConvModel cm = build_conv(c, fb::ActivationFunctionType_RELU6, 5);
  cm.m.outputs({cm.conv_out});
  auto expected = conv_reference(c, cm.x, cm.weights, cm.bias);
  for (float& v : expected) v = std::min(std::max(v * 1.f, 0.f), 6.f);
  expect_close(run_model(cm.m, {cm.x}), expected, 1e-4f);
}

TEST(Conv2DOp, NaNStaysNaNThroughFusedActivations) {
  // The real runtime keeps NaN through RELU; a model dividing by a zero
  // spread relies on it to report NaN rather than a plausible number.
  for (auto act : {fb::ActivationFunctionType_RELU, fb::ActivationFunctionType_RELU6}) {
    ConvCase c;
    c.kh = c.kw = 1;
    ConvModel cm = build_conv(c, act, 13);
    cm.m.outputs({cm.conv_out});
    cm.x[0] = std::nanf("");
    const auto r = run_model(cm.m, {cm.x});
    ASSERT_EQ(r.size(), 5u * 5 * 4);
    for (int o = 0; o < 4; ++o) EXPECT_TRUE(std::isnan(r[o])) << o;
    EXPECT_FALSE(std::isnan(r[4]));
  }
}

TEST(Conv2DOp, ResidualAddReluAndPreluChain) {
  // conv -> ADD(residual) -> RELU, and conv -> ADD -> PRELU, as the models chain them.
  for (int tail : {kRelu, kPrelu}) {
    SCOPED_TRACE(tail);
    ConvCase c;
    c.in_c = c.out_c = 4;
    ConvModel cm = build_conv(c, fb::ActivationFunctionType_NONE, 7);
    const int sum = cm.m.tensor({1, 5, 5, 4});
    cm.m.op(kAdd, {cm.input, cm.conv_out}, {sum});  // residual first, as either order occurs
    const int out = cm.m.tensor({1, 5, 5, 4});
    const std::vector<float> alpha = {0.1f, -0.5f, 2.f, 0.f};
    if (tail == kRelu) {
      cm.m.op(kRelu, {sum}, {out});
    } else {
      cm.m.op(kPrelu, {sum, cm.m.constant({1, 1, 4}, alpha)}, {out});
    }
    cm.m.outputs({out});
    auto expected = conv_reference(c, cm.x, cm.weights, cm.bias);
    for (size_t i = 0; i < expected.size(); ++i) {
      const float v = expected[i] + cm.x[i];
      expected[i] = tail == kRelu ? std::max(v, 0.f) : (v >= 0 ? v : v * alpha[i % 4]);
    }
    expect_close(run_model(cm.m, {cm.x}), expected, 1e-4f);
  }
}

TEST(Conv2DOp, ResidualComputedAfterTheConvolution) {
  // conv, then the residual branch (NEG of the input), then ADD and RELU.
  ConvCase c;
  c.in_c = c.out_c = 3;
  ConvModel cm = build_conv(c, fb::ActivationFunctionType_NONE, 11);
  const int late = cm.m.tensor({1, 5, 5, 3}), sum = cm.m.tensor({1, 5, 5, 3}), out = cm.m.tensor({1, 5, 5, 3});
  cm.m.op(kNeg, {cm.input}, {late});
  cm.m.op(kAdd, {cm.conv_out, late}, {sum});
  cm.m.op(kRelu, {sum}, {out});
  cm.m.outputs({out});
  auto expected = conv_reference(c, cm.x, cm.weights, cm.bias);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = std::max(expected[i] - cm.x[i], 0.f);
  expect_close(run_model(cm.m, {cm.x}), expected, 1e-4f);
}

TEST(Conv2DOp, IntermediateWithAnotherReaderIsNotFused) {
  // The conv result is both a graph output and the ADD's input: both must be right.
  ConvCase c;
  c.in_c = c.out_c = 3;
  ConvModel cm = build_conv(c, fb::ActivationFunctionType_NONE, 9);
  const int sum = cm.m.tensor({1, 5, 5, 3});
  cm.m.op(kAdd, {cm.conv_out, cm.input}, {sum}, add_options(fb::ActivationFunctionType_RELU));
  cm.m.outputs({sum, cm.conv_out});
  Runner r(cm.m.finish());
  ASSERT_TRUE(r.compiled()) << r.error();
  ASSERT_TRUE(r.run({cm.x}));
  const auto conv = conv_reference(c, cm.x, cm.weights, cm.bias);
  std::vector<float> expected_sum(conv.size());
  for (size_t i = 0; i < conv.size(); ++i) expected_sum[i] = std::max(conv[i] + cm.x[i], 0.f);
  expect_close(r.outputs[0], expected_sum, 1e-4f);
  expect_close(r.outputs[1], conv, 1e-4f);
}

TEST(Conv2DOp, ExplicitPadBeforeValidConvolution) {
  // PAD of 1 row on top, 2 below, 0 left, 1 right, then a VALID 3x3 stride-2 conv.
  ConvCase c;
  c.h = 7;
  c.w = 6;
  c.same = false;
  c.stride_h = c.stride_w = 2;
  ModelBuilder m;
  const auto x = random_floats(7 * 6 * 3, 31);
  const auto w = random_floats(4 * 3 * 3 * 3, 32);
  const int in = m.tensor({1, 7, 6, 3});
  const int padded = m.tensor({1, 10, 7, 3});
  m.op(kPad, {in, m.constant_ints({4, 2}, {0, 0, 1, 2, 0, 1, 0, 0})}, {padded});
  ConvCase valid = c;
  valid.h = 10;
  valid.w = 7;
  const int out = m.tensor({1, valid.out_h(), valid.out_w(), 4});
  m.op(kConv2D, {padded, m.constant({4, 3, 3, 3}, w), -1}, {out}, conv_options(fb::Padding_VALID, 2, 2));
  m.inputs({in});
  m.outputs({out});
  // Reference: pad by hand, then the plain VALID loop.
  std::vector<float> px(10 * 7 * 3, 0.f);
  for (int y = 0; y < 7; ++y)
    for (int xx = 0; xx < 6; ++xx)
      for (int k = 0; k < 3; ++k) px[((y + 1) * 7 + xx) * 3 + k] = x[(y * 6 + xx) * 3 + k];
  expect_close(run_model(m, {x}), conv_reference(valid, px, w, {}), 1e-4f);
}

TEST(Conv2DOp, BadFilterOrOptionsFailToCompile) {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 3});
  const int out = m.tensor({1, 4, 4, 2});
  // Filter depth 2 against an input depth of 3.
  m.op(kConv2D, {in, m.constant({2, 1, 1, 2}, {1, 2, 3, 4}), -1}, {out}, conv_options(fb::Padding_SAME, 1, 1));
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));

  ModelBuilder z;
  const int zin = z.tensor({1, 4, 4, 1}), zout = z.tensor({1, 4, 4, 1});
  z.op(kConv2D, {zin, z.constant({1, 1, 1, 1}, {1}), -1}, {zout}, conv_options(fb::Padding_SAME, 0, 1));
  z.inputs({zin});
  z.outputs({zout});
  EXPECT_TRUE(compile_fails(z)) << "stride 0";

  ModelBuilder t;
  const int tin = t.tensor({1, 4, 4, 1}), tout = t.tensor({1, 4, 4, 1});
  t.op(kConv2D, {tin, t.constant({1, 1, 1, 1}, {1}), -1}, {tout},
       conv_options(fb::Padding_SAME, 1, 1, fb::ActivationFunctionType_TANH));
  t.inputs({tin});
  t.outputs({tout});
  EXPECT_TRUE(compile_fails(t)) << "fused tanh";
}

}  // namespace
}  // namespace testing_models
