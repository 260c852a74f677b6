#include "tools/track/hand_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/track/draw.h"

namespace {

constexpr Rgb kRegionColor{255, 160, 0};
constexpr Rgb kPalmColor{230, 80, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

struct Bone {
  int from, to;
  Rgb color;
};

constexpr Rgb kThumb{255, 60, 60};
constexpr Rgb kIndex{255, 220, 0};
constexpr Rgb kMiddle{60, 230, 60};
constexpr Rgb kRing{0, 200, 255};
constexpr Rgb kLittle{120, 100, 255};
// The wrist to each finger's base and along it, and the knuckle line across
// the palm; the middle and ring fingers hang from that line.
constexpr Bone kBones[] = {
    {0, 1, kThumb},    {1, 2, kThumb},    {2, 3, kThumb},    {3, 4, kThumb},   {0, 5, kIndex},
    {5, 6, kIndex},    {6, 7, kIndex},    {7, 8, kIndex},    {9, 10, kMiddle}, {10, 11, kMiddle},
    {11, 12, kMiddle}, {13, 14, kRing},   {14, 15, kRing},   {15, 16, kRing},  {0, 17, kLittle},
    {17, 18, kLittle}, {18, 19, kLittle}, {19, 20, kLittle}, {5, 9, kWhite},   {9, 13, kWhite},
    {13, 17, kWhite},
};

// Marks shrink on a small hand, so that its joints stay apart.
void draw_skeleton(Image& canvas, const HandResult& hand, int unit) {
  float x0 = hand.landmarks[0].x, x1 = x0, y0 = hand.landmarks[0].y, y1 = y0;
  for (const Point& p : hand.landmarks) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  const float u = static_cast<float>(unit);
  const bool small = std::max(x1 - x0, y1 - y0) < 80.0f * u;
  for (const Bone& b : kBones) {
    const Point& p = hand.landmarks[b.from];
    const Point& q = hand.landmarks[b.to];
    draw_line(canvas, p.x, p.y, q.x, q.y, b.color, small ? unit : 2 * unit);
  }
  for (const Point& p : hand.landmarks) {
    fill_circle(canvas, p.x, p.y, (small ? 1.5f : 3.0f) * u, kBlack);
    fill_circle(canvas, p.x, p.y, (small ? 0.75f : 2.0f) * u, kWhite);
  }
}

// "R 0.97" on a dark backdrop just above the hand, or below it when the
// hand touches the top of the frame.
void draw_side_label(Image& canvas, const HandResult& hand, int unit) {
  float left = hand.landmarks[0].x, top = hand.landmarks[0].y, bottom = top;
  for (const Point& p : hand.landmarks) {
    left = std::min(left, p.x);
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%s %.2f", hand_side(hand.handedness),
                static_cast<double>(hand.handedness_score));
  const int scale = 2 * unit, pad = 2 * unit;
  const int w = text_width(text, scale) + 2 * pad, h = text_height(scale) + 2 * pad;
  const int x = text_position(left);
  int y = text_position(top) - h - 4 * unit;
  if (y < 0) y = text_position(bottom) + 4 * unit;
  shade_rect(canvas, x, y, w, h, 0.3f);
  draw_text(canvas, x + pad, y + pad, text, kWhite, scale);
}

}  // namespace

// The landmark model's handedness value of 0.5 and above goes with a right
// hand as the picture shows it: on the annotated stills, backs of hands with
// the fingers up and the thumb on the right (left hands) come out below 0.5.
const char* hand_side(bool handedness) { return handedness ? "R" : "L"; }

void draw_hands(Image& canvas, const HandFrame& hands, int unit) {
  if (hands.steps.ran_detector) {
    for (const Detection& palm : hands.steps.palms) draw_detection(canvas, palm, kPalmColor, unit);
  }
  for (const RotatedRect& region : hands.steps.regions_used) {
    draw_rotated_rect(canvas, region, kRegionColor, unit);
  }
  for (const HandResult& hand : hands.hands) draw_skeleton(canvas, hand, unit);
  // Over every skeleton, so that one hand does not hide the other's label.
  for (const HandResult& hand : hands.hands) draw_side_label(canvas, hand, unit);
}

std::vector<std::string> hands_caption(const HandFrame& hands) {
  char state[96], times[64];
  if (hands.steps.ran_detector) {
    std::snprintf(state, sizeof state, "hands %zu followed, detector: %zu palms -> %zu found",
                  hands.steps.followed_before, hands.steps.palms.size(), hands.hands.size());
  } else {
    std::snprintf(state, sizeof state, "hands %zu followed -> %zu found",
                  hands.steps.followed_before, hands.hands.size());
  }
  std::snprintf(times, sizeof times, "ms det %.1f  lm %.1f", hands.steps.detector_ms,
                hands.steps.landmarks_ms);
  return {state, times};
}
