#include "tools/track/draw.h"

#include <algorithm>
#include <cmath>

#include "tools/track/font5x8.h"

namespace {

// The overlap of [x, x + w) x [y, y + h) with the image, empty when none.
struct Span {
  int x0, y0, x1, y1;
};

Span clip(const Image& image, long x, long y, long w, long h) {
  const auto bound = [](long v, long hi) { return static_cast<int>(std::clamp(v, 0L, hi)); };
  return {bound(x, image.width), bound(y, image.height), bound(x + std::max(w, 0L), image.width),
          bound(y + std::max(h, 0L), image.height)};
}

uint8_t* pixel(Image& image, int x, int y) {
  return &image.pixels[3 * (static_cast<std::size_t>(y) * image.width + x)];
}

void put(Image& image, int x, int y, Rgb color) {
  uint8_t* p = pixel(image, x, y);
  p[0] = color.r;
  p[1] = color.g;
  p[2] = color.b;
}

// Narrows the segment to the part with both coordinates in [lo, hi]
// (Liang-Barsky); false when nothing is left.
bool clip_segment(float& x0, float& y0, float& x1, float& y1, float lo, float hi_x, float hi_y) {
  float t0 = 0.0f, t1 = 1.0f;
  const float dx = x1 - x0, dy = y1 - y0;
  const float p[4] = {-dx, dx, -dy, dy};
  const float q[4] = {x0 - lo, hi_x - x0, y0 - lo, hi_y - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0f) {
      if (q[i] < 0.0f) return false;
      continue;
    }
    const float t = q[i] / p[i];
    if (p[i] < 0.0f) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const float sx = x0, sy = y0;
  x0 = sx + t0 * dx;
  y0 = sy + t0 * dy;
  x1 = sx + t1 * dx;
  y1 = sy + t1 * dy;
  return true;
}

bool finite(float a, float b, float c, float d) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

}  // namespace

void draw_line(Image& image, float x0, float y0, float x1, float y1, Rgb color, int thickness) {
  if (!finite(x0, y0, x1, y1)) return;
  thickness = std::max(thickness, 1);
  // Clipped first, so that a far-away end cannot make the walk long.
  const float margin = static_cast<float>(thickness);
  if (!clip_segment(x0, y0, x1, y1, -margin, static_cast<float>(image.width) + margin,
                    static_cast<float>(image.height) + margin)) {
    return;
  }
  const int steps = static_cast<int>(std::ceil(std::max(std::abs(x1 - x0), std::abs(y1 - y0))));
  const int half = thickness / 2;
  for (int i = 0; i <= steps; ++i) {
    const float t = steps == 0 ? 0.0f : static_cast<float>(i) / static_cast<float>(steps);
    const long x = std::lround(x0 + t * (x1 - x0)) - half;
    const long y = std::lround(y0 + t * (y1 - y0)) - half;
    const Span s = clip(image, x, y, thickness, thickness);
    for (int yy = s.y0; yy < s.y1; ++yy) {
      for (int xx = s.x0; xx < s.x1; ++xx) put(image, xx, yy, color);
    }
  }
}

void fill_circle(Image& image, float cx, float cy, float radius, Rgb color) {
  if (!finite(cx, cy, radius, 0.0f) || radius < 0.0f) return;
  // Bounds clamped to the image while still floats, so no radius or centre
  // can overflow the conversion to pixels.
  const float x0 = std::max(std::floor(cx - radius), 0.0f);
  const float y0 = std::max(std::floor(cy - radius), 0.0f);
  const float x1 = std::min(std::ceil(cx + radius) + 1.0f, static_cast<float>(image.width));
  const float y1 = std::min(std::ceil(cy + radius) + 1.0f, static_cast<float>(image.height));
  if (x0 >= x1 || y0 >= y1) return;
  const float r2 = radius * radius + 0.25f;
  for (int y = static_cast<int>(y0); y < static_cast<int>(y1); ++y) {
    for (int x = static_cast<int>(x0); x < static_cast<int>(x1); ++x) {
      const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
      if (dx * dx + dy * dy <= r2) put(image, x, y, color);
    }
  }
}

