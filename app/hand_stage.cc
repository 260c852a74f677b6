#include "app/hand_stage.h"

#include <unistd.h>

#include "wire/header.h"

std::string hand_model_dir(const BridgeState& state) {
  return state.models_root + ((state.option_bits & wire::kLiteBit) ? "/hand-lite" : "/hand");
}

bool hand_set_available(const BridgeState& state) {
  const std::string file = hand_model_dir(state) + "/hand_landmarks_detector.tflite";
  return access(file.c_str(), R_OK) == 0;
}

void hand_stage_start(BridgeState& state) { state.hands_available = hand_set_available(state); }

// The hand tracker plugs in here; until then nothing is loaded.
bool hand_stage_load(BridgeState&) { return false; }

void hands_step(BridgeState&, const Image&, uint64_t) {}

void hand_stage_options_changed(BridgeState& state) {
  state.hands_available = hand_set_available(state);
  state.hands_message.clear();
}
