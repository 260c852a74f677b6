#include "runtime/compiler/compiled_graph.h"
#include "runtime/compiler/passes.h"

namespace runtime {

bool compile_graph(const Model& model, const std::vector<Shape>& input_shapes,
                   CompiledGraph& graph, std::string& error) {
  CompileState s{model, graph, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
  if (!read_and_verify(s, input_shapes) || !load_constants(s)) return false;
  schedule(s);
  if (!fold_dequantized_constants(s)) return false;
  rewrite(s);
  if (!prepare_operators(s)) return false;
  // After the last rewrite: nothing may change a shape or a step from here.
  if (!check_writes(s) || !plan_memory(s)) return false;
  drop_unused_constants(s);
  return true;
}

}  // namespace runtime
