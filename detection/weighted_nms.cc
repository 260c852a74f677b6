#include "detection/weighted_nms.h"

#include <algorithm>
#include <cassert>

namespace {

// Intersection over union of two axis-aligned boxes given by their edges;
// 0 when they do not overlap or neither has area.
float box_overlap(const Detection& a, const Detection& b) {
  const float ix = std::min(a.xmax, b.xmax) - std::max(a.xmin, b.xmin);
  if (ix <= 0.0f) return 0.0f;
  const float iy = std::min(a.ymax, b.ymax) - std::max(a.ymin, b.ymin);
  if (iy <= 0.0f) return 0.0f;
  const float intersection = ix * iy;
  const float united = (a.xmax - a.xmin) * (a.ymax - a.ymin) +
                       (b.xmax - b.xmin) * (b.ymax - b.ymin) - intersection;
  if (united <= 0.0f) return 0.0f;
  return intersection / united;
}

// Blends the group headed by candidates[head] and marks its members absorbed.
Detection merge_group(const std::vector<Detection>& candidates, std::size_t head,
                      float iou_threshold, std::vector<bool>& absorbed) {
  const Detection& first = candidates[head];
  Detection merged;
  merged.score = first.score;
  merged.keypoints.resize(first.keypoints.size());

  float weight_sum = 0.0f;
  for (std::size_t j = head; j < candidates.size(); ++j) {
    if (absorbed[j]) continue;
    const Detection& c = candidates[j];
    if (!(box_overlap(first, c) >= iou_threshold)) continue;
    assert(c.keypoints.size() >= first.keypoints.size());
    absorbed[j] = true;
    const float w = c.score;
    weight_sum += w;
    merged.xmin += w * c.xmin;
    merged.ymin += w * c.ymin;
    merged.xmax += w * c.xmax;
    merged.ymax += w * c.ymax;
    for (std::size_t k = 0; k < merged.keypoints.size(); ++k) {
      merged.keypoints[k].x += w * c.keypoints[k].x;
      merged.keypoints[k].y += w * c.keypoints[k].y;
    }
  }

  // A head without area (or with only zero scores in its group) gathers no
  // weight; dividing would make the whole detection NaN, so it stands as is.
  if (!(weight_sum > 0.0f)) {
    Detection unchanged = first;
    for (Point& p : unchanged.keypoints) p.z = 0.0f;
    return unchanged;
  }
  merged.xmin /= weight_sum;
  merged.ymin /= weight_sum;
  merged.xmax /= weight_sum;
  merged.ymax /= weight_sum;
  for (Point& p : merged.keypoints) {
    p.x /= weight_sum;
    p.y /= weight_sum;
  }
  return merged;
}

}  // namespace

std::vector<Detection> weighted_nms(std::vector<Detection> detections, float iou_threshold,
                                    std::size_t max_count) {
  std::sort(detections.begin(), detections.end(),
            [](const Detection& a, const Detection& b) { return a.score > b.score; });
  std::vector<bool> absorbed(detections.size(), false);
  std::vector<Detection> result;
  for (std::size_t i = 0; i < detections.size(); ++i) {
    if (result.size() >= max_count) break;
    if (absorbed[i]) continue;
    result.push_back(merge_group(detections, i, iou_threshold, absorbed));
  }
  return result;
}
