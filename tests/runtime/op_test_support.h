#pragma once

// Plain-loop references and comparisons shared by the operator tests.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "tests/runtime/model_builder.h"

namespace testing_models {

inline size_t count(const Dims& d) {
  size_t n = 1;
  for (int32_t x : d) n *= static_cast<size_t>(x);
  return n;
}

// Element of `values` (shape `shape`) at the broadcast position `index` of an
// output of rank index.size().
inline float broadcast_at(const std::vector<float>& values, const Dims& shape, const std::vector<int>& index) {
  size_t offset = 0;
  const size_t lead = index.size() - shape.size();
  for (size_t d = 0; d < shape.size(); ++d)
    offset = offset * shape[d] + (shape[d] == 1 ? 0 : index[lead + d]);
  return values[offset];
}

// Calls fn(index) for every index of `shape` in row-major order.
inline void for_each_index(const Dims& shape, const std::function<void(const std::vector<int>&)>& fn) {
  std::vector<int> index(shape.size(), 0);
  for (size_t n = count(shape), i = 0; i < n; ++i) {
    fn(index);
    for (int d = static_cast<int>(shape.size()) - 1; d >= 0; --d) {
      if (++index[d] < shape[d]) break;
      index[d] = 0;
    }
  }
}

inline void expect_close(const std::vector<float>& actual, const std::vector<float>& expected, float tol = 1e-5f) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "at " << i;
      continue;
    }
    ASSERT_NEAR(actual[i], expected[i], tol * (1.f + std::fabs(expected[i]))) << "at " << i;
  }
}

// Runs a one-output model and returns its output; fails the test when the
// model does not compile or run.
inline std::vector<float> run_model(const ModelBuilder& b, const std::vector<std::vector<float>>& inputs) {
  Runner r(b.finish());
  EXPECT_TRUE(r.compiled()) << r.error();
  if (!r.compiled()) return {};
  EXPECT_TRUE(r.run(inputs));
  return r.outputs.empty() ? std::vector<float>{} : r.outputs[0];
}

// True when the model fails to compile, with the reason in `error`.
inline bool compile_fails(const ModelBuilder& b, std::string* error = nullptr) {
  Runner r(b.finish());
  if (error) *error = r.error();
  return r.loaded() && !r.compiled();
}

}  // namespace testing_models
