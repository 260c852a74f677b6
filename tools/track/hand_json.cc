#include "tools/track/hand_json.h"

#include "tools/track/json_text.h"

namespace {

void append_hand(std::string& out, const HandResult& hand, const RotatedRect* used,
                 const RotatedRect* next) {
  out += '{';
  append_key(out, "handedness", true);
  out += hand.handedness ? "true" : "false";
  append_key(out, "handedness_score");
  append_number(out, hand.handedness_score);
  append_key(out, "center");
  const float center[2] = {hand.center_x, hand.center_y};
  append_floats(out, center, 2);
  append_key(out, "scale");
  append_number(out, hand.scale);
  append_key(out, "landmarks");
  append_points(out, hand.landmarks.data(), hand.landmarks.size());
  append_key(out, "world_landmarks");
  append_points(out, hand.world_landmarks.data(), hand.world_landmarks.size());
  // The tracker keeps one region of each kind per hand; null stands in
  // should a list ever come up short, rather than a region of another hand.
  append_key(out, "region_used");
  if (used != nullptr) {
    append_region(out, *used);
  } else {
    out += "null";
  }
  append_key(out, "region");
  if (next != nullptr) {
    append_region(out, *next);
  } else {
    out += "null";
  }
  out += '}';
}

const RotatedRect* at(const std::vector<RotatedRect>& regions, std::size_t i) {
  return i < regions.size() ? &regions[i] : nullptr;
}

}  // namespace

std::string hands_json(const HandFrame& frame) {
  const HandSteps& steps = frame.steps;
  std::string out = "{";
  append_key(out, "ran_detector", true);
  out += steps.ran_detector ? "true" : "false";
  append_key(out, "followed_before");
  out += std::to_string(steps.followed_before);
  append_key(out, "palms");
  out += '[';
  for (std::size_t i = 0; i < steps.palms.size(); ++i) {
    if (i > 0) out += ',';
    append_detection(out, steps.palms[i]);
  }
  out += ']';
  append_key(out, "hands");
  out += '[';
  for (std::size_t i = 0; i < frame.hands.size(); ++i) {
    if (i > 0) out += ',';
    append_hand(out, frame.hands[i], at(steps.regions_used, i), at(frame.regions_after, i));
  }
  out += ']';
  append_key(out, "ms");
  out += '{';
  append_key(out, "detector", true);
  append_ms(out, steps.detector_ms);
  append_key(out, "landmarks");
  append_ms(out, steps.landmarks_ms);
  out += "}}";
  return out;
}
