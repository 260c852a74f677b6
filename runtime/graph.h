#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/compiler/compiled_graph.h"
#include "runtime/model.h"

namespace runtime {

// One compilation of a model's main subgraph for given input shapes, ready
// to run: the kernels in execution order, the arena and the constants they
// read, and the profile of its runs.
class Graph {
 public:
  explicit Graph(CompiledGraph compiled) : g_(std::move(compiled)) {}

  // `input_shapes` gives the shape of each signature input. Null with `error`
  // set when an operator, option, type or shape is not supported.
  static std::unique_ptr<Graph> compile(const Model& model, const std::vector<Shape>& input_shapes,
                                        std::string& error);

  const Shape& input_shape(size_t k) const { return g_.shapes[g_.inputs[k]]; }
  const Shape& output_shape(size_t k) const { return g_.shapes[g_.outputs[k]]; }
  size_t num_inputs() const { return g_.inputs.size(); }
  size_t num_outputs() const { return g_.outputs.size(); }
  // The activation memory a run needs (see run).
  size_t arena_bytes() const { return g_.arena_floats * sizeof(float); }
  size_t num_steps() const { return g_.steps.size(); }

  // Runs every step. inputs[k] and outputs[k] hold exactly as many floats as
  // the matching signature tensor (checked by the caller). `arena` holds
  // arena_bytes(), 64-byte aligned, for the activations: nothing in it is
  // kept from one run to the next, so graphs that never run at the same
  // time may share one. No allocation.
  void run(float* const* inputs, float* const* outputs, float* arena);

  struct ProfileEntry {
    int32_t code = 0;
    uint64_t nanoseconds = 0;
    uint64_t steps = 0;
  };
  // 0 off, 1 one entry per operator type, 2 one entry per step.
  void set_profiling(int mode);
  const std::vector<ProfileEntry>& profile() const { return profile_; }
  const char* profile_name(size_t entry) const { return profile_names_[entry].c_str(); }

 private:
  CompiledGraph g_;
  bool profiling_ = false;
  std::vector<ProfileEntry> profile_;
  std::vector<std::string> profile_names_;
  std::vector<int> profile_slot_;  // per step, its entry in profile_
  void run_step_checked(size_t step);
};

}  // namespace runtime
