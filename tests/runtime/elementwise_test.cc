// Element-wise operators against their formulas: binary ones over every
// broadcast pattern, unary ones over random values and their edge cases.
#include <limits>

#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

using Fn2 = float (*)(float, float);

// One binary operator; its second operand is a constant when `constant` holds values.
ModelBuilder binary(Op code, const Dims& as, const Dims& bs, const Dims& os, Options o = {},
                    const Floats& constant = {}) {
  ModelBuilder m;
  const int ta = m.tensor(as), tb = constant.empty() ? m.tensor(bs) : m.constant(bs, constant);
  m.io(constant.empty() ? std::vector{ta, tb} : std::vector{ta}, {m.op(code, {ta, tb}, os, std::move(o))});
  return m;
}

void check_binary(Op code, const Dims& as, const Dims& bs, const Dims& os, Fn2 fn, Options o = {},
                  bool b_constant = false, uint32_t seed = 1, float lo = -2.f, float hi = 2.f) {
  SCOPED_TRACE(testing::Message() << "code " << code << " seed " << seed);
  const Floats a = random_floats(count(as), seed, lo, hi), b = random_floats(count(bs), seed + 1, lo, hi);
  Floats expected;
  for_each_index(os,
                 [&](const std::vector<int>& i) { expected.push_back(fn(a[offset_of(as, i)], b[offset_of(bs, i)])); });
  const ModelBuilder m = binary(code, as, bs, os, std::move(o), b_constant ? b : Floats{});
  expect_close(run_model(m, b_constant ? std::vector<Floats>{a} : std::vector<Floats>{a, b}), expected);
}

float prelu(float x, float a) { return x >= 0 ? x : x * a; }

TEST(ElementwiseOps, BinaryOverEveryBroadcastPattern) {
  struct Case {
    Dims a, b, out;
  };
  const Case broadcasts[] = {
      {{1, 5, 7, 3}, {1, 5, 7, 3}, {1, 5, 7, 3}}, {{1, 1, 97, 1}, {}, {1, 1, 97, 1}},   // same, scalar
      {{1, 1, 9, 1}, {6}, {1, 1, 9, 6}},          {{1, 1, 9, 1}, {1, 1, 9, 6}, {1, 1, 9, 6}},
      {{1, 13, 2}, {1, 1, 2}, {1, 13, 2}},        {{1, 13, 2}, {1, 1, 1}, {1, 13, 2}},  // per-channel, all-ones
      {{2, 1, 3}, {4, 1}, {2, 4, 3}},             {{3}, {2, 3, 3}, {2, 3, 3}},          // both sides, lower rank first
  };
  const std::pair<Op, Fn2> ops[] = {{kAdd, [](float a, float b) { return a + b; }},
                                         {kSub, [](float a, float b) { return a - b; }},
                                         {kMul, [](float a, float b) { return a * b; }},
                                         {kDiv, [](float a, float b) { return a / b; }},
                                         {kSquaredDifference, [](float a, float b) { return (a - b) * (a - b); }}};
  uint32_t seed = 10;
  for (const auto& [code, fn] : ops) {
    const float lo = code == kDiv ? 0.5f : -2.f;  // divisors away from zero
    for (const Case& c : broadcasts) check_binary(code, c.a, c.b, c.out, fn, {}, false, seed += 2, lo, 3.f);
    check_binary(code, {1, 4, 4, 8}, {8}, {1, 4, 4, 8}, fn, {}, true, seed += 2, lo, 3.f);
    EXPECT_TRUE(compile_fails(binary(code, {2, 3}, {4, 3}, {2, 3}))) << "no broadcast, code " << code;
  }
  // PRELU: per-channel as the models use it, full and scalar slopes.
  check_binary(kPrelu, {1, 5, 3, 7}, {1, 1, 7}, {1, 5, 3, 7}, prelu, {}, true, 3);
  check_binary(kPrelu, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}, prelu, {}, true, 4);
  check_binary(kPrelu, {2, 3, 4}, {1}, {2, 3, 4}, prelu, {}, true, 5);
}

