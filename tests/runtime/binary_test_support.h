#pragma once

#include "tests/runtime/op_test_support.h"

namespace testing_models {

// One element-wise binary operator over the two shapes, against a plain loop.
inline void check_binary(int32_t code, const Dims& a_shape, const Dims& b_shape, const Dims& out_shape,
                         const std::function<float(float, float)>& fn, Options options = {},
                         bool b_constant = false, uint32_t seed = 1, float lo = -2.f, float hi = 2.f) {
  SCOPED_TRACE(testing::Message() << "code " << code);
  ModelBuilder m;
  const auto a = random_floats(count(a_shape), seed, lo, hi);
  const auto bv = random_floats(count(b_shape), seed + 1, lo, hi);
  const int ta = m.tensor(a_shape);
  const int tb = b_constant ? m.constant(b_shape, bv) : m.tensor(b_shape);
  const int out = m.tensor(out_shape);
  m.op(code, {ta, tb}, {out}, options);
  m.inputs(b_constant ? std::vector<int>{ta} : std::vector<int>{ta, tb});
  m.outputs({out});
  std::vector<float> expected;
  for_each_index(out_shape, [&](const std::vector<int>& i) {
    expected.push_back(fn(broadcast_at(a, a_shape, i), broadcast_at(bv, b_shape, i)));
  });
  const auto actual = run_model(m, b_constant ? std::vector<std::vector<float>>{a} : std::vector{a, bv});
  expect_close(actual, expected);
}

// The broadcast patterns of the bundled models plus general ones.
struct BroadcastCase {
  Dims a, b, out;
};
inline std::vector<BroadcastCase> broadcast_cases() {
  return {
      {{1, 5, 7, 3}, {1, 5, 7, 3}, {1, 5, 7, 3}},   // same shape
      {{1, 1, 97, 1}, {}, {1, 1, 97, 1}},           // scalar
      {{1, 1, 9, 1}, {6}, {1, 1, 9, 6}},            // column times row
      {{1, 1, 9, 1}, {1, 1, 9, 6}, {1, 1, 9, 6}},   // per-row
      {{1, 13, 2}, {1, 1, 2}, {1, 13, 2}},          // per-channel
      {{1, 13, 2}, {1, 1, 1}, {1, 13, 2}},          // all-ones
      {{2, 1, 3}, {4, 1}, {2, 4, 3}},               // both sides broadcast
      {{3}, {2, 3, 3}, {2, 3, 3}},                  // lower rank first
  };
}

}  // namespace testing_models
