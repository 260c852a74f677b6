#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

#include "face/face_geometry.h"
#include "tests/face/face_projection.h"
#include "tests/face/geometry_file_builder.h"

namespace {

using namespace face_projection;

// A face-sized cap of an ellipsoid (about 14 units wide) with a nose, every
// third vertex weighted; stands in for the real metadata when it is absent.
FaceGeometry synthetic_geometry() {
  std::vector<float> floats;
  for (int k = 0; k < 468; ++k) {
    const double t = (k + 0.5) / 468.0;
    const double polar = std::acos(1.0 - t);  // front half only
    const double around = k * 2.399963229728653;
    const double nose = k % 50 == 0 ? 2.0 : 0.0;
    floats.push_back(static_cast<float>(7.0 * std::sin(polar) * std::cos(around)));
    floats.push_back(static_cast<float>(9.0 * std::sin(polar) * std::sin(around)));
    floats.push_back(static_cast<float>(5.0 * std::cos(polar) - 3.0 + nose));
    floats.push_back(0.0f);
    floats.push_back(0.0f);
  }
  geometry_file::Bytes file = geometry_file::packed_mesh(floats);
  for (int k = 0; k < 468; k += 3) {
    geometry_file::append(file, geometry_file::reference(static_cast<std::uint64_t>(k),
                                                         0.5f + static_cast<float>(k % 7) / 7.0f));
  }
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(g.parse(file, "synthetic", error)) << error;
  return g;
}

// The real canonical face, or nothing when the shared folder is absent.
bool load_real(FaceGeometry& g) {
  const std::string path =
      std::string(BRIDGE_SHARED_DIR) + "/models/face/geometry_pipeline_metadata_landmarks.binarypb";
  std::string error;
  return std::filesystem::exists(path) && g.load(path, error);
}

double face_width(const FaceGeometry& g) {
  float lo = 1e9f, hi = -1e9f;
  for (const auto& v : g.vertices()) {
    lo = std::min(lo, v[0]);
    hi = std::max(hi, v[0]);
  }
  return hi - lo;
}

struct Errors {
  double rotation = 0.0;     // degrees
  double translation = 0.0;  // fraction of the distance
};

Errors solve_error(const FaceGeometry& g, const Pose& truth, const Camera& camera,
                   double noise_pixels = 0.0, unsigned seed = 1) {
  std::vector<Point> landmarks = project(g, truth, camera);
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, static_cast<float>(noise_pixels));
  if (noise_pixels > 0.0) {
    for (Point& p : landmarks) {
      p.x += noise(rng);
      p.y += noise(rng);
      p.z += noise(rng);
    }
  }
  HeadPose pose;
  EXPECT_TRUE(g.solve(landmarks, camera.width, camera.height, camera.vertical_fov, pose));
  EXPECT_GE(pose.rotation[3], 0.0f);
  return {rotation_error(truth.rotation, pose), translation_error(truth.translation, pose)};
}

// Head turns one axis at a time up to 60 degrees, and combined.
std::vector<Quaternion> head_turns() {
  std::vector<Quaternion> turns;
  for (double a : {-60.0, -30.0, 0.0, 15.0, 45.0, 60.0}) {
    turns.push_back(yaw_pitch_roll(a, 0.0, 0.0));
    turns.push_back(yaw_pitch_roll(0.0, a, 0.0));
    turns.push_back(yaw_pitch_roll(0.0, 0.0, a));
  }
  turns.push_back(yaw_pitch_roll(45.0, -30.0, 20.0));
  turns.push_back(yaw_pitch_roll(-60.0, 40.0, -30.0));
  turns.push_back(yaw_pitch_roll(60.0, 60.0, 60.0));
  turns.push_back(yaw_pitch_roll(-35.0, -55.0, 50.0));
  return turns;
}

// Distances of three to eight face widths, on and off the optical axis.
std::vector<Vec3> webcam_positions(double width) {
  std::vector<Vec3> positions;
  for (double widths : {3.0, 4.0, 5.5, 8.0}) {
    const double z = -widths * width;
    positions.push_back({0.0, 0.0, z});
    positions.push_back({0.2 * z, -0.1 * z, z});
    positions.push_back({-0.15 * z, 0.2 * z, z});
  }
  return positions;
}

void expect_poses_recovered(const FaceGeometry& g) {
  const Camera camera;
  double worst_rotation = 0.0, worst_translation = 0.0;
  for (const Vec3& t : webcam_positions(face_width(g))) {
    for (const Quaternion& q : head_turns()) {
      const Errors e = solve_error(g, Pose{q, t}, camera);
      EXPECT_LT(e.rotation, 0.5) << "at " << t[0] << " " << t[1] << " " << t[2];
      EXPECT_LT(e.translation, 0.01) << "at " << t[0] << " " << t[1] << " " << t[2];
      worst_rotation = std::max(worst_rotation, e.rotation);
      worst_translation = std::max(worst_translation, e.translation);
    }
  }
  ::testing::Test::RecordProperty("worst_rotation_degrees", std::to_string(worst_rotation));
  ::testing::Test::RecordProperty("worst_translation_fraction", std::to_string(worst_translation));
}

TEST(FaceGeometrySolve, RecoversKnownPosesOfASyntheticFace) {
  expect_poses_recovered(synthetic_geometry());
}

