// frame-bench [--models DIR] [--shared DIR] [--passes N] [--only NAME]
//
// What a user pays per frame: the real trackers over real frames, in the
// order the bridge runs them (decode, face, hands), with per-step medians and
// 90th percentiles. Every figure is also given as a share of this core's FMA
// peak, measured in the same run with the kernel family the models use, so
// runs on different processors and clock speeds can be compared.
//
// Scenarios:
//   face            face tracking over ../shared/frames (one face, followed)
//   face+hand       face and full hand models over ../shared/frames (one hand)
//   face+2hands     face and full hand models over a photograph with a face
//                   and two hands, decoded anew as each of 150 frames
//   face+2hands-lite  the same with the lite hand models
//   searching       face and full hands over a photograph with neither: both
//                   detectors on every frame
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/frame/fma_peak.h"
#include "bench/processor_context.h"
#include "bench/frame/model_flops.h"
#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "image/decode_jpeg.h"
#include "runtime/kernels/kernel_family.h"

namespace {

using Clock = std::chrono::steady_clock;

// The vertical field of view of a 60-degree camera at 4:3, as the bridge
// passes it by default.
constexpr float kVerticalFov = 46.83f;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double resident_mib() {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
  }
  return -1.0;
}

// Floating-point work of one run of each model, in GFLOP.
struct ModelWork {
  double face_detector = 0, face_landmarks = 0, blendshapes = 0;
  double palm_detector = 0, hand_landmarks = 0;
};

