#pragma once

// How much of the last pose an avatar keeps when tracking loses a face or a
// hand: all of it for `hold` seconds, so a moment's loss does not snap, then
// down to none (the rest pose) over `ease` seconds along a smooth curve.
struct Fade {
  float hold = 1.0f;
  float ease = 1.0f;
};

// The share of the last pose, 1 to 0, `since` seconds after it was last seen.
float held_share(const Fade& fade, double since);
