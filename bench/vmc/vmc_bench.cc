// vmc-bench: the cost of one VMC frame (bridge-host's conversion of a face
// and two hands, and the bundle's serialising and sending to a loopback port
// where nothing listens), then, on real tracking, how much the smoothing
// calms a still photograph played as frames (jitter: the mean change from
// one frame to the next) and how far it trails a moving sequence (lag: the
// delay that best lines the smoothed pose up with the raw one).
//
//   vmc-bench [--frames N] [--rotation MIN_CUTOFF BETA] [--blendshapes MIN_CUTOFF BETA]
//
// The filter parameters default to bridge-host's own.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/face_stage.h"
#include "app/wire_records.h"
#include "image/load_image.h"
#include "tools/bridge-host/vmc_pose.h"
#include "tools/bridge-host/vmc_sender.h"

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;
constexpr double kFrameSeconds = 1.0 / 30;

// One frame of tracking as bridge-host receives it.
struct Tracked {
  wire::Face face;
  std::vector<wire::Hand> hands;
};

std::vector<fs::path> frame_files(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".jpg") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// The trackers over the frames, followed from one to the next as the bridge
// does.
std::vector<Tracked> track(const std::vector<fs::path>& frames) {
  FaceTracker face;
  HandTracker hands;
  std::string error;
  if (!face.load((kShared / "models/face").string(), error) ||
      !hands.load((kShared / "models/hand").string(), error)) {
    std::fprintf(stderr, "vmc-bench: %s\n", error.c_str());
    std::exit(1);
  }
  std::vector<Tracked> out;
  Image image;
  for (const fs::path& f : frames) {
    if (!load_image(f.string(), image)) continue;
    Tracked t;
    t.face = face_record(face.process(image, vertical_fov(60, image.width, image.height)));
    for (const HandResult& h : hands.process(image)) t.hands.push_back(hand_record(h));
    out.push_back(t);
  }
  return out;
}

std::vector<AvatarPose> poses(const std::vector<Tracked>& frames, VmcSettings settings,
                              bool smoothing) {
  settings.smoothing = smoothing;
  VmcState state = make_vmc_state(settings);
  std::vector<AvatarPose> out;
  for (size_t i = 0; i < frames.size(); ++i) {
    step_vmc(state, static_cast<double>(i) * kFrameSeconds, &frames[i].face, &frames[i].hands);
    out.push_back(state.pose);
  }
  return out;
}

float between(const Quat& a, const Quat& b) { return angle_degrees(conjugate(a) * b); }

// Differences of two poses: head (degrees), blendshapes (mean absolute
// change of the 51), finger bones (mean degrees over the 30).
struct Change {
  double head = 0, shapes = 0, fingers = 0;
};

Change difference(const AvatarPose& a, const AvatarPose& b) {
  Change c;
  c.head = between(a.head.neck * a.head.head, b.head.neck * b.head.head);
  for (size_t k = 0; k < a.blendshapes.size(); ++k)
    c.shapes += std::fabs(a.blendshapes[k] - b.blendshapes[k]) / static_cast<double>(a.blendshapes.size());
  for (size_t s = 0; s < 2; ++s)
    for (size_t k = 0; k < kFingerBoneCount; ++k)
      c.fingers += between(a.fingers[s][k], b.fingers[s][k]) / (2.0 * kFingerBoneCount);
  return c;
}

// Mean change from one frame to the next, after the first `skip` frames.
Change jitter(const std::vector<AvatarPose>& p, size_t skip) {
  Change sum;
  size_t n = 0;
  for (size_t i = std::max<size_t>(skip, 1); i < p.size(); ++i, ++n) {
    const Change c = difference(p[i - 1], p[i]);
    sum.head += c.head;
    sum.shapes += c.shapes;
    sum.fingers += c.fingers;
  }
  if (n) sum = {sum.head / static_cast<double>(n), sum.shapes / static_cast<double>(n), sum.fingers / static_cast<double>(n)};
  return sum;
}

// Per part, the delay (frames) that brings the smoothed poses closest to
// the raw ones.
struct Lag {
  int head = 0, shapes = 0, fingers = 0;
};

Lag lag(const std::vector<AvatarPose>& raw, const std::vector<AvatarPose>& smooth) {
  Lag best;
  Change least{1e30, 1e30, 1e30};
  for (int k = 0; k <= 15; ++k) {
    Change sum;
    for (size_t i = 16; i < raw.size(); ++i) {
      const Change c = difference(smooth[i], raw[i - static_cast<size_t>(k)]);
      sum.head += c.head;
      sum.shapes += c.shapes;
      sum.fingers += c.fingers;
    }
    if (sum.head < least.head) least.head = sum.head, best.head = k;
    if (sum.shapes < least.shapes) least.shapes = sum.shapes, best.shapes = k;
    if (sum.fingers < least.fingers) least.fingers = sum.fingers, best.fingers = k;
  }
  return best;
}

