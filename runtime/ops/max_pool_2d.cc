#include <algorithm>

#include "runtime/ops/conv_common.h"
#include "runtime/ops/registry.h"

namespace runtime {

namespace {

struct PoolGeometry {
  int batch, in_h, in_w, channels, out_h, out_w;
  int filter_h, filter_w, stride_h, stride_w, pad_top, pad_left;
  float lo, hi;
};

// The running maximum `out` of one more pixel's channels. The comparison
// keeps `out` when either value is NaN, whatever the order of the pixels.
void max_into(const float* __restrict px, float* __restrict out, int c) {
  for (int k = 0; k < c; ++k) out[k] = px[k] > out[k] ? px[k] : out[k];
}

// A whole 2x2 window (the detectors' pooling) in one pass over the channels,
// in the same order and with the same comparison as max_into.
void max_of_four(const float* __restrict a, const float* __restrict b, const float* __restrict c,
                 const float* __restrict d, float* __restrict out, int channels) {
  for (int k = 0; k < channels; ++k) {
    float m = a[k];
    m = b[k] > m ? b[k] : m;
    m = c[k] > m ? c[k] : m;
    out[k] = d[k] > m ? d[k] : m;
  }
}

// Padding never wins the maximum: only window positions inside the input
// count. Every window holds at least one of them (the output size
// guarantees it), so the first one seeds the maximum.
class MaxPoolKernel final : public Kernel {
 public:
  MaxPoolKernel(int in, int out, const PoolGeometry& g, bool clamp) : in_(in), out_(out), g_(g), clamp_(clamp) {}
  void run(TensorData data) override {
    const float* in = data[in_];
    float* out = data[out_];
    const int c = g_.channels;
    for (int b = 0; b < g_.batch; ++b) {
      const float* image = in + static_cast<int64_t>(b) * g_.in_h * g_.in_w * c;
      for (int oy = 0; oy < g_.out_h; ++oy) {
        const int y0 = std::max(oy * g_.stride_h - g_.pad_top, 0);
        const int y1 = std::min(oy * g_.stride_h - g_.pad_top + g_.filter_h, g_.in_h);
        for (int ox = 0; ox < g_.out_w; ++ox, out += c) {
          const int x0 = std::max(ox * g_.stride_w - g_.pad_left, 0);
          const int x1 = std::min(ox * g_.stride_w - g_.pad_left + g_.filter_w, g_.in_w);
          const float* row = image + static_cast<int64_t>(y0) * g_.in_w * c;
          if (y1 - y0 == 2 && x1 - x0 == 2) {
            max_of_four(row + x0 * c, row + (x0 + 1) * c, row + (g_.in_w + x0) * c, row + (g_.in_w + x0 + 1) * c,
                        out, c);
          } else {
            std::copy_n(row + x0 * c, c, out);
            for (int y = y0; y < y1; ++y)
              for (int x = (y == y0 ? x0 + 1 : x0); x < x1; ++x)
                max_into(image + (static_cast<int64_t>(y) * g_.in_w + x) * c, out, c);
          }
          if (clamp_)
            for (int k = 0; k < c; ++k) out[k] = std::min(std::max(out[k], g_.lo), g_.hi);
        }
      }
    }
  }

 private:
  int in_, out_;
  PoolGeometry g_;
  bool clamp_;
};

}  // namespace

bool prepare_max_pool_2d(OpContext& ctx) {
  if (!ctx.expect_counts(1, 1, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::Pool2DOptions>(fb::BuiltinOptions_Pool2DOptions, ok);
  if (!ok) return false;
  if (!o) return ctx.fail("options missing");
  const Shape& x = ctx.shape(ctx.input(0));
  if (x.rank != 4) return ctx.fail("input has shape " + x.str() + ", not 4-D");
  PoolGeometry g{};
  g.batch = x.dims[0];
  g.in_h = x.dims[1];
  g.in_w = x.dims[2];
  g.channels = x.dims[3];
  g.filter_h = o->filter_height();
  g.filter_w = o->filter_width();
  g.stride_h = o->stride_h();
  g.stride_w = o->stride_w();
  if (g.filter_h < 1 || g.filter_w < 1 || g.stride_h < 1 || g.stride_w < 1 || g.filter_h > 4096 ||
      g.filter_w > 4096 || g.stride_h > 4096 || g.stride_w > 4096)
    return ctx.fail("filter " + std::to_string(g.filter_h) + "x" + std::to_string(g.filter_w) + " or stride " +
                    std::to_string(g.stride_h) + "x" + std::to_string(g.stride_w) + " outside 1 to 4096");
  if (o->padding() != fb::Padding_SAME && o->padding() != fb::Padding_VALID)
    return ctx.fail("padding " + std::to_string(o->padding()) + " is neither SAME nor VALID");
  if (!activation_range(o->fused_activation_function(), g.lo, g.hi))
    return ctx.fail(std::string("fused activation ") +
                    fb::EnumNameActivationFunctionType(o->fused_activation_function()) + " not supported");
  int after;
  if (!output_size_and_padding(o->padding(), g.in_h, g.filter_h, g.stride_h, 1, g.out_h, g.pad_top, after) ||
      !output_size_and_padding(o->padding(), g.in_w, g.filter_w, g.stride_w, 1, g.out_w, g.pad_left, after))
    return ctx.fail("output of input " + x.str() + " and filter " + std::to_string(g.filter_h) + "x" +
                    std::to_string(g.filter_w) + " would be empty");
  ctx.set_shape(ctx.output(0), Shape::of({g.batch, g.out_h, g.out_w, g.channels}));
  const bool clamp = o->fused_activation_function() != fb::ActivationFunctionType_NONE;
  ctx.add_step(std::make_unique<MaxPoolKernel>(ctx.input(0), ctx.output(0), g, clamp), {ctx.input(0)},
               {ctx.output(0)});
  return true;
}

}  // namespace runtime
