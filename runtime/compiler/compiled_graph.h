#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/model.h"
#include "runtime/ops/op.h"

namespace runtime {

struct Step {
  std::unique_ptr<Kernel> kernel;
  int32_t code = 0;
  int op = -1;  // the operator whose prepare function added the step
  std::vector<int> reads, writes;
};

// What compiling a model's main subgraph for given input shapes produces:
// the kernels in execution order, the arena and the constants they read,
// and where every tensor's floats are. A Graph runs it.
struct CompiledGraph {
  std::vector<Shape> shapes;
  // Per tensor: into arena or constants (owned here), or into the caller's
  // buffers of the latest run (not owned; only dereferenced during a run).
  std::vector<float*> data;
  std::vector<Step> steps;
  std::vector<int> inputs, outputs;
  // Per output slot: bound to the caller's buffer, or copied from the tensor
  // after the steps (constants, pass-through inputs, repeated outputs).
  std::vector<bool> output_bound;
  // The activations: floats of arena memory a run needs, and where in it
  // each tensor with a slot lies (tensor, float offset). The memory itself
  // is the caller's, handed to every run (Graph::run).
  size_t arena_floats = 0;
  std::vector<std::pair<int, size_t>> arena_offsets;
  std::vector<AlignedFloats> constants;
  // With guard zones: per tensor, whether it has an arena slot between two.
  std::vector<bool> arena_slot;
};

// Runs the compiler's passes (passes.h) in order. False with `error` set
// when an operator, option, type or shape is not supported.
bool compile_graph(const Model& model, const std::vector<Shape>& input_shapes,
                   CompiledGraph& graph, std::string& error);

}  // namespace runtime
