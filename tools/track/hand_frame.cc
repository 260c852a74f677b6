#include "tools/track/hand_frame.h"

#include "tools/track/scaled_geometry.h"

HandFrame track_hands(HandTracker& tracker, const Image& image) {
  HandFrame frame;
  frame.hands = tracker.process(image);
  frame.steps = tracker.steps;
  frame.regions_after = tracker.regions;
  return frame;
}

HandFrame scaled(const HandFrame& frame, float factor) {
  HandFrame out = frame;
  for (HandResult& hand : out.hands) {
    for (Point& p : hand.landmarks) p = scaled(p, factor);
  }
  for (Detection& palm : out.steps.palms) palm = scaled(palm, factor);
  for (RotatedRect& r : out.steps.palm_regions) r = scaled(r, factor);
  for (RotatedRect& r : out.steps.regions_used) r = scaled(r, factor);
  for (RotatedRect& r : out.regions_after) r = scaled(r, factor);
  return out;
}
