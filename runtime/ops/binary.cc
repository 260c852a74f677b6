#include "runtime/ops/binary.h"

#include <algorithm>

namespace runtime {

namespace {

// Output dimensions and per-input element strides (0 along broadcast
// dimensions), with runs of dimensions that broadcast alike merged so the
// inner loop is as long as possible.
struct BroadcastPlan {
  int rank = 0;
  int64_t dims[kMaxRank] = {};
  int64_t a_stride[kMaxRank] = {};
  int64_t b_stride[kMaxRank] = {};
};

bool broadcast_shape(const Shape& a, const Shape& b, Shape& out) {
  out.rank = std::max(a.rank, b.rank);
  for (int i = 0; i < out.rank; ++i) {
    const int ai = a.rank - out.rank + i, bi = b.rank - out.rank + i;
    const int32_t da = ai >= 0 ? a.dims[ai] : 1, db = bi >= 0 ? b.dims[bi] : 1;
    if (da != db && da != 1 && db != 1) return false;
    out.dims[i] = da == 1 ? db : da;
  }
  return true;
}

BroadcastPlan make_plan(const Shape& a, const Shape& b, const Shape& out) {
  // Full-rank strides first.
  int64_t as[kMaxRank], bs[kMaxRank];
  int64_t sa = 1, sb = 1;
  for (int i = out.rank - 1; i >= 0; --i) {
    const int ai = a.rank - out.rank + i, bi = b.rank - out.rank + i;
    const int32_t da = ai >= 0 ? a.dims[ai] : 1, db = bi >= 0 ? b.dims[bi] : 1;
    as[i] = da == 1 ? 0 : sa;
    bs[i] = db == 1 ? 0 : sb;
    sa *= da;
    sb *= db;
  }
  BroadcastPlan p;
  for (int i = 0; i < out.rank; ++i) {
    if (out.dims[i] == 1) continue;  // contributes nothing
    if (p.rank > 0) {
      const int j = p.rank - 1;
      const bool a_merge = p.a_stride[j] == as[i] * out.dims[i];
      const bool b_merge = p.b_stride[j] == bs[i] * out.dims[i];
      if (a_merge && b_merge) {
        p.dims[j] *= out.dims[i];
        p.a_stride[j] = as[i];
        p.b_stride[j] = bs[i];
        continue;
      }
    }
    p.dims[p.rank] = out.dims[i];
    p.a_stride[p.rank] = as[i];
    p.b_stride[p.rank] = bs[i];
    ++p.rank;
  }
  if (p.rank == 0) {
    p.rank = 1;
    p.dims[0] = 1;
  }
  return p;
}

template <BinaryOp kOp>
inline float apply(float x, float y) {
  if constexpr (kOp == BinaryOp::kAdd) return x + y;
  if constexpr (kOp == BinaryOp::kSub) return x - y;
  if constexpr (kOp == BinaryOp::kMul) return x * y;
  if constexpr (kOp == BinaryOp::kDiv) return x / y;
  if constexpr (kOp == BinaryOp::kSquaredDifference) return (x - y) * (x - y);
  if constexpr (kOp == BinaryOp::kPrelu) return x >= 0.f ? x : x * y;
}

template <BinaryOp kOp>
class BinaryKernel final : public Kernel {
 public:
  BinaryKernel(int a, int b, int out, const BroadcastPlan& plan, float lo, float hi, bool clamp)
      : a_(a), b_(b), out_(out), plan_(plan), lo_(lo), hi_(hi), clamp_(clamp) {}

  void run(TensorData data) override {
    const float* a = data[a_];
    const float* b = data[b_];
    float* out = data[out_];
    const int inner = plan_.rank - 1;
    const int64_t n = plan_.dims[inner];
    const int64_t sa = plan_.a_stride[inner], sb = plan_.b_stride[inner];
    int64_t index[kMaxRank] = {};
    int64_t outer = 1;
    for (int i = 0; i < inner; ++i) outer *= plan_.dims[i];
    int64_t ao = 0, bo = 0;
    for (int64_t o = 0; o < outer; ++o) {
      row(a + ao, b + bo, out, n, sa, sb);
      out += n;
      // Advance the outer odometer.
      for (int d = inner - 1; d >= 0; --d) {
        ao += plan_.a_stride[d];
        bo += plan_.b_stride[d];
        if (++index[d] < plan_.dims[d]) break;
        ao -= plan_.a_stride[d] * plan_.dims[d];
        bo -= plan_.b_stride[d] * plan_.dims[d];
        index[d] = 0;
      }
    }
  }

