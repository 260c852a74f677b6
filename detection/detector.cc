#include "detection/detector.h"

#include <cassert>
#include <span>

#include "detection/regions.h"
#include "detection/weighted_nms.h"
#include "image/crop.h"
#include "inference/output_of_size.h"

namespace {

std::size_t box_values(const DetectorDescription& desc) {
  return desc.anchor_count * (4 + 2 * static_cast<std::size_t>(desc.keypoints));
}

// The description's output of `count` floats; empty when there is none.
std::span<const float> output_of(const InferenceModel& model, const DetectorDescription& desc,
                                 std::size_t count) {
  return desc.last_output_of_size ? last_output_of_size(model, count)
                                  : output_of_size(model, count);
}

}  // namespace

bool detector_fits(const InferenceModel& model, const DetectorDescription& desc) {
  const std::size_t input = static_cast<std::size_t>(desc.input_size) * desc.input_size * 3;
  return model.input_count() == 1 && model.input(0).size() == input &&
         !output_of(model, desc, box_values(desc)).empty() &&
         !output_of(model, desc, desc.anchor_count).empty();
}

std::vector<Anchor> detector_anchors(const DetectorDescription& desc) {
  return ssd_anchors(desc.input_size, {8, 16, 16, 16});
}

std::vector<Detection> detect(InferenceModel& model, const DetectorDescription& desc,
                              const std::vector<Anchor>& anchors, const Image& image,
                              std::size_t max_detections) {
  const RotatedRect rect = letterbox_rect(image);
  crop_to_tensor(image, rect, desc.input_size, desc.input_size, desc.input_min, desc.input_max,
                 model.input(0).data());
  if (!model.run()) return {};
  const std::span<const float> boxes = output_of(model, desc, box_values(desc));
  const std::span<const float> scores = output_of(model, desc, desc.anchor_count);
  assert(!boxes.empty() && !scores.empty());
  return weighted_nms(decode_detections(boxes, scores, anchors, desc.input_size, desc.keypoints,
                                        desc.min_score, rect),
                      desc.suppression_overlap, max_detections);
}

RotatedRect detection_region(const Detection& d, const DetectorDescription& desc) {
  const RotatedRect box{(d.xmin + d.xmax) * 0.5f, (d.ymin + d.ymax) * 0.5f, d.xmax - d.xmin,
                        d.ymax - d.ymin,
                        rect_rotation(d.keypoints[desc.axis_from], d.keypoints[desc.axis_to],
                                      desc.axis_degrees)};
  return transform_rect(box, desc.region_scale, desc.region_shift);
}
