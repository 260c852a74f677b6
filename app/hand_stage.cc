#include "app/hand_stage.h"

#include <unistd.h>

#include <new>

#include "app/send.h"
#include "app/wire_records.h"
#include "image/luma.h"
#include "wire/hands.h"

namespace {

constexpr int kHandLumaStep = 4;

}  // namespace

std::string hand_model_dir(const BridgeState& state) {
  return state.models_root + ((state.option_bits & wire::kLiteBit) ? "/hand-lite" : "/hand");
}

bool hand_set_available(const BridgeState& state) {
  const std::string file = hand_model_dir(state) + "/hand_landmarks_detector.tflite";
  return access(file.c_str(), R_OK) == 0;
}

void hand_stage_start(BridgeState& state) { state.hands_available = hand_set_available(state); }

bool hand_stage_load(BridgeState& state) {
  if (!(state.option_bits & wire::kHandsBit) || state.hand_tracker || !state.hands_available) {
    return false;
  }
  state.hand_tracker = std::make_unique<HandTracker>();
  state.hand_model_lite = state.option_bits & wire::kLiteBit;
  std::string error;
  bool loaded = false;
  try {
    loaded = state.hand_tracker->load(hand_model_dir(state), error, state.models.handle());
  } catch (const std::bad_alloc&) {
    error = "Out of memory loading the hand models from " + hand_model_dir(state) + ".";
  }
  if (!loaded) {
    state.hand_tracker.reset();
    state.hands_available = false;
    state.hands_message = error;
  }
  return true;
}

void hands_step(BridgeState& state, const Image& image, uint64_t timestamp_us) {
  if (!(state.option_bits & wire::kHandsBit) || !state.hand_tracker) return;
  const std::vector<HandResult> results = state.hand_tracker->process(image);
  std::vector<wire::Hand> hands;
  hands.reserve(results.size());
  for (const HandResult& result : results) {
    hands.push_back(hand_record(result));
    state.window.hand_luma_sum += mean_luma(image, result.landmarks, kHandLumaStep);
    state.window.hand_count += 1;
  }
  state.sequence += 1;
  send_datagram(state, wire::hands(state.token, state.sequence, timestamp_us, hands));
}

void hand_stage_options_changed(BridgeState& state) {
  if (state.hand_tracker && !(state.option_bits & wire::kHandsBit)) {
    state.hand_tracker->regions.clear();
    state.hand_tracker->frames_since_detection = 0;
  }
  if (state.hand_tracker && (state.option_bits & wire::kLiteBit) != state.hand_model_lite) {
    state.hand_tracker.reset();
  }
  state.hands_available = hand_set_available(state);
  state.hands_message.clear();
}
