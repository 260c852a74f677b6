#pragma once

#include "app/bridge_state.h"
#include "image/image.h"

// One frame through the bridge: notes its size (a change makes the next
// status come at once), stamps it, runs the face and then the hand stage,
// each sending its datagram, and adds the frame to the status window.
void process_frame(BridgeState& state, const Image& image);
