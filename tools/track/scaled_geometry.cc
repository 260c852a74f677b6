#include "tools/track/scaled_geometry.h"

Point scaled(Point p, float factor) { return {p.x * factor, p.y * factor, p.z * factor}; }

RotatedRect scaled(RotatedRect r, float factor) {
  return {r.cx * factor, r.cy * factor, r.width * factor, r.height * factor, r.rotation};
}

Detection scaled(const Detection& d, float factor) {
  Detection out = d;
  out.xmin *= factor;
  out.ymin *= factor;
  out.xmax *= factor;
  out.ymax *= factor;
  for (Point& p : out.keypoints) p = scaled(p, factor);
  return out;
}
