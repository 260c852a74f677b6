// Writes the generated seeds of the model loader fuzz target into the folder
// given as the only argument: two small models that together use every
// operator the runtime implements, the fusions included. Each is checked to
// compile before it is written, so the fuzzer starts from valid files.
#include <cstdio>
#include <string>

#include "tests/runtime/model_builder.h"

namespace {

using namespace testing_models;

// Convolutions and their fusions, pooling, reduction, fully connected.
std::vector<uint8_t> vision_model() {
  ModelBuilder m;
  const int in = m.tensor({1, 6, 6, 3});
  const int padded = m.tensor({1, 8, 8, 3});
  m.op(kPad, {in, m.constant_ints({4, 2}, {0, 0, 1, 1, 1, 1, 0, 0})}, {padded});
  const int w_half = m.constant_half({4, 3, 3, 3}, std::vector<uint16_t>(108, 0x2e66));
  const int w = m.tensor({4, 3, 3, 3});
  m.op(kDequantize, {w_half}, {w});
  const int c1 = m.tensor({1, 6, 6, 4});
  m.op(kConv2D, {padded, w, m.constant({4}, {0.1f, 0.2f, 0.3f, 0.4f})}, {c1}, conv_options(fb::Padding_VALID, 1, 1));
  const int d1 = m.tensor({1, 6, 6, 4});
  m.op(kDepthwiseConv2D, {c1, m.constant({1, 3, 3, 4}, std::vector<float>(36, 0.1f)), -1}, {d1},
       depthwise_options(fb::Padding_SAME, 1, 1));
  const int sum = m.tensor({1, 6, 6, 4}), act = m.tensor({1, 6, 6, 4});
  m.op(kAdd, {d1, c1}, {sum});
  m.op(kPrelu, {sum, m.constant({1, 1, 4}, {0.1f, 0.2f, 0.3f, 0.4f})}, {act});
  const int pooled = m.tensor({1, 3, 3, 4});
  m.op(kMaxPool2D, {act}, {pooled}, pool_options(fb::Padding_SAME, 2, 2, 2, 2));
  const int s2 = m.tensor({1, 2, 2, 4});
  m.op(kConv2D, {pooled, m.constant({4, 1, 1, 4}, std::vector<float>(16, 0.25f)), -1}, {s2},
       conv_options(fb::Padding_SAME, 2, 2, fb::ActivationFunctionType_RELU6));
  const int mean = m.tensor({1, 4});
  m.op(kMean, {s2, m.constant_ints({2}, {1, 2})}, {mean}, reducer_options(false));
  const int fc = m.tensor({1, 2}), prob = m.tensor({1, 2});
  m.op(kFullyConnected, {mean, m.constant({2, 4}, {1, 2, 3, 4, 5, 6, 7, 8}), m.constant({2}, {0, 1})}, {fc},
       fully_connected_options(false));
  m.op(kLogistic, {fc}, {prob});
  const int up = m.tensor({1, 6, 6, 4});
  m.op(kResizeBilinear, {pooled, m.constant_ints({2}, {6, 6})}, {up}, resize_options(false, true));
  m.inputs({in});
  m.outputs({prob, up});
  return m.finish();
}

// The token-mixing shapes of the blendshape model: reshapes, slices,
// transposes, layer-norm arithmetic, with a signature.
std::vector<uint8_t> mixer_model() {
  ModelBuilder m;
  const int in = m.tensor({1, 5, 2});
  const int mean = m.tensor({1, 1, 2}), centred = m.tensor({1, 5, 2}), sq = m.tensor({1, 5, 2});
  m.op(kMean, {in, m.constant_ints({}, {-2})}, {mean}, reducer_options(true));
  m.op(kSub, {in, mean}, {centred});
  m.op(kMul, {centred, centred}, {sq});
  const int norm = m.tensor({1, 5, 1}), root = m.tensor({1, 5, 1}), scaled = m.tensor({1, 5, 2});
  m.op(kSum, {sq, m.constant_ints({1}, {-1})}, {norm}, reducer_options(true));
  m.op(kSqrt, {norm}, {root});
  m.op(kDiv, {centred, root}, {scaled});
  const int r4 = m.tensor({1, 1, 5, 2}), t = m.tensor({1, 1, 2, 5});
  m.op(kReshape, {scaled, m.constant_ints({4}, {1, 1, 5, 2})}, {r4});
  m.op(kTranspose, {r4, m.constant_ints({4}, {0, 1, 3, 2})}, {t});
  const int cat = m.tensor({1, 1, 3, 5});
  m.op(kConcatenation, {m.constant({1, 1, 1, 5}, {1, 2, 3, 4, 5}), t}, {cat}, concat_options(-2));
  const int var = m.tensor({1, 1, 3, 5}), rs = m.tensor({1, 1, 3, 5}), neg = m.tensor({1, 1, 3, 5});
  const int cmean = m.tensor({1, 1, 3, 1});
  m.op(kMean, {cat, m.constant_ints({1}, {3})}, {cmean}, reducer_options(true));
  m.op(kSquaredDifference, {cat, cmean}, {var});
  m.op(kRsqrt, {var}, {rs});
  m.op(kNeg, {rs}, {neg});
  const int relu = m.tensor({1, 1, 3, 5}), slice = m.tensor({1, 1, 1, 5}), flat = m.tensor({1, 5}),
            out = m.tensor({5});
  m.op(kRelu, {neg}, {relu});
  m.op(kStridedSlice, {relu, m.constant_ints({4}, {0, 0, 0, 0}), m.constant_ints({4}, {0, 0, 1, 0}),
                       m.constant_ints({4}, {1, 1, 1, 1})},
       {slice}, strided_slice_options(11, 11, 0));
  m.op(kReshape, {slice, m.constant_ints({2}, {1, 5})}, {flat});
  m.op(kStridedSlice, {flat, m.constant_ints({2}, {0, 0}), m.constant_ints({2}, {1, 5}), m.constant_ints({2}, {1, 1})},
       {out}, strided_slice_options(2, 2, 1));
  m.inputs({in});
  m.outputs({out});
  m.signature({in}, {out});
  return m.finish();
}

bool write(const std::string& path, const std::vector<uint8_t>& bytes) {
  Runner check(bytes);
  if (!check.compiled() || !check.run_current()) {
    std::fprintf(stderr, "seed %s does not compile: %s\n", path.c_str(), check.error().c_str());
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: model_loader_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  return write(dir + "/vision.tflite", vision_model()) && write(dir + "/mixer.tflite", mixer_model()) ? 0 : 1;
}
