// NEG, SQRT, RSQRT, LOGISTIC, RELU and RELU6 share one element-wise path;
// each is checked against its formula, including values at the edges.
#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

void check_unary(int32_t code, const std::function<float(float)>& fn, std::vector<float> x) {
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

std::vector<float> with_edges(std::vector<float> v) {
  v.insert(v.end(), {0.f, -0.f, 1e-30f, -80.f, 80.f, 6.f, 7.5f});
  return v;
}

TEST(UnaryOps, MatchTheirFormulas) {
  const auto x = with_edges(random_floats(37, 7, -10.f, 10.f));
  const auto positive = random_floats(41, 8, 1e-3f, 50.f);
  check_unary(kNeg, [](float v) { return -v; }, x);
  check_unary(kSqrt, [](float v) { return std::sqrt(v); }, positive);
  check_unary(kRsqrt, [](float v) { return 1.f / std::sqrt(v); }, positive);
  check_unary(kLogistic, [](float v) { return 1.f / (1.f + std::exp(-v)); }, x);
  check_unary(kRelu, [](float v) { return v > 0 ? v : 0.f; }, x);
  check_unary(kRelu6, [](float v) { return std::min(std::max(v, 0.f), 6.f); }, x);
}

TEST(UnaryOps, NaNStaysNaN) {
  const float nan = std::nanf("");
  check_unary(kRelu, [](float v) { return v; }, {nan});
  check_unary(kLogistic, [](float v) { return v; }, {nan});
  check_unary(kRsqrt, [](float v) { return v; }, {nan});
}

TEST(UnaryOps, LogisticSaturatesWithoutOverflow) {
  ModelBuilder m;
  const int in = m.tensor({2}), out = m.tensor({2});
  m.op(kLogistic, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  const auto r = run_model(m, {{-1000.f, 1000.f}});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], 0.f);
  EXPECT_EQ(r[1], 1.f);
}

}  // namespace
}  // namespace testing_models
