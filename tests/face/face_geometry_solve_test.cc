#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>
#include <random>

#include "face/face_geometry.h"
#include "face/pose_fit.h"
#include "tests/face/geometry_file.h"

namespace {

using geometry_file::operator+;

constexpr int kWidth = 640, kHeight = 480;
constexpr float kFov = 60.0f;
const double kFocal = 240.0 / std::tan(std::numbers::pi / 6.0);

Quaternion yaw_pitch_roll(double yaw, double pitch, double roll) {
  const auto half = [](double d) { return d * std::numbers::pi / 360.0; };
  const double cy = std::cos(half(yaw)), sy = std::sin(half(yaw));
  const double cp = std::cos(half(pitch)), sp = std::sin(half(pitch));
  const double cr = std::cos(half(roll)), sr = std::sin(half(roll));
  // (about y) * (about x) * (about z)
  return {cy * cp * cr + sy * sp * sr, cy * sp * cr + sy * cp * sr, sy * cp * cr - cy * sp * sr,
          cy * cp * sr - sy * sp * cr};
}

// Landmarks of the posed canonical face as the solver models a camera: a
// pinhole projection of each vertex, and a depth relative to the model origin
// on the origin's pixel scale (focal length over its distance), z towards
// the camera negative. `t` is in model units, in front of the camera.
std::vector<Point> project(const FaceGeometry& g, const Quaternion& q, const Vec3& t,
                           double noise = 0.0, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> jitter(0.0, noise > 0 ? noise : 1.0);
  const auto n = [&] { return noise > 0 ? jitter(rng) : 0.0; };
  std::vector<Point> out;
  for (const auto& v : g.vertices()) {
    const Vec3 r = rotate(q, {v[0], v[1], v[2]});
    const double depth = -(r[2] + t[2]);
    out.push_back({static_cast<float>(kWidth / 2.0 + kFocal * (r[0] + t[0]) / depth + n()),
                   static_cast<float>(kHeight / 2.0 - kFocal * (r[1] + t[1]) / depth + n()),
                   static_cast<float>(kFocal / t[2] * r[2] + n())});
  }
  return out;
}

struct Errors {
  double degrees;   // angle between the true and solved rotations
  double relative;  // translation error over the true distance
};

Errors solve_error(const FaceGeometry& g, const Quaternion& q, const Vec3& t, double noise = 0.0,
                   unsigned seed = 1) {
  HeadPose p;
  EXPECT_TRUE(g.solve(project(g, q, t, noise, seed), kWidth, kHeight, kFov, p));
  EXPECT_GE(p.rotation[3], 0.0f);
  const double dot = q[0] * p.rotation[3] + q[1] * p.rotation[0] + q[2] * p.rotation[1] +
                     q[3] * p.rotation[2];
  const double error = std::hypot(p.translation[0] - 0.01 * t[0], p.translation[1] - 0.01 * t[1],
                                  p.translation[2] - 0.01 * t[2]);
  return {2.0 * std::acos(std::min(1.0, std::fabs(dot))) * 180.0 / std::numbers::pi,
          error / (0.01 * std::hypot(t[0], t[1], t[2]))};
}

// A face-sized ellipsoid cap (14 units wide) with bumps, every third vertex
// weighted: the solver's tests run without the shared folder too.
FaceGeometry synthetic_face() {
  std::vector<float> f;
  for (int k = 0; k < 468; ++k) {
    const double polar = std::acos(1.0 - (k + 0.5) / 468.0), around = k * 2.39996;
    f.insert(f.end(), {static_cast<float>(7.0 * std::sin(polar) * std::cos(around)),
                       static_cast<float>(9.0 * std::sin(polar) * std::sin(around)),
                       static_cast<float>(5.0 * std::cos(polar) - 3.0 + (k % 50 == 0 ? 2 : 0)), 0, 0});
  }
  geometry_file::Bytes file = geometry_file::packed_mesh(f);
  for (int k = 0; k < 468; k += 3) {
    file = file + geometry_file::reference(static_cast<std::uint64_t>(k), 0.5f + (k % 7) / 7.0f);
  }
  FaceGeometry g;
  std::string error;
  EXPECT_TRUE(g.parse(file, "synthetic", error));
  return g;
}

bool load_real_face(FaceGeometry& g) {
  const std::string path =
      std::string(BRIDGE_SHARED_DIR) + "/models/face/geometry_pipeline_metadata_landmarks.binarypb";
  std::string error;
  return std::filesystem::exists(path) && g.load(path, error);
}

double face_width(const FaceGeometry& g) {
  const auto [lo, hi] = std::minmax_element(g.vertices().begin(), g.vertices().end(),
                                            [](auto& a, auto& b) { return a[0] < b[0]; });
  return (*hi)[0] - (*lo)[0];
}

// Yaw, pitch and roll up to 60 degrees alone and combined, at three to eight
// face widths, on and off the optical axis: within 0.5 degree and 1%.
void expect_poses_recovered(const FaceGeometry& g) {
  // Beyond a quarter turn of roll the fitted quaternion comes out with a
  // negative scalar part and has to be negated.
  std::vector<Quaternion> turns = {yaw_pitch_roll(45, -30, 20), yaw_pitch_roll(-60, 40, -30),
                                   yaw_pitch_roll(60, 60, 60), yaw_pitch_roll(-35, -55, 50),
                                   yaw_pitch_roll(0, 0, -120)};
  for (double a : {-60.0, -30.0, 15.0, 60.0}) {
    turns.insert(turns.end(), {yaw_pitch_roll(a, 0, 0), yaw_pitch_roll(0, a, 0), yaw_pitch_roll(0, 0, a)});
  }
  for (double widths : {3.0, 4.0, 8.0}) {
    const double z = -widths * face_width(g);
    for (const Vec3& t : {Vec3{0, 0, z}, Vec3{0.2 * z, -0.1 * z, z}, Vec3{-0.15 * z, 0.2 * z, z}}) {
      for (const Quaternion& q : turns) {
        const Errors e = solve_error(g, q, t);
        EXPECT_LT(e.degrees, 0.5) << widths << " widths";
        EXPECT_LT(e.relative, 0.01) << widths << " widths";
      }
    }
  }
}

TEST(FaceGeometrySolve, RecoversKnownPosesOfASyntheticFace) { expect_poses_recovered(synthetic_face()); }

TEST(FaceGeometrySolve, RecoversKnownPosesOfTheRealFace) {
  FaceGeometry g;
  if (!load_real_face(g)) GTEST_SKIP() << "no face geometry metadata in " << BRIDGE_SHARED_DIR;
  expect_poses_recovered(g);
}

TEST(FaceGeometrySolve, PixelNoiseKeepsTheErrorBounded) {
  FaceGeometry g;
  if (!load_real_face(g)) g = synthetic_face();
  unsigned seed = 1;
  for (double noise : {1.0, 2.0}) {
    for (double widths : {3.0, 5.0}) {
      for (const Quaternion& q : {yaw_pitch_roll(0, 0, 0), yaw_pitch_roll(40, -20, 10),
                                  yaw_pitch_roll(-60, 30, -20)}) {
        const double z = -widths * face_width(g);
        const Errors e = solve_error(g, q, {0.1 * z, 0, z}, noise, seed++);
        EXPECT_LT(e.degrees, 3.0 * noise) << noise << " px at " << widths << " widths";
        EXPECT_LT(e.relative, 0.03 * noise) << noise << " px at " << widths << " widths";
      }
    }
  }
}

TEST(FaceGeometrySolve, RefusesDegenerateInputAndLeavesThePose) {
  const FaceGeometry g = synthetic_face();
  const std::vector<Point> good = project(g, {1, 0, 0, 0}, {0, 0, -50});
  HeadPose pose{{7, 8, 9}, {0.1f, 0.2f, 0.3f, 0.4f}};
  const HeadPose before = pose;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<Point> poisoned = good;
  poisoned[static_cast<std::size_t>(g.weights()[4].index)].y = nan;
  EXPECT_FALSE(g.solve({good.begin(), good.end() - 1}, kWidth, kHeight, kFov, pose));
  EXPECT_FALSE(g.solve(good, 0, kHeight, kFov, pose));
  EXPECT_FALSE(g.solve(good, kWidth, 0, kFov, pose));
  EXPECT_FALSE(g.solve(std::vector<Point>(468, Point{320, 240, 1}), kWidth, kHeight, kFov, pose));
  EXPECT_FALSE(g.solve(poisoned, kWidth, kHeight, kFov, pose));
  EXPECT_FALSE(FaceGeometry{}.solve(good, kWidth, kHeight, kFov, pose));
  // Outside (0, 180) degrees the focal length is infinite or negative.
  for (float fov : {0.0f, -40.0f, 180.0f, 200.0f, nan}) {
    EXPECT_FALSE(g.solve(good, kWidth, kHeight, fov, pose)) << fov;
  }
  EXPECT_EQ(pose.translation, before.translation);
  EXPECT_EQ(pose.rotation, before.rotation);

  // Head-on at 50 units, with landmarks past the 468th ignored.
  std::vector<Point> more = good;
  more.resize(478, Point{1e4f, -1e4f, 1e4f});
  ASSERT_TRUE(g.solve(more, kWidth, kHeight, kFov, pose));
  EXPECT_NEAR(pose.translation[2], -0.5f, 1e-4f);
  EXPECT_NEAR(pose.rotation[3], 1.0f, 1e-6f);
}

}  // namespace
