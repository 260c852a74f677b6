#pragma once

#include <array>
#include <vector>

#include "tools/bridge-host/one_euro.h"
#include "tools/bridge-host/vmc_fade.h"
#include "tools/bridge-host/vmc_fingers.h"
#include "tools/bridge-host/vmc_head.h"
#include "tools/bridge-host/vmc_presets.h"
#include "wire/face.h"
#include "wire/hands.h"

// How tracking becomes the avatar's pose.
struct VmcSettings {
  bool mirrored = true;     // the avatar moves as the user's reflection
  bool smoothing = true;    // One Euro filters on head, coefficients, fingers
  float neck_share = 0.3f;  // of the head's rotation, taken by the neck
  float open_hand_bend = kOpenHandBend;  // see finger_bones
  Fade fade;                // a lost face or hand: hold, then ease to rest
  // Rotations filter their quaternion components (a component moves about
  // 0.009 per degree near rest), coefficients their values in [0, 1]. Chosen
  // with vmc-bench on the sample frames: about a third of the raw
  // frame-to-frame change is left, for a frame (33 ms) of lag or less.
  OneEuroParams rotation_filter{1.5f, 4.0f, 1.0f};
  OneEuroParams blendshape_filter{2.0f, 2.0f, 1.0f};
};

// What is sent for one frame.
struct AvatarPose {
  bool face_found = false;
  HeadBones head;
  std::array<std::array<Quat, kFingerBoneCount>, 2> fingers{};  // [AvatarSide]
  Blendshapes blendshapes{};  // the avatar's sides (mirrored when asked)
  Presets presets{};
};

// One hand side of the avatar: the last fingers seen and when.
struct HandTrack {
  std::array<Quat, kFingerBoneCount> last{};
  double seen_at = 0;
  bool ever_seen = false;
  std::array<QuatFilter, kFingerBoneCount> filters{};
};

// Everything kept from frame to frame; fixed size, so stepping it allocates
// nothing.
struct VmcState {
  VmcSettings settings;
  std::array<int, wire::kFaceBlendshapeCount> mirror{};
  bool started = false;
  double previous_time = 0;  // seconds of the previous step
  Quat last_head;            // the avatar's head rotation when last seen
  Blendshapes last_blendshapes{};
  double face_seen_at = 0;
  bool face_ever_seen = false;
  QuatFilter head_filter{};
  std::array<OneEuro, wire::kFaceBlendshapeCount> blendshape_filters{};
  std::array<HandTrack, 2> hands{};
  AvatarPose pose;
};

VmcState make_vmc_state(const VmcSettings& settings);

// One frame at `seconds` (a monotonic clock): the face datagram's record, or
// none when face tracking sent nothing; the hands seen (none, or an empty
// list, for no hand). Updates state.pose. Two hands that claim the same
// avatar side: the surer one wins.
void step_vmc(VmcState& state, double seconds, const wire::Face* face,
              const std::vector<wire::Hand>* hands);
