#include <algorithm>
#include <cmath>

#include "runtime/ops/registry.h"

namespace runtime {

namespace {

// Source rows (or columns) and weight of the second one, per output position.
struct Taps {
  std::vector<int> lo, hi;
  std::vector<float> frac;
};

Taps make_taps(int in, int out, bool align_corners, bool half_pixel) {
  const float scale = (align_corners && out > 1) ? static_cast<float>(in - 1) / static_cast<float>(out - 1)
                                                 : static_cast<float>(in) / static_cast<float>(out);
  Taps t;
  for (int i = 0; i < out; ++i) {
    const float pos = half_pixel ? (static_cast<float>(i) + 0.5f) * scale - 0.5f : static_cast<float>(i) * scale;
    const float base = std::floor(pos);
    t.lo.push_back(std::clamp(static_cast<int>(base), 0, in - 1));
    t.hi.push_back(std::clamp(static_cast<int>(std::ceil(pos)), 0, in - 1));
    t.frac.push_back(pos - base);
  }
  return t;
}

class ResizeBilinearKernel final : public Kernel {
 public:
  ResizeBilinearKernel(int in, int out, const Shape& x, Taps ys, Taps xs)
      : in_(in), out_(out), batch_(x.dims[0]), in_h_(x.dims[1]), in_w_(x.dims[2]), c_(x.dims[3]),
        ys_(std::move(ys)), xs_(std::move(xs)) {}
  void run(TensorData data) override {
    const float* in = data[in_];
    float* out = data[out_];
    const int64_t row = static_cast<int64_t>(in_w_) * c_;
    for (int b = 0; b < batch_; ++b) {
      const float* image = in + b * in_h_ * row;
      for (size_t y = 0; y < ys_.lo.size(); ++y) {
        const float* top = image + ys_.lo[y] * row;
        const float* bottom = image + ys_.hi[y] * row;
        const float fy = ys_.frac[y];
        for (size_t x = 0; x < xs_.lo.size(); ++x, out += c_) {
          const float* tl = top + xs_.lo[x] * c_;
          const float* tr = top + xs_.hi[x] * c_;
          const float* bl = bottom + xs_.lo[x] * c_;
          const float* br = bottom + xs_.hi[x] * c_;
          const float fx = xs_.frac[x];
          for (int k = 0; k < c_; ++k) {
            const float t = tl[k] + (tr[k] - tl[k]) * fx;
            const float u = bl[k] + (br[k] - bl[k]) * fx;
            out[k] = t + (u - t) * fy;
          }
        }
      }
    }
  }

 private:
  int in_, out_;
  int batch_, in_h_, in_w_, c_;
  Taps ys_, xs_;
};

}  // namespace

bool prepare_resize_bilinear(OpContext& ctx) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::ResizeBilinearOptions>(fb::BuiltinOptions_ResizeBilinearOptions, ok);
  if (!ok) return false;
  const bool align_corners = o && o->align_corners();
  const bool half_pixel = o && o->half_pixel_centers();
  if (align_corners && half_pixel) return ctx.fail("align_corners with half_pixel_centers is not supported");
  std::vector<int32_t> size;
  if (!ctx.constant_ints(ctx.input(1), size)) return false;
  const Shape& x = ctx.shape(ctx.input(0));
  if (x.rank != 4 || size.size() != 2)
    return ctx.fail("input " + x.str() + " and a size of " + std::to_string(size.size()) +
                    " values: expects a 4-D input and 2 values");
  if (size[0] < 1 || size[1] < 1 || x.dims[1] < 1 || x.dims[2] < 1)
    return ctx.fail("size " + std::to_string(size[0]) + "x" + std::to_string(size[1]) + " or input " + x.str() +
                    " is empty");
  const Shape out_shape = Shape::of({x.dims[0], size[0], size[1], x.dims[3]});
  if (int64_t{size[0]} * size[1] > kMaxElements || out_shape.elements() > kMaxElements)
    return ctx.fail("output " + out_shape.str() + " has more than " + std::to_string(kMaxElements) + " elements");
  ctx.set_shape(ctx.output(0), out_shape);
  ctx.add_step(std::make_unique<ResizeBilinearKernel>(ctx.input(0), ctx.output(0), x,
                                                      make_taps(x.dims[1], size[0], align_corners, half_pixel),
                                                      make_taps(x.dims[2], size[1], align_corners, half_pixel)),
               {ctx.input(0)}, {ctx.output(0)});
  return true;
}

}  // namespace runtime
