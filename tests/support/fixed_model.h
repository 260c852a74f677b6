#pragma once

// A stand-in model file for tracker tests: float inputs of the given shapes
// (read by nothing) and outputs that always hold the given values.
#include <algorithm>
#include <vector>

#include "tests/runtime/model_builder.h"

inline std::vector<uint8_t> fixed_model(const std::vector<testing_models::Dims>& inputs,
                                        const std::vector<testing_models::Floats>& outputs) {
  using namespace testing_models;
  ModelBuilder m;
  std::vector<int> in, out;
  for (const Dims& shape : inputs) in.push_back(m.tensor(shape));
  for (const Floats& values : outputs) {
    Floats negated(values.size());
    std::transform(values.begin(), values.end(), negated.begin(), [](float v) { return -v; });
    const Dims shape{1, static_cast<int32_t>(values.size())};
    out.push_back(m.op(kNeg, {m.constant(shape, negated)}, shape));
  }
  m.io(in, out);
  return m.finish();
}
