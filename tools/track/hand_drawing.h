#pragma once

#include <string>
#include <vector>

#include "image/image.h"
#include "tools/track/hand_frame.h"

// Draws what the hand tracker did on `canvas` (the frame it ran on): the
// palm boxes and their keypoints on a frame where the detector ran, the
// region each hand was found in, the 21 landmarks joined by their bones
// (one colour per finger) and, above each hand, its side ("L" or "R") with
// the handedness score. `unit` is the width of a thin line in pixels.
void draw_hands(Image& canvas, const HandFrame& hands, int unit);

// The letter for a hand of the given handedness flag: the side of the
// person the hand belongs to, in a photograph that is not mirrored.
const char* hand_side(bool handedness);

// Lines for the frame's caption: hands followed into the frame, whether the
// detector ran and what it found, hands found, then the time of each step.
std::vector<std::string> hands_caption(const HandFrame& hands);
