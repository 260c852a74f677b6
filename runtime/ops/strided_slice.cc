#include <algorithm>

#include "runtime/ops/registry.h"
#include "runtime/ops/strided.h"

namespace runtime {

namespace {

class SliceKernel final : public Kernel {
 public:
  SliceKernel(int in, int out, const StridedView& view) : in_(in), out_(out), view_(view) {}
  void run(TensorData data) override { gather(data[in_], data[out_], view_); }

 private:
  int in_, out_;
  StridedView view_;
};

}  // namespace

// Python-style slicing per dimension: begin, end (exclusive) and stride, with
// masks that mean "from the start"/"to the end" and shrink bits that drop a
// dimension of size one. Ellipsis, new-axis and offset forms are not supported.
bool prepare_strided_slice(OpContext& ctx) {
  if (!ctx.expect_counts(4, 4, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::StridedSliceOptions>(fb::BuiltinOptions_StridedSliceOptions, ok);
  if (!ok) return false;
  const int begin_mask = o ? o->begin_mask() : 0, end_mask = o ? o->end_mask() : 0;
  const int shrink_mask = o ? o->shrink_axis_mask() : 0;
  if (o && (o->ellipsis_mask() != 0 || o->new_axis_mask() != 0 || o->offset()))
    return ctx.fail("ellipsis, new-axis and offset slicing are not supported");
  std::vector<int32_t> begin, end, strides;
  if (!ctx.constant_ints(ctx.input(1), begin) || !ctx.constant_ints(ctx.input(2), end) ||
      !ctx.constant_ints(ctx.input(3), strides))
    return false;
  const Shape& x = ctx.shape(ctx.input(0));
  const int rank = x.rank;
  if (static_cast<int>(begin.size()) != rank || static_cast<int>(end.size()) != rank ||
      static_cast<int>(strides.size()) != rank)
    return ctx.fail("begin, end and strides have " + std::to_string(begin.size()) + ", " + std::to_string(end.size()) +
                    " and " + std::to_string(strides.size()) + " entries for an input of rank " + std::to_string(rank));
  int64_t in_strides[kMaxRank];
  contiguous_strides(x, in_strides);
  StridedView view;
  view.rank = rank;
  Shape out_shape;
  for (int d = 0; d < rank; ++d) {
    const int64_t dim = x.dims[d];
    const int64_t stride = strides[d];
    if (stride == 0) return ctx.fail("zero stride in dimension " + std::to_string(d));
    int64_t b = begin[d], e = end[d];
    if (shrink_mask & (1 << d)) {
      if (b < 0) b += dim;
      if (b < 0 || b >= dim)
        return ctx.fail("shrunk index " + std::to_string(begin[d]) + " outside dimension " + std::to_string(d) +
                        " of size " + std::to_string(dim));
      view.dims[d] = 1;
      view.stride[d] = in_strides[d];
      view.offset += b * in_strides[d];
      continue;
    }
    if (stride > 0) {
      b = (begin_mask & (1 << d)) ? 0 : std::clamp<int64_t>(b < 0 ? b + dim : b, 0, dim);
      e = (end_mask & (1 << d)) ? dim : std::clamp<int64_t>(e < 0 ? e + dim : e, 0, dim);
    } else {
      b = (begin_mask & (1 << d)) ? dim - 1 : std::clamp<int64_t>(b < 0 ? b + dim : b, -1, dim - 1);
      e = (end_mask & (1 << d)) ? -1 : std::clamp<int64_t>(e < 0 ? e + dim : e, -1, dim - 1);
    }
    const int64_t span = stride > 0 ? e - b : b - e;
    const int64_t abs_stride = stride > 0 ? stride : -stride;
    const int64_t count = span <= 0 ? 0 : (span + abs_stride - 1) / abs_stride;
    view.dims[d] = count;
    view.stride[d] = in_strides[d] * stride;
    if (count > 0) view.offset += b * in_strides[d];
    out_shape.dims[out_shape.rank++] = static_cast<int32_t>(count);
  }
  ctx.set_shape(ctx.output(0), out_shape);
  ctx.add_step(std::make_unique<SliceKernel>(ctx.input(0), ctx.output(0), view), {ctx.input(0)}, {ctx.output(0)});
  return true;
}

}  // namespace runtime
