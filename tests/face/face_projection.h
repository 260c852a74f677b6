#pragma once

// Makes face landmarks from a known head pose, the way the solver models a
// camera: pinhole projection of the posed canonical vertices, and a depth on
// the pixel scale of the model origin (weak perspective), relative to it.

#include <algorithm>
#include <cmath>
#include <vector>

#include "detection/point.h"
#include "face/face_geometry.h"
#include "face/pose_fit.h"

namespace face_projection {

constexpr double kPi = 3.141592653589793;

struct Camera {
  int width = 640;
  int height = 480;
  float vertical_fov = 60.0f;  // degrees
  double focal() const { return (height * 0.5) / std::tan(vertical_fov * kPi / 360.0); }
};

// Rotation from canonical axes to camera axes and the model origin in the
// camera frame, in model units (z negative in front of the camera).
struct Pose {
  Quaternion rotation = {1.0, 0.0, 0.0, 0.0};
  Vec3 translation = {0.0, 0.0, -50.0};
};

inline Quaternion multiply(const Quaternion& a, const Quaternion& b) {
  return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
          a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
          a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
          a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}

// Yaw about y, then pitch about x, then roll about z, in degrees.
inline Quaternion yaw_pitch_roll(double yaw, double pitch, double roll) {
  const auto about = [](int axis, double degrees) {
    Quaternion q = {std::cos(degrees * kPi / 360.0), 0.0, 0.0, 0.0};
    q[1 + axis] = std::sin(degrees * kPi / 360.0);
    return q;
  };
  return multiply(multiply(about(1, yaw), about(0, pitch)), about(2, roll));
}

inline std::vector<Point> project(const FaceGeometry& geometry, const Pose& pose,
                                  const Camera& camera) {
  const double f = camera.focal();
  const double origin_scale = f / -pose.translation[2];
  std::vector<Point> landmarks;
  for (const auto& v : geometry.vertices()) {
    const Vec3 r = rotate(pose.rotation, {v[0], v[1], v[2]});
    const double x = r[0] + pose.translation[0];
    const double y = r[1] + pose.translation[1];
    const double depth = -(r[2] + pose.translation[2]);
    landmarks.push_back(Point{static_cast<float>(camera.width / 2.0 + f * x / depth),
                              static_cast<float>(camera.height / 2.0 - f * y / depth),
                              static_cast<float>(-origin_scale * r[2])});
  }
  return landmarks;
}

// Angle in degrees between the true rotation and a solved one.
inline double rotation_error(const Quaternion& truth, const HeadPose& pose) {
  const double dot = truth[0] * pose.rotation[3] + truth[1] * pose.rotation[0] +
                     truth[2] * pose.rotation[1] + truth[3] * pose.rotation[2];
  return 2.0 * std::acos(std::min(1.0, std::fabs(dot))) * 180.0 / kPi;
}

// Distance between the true and solved translations, relative to the true
// one's length (the solver reports model units times 0.01).
inline double translation_error(const Vec3& truth, const HeadPose& pose) {
  double diff = 0.0;
  double length = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double want = truth[i] * 0.01;
    diff += (pose.translation[i] - want) * (pose.translation[i] - want);
    length += want * want;
  }
  return std::sqrt(diff / length);
}

}  // namespace face_projection