// One named column of per-frame figures: milliseconds, and the work done in
// them when that is known.
struct Series {
  const char* name;
  std::vector<double> ms;
  std::vector<double> gflop;  // empty when the step does no model work
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

using Jpeg = std::vector<uint8_t>;

struct Scenario {
  std::string name;
  std::vector<const Jpeg*> frames;  // played in order
  bool hands = false;
  bool lite = false;
};

// The models share one environment, as in the bridge.
struct Trackers {
  ModelEnvironment models;
  FaceTracker face;
  std::unique_ptr<HandTracker> hands, hands_lite;
};

void print_series(const Series& s, double peak, std::size_t total_frames) {
  if (s.ms.empty()) {
    std::printf("  %-16s %8s\n", s.name, "-");
    return;
  }
  const double median = percentile(s.ms, 0.5), p90 = percentile(s.ms, 0.9);
  std::printf("  %-16s %8.3f %8.3f %6zu/%-4zu", s.name, median, p90, s.ms.size(), total_frames);
  if (!s.gflop.empty()) {
    const double work = percentile(s.gflop, 0.5);
    // The share of the peak at the median time for the median work.
    std::printf(" %8.4f %6.1f%%", work, median > 0 ? 100.0 * work / (median / 1e3) / peak : 0.0);
  }
  std::printf("\n");
}

void run_scenario(const Scenario& sc, Trackers& t, const ModelWork& work, double peak, int passes) {
  HandTracker* hands = sc.hands ? (sc.lite ? t.hands_lite.get() : t.hands.get()) : nullptr;
  Series decode{"decode", {}, {}}, face_det{"face detector", {}, {}}, face_lm{"face landmarks", {}, {}},
      blend{"blendshapes", {}, {}}, pose{"pose", {}, {}}, palm{"palm detector", {}, {}},
      hand1{"hand 1", {}, {}}, hand2{"hand 2", {}, {}}, tracking{"tracking", {}, {}};
  std::size_t frames = 0, found_faces = 0, found_hands = 0;
  Image image;
  for (int pass = 0; pass < passes + 1; ++pass) {
    // Each pass starts afresh, as a new run of the bridge would; the first
    // one only warms caches and page tables and is not counted.
    t.face.tracking = false;
    if (hands) {
      hands->regions.clear();
      hands->frames_since_detection = 0;
    }
    const bool counted = pass > 0;
    for (const Jpeg* jpeg : sc.frames) {
      auto start = Clock::now();
      if (!decode_jpeg(jpeg->data(), jpeg->size(), image)) continue;
      const double decode_ms = ms_since(start);

      start = Clock::now();
      const FaceResult face = t.face.process(image, kVerticalFov);
      std::vector<HandResult> found;
      if (hands) found = hands->process(image);
      const double tracking_ms = ms_since(start);
      if (!counted) continue;

      ++frames;
      found_faces += face.found ? 1 : 0;
      found_hands += found.size();
      const FaceSteps& fs = t.face.steps;
      double frame_work = 0.0;
      decode.ms.push_back(decode_ms);
      if (fs.ran_detector) {
        face_det.ms.push_back(fs.detector_ms);
        face_det.gflop.push_back(work.face_detector);
        frame_work += work.face_detector;
      }
      if (fs.ran_landmarks) {
        face_lm.ms.push_back(fs.landmarks_ms);
        face_lm.gflop.push_back(work.face_landmarks);
        frame_work += work.face_landmarks;
      }
      if (t.face.tracking) {
        blend.ms.push_back(fs.blendshapes_ms);
        blend.gflop.push_back(work.blendshapes);
        frame_work += work.blendshapes;
        pose.ms.push_back(fs.pose_ms);
      }
      if (hands) {
        const HandSteps& hs = hands->steps;
        if (hs.ran_detector) {
          palm.ms.push_back(hs.detector_ms);
          palm.gflop.push_back(work.palm_detector);
          frame_work += work.palm_detector;
        }
        Series* per_hand[] = {&hand1, &hand2};
        for (std::size_t i = 0; i < hs.landmark_steps; ++i) {
          per_hand[i]->ms.push_back(hs.landmark_step_ms[i]);
          per_hand[i]->gflop.push_back(work.hand_landmarks);
          frame_work += work.hand_landmarks;
        }
      }
      tracking.ms.push_back(tracking_ms);
      tracking.gflop.push_back(frame_work);
    }
  }
  std::printf("\n%s: %zu frames, face found in %zu, %.2f hands per frame; FMA peak %.1f GFLOP/s\n",
              sc.name.c_str(), frames, found_faces,
              frames ? static_cast<double>(found_hands) / static_cast<double>(frames) : 0.0, peak);
  std::printf("  %-16s %8s %8s %11s %8s %7s\n", "step", "median", "p90", "frames", "GFLOP", "peak");
  for (const Series* s : {&decode, &face_det, &face_lm, &blend, &pose, &palm, &hand1, &hand2, &tracking})
    if (hands || (s != &palm && s != &hand1 && s != &hand2)) print_series(*s, peak, frames);
}

int usage() {
  std::fprintf(stderr, "usage: frame-bench [--models DIR] [--shared DIR] [--passes N] [--only NAME]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string shared = BRIDGE_SHARED_DIR, models, only;
  int passes = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    if (arg == "--models") models = argv[++i];
    else if (arg == "--shared") shared = argv[++i];
    else if (arg == "--passes") passes = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--only") only = argv[++i];
    else return usage();
  }
  if (models.empty()) models = shared + "/models";

  const auto family = runtime::kernels::chosen_kernel_family();
  const double rss_before = resident_mib();
  Trackers t;
  std::string error;
  t.hands = std::make_unique<HandTracker>();
  t.hands_lite = std::make_unique<HandTracker>();
  if (!t.face.load(models + "/face", error, t.models.handle()) ||
      !t.hands->load(models + "/hand", error, t.models.handle()) ||
      !t.hands_lite->load(models + "/hand-lite", error, t.models.handle())) {
    std::fprintf(stderr, "frame-bench: %s\n", error.c_str());
    return 1;
  }
  const double rss_loaded = resident_mib();

  ModelWork work;
  work.face_detector = model_flops(models + "/face/face_detector.tflite") / 1e9;
  work.face_landmarks = model_flops(models + "/face/face_landmarks_detector.tflite") / 1e9;
  work.blendshapes = model_flops(models + "/face/face_blendshapes.tflite") / 1e9;
  ModelWork lite = work;
  work.palm_detector = model_flops(models + "/hand/hand_detector.tflite") / 1e9;
  work.hand_landmarks = model_flops(models + "/hand/hand_landmarks_detector.tflite") / 1e9;
  lite.palm_detector = model_flops(models + "/hand-lite/hand_detector.tflite") / 1e9;
  lite.hand_landmarks = model_flops(models + "/hand-lite/hand_landmarks_detector.tflite") / 1e9;

  std::vector<Jpeg> sample;
  for (int i = 1;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frames/%06d.jpg", i);
    Jpeg bytes = read_bytes(shared + name);
    if (bytes.empty()) break;
    sample.push_back(std::move(bytes));
  }
  // A photograph played as 150 frames: no sample sequence has two hands in
  // every frame, and a still shows the tracker's cost without its misses.
  const Jpeg two_hands = read_bytes(shared + "/testdata/stills/face_hands_11.jpg");
  const Jpeg neither = read_bytes(shared + "/testdata/stills/noface_03.jpg");
  if (sample.empty() || two_hands.empty() || neither.empty()) {
    std::fprintf(stderr, "frame-bench: needs %s/frames and %s/testdata\n", shared.c_str(), shared.c_str());
    return 1;
  }
  std::vector<const Jpeg*> sequence;
  for (const Jpeg& frame : sample) sequence.push_back(&frame);
  const std::vector<Scenario> scenarios = {
      {"face", sequence, false, false},
      {"face+hand", sequence, true, false},
      {"face+2hands", std::vector<const Jpeg*>(150, &two_hands), true, false},
      {"face+2hands-lite", std::vector<const Jpeg*>(150, &two_hands), true, true},
      {"searching", std::vector<const Jpeg*>(150, &neither), true, false},
  };

  const double peak = fma_peak_gflops(family);
  describe_processor();
  std::printf("kernels %s, FMA peak %.1f GFLOP/s (one core)\n", runtime::kernels::kernel_family_name(family),
              peak);
  std::printf("resident: %.1f MiB before loading, %.1f MiB with all five models loaded\n", rss_before,
              rss_loaded);
  std::printf("GFLOP per run: face detector %.4f, face landmarks %.4f, blendshapes %.4f, palm %.4f / %.4f, "
              "hand landmarks %.4f / %.4f (full / lite)\n",
              work.face_detector, work.face_landmarks, work.blendshapes, work.palm_detector,
              lite.palm_detector, work.hand_landmarks, lite.hand_landmarks);
  std::printf("ms per frame; 'frames' counts the frames a step ran in; 'peak' is the share of the FMA peak\n"
              "measured right before the scenario\n");
  for (const Scenario& sc : scenarios) {
    if (!only.empty() && sc.name != only) continue;
    // Shares against the peak measured right before the scenario: on a
    // shared machine the peak moves from minute to minute, and a share
    // against one taken at the start mixes two moments.
    run_scenario(sc, t, sc.lite ? lite : work, fma_peak_gflops(family), passes);
  }
  // The peak again: a machine whose speed changed during the run shows here.
  std::printf("\nFMA peak after the run: %.1f GFLOP/s; resident %.1f MiB (every model has run)\n",
              fma_peak_gflops(family), resident_mib());
  return 0;
}
