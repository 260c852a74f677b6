// Convolutions, pooling, fully connected and resizing against plain loops,
// and the results of the graph's fusions around a convolution.
#include <limits>

#include "tests/support/conv_reference.h"

#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

struct Conv {
  fb::BuiltinOperator code = kConv2D;
  int batch = 1, h = 5, w = 5, in_c = 3, out_c = 4, kh = 3, kw = 3, stride = 1, dh = 1, dw = 1;
  bool same = true;
  Act act = kNone;
  bool per_channel() const { return code != kConv2D; }
  int oc() const { return per_channel() ? in_c : out_c; }
  runtime::Conv2DShape shape() const {
    return conv_reference::padded(
        {batch, h, w, in_c, 0, 0, oc(), kh, kw, stride, stride, dh, dw, -1, -1, -1, -1, per_channel() ? in_c : 1}, !same);
  }
};

// NHWC; weights [out_c][kh][kw][in_c], or [1][kh][kw][c] when depthwise.
Floats conv_reference(const Conv& c, const Floats& x, const Floats& wt, const Floats& bias) {
  const runtime::Conv2DShape s = c.shape();
  if (c.code != kMaxPool2D) {
    const auto act = c.act == kNone ? runtime::Activation::kNone
                     : c.act == kRelu6Act ? runtime::Activation::kRelu6 : runtime::Activation::kRelu;
    return conv_reference::conv2d(s, x.data(), wt.data(), bias.empty() ? nullptr : bias.data(), nullptr, act).floats();
  }
  Floats out;  // the largest value in the window; padding never counts
  for (int y = 0; y < s.out_height; ++y)
    for (int xo = 0; xo < s.out_width; ++xo)
      for (int o = 0; o < c.in_c; ++o) {
        float m = -std::numeric_limits<float>::infinity();
        for (int iy = y * c.stride - s.pad_top; iy < y * c.stride - s.pad_top + c.kh; ++iy)
          for (int ix = xo * c.stride - s.pad_left; ix < xo * c.stride - s.pad_left + c.kw; ++ix)
            if (iy >= 0 && iy < c.h && ix >= 0 && ix < c.w) m = std::max(m, x[(size_t(iy) * c.w + ix) * c.in_c + o]);
        out.push_back(m);
      }
  return out;
}

struct Built {
  ModelBuilder m;
  int in, out;
  Floats x, w, b;
};

Built build(const Conv& c, uint32_t seed) {
  Built r;
  const bool pool = c.code == kMaxPool2D;
  r.x = pool ? random_floats(size_t(c.h) * c.w * c.in_c, seed, -5.f, -1.f)  // padding must never win
             : random_floats(size_t(c.batch) * c.h * c.w * c.in_c, seed);
  r.w = random_floats(size_t(c.per_channel() ? 1 : c.out_c) * c.kh * c.kw * c.in_c, seed + 1);
  r.b = random_floats(c.oc(), seed + 2);
  r.in = r.m.tensor({c.batch, c.h, c.w, c.in_c});
  std::vector<int> in = {r.in};
  if (!pool) in.insert(in.end(), {r.m.constant({c.per_channel() ? 1 : c.out_c, c.kh, c.kw, c.in_c}, r.w),
                                  r.m.constant({c.oc()}, r.b)});
  const auto p = c.same ? fb::Padding_SAME : fb::Padding_VALID;
  r.out = r.m.op(c.code, in, {c.batch, c.shape().out_height, c.shape().out_width, c.oc()},
                 pool                ? OPTIONS(Pool2DOptions, p, c.stride, c.stride, c.kh, c.kh)
                 : c.code == kConv2D ? conv_options(p, c.stride, c.act, c.dh, c.dw)
                                     : depthwise_options(p, c.stride, c.act));
  r.m.io({r.in}, {r.out});
  return r;
}

TEST(ConvOps, GeometriesMatchAPlainLoop) {
  std::vector<Conv> cases;
  for (fb::BuiltinOperator code : {kConv2D, kDepthwiseConv2D, kMaxPool2D})
    for (bool same : {true, false})
      for (int stride : {1, 2})
        for (int k : {1, 2, 3, 5}) {
          if (code == kConv2D ? k == 5 : code == kDepthwiseConv2D ? k < 3 : k == 1 || k == 5) continue;
          Conv c{code, 1, code == kDepthwiseConv2D ? 9 : 7, code == kDepthwiseConv2D ? 8 : 6, code == kConv2D ? 3 : 6};
          c.kh = k, c.kw = k == 2 && code == kConv2D ? 3 : k, c.stride = stride, c.same = same;
          cases.push_back(c);  // odd and even sizes: SAME pads unevenly
        }
  // (NaN through the activations: the kernels' own test.)
  Conv dilated, batched, relu, relu6, depthwise_relu6{kDepthwiseConv2D};
  dilated.h = dilated.w = 9, dilated.dh = 2, dilated.dw = 3;
  batched.batch = 2, batched.stride = 2;
  relu.act = fb::ActivationFunctionType_RELU;
  relu6.act = depthwise_relu6.act = kRelu6Act;
  cases.insert(cases.end(), {dilated, batched, relu, relu6, depthwise_relu6});
  uint32_t seed = 100;
  for (const Conv& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " k " << c.kh << "x" << c.kw << " stride " << c.stride
                                    << " same " << c.same << " dilation " << c.dh << " batch " << c.batch);
    Built b = build(c, seed += 3);
    expect_close(run_model(b.m, {b.x}), conv_reference(c, b.x, b.w, b.b), 1e-4f);
  }
}

