#pragma once

// A rectangle turned about its centre. Its own x axis points along
// (cos rotation, sin rotation) in image coordinates, so a positive rotation
// turns it clockwise on screen (y points down). A plain value.
struct RotatedRect {
  float cx = 0.0f;      // centre, image pixels
  float cy = 0.0f;
  float width = 0.0f;   // extent along the rectangle's own x axis
  float height = 0.0f;  // extent along its own y axis
  float rotation = 0.0f;  // radians
};
