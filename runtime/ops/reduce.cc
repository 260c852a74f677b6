#include "runtime/ops/reduce.h"

#include <algorithm>

#include "runtime/ops/strided.h"

namespace runtime {

namespace {

// Sums in double, in a fixed order. When the input's last dimension is kept
// (pooling over space), whole input rows are added into a row of
// accumulators; otherwise each output element sums its own strided run.
class ReduceKernel final : public Kernel {
 public:
  ReduceKernel(int in, int out, const Shape& shape, const bool* reduce, const StridedView& kept,
               const StridedView& reduced, bool mean)
      : in_(in), out_(out), kept_(kept), reduced_(reduced),
        scale_(mean ? 1.0 / static_cast<double>(std::max<int64_t>(reduced.elements(), 1)) : 1.0) {
    rows_mode_ = shape.rank >= 2 && !reduce[shape.rank - 1] && reduced.elements() > 1;
    if (!rows_mode_) return;
    // Output offsets of each input row: strides over the input's outer dims,
    // zero along reduced ones.
    row_rank_ = shape.rank - 1;
    row_length_ = shape.dims[shape.rank - 1];
    int64_t out_stride = row_length_;
    for (int d = shape.rank - 2; d >= 0; --d) {
      row_dims_[d] = shape.dims[d];
      row_out_stride_[d] = reduce[d] ? 0 : out_stride;
      if (!reduce[d]) out_stride *= shape.dims[d];
    }
    acc_.assign(static_cast<size_t>(kept.elements()), 0.0);
  }

  void run(TensorData data) override {
    if (rows_mode_) {
      run_rows(data[in_], data[out_]);
      return;
    }
    const float* in = data[in_];
    float* out = data[out_];
    const int64_t n_out = kept_.elements(), n_red = reduced_.elements();
    int64_t index[kMaxRank] = {};
    int64_t base = 0;
    for (int64_t o = 0; o < n_out; ++o) {
      out[o] = static_cast<float>(sum(in + base, n_red) * scale_);
      for (int d = kept_.rank - 1; d >= 0; --d) {
        base += kept_.stride[d];
        if (++index[d] < kept_.dims[d]) break;
        base -= kept_.stride[d] * kept_.dims[d];
        index[d] = 0;
      }
    }
  }

 private:
  void run_rows(const float* in, float* out) {
    std::fill(acc_.begin(), acc_.end(), 0.0);
    int64_t outer = 1;
    for (int d = 0; d < row_rank_; ++d) outer *= row_dims_[d];
    int64_t index[kMaxRank] = {};
    int64_t base = 0;
    for (int64_t r = 0; r < outer; ++r, in += row_length_) {
      double* acc = acc_.data() + base;
      for (int64_t i = 0; i < row_length_; ++i) acc[i] += in[i];
      for (int d = row_rank_ - 1; d >= 0; --d) {
        base += row_out_stride_[d];
        if (++index[d] < row_dims_[d]) break;
        base -= row_out_stride_[d] * row_dims_[d];
        index[d] = 0;
      }
    }
    for (size_t o = 0; o < acc_.size(); ++o) out[o] = static_cast<float>(acc_[o] * scale_);
  }

  double sum(const float* in, int64_t count) const {
    if (reduced_.rank == 1) {
      // One run of equally spaced elements: four partial sums keep the
      // additions from waiting on each other.
      const int64_t stride = reduced_.stride[0];
      double part[4] = {0, 0, 0, 0};
      int64_t i = 0;
      for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k) part[k] += in[(i + k) * stride];
      for (; i < count; ++i) part[0] += in[i * stride];
      return (part[0] + part[1]) + (part[2] + part[3]);
    }
    int64_t index[kMaxRank] = {};
    int64_t offset = 0;
    double total = 0;
    for (int64_t i = 0; i < count; ++i) {
      total += in[offset];
      for (int d = reduced_.rank - 1; d >= 0; --d) {
        offset += reduced_.stride[d];
        if (++index[d] < reduced_.dims[d]) break;
        offset -= reduced_.stride[d] * reduced_.dims[d];
        index[d] = 0;
      }
    }
    return total;
  }

  int in_, out_;
  StridedView kept_, reduced_;
  double scale_;
  bool rows_mode_ = false;
  int row_rank_ = 0;
  int64_t row_length_ = 0;
  int64_t row_dims_[kMaxRank] = {};
  int64_t row_out_stride_[kMaxRank] = {};
  std::vector<double> acc_;  // sized at compile
};

}  // namespace

bool prepare_reduce(OpContext& ctx, bool mean) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::ReducerOptions>(fb::BuiltinOptions_ReducerOptions, ok);
  if (!ok) return false;
  const bool keep_dims = o && o->keep_dims();
  std::vector<int32_t> axes;
  if (!ctx.constant_ints(ctx.input(1), axes)) return false;
  const Shape& x = ctx.shape(ctx.input(0));
  bool reduce[kMaxRank] = {};
  for (int32_t a : axes) {
    if (a < 0) a += x.rank;
    if (a < 0 || a >= x.rank) return ctx.fail("axis " + std::to_string(a) + " outside rank " + std::to_string(x.rank));
    reduce[a] = true;  // a repeated axis counts once
  }
  int64_t strides[kMaxRank];
  contiguous_strides(x, strides);
  StridedView kept, reduced;
  Shape out_shape;
  for (int d = 0; d < x.rank; ++d) {
    // Dimensions of size one add nothing; neighbours that address memory
    // linearly merge into one, so the loops below run as long as possible.
    StridedView& v = reduce[d] ? reduced : kept;
    if (x.dims[d] != 1) {
      if (v.rank > 0 && v.stride[v.rank - 1] == strides[d] * x.dims[d]) {
        v.dims[v.rank - 1] *= x.dims[d];
        v.stride[v.rank - 1] = strides[d];
      } else {
        v.dims[v.rank] = x.dims[d];
        v.stride[v.rank] = strides[d];
        ++v.rank;
      }
    }
    if (!reduce[d]) out_shape.dims[out_shape.rank++] = x.dims[d];
    else if (keep_dims) out_shape.dims[out_shape.rank++] = 1;
  }
  ctx.set_shape(ctx.output(0), out_shape);
  ctx.add_step(std::make_unique<ReduceKernel>(ctx.input(0), ctx.output(0), x, reduce, kept, reduced, mean), {ctx.input(0)},
               {ctx.output(0)});
  return true;
}

}  // namespace runtime
