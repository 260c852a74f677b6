#pragma once

// A synthetic right hand in the hands datagram's orientation (x right, y
// down, z away from the camera): palm towards the camera, fingers up, the
// thumb splayed towards the image's right, as a user's right hand appears to
// a camera that does not mirror. And the rotations the tests turn it by.
#include <cmath>
#include <initializer_list>

#include "tools/bridge-host/vmc_pose.h"
#include "wire/hands.h"

namespace vmc_test {

inline VmcSettings unsmoothed(bool mirrored = true) {
  VmcSettings settings;
  settings.smoothing = false;
  settings.mirrored = mirrored;
  settings.open_hand_bend = 0;  // the synthetic hand's straight fingers rest
  return settings;
}

// The rotation by `degrees` about `axis`.
inline Quat about(Vec3 axis, float degrees) {
  const float h = degrees * 3.1415927f / 360.0f;
  axis = normalized(axis);
  return {axis.x * std::sin(h), axis.y * std::sin(h), axis.z * std::sin(h), std::cos(h)};
}

inline void put(wire::Hand& hand, int i, float x, float y, float z) {
  hand.landmarks[3 * static_cast<size_t>(i)] = x;
  hand.landmarks[3 * static_cast<size_t>(i) + 1] = y;
  hand.landmarks[3 * static_cast<size_t>(i) + 2] = z;
}

// Each finger straight up from its base; `curled` fingers (1 index .. 4
// little) bend their middle joint towards the palm (the camera) and their
// last joint down again: 90 degrees at each of those two joints.
inline wire::Hand open_right_hand(std::initializer_list<int> curled = {}) {
  wire::Hand hand;
  hand.handedness = 1;
  hand.handedness_score = 0.9f;
  put(hand, 0, 0, 0, 0);
  const float base_x[5] = {0.3f, 0.3f, 0.0f, -0.25f, -0.5f};
  for (int f = 1; f < 5; ++f) {
    const int b = 4 * f + 1;
    bool curl = false;
    for (int c : curled) curl |= c == f;
    put(hand, b, base_x[f], -1.0f, 0);
    put(hand, b + 1, base_x[f], -1.4f, 0);
    if (curl) {
      put(hand, b + 2, base_x[f], -1.4f, -0.3f);
      put(hand, b + 3, base_x[f], -1.1f, -0.3f);
    } else {
      put(hand, b + 2, base_x[f], -1.7f, 0);
      put(hand, b + 3, base_x[f], -1.95f, 0);
    }
  }
  // The thumb, 50 degrees from the hand's axis towards the image's right.
  put(hand, 1, 0.3f, -0.2f, 0);
  put(hand, 2, 0.6f, -0.45f, 0);
  put(hand, 3, 0.83f, -0.64f, 0);
  put(hand, 4, 1.0f, -0.78f, 0);
  return hand;
}

// The same hand's mirror image: a left hand (x negated), flagged left.
inline wire::Hand mirrored_hand(wire::Hand hand) {
  for (size_t i = 0; i < hand.landmarks.size(); i += 3) hand.landmarks[i] = -hand.landmarks[i];
  hand.handedness = 1 - hand.handedness;
  return hand;
}

}  // namespace vmc_test
