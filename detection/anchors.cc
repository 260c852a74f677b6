#include "detection/anchors.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>

namespace {

float logistic(float raw) {
  const float clamped = std::clamp(raw, -100.0f, 100.0f);
  return 1.0f / (std::exp(-clamped) + 1.0f);
}

}  // namespace

std::vector<Anchor> ssd_anchors(int input_size, const std::vector<int>& strides) {
  std::vector<Anchor> anchors;
  std::size_t layer_start = 0;
  while (layer_start < strides.size()) {
    const int stride = strides[layer_start];
    std::size_t layer_end = layer_start + 1;
    while (layer_end < strides.size() && strides[layer_end] == stride) ++layer_end;
    const int per_cell = 2 * static_cast<int>(layer_end - layer_start);
    layer_start = layer_end;

    // A stride of 0 would make the grid side infinite; it is a layer without
    // anchors, like any other that leaves no grid.
    if (stride <= 0) continue;
    const int grid = static_cast<int>(
        std::ceil(static_cast<float>(input_size) / static_cast<float>(stride)));
    if (grid <= 0) continue;

    const float side = static_cast<float>(grid);
    for (int row = 0; row < grid; ++row) {
      const float y = (static_cast<float>(row) + 0.5f) / side;
      for (int col = 0; col < grid; ++col) {
        const float x = (static_cast<float>(col) + 0.5f) / side;
        anchors.insert(anchors.end(), static_cast<std::size_t>(per_cell), Anchor{x, y});
      }
    }
  }
  return anchors;
}

std::vector<Detection> decode_detections(std::span<const float> boxes,
                                         std::span<const float> scores,
                                         const std::vector<Anchor>& anchors, int input_size,
                                         int num_keypoints, float threshold,
                                         const RotatedRect& roi) {
  assert(input_size > 0);
  std::vector<Detection> detections;
  const std::size_t n = anchors.size();
  if (n == 0 || num_keypoints < 0) return detections;
  const std::size_t record = (static_cast<std::size_t>(num_keypoints) + 2) * 2;
  if (scores.size() < n || boxes.size() < n * record) return detections;

  const float size = static_cast<float>(input_size);
  for (std::size_t i = 0; i < n; ++i) {
    const float score = logistic(scores[i]);
    // Written so that a score that is not a number fails too: such a
    // candidate would break the ordering that suppression sorts by.
    if (!(score >= threshold)) continue;

    const float* r = boxes.data() + i * record;
    const Anchor& a = anchors[i];
    const float cx = r[0] / size + a.x;
    const float cy = r[1] / size + a.y;
    const float hw = r[2] / size * 0.5f;
    const float hh = r[3] / size * 0.5f;

    Detection d;
    d.score = score;
    d.xmin = ((cx - hw) - 0.5f) * roi.width + roi.cx;
    d.ymin = ((cy - hh) - 0.5f) * roi.height + roi.cy;
    d.xmax = ((cx + hw) - 0.5f) * roi.width + roi.cx;
    d.ymax = ((cy + hh) - 0.5f) * roi.height + roi.cy;
    d.keypoints.resize(static_cast<std::size_t>(num_keypoints));
    for (std::size_t j = 0; j < d.keypoints.size(); ++j) {
      d.keypoints[j].x = (r[4 + 2 * j] / size + a.x - 0.5f) * roi.width + roi.cx;
      d.keypoints[j].y = (r[5 + 2 * j] / size + a.y - 0.5f) * roi.height + roi.cy;
    }
    detections.push_back(std::move(d));
  }
  return detections;
}
