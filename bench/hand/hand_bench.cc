// What hands cost a frame, with the full and the lite model set: one
// followed hand (its crop and landmark model), one palm detector pass
// (letterbox crop, detector, decoding, suppression) and the landmark model
// alone; and, with the full set, a whole frame with a followed face and two
// followed hands. Each benchmark repeats and reports the median.
//
// The palm detector pass is timed by the tracker itself: `process` runs on a
// frame with a hand and with no hand followed, so the detector sees a real
// palm and decodes and merges real candidates, and the benchmark reports the
// tracker's own `steps.detector_ms`, which covers exactly that phase and not
// the landmark step that follows it. The same call on a frame without hands
// (nothing for the landmark step to do) is timed whole as a cross-check.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench/processor_context.h"
#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "image/load_image.h"

namespace {

constexpr float kVerticalFov = 46.8f;  // 60 degrees across a 4:3 frame

struct Pictures {
  Image hand;        // one hand in view
  Image no_hand;     // the same scene before the hand comes in
  Image face_hands;  // a face and two hands
};

// The per-hand, per-detection and model-only benchmarks of one model set.
// The tracker lives as long as the benchmarks that use it.
bool register_set(const std::string& set, const std::string& models, const Pictures& p,
                  HandTracker& tracker) {
  std::string error;
  if (!tracker.load(models, error)) {
    std::printf("skipped %s: %s\n", set.c_str(), error.c_str());
    return false;
  }
  if (tracker.process(p.hand).size() != 1) {
    std::printf("skipped %s: the hand frame does not give one hand\n", set.c_str());
    return false;
  }
  const RotatedRect region = tracker.regions[0];

  // A followed hand: the crop into the model input, the landmark model and
  // the reading of its outputs, always on the same region.
  repeat(benchmark::RegisterBenchmark(
      ("hand/" + set + "/per_followed_hand").c_str(),
      [&tracker, &p, region](benchmark::State& state) {
        HandResult result;
        RotatedRect next;
        bool found = true;
        for (auto _ : state) found = tracker.landmarks(p.hand, region, result, next) && found;
        if (!found) state.SkipWithError("the hand was not found in its region");
      }));

  repeat(benchmark::RegisterBenchmark(
             ("hand/" + set + "/per_palm_detection").c_str(),
             [&tracker, &p](benchmark::State& state) {
               std::size_t palms = 0;
               for (auto _ : state) {
                 tracker.regions.clear();
                 tracker.frames_since_detection = 0;
                 benchmark::DoNotOptimize(tracker.process(p.hand));
                 state.SetIterationTime(tracker.steps.detector_ms / 1000.0);
                 palms = tracker.steps.palms.size();
               }
               if (palms != 1) state.SkipWithError("the detector did not find the one palm");
             })
             ->UseManualTime());

  repeat(benchmark::RegisterBenchmark(("hand/" + set + "/search_frame_without_hands").c_str(),
                                      [&tracker, &p](benchmark::State& state) {
                                        for (auto _ : state) {
                                          tracker.regions.clear();
                                          benchmark::DoNotOptimize(tracker.process(p.no_hand));
                                        }
                                        if (!tracker.steps.ran_detector ||
                                            !tracker.steps.palms.empty()) {
                                          state.SkipWithError("a palm where there is none");
                                        }
                                      }));

  // The models alone, on the inputs of the benchmarks above.
  repeat(benchmark::RegisterBenchmark(("hand/" + set + "/landmark_model_only").c_str(),
                                      [&tracker, &p, region](benchmark::State& state) {
                                        HandResult result;
                                        RotatedRect next;
                                        bool ran = tracker.landmarks(p.hand, region, result, next);
                                        for (auto _ : state)
                                          ran = tracker.landmark_model.run() && ran;
                                        if (!ran)
                                          state.SkipWithError("the model or its input failed");
                                      }));

  repeat(benchmark::RegisterBenchmark(("hand/" + set + "/detector_model_only").c_str(),
                                      [&tracker, &p](benchmark::State& state) {
                                        tracker.regions.clear();
                                        tracker.process(p.hand);
                                        bool ran = tracker.steps.ran_detector;
                                        for (auto _ : state) ran = tracker.detector.run() && ran;
                                        if (!ran)
                                          state.SkipWithError("the model or its input failed");
                                      }));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  describe_processor();
  const std::string shared = BRIDGE_SHARED_DIR;
  Pictures p;
  // The hand is in view of the sample frames from 000023.jpg on.
  const std::string face_hands = shared + "/testdata/stills/hands_two_03.jpg";
  if (!load_image(shared + "/frames/000030.jpg", p.hand) ||
      !load_image(shared + "/frames/000001.jpg", p.no_hand) ||
      !load_image(face_hands, p.face_hands)) {
    std::printf("skipped: needs the sample frames and %s\n", face_hands.c_str());
    return 0;
  }
  HandTracker full, lite;
  register_set("full", shared + "/models/hand", p, full);
  register_set("lite", shared + "/models/hand-lite", p, lite);

  // A whole frame of a followed face and two followed hands, full set: what
  // the two trackers take from the frame source's picture to their results.
  FaceTracker face;
  HandTracker hands;
  std::string error;
  if (!face.load(shared + "/models/face", error) || !hands.load(shared + "/models/hand", error)) {
    std::printf("skipped the whole frame: %s\n", error.c_str());
  } else {
    repeat(
        benchmark::RegisterBenchmark("frame/face_and_two_hands_full", [&](benchmark::State& state) {
          bool all = true;
          for (auto _ : state) {
            const bool found = face.process(p.face_hands, kVerticalFov).found;
            all = hands.process(p.face_hands).size() == 2 && found && !face.steps.ran_detector &&
                  !hands.steps.ran_detector && all;
          }
          if (!all) state.SkipWithError("the face or a hand was lost, or a detector ran");
        }));
    // Into the followed state before the timed calls.
    face.process(p.face_hands, kVerticalFov);
    hands.process(p.face_hands);
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
