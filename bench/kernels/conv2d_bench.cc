// Speed of the convolution kernels on the shapes of our face and hand models,
// one thread, in time and GFLOP/s (shown as GFLOP=N/s; a multiply-add counts
// as two), for each vector kernel family the processor runs (the name's
// first part), so that AVX2 and AVX-512 can be compared on one machine.
//   kernels_bench --benchmark_min_time=0.2
//   kernels_bench --benchmark_filter='^avx512/'

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/kernels/aligned_floats.h"
#include "runtime/kernels/conv2d.h"
#include "runtime/kernels/kernel_family.h"
#include "runtime/kernels/shape_check.h"

namespace {

using runtime::Activation;
using runtime::Conv2DShape;
using runtime::kernels::KernelFamily;

struct ConvCase {
  const char* model;  // where the shape comes from
  int size, in_channels, out_channels, kernel, stride;
  bool depthwise = false;
  bool residual_prelu = false;  // the fused residual + PReLU block of the detectors
  Activation activation = Activation::kNone;
  bool valid = false;  // VALID padding instead of SAME
};

// Square inputs, as in the models.
Conv2DShape shape_of(const ConvCase& c) {
  Conv2DShape s;
  s.in_height = s.in_width = c.size;
  s.in_channels = c.in_channels;
  s.out_channels = c.out_channels;
  s.kernel_height = s.kernel_width = c.kernel;
  s.stride_height = s.stride_width = c.stride;
  s.out_height = s.out_width =
      c.valid ? (c.size - c.kernel) / c.stride + 1 : (c.size + c.stride - 1) / c.stride;
  const int total =
      c.valid ? 0 : std::max((s.out_height - 1) * c.stride + c.kernel - c.size, 0);
  s.pad_top = s.pad_left = total / 2;
  s.pad_bottom = s.pad_right = total - total / 2;
  s.groups = c.depthwise ? c.in_channels : 1;
  return s;
}

std::vector<float> random_floats(size_t n, std::mt19937& rng) {
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

runtime::AlignedFloats aligned(const std::vector<float>& values) {
  runtime::AlignedFloats copy(values.size());
  std::copy(values.begin(), values.end(), copy.data());
  return copy;
}

void run_conv(benchmark::State& state, KernelFamily family, const ConvCase& c) {
  const Conv2DShape s = shape_of(c);
  std::mt19937 rng(1);
  const size_t in_per_group = s.in_channels / s.groups;
  const auto weights = random_floats(
      size_t(s.out_channels) * s.kernel_height * s.kernel_width * in_per_group, rng);
  const auto bias = random_floats(s.out_channels, rng);
  const auto alpha = random_floats(s.out_channels, rng);
  // On cache lines, as the runtime's tensors are.
  const auto input = aligned(random_floats(size_t(s.in_height) * s.in_width * s.in_channels, rng));
  const size_t out_count = size_t(s.out_height) * s.out_width * s.out_channels;
  const auto residual = aligned(random_floats(out_count, rng));
  runtime::AlignedFloats output(out_count);

  runtime::Conv2DPostOps post;
  post.activation = c.activation;
  post.add_residual = c.residual_prelu;
  post.prelu_alpha = c.residual_prelu ? alpha.data() : nullptr;
  std::string error;
  if (!runtime::kernels::check_conv2d(s, weights.data(), post, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto kernel = runtime::kernels::make_conv2d(family, s, weights.data(), bias.data(), post);
  for (auto _ : state) {
    kernel->run(input.data(), output.data(), residual.data());
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  const double flops = 2.0 * out_count * s.kernel_height * s.kernel_width * in_per_group;
  state.counters["GFLOP"] =
      benchmark::Counter(flops / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

void run_fully_connected(benchmark::State& state, int in, int out) {
  std::mt19937 rng(1);
  const auto weights = random_floats(size_t(in) * out, rng);
  const auto bias = random_floats(out, rng);
  const auto input = random_floats(in, rng);
  std::vector<float> output(out);
  std::string error;
  auto kernel = runtime::FullyConnectedKernel::create({1, in, out}, weights.data(), bias.data(),
                                                      Activation::kNone, error);
  if (!kernel) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (auto _ : state) {
    kernel->run(input.data(), output.data());
    benchmark::DoNotOptimize(output.data());
  }
  state.counters["GFLOP"] =
      benchmark::Counter(2.0 * in * out / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

std::string name_of(const ConvCase& c) {
  std::string name = std::string(c.depthwise ? "dw" : "conv") + std::to_string(c.kernel) + "x" +
                     std::to_string(c.kernel) + "/" + c.model + "/" + std::to_string(c.size) +
                     "x" + std::to_string(c.size) + "x" + std::to_string(c.in_channels);
  if (!c.depthwise) name += "->" + std::to_string(c.out_channels);
  if (c.stride != 1) name += "/s" + std::to_string(c.stride);
  if (c.residual_prelu) name += "/residual+prelu";
  if (c.activation == Activation::kRelu6) name += "/relu6";
  if (c.valid) name += "/valid";
  return name;
}

ConvCase dw(const char* model, int size, int channels, int kernel, int stride,
            Activation activation = Activation::kNone) {
  return {model, size, channels, channels, kernel, stride, true, false, activation};
}

const std::vector<ConvCase>& cases() {
  static const std::vector<ConvCase> all = {
      // 1x1 convolutions.
      {"hand_det", 96, 32, 32, 1, 1},
      {"hand_det", 96, 32, 32, 1, 1, false, true},
      {"hand_det", 48, 64, 64, 1, 1},
      {"hand_det", 24, 128, 128, 1, 1},
      {"hand_det", 12, 256, 256, 1, 1},
      {"face_det", 64, 24, 24, 1, 1},
      {"face_det", 16, 88, 96, 1, 1},
      {"face_lmk", 128, 16, 8, 1, 1},
      {"face_lmk", 128, 8, 16, 1, 1},
      {"face_lmk", 32, 32, 64, 1, 1},
      {"hand_lmk", 112, 16, 64, 1, 1, false, false, Activation::kRelu6},
      {"hand_lmk", 56, 24, 144, 1, 1, false, false, Activation::kRelu6},
      {"hand_lmk", 56, 144, 24, 1, 1},
      {"hand_lmk", 14, 112, 672, 1, 1, false, false, Activation::kRelu6},
      {"hand_lmk", 7, 1152, 192, 1, 1},
      {"hand_lmk", 7, 192, 1152, 1, 1, false, false, Activation::kRelu6},
      // The small end of the face landmarks, where the cost of a call shows.
      {"face_lmk", 4, 64, 128, 1, 1},
      {"face_lmk", 2, 128, 64, 1, 1},
      // Full spatial convolutions: the first layer of each model, and the 2x2
      // stride-2 downsampling of the face landmarks.
      {"hand_det", 192, 3, 32, 5, 2},
      {"face_det", 128, 3, 24, 5, 2},
      {"hand_lmk", 224, 3, 24, 3, 2, false, false, Activation::kRelu6},
      {"face_lmk", 256, 3, 16, 3, 2},
      {"face_lmk", 128, 16, 16, 2, 2},
      {"face_lmk", 32, 64, 64, 2, 2},
      {"face_lmk", 2, 128, 1434, 2, 1, false, false, Activation::kNone, true},
      // Depthwise.
      dw("hand_det", 96, 32, 5, 1),
      dw("hand_det", 96, 32, 5, 2),
      dw("hand_det", 48, 64, 5, 1),
      dw("hand_det", 24, 128, 5, 1),
      dw("hand_det", 12, 256, 5, 1),
      dw("face_det", 64, 24, 3, 1),
      dw("face_det", 32, 32, 3, 1),
      dw("face_det", 16, 64, 3, 1),
      dw("face_lmk", 128, 8, 3, 1),
      dw("face_lmk", 64, 16, 3, 1),
      dw("face_lmk", 4, 64, 3, 1),
      dw("face_lmk", 2, 64, 3, 1),
      dw("hand_lmk", 112, 24, 3, 1, Activation::kRelu6),
      dw("hand_lmk", 112, 64, 3, 2, Activation::kRelu6),
      dw("hand_lmk", 56, 144, 3, 1, Activation::kRelu6),
      dw("hand_lmk", 28, 240, 5, 1, Activation::kRelu6),
      dw("hand_lmk", 14, 672, 5, 1, Activation::kRelu6),
      dw("hand_lmk", 7, 1152, 5, 1, Activation::kRelu6),
  };
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  for (KernelFamily f : {KernelFamily::kAvx2, KernelFamily::kAvx512}) {
    if (f > runtime::kernels::processor_kernel_family()) continue;
    const std::string family = runtime::kernels::kernel_family_name(f);
    for (const ConvCase& c : cases())
      benchmark::RegisterBenchmark((family + "/" + name_of(c)).c_str(), run_conv, f, c)
          ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("fc/hand_lmk/1152->63", run_fully_connected, 1152, 63)
      ->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
