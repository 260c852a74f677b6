// Pass: graph rewrites.
// Assumes: constants loaded and DEQUANTIZEs of constants folded (a PRELU's
// slope may come from one), the schedule.
// Guarantees: decides, from the operators, their options, the constants and
// the declared shapes alone, what each convolution's kernel computes besides
// the convolution:
//  - a PAD of height and width only, whose one reader is a VALID
//    convolution, becomes that convolution's padding (one pass over memory
//    fewer);
//  - after a convolution without an activation of its own: a residual ADD of
//    two tensors declared alike, then a RELU or RELU6, then a PRELU with one
//    slope per channel, each the one reader of the result before it.
// Operators fused after a convolution are marked absorbed, so
// prepare_operators skips them; the convolution's prepare gives their outputs
// its own output shape and check_writes judges those definitions like any
// other. Nothing here protects memory: a decision the inferred shapes do not
// bear out makes the convolution's prepare or check_writes refuse the model.
#include <cstring>

#include "runtime/ops/conv_common.h"
#include "runtime/compiler/passes.h"

namespace runtime {

namespace {

// Real models pad by a few pixels; larger amounts keep their own PAD step.
constexpr int32_t kMaxFoldedPad = 1024;

struct Rewriter {
  CompileState& s;
  std::vector<int> producer;  // operator of the file writing the tensor, or -1

  const OperatorDesc& op(int i) const { return s.model.operators()[i]; }
  const TensorDesc& tensor(int t) const { return s.model.tensors()[t]; }
  bool is(int i, fb::BuiltinOperator code, size_t inputs, size_t outputs) const {
    return !op(i).custom && op(i).code == code && op(i).inputs.size() == inputs && op(i).outputs.size() == outputs;
  }
  bool float_tensor(int t) const { return t >= 0 && tensor(t).type == fb::TensorType_FLOAT32; }

  // The one operator reading `t`, when it runs after `after`; else -1.
  int sole_reader(int t, int after) const {
    if (s.graph_output[t] || s.consumers[t] != 1) return -1;
    for (int i = 0; i < static_cast<int>(s.model.operators().size()); ++i)
      for (int in : op(i).inputs)
        if (in == t) return s.position[i] > s.position[after] ? i : -1;
    return -1;
  }
  bool available_before(int t, int i) const {
    if (s.constant[t] >= 0 || s.graph_input[t]) return true;
    return producer[t] >= 0 && s.position[producer[t]] < s.position[i];
  }
  // The same shape stated for both, so an ADD of them is elementwise (the
  // convolution's prepare checks the inferred shapes agree too).
  bool declared_alike(int a, int b) const {
    const TensorDesc &x = tensor(a), &y = tensor(b);
    return x.has_shape && y.has_shape && x.shape == y.shape && x.signature == y.signature;
  }
  // The convolution's padding and fused activation, when it is one.
  bool conv_options(int i, fb::Padding& padding, fb::ActivationFunctionType& act) const {
    if (is(i, fb::BuiltinOperator_CONV_2D, 3, 1) || is(i, fb::BuiltinOperator_CONV_2D, 2, 1)) {
      const auto* o = op(i).table->builtin_options_as_Conv2DOptions();
      if (!o) return false;
      padding = o->padding(), act = o->fused_activation_function();
      return true;
    }
    if (is(i, fb::BuiltinOperator_DEPTHWISE_CONV_2D, 3, 1) || is(i, fb::BuiltinOperator_DEPTHWISE_CONV_2D, 2, 1)) {
      const auto* o = op(i).table->builtin_options_as_DepthwiseConv2DOptions();
      if (!o) return false;
      padding = o->padding(), act = o->fused_activation_function();
      return true;
    }
    return false;
  }

