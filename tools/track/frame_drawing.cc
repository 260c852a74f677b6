#include "tools/track/frame_drawing.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tools/track/draw.h"
#include "tools/track/face_drawing.h"
#include "tools/track/hand_drawing.h"

namespace {

// Frames whose shorter side is below this are drawn enlarged by a whole
// factor (at most kMaxEnlargement), so that landmarks stay apart and the
// labels do not cover the face.
constexpr int kMinDrawnSide = 480;
constexpr int kMaxEnlargement = 4;
// A long thin frame is not enlarged past this many pixels.
constexpr long long kMaxEnlargedPixels = 4096LL * 4096;

int enlargement(const Image& image) {
  const int side = std::min(image.width, image.height);
  if (side <= 0 || side >= kMinDrawnSide) return 1;
  const int factor = std::min((kMinDrawnSide + side - 1) / side, kMaxEnlargement);
  const long long pixels = static_cast<long long>(image.width) * image.height * factor * factor;
  return pixels > kMaxEnlargedPixels ? 1 : factor;
}

Image enlarged(const Image& image, int factor) {
  Image out;
  out.width = image.width * factor;
  out.height = image.height * factor;
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* from =
          &image.pixels[3 * (static_cast<std::size_t>(y / factor) * image.width + x / factor)];
      std::copy(from, from + 3, &out.pixels[3 * (static_cast<std::size_t>(y) * out.width + x)]);
    }
  }
  return out;
}

// Line width in pixels: one up to about 720-pixel frames, then growing, so
// the marks stay visible on large stills.
int drawing_unit(const Image& image) {
  return std::max(1, (std::min(image.width, image.height) + 240) / 480);
}

// The caption goes on a black strip added below the frame, where it hides
// nothing: hands often come in at the bottom of the picture.
void add_caption(Image& canvas, const std::vector<std::string>& lines, int unit) {
  const int pad = 3 * unit, row = text_height(unit) + 2 * unit;
  const int top = canvas.height;
  canvas.height += static_cast<int>(lines.size()) * row + 2 * pad - 2 * unit;
  canvas.pixels.resize(static_cast<std::size_t>(canvas.width) * canvas.height * 3, 0);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    draw_text(canvas, pad, top + pad + static_cast<int>(i) * row, lines[i], Rgb{255, 255, 255},
              unit);
  }
}

}  // namespace

Image draw_frame(const Image& image, const FrameRecord& record) {
  const int factor = enlargement(image);
  Image canvas = factor == 1 ? image : enlarged(image, factor);
  const int unit = drawing_unit(canvas);
  std::vector<std::string> caption = {record.name};
  const float f = static_cast<float>(factor);
  if (record.face) {
    draw_face(canvas, factor == 1 ? *record.face : scaled(*record.face, f), unit);
    const std::vector<std::string> lines = face_caption(*record.face);
    caption.insert(caption.end(), lines.begin(), lines.end());
  }
  if (record.hands) {
    draw_hands(canvas, factor == 1 ? *record.hands : scaled(*record.hands, f), unit);
    const std::vector<std::string> lines = hands_caption(*record.hands);
    caption.insert(caption.end(), lines.begin(), lines.end());
  }
  add_caption(canvas, caption, unit);
  return canvas;
}
