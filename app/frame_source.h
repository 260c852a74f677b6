#pragma once

#include "app/bridge_state.h"
#include "app/settings.h"
#include "image/image.h"

// Start-up: opens the camera, or lists the frame files (the byte-order sorted
// ".jpg"/".jpeg" names of `--frames`, or that path alone when it is not a
// directory). On a camera failure reports "camera_unavailable" and returns
// false; the caller exits with status 1.
bool frame_source_start(BridgeState& state, const Settings& settings);

enum class FrameTake { kFrame, kNone, kLost };

// Takes at most one frame into `image`. Camera mode waits up to 100 ms; a
// lost camera has already been reported ("camera_lost") when kLost returns.
// Frames mode paces playback at about 30 frames per second; a file that
// cannot be read is skipped silently.
FrameTake take_frame(BridgeState& state, Image& image);

// End of run: releases the camera (a no-op in frames mode).
void frame_source_stop(BridgeState& state);