  void fold_pad(int pad) {
    if (!is(pad, fb::BuiltinOperator_PAD, 2, 1)) return;
    const TensorDesc& amounts = tensor(op(pad).inputs[1]);
    if (amounts.type != fb::TensorType_INT32 || !amounts.data || amounts.bytes != 8 * sizeof(int32_t)) return;
    int32_t p[8];
    std::memcpy(p, amounts.data, sizeof p);
    if (p[0] || p[1] || p[6] || p[7]) return;  // batch or channels padded
    for (int k = 2; k < 6; ++k)
      if (p[k] < 0 || p[k] > kMaxFoldedPad) return;
    const int conv = sole_reader(op(pad).outputs[0], pad);
    fb::Padding padding;
    fb::ActivationFunctionType act;
    if (conv < 0 || !conv_options(conv, padding, act) || padding != fb::Padding_VALID ||
        op(conv).inputs[0] != op(pad).outputs[0])
      return;
    ConvFusion& f = s.fusion[conv];
    f.pad_source = op(pad).inputs[0];
    f.pad_top = p[2], f.pad_bottom = p[3], f.pad_left = p[4], f.pad_right = p[5];
    s.folded_into[pad] = conv;
  }

  void fuse_after(int conv) {
    fb::Padding padding;
    fb::ActivationFunctionType own;
    Activation activation;
    if (!conv_options(conv, padding, own) || !kernel_activation(own, activation)) return;
    ConvFusion& f = s.fusion[conv];
    int t = op(conv).outputs[0];
    const auto absorb = [&](int i) {
      s.absorbed[i] = true;
      f.ops.push_back(i);
      t = op(i).outputs[0];
    };
    if (activation == Activation::kNone) {
      const int add = sole_reader(t, conv);
      if (add >= 0 && is(add, fb::BuiltinOperator_ADD, 2, 1)) {
        const auto* options = op(add).table->builtin_options_as_AddOptions();
        const bool options_ok = op(add).table->builtin_options_type() == fb::BuiltinOptions_NONE || options;
        const int r = op(add).inputs[0] == t ? op(add).inputs[1] : op(add).inputs[0];
        Activation act;
        if (options_ok && r >= 0 && r != t && float_tensor(r) && float_tensor(op(add).outputs[0]) &&
            available_before(r, conv) && declared_alike(r, t) &&
            kernel_activation(options ? options->fused_activation_function() : fb::ActivationFunctionType_NONE, act)) {
          f.residual = r;
          f.activation = activation = act;
          absorb(add);
        }
      }
    }
    if (activation == Activation::kNone) {
      const int relu = sole_reader(t, conv);
      if (relu >= 0 && (is(relu, fb::BuiltinOperator_RELU, 1, 1) || is(relu, fb::BuiltinOperator_RELU6, 1, 1)) &&
          float_tensor(op(relu).outputs[0])) {
        f.activation = op(relu).code == fb::BuiltinOperator_RELU ? Activation::kRelu : Activation::kRelu6;
        absorb(relu);
      }
    }
    const int prelu = sole_reader(t, conv);
    if (prelu >= 0 && is(prelu, fb::BuiltinOperator_PRELU, 2, 1) && op(prelu).inputs[0] == t &&
        float_tensor(op(prelu).outputs[0]) && per_channel_slope(op(prelu).inputs[1], op(conv).outputs[0])) {
      f.alpha = op(prelu).inputs[1];
      absorb(prelu);
    }
    f.output = t;
  }
  // A float constant with one value per channel of `out` (every other
  // dimension 1): the only slope the kernels apply.
  bool per_channel_slope(int alpha, int out) const {
    if (alpha < 0 || s.constant[alpha] < 0 || !tensor(out).has_shape || tensor(out).shape.rank < 1) return false;
    const Shape& a = s.shapes()[alpha];
    if (a.rank < 1 || a.rank > tensor(out).shape.rank || a.back(-1) != tensor(out).shape.back(-1)) return false;
    for (int i = 0; i + 1 < a.rank; ++i)
      if (a.dims[i] != 1) return false;
    return true;
  }
};

}  // namespace

void rewrite(CompileState& s) {
  const int n = static_cast<int>(s.model.operators().size());
  Rewriter r{s, std::vector<int>(s.model.tensors().size(), -1)};
  for (int i = 0; i < n; ++i)
    for (int t : s.model.operators()[i].outputs) r.producer[t] = i;
  s.fusion.assign(n, {});
  s.folded_into.assign(n, -1);
  for (int i : s.order)
    if (!s.absorbed[i]) r.fold_pad(i);
  for (int i : s.order)
    if (!s.absorbed[i]) r.fuse_after(i);  // convolutions only: it checks
}

}  // namespace runtime
