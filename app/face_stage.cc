#include "app/face_stage.h"

#include <cmath>

#include "app/send.h"
#include "app/status_report.h"
#include "app/wire_records.h"
#include "image/luma.h"
#include "wire/face.h"

namespace {

constexpr int kFaceLumaStep = 4;
constexpr float kPi = 3.1415927f;

}  // namespace

float vertical_fov(float horizontal_fov, int width, int height) {
  return 2.0f * std::atan(std::tan(horizontal_fov * kPi / 360.0f) * static_cast<float>(height) /
                          static_cast<float>(width)) *
         180.0f / kPi;
}

bool face_stage_start(BridgeState& state) {
  state.face_tracker = std::make_unique<FaceTracker>();
  std::string error;
  if (state.face_tracker->load(state.models_root + "/face", error, state.models.handle())) return true;
  send_status(state, "error", "models_missing", error.empty() ? "Face models are missing." : error);
  return false;
}

void face_step(BridgeState& state, const Image& image, uint64_t timestamp_us) {
  if (!(state.option_bits & wire::kFaceBit)) return;
  const FaceResult result =
      state.face_tracker->process(image, vertical_fov(state.fov, image.width, image.height));
  state.sequence += 1;
  send_datagram(state, wire::face(state.token, state.sequence, timestamp_us, face_record(result)));
  if (result.found) {
    state.window.faces_found += 1;
    state.window.face_luma_sum += mean_luma(image, result.landmarks, kFaceLumaStep);
  }
  state.window.face_frames += 1;
}

void face_stage_options_changed(BridgeState& state) {
  if (state.face_tracker && !(state.option_bits & wire::kFaceBit)) state.face_tracker->tracking = false;
}
