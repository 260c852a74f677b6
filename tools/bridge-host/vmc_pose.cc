#include "tools/bridge-host/vmc_pose.h"

namespace {

void step_face(VmcState& s, double now, float dt, const wire::Face* face) {
  const VmcSettings& set = s.settings;
  const bool found = face && face->found;
  if (found) {
    s.last_head = avatar_head_rotation(face->rotation, set.mirrored);
    s.last_blendshapes = avatar_blendshapes(face->blendshapes, s.mirror, set.mirrored);
    s.face_seen_at = now;
    s.face_ever_seen = true;
  }
  const float share = s.face_ever_seen ? held_share(set.fade, now - s.face_seen_at) : 0.0f;
  Quat head = scaled(s.last_head, share);
  Blendshapes shapes{};
  for (size_t i = 0; i < shapes.size(); ++i) shapes[i] = s.last_blendshapes[i] * share;
  if (set.smoothing) {
    head = filter_rotation(s.head_filter, set.rotation_filter, head, dt);
    for (size_t i = 0; i < shapes.size(); ++i)
      shapes[i] = one_euro(s.blendshape_filters[i], set.blendshape_filter, shapes[i], dt);
  }
  s.pose.face_found = found;
  s.pose.head = split_head(head, set.neck_share);
  s.pose.blendshapes = shapes;
  s.pose.presets = vrm_presets(shapes);
}

void step_hands(VmcState& s, double now, float dt, const std::vector<wire::Hand>* hands) {
  const VmcSettings& set = s.settings;
  std::array<float, 2> score{};  // the handedness score of the hand taken per side
  if (hands) {
    for (const wire::Hand& hand : *hands) {
      const FingerBones bones = finger_bones(hand, set.mirrored, set.open_hand_bend);
      if (hand.handedness_score <= score[bones.side]) continue;
      score[bones.side] = hand.handedness_score;
      HandTrack& track = s.hands[bones.side];
      track.last = bones.bones;
      track.seen_at = now;
      track.ever_seen = true;
    }
  }
  for (size_t side = 0; side < 2; ++side) {
    HandTrack& track = s.hands[side];
    const float share = track.ever_seen ? held_share(set.fade, now - track.seen_at) : 0.0f;
    for (size_t b = 0; b < kFingerBoneCount; ++b) {
      Quat q = scaled(track.last[b], share);
      if (set.smoothing) q = filter_rotation(track.filters[b], set.rotation_filter, q, dt);
      s.pose.fingers[side][b] = q;
    }
  }
}

}  // namespace

VmcState make_vmc_state(const VmcSettings& settings) {
  VmcState state;
  state.settings = settings;
  state.mirror = mirror_permutation();
  return state;
}

void step_vmc(VmcState& s, double seconds, const wire::Face* face,
              const std::vector<wire::Hand>* hands) {
  const float dt = s.started ? static_cast<float>(seconds - s.previous_time) : 0.0f;
  s.started = true;
  s.previous_time = seconds;
  step_face(s, seconds, dt, face);
  step_hands(s, seconds, dt, hands);
}
