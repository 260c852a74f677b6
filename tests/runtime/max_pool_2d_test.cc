#include <limits>

#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(MaxPool2DOp, SameAndValidOnOddSizes) {
  uint32_t seed = 400;
  for (bool same : {true, false})
    for (int stride : {1, 2})
      for (int filter : {2, 3}) {
        const int h = 7, w = 6, c = 5;
        const int oh = same ? (h + stride - 1) / stride : (h - filter) / stride + 1;
        const int ow = same ? (w + stride - 1) / stride : (w - filter) / stride + 1;
        const int pt = same ? std::max((oh - 1) * stride + filter - h, 0) / 2 : 0;
        const int pl = same ? std::max((ow - 1) * stride + filter - w, 0) / 2 : 0;
        SCOPED_TRACE(testing::Message() << "same " << same << " stride " << stride << " filter " << filter);
        // All negative: padding must never win the maximum.
        const auto x = random_floats(static_cast<size_t>(h) * w * c, seed++, -5.f, -1.f);
        std::vector<float> expected;
        for (int y = 0; y < oh; ++y)
          for (int xo = 0; xo < ow; ++xo)
            for (int k = 0; k < c; ++k) {
              float best = -std::numeric_limits<float>::infinity();
              for (int fy = 0; fy < filter; ++fy)
                for (int fx = 0; fx < filter; ++fx) {
                  const int iy = y * stride - pt + fy, ix = xo * stride - pl + fx;
                  if (iy >= 0 && iy < h && ix >= 0 && ix < w) best = std::max(best, x[(iy * w + ix) * c + k]);
                }
              expected.push_back(best);
            }
        ModelBuilder m;
        const int in = m.tensor({1, h, w, c}), out = m.tensor({1, oh, ow, c});
        m.op(kMaxPool2D, {in}, {out}, pool_options(same ? fb::Padding_SAME : fb::Padding_VALID, stride, stride, filter, filter));
        m.inputs({in});
        m.outputs({out});
        expect_close(run_model(m, {x}), expected);
      }
}

TEST(MaxPool2DOp, MissingOptionsFailToCompile) {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 1}), out = m.tensor({1, 2, 2, 1});
  m.op(kMaxPool2D, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