TEST(ElementwiseOps, FusedActivationsAndFaults) {
  check_binary(kAdd, {1, 3, 5, 4}, {1, 3, 5, 4}, {1, 3, 5, 4}, [](float a, float b) { return std::max(a + b, 0.f); },
               add_options(fb::ActivationFunctionType_RELU));
  check_binary(kAdd, {1, 3, 5, 4}, {4}, {1, 3, 5, 4}, [](float a, float b) { return std::clamp(a + b, 0.f, 6.f); },
               add_options(kRelu6Act), false, 3, -8.f, 8.f);
  EXPECT_TRUE(compile_fails(binary(kAdd, {3}, {3}, {3}, add_options(fb::ActivationFunctionType_TANH))));
  EXPECT_TRUE(compile_fails(binary(kPrelu, {1, 3}, {2, 3}, {2, 3}, {}, Floats(6, 0.1f)))) << "slope larger than input";
  const Floats r = run_model(binary(kDiv, {2}, {1}, {2}), {{0.f, 1.f}, {0.f}});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(std::isnan(r[0]) && std::isinf(r[1])) << "0/0 and 1/0";
}

TEST(ElementwiseOps, UnaryAgainstTheirFormulas) {
  const float nan = std::nanf("");
  struct Case {
    Op code;
    float (*fn)(float);
    float lo, hi;
    Floats edges;
  };
  const Case cases[] = {
      {kNeg, [](float v) { return -v; }, -10, 10, {0.f, -0.f, 1e-30f, -80.f, 80.f}},
      {kRelu, [](float v) { return v <= 0 ? 0.f : v; }, -10, 10, {0.f, -0.f, 1e-30f, nan}},
      {kRelu6, [](float v) { return std::clamp(v, 0.f, 6.f); }, -10, 10, {0.f, 6.f, 7.5f}},
      {kLogistic, [](float v) { return 1.f / (1.f + std::exp(-v)); }, -10, 10, {-80.f, 80.f, -1000.f, 1000.f, nan}},
      {kSqrt, [](float v) { return std::sqrt(v); }, 1e-3f, 50, {0.f, -1.f}},
      {kRsqrt, [](float v) { return 1.f / std::sqrt(v); }, 1e-3f, 50, {nan}},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    Floats x = random_floats(37, seed++, c.lo, c.hi), expected;
    x.insert(x.end(), c.edges.begin(), c.edges.end());
    for (float v : x) expected.push_back(c.fn(v));
    ModelBuilder m;
    const int in = m.tensor({static_cast<int32_t>(x.size())});
    m.io({in}, {m.op(c.code, {in}, {static_cast<int32_t>(x.size())})});
    expect_close(run_model(m, {x}), expected);
  }
}

TEST(ElementwiseOps, DequantizeMakesExactFloatsOfConstantsOnly) {
  // 1, -2, 0.5, largest half, smallest subnormal, -0, +inf, NaN.
  const std::vector<uint16_t> bits = {0x3c00, 0xc000, 0x3800, 0x7bff, 0x0001, 0x8000, 0x7c00, 0x7e00};
  const Floats values = {1.f, -2.f, 0.5f, 65504.f, 5.9604645e-8f, -0.f, std::numeric_limits<float>::infinity(),
                         std::nanf("")};
  ModelBuilder m;
  const int in = m.tensor({8});
  m.io({in}, {m.op(kAdd, {in, m.op(kDequantize, {m.half({8}, bits)}, {8})}, {8})});
  const Floats r = run_model(m, {Floats(8, 0.f)});
  ASSERT_EQ(r.size(), 8u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(r[i], values[i]) << i;
  EXPECT_TRUE(std::isnan(r[7]));
  ModelBuilder variable;
  const int h = variable.tensor({4}, {}, fb::TensorType_FLOAT16);
  variable.io({h}, {variable.op(kDequantize, {h}, {4})});
  EXPECT_TRUE(compile_fails(variable));
}

}  // namespace
}  // namespace testing_models
