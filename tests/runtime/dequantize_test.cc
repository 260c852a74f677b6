#include <limits>

#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(DequantizeOp, Float16ConstantsBecomeExactFloats) {
  // 1, -2, 0.5, 65504 (largest half), smallest subnormal, -0, +inf, NaN.
  const std::vector<uint16_t> bits = {0x3c00, 0xc000, 0x3800, 0x7bff, 0x0001, 0x8000, 0x7c00, 0x7e00};
  const std::vector<float> values = {1.f, -2.f, 0.5f, 65504.f, 5.9604645e-8f, -0.f,
                                     std::numeric_limits<float>::infinity(), std::nanf("")};
  ModelBuilder m;
  const int half = m.constant_half({8}, bits), deq = m.tensor({8});
  const int in = m.tensor({8}), out = m.tensor({8});
  m.op(kDequantize, {half}, {deq});
  m.op(kAdd, {in, deq}, {out});  // the constant folds; the ADD reads it
  m.inputs({in});
  m.outputs({out});
  const auto r = run_model(m, {std::vector<float>(8, 0.f)});
  ASSERT_EQ(r.size(), 8u);
  for (size_t i = 0; i + 1 < values.size(); ++i) EXPECT_EQ(r[i], values[i]) << i;
  EXPECT_TRUE(std::isnan(r[7]));
}

TEST(DequantizeOp, NonConstantInputFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({4}, {}, fb::TensorType_FLOAT16), out = m.tensor({4});
  m.op(kDequantize, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
