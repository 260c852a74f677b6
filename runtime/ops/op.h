#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/kernels/conv2d.h"
#include "runtime/model.h"

namespace runtime {

// Memory of every tensor of the main subgraph while a graph runs, indexed by
// tensor: arena slots and constants fixed at compile, the caller's buffers
// patched in by each run. Kernels only read their own tensors' entries.
using TensorData = float* const*;

// One executable step, built once at compile. run must not allocate.
class Kernel {
 public:
  virtual ~Kernel() = default;
  virtual void run(TensorData data) = 0;
};

struct CompileState;

// What the rewrite pass decided one convolution's kernel computes besides
// the convolution (passes/rewrite.cc).
struct ConvFusion {
  // A PAD folded in: the convolution reads `pad_source`, padded by these
  // rows and columns, instead of the PAD's output.
  int pad_source = -1;
  int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;
  int residual = -1;                          // a residual ADD's other input
  Activation activation = Activation::kNone;  // of the fused ADD or RELU/RELU6
  int alpha = -1;                             // a fused PRELU's slopes
  std::vector<int> ops;                       // the operators fused after it, in order
  int output = -1;                            // the tensor the kernel writes in the end
};

// Compile-time view of one operator, handed to its prepare function. The
// prepare function checks the operator's inputs and options, infers its
// output shapes and adds the step that computes them (or folds the result
// into a constant). Any failure makes the whole compilation fail.
class OpContext {
 public:
  OpContext(CompileState& state, int op_index) : state_(state), op_index_(op_index) {}

  int op_index() const { return op_index_; }
  const OperatorDesc& desc() const;
  const OperatorDesc& desc_at(int op_index) const;
  int num_inputs() const { return static_cast<int>(desc().inputs.size()); }
  int num_outputs() const { return static_cast<int>(desc().outputs.size()); }
  int input(int i) const { return desc().inputs[i]; }
  int output(int i) const { return desc().outputs[i]; }

  const Shape& shape(int tensor) const;
  fb::TensorType type(int tensor) const;
  bool has_constant(int tensor) const;
  // "tensor 7 \"name\" [1,8,8,4]", for messages.
  std::string tensor_label(int tensor) const;

  // Checks input/output counts; records a failure when they differ.
  bool expect_counts(int min_inputs, int max_inputs, int outputs);
  // A float32 tensor with a known shape, as input i; records a failure otherwise.
  bool float_input(int i);
  // A float32 output i (the compiler has checked it is not constant).
  bool float_output(int i);
  // Float contents of a constant input (float32, or float16 dequantized); null
  // with a failure recorded when the tensor is not a float constant.
  const float* constant_floats(int tensor);
  // Contents of a constant int32 input; false with a failure recorded otherwise.
  bool constant_ints(int tensor, std::vector<int32_t>& out);
  // Raw contents of a constant float16 input.
  bool constant_halves(int tensor, std::vector<uint16_t>& out);

  // The options table of the expected kind, or null when the operator has
  // none; records a failure (and returns null) when it has another kind.
  template <typename T>
  const T* options(fb::BuiltinOptions expected, bool& ok) {
    const fb::Operator& op = *desc().table;
    ok = op.builtin_options_type() == fb::BuiltinOptions_NONE || op.builtin_options_type() == expected;
    if (!ok) fail("unexpected options table");
    return ok ? static_cast<const T*>(op.builtin_options()) : nullptr;
  }

  void set_shape(int tensor, const Shape& shape);
  // Makes `tensor` a compile-time constant with these values.
  void set_constant(int tensor, std::vector<float> values);
  // Adds the step computing this operator; `reads` and `writes` are the
  // tensors the kernel touches at run, for lifetime planning.
  void add_step(std::unique_ptr<Kernel> kernel, std::vector<int> reads, std::vector<int> writes);

  // What the rewrite pass fused into this operator (a convolution).
  const ConvFusion& fusion() const;
  // Gives the outputs of the operators fused after this one `shape`, the
  // shape its kernel writes.
  void define_fused_outputs(const Shape& shape);
  // This PAD became a convolution's padding: it keeps its checks and its
  // output shape but adds no step.
  bool folded_away() const;

  bool fail(const std::string& message);

 private:
  CompileState& state_;
  int op_index_;
};

using PrepareFn = bool (*)(OpContext& ctx);

struct OperatorRow {
  fb::BuiltinOperator code;
  PrepareFn prepare;
};

// The operator table: one row per supported builtin operator. Null when the
// code is not supported.
const OperatorRow* find_operator(int32_t code);
const char* operator_name(int32_t code);

// Shared by operators with a fused activation: the clamp range, or false for
// an activation this runtime does not implement.
bool activation_range(fb::ActivationFunctionType act, float& lo, float& hi);

}  // namespace runtime
