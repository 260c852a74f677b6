#include "tools/track/frame_json.h"

#include "tools/track/hand_json.h"
#include "tools/track/json_text.h"
#include "wire/json_quote.h"

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

  append_key(out, "ms");
  out += '{';
  append_key(out, "detector", true);
  append_ms(out, steps.detector_ms);
  append_key(out, "landmarks");
  append_ms(out, steps.landmarks_ms);
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
