// Per-frame geometry costs: the head pose solver on a real landmark set, and
// palm detector decoding with weighted suppression on its 2016 anchors.
// Each benchmark repeats and reports the median.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "detection/anchors.h"
#include "detection/weighted_nms.h"
#include "face/face_geometry.h"

namespace {

const std::string kShared = BRIDGE_SHARED_DIR;

// The face landmark model's output for a real photograph: 478 points of x, y,
// z in the pixels of its 256 x 256 input.
bool read_landmarks(std::vector<Point>& landmarks) {
  std::ifstream in(kShared + "/reference/face/face_landmarks_detector/c_astronaut/out0.f32",
                   std::ios::binary);
  std::vector<float> values(478 * 3);
  if (!in.read(reinterpret_cast<char*>(values.data()),
               static_cast<std::streamsize>(values.size() * sizeof(float)))) {
    return false;
  }
  landmarks.clear();
  for (std::size_t i = 0; i < values.size(); i += 3) {
    landmarks.push_back(Point{values[i], values[i + 1], values[i + 2]});
  }
  return true;
}

void BM_SolveHeadPose(benchmark::State& state) {
  FaceGeometry geometry;
  std::string error;
  std::vector<Point> landmarks;
  if (!geometry.load(kShared + "/models/face/geometry_pipeline_metadata_landmarks.binarypb",
                     error) ||
      !read_landmarks(landmarks)) {
    state.SkipWithError("needs the shared models and reference folders");
    return;
  }
  HeadPose pose;
  if (!geometry.solve(landmarks, 256, 256, 60.0f, pose)) {
    state.SkipWithError("no pose for the reference landmarks");
    return;
  }
  for (auto _ : state) {
    bool solved = geometry.solve(landmarks, 256, 256, 60.0f, pose);
    benchmark::DoNotOptimize(solved);
    benchmark::DoNotOptimize(pose);
  }
}
BENCHMARK(BM_SolveHeadPose)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

// Palm detector outputs with two hands in view: the anchors near each hand
// pass the threshold with boxes scattered a few pixels around it, as a real
// run gives; all other anchors score far below.
struct PalmOutputs {
  static constexpr int kInput = 192;
  static constexpr int kKeypoints = 7;
  std::vector<Anchor> anchors = ssd_anchors(kInput, {8, 16, 16, 16});
  std::vector<float> boxes;
  std::vector<float> scores;
  int passing = 0;

  PalmOutputs() {
    const std::size_t record = (kKeypoints + 2) * 2;
    boxes.assign(anchors.size() * record, 0.0f);
    scores.assign(anchors.size(), -9.0f);
    std::mt19937 rng(11);
    std::normal_distribution<float> jitter(0.0f, 1.5f);
    std::uniform_real_distribution<float> logit(0.2f, 3.0f);
    const float hands[2][3] = {{60.0f, 90.0f, 36.0f}, {140.0f, 70.0f, 48.0f}};  // x, y, size
    for (std::size_t i = 0; i < anchors.size(); ++i) {
      const float ax = anchors[i].x * kInput;
      const float ay = anchors[i].y * kInput;
      for (const auto& hand : hands) {
        if (std::hypot(ax - hand[0], ay - hand[1]) > hand[2] * 0.25f) continue;
        scores[i] = logit(rng);
        ++passing;
        float* r = boxes.data() + i * record;
        r[0] = hand[0] - ax + jitter(rng);
        r[1] = hand[1] - ay + jitter(rng);
        r[2] = hand[2] + jitter(rng);
        r[3] = hand[2] + jitter(rng);
        for (int k = 0; k < kKeypoints; ++k) {
          r[4 + 2 * k] = hand[0] - ax + 0.1f * hand[2] * static_cast<float>(k - 3) + jitter(rng);
          r[5 + 2 * k] = hand[1] - ay - 0.05f * hand[2] * static_cast<float>(k) + jitter(rng);
        }
      }
    }
  }
};

void BM_DecodeAndSuppressPalms(benchmark::State& state) {
  const PalmOutputs outputs;
  const RotatedRect roi{320.0f, 240.0f, 640.0f, 640.0f, 0.0f};
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<Detection> candidates =
        decode_detections(outputs.boxes, outputs.scores, outputs.anchors, PalmOutputs::kInput,
                          PalmOutputs::kKeypoints, 0.5f, roi);
    std::vector<Detection> hands = weighted_nms(std::move(candidates), 0.3f, 2);
    found = hands.size();
    benchmark::DoNotOptimize(hands.data());
  }
  state.counters["anchors"] = static_cast<double>(outputs.anchors.size());
  state.counters["candidates"] = outputs.passing;
  state.counters["detections"] = static_cast<double>(found);
}
BENCHMARK(BM_DecodeAndSuppressPalms)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
