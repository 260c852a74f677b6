#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

// Source coordinate of output position i, as the three modes define it.
float source(int i, int in, int out, bool align, bool half) {
  const float scale = (align && out > 1) ? float(in - 1) / float(out - 1) : float(in) / float(out);
  return half ? (i + 0.5f) * scale - 0.5f : i * scale;
}

std::vector<float> resize_reference(const std::vector<float>& x, int h, int w, int c, int oh, int ow, bool align,
                                    bool half) {
  std::vector<float> out;
  auto at = [&](int y, int xx, int k) {
    y = std::clamp(y, 0, h - 1);
    xx = std::clamp(xx, 0, w - 1);
    return x[(static_cast<size_t>(y) * w + xx) * c + k];
  };
  for (int y = 0; y < oh; ++y)
    for (int xx = 0; xx < ow; ++xx)
      for (int k = 0; k < c; ++k) {
        const float sy = source(y, h, oh, align, half), sx = source(xx, w, ow, align, half);
        const int y0 = static_cast<int>(std::floor(sy)), x0 = static_cast<int>(std::floor(sx));
        const float fy = sy - y0, fx = sx - x0;
        const float top = at(y0, x0, k) * (1 - fx) + at(y0, x0 + 1, k) * fx;
        const float bottom = at(y0 + 1, x0, k) * (1 - fx) + at(y0 + 1, x0 + 1, k) * fx;
        out.push_back(top * (1 - fy) + bottom * fy);
      }
  return out;
}

TEST(ResizeBilinearOp, HalfPixelAlignCornersAndPlain) {
  struct Mode {
    bool align, half;
  };
  uint32_t seed = 500;
  for (Mode mode : {Mode{false, true}, Mode{true, false}, Mode{false, false}})
    for (auto [oh, ow] : {std::pair{12, 12}, std::pair{7, 10}, std::pair{3, 2}}) {
      SCOPED_TRACE(testing::Message() << mode.align << mode.half << " " << oh << "x" << ow);
      const int h = 6, w = 5, c = 3;
      const auto x = random_floats(static_cast<size_t>(h) * w * c, seed++);
      ModelBuilder m;
      const int in = m.tensor({1, h, w, c}), out = m.tensor({1, oh, ow, c});
      m.op(kResizeBilinear, {in, m.constant_ints({2}, {oh, ow})}, {out}, resize_options(mode.align, mode.half));
      m.inputs({in});
      m.outputs({out});
      expect_close(run_model(m, {x}), resize_reference(x, h, w, c, oh, ow, mode.align, mode.half), 1e-5f);
    }
}

TEST(ResizeBilinearOp, BothCornerModesFailToCompile) {
  ModelBuilder m;
  const int in = m.tensor({1, 2, 2, 1}), out = m.tensor({1, 4, 4, 1});
  m.op(kResizeBilinear, {in, m.constant_ints({2}, {4, 4})}, {out}, resize_options(true, true));
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
