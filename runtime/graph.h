#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
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

// One compilation of a model's main subgraph for given input shapes: the
// kernels in execution order, the arena and the constants they read.
class Graph {
 public:
  // `input_shapes` gives the shape of each signature input. Null with `error`
  // set when an operator, option, type or shape is not supported.
  static std::unique_ptr<Graph> compile(const Model& model, const std::vector<Shape>& input_shapes,
                                        std::string& error);

  const Shape& input_shape(size_t k) const { return shapes_[inputs_[k]]; }
  const Shape& output_shape(size_t k) const { return shapes_[outputs_[k]]; }
  size_t num_inputs() const { return inputs_.size(); }
  size_t num_outputs() const { return outputs_.size(); }
  size_t arena_bytes() const { return arena_.size() * sizeof(float); }
  size_t num_steps() const { return steps_.size(); }

  // Runs every step. inputs[k] and outputs[k] hold exactly as many floats as
  // the matching signature tensor (checked by the caller). No allocation.
  void run(float* const* inputs, float* const* outputs);

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
  friend struct CompileState;
  std::vector<Shape> shapes_;
  // Per tensor: into arena_ or constants_ (owned here), or into the caller's
  // buffers of the latest run (not owned; only dereferenced during run()).
  std::vector<float*> data_;
  std::vector<Step> steps_;
  std::vector<int> inputs_, outputs_;
  // Per output slot: bound to the caller's buffer, or copied from the tensor
  // after the steps (constants, pass-through inputs, repeated outputs).
  std::vector<bool> output_bound_;
  AlignedFloats arena_;
  std::vector<AlignedFloats> constants_;
  bool profiling_ = false;
  std::vector<ProfileEntry> profile_;
  std::vector<std::string> profile_names_;
  std::vector<int> profile_slot_;  // per step, its entry in profile_
  // With guard zones: per tensor, whether it has an arena slot between two.
  std::vector<bool> arena_slot_;
  void run_step_checked(size_t step);
};

}  // namespace runtime