TEST(ConvOps, FusedChainsGiveTheUnfusedResult) {
  const Conv c{kConv2D, 1, 5, 5, 4, 4};
  const Dims s = {1, 5, 5, 4};
  const Floats alpha = {0.1f, -0.5f, 2.f, 0.f};
  // 0: ADD(residual, conv) -> RELU; 1: ADD -> PRELU; 2: residual computed after the conv;
  // 3: the conv result also read as a graph output, so not fused away.
  for (int chain = 0; chain < 4; ++chain) {
    SCOPED_TRACE(chain);
    Built b = build(c, 7 + chain);
    ModelBuilder& m = b.m;
    if (chain == 0) m.io({b.in}, {m.op(kRelu, {m.op(kAdd, {b.in, b.out}, s)}, s)});
    if (chain == 1) m.io({b.in}, {m.op(kPrelu, {m.op(kAdd, {b.in, b.out}, s), m.constant({1, 1, 4}, alpha)}, s)});
    if (chain == 2) m.io({b.in}, {m.op(kRelu, {m.op(kAdd, {b.out, m.op(kNeg, {b.in}, s)}, s)}, s)});
    if (chain == 3) m.io({b.in}, {m.op(kAdd, {b.out, b.in}, s, add_options(fb::ActivationFunctionType_RELU)), b.out});
    const Floats conv = conv_reference(c, b.x, b.w, b.b);
    Floats expected(conv.size());
    for (size_t i = 0; i < conv.size(); ++i) {
      const float v = conv[i] + (chain == 2 ? -b.x[i] : b.x[i]);
      expected[i] = chain == 1 ? (v >= 0 ? v : v * alpha[i % 4]) : std::max(v, 0.f);
    }
    const Result r = run(m.finish(), {b.x});
    ASSERT_EQ(r.stage, kRan) << r.error;
    expect_close(r.outputs[0], expected, 1e-4f);
    if (chain == 3) expect_close(r.outputs[1], conv, 1e-4f);
  }
  // PAD of 1 row on top, 2 below, 0 left, 1 right, then a VALID 3x3 stride-2 conv.
  Conv valid{kConv2D, 1, 10, 7};
  valid.same = false, valid.stride = 2;
  const Floats x = random_floats(7 * 6 * 3, 31), w = random_floats(4 * 3 * 3 * 3, 32);
  ModelBuilder m;
  const int in = m.tensor({1, 7, 6, 3});
  const int padded = m.op(kPad, {in, m.ints({4, 2}, {0, 0, 1, 2, 0, 1, 0, 0})}, {1, 10, 7, 3});
  m.io({in}, {m.op(kConv2D, {padded, m.constant({4, 3, 3, 3}, w), -1}, {1, valid.shape().out_height, valid.shape().out_width, 4},
                   conv_options(fb::Padding_VALID, 2))});
  Floats px(10 * 7 * 3, 0.f);
  for (int y = 0; y < 7; ++y) std::copy_n(&x[y * 6 * 3], 6 * 3, &px[(y + 1) * 7 * 3]);
  expect_close(run_model(m, {x}), conv_reference(valid, px, w, {}), 1e-4f);
}

