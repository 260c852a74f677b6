#pragma once

#include <string>
#include <vector>

#include "runtime/compiler/compiled_graph.h"

namespace runtime {

// Everything the compilation passes and the operators' prepare functions
// read and change while one graph compiles.
struct CompileState {
  const Model& model;
  CompiledGraph& graph;
  std::string& error;
  std::vector<bool> known;     // shape known: input, constant or written
  std::vector<int> constant;   // index into graph.constants, or -1
  std::vector<int> producer;   // operator writing the tensor, or -1
  std::vector<int> consumers;  // number of operators reading the tensor
  std::vector<bool> graph_output;
  std::vector<bool> graph_input;             // signature or subgraph input
  std::vector<bool> absorbed;     // operator with no step of its own (fused, or a folded constant)
  std::vector<ConvFusion> fusion;  // per convolution, what its kernel computes besides
  std::vector<int> folded_into;    // per PAD, the convolution it became the padding of, or -1
  std::vector<int> order;     // operators in execution order
  std::vector<int> position;  // per operator, its place in `order`

  // Every shape or value given to a tensor by an operator, in the order the
  // passes gave them, rewrites included: `op` is the operator whose step
  // computes the tensor, `origin` the operator of the file that declares it
  // as an output (an absorbed one when a rewrite fused it into `op`).
  struct Definition {
    int tensor, op, origin;
    Shape shape;
  };
  std::vector<Definition> definitions;

  std::vector<Shape>& shapes() { return graph.shapes; }
  std::vector<AlignedFloats>& constants() { return graph.constants; }
  std::vector<Step>& steps() { return graph.steps; }
  std::vector<int>& graph_inputs() { return graph.inputs; }
  std::vector<int>& graph_outputs() { return graph.outputs; }
  std::vector<bool>& output_bound() { return graph.output_bound; }
  std::vector<float*>& data() { return graph.data; }
  std::vector<bool>& arena_slot() { return graph.arena_slot; }

  bool fail(const std::string& message) {
    error = message;
    return false;
  }
  // "operator 3 (CONV_2D)".
  std::string op_label(int op) const;
  // "operator 5 (RELU) fused into operator 3 (CONV_2D)" when they differ.
  std::string op_label(int op, int origin) const;
  // "tensor 7 \"name\" [1,8,8,4]" (the shape when it is known).
  std::string tensor_label(int t) const;
};

}  // namespace runtime
