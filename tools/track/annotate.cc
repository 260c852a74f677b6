#include "tools/track/annotate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "tools/track/canvas.h"

namespace {

constexpr Rgb kRegionColor{255, 160, 0};
constexpr Rgb kDetectionColor{80, 160, 255};
constexpr Rgb kLandmarkColor{0, 255, 170};
constexpr Rgb kKeyColor{255, 255, 0};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kAxisColors[3] = {{255, 40, 40}, {40, 255, 40}, {60, 120, 255}};

// Eye corners, nose tip, mouth corners and chin: where a misplaced landmark
// set shows first.
constexpr std::size_t kKeyLandmarks[] = {33, 263, 1, 61, 291, 152};
constexpr std::size_t kNoseTip = 1;
constexpr int kStrongestBlendshapes = 8;

void draw_landmarks(Image& canvas, const std::vector<Point>& landmarks, int unit) {
  for (const Point& p : landmarks) {
    fill_circle(canvas, p.x, p.y, 0.5f + 0.5f * static_cast<float>(unit), kLandmarkColor);
  }
}

void draw_key_landmarks(Image& canvas, const std::vector<Point>& landmarks, int unit) {
  const float u = static_cast<float>(unit);
  for (const std::size_t i : kKeyLandmarks) {
    if (i >= landmarks.size()) continue;
    fill_circle(canvas, landmarks[i].x, landmarks[i].y, 3.0f * u, kBlack);
    fill_circle(canvas, landmarks[i].x, landmarks[i].y, 2.0f * u, kKeyColor);
  }
}

// The rotation's axes as seen by the camera, drawn without perspective. The
// pose's frame has y up and z towards the viewer; the image's y points down.
void draw_pose_axes(Image& canvas, const HeadPose& pose, const Point& origin, float length,
                    int unit) {
  const float x = pose.rotation[0], y = pose.rotation[1], z = pose.rotation[2];
  const float w = pose.rotation[3];
  const float axes[3][2] = {
      {1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w)},
      {2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z)},
      {2.0f * (x * z + y * w), 2.0f * (y * z - x * w)},
  };
  // z first: it points at the viewer and the other two should stay on top.
  for (const int a : {2, 0, 1}) {
    draw_line(canvas, origin.x, origin.y, origin.x + length * axes[a][0],
              origin.y - length * axes[a][1], kAxisColors[a], 2 * unit);
  }
}

void draw_blendshape_bars(Image& canvas, const std::array<float, kBlendshapeCount>& values,
                          int unit) {
  std::array<int, kBlendshapeCount> order;
  std::iota(order.begin(), order.end(), 0);
  // Strongest first; a value that is not a number ranks last.
  const auto rank = [&](int i) { return std::isnan(values[i]) ? -1.0f : values[i]; };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return rank(a) > rank(b); });

  int label_width = 0;
  for (int k = 0; k < kStrongestBlendshapes; ++k) {
    label_width = std::max(label_width, text_width(FaceTracker::kBlendshapeNames[order[k]], unit));
  }
  const int pad = 4 * unit, row = text_height(unit) + 3 * unit;
  const int bar = std::clamp(canvas.width / 5, 20 * unit, 80 * unit);
  const int value_width = text_width("0.00", unit);
  shade_rect(canvas, 0, 0, 4 * pad + label_width + bar + value_width,
             2 * pad + kStrongestBlendshapes * row - 3 * unit, 0.35f);
  for (int k = 0; k < kStrongestBlendshapes; ++k) {
    const int i = order[k], y = pad + k * row;
    draw_text(canvas, pad, y, FaceTracker::kBlendshapeNames[i], kWhite, unit);
    const int bar_x = 2 * pad + label_width;
    draw_bar(canvas, bar_x, y, bar, text_height(unit) - unit, values[i], kRegionColor, kWhite);
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(values[i]));
    draw_text(canvas, bar_x + bar + pad, y, text, kWhite, unit);
  }
}

}  // namespace

void draw_face(Image& canvas, const FaceFrame& face, int unit) {
  if (face.steps.detected) draw_detection(canvas, face.steps.detection, kDetectionColor, unit);
  if (face.steps.ran_landmarks) draw_rotated_rect(canvas, face.steps.roi_used, kRegionColor, unit);
  const std::vector<Point>& landmarks = face.result.landmarks;
  if (landmarks.empty()) return;
  draw_landmarks(canvas, landmarks, unit);
  if (face.result.found && kNoseTip < landmarks.size()) {
    draw_pose_axes(canvas, face.result.pose, landmarks[kNoseTip], 0.35f * face.steps.roi_used.width,
                   unit);
  }
  // Over the axes, which start at the nose tip.
  draw_key_landmarks(canvas, landmarks, unit);
  draw_blendshape_bars(canvas, face.result.blendshapes, unit);
}

std::vector<std::string> face_caption(const FaceFrame& face) {
  char state[80], times[80];
  std::snprintf(state, sizeof state, "face %s -> %s, %s",
                face.steps.tracking_before ? "tracking" : "searching",
                face.tracking_after ? "tracking" : "searching",
                face.result.found ? "found" : "not found");
  std::snprintf(times, sizeof times, "ms det %.1f  lm %.1f  bs %.1f  pose %.2f",
                face.steps.detector_ms, face.steps.landmarks_ms, face.steps.blendshapes_ms,
                face.steps.pose_ms);
  return {state, times};
}

namespace {

constexpr Rgb kPalmColor{230, 80, 255};

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
