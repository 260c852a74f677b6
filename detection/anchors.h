#pragma once

#include <vector>

// Centre of one detector anchor, as fractions (0..1) of the detector input's
// width and height. Anchors have unit size: regressed box sizes are relative
// to the input size alone.
struct Anchor {
  float x = 0.0f;
  float y = 0.0f;
};

// The anchor grid of a single-shot detector, in the order of the detector's
// output records. Consecutive equal strides form one layer with two anchors
// per grid cell and per stride; each layer's grid side is
// ceil(input_size / stride). A stride or grid side below 1 adds nothing.
std::vector<Anchor> ssd_anchors(int input_size, const std::vector<int>& strides);
