#pragma once

#include <set>

#include "tests/runtime/op_test_support.h"

namespace testing_models {

// MEAN or SUM over `axes` against a plain loop.
inline void check_reduce(int32_t code, const Dims& shape, const std::vector<int32_t>& axes, bool keep_dims,
                         bool scalar_axis = false) {
  SCOPED_TRACE(testing::Message() << "code " << code << " keep " << keep_dims);
  std::set<int> reduced;
  for (int a : axes) reduced.insert(a < 0 ? a + static_cast<int>(shape.size()) : a);
  Dims out_shape, kept_shape;
  for (int d = 0; d < static_cast<int>(shape.size()); ++d) {
    if (!reduced.count(d)) {
      out_shape.push_back(shape[d]);
      kept_shape.push_back(shape[d]);
    } else if (keep_dims) {
      out_shape.push_back(1);
    }
  }
  const auto x = random_floats(count(shape), 77);
  std::vector<double> sums(count(kept_shape), 0.0);
  size_t per_output = 1;
  for (int d : reduced) per_output *= static_cast<size_t>(shape[d]);
  for_each_index(shape, [&, i = size_t{0}](const std::vector<int>& index) mutable {
    size_t o = 0;
    for (int d = 0; d < static_cast<int>(shape.size()); ++d)
      if (!reduced.count(d)) o = o * shape[d] + index[d];
    sums[o] += x[i++];
  });
  std::vector<float> expected;
  for (double s : sums) expected.push_back(static_cast<float>(code == kMean ? s / per_output : s));
  ModelBuilder m;
  const int in = m.tensor(shape), out = m.tensor(out_shape);
  const int axes_tensor =
      scalar_axis ? m.constant_ints({}, axes) : m.constant_ints({static_cast<int32_t>(axes.size())}, axes);
  m.op(code, {in, axes_tensor}, {out}, reducer_options(keep_dims));
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), expected, 1e-5f);
}

}  // namespace testing_models
