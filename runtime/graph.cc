#include "runtime/graph.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/passes/passes.h"

namespace runtime {

std::unique_ptr<Graph> Graph::compile(const Model& model, const std::vector<Shape>& input_shapes,
                                      std::string& error) {
  auto graph = std::unique_ptr<Graph>(new Graph);
  Graph& g = *graph;
  const size_t n = model.tensors().size();
  const size_t ops = model.operators().size();
  CompileState s{model, g, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
  s.known.assign(n, false);
  s.constant.assign(n, -1);
  s.producer.assign(n, -1);
  s.consumers.assign(n, 0);
  s.graph_output.assign(n, false);
  s.graph_input.assign(n, false);
  s.absorbed.assign(ops, false);
  s.folded.assign(ops, {});
  s.has_fold.assign(ops, false);
  g.shapes_.assign(n, Shape{});
  g.data_.assign(n, nullptr);
  g.inputs_ = model.signature().inputs;
  g.outputs_ = model.signature().outputs;

  if (!read_and_verify(s, input_shapes) || !load_constants(s)) return nullptr;
  schedule(s);
  if (!fold_dequantized_constants(s) || !prepare_operators(s)) return nullptr;
  // After the last rewrite: nothing may change a shape or a step from here.
  if (!check_writes(s) || !plan_memory(s)) return nullptr;
  drop_unused_constants(s);
  return graph;
}

void Graph::run(float* const* inputs, float* const* outputs) {
  for (size_t k = 0; k < inputs_.size(); ++k) data_[inputs_[k]] = inputs[k];
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (output_bound_[k]) data_[outputs_[k]] = outputs[k];
  TensorData data = data_.data();
  if (!profiling_) {
    for (Step& step : steps_) step.kernel->run(data);
  } else {
    for (size_t i = 0; i < steps_.size(); ++i) {
      const auto start = std::chrono::steady_clock::now();
      steps_[i].kernel->run(data);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
      ProfileEntry& e = profile_[profile_slot_[i]];
      e.nanoseconds += static_cast<uint64_t>(ns.count());
      ++e.steps;
    }
  }
  for (size_t k = 0; k < outputs_.size(); ++k)
    if (!output_bound_[k])
      std::memmove(outputs[k], data_[outputs_[k]],
                   static_cast<size_t>(shapes_[outputs_[k]].elements()) * sizeof(float));
}

void Graph::set_profiling(bool enabled) {
  profiling_ = enabled;
  profile_.clear();
  profile_slot_.clear();
  if (!enabled) return;
  for (const Step& step : steps_) {
    auto it = std::find_if(profile_.begin(), profile_.end(), [&](const ProfileEntry& e) { return e.code == step.code; });
    if (it == profile_.end()) {
      profile_.push_back({step.code, 0, 0});
      it = profile_.end() - 1;
    }
    profile_slot_.push_back(static_cast<int>(it - profile_.begin()));
  }
}

}  // namespace runtime
