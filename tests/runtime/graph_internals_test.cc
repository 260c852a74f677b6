// Fusion decisions and memory planning, seen from the compiled graph: which
// operators become steps, and how large the arena is.
#include "runtime/graph.h"

#include <gtest/gtest.h>

#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

struct Compiled {
  std::unique_ptr<runtime::Model> model;
  std::unique_ptr<runtime::Graph> graph;
  std::string error;
};

Compiled compile(const ModelBuilder& m) {
  Compiled c;
  c.model = runtime::Model::parse(m.finish(), c.error);
  if (!c.model) return c;
  std::vector<runtime::Shape> shapes;
  for (int t : c.model->signature().inputs) shapes.push_back(c.model->tensors()[t].shape);
  c.graph = runtime::Graph::compile(*c.model, shapes, c.error);
  return c;
}

// conv (activation none) feeding `tail` operators built by the callback.
ModelBuilder conv_then(const std::function<void(ModelBuilder&, int in, int conv)>& tail) {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 2});
  const int conv = m.tensor({1, 4, 4, 2});
  m.op(kConv2D, {in, m.constant({2, 1, 1, 2}, {1, 0, 0, 1}), -1}, {conv}, conv_options(fb::Padding_SAME, 1, 1));
  m.inputs({in});
  tail(m, in, conv);
  return m;
}

TEST(GraphFusion, ResidualAddActivationAndPreluBecomeOneStep) {
  auto m = conv_then([](ModelBuilder& m, int in, int conv) {
    const int sum = m.tensor({1, 4, 4, 2}), out = m.tensor({1, 4, 4, 2});
    m.op(kAdd, {conv, in}, {sum});
    m.op(kPrelu, {sum, m.constant({1, 1, 2}, {0.1f, 0.2f})}, {out});
    m.outputs({out});
  });
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 1u);
}

TEST(GraphFusion, SlopeDequantizedAfterTheConvolutionStillFuses) {
  // As the files order it: the slope's DEQUANTIZE sits between conv and PRELU.
  auto m = conv_then([](ModelBuilder& m, int, int conv) {
    const int slope = m.tensor({1, 1, 2}), out = m.tensor({1, 4, 4, 2});
    m.op(kDequantize, {m.constant_half({1, 1, 2}, {0x2e66, 0x3400})}, {slope});
    m.op(kPrelu, {conv, slope}, {out});
    m.outputs({out});
  });
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 1u);
}

TEST(GraphFusion, IntermediateReadElsewhereStaysSeparate) {
  auto m = conv_then([](ModelBuilder& m, int in, int conv) {
    const int sum = m.tensor({1, 4, 4, 2}), other = m.tensor({1, 4, 4, 2});
    m.op(kAdd, {conv, in}, {sum});
    m.op(kNeg, {conv}, {other});
    m.outputs({sum, other});
  });
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 3u);
}

TEST(GraphFusion, ResidualComputedAfterTheConvolutionStillFuses) {
  // The ADD's other operand is produced between the conv and the ADD: the
  // conv moves down to the ADD and takes it in.
  auto m = conv_then([](ModelBuilder& m, int in, int conv) {
    const int late = m.tensor({1, 4, 4, 2}), sum = m.tensor({1, 4, 4, 2});
    m.op(kNeg, {in}, {late});
    m.op(kAdd, {conv, late}, {sum});
    m.outputs({sum});
  });
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 2u);
}

TEST(GraphFusion, SpatialPadFoldsOnlyIntoValidConvolutions) {
  for (bool valid : {true, false}) {
    ModelBuilder m;
    const int in = m.tensor({1, 4, 4, 1}), padded = m.tensor({1, 6, 6, 1});
    m.op(kPad, {in, m.constant_ints({4, 2}, {0, 0, 1, 1, 1, 1, 0, 0})}, {padded});
    const int out = m.tensor(valid ? Dims{1, 4, 4, 1} : Dims{1, 6, 6, 1});
    m.op(kConv2D, {padded, m.constant({1, 3, 3, 1}, std::vector<float>(9, 1.f)), -1}, {out},
         conv_options(valid ? fb::Padding_VALID : fb::Padding_SAME, 1, 1));
    m.inputs({in});
    m.outputs({out});
    const Compiled c = compile(m);
    ASSERT_TRUE(c.graph) << c.error;
    EXPECT_EQ(c.graph->num_steps(), valid ? 1u : 2u);
  }
}

TEST(GraphFusion, ChannelPadIsNotFolded) {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 1}), padded = m.tensor({1, 4, 4, 2});
  m.op(kPad, {in, m.constant_ints({4, 2}, {0, 0, 0, 0, 0, 0, 0, 1})}, {padded});
  const int out = m.tensor({1, 4, 4, 1});
  m.op(kConv2D, {padded, m.constant({1, 1, 1, 2}, {1, 1}), -1}, {out}, conv_options(fb::Padding_VALID, 1, 1));
  m.inputs({in});
  m.outputs({out});
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 2u);
}

TEST(GraphPlanning, ChainOfIntermediatesReusesMemory) {
  // 12 NEGs over 1000 floats: ten intermediates, at most two alive at once.
  ModelBuilder m;
  int t = m.tensor({1000});
  m.inputs({t});
  for (int i = 0; i < 12; ++i) {
    const int next = m.tensor({1000});
    m.op(kNeg, {t}, {next});
    t = next;
  }
  m.outputs({t});
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 12u);
  EXPECT_LE(c.graph->arena_bytes(), 2 * 4032u);
}

TEST(GraphPlanning, ConstantsFoldAwayFromTheSteps) {
  ModelBuilder m;
  const int in = m.tensor({2}), deq = m.tensor({2}), out = m.tensor({2});
  m.op(kDequantize, {m.constant_half({2}, {0x3c00, 0x4000})}, {deq});
  m.op(kMul, {in, deq}, {out});
  m.inputs({in});
  m.outputs({out});
  const Compiled c = compile(m);
  ASSERT_TRUE(c.graph) << c.error;
  EXPECT_EQ(c.graph->num_steps(), 1u);
  EXPECT_EQ(c.graph->arena_bytes(), 0u);
}

}  // namespace
}  // namespace testing_models
