#pragma once

#include <cstdint>

// A fixed 5 x 8 bitmap font for printable ASCII: rows from the top, bit 4 of
// each row the leftmost column; row 7 holds descenders only.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;

// The glyph of `c`; characters outside ' '..'~' show as '?'.
const uint8_t* glyph_rows(char c);
