#pragma once

#include <string>

#include "tools/track/hand_frame.h"

// The "hands" object of a frame's JSON line: whether the palm detector ran
// and how many hands were followed into the frame, the palms it found, each
// hand found (side, centre, scale, image and 3-D landmarks, the region it
// was found in and the one kept for the next frame) and the milliseconds of
// both steps.
std::string hands_json(const HandFrame& frame);