void draw_rotated_rect(Image& image, const RotatedRect& rect, Rgb color, int thickness) {
  const float c = std::cos(rect.rotation), s = std::sin(rect.rotation);
  const float hw = rect.width * 0.5f, hh = rect.height * 0.5f;
  // Corners in the rectangle's own frame: x along (c, s), y along (-s, c).
  const float local[4][2] = {{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}};
  float x[4], y[4];
  for (int i = 0; i < 4; ++i) {
    x[i] = rect.cx + local[i][0] * c - local[i][1] * s;
    y[i] = rect.cy + local[i][0] * s + local[i][1] * c;
  }
  for (int i = 0; i < 4; ++i) {
    draw_line(image, x[i], y[i], x[(i + 1) % 4], y[(i + 1) % 4], color, thickness);
  }
  const float top_x = (x[0] + x[1]) * 0.5f, top_y = (y[0] + y[1]) * 0.5f;
  const float tick = 0.1f * rect.height;
  draw_line(image, top_x, top_y, top_x - s * tick, top_y + c * tick, color, thickness);
}

void draw_box(Image& image, float x0, float y0, float x1, float y1, Rgb color, int thickness) {
  draw_line(image, x0, y0, x1, y0, color, thickness);
  draw_line(image, x1, y0, x1, y1, color, thickness);
  draw_line(image, x1, y1, x0, y1, color, thickness);
  draw_line(image, x0, y1, x0, y0, color, thickness);
}

void draw_detection(Image& image, const Detection& d, Rgb color, int unit) {
  draw_box(image, d.xmin, d.ymin, d.xmax, d.ymax, color, unit);
  for (std::size_t i = 0; i < d.keypoints.size(); ++i) {
    const Point& p = d.keypoints[i];
    fill_circle(image, p.x, p.y, 2.5f * static_cast<float>(unit), color);
    draw_text(image, text_position(p.x) + 3 * unit, text_position(p.y) - 3 * unit,
              std::to_string(i), Rgb{255, 255, 255}, unit);
  }
}

int text_position(float v) {
  constexpr float kFar = 1e6f;
  return std::isfinite(v) ? static_cast<int>(std::clamp(v, -kFar, kFar)) : -1'000'000;
}

void fill_rect(Image& image, int x, int y, int w, int h, Rgb color) {
  const Span s = clip(image, x, y, w, h);
  for (int yy = s.y0; yy < s.y1; ++yy) {
    for (int xx = s.x0; xx < s.x1; ++xx) put(image, xx, yy, color);
  }
}

void shade_rect(Image& image, int x, int y, int w, int h, float keep) {
  const Span s = clip(image, x, y, w, h);
  const float k = std::clamp(keep, 0.0f, 1.0f);
  for (int yy = s.y0; yy < s.y1; ++yy) {
    for (int xx = s.x0; xx < s.x1; ++xx) {
      uint8_t* p = pixel(image, xx, yy);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(static_cast<float>(p[c]) * k);
    }
  }
}

int text_width(const std::string& text, int scale) {
  if (text.empty()) return 0;
  return static_cast<int>(text.size()) * (kGlyphWidth + 1) * scale - scale;
}

int text_height(int scale) { return kGlyphHeight * scale; }

void draw_text(Image& image, int x, int y, const std::string& text, Rgb color, int scale) {
  for (const char ch : text) {
    const uint8_t* rows = glyph_rows(ch);
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (rows[row] & (0x10 >> col)) {
          fill_rect(image, x + col * scale, y + row * scale, scale, scale, color);
        }
      }
    }
    x += (kGlyphWidth + 1) * scale;
  }
}

void draw_bar(Image& image, int x, int y, int length, int height, float value, Rgb fill,
              Rgb frame) {
  const float v = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
  fill_rect(image, x, y, static_cast<int>(std::lround(v * static_cast<float>(length))), height,
            fill);
  draw_box(image, static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + length - 1),
           static_cast<float>(y + height - 1), frame, 1);
}
