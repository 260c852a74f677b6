#pragma once

#include <vector>

#include "core/rotated_rect.h"
#include "hand/hand_tracker.h"
#include "image/image.h"

// One frame through the hand tracker, with what the tracker did inside.
struct HandFrame {
  std::vector<HandResult> hands;
  HandSteps steps;
  // The regions the next frame's landmark steps will sample: one per hand of
  // `hands`, in the same order.
  std::vector<RotatedRect> regions_after;
};

// Runs `tracker` on `image` and records the hands and the steps.
HandFrame track_hands(HandTracker& tracker, const Image& image);

// `frame` with every image coordinate (landmarks, palms, regions) multiplied
// by `factor`, for drawing on a copy of the frame enlarged that many times.
// The 3-D landmarks, which are not in pixels, stay as they are.
HandFrame scaled(const HandFrame& frame, float factor);
