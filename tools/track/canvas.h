#pragma once

// Drawing primitives, the bitmap font and PNG output for the track tool's
// annotated frames.

#include <cstdint>
#include <string>

#include "core/rotated_rect.h"
#include "detection/detection.h"
#include "image/image.h"

// A fixed 5 x 8 bitmap font for printable ASCII: rows from the top, bit 4 of
// each row the leftmost column; row 7 holds descenders only.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;

// The glyph of `c`; characters outside ' '..'~' show as '?'.
const uint8_t* glyph_rows(char c);

// Drawing on an RGB image for annotated debug frames. Every primitive clips
// to the image, so shapes partly or wholly outside it (or with coordinates
// that are not finite) draw what is inside and nothing else.

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};

// A line `thickness` pixels wide from (x0, y0) to (x1, y1).
void draw_line(Image& image, float x0, float y0, float x1, float y1, Rgb color, int thickness);

// A filled disc.
void fill_circle(Image& image, float cx, float cy, float radius, Rgb color);

// The outline of `rect` (image pixels) with a short tick from the middle of
// its top edge inwards, so the region's "up" is visible when turned.
void draw_rotated_rect(Image& image, const RotatedRect& rect, Rgb color, int thickness);

// The outline of the axis-aligned box from (x0, y0) to (x1, y1).
void draw_box(Image& image, float x0, float y0, float x1, float y1, Rgb color, int thickness);

// A detector's box and its keypoints, each numbered in white; `unit` is the
// width of a thin line.
void draw_detection(Image& image, const Detection& d, Rgb color, int unit);

// A pixel position for text; anything not finite or far outside any frame
// lands off the image, where nothing is drawn.
int text_position(float v);

// Fills the w x h pixels from (x, y).
void fill_rect(Image& image, int x, int y, int w, int h, Rgb color);

// Darkens the w x h pixels from (x, y) to `keep` (0..1) of their brightness,
// a backdrop that keeps text readable on any picture.
void shade_rect(Image& image, int x, int y, int w, int h, float keep);

// Width and height in pixels of `text` drawn at `scale` (each font pixel a
// scale x scale block, one font pixel between characters).
int text_width(const std::string& text, int scale);
int text_height(int scale);

// `text` with its top-left corner at (x, y).
void draw_text(Image& image, int x, int y, const std::string& text, Rgb color, int scale);

// A horizontal bar `length` x `height` pixels from (x, y), filled to `value`
// (clamped to 0..1) of its length, outlined in `frame`.
void draw_bar(Image& image, int x, int y, int length, int height, float value, Rgb fill, Rgb frame);

// Writes `image` as an 8-bit RGB PNG file at `path`: lossless, so thin
// coloured marks keep their exact colour. On failure returns false with a
// message naming the path.
bool write_png(const std::string& path, const Image& image, std::string& error);
