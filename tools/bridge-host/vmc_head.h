#pragma once

#include <array>

#include "tools/bridge-host/vmc_rotation.h"

// The avatar's neck and head, as Unity local rotations of the humanoid's
// "Neck" and "Head" bones (identity: looking straight ahead).
struct HeadBones {
  Quat neck;
  Quat head;
};

// The face datagram's rotation (canonical face to camera: x right, y up,
// z towards the camera; identity when facing the camera) seen on an avatar
// that faces the viewer along Unity's +Z. Mirrored, the avatar moves as the
// user's reflection: the camera's axes are taken over as Unity's, so the
// numbers stay as they are (a turn to the user's left turns the avatar to
// the viewer's left). Unmirrored, the x axis is flipped (x -> -x), which
// turns a rotation (x, y, z, w) into (x, -y, -z, w).
Quat avatar_head_rotation(const std::array<float, 4>& face_rotation, bool mirrored);

// Splits the head's rotation between neck and head: the neck takes
// `neck_share` of the angle about the same axis, the head the rest, so that
// neck * head is the whole rotation.
HeadBones split_head(const Quat& rotation, float neck_share);
