#pragma once

#include <string>

#include "app/bridge_state.h"

// The hand model directory the option bits select: "/hand-lite" with the
// lite bit, else "/hand".
std::string hand_model_dir(const BridgeState& state);

// Whether the selected set's landmark model file is readable.
bool hand_set_available(const BridgeState& state);

// Start-up: only checks availability; the tracker loads lazily.
void hand_stage_start(BridgeState& state);

// Pass step: loads the tracker when hand tracking is on, none is loaded and
// the set is available. True when a load was attempted in this pass (the
// loop then reports the outcome at once).
bool hand_stage_load(BridgeState& state);

// Per frame, while the hands bit is set and a tracker exists.
void hands_step(BridgeState& state, const Image& image, uint64_t timestamp_us);

// After the option bits changed.
void hand_stage_options_changed(BridgeState& state);
