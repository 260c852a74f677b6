#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

TEST(ReshapeOp, ShapeFromTensorWithInferredDimension) {
  const auto x = random_floats(24, 1);
  ModelBuilder m;
  const int in = m.tensor({1, 2, 3, 4}), out = m.tensor({1, 6, 4});
  m.op(kReshape, {in, m.constant_ints({3}, {1, -1, 4})}, {out});
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), x);
}

TEST(ReshapeOp, ShapeFromOptions) {
  const auto x = random_floats(12, 2);
  ModelBuilder m;
  const int in = m.tensor({1, 2, 2, 3}), out = m.tensor({1, 4, 3});
  m.op(kReshape, {in}, {out}, [](flatbuffers::FlatBufferBuilder& b) {
    return std::make_pair(fb::BuiltinOptions_ReshapeOptions,
                          fb::CreateReshapeOptions(b, b.CreateVector(std::vector<int32_t>{1, -1, 3})).Union());
  });
  m.inputs({in});
  m.outputs({out});
  expect_close(run_model(m, {x}), x);
}

TEST(ReshapeOp, ChangingTheElementCountFailsToCompile) {
  ModelBuilder m;
  const int in = m.tensor({2, 3}), out = m.tensor({7});
  m.op(kReshape, {in, m.constant_ints({1}, {7})}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
