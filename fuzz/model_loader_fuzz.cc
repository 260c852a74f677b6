// The runtime's loader, compiler and executor on hostile model files: load;
// when that works, compile; when that works and the graph is small, run once
// on zeros. Nothing may crash, hang or touch memory outside what it owns
// (the caller's buffers sit between guard zones, checked after the run). An
// input starting with 'G' is a recipe for a small graph instead of a file.
//
// An input starting with 'F' goes through a real file instead, with a trick
// on its size (its second byte): a hole of zeros after the bytes, the file
// cut short, or a sparse file far past the largest model allowed. The
// reader must hand the parser exactly the file's bytes (the same verdict as
// loading them from memory) and refuse the oversized file unread.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/model_loader_graph.h"
#include "runtime/litert.h"
#include "tests/runtime/model_builder.h"

namespace {

constexpr uint8_t kFile = 'F';

void through_a_file(const uint8_t* data, size_t size) {
  if (size < 1) return;
  const uint8_t trick = data[0];
  const std::string path = "/tmp/model_loader_fuzz_" + std::to_string(getpid()) + ".tflite";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  if (write(fd, data + 1, size - 1) != ssize_t(size - 1)) std::abort();
  off_t length = off_t(size - 1);
  const bool oversized = trick == 0xFF;
  if (oversized) {
    length = (off_t{1} << 30) + 1;  // one byte past the largest model
  } else if (trick >= 0x80) {
    length = length * (trick - 0x80) / 0x7F;  // cut short
  } else {
    length += off_t{trick} * 4099;  // a hole of zeros
  }
  if (ftruncate(fd, length) != 0) std::abort();
  close(fd);
  std::vector<uint8_t> expected(size_t(oversized ? 0 : length), 0);
  std::copy(data + 1, data + 1 + std::min<size_t>(size - 1, expected.size()), expected.begin());

  LiteRtEnvironment env = nullptr;
  if (LiteRtCreateEnvironment(0, nullptr, &env) != kLiteRtStatusOk) std::abort();
  LiteRtModel from_file = nullptr, from_memory = nullptr;
  const LiteRtStatus file_status = LiteRtCreateModelFromFile(env, path.c_str(), &from_file);
  unlink(path.c_str());
  if (oversized) {
    if (file_status != kLiteRtStatusErrorFileIO) std::abort();
  } else {
    const LiteRtStatus memory_status =
        LiteRtCreateModelFromBuffer(env, expected.data(), expected.size(), &from_memory);
    if (file_status != memory_status) {
      std::fprintf(stderr, "file %d, memory %d\n", int(file_status), int(memory_status));
      std::abort();
    }
  }
  if (from_file) LiteRtDestroyModel(from_file);
  if (from_memory) LiteRtDestroyModel(from_memory);
  LiteRtDestroyEnvironment(env);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == kFile) {
    through_a_file(data + 1, size - 1);
    return 0;
  }
  const bool recipe = size > 0 && data[0] == model_loader_fuzz::kRecipe;
  const auto r = testing_models::run(recipe ? model_loader_fuzz::graph_from_recipe(data + 1, size - 1)
                                            : std::vector<uint8_t>(data, data + size));
  if (!r.overrun.empty()) {
    std::fprintf(stderr, "write outside a buffer: %s\n", r.overrun.c_str());
    std::abort();
  }
  return 0;
}
