#include "tools/track/json.h"

#include <charconv>
#include <cmath>

#include "wire/json_quote.h"

void append_number(std::string& out, float v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

void append_floats(std::string& out, const float* values, std::size_t count) {
  out += '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    append_number(out, values[i]);
  }
  out += ']';
}

void append_key(std::string& out, const char* key, bool first) {
  if (!first) out += ',';
  out += wire::json_quote(key);
  out += ':';
}

void append_ms(std::string& out, double ms) {
  append_number(out, static_cast<float>(std::round(ms * 1000.0) / 1000.0));
}

namespace {

// Opens the "ms" object with the two steps every tracker times.
void open_step_ms(std::string& out, double detector_ms, double landmarks_ms) {
  append_key(out, "ms");
  out += '{';
  append_key(out, "detector", true);
  append_ms(out, detector_ms);
  append_key(out, "landmarks");
  append_ms(out, landmarks_ms);
}

}  // namespace

void append_region(std::string& out, const RotatedRect& r) {
  const float values[5] = {r.cx, r.cy, r.width, r.height, r.rotation};
  append_floats(out, values, 5);
}

void append_points(std::string& out, const Point* points, std::size_t count) {
  out += '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    const float xyz[3] = {points[i].x, points[i].y, points[i].z};
    append_floats(out, xyz, 3);
  }
  out += ']';
}

void append_detection(std::string& out, const Detection& d) {
  out += '{';
  append_key(out, "box", true);
  const float box[4] = {d.xmin, d.ymin, d.xmax, d.ymax};
  append_floats(out, box, 4);
  append_key(out, "score");
  append_number(out, d.score);
  append_key(out, "keypoints");
  out += '[';
  for (std::size_t i = 0; i < d.keypoints.size(); ++i) {
    if (i > 0) out += ',';
    const float xy[2] = {d.keypoints[i].x, d.keypoints[i].y};
    append_floats(out, xy, 2);
  }
  out += "]}";
}

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
  open_step_ms(out, steps.detector_ms, steps.landmarks_ms);
  out += "}}";
  return out;
}

namespace {

const char* state_name(bool tracking) { return tracking ? "\"tracking\"" : "\"searching\""; }

}  // namespace

std::string face_json(const FaceFrame& face) {
  const FaceSteps& steps = face.steps;
  const FaceResult& result = face.result;
  std::string out = "{";
  append_key(out, "found", true);
  out += result.found ? "true" : "false";
  append_key(out, "state_before");
  out += state_name(steps.tracking_before);
  append_key(out, "state_after");
  out += state_name(face.tracking_after);
  append_key(out, "ran_detector");
  out += steps.ran_detector ? "true" : "false";
  append_key(out, "detection");
  if (steps.detected) {
    append_detection(out, steps.detection);
  } else {
    out += "null";
  }
  append_key(out, "roi_used");
  if (steps.ran_landmarks) {
    append_region(out, steps.roi_used);
  } else {
    out += "null";
  }
  append_key(out, "roi");
  if (face.tracking_after) {
    append_region(out, face.roi_after);
  } else {
    out += "null";
  }

  append_key(out, "landmarks");
  append_points(out, result.landmarks.data(), result.landmarks.size());

  append_key(out, "pose");
  out += '{';
  append_key(out, "translation", true);
  append_floats(out, result.pose.translation.data(), result.pose.translation.size());
  append_key(out, "rotation");
  append_floats(out, result.pose.rotation.data(), result.pose.rotation.size());
  out += '}';

  append_key(out, "blendshapes");
  out += '{';
  for (int i = 0; i < kBlendshapeCount; ++i) {
    append_key(out, FaceTracker::kBlendshapeNames[i], i == 0);
    append_number(out, result.blendshapes[i]);
  }
  out += '}';

  open_step_ms(out, steps.detector_ms, steps.landmarks_ms);
  append_key(out, "blendshapes");
  append_ms(out, steps.blendshapes_ms);
  append_key(out, "pose");
  append_ms(out, steps.pose_ms);
  append_key(out, "total");
  append_ms(out, face.total_ms);
  out += "}}";
  return out;
}

std::string frame_json_line(const FrameRecord& record) {
  std::string out = "{";
  append_key(out, "frame", true);
  out += wire::json_quote(record.name);
  if (!record.decoded) {
    append_key(out, "error");
    out += "\"cannot read or decode\"}";
    return out;
  }
  append_key(out, "width");
  out += std::to_string(record.width);
  append_key(out, "height");
  out += std::to_string(record.height);
  // A part that is off is null rather than missing, so every line of a run
  // has the same members.
  append_key(out, "face");
  out += record.face ? face_json(*record.face) : "null";
  append_key(out, "hands");
  out += record.hands ? hands_json(*record.hands) : "null";
  out += '}';
  return out;
}
