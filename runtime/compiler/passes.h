#pragma once

// The compilation of a model's main subgraph as passes, run in this order by
// compile_graph (compile.cc). Each returns false with state.error set when the model is
// refused. Every check that keeps the kernels inside their buffers runs in
// check_writes, on the graph as the rewrites left it.
#include <vector>

#include "runtime/compiler/compile_state.h"

namespace runtime {

// read_and_verify.cc: storage forms, input shapes and the tensor roles.
bool read_and_verify(CompileState& state, const std::vector<Shape>& input_shapes);
// constants.cc: float32 constants of the file, and constant DEQUANTIZEs.
bool load_constants(CompileState& state);
bool fold_dequantized_constants(CompileState& state);
// schedule.cc: execution order, convolutions moved next to their residual ADD.
void schedule(CompileState& state);
// rewrite.cc: PADs folded into convolutions, operators fused after them.
void rewrite(CompileState& state);
// prepare.cc: shape inference and kernels, operator by operator.
bool prepare_operators(CompileState& state);
// check_writes.cc: the write and shape rules on the rewritten graph.
bool check_writes(CompileState& state);
// The shape rules alone for `shape`, given to output `tensor` of operator
// `origin` by operator `op`: at most kMaxElements, and the declared shape.
bool check_output_shape(CompileState& state, int op, int origin, int tensor, const Shape& shape);
// plan_memory.cc: the arena, bound outputs and the constants kept.
bool plan_memory(CompileState& state);
void drop_unused_constants(CompileState& state);

}  // namespace runtime
