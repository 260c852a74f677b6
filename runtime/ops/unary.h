#pragma once

#include "runtime/ops/op.h"

namespace runtime {

// The one element-wise path behind the single-input operators: `Fn` maps one
// float to one float; the output has the input's shape.
template <typename Fn>
class UnaryKernel final : public Kernel {
 public:
  UnaryKernel(int in, int out, int64_t count) : in_(in), out_(out), count_(count) {}
  void run(TensorData data) override {
    const float* in = data[in_];
    float* out = data[out_];
    for (int64_t i = 0; i < count_; ++i) out[i] = Fn{}(in[i]);
  }

 private:
  int in_, out_;
  int64_t count_;
};

template <typename Fn>
bool prepare_unary(OpContext& ctx) {
  if (!ctx.expect_counts(1, 1, 1) || !ctx.float_input(0) || !ctx.float_output(0)) return false;
  const int in = ctx.input(0), out = ctx.output(0);
  ctx.set_shape(out, ctx.shape(in));
  ctx.add_step(std::make_unique<UnaryKernel<Fn>>(in, out, ctx.shape(in).elements()), {in}, {out});
  return true;
}

}  // namespace runtime
