#include "runtime/ops/registry.h"
#include "runtime/ops/strided.h"

namespace runtime {

namespace {

class GatherKernel final : public Kernel {
 public:
  GatherKernel(int in, int out, const StridedView& view) : in_(in), out_(out), view_(view) {}
  void run(TensorData data) override { gather(data[in_], data[out_], view_); }

 private:
  int in_, out_;
  StridedView view_;
};

}  // namespace

// out[i0, i1, ...] = in[i_perm^-1...]: output dimension k is input dimension perm[k].
bool prepare_transpose(OpContext& ctx) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  std::vector<int32_t> perm;
  if (!ctx.constant_ints(ctx.input(1), perm)) return false;
  const Shape& x = ctx.shape(ctx.input(0));
  if (static_cast<int>(perm.size()) != x.rank)
    return ctx.fail("permutation of " + std::to_string(perm.size()) + " entries for an input of rank " +
                    std::to_string(x.rank));
  bool seen[kMaxRank] = {};
  int64_t strides[kMaxRank];
  contiguous_strides(x, strides);
  StridedView view;
  view.rank = x.rank;
  Shape out_shape;
  out_shape.rank = x.rank;
  for (int k = 0; k < x.rank; ++k) {
    int32_t p = perm[k];
    if (p < 0) p += x.rank;
    if (p < 0 || p >= x.rank || seen[p])
      return ctx.fail("entry " + std::to_string(k) + " (" + std::to_string(perm[k]) +
                      ") makes no permutation of rank " + std::to_string(x.rank));
    seen[p] = true;
    out_shape.dims[k] = x.dims[p];
    view.dims[k] = x.dims[p];
    view.stride[k] = strides[p];
  }
  ctx.set_shape(ctx.output(0), out_shape);
  ctx.add_step(std::make_unique<GatherKernel>(ctx.input(0), ctx.output(0), view), {ctx.input(0)}, {ctx.output(0)});
  return true;
}

}  // namespace runtime
