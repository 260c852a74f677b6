#include <cstring>

#include "runtime/ops/registry.h"

namespace runtime {

namespace {

class CopyKernel final : public Kernel {
 public:
  CopyKernel(int in, int out, int64_t count) : in_(in), out_(out), count_(count) {}
  void run(TensorData data) override {
    if (data[in_] != data[out_]) std::memcpy(data[out_], data[in_], static_cast<size_t>(count_) * sizeof(float));
  }

 private:
  int in_, out_;
  int64_t count_;
};

}  // namespace

// The new shape comes from a constant second input, else from the options;
// one dimension may be -1 and is then inferred from the element count.
bool prepare_reshape(OpContext& ctx) {
  if (!ctx.expect_counts(1, 2, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  std::vector<int32_t> dims;
  if (ctx.num_inputs() == 2 && ctx.input(1) >= 0) {
    if (!ctx.constant_ints(ctx.input(1), dims)) return false;
  } else {
    bool ok;
    const auto* o = ctx.options<fb::ReshapeOptions>(fb::BuiltinOptions_ReshapeOptions, ok);
    if (!ok) return false;
    if (!o || !o->new_shape()) return ctx.fail("new shape missing");
    dims.assign(o->new_shape()->begin(), o->new_shape()->end());
  }
  const Shape& x = ctx.shape(ctx.input(0));
  if (dims.size() > static_cast<size_t>(kMaxRank))
    return ctx.fail("new shape of rank " + std::to_string(dims.size()) + ", more than " + std::to_string(kMaxRank));
  Shape out_shape;
  int inferred = -1;
  int64_t known = 1;
  for (int32_t d : dims) {
    if (d == -1) {
      if (inferred >= 0) return ctx.fail("more than one inferred dimension");
      inferred = out_shape.rank;
    } else if (d < 0) {
      return ctx.fail("negative dimension " + std::to_string(d));
    } else {
      known *= d;
      if (known > kMaxElements)
        return ctx.fail("new shape has more than " + std::to_string(kMaxElements) + " elements");
    }
    out_shape.dims[out_shape.rank++] = d;
  }
  const int64_t count = x.elements();
  if (inferred >= 0) {
    if (known == 0 || count % known != 0)
      return ctx.fail("cannot infer a dimension: " + std::to_string(count) + " elements over " + std::to_string(known));
    out_shape.dims[inferred] = static_cast<int32_t>(count / known);
  }
  if (out_shape.elements() != count)
    return ctx.fail("new shape " + out_shape.str() + " has another element count than the input " + x.str());
  ctx.set_shape(ctx.output(0), out_shape);
  ctx.add_step(std::make_unique<CopyKernel>(ctx.input(0), ctx.output(0), count), {ctx.input(0)}, {ctx.output(0)});
  return true;
}

}  // namespace runtime
