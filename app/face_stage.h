#pragma once

#include <cstdint>

#include "app/bridge_state.h"
#include "image/image.h"

// The vertical field of view (degrees) of a frame of width x height seen
// with the given horizontal one.
float vertical_fov(float horizontal_fov, int width, int height);

// Start-up: loads the face models, which must be present whether or not face
// tracking is on. On failure reports "models_missing" and returns false; the
// caller exits with status 1.
bool face_stage_start(BridgeState& state);

// Per frame, while the face bit is set: track, send one face datagram, count.
void face_step(BridgeState& state, const Image& image, uint64_t timestamp_us);

// After the option bits changed.
void face_stage_options_changed(BridgeState& state);
