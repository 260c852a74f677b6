#include "tools/track/json_text.h"

#include <charconv>
#include <cmath>

#include "wire/json_quote.h"

void append_number(std::string& out, float v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

void append_floats(std::string& out, const float* values, std::size_t count) {
  out += '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    append_number(out, values[i]);
  }
  out += ']';
}

void append_key(std::string& out, const char* key, bool first) {
  if (!first) out += ',';
  out += wire::json_quote(key);
  out += ':';
}

void append_ms(std::string& out, double ms) {
  append_number(out, static_cast<float>(std::round(ms * 1000.0) / 1000.0));
}

void append_region(std::string& out, const RotatedRect& r) {
  const float values[5] = {r.cx, r.cy, r.width, r.height, r.rotation};
  append_floats(out, values, 5);
}

void append_points(std::string& out, const Point* points, std::size_t count) {
  out += '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    const float xyz[3] = {points[i].x, points[i].y, points[i].z};
    append_floats(out, xyz, 3);
  }
  out += ']';
}

void append_detection(std::string& out, const Detection& d) {
  out += '{';
  append_key(out, "box", true);
  const float box[4] = {d.xmin, d.ymin, d.xmax, d.ymax};
  append_floats(out, box, 4);
  append_key(out, "score");
  append_number(out, d.score);
  append_key(out, "keypoints");
  out += '[';
  for (std::size_t i = 0; i < d.keypoints.size(); ++i) {
    if (i > 0) out += ',';
    const float xy[2] = {d.keypoints[i].x, d.keypoints[i].y};
    append_floats(out, xy, 2);
  }
  out += "]}";
}
