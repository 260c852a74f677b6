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

  // Fusion support: the one operator reading `tensor`, or -1 when there are
  // none, several, or the tensor is a graph output.
  int sole_consumer(int tensor) const;
  bool produced_before(int tensor, int op_index) const;
  // Marks a later operator as computed by this one; its outputs get `shape`.
  void absorb(int op_index, const Shape& shape);
  // A PAD folded into the convolution at `conv_op`: the convolution reads
  // `source` padded by these rows and columns instead of the PAD's output.
  struct FoldedPad {
    int source = -1;
    int top = 0, bottom = 0, left = 0, right = 0;
  };
  void fold_pad_into(int conv_op, const FoldedPad& pad);
  const FoldedPad* folded_pad() const;

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
