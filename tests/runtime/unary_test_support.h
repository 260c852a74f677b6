#pragma once

#include "tests/runtime/op_test_support.h"

namespace testing_models {

// One single-input operator over a 1-D tensor against its formula.
inline void check_unary(int32_t code, const std::function<float(float)>& fn, std::vector<float> x) {
  SCOPED_TRACE(testing::Message() << "code " << code);
  ModelBuilder m;
  const int in = m.tensor({static_cast<int32_t>(x.size())}), out = m.tensor({static_cast<int32_t>(x.size())});
  m.op(code, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  std::vector<float> expected;
  for (float v : x) expected.push_back(fn(v));
  expect_close(run_model(m, {x}), expected);
}

// Random values plus the edges: signed zeros, tiny, large, the RELU6 bound.
inline std::vector<float> unary_inputs(uint32_t seed) {
  auto v = random_floats(37, seed, -10.f, 10.f);
  v.insert(v.end(), {0.f, -0.f, 1e-30f, -80.f, 80.f, 6.f, 7.5f});
  return v;
}

inline bool is_nan_after(int32_t code, float x) {
  ModelBuilder m;
  const int in = m.tensor({1}), out = m.tensor({1});
  m.op(code, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  const auto r = run_model(m, {{x}});
  return r.size() == 1 && std::isnan(r[0]);
}

}  // namespace testing_models