void cost(int frames, const std::vector<Tracked>& tracked) {
  // Inputs: real tracking when there is some, a still face and no hands
  // otherwise; two hands either way, so every bone is converted.
  std::vector<Tracked> inputs = tracked;
  if (inputs.empty()) inputs.push_back({});
  for (Tracked& t : inputs) {
    if (t.hands.empty()) t.hands.push_back(wire::Hand{});
    if (t.hands.size() == 1) t.hands.push_back(t.hands[0]), t.hands[1].handedness ^= 1;
  }
  VmcState state = make_vmc_state({});
  VmcSender sender;
  std::string error;
  if (!open_vmc(sender, VmcAddress{"127.0.0.1", 9}, error)) {
    std::fprintf(stderr, "vmc-bench: %s\n", error.c_str());
    std::exit(1);
  }
  std::vector<double> us;
  for (int i = 0; i < frames; ++i) {
    const Tracked& t = inputs[static_cast<size_t>(i) % inputs.size()];
    const auto begin = std::chrono::steady_clock::now();
    step_vmc(state, i * kFrameSeconds, &t.face, &t.hands);
    send_vmc(sender, state.pose, static_cast<float>(i * kFrameSeconds));
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("frame cost (%d frames, %zu-byte bundles, 2 hands): median %.1f us, 90th percentile %.1f us, "
              "99th %.1f us, most %.1f us\n",
              frames, sender.buffer.size(), us[us.size() / 2], us[us.size() * 9 / 10],
              us[us.size() * 99 / 100], us.back());
  close_vmc(sender);
}

void smoothing(const char* what, const std::vector<Tracked>& tracked, const VmcSettings& settings,
               bool moving) {
  const auto raw = poses(tracked, settings, false), smooth = poses(tracked, settings, true);
  const Change j_raw = jitter(raw, 10), j_smooth = jitter(smooth, 10);
  std::printf("%s (%zu frames)\n", what, tracked.size());
  std::printf("  jitter, raw:      head %.3f deg, blendshapes %.4f, fingers %.3f deg a frame\n", j_raw.head,
              j_raw.shapes, j_raw.fingers);
  std::printf("  jitter, smoothed: head %.3f deg, blendshapes %.4f, fingers %.3f deg a frame\n",
              j_smooth.head, j_smooth.shapes, j_smooth.fingers);
  if (!moving) return;
  const Lag l = lag(raw, smooth);
  std::printf("  lag of the smoothed pose: head %.0f ms, blendshapes %.0f ms, fingers %.0f ms\n",
              l.head * kFrameSeconds * 1e3, l.shapes * kFrameSeconds * 1e3, l.fingers * kFrameSeconds * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 20000;
  VmcSettings settings;
  for (int i = 1; i < argc; ++i) {
    const bool pair = i + 2 < argc;
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::max(100, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--rotation") == 0 && pair) {
      settings.rotation_filter.min_cutoff = std::strtof(argv[++i], nullptr);
      settings.rotation_filter.beta = std::strtof(argv[++i], nullptr);
    } else if (std::strcmp(argv[i], "--blendshapes") == 0 && pair) {
      settings.blendshape_filter.min_cutoff = std::strtof(argv[++i], nullptr);
      settings.blendshape_filter.beta = std::strtof(argv[++i], nullptr);
    } else {
      std::fprintf(stderr, "usage: vmc-bench [--frames N] [--rotation MIN_CUTOFF BETA] "
                           "[--blendshapes MIN_CUTOFF BETA]\n");
      return 2;
    }
  }
  std::printf("filters: rotations %.2f Hz + %.2f x speed, blendshapes %.2f Hz + %.2f x speed\n",
              settings.rotation_filter.min_cutoff, settings.rotation_filter.beta,
              settings.blendshape_filter.min_cutoff, settings.blendshape_filter.beta);
  const bool shared = fs::exists(kShared / "models/hand") && fs::exists(kShared / "frames");
  std::vector<Tracked> sequence;
  if (shared) sequence = track(frame_files(kShared / "frames"));
  cost(frames, sequence);
  if (!shared) {
    std::printf("(no ../shared: jitter and lag need its models and frames)\n");
    return 0;
  }
  const fs::path still = kShared / "testdata/stills/face_hands_07.jpg";
  smoothing("still photograph face_hands_07.jpg played as frames", track(std::vector<fs::path>(150, still)),
            settings, false);
  smoothing("../shared/frames", sequence, settings, true);
  return 0;
}
