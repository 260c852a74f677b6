// The face pipeline on real frames against what the same pipeline reports on
// the real runtime: found flags, detector runs, regions, landmarks,
// blendshapes and head pose must agree frame by frame, and small differences
// must not grow as each frame's region comes from the one before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/face_stage.h"
#include "face/face_tracker.h"
#include "tests/support/tracker_files.h"
#include "tests/support/tracking_reference.h"

namespace {

namespace fs = std::filesystem;

// What the bridge's face stage passes for a 60 degree camera.
float vertical_fov_of(const Image& image) { return vertical_fov(60.0f, image.width, image.height); }

// Angle in degrees between two unit quaternions (x, y, z, w).
double rotation_degrees(const std::array<float, 4>& a, const nlohmann::json& b) {
  double dot = 0;
  for (int i = 0; i < 4; ++i) dot += a[i] * b[i].get<double>();
  return 2.0 * std::acos(std::min(1.0, std::abs(dot))) * 180.0 / 3.141592653589793;
}

struct Agreement {
  int frames = 0;
  int found_mismatches = 0;
  int detector_mismatches = 0;
  std::vector<double> blendshape, rotation, landmark, translation;  // translation: relative
};

void compare(const FaceTracker& tracker, const FaceResult& ours, const nlohmann::json& ref,
             Agreement& a) {
  a.frames += 1;
  if (ours.found != ref["found"].get<bool>()) a.found_mismatches += 1;
  if (tracker.steps.ran_detector != ref["ran_detector"].get<bool>()) a.detector_mismatches += 1;
  if (!ours.found || !ref["found"].get<bool>()) return;
  double worst = 0;
  for (int i = 0; i < kBlendshapeCount; ++i) {
    worst = std::max(worst, std::abs(ours.blendshapes[i] - ref["blendshapes"][i].get<double>()));
  }
  a.blendshape.push_back(worst);
  a.rotation.push_back(rotation_degrees(ours.pose.rotation, ref["pose"]["rotation"]));
  const auto& t = ref["pose"]["translation"];
  const std::array<double, 3> r = {t[0].get<double>(), t[1].get<double>(), t[2].get<double>()};
  a.translation.push_back(std::hypot(ours.pose.translation[0] - r[0], ours.pose.translation[1] - r[1],
                                     ours.pose.translation[2] - r[2]) /
                          std::hypot(r[0], r[1], r[2]));
  worst = 0;
  for (size_t i = 0; i < ours.landmarks.size(); ++i) {
    const auto& p = ref["landmarks"][i];
    worst = std::max(worst, std::hypot(ours.landmarks[i].x - p[0].get<double>(),
                                       ours.landmarks[i].y - p[1].get<double>()));
  }
  a.landmark.push_back(worst);
}

class FaceReference : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kShared / "reference/tracking")) GTEST_SKIP() << "shared files not available";
    std::string error;
    ASSERT_TRUE(tracker.load((kShared / "models/face").string(), error)) << error;
  }
  FaceTracker tracker;
};

TEST_F(FaceReference, FollowsTheSampleFramesLikeTheRealRuntime) {
  Agreement a;
  std::vector<double> first_half, second_half;
  for (const auto& line : read_json_lines(kShared / "reference/tracking/frames_face_hands.jsonl")) {
    const Image image = picture(kShared / "frames" / line["frame"].get<std::string>());
    const FaceResult ours = tracker.process(image, vertical_fov_of(image));
    compare(tracker, ours, line["face"], a);
  }
  ASSERT_EQ(a.frames, 150);
  EXPECT_EQ(a.found_mismatches, 0);
  EXPECT_EQ(a.detector_mismatches, 0);
  const double blend95 = percentile(a.blendshape, 0.95), rot95 = percentile(a.rotation, 0.95);
  const double land95 = percentile(a.landmark, 0.95);
  // While the hand covers the face (about frames 82 to 107) the landmark
  // model is sensitive enough that 1e-4 differences in its outputs grow to
  // a pixel or two; they shrink again once the face is clear. A fault in the
  // pipeline itself (a rounding, an axis, a depth's scale) shows on every
  // frame instead, which the median catches.
  EXPECT_LE(blend95, 0.05);
  EXPECT_LE(rot95, 1.0);
  EXPECT_LE(land95, 1.5);
  EXPECT_LE(percentile(a.landmark, 0.5), 0.05);
  EXPECT_LE(percentile(a.blendshape, 0.5), 0.002);
  EXPECT_LE(percentile(a.translation, 0.5), 0.01);
  std::printf("p95: blendshape %.4f, rotation %.3f deg, landmark %.3f px, translation %.4f; max landmark %.3f\n",
              blend95, rot95, land95, percentile(a.translation, 0.95), percentile(a.landmark, 1.0));
}

TEST_F(FaceReference, FindsFacesOnPhotographsLikeTheRealRuntime) {
  Agreement a;
  for (const auto& line : read_json_lines(kShared / "reference/tracking/stills.jsonl")) {
    const Image image = picture(kShared / "testdata/stills" / line["frame"].get<std::string>());
    tracker.tracking = false;  // each photograph alone
    const FaceResult ours = tracker.process(image, vertical_fov_of(image));
    compare(tracker, ours, line["face"], a);
    EXPECT_EQ(ours.found, line["face"]["found"].get<bool>()) << line["frame"];
  }
  EXPECT_GT(a.frames, 10);
  EXPECT_LE(percentile(a.blendshape, 0.95), 0.03);
  EXPECT_LE(percentile(a.rotation, 0.95), 1.0);
  EXPECT_LE(percentile(a.translation, 0.95), 0.01);  // stills of many sizes and shapes
}

}  // namespace
