// The runtime's loader, compiler and executor on hostile model files: load;
// when that works, compile; when that works and the graph is small, run once
// on zeros. Nothing may crash, hang or touch memory outside what it owns.
#include "tests/runtime/model_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  testing_models::run(std::vector<uint8_t>(data, data + size));
  return 0;
}
