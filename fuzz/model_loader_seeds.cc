// Writes the model loader fuzz seeds into the folder given: two small models
// that together use every operator and fusion, and a graph recipe for the
// structured mode, each checked to compile and run.
#include <cstdio>
#include <string>

#include "fuzz/model_loader_graph.h"
#include "tests/runtime/model_builder.h"

namespace {

using namespace testing_models;

std::vector<uint8_t> vision_model() {
  ModelBuilder m;
  const Dims s = {1, 6, 6, 4};
  const int in = m.tensor({1, 6, 6, 3});
  const int padded = m.op(kPad, {in, m.ints({4, 2}, {0, 0, 1, 1, 1, 1, 0, 0})}, {1, 8, 8, 3});
  const int w = m.op(kDequantize, {m.half({4, 3, 3, 3}, std::vector<uint16_t>(108, 0x2e66))}, {4, 3, 3, 3});
  const int c1 =
      m.op(kConv2D, {padded, w, m.constant({4}, {0.1f, 0.2f, 0.3f, 0.4f})}, s, conv_options(fb::Padding_VALID, 1));
  const int d1 = m.op(kDepthwiseConv2D, {c1, m.constant({1, 3, 3, 4}, Floats(36, 0.1f)), -1}, s,
                      depthwise_options(fb::Padding_SAME, 1));
  const int act = m.op(kPrelu, {m.op(kAdd, {d1, c1}, s), m.constant({1, 1, 4}, {0.1f, 0.2f, 0.3f, 0.4f})}, s);
  const int pooled = m.op(kMaxPool2D, {act}, {1, 3, 3, 4}, OPTIONS(Pool2DOptions, fb::Padding_SAME, 2, 2, 2, 2));
  const int s2 = m.op(kConv2D, {pooled, m.constant({4, 1, 1, 4}, Floats(16, 0.25f)), -1}, {1, 2, 2, 4},
                      conv_options(fb::Padding_SAME, 2, kRelu6Act));
  const int mean = m.op(kMean, {s2, m.ints({2}, {1, 2})}, {1, 4}, OPTIONS(ReducerOptions, false));
  const int fc = m.op(kFullyConnected, {mean, m.constant({2, 4}, {1, 2, 3, 4, 5, 6, 7, 8}), m.constant({2}, {0, 1})},
                      {1, 2}, OPTIONS(FullyConnectedOptions, kNone, 0, false));
  m.io({in}, {m.op(kLogistic, {fc}, {1, 2}),
              m.op(kResizeBilinear, {pooled, m.ints({2}, {6, 6})}, s, OPTIONS(ResizeBilinearOptions, false, true))});
  return m.finish();
}

// The token-mixing shapes of the blendshape model, with a signature.
std::vector<uint8_t> mixer_model() {
  ModelBuilder m;
  const Dims s = {1, 5, 2}, r = {1, 5, 1}, t = {1, 1, 3, 5};
  const int in = m.tensor(s);
  const int centred =
      m.op(kSub, {in, m.op(kMean, {in, m.ints({}, {-2})}, {1, 1, 2}, OPTIONS(ReducerOptions, true))}, s);
  const int norm = m.op(kSum, {m.op(kMul, {centred, centred}, s), m.ints({1}, {-1})}, r, OPTIONS(ReducerOptions, true));
  const int scaled = m.op(kDiv, {centred, m.op(kSqrt, {norm}, r)}, s);
  const int r4 = m.op(kReshape, {scaled, m.ints({4}, {1, 1, 5, 2})}, {1, 1, 5, 2});
  const int tr = m.op(kTranspose, {r4, m.ints({4}, {0, 1, 3, 2})}, {1, 1, 2, 5});
  const int cat =
      m.op(kConcatenation, {m.constant({1, 1, 1, 5}, {1, 2, 3, 4, 5}), tr}, t, OPTIONS(ConcatenationOptions, -2));
  const int cmean = m.op(kMean, {cat, m.ints({1}, {3})}, {1, 1, 3, 1}, OPTIONS(ReducerOptions, true));
  const int relu = m.op(kRelu, {m.op(kNeg, {m.op(kRsqrt, {m.op(kSquaredDifference, {cat, cmean}, t)}, t)}, t)}, t);
  const int slice =
      m.op(kStridedSlice, {relu, m.ints({4}, {0, 0, 0, 0}), m.ints({4}, {0, 0, 1, 0}), m.ints({4}, {1, 1, 1, 1})},
           {1, 1, 1, 5}, OPTIONS(StridedSliceOptions, 11, 11, 0, 0, 0));
  const int flat = m.op(kReshape, {slice, m.ints({2}, {1, 5})}, {1, 5});
  const int out = m.op(kStridedSlice, {flat, m.ints({2}, {0, 0}), m.ints({2}, {1, 5}), m.ints({2}, {1, 1})}, {5},
                       OPTIONS(StridedSliceOptions, 2, 2, 0, 0, 1));
  m.io({in}, {out});
  m.signature({in}, {out});
  return m.finish();
}

// Recipes for the structured mode: a convolution and the residual ADD and
// RELU that fuse into it; a convolution and ADD whose result a NEG reads.
std::vector<uint8_t> fused_chain_recipe() {
  return {model_loader_fuzz::kRecipe, 2, 0, 0, 1, 0, 2, 0, 2, 2, 0, 2, 0, 3, 3, 2, 0, 4};
}
std::vector<uint8_t> fused_then_read_recipe() {
  return {model_loader_fuzz::kRecipe, 2, 0, 0, 1, 0, 2, 0, 2, 2, 0, 2, 0, 6, 3, 2, 0, 0};
}

// A model read from a file with a hole of zeros after it (see model_loader_fuzz.cc).
std::vector<uint8_t> file_with_hole() {
  std::vector<uint8_t> bytes = {'F', 0x10};  // a 64 KiB hole
  const std::vector<uint8_t> model = mixer_model();
  bytes.insert(bytes.end(), model.begin(), model.end());
  return bytes;
}

bool write(const std::string& path, const std::vector<uint8_t>& bytes) {
  const bool file = bytes[0] == 'F', recipe = bytes[0] == model_loader_fuzz::kRecipe;
  const Result check = run(file     ? std::vector<uint8_t>(bytes.begin() + 2, bytes.end())
                           : recipe ? model_loader_fuzz::graph_from_recipe(bytes.data() + 1, bytes.size() - 1)
                                    : bytes);
  if (check.stage != kRan) return std::fprintf(stderr, "seed %s: %s\n", path.c_str(), check.error.c_str()), false;
  FILE* f = std::fopen(path.c_str(), "wb");
  const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return f && std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: model_loader_seeds DIR\n"), 2;
  const std::string dir = argv[1];
  return write(dir + "/vision.tflite", vision_model()) && write(dir + "/mixer.tflite", mixer_model()) &&
                 write(dir + "/fused_chain.recipe", fused_chain_recipe()) &&
                 write(dir + "/fused_then_read.recipe", fused_then_read_recipe()) &&
                 write(dir + "/file_with_hole.recipe", file_with_hole())
             ? 0
             : 1;
}
