#pragma once

// A stand-in model file for tracker tests: float inputs of the given shapes
// (read by nothing) and outputs that always hold the given values.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/runtime/model_builder.h"
#include "tests/support/tracker_files.h"

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

// One model of a set replaced by a stand-in, and whether the set then loads.
struct StandIn {
  const char* file;
  std::vector<testing_models::Dims> inputs;
  std::vector<testing_models::Floats> outputs;
  bool loads = true;
  const char* what = "";
};

// Loads `tracker` from a copy of `models` with `s` in place: the error
// message, empty when it loaded.
template <typename Tracker>
std::string load_with(Tracker& tracker, const std::filesystem::path& models, const StandIn& s) {
  ModelsCopy copy(models);
  copy.replace(s.file, fixed_model(s.inputs, s.outputs));
  return copy.load(tracker);
}

// Each stand-in alone: the set loads, or is refused with `message`.
template <typename Tracker>
void expect_loads(const std::filesystem::path& models, const std::string& message,
                  const std::vector<StandIn>& stand_ins) {
  for (const StandIn& s : stand_ins) {
    SCOPED_TRACE(s.what);
    Tracker tracker;
    EXPECT_EQ(load_with(tracker, models, s), s.loads ? "" : message);
  }
}
