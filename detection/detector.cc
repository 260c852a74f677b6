#include "detection/detector.h"

#include <cassert>
#include <span>

#include "detection/regions.h"
#include "detection/weighted_nms.h"
#include "image/crop.h"

namespace {

std::size_t box_values(const DetectorSpec& spec) {
  return spec.anchor_count * (4 + 2 * static_cast<std::size_t>(spec.keypoints));
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

bool detector_fits(const InferenceModel& model, const DetectorSpec& spec) {
  const std::size_t input = static_cast<std::size_t>(spec.input_size) * spec.input_size * 3;
  return model.input_count() == 1 && model.input(0).size() == input &&
         !output_of_size(model, box_values(spec), spec.last_output_of_size).empty() &&
         !output_of_size(model, spec.anchor_count, spec.last_output_of_size).empty();
}

std::vector<Anchor> detector_anchors(const DetectorSpec& spec) {
  return ssd_anchors(spec.input_size, {8, 16, 16, 16});
}

std::vector<Detection> detect(InferenceModel& model, const DetectorSpec& spec,
                              const std::vector<Anchor>& anchors, const Image& image,
                              std::size_t max_detections) {
  const RotatedRect rect = letterbox_rect(image);
  crop_to_tensor(image, rect, spec.input_size, spec.input_size, spec.input_min, spec.input_max,
                 model.input(0).data());
  if (!model.run()) return {};
  const std::span<const float> boxes =
      output_of_size(model, box_values(spec), spec.last_output_of_size);
  const std::span<const float> scores =
      output_of_size(model, spec.anchor_count, spec.last_output_of_size);
  assert(!boxes.empty() && !scores.empty());
  return weighted_nms(decode_detections(boxes, scores, anchors, spec.input_size, spec.keypoints,
                                        spec.min_score, rect),
                      spec.suppression_overlap, max_detections);
}

RotatedRect detection_region(const Detection& d, const DetectorSpec& spec) {
  const RotatedRect box{(d.xmin + d.xmax) * 0.5f, (d.ymin + d.ymax) * 0.5f, d.xmax - d.xmin,
                        d.ymax - d.ymin,
                        rect_rotation(d.keypoints[spec.axis_from], d.keypoints[spec.axis_to],
                                      spec.axis_degrees)};
  return transform_rect(box, spec.region_scale, spec.region_shift);
}
