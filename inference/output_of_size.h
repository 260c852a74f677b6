#pragma once

#include <cstddef>
#include <span>

#include "inference/inference_model.h"

// The trackers know a model's outputs only by their float counts: the first
// output (in the model's output order) holding exactly `count` floats, or
// an empty view when there is none. With `skip` = n, the (n+1)-th such
// output. `count` is never 0.
inline std::span<const float> output_of_size(const InferenceModel& model, std::size_t count,
                                             std::size_t skip = 0) {
  for (std::size_t k = 0; k < model.output_count(); ++k) {
    if (model.output(k).size() == count && skip-- == 0) return model.output(k);
  }
  return {};
}

// The same, the last such output (some detector files repeat a size and
// mean the last one).
inline std::span<const float> last_output_of_size(const InferenceModel& model, std::size_t count) {
  for (std::size_t k = model.output_count(); k-- > 0;) {
    if (model.output(k).size() == count) return model.output(k);
  }
  return {};
}
