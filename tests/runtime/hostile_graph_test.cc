// Hand-made graphs whose operators fused into a convolution would write
// where the file says they must not: each must fail to compile with a
// message naming the operator, the tensor and the rule, and never run (the
// sanitizer build sees any write past a buffer). The same graphs without the
// fault must still fuse and run.
#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

const Dims kSmall = {1, 8, 8, 4}, kLarge = {1, 64, 64, 4};

// A 1x1 convolution of `in` (kSmall), as CONV_2D or DEPTHWISE_CONV_2D.
int conv(ModelBuilder& m, int32_t code, int in) {
  const Dims filter = code == kConv2D ? Dims{4, 1, 1, 4} : Dims{1, 1, 1, 4};
  return m.op(code, {in, m.constant(filter, Floats(count(filter), 0.5f)), m.constant({4}, Floats(4, 0.f))}, kSmall,
              code == kConv2D ? conv_options(fb::Padding_SAME, 1) : depthwise_options(fb::Padding_SAME, 1));
}

struct Hostile {
  const char* what;
  // Builds the graph; `hostile` false gives the same graph with a fresh output tensor.
  void (*build)(ModelBuilder& m, int32_t code, bool hostile);
  std::vector<const char*> message;  // parts the compile error must contain
};

const Hostile kCases[] = {
    {"fused RELU writes a larger tensor an ADD wrote",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int x = m.tensor(kLarge), y = m.tensor(kSmall);
       const int t = m.op(kAdd, {x, x}, kLarge);
       const int c = conv(m, code, y);
       const int out = hostile ? t : m.tensor(kSmall);
       m.write(kRelu, {c}, out);
       m.io({x, y}, {t, out});
     },
     {"(RELU) fused into operator 1", "output tensor 2", "also written by operator 0 (ADD) as [1,64,64,4]",
      "one writer"}},
    {"fused residual ADD writes a one-float constant",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int c = conv(m, code, y);
       const int out = hostile ? m.constant({1}, {0.f}) : m.tensor(kSmall);
       m.write(kAdd, {c, y}, out);
       m.io({y}, {hostile ? m.op(kNeg, {out}, {1}) : out});
     },
     {"(ADD) fused into operator 0", "is a constant of the file ([1], 4 bytes)"}},
    {"fused RELU6 writes a model input",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int y = m.tensor(kSmall), z = m.tensor(kSmall);
       const int out = hostile ? z : m.tensor(kSmall);
       m.write(kRelu6, {conv(m, code, y)}, out);
       m.io({y, z}, {hostile ? m.op(kNeg, {z}, kSmall) : out});
     },
     {"(RELU6) fused into operator 0", "output tensor 1", "is a model input"}},
    {"fused RELU writes a graph output another operator writes",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int o = m.op(kNeg, {y}, kSmall);
       const int out = hostile ? o : m.tensor(kSmall);
       m.write(kRelu, {conv(m, code, y)}, out);
       m.io({y}, {o, out});
     },
     {"(RELU) fused into operator 1", "output tensor 1", "also written by operator 0 (NEG) as [1,8,8,4]"}},
    {"fused PRELU writes a tensor declared smaller",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int out = m.tensor(hostile ? Dims{1, 4, 4, 4} : kSmall);
       m.write(kPrelu, {conv(m, code, y), m.constant({1, 1, 4}, Floats(4, 0.1f))}, out);
       m.io({y}, {out});
     },
     {"(PRELU) fused into operator 0", "inferred shape [1,8,8,4] but is declared [1,4,4,4]"}},
    {"fused ADD's intermediate was written by an earlier operator",
     [](ModelBuilder& m, int32_t code, bool hostile) {
       const int x = m.tensor(kLarge), y = m.tensor(kSmall);
       const int t = hostile ? m.op(kNeg, {x}, kLarge) : m.tensor(kSmall);
       m.write(kAdd, {conv(m, code, y), y}, t);
       m.io({x, y}, {m.op(kRelu, {t}, kSmall)});
     },
     {"(ADD) fused into operator 1", "also written by operator 0 (NEG) as [1,64,64,4]"}},
};

TEST(HostileGraphs, FusedWritesAreCheckedLikeAnyOther) {
  for (const Hostile& c : kCases)
    for (int32_t code : {kConv2D, kDepthwiseConv2D})
      for (bool hostile : {true, false}) {
        SCOPED_TRACE(testing::Message() << c.what << ", code " << code << (hostile ? "" : ", benign twin"));
        ModelBuilder m;
        c.build(m, code, hostile);
        const Result r = run(m.finish());
        if (!hostile) {
          EXPECT_EQ(r.stage, kRan) << r.error;
          EXPECT_EQ(r.overrun, "");
          continue;
        }
        EXPECT_EQ(r.stage, kCompileFailed);
        for (const char* part : c.message) EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
        const char* name = code == kConv2D ? "(CONV_2D)" : "(DEPTHWISE_CONV_2D)";
        EXPECT_NE(r.error.find(name), std::string::npos) << r.error;
      }
}

}  // namespace
}  // namespace testing_models