 private:
  void row(const float* a, const float* b, float* out, int64_t n, int64_t sa, int64_t sb) const {
    if (sa == 1 && sb == 1) {
      for (int64_t i = 0; i < n; ++i) out[i] = apply<kOp>(a[i], b[i]);
    } else if (sa == 0 && sb == 1) {
      const float x = a[0];
      for (int64_t i = 0; i < n; ++i) out[i] = apply<kOp>(x, b[i]);
    } else if (sa == 1 && sb == 0) {
      const float y = b[0];
      for (int64_t i = 0; i < n; ++i) out[i] = apply<kOp>(a[i], y);
    } else {
      for (int64_t i = 0; i < n; ++i) out[i] = apply<kOp>(a[i * sa], b[i * sb]);
    }
    if (clamp_)
      for (int64_t i = 0; i < n; ++i) out[i] = std::min(std::max(out[i], lo_), hi_);
  }

  int a_, b_, out_;
  BroadcastPlan plan_;
  float lo_, hi_;
  bool clamp_;
};

template <BinaryOp kOp>
std::unique_ptr<Kernel> make(int a, int b, int out, const BroadcastPlan& plan, float lo, float hi, bool clamp) {
  return std::make_unique<BinaryKernel<kOp>>(a, b, out, plan, lo, hi, clamp);
}

}  // namespace

bool prepare_binary(OpContext& ctx, BinaryOp op, const fb::ArithmeticOptions* options) {
  if (!ctx.expect_counts(2, 2, 1) || !ctx.float_input(0) || !ctx.float_input(1) || !ctx.float_output(0))
    return false;
  float lo, hi;
  const auto act = options ? options->fused_activation_function() : fb::ActivationFunctionType_NONE;
  if (!activation_range(act, lo, hi))
    return ctx.fail(std::string("fused activation ") + fb::EnumNameActivationFunctionType(act) + " not supported");
  const int a = ctx.input(0), b = ctx.input(1), out = ctx.output(0);
  Shape out_shape;
  if (!broadcast_shape(ctx.shape(a), ctx.shape(b), out_shape))
    return ctx.fail("shapes " + ctx.shape(a).str() + " and " + ctx.shape(b).str() + " do not broadcast");
  // PRELU never grows its input: the slope broadcasts into it.
  if (op == BinaryOp::kPrelu && !(out_shape == ctx.shape(a)))
    return ctx.fail("slope " + ctx.shape(b).str() + " does not fit the input " + ctx.shape(a).str());
  ctx.set_shape(out, out_shape);
  const BroadcastPlan plan = make_plan(ctx.shape(a), ctx.shape(b), out_shape);
  const bool clamp = act != fb::ActivationFunctionType_NONE;
  std::unique_ptr<Kernel> kernel;
  switch (op) {
    case BinaryOp::kAdd: kernel = make<BinaryOp::kAdd>(a, b, out, plan, lo, hi, clamp); break;
    case BinaryOp::kSub: kernel = make<BinaryOp::kSub>(a, b, out, plan, lo, hi, clamp); break;
    case BinaryOp::kMul: kernel = make<BinaryOp::kMul>(a, b, out, plan, lo, hi, clamp); break;
    case BinaryOp::kDiv: kernel = make<BinaryOp::kDiv>(a, b, out, plan, lo, hi, clamp); break;
    case BinaryOp::kSquaredDifference:
      kernel = make<BinaryOp::kSquaredDifference>(a, b, out, plan, lo, hi, clamp);
      break;
    case BinaryOp::kPrelu: kernel = make<BinaryOp::kPrelu>(a, b, out, plan, lo, hi, clamp); break;
  }
  ctx.add_step(std::move(kernel), {a, b}, {out});
  return true;
}

}  // namespace runtime