TEST(FaceGeometrySolve, RecoversKnownPosesOfTheRealFace) {
  FaceGeometry g;
  if (!load_real(g)) GTEST_SKIP() << "no face geometry metadata in " << BRIDGE_SHARED_DIR;
  expect_poses_recovered(g);
}

TEST(FaceGeometrySolve, PixelNoiseKeepsTheErrorSmall) {
  FaceGeometry g;
  if (!load_real(g)) g = synthetic_geometry();
  const Camera camera;
  const double width = face_width(g);
  for (double noise : {1.0, 2.0}) {
    double worst_rotation = 0.0, worst_translation = 0.0;
    unsigned seed = 1;
    for (double widths : {3.0, 5.0}) {
      for (const Quaternion& q : {yaw_pitch_roll(0, 0, 0), yaw_pitch_roll(40, -20, 10),
                                  yaw_pitch_roll(-60, 30, -20)}) {
        const Errors e = solve_error(g, Pose{q, {0.1 * widths * width, 0.0, -widths * width}},
                                     camera, noise, seed++);
        worst_rotation = std::max(worst_rotation, e.rotation);
        worst_translation = std::max(worst_translation, e.translation);
      }
    }
    EXPECT_LT(worst_rotation, 3.0 * noise) << noise << " px";
    EXPECT_LT(worst_translation, 0.03 * noise) << noise << " px";
  }
}

TEST(FaceGeometrySolve, OnlyTheFirst468LandmarksCount) {
  const FaceGeometry g = synthetic_geometry();
  const Camera camera;
  std::vector<Point> landmarks = project(g, Pose{yaw_pitch_roll(20, 10, 5), {3, -2, -60}}, camera);
  HeadPose a, b;
  ASSERT_TRUE(g.solve(landmarks, camera.width, camera.height, camera.vertical_fov, a));
  landmarks.resize(478, Point{1e4f, -1e4f, 1e4f});
  ASSERT_TRUE(g.solve(landmarks, camera.width, camera.height, camera.vertical_fov, b));
  EXPECT_EQ(a.translation, b.translation);
  EXPECT_EQ(a.rotation, b.rotation);
}

TEST(FaceGeometrySolve, RefusesDegenerateInputAndLeavesThePose) {
  const FaceGeometry g = synthetic_geometry();
  const Camera camera;
  const std::vector<Point> good = project(g, Pose{}, camera);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const HeadPose sentinel{{7.0f, 8.0f, 9.0f}, {0.1f, 0.2f, 0.3f, 0.4f}};
  const auto expect_refused = [&](const FaceGeometry& geometry, const std::vector<Point>& landmarks,
                                  int width, int height, float fov, const char* why) {
    HeadPose pose = sentinel;
    EXPECT_FALSE(geometry.solve(landmarks, width, height, fov, pose)) << why;
    EXPECT_EQ(pose.translation, sentinel.translation) << why;
    EXPECT_EQ(pose.rotation, sentinel.rotation) << why;
  };
  expect_refused(g, {good.begin(), good.end() - 1}, 640, 480, 60.0f, "467 landmarks");
  expect_refused(g, good, 0, 480, 60.0f, "no width");
  expect_refused(g, good, 640, 0, 60.0f, "no height");
  expect_refused(g, std::vector<Point>(468, Point{320, 240, 1}), 640, 480, 60.0f, "one point");
  for (float fov : {0.0f, -40.0f, 180.0f, 200.0f, nan}) {
    expect_refused(g, good, 640, 480, fov, "field of view outside (0, 180)");
  }
  std::vector<Point> poisoned = good;
  poisoned[g.weights()[4].index].y = nan;
  expect_refused(g, poisoned, 640, 480, 60.0f, "not-a-number landmark");
  poisoned[g.weights()[4].index].y = std::numeric_limits<float>::infinity();
  expect_refused(g, poisoned, 640, 480, 60.0f, "infinite landmark");
  expect_refused(FaceGeometry{}, good, 640, 480, 60.0f, "nothing loaded");
}

TEST(FaceGeometrySolve, FacingTheCameraHeadOnGivesTheIdentity) {
  // Field of view and frame size enter through the focal length: at 60
  // degrees and 480 rows it is 415.69 pixels, and the distance must match.
  const FaceGeometry g = synthetic_geometry();
  const Camera camera{640, 480, 60.0f};
  EXPECT_NEAR(camera.focal(), 415.692, 1e-3);
  HeadPose pose;
  ASSERT_TRUE(g.solve(project(g, Pose{{1, 0, 0, 0}, {0, 0, -50}}, camera), 640, 480, 60.0f, pose));
  EXPECT_NEAR(pose.translation[2], -0.5f, 1e-4f);
  EXPECT_NEAR(pose.translation[0], 0.0f, 1e-4f);
  EXPECT_NEAR(pose.rotation[3], 1.0f, 1e-6f);
  // The same pixels read with a wider lens mean a nearer face, by about the
  // ratio of the focal lengths (not exactly: the perspective no longer fits).
  ASSERT_TRUE(g.solve(project(g, Pose{{1, 0, 0, 0}, {0, 0, -50}}, camera), 640, 480, 90.0f, pose));
  EXPECT_NEAR(pose.translation[2], -0.5f * 240.0f / 415.692f, 0.01f);
}

}  // namespace
