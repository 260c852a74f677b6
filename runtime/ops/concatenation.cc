#include <algorithm>
#include <cstring>

#include "runtime/ops/registry.h"

namespace runtime {

namespace {

// Each input contributes a slab of `inner[k]` floats to every one of the
// `outer` rows of the output.
class ConcatKernel final : public Kernel {
 public:
  ConcatKernel(std::vector<int> inputs, std::vector<int64_t> inner, int64_t outer, int out, float lo, float hi,
               bool clamp)
      : inputs_(std::move(inputs)), inner_(std::move(inner)), outer_(outer), out_(out), lo_(lo), hi_(hi),
        clamp_(clamp) {}
  void run(TensorData data) override {
    float* out = data[out_];
    float* const begin = out;
    for (int64_t o = 0; o < outer_; ++o)
      for (size_t k = 0; k < inputs_.size(); ++k) {
        std::memcpy(out, data[inputs_[k]] + o * inner_[k], static_cast<size_t>(inner_[k]) * sizeof(float));
        out += inner_[k];
      }
    if (clamp_)
      for (float* p = begin; p < out; ++p) *p = std::min(std::max(*p, lo_), hi_);
  }

 private:
  std::vector<int> inputs_;
  std::vector<int64_t> inner_;
  int64_t outer_;
  int out_;
  float lo_, hi_;
  bool clamp_;
};

}  // namespace

bool prepare_concatenation(OpContext& ctx) {
  if (ctx.num_inputs() < 1 || !ctx.expect_counts(1, 1 << 16, 1) || !ctx.float_output(0)) return false;
  bool ok;
  const auto* o = ctx.options<fb::ConcatenationOptions>(fb::BuiltinOptions_ConcatenationOptions, ok);
  if (!ok) return false;
  float lo, hi;
  const auto act = o ? o->fused_activation_function() : fb::ActivationFunctionType_NONE;
  if (!activation_range(act, lo, hi))
    return ctx.fail(std::string("fused activation ") + fb::EnumNameActivationFunctionType(act) + " not supported");
  for (int i = 0; i < ctx.num_inputs(); ++i)
    if (!ctx.float_input(i)) return false;
  const Shape& first = ctx.shape(ctx.input(0));
  const int rank = first.rank;
  int axis = o ? o->axis() : 0;
  if (axis < 0) axis += rank;
  if (axis < 0 || axis >= rank)
    return ctx.fail("axis " + std::to_string(o ? o->axis() : 0) + " outside rank " + std::to_string(rank));
  Shape out_shape = first;
  out_shape.dims[axis] = 0;
  int64_t outer = 1;
  for (int d = 0; d < axis; ++d) outer *= first.dims[d];
  std::vector<int> inputs;
  std::vector<int64_t> inner;
  for (int i = 0; i < ctx.num_inputs(); ++i) {
    const Shape& s = ctx.shape(ctx.input(i));
    if (s.rank != rank)
      return ctx.fail("input " + std::to_string(i) + " " + s.str() + " differs in rank from input 0 " + first.str());
    for (int d = 0; d < rank; ++d)
      if (d != axis && s.dims[d] != first.dims[d])
        return ctx.fail("input " + std::to_string(i) + " " + s.str() + " differs from input 0 " + first.str() +
                        " outside axis " + std::to_string(axis));
    out_shape.dims[axis] += s.dims[axis];
    if (out_shape.dims[axis] > kMaxElements)
      return ctx.fail("axis " + std::to_string(axis) + " would exceed " + std::to_string(kMaxElements) + " elements");
    inputs.push_back(ctx.input(i));
    inner.push_back(outer ? s.elements() / std::max<int64_t>(outer, 1) : 0);
  }
  if (out_shape.elements() > kMaxElements)
    return ctx.fail("output " + out_shape.str() + " has more than " + std::to_string(kMaxElements) + " elements");
  ctx.set_shape(ctx.output(0), out_shape);
  std::vector<int> reads = inputs;
  ctx.add_step(std::make_unique<ConcatKernel>(std::move(inputs), std::move(inner), outer, ctx.output(0), lo, hi,
                                              act != fb::ActivationFunctionType_NONE),
               reads, {ctx.output(0)});
  return true;
}

}  // namespace runtime
