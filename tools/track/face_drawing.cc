#include "tools/track/face_drawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "tools/track/draw.h"

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
