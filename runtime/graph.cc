#include "runtime/graph.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/kernels/guard_zones.h"

namespace runtime {

std::unique_ptr<Graph> Graph::compile(const Model& model, const std::vector<Shape>& input_shapes,
                                      std::string& error) {
  CompiledGraph compiled;
  if (!compile_graph(model, input_shapes, compiled, error)) return nullptr;
  return std::make_unique<Graph>(std::move(compiled));
}

void Graph::run(float* const* inputs, float* const* outputs, float* arena) {
  for (const auto& [t, offset] : g_.arena_offsets) g_.data[t] = arena + offset;
  for (size_t k = 0; k < g_.inputs.size(); ++k) g_.data[g_.inputs[k]] = inputs[k];
  for (size_t k = 0; k < g_.outputs.size(); ++k)
    if (g_.output_bound[k]) g_.data[g_.outputs[k]] = outputs[k];
  if (!profiling_ && kGuardFloats == 0) {
    for (Step& step : g_.steps) step.kernel->run(g_.data.data());
  } else {
    for (size_t i = 0; i < g_.steps.size(); ++i) run_step_checked(i);
  }
  for (size_t k = 0; k < g_.outputs.size(); ++k)
    if (!g_.output_bound[k])
      std::memmove(outputs[k], g_.data[g_.outputs[k]],
                   static_cast<size_t>(g_.shapes[g_.outputs[k]].elements()) * sizeof(float));
}

// One step timed for the profile, and with guard zones, checked: slots are
// reused by later tensors, so a slot's zones are poisoned just before the
// step that writes it and checked just after.
void Graph::run_step_checked(size_t i) {
  Step& step = g_.steps[i];
  if constexpr (kGuardFloats > 0)
    for (int t : step.writes)
      if (g_.arena_slot[t]) poison_guards(g_.data[t], static_cast<size_t>(g_.shapes[t].elements()));
  const auto start = std::chrono::steady_clock::now();
  step.kernel->run(g_.data.data());
  if (profiling_) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    ProfileEntry& e = profile_[profile_slot_[i]];
    e.nanoseconds += static_cast<uint64_t>(ns.count());
    ++e.steps;
  }
  if constexpr (kGuardFloats > 0)
    for (int t : step.writes)
      if (g_.arena_slot[t] && !guards_intact(g_.data[t], static_cast<size_t>(g_.shapes[t].elements()))) {
        const std::string what = "step " + std::to_string(i) + " (" + operator_name(step.code) +
                                 ") wrote outside its output, tensor " + std::to_string(t) + " " + g_.shapes[t].str();
        guard_damaged(what.c_str());
      }
}

void Graph::set_profiling(int mode) {
  profiling_ = mode != 0;
  profile_.clear();
  profile_names_.clear();
  profile_slot_.clear();
  if (!profiling_) return;
  for (const Step& step : g_.steps) {
    if (mode == 2) {
      std::string name = operator_name(step.code);
      for (int t : step.writes) name.append(" ").append(g_.shapes[t].str());
      name.append(" <-");
      for (int t : step.reads) name.append(" ").append(g_.shapes[t].str());
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
