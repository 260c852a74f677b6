#include <algorithm>
#include <cstring>

#include "runtime/ops/registry.h"
#include "runtime/ops/strided.h"

namespace runtime {

namespace {

constexpr int32_t kConv2D = 3, kDepthwiseConv2D = 4;

// Zero fill, then the input rows copied into the interior.
class PadKernel final : public Kernel {
 public:
  PadKernel(int in, int out, const Shape& in_shape, const Shape& out_shape, const std::vector<int32_t>& before)
      : in_(in), out_(out), in_shape_(in_shape), out_count_(out_shape.elements()) {
    contiguous_strides(out_shape, out_strides_);
    offset_ = 0;
    for (int d = 0; d < out_shape.rank; ++d) offset_ += before[d] * out_strides_[d];
  }
  void run(TensorData data) override {
    const float* in = data[in_];
    float* out = data[out_];
    std::fill(out, out + out_count_, 0.f);
    const int rank = in_shape_.rank;
    if (in_shape_.elements() == 0) return;
    if (rank == 0) {
      out[0] = in[0];
      return;
    }
    const int64_t n = in_shape_.dims[rank - 1];
    int64_t outer = 1;
    for (int d = 0; d < rank - 1; ++d) outer *= in_shape_.dims[d];
    int64_t index[kMaxRank] = {};
    int64_t base = offset_;
    for (int64_t o = 0; o < outer; ++o, in += n) {
      std::memcpy(out + base, in, static_cast<size_t>(n) * sizeof(float));
      for (int d = rank - 2; d >= 0; --d) {
        base += out_strides_[d];
        if (++index[d] < in_shape_.dims[d]) break;
        base -= out_strides_[d] * in_shape_.dims[d];
        index[d] = 0;
      }
    }
  }

 private:
  int in_, out_;
  Shape in_shape_;
  int64_t out_count_;
  int64_t out_strides_[kMaxRank] = {};
  int64_t offset_;
};

// A spatial-only PAD whose one reader is a VALID convolution becomes that
// convolution's own padding: same result, one pass over memory fewer.
bool try_fold(OpContext& ctx, const Shape& x, const std::vector<int32_t>& p) {
  if (x.rank != 4 || p[0] || p[1] || p[6] || p[7]) return false;
  const int c = ctx.sole_consumer(ctx.output(0));
  if (c < 0) return false;
  const OperatorDesc& conv = ctx.desc_at(c);
  if (conv.custom || conv.inputs.empty() || conv.inputs[0] != ctx.output(0)) return false;
  fb::Padding padding;
  if (conv.code == kConv2D) {
    const auto* o = conv.table->builtin_options_as_Conv2DOptions();
    if (!o) return false;
    padding = o->padding();
  } else if (conv.code == kDepthwiseConv2D) {
    const auto* o = conv.table->builtin_options_as_DepthwiseConv2DOptions();
    if (!o) return false;
    padding = o->padding();
  } else {
    return false;
  }
  if (padding != fb::Padding_VALID) return false;
  ctx.fold_pad_into(c, {ctx.input(0), p[2], p[3], p[4], p[5]});
  return true;
}

}  // namespace

bool prepare_pad(OpContext& ctx) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  std::vector<int32_t> paddings;
  if (!ctx.constant_ints(ctx.input(1), paddings)) return false;
  const Shape& x = ctx.shape(ctx.input(0));
  if (static_cast<int>(paddings.size()) != 2 * x.rank) return ctx.fail("paddings must be [rank, 2]");
  Shape out_shape = x;
  std::vector<int32_t> before(x.rank);
  for (int d = 0; d < x.rank; ++d) {
    const int32_t lo = paddings[2 * d], hi = paddings[2 * d + 1];
    if (lo < 0 || hi < 0 || lo > kMaxElements || hi > kMaxElements) return ctx.fail("bad padding");
    const int64_t size = int64_t{x.dims[d]} + lo + hi;
    if (size > kMaxElements) return ctx.fail("output too large");
    out_shape.dims[d] = static_cast<int32_t>(size);
    before[d] = lo;
  }
  if (out_shape.elements() > kMaxElements) return ctx.fail("output too large");
  ctx.set_shape(ctx.output(0), out_shape);
  if (try_fold(ctx, x, paddings)) return true;
  ctx.add_step(std::make_unique<PadKernel>(ctx.input(0), ctx.output(0), x, out_shape, before), {ctx.input(0)},
               {ctx.output(0)});
  return true;
}

}  // namespace runtime
