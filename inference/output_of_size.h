#pragma once

#include <cstddef>

#include "inference/inference_model.h"

// The trackers know a model's outputs only by their float counts: the first
// output (in the model's output order) holding exactly `count` floats, or
// null when there is none. With `skip` = n, the (n+1)-th such output.
inline const FloatArray* output_of_size(const InferenceModel& model, std::size_t count,
                                        std::size_t skip = 0) {
  for (const FloatArray& output : model.outputs) {
    if (output.size() == count && skip-- == 0) return &output;
  }
  return nullptr;
}
