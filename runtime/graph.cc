#include "runtime/graph.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/kernels/guard_zones.h"
#include "runtime/passes/passes.h"

namespace runtime {

std::unique_ptr<Graph> Graph::compile(const Model& model, const std::vector<Shape>& input_shapes,
                                      std::string& error) {
  auto graph = std::unique_ptr<Graph>(new Graph);
  Graph& g = *graph;
  CompileState s{model, g, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};

  if (!read_and_verify(s, input_shapes) || !load_constants(s)) return nullptr;
  schedule(s);
  if (!fold_dequantized_constants(s)) return nullptr;
  rewrite(s);
  if (!prepare_operators(s)) return nullptr;
  // After the last rewrite: nothing may change a shape or a step from here.
  if (!check_writes(s) || !plan_memory(s)) return nullptr;
  drop_unused_constants(s);
  return graph;
}

void Graph::run(float* const* inputs, float* const* outputs) {
  for (size_t k = 0; k < inputs_.size(); ++k) data_[inputs_[k]] = inputs[k];
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (output_bound_[k]) data_[outputs_[k]] = outputs[k];
  if (!profiling_ && kGuardFloats == 0) {
    for (Step& step : steps_) step.kernel->run(data_.data());
  } else {
    for (size_t i = 0; i < steps_.size(); ++i) run_step_checked(i);
  }
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (!output_bound_[k])
      std::memmove(outputs[k], data_[outputs_[k]],
                   static_cast<size_t>(shapes_[outputs_[k]].elements()) * sizeof(float));
}

// One step timed for the profile, and with guard zones, checked: slots are
// reused by later tensors, so a slot's zones are poisoned just before the
// step that writes it and checked just after.
void Graph::run_step_checked(size_t i) {
  Step& step = steps_[i];
  if constexpr (kGuardFloats > 0)
    for (int t : step.writes)
      if (arena_slot_[t]) poison_guards(data_[t], static_cast<size_t>(shapes_[t].elements()));
  const auto start = std::chrono::steady_clock::now();
  step.kernel->run(data_.data());
  if (profiling_) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    ProfileEntry& e = profile_[profile_slot_[i]];
    e.nanoseconds += static_cast<uint64_t>(ns.count());
    ++e.steps;
  }
  if constexpr (kGuardFloats > 0)
    for (int t : step.writes)
      if (arena_slot_[t] && !guards_intact(data_[t], static_cast<size_t>(shapes_[t].elements()))) {
        const std::string what = "step " + std::to_string(i) + " (" + operator_name(step.code) +
                                 ") wrote outside its output, tensor " + std::to_string(t) + " " + shapes_[t].str();
        guard_damaged(what.c_str());
      }
}

void Graph::set_profiling(int mode) {
  profiling_ = mode != 0;
  profile_.clear();
  profile_names_.clear();
  profile_slot_.clear();
  if (!profiling_) return;
  for (const Step& step : steps_) {
    if (mode == 2) {
      std::string name = operator_name(step.code);
      for (int t : step.writes) name.append(" ").append(shapes_[t].str());
      name.append(" <-");
      for (int t : step.reads) name.append(" ").append(shapes_[t].str());
      profile_slot_.push_back(static_cast<int>(profile_.size()));
      profile_.push_back({step.code, 0, 0});
      profile_names_.push_back(std::move(name));
      continue;
    }
    auto it = std::find_if(profile_.begin(), profile_.end(), [&](const ProfileEntry& e) { return e.code == step.code; });
    if (it == profile_.end()) {
      profile_.push_back({step.code, 0, 0});
      profile_names_.emplace_back(operator_name(step.code));
      it = profile_.end() - 1;
    }
    profile_slot_.push_back(static_cast<int>(it - profile_.begin()));
  }
}

}  // namespace runtime
