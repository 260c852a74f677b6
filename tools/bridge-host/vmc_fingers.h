#pragma once

#include <array>

#include "tools/bridge-host/vmc_rotation.h"
#include "wire/hands.h"

// Fingers in the order thumb, index, middle, ring, little; three bones each
// (proximal, intermediate, distal), 15 per hand, as the humanoid names them.
inline constexpr int kFingerCount = 5;
inline constexpr int kFingerBoneCount = 15;

enum AvatarSide { kAvatarLeft = 0, kAvatarRight = 1 };

// The humanoid's bone names ("LeftThumbProximal" ... "RightLittleDistal"),
// bone 3 f + j of finger f, joint j.
extern const char* const kFingerBoneNames[2][kFingerBoneCount];

// One hand's finger bones as Unity local rotations relative to the VRM
// humanoid's rest pose: T-pose, palm down (-Y), fingers straight along the
// arm (+X for the right hand, -X for the left), the thumb splayed 40 degrees
// from the hand's axis towards the front (+Z) in the palm's plane.
//
// The four fingers move as fingers do: the base joint bends (about the
// hand's lateral axis, Z) and spreads (about the palm's normal, Y, at most
// 30 degrees either way), the two outer joints only bend (hinges, -15 to
// 110 degrees). Each joint's bend is the change of its segment's angle in
// the plane of the hand's axis and palm normal, so landmarks that wander
// sideways do not twist a finger. The thumb's base swings freely from its
// rest direction onto its segment (no twist); its outer joints are hinges
// bending it towards the palm.
struct FingerBones {
  AvatarSide side = kAvatarLeft;
  std::array<Quat, kFingerBoneCount> bones{};
  // Per finger, degrees: the bend summed over its joints (towards the palm
  // positive), the thumb's base counting its whole swing from rest.
  std::array<float, kFingerCount> bend{};
};

// How the landmarks of a relaxed, open hand lie: the hand tracker puts the
// wrist behind the knuckles, so flat fingers leave the wrist-to-knuckle line
// bent towards the palm. The base joints count their bend from this angle
// (degrees) instead of from that line.
inline constexpr float kOpenHandBend = 30.0f;

// The hand's frame comes from its own landmarks: its axis from the wrist (0)
// to the middle finger's base (9), across the knuckles from the little
// finger's base (17) to the index's (5), the palm's side from the
// handedness flag (1: the user's right hand). The hand bone itself is not
// sent: without the arm its rotation relative to the forearm cannot be
// known. Mirrored, the user's right hand drives the avatar's left one.
FingerBones finger_bones(const wire::Hand& hand, bool mirrored,
                         float open_hand_bend = kOpenHandBend);

// The hand's palm normal (pointing out of the palm) in the camera's frame
// (x right, y up, z towards the camera), from the same landmarks.
Vec3 palm_normal(const wire::Hand& hand);

// Sum of the rotation angles of a finger's three bones, in degrees: 0 at
// rest.
float finger_angle_degrees(const std::array<Quat, kFingerBoneCount>& bones, int finger);
