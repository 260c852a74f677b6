// Per-frame image costs: decoding camera-like JPEGs (against libjpeg-turbo's
// own tjbench on the same file), YUYV conversion, rotated crops into tensors
// and luma. Prints median times of 5 repetitions.
//
//   image_bench [benchmark flags]
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/crop.h"
#include "image/decode_jpeg.h"
#include "image/load_image.h"
#include "image/luma.h"
#include "image/yuyv_to_rgb.h"

namespace {

// A photograph from the shared stills scaled to width x height, or a
// synthetic texture where those are absent, plus mild sensor noise.
Image camera_like_frame(int width, int height) {
  Image still;
  const std::string photo = std::string(BRIDGE_SHARED_DIR) + "/testdata/stills/face_frontal_01.jpg";
  Image frame{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  std::vector<float> scaled(frame.pixels.size());
  if (load_image(photo, still)) {
    const float w = static_cast<float>(still.width);
    const RotatedRect fill{w * 0.5f, still.height * 0.5f, w, w * height / width, 0.0f};
    crop_to_tensor(still, fill, width, height, 0.0f, 255.0f, scaled.data());
  } else {
    for (size_t i = 0; i < scaled.size(); ++i) {
      const size_t x = i / 3 % width, y = i / 3 / width;
      scaled[i] = 128.0f + 60.0f * std::sin(x * 0.05f + i % 3) * std::cos(y * 0.07f);
    }
  }
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0.0f, 3.0f);
  for (size_t i = 0; i < scaled.size(); ++i) {
    const float v = std::round(scaled[i] + noise(rng));
    frame.pixels[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  return frame;
}

// Quality 85, 4:2:2 as webcams send MJPEG.
std::vector<uint8_t> compress(const Image& image) {
  tjhandle handle = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  tjCompress2(handle, image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &buffer, &size,
              TJSAMP_422, 85, 0);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  tjFree(buffer);
  tjDestroy(handle);
  return jpeg;
}

// Seconds per decode that tjbench measures for `path` (RGB, fast DCT), or 0
// when tjbench is not available.
double tjbench_seconds(const std::string& path) {
  const std::string command =
      "tjbench '" + path + "' -rgb -fastdct -benchtime 2 -warmup 0.5 -nowrite 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0.0;
  char line[512];
  double fps = 0.0;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text = line;
    const size_t at = text.find("Frame rate:");
    if (at != std::string::npos) fps = std::atof(text.c_str() + at + 11);
  }
  pclose(pipe);
  return fps > 0.0 ? 1.0 / fps : 0.0;
}

void register_decode(int width, int height) {
  const std::vector<uint8_t> jpeg = compress(camera_like_frame(width, height));
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("image_bench_" + std::to_string(width) + ".jpg");
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
  }
  const double reference = tjbench_seconds(file.string());
  std::filesystem::remove(file);
  const std::string name = "decode_jpeg/" + std::to_string(width) + "x" + std::to_string(height);
  benchmark::RegisterBenchmark(
      name.c_str(),
      [jpeg, reference](benchmark::State& state) {
        Image out;
        for (auto _ : state) benchmark::DoNotOptimize(decode_jpeg(jpeg.data(), jpeg.size(), out));
        state.counters["jpeg_kB"] = jpeg.size() / 1000.0;
        if (reference > 0.0) {
          state.counters["tjbench_ms"] = reference * 1e3;
          // Our time per decode divided by tjbench's.
          state.counters["ratio_to_tjbench"] =
              benchmark::Counter(reference, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
        }
      })
      ->UseRealTime()
      ->Repetitions(5)
      ->ReportAggregatesOnly(true);
  // The library's own decode with one long-lived handle, as tjbench runs it,
  // measured in this process: the comparison that machine load disturbs least.
  benchmark::RegisterBenchmark(
      ("tjDecompress2_one_handle/" + std::to_string(width) + "x" + std::to_string(height)).c_str(),
      [jpeg, width, height](benchmark::State& state) {
        tjhandle handle = tjInitDecompress();
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
        for (auto _ : state) {
          benchmark::DoNotOptimize(tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(),
                                                 width, 0, height, TJPF_RGB, TJFLAG_FASTDCT));
        }
        tjDestroy(handle);
      })
      ->UseRealTime()
      ->Repetitions(5)
      ->ReportAggregatesOnly(true);
}

void BM_yuyv_to_rgb(benchmark::State& state) {
  std::vector<uint8_t> yuyv(640 * 480 * 2);
  std::mt19937 rng(3);
  for (uint8_t& b : yuyv) b = static_cast<uint8_t>(rng());
  Image out;
  for (auto _ : state) {
    yuyv_to_rgb(yuyv.data(), 640, 480, out);
    benchmark::DoNotOptimize(out.pixels.data());
  }
}
BENCHMARK(BM_yuyv_to_rgb)->Name("yuyv_to_rgb/640x480")->Repetitions(5)->ReportAggregatesOnly(true);

// A rotated face-sized region of a 640 x 480 frame, partly at the border.
void BM_crop_to_tensor(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const Image frame = camera_like_frame(640, 480);
  const RotatedRect region{380.0f, 260.0f, 300.0f, 300.0f, 0.35f};
  std::vector<float> tensor(static_cast<size_t>(size) * size * 3);
  for (auto _ : state) {
    crop_to_tensor(frame, region, size, size, -1.0f, 1.0f, tensor.data());
    benchmark::DoNotOptimize(tensor.data());
  }
}
BENCHMARK(BM_crop_to_tensor)
    ->Name("crop_to_tensor")
    ->Arg(256)
    ->Arg(224)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_mean_luma(benchmark::State& state) {
  const Image frame = camera_like_frame(640, 480);
  for (auto _ : state) benchmark::DoNotOptimize(mean_luma(frame, {}, 16));
}
BENCHMARK(BM_mean_luma)
    ->Name("mean_luma/640x480_step16")
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  register_decode(640, 480);
  register_decode(1280, 720);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
