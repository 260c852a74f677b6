// Pass: memory planning.
// Assumes: check_writes has passed, so every tensor a step touches has its
// final shape and exactly one writing step.
// Guarantees: every tensor the steps write has memory of its shape's size:
// the caller's buffer for a signature output written by a step (bound at
// each run), else an arena slot no other tensor alive at the same time
// shares (with guard zones, one on each side of the slot); the arena stays
// within kMaxArenaBytes. Slots are offsets, as the arena is the caller's,
// bound at each run. Constants that no step or output reads any more are
// freed (kernels keep packed copies of weights).
#include <algorithm>

#include "runtime/kernels/guard_zones.h"
#include "runtime/compiler/passes.h"
#include "runtime/compiler/planner.h"

namespace runtime {

bool plan_memory(CompileState& s) {
  const size_t n = s.model.tensors().size();
  const std::vector<int>& outputs = s.graph_outputs();
  std::vector<bool> bound(n, false);
  s.output_bound().assign(outputs.size(), false);
  for (size_t k = 0; k < outputs.size(); ++k) {
    const int t = outputs[k];
    if (s.producer[t] >= 0 && s.constant[t] < 0 && !bound[t]) {
      bound[t] = true;
      s.output_bound()[k] = true;
    }
  }
  const std::vector<Step>& steps = s.steps();
  std::vector<int> first(n, -1), last(n, -1);
  for (int step = 0; step < static_cast<int>(steps.size()); ++step) {
    for (int t : steps[step].writes)
      if (first[t] < 0) first[t] = last[t] = step;
    for (int t : steps[step].reads) last[t] = std::max(last[t], step);
  }
  std::vector<Lifetime> lifetimes;
  std::vector<int> arena_tensor;
  for (size_t t = 0; t < n; ++t) {
    if (first[t] < 0 || bound[t]) continue;
    const size_t bytes = (static_cast<size_t>(s.shapes()[t].elements()) + 2 * kGuardFloats) * sizeof(float);
    lifetimes.push_back({bytes, first[t], last[t]});
    arena_tensor.push_back(static_cast<int>(t));
  }
  const ArenaPlan plan = plan_arena(lifetimes);
  if (plan.bytes > kMaxArenaBytes)
    return s.fail("activations need " + std::to_string(plan.bytes) + " bytes, more than the " +
                  std::to_string(kMaxArenaBytes) + " allowed");
  s.graph.arena_floats = plan.bytes / sizeof(float);
  s.graph.arena_offsets.clear();
  if constexpr (kGuardFloats > 0) s.arena_slot().assign(n, false);
  for (size_t i = 0; i < arena_tensor.size(); ++i) {
    s.graph.arena_offsets.emplace_back(arena_tensor[i], plan.offsets[i] / sizeof(float) + kGuardFloats);
    if constexpr (kGuardFloats > 0) s.arena_slot()[arena_tensor[i]] = true;
  }
  return true;
}

void drop_unused_constants(CompileState& s) {
  const size_t n = s.model.tensors().size();
  std::vector<bool> needed(n, false);
  for (const Step& step : s.steps())
    for (int t : step.reads) needed[t] = true;
  for (int t : s.graph_outputs()) needed[t] = true;
  for (size_t t = 0; t < n; ++t) {
    if (s.constant[t] < 0) continue;
    AlignedFloats& store = s.constants()[s.constant[t]];
    if (needed[t])
      s.data()[t] = store.data();
    else
      store = AlignedFloats();
  }
}

}  // namespace runtime
