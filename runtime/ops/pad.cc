#include <algorithm>

#include "runtime/ops/registry.h"

namespace runtime {

namespace {

// One output row: `lead` zeros, the input row, zeros up to `n_out`. Plain
// loops rather than memcpy and fill: the rows are a few dozen floats, where
// the calls cost more than the copy.
void pad_row(const float* __restrict in, float* __restrict out, int64_t lead, int64_t n_in, int64_t n_out) {
  for (int64_t k = 0; k < lead; ++k) out[k] = 0.f;
  for (int64_t k = 0; k < n_in; ++k) out[lead + k] = in[k];
  for (int64_t k = lead + n_in; k < n_out; ++k) out[k] = 0.f;
}

// One pass over the output, row by row along the innermost dimension: rows
// inside the input get leading zeros, the input row and trailing zeros; all
// other rows are zeros. Every output element is written exactly once.
class PadKernel final : public Kernel {
 public:
  PadKernel(int in, int out, const Shape& in_shape, const Shape& out_shape, const std::vector<int32_t>& before)
      : in_(in),
        out_(out),
        in_shape_(in_shape),
        out_shape_(out_shape),
        before_(before),
        channels_only_(std::equal(in_shape.dims, in_shape.dims + std::max(in_shape.rank - 1, 0), out_shape.dims)) {}
  void run(TensorData data) override {
    const float* in = data[in_];
    float* out = data[out_];
    const int rank = out_shape_.rank;
    if (rank == 0) {
      out[0] = in[0];
      return;
    }
    const int64_t n_out = out_shape_.dims[rank - 1], n_in = in_shape_.dims[rank - 1];
    const int64_t lead = before_[rank - 1];
    int64_t outer = 1;
    for (int d = 0; d < rank - 1; ++d) outer *= out_shape_.dims[d];
    if (channels_only_) {
      for (int64_t o = 0; o < outer; ++o, out += n_out, in += n_in) pad_row(in, out, lead, n_in, n_out);
      return;
    }
    int64_t index[kMaxRank] = {};
    for (int64_t o = 0; o < outer; ++o, out += n_out) {
      bool inside = n_in > 0;
      int64_t row = 0;  // input row number when inside
      for (int d = 0; d < rank - 1 && inside; ++d) {
        const int64_t i = index[d] - before_[d];
        inside = i >= 0 && i < in_shape_.dims[d];
        row = row * in_shape_.dims[d] + i;
      }
      if (inside) {
        pad_row(in + row * n_in, out, lead, n_in, n_out);
      } else {
        std::fill(out, out + n_out, 0.f);
      }
      for (int d = rank - 2; d >= 0; --d) {
        if (++index[d] < out_shape_.dims[d]) break;
        index[d] = 0;
      }
    }
  }

 private:
  int in_, out_;
  Shape in_shape_, out_shape_;
  std::vector<int32_t> before_;
  // Only the innermost dimension grows (the detectors' channel padding): row
  // o of the output is row o of the input between zeros, with no index to
  // keep.
  bool channels_only_;
};

}  // namespace

bool prepare_pad(OpContext& ctx) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  std::vector<int32_t> paddings;
  if (!ctx.constant_ints(ctx.input(1), paddings)) return false;
  const Shape& x = ctx.shape(ctx.input(0));
  if (static_cast<int>(paddings.size()) != 2 * x.rank)
    return ctx.fail(std::to_string(paddings.size()) + " paddings for an input of rank " + std::to_string(x.rank) +
                    ", expected " + std::to_string(2 * x.rank));
  Shape out_shape = x;
  std::vector<int32_t> before(x.rank);
  for (int d = 0; d < x.rank; ++d) {
    const int32_t lo = paddings[2 * d], hi = paddings[2 * d + 1];
    if (lo < 0 || hi < 0 || lo > kMaxElements || hi > kMaxElements)
      return ctx.fail("padding " + std::to_string(lo) + ", " + std::to_string(hi) + " of dimension " +
                      std::to_string(d) + " outside 0 to " + std::to_string(kMaxElements));
    const int64_t size = int64_t{x.dims[d]} + lo + hi;
    if (size > kMaxElements)
      return ctx.fail("dimension " + std::to_string(d) + " would be " + std::to_string(size) + ", more than " +
                      std::to_string(kMaxElements));
    out_shape.dims[d] = static_cast<int32_t>(size);
    before[d] = lo;
  }
  if (out_shape.elements() > kMaxElements)
    return ctx.fail("output " + out_shape.str() + " has more than " + std::to_string(kMaxElements) + " elements");
  ctx.set_shape(ctx.output(0), out_shape);
  if (ctx.folded_away()) return true;  // the convolution reading it pads instead
  ctx.add_step(std::make_unique<PadKernel>(ctx.input(0), ctx.output(0), x, out_shape, before), {ctx.input(0)},
               {ctx.output(0)});
  return true;
}

}  // namespace runtime