TEST(ConvOps, FullyConnectedFlattensRows) {
  uint32_t seed = 300;
  for (const auto& [in_shape, out_shape, keep_dims, bias] :
       {std::tuple<Dims, Dims, bool, bool>{{1, 7, 7, 3}, {7, 5}, false, true}, {{1, 1152}, {1, 63}, false, true},
        {{3, 17}, {3, 1}, false, true}, {{2, 3, 4}, {2, 3, 6}, true, false}}) {
    const int out = out_shape.back(), rows = static_cast<int>(count(out_shape)) / out;
    const int depth = static_cast<int>(count(in_shape)) / rows;
    const Conv rows_as_1x1{kConv2D, 1, rows, 1, depth, out, 1, 1};  // the same weight layout
    const Floats x = random_floats(count(in_shape), seed++), w = random_floats(size_t(depth) * out, seed++),
                 b = bias ? random_floats(out, seed++) : Floats{};
    ModelBuilder m;
    const int in = m.tensor(in_shape);
    m.io({in}, {m.op(kFullyConnected, {in, m.constant({out, depth}, w), bias ? m.constant({out}, b) : -1}, out_shape,
                     OPTIONS(FullyConnectedOptions, kNone, 0, keep_dims))});
    expect_close(run_model(m, {x}), conv_reference(rows_as_1x1, x, w, b), 1e-4f);
  }
}

TEST(ConvOps, ResizeBilinearInEveryCornerMode) {
  const int h = 6, w = 5, ch = 3;
  uint32_t seed = 500;
  for (auto [align, half] : {std::pair{false, true}, std::pair{true, false}, std::pair{false, false}})
    for (auto [oh, ow] : {std::pair{12, 12}, std::pair{7, 10}, std::pair{3, 2}}) {
      SCOPED_TRACE(testing::Message() << align << half << " " << oh << "x" << ow);
      const Floats x = random_floats(h * w * ch, seed++);
      const auto source = [&](int i, int in, int out) {
        const float scale = (align && out > 1) ? float(in - 1) / float(out - 1) : float(in) / float(out);
        return half ? (i + 0.5f) * scale - 0.5f : i * scale;
      };
      const auto at = [&](int y, int xx, int k) {
        return x[(std::clamp(y, 0, h - 1) * w + std::clamp(xx, 0, w - 1)) * ch + k];
      };
      Floats expected;
      for (int y = 0; y < oh; ++y)
        for (int xx = 0; xx < ow; ++xx)
          for (int k = 0; k < ch; ++k) {
            const float sy = source(y, h, oh), sx = source(xx, w, ow);
            const int y0 = static_cast<int>(std::floor(sy)), x0 = static_cast<int>(std::floor(sx));
            const float fy = sy - y0, fx = sx - x0;
            const float top = at(y0, x0, k) * (1 - fx) + at(y0, x0 + 1, k) * fx;
            expected.push_back(top * (1 - fy) + (at(y0 + 1, x0, k) * (1 - fx) + at(y0 + 1, x0 + 1, k) * fx) * fy);
          }
      ModelBuilder m;
      const int in = m.tensor({1, h, w, ch});
      m.io({in}, {m.op(kResizeBilinear, {in, m.ints({2}, {oh, ow})}, {1, oh, ow, ch},
                       OPTIONS(ResizeBilinearOptions, align, half))});
      expect_close(run_model(m, {x}), expected);
    }
}

TEST(ConvOps, BadFiltersAndOptionsFailToCompile) {
  const auto same = fb::Padding_SAME;
  const std::tuple<const char*, fb::BuiltinOperator, Dims, Dims, Dims, Options> cases[] = {
      {"filter depth", kConv2D, {1, 4, 4, 3}, {2, 1, 1, 2}, {1, 4, 4, 2}, conv_options(same, 1)},
      {"stride 0", kConv2D, {1, 4, 4, 1}, {1, 1, 1, 1}, {1, 4, 4, 1}, conv_options(same, 0)},
      {"fused tanh",
       kConv2D,
       {1, 4, 4, 1},
       {1, 1, 1, 1},
       {1, 4, 4, 1},
       conv_options(same, 1, fb::ActivationFunctionType_TANH)},
      {"depth multiplier", kDepthwiseConv2D, {1, 4, 4, 2}, {1, 1, 1, 4}, {1, 4, 4, 4}, depthwise_options(same, 1)},
      {"rows", kFullyConnected, {1, 10}, {2, 3}, {1, 2}, {}},
      {"pool options", kMaxPool2D, {1, 4, 4, 1}, {}, {1, 2, 2, 1}, {}},
      {"both corner modes",
       kResizeBilinear,
       {1, 2, 2, 1},
       {},
       {1, 4, 4, 1},
       OPTIONS(ResizeBilinearOptions, true, true)}};
  for (const auto& [what, code, in_shape, filter, out, o] : cases) {
    ModelBuilder m;
    const int in = m.tensor(in_shape);
    std::vector<int> ins = {in};
    if (!filter.empty()) ins.insert(ins.end(), {m.constant(filter, Floats(count(filter), 1.f)), -1});
    if (code == kResizeBilinear) ins.push_back(m.ints({2}, {4, 4}));
    m.io({in}, {m.op(code, ins, out, o)});
    EXPECT_TRUE(compile_fails(m)) << what;
  }
}

}  // namespace
}  // namespace testing_models
