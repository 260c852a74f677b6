// What one 640 x 480 frame costs the face stage: following a face (crop,
// landmark and blendshape models, head pose, the face datagram), searching
// for one (the detector first), and the two models alone, so that the
// stage's own share is the first minus the last. Each benchmark repeats and
// reports the median.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench/processor_context.h"
#include "face/face_tracker.h"
#include "image/load_image.h"
#include "wire/face.h"

namespace {

constexpr float kVerticalFov = 46.8f;  // 60 degrees across a 4:3 frame

// The face datagram of one frame, as the face stage builds it.
wire::Bytes datagram(const FaceResult& result, uint64_t sequence) {
  wire::Face face;
  face.found = result.found ? 1 : 0;
  face.translation = result.pose.translation;
  face.rotation = result.pose.rotation;
  face.blendshapes = result.blendshapes;
  return wire::face(wire::Token{}, sequence, sequence * 33333, face);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  describe_processor();
  const std::string shared = BRIDGE_SHARED_DIR;
  Image frame;
  FaceTracker tracker;
  std::string error;
  if (!load_image(shared + "/frames/000001.jpg", frame)) {
    std::printf("skipped: needs %s/frames/000001.jpg\n", shared.c_str());
    return 0;
  }
  if (!tracker.load(shared + "/models/face", error)) {
    std::printf("skipped: %s\n", error.c_str());
    return 0;
  }
  if (!tracker.process(frame, kVerticalFov).found) {
    std::printf("skipped: no face in the frame\n");
    return 0;
  }

  // One frame of the face stage: process() and the datagram it sends, with
  // the tracker's own step timings as counters (mean milliseconds a frame).
  const auto stage = [&](benchmark::State& state, bool searching) {
    uint64_t sequence = 0;
    double detector = 0, landmarks = 0, blendshapes = 0, pose = 0;
    for (auto _ : state) {
      if (searching) tracker.tracking = false;
      const wire::Bytes sent = datagram(tracker.process(frame, kVerticalFov), ++sequence);
      benchmark::DoNotOptimize(sent.data());
      detector += tracker.steps.detector_ms, landmarks += tracker.steps.landmarks_ms;
      blendshapes += tracker.steps.blendshapes_ms, pose += tracker.steps.pose_ms;
    }
    if (!tracker.tracking || tracker.steps.ran_detector != searching) {
      state.SkipWithError("the face was not followed as expected");
    }
    const auto mean = [&](double ms) {
      return benchmark::Counter(ms, benchmark::Counter::kAvgIterations);
    };
    if (searching) state.counters["detector_ms"] = mean(detector);
    state.counters["crop_landmarks_ms"] = mean(landmarks);
    state.counters["blendshapes_ms"] = mean(blendshapes);
    state.counters["pose_ms"] = mean(pose);
  };
  // A followed face: no detector.
  repeat(benchmark::RegisterBenchmark("face/tracking_frame", stage, false));
  // Searching: the detector on the letterboxed frame first.
  repeat(benchmark::RegisterBenchmark("face/searching_frame", stage, true));

  // The landmark and blendshape models on their current inputs, nothing else.
  repeat(benchmark::RegisterBenchmark("face/models_only", [&](benchmark::State& state) {
    for (auto _ : state) {
      const bool ran = tracker.landmark_model.run() && tracker.blendshape_model.run();
      benchmark::DoNotOptimize(ran);
    }
  }));

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
