#include "detection/decode_detections.h"

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

std::vector<Detection> decode_detections(const FloatArray& boxes, const FloatArray& scores,
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
