// The runtime's loader, compiler and executor on hostile model files: load;
// when that works, compile; when that works and the graph is small, run once
// on zeros. Nothing may crash, hang or touch memory outside what it owns
// (the caller's buffers sit between guard zones, checked after the run). An
// input starting with 'G' is a recipe for a small graph instead of a file.
#include <cstdio>
#include <cstdlib>

#include "fuzz/model_loader_graph.h"
#include "tests/runtime/model_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool recipe = size > 0 && data[0] == model_loader_fuzz::kRecipe;
  const auto r = testing_models::run(recipe ? model_loader_fuzz::graph_from_recipe(data + 1, size - 1)
                                            : std::vector<uint8_t>(data, data + size));
  if (!r.overrun.empty()) {
    std::fprintf(stderr, "write outside a buffer: %s\n", r.overrun.c_str());
    std::abort();
  }
  return 0;
}
