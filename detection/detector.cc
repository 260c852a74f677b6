#include "detection/detector.h"

#include <cassert>
#include <span>

#include "detection/regions.h"
#include "detection/weighted_nms.h"
#include "image/crop.h"

namespace {

std::size_t box_values(const DetectorDescription& desc) {
  return desc.anchor_count * (4 + 2 * static_cast<std::size_t>(desc.keypoints));
}

// Empty when the model has no output of `count` floats.
std::span<const float> output_of_size(const InferenceModel& model, std::size_t count, bool last) {
  std::span<const float> found;
  for (std::size_t k = 0; k < model.output_count(); ++k) {
    if (model.output(k).size() != count) continue;
    found = model.output(k);
    if (!last) break;
  }
  return found;
}

}  // namespace

bool detector_fits(const InferenceModel& model, const DetectorDescription& desc) {
  const std::size_t input = static_cast<std::size_t>(desc.input_size) * desc.input_size * 3;
  return model.input_count() == 1 && model.input(0).size() == input &&
         !output_of_size(model, box_values(desc), desc.last_output_of_size).empty() &&
         !output_of_size(model, desc.anchor_count, desc.last_output_of_size).empty();
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
  const std::span<const float> boxes =
      output_of_size(model, box_values(desc), desc.last_output_of_size);
  const std::span<const float> scores =
      output_of_size(model, desc.anchor_count, desc.last_output_of_size);
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
