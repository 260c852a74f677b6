#include "tools/bridge-host/vmc_fingers.h"

#include <algorithm>
#include <cmath>

const char* const kFingerBoneNames[2][kFingerBoneCount] = {
    {"LeftThumbProximal", "LeftThumbIntermediate", "LeftThumbDistal",
     "LeftIndexProximal", "LeftIndexIntermediate", "LeftIndexDistal",
     "LeftMiddleProximal", "LeftMiddleIntermediate", "LeftMiddleDistal",
     "LeftRingProximal", "LeftRingIntermediate", "LeftRingDistal",
     "LeftLittleProximal", "LeftLittleIntermediate", "LeftLittleDistal"},
    {"RightThumbProximal", "RightThumbIntermediate", "RightThumbDistal",
     "RightIndexProximal", "RightIndexIntermediate", "RightIndexDistal",
     "RightMiddleProximal", "RightMiddleIntermediate", "RightMiddleDistal",
     "RightRingProximal", "RightRingIntermediate", "RightRingDistal",
     "RightLittleProximal", "RightLittleIntermediate", "RightLittleDistal"},
};

namespace {

// The first landmark of each finger's chain of four: thumb 1-4, index 5-8,
// middle 9-12, ring 13-16, little 17-20.
constexpr int kChainStart[kFingerCount] = {1, 5, 9, 13, 17};
constexpr float kThumbSplay = 40.0f * 3.1415927f / 180.0f;

// Landmark i in the camera's frame. The datagram's landmarks are in the
// image's orientation (x right, y down, z away from the camera); turning
// them half a turn about x keeps their handedness.
Vec3 landmark(const wire::Hand& hand, int i) {
  const float* p = &hand.landmarks[3 * static_cast<size_t>(i)];
  return {p[0], -p[1], -p[2]};
}

// The hand's own axes in the camera's frame.
struct HandFrame {
  Vec3 axis;       // wrist towards the fingers
  Vec3 palm;       // out of the palm
  Vec3 thumbward;  // across the hand towards the thumb
};

HandFrame hand_frame(const wire::Hand& hand) {
  const float chirality = hand.handedness ? 1.0f : -1.0f;
  HandFrame f;
  f.axis = normalized(landmark(hand, 9) - landmark(hand, 0));
  // Across the knuckles, little finger to index: a long, well-measured
  // line. The wrist lies in a plane of its own with the knuckles (the palm
  // arches), so wrist-to-knuckle lines would give an unsteady normal.
  const Vec3 across = landmark(hand, 5) - landmark(hand, 17);
  f.thumbward = normalized(across - f.axis * dot(across, f.axis));
  f.palm = cross(f.thumbward, f.axis) * chirality;
  return f;
}

}  // namespace

Vec3 palm_normal(const wire::Hand& hand) { return hand_frame(hand).palm; }

namespace {

constexpr float kDegree = 3.1415927f / 180.0f;

// The rotation by `degrees` about a unit axis.
Quat about(const Vec3& axis, float degrees) {
  const float h = 0.5f * degrees * kDegree;
  return {axis.x * std::sin(h), axis.y * std::sin(h), axis.z * std::sin(h), std::cos(h)};
}

// An angle difference brought into (-180, 180].
float wrapped(float degrees) {
  while (degrees > 180.0f) degrees -= 360.0f;
  while (degrees <= -180.0f) degrees += 360.0f;
  return degrees;
}

// The thumb: its base swings freely from its rest direction onto its
// segment; the two outer joints are hinges that bend it towards the palm
// (about the axis normal to its rest direction and the palm's normal).
void thumb_bones(const std::array<Vec3, 4>& p, const Vec3& rest, FingerBones& out) {
  const Vec3 palm_side{0, -1, 0};
  const Vec3 hinge = normalized(cross(rest, palm_side));
  Quat world;  // the bone's parent, relative to the hand
  for (size_t j = 0; j < 3; ++j) {
    const Vec3 direction = normalized(p[j + 1] - p[j]);
    const Vec3 seen = rotate(conjugate(world), direction);
    Quat local;  // a degenerate segment (two landmarks on one point) keeps its rest
    if (j == 0 && dot(direction, direction) > 0) {
      local = from_to(rest, seen);
      out.bend[0] += angle_degrees(local);
    } else if (j > 0) {
      const float bend = std::clamp(
          std::atan2(dot(seen, palm_side), dot(seen, rest)) / kDegree, -15.0f, 110.0f);
      local = about(hinge, bend);
      out.bend[0] += bend;
    }
    out.bones[j] = local;
    world = world * local;
  }
}

// A finger: the base joint bends and spreads, the others bend.
void finger_joints(const std::array<Vec3, 4>& p, int finger, float outward, float open_bend,
                   FingerBones& out) {
  float previous = open_bend;  // the bend the rest pose stands for
  const Vec3 lateral{0, 0, 1};
  for (size_t j = 0; j < 3; ++j) {
    const Vec3 d = p[j + 1] - p[j];
    // The segment's angle from the arm's direction towards the palm (-Y).
    const float angle = std::atan2(-d.y, outward * d.x) / kDegree;
    const float bend = std::clamp(wrapped(angle - previous), j == 0 ? -30.0f : -15.0f, 110.0f);
    Quat local = about(lateral, -outward * bend);
    if (j == 0) {
      const float length = std::sqrt(dot(d, d));
      const float spread = length > 0 ? std::asin(std::clamp(d.z / length, -0.5f, 0.5f)) / kDegree : 0;
      local = about(Vec3{0, 1, 0}, -outward * spread) * local;
    }
    out.bones[static_cast<size_t>(3 * finger) + j] = local;
    out.bend[static_cast<size_t>(finger)] += bend;
    previous += bend;
  }
}

}  // namespace

FingerBones finger_bones(const wire::Hand& hand, bool mirrored, float open_hand_bend) {
  const HandFrame f = hand_frame(hand);
  FingerBones out;
  out.side = (hand.handedness != 0) != mirrored ? kAvatarRight : kAvatarLeft;
  const float outward = out.side == kAvatarRight ? 1.0f : -1.0f;
  // Camera-frame landmarks in the avatar's hand frame: axis along the arm,
  // palm down, thumb to the front.
  const auto to_avatar = [&](const Vec3& v) {
    return Vec3{dot(v, f.axis) * outward, -dot(v, f.palm), dot(v, f.thumbward)};
  };
  for (int finger = 0; finger < kFingerCount; ++finger) {
    std::array<Vec3, 4> p;
    for (size_t j = 0; j < 4; ++j)
      p[j] = to_avatar(landmark(hand, kChainStart[finger] + static_cast<int>(j)));
    if (finger == 0) {
      thumb_bones(p, Vec3{outward * std::cos(kThumbSplay), 0, std::sin(kThumbSplay)}, out);
    } else {
      finger_joints(p, finger, outward, open_hand_bend, out);
    }
  }
  return out;
}

float finger_angle_degrees(const std::array<Quat, kFingerBoneCount>& bones, int finger) {
  float sum = 0;
  for (int j = 0; j < 3; ++j) sum += angle_degrees(bones[static_cast<size_t>(3 * finger + j)]);
  return sum;
}
