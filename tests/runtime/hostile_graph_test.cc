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
int conv(ModelBuilder& m, Op code, int in) {
  const Dims filter = code == kConv2D ? Dims{4, 1, 1, 4} : Dims{1, 1, 1, 4};
  return m.op(code, {in, m.constant(filter, Floats(count(filter), 0.5f)), m.constant({4}, Floats(4, 0.f))}, kSmall,
              code == kConv2D ? conv_options(fb::Padding_SAME, 1) : depthwise_options(fb::Padding_SAME, 1));
}

// A 1x1 convolution of `in` (`channels` deep) to as many channels, into `out`.
void conv_into(ModelBuilder& m, Op code, int in, int channels, int out) {
  const Dims filter = code == kConv2D ? Dims{channels, 1, 1, channels} : Dims{1, 1, 1, channels};
  m.write(code, {in, m.constant(filter, Floats(count(filter), 0.5f)), -1}, out,
          code == kConv2D ? conv_options(fb::Padding_SAME, 1) : depthwise_options(fb::Padding_SAME, 1));
}

struct Hostile {
  const char* what;
  // Builds the graph; `hostile` false gives the same graph with a fresh output tensor.
  void (*build)(ModelBuilder& m, Op code, bool hostile);
  std::vector<const char*> message;  // parts the compile error must contain
};

const Hostile kCases[] = {
    {"fused RELU writes a larger tensor an ADD wrote",
     [](ModelBuilder& m, Op code, bool hostile) {
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
     [](ModelBuilder& m, Op code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int c = conv(m, code, y);
       const int out = hostile ? m.constant({1}, {0.f}) : m.tensor(kSmall);
       m.write(kAdd, {c, y}, out);
       m.io({y}, {hostile ? m.op(kNeg, {out}, {1}) : out});
     },
     {"(ADD) fused into operator 0", "is a constant of the file ([1], 4 bytes)"}},
    {"fused RELU6 writes a model input",
     [](ModelBuilder& m, Op code, bool hostile) {
       const int y = m.tensor(kSmall), z = m.tensor(kSmall);
       const int out = hostile ? z : m.tensor(kSmall);
       m.write(kRelu6, {conv(m, code, y)}, out);
       m.io({y, z}, {hostile ? m.op(kNeg, {z}, kSmall) : out});
     },
     {"(RELU6) fused into operator 0", "output tensor 1", "is a model input"}},
    {"fused RELU writes a graph output another operator writes",
     [](ModelBuilder& m, Op code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int o = m.op(kNeg, {y}, kSmall);
       const int out = hostile ? o : m.tensor(kSmall);
       m.write(kRelu, {conv(m, code, y)}, out);
       m.io({y}, {o, out});
     },
     {"(RELU) fused into operator 1", "output tensor 1", "also written by operator 0 (NEG) as [1,8,8,4]"}},
    {"fused PRELU writes a tensor declared smaller",
     [](ModelBuilder& m, Op code, bool hostile) {
       const int y = m.tensor(kSmall);
       const int out = m.tensor(hostile ? Dims{1, 4, 4, 4} : kSmall);
       m.write(kPrelu, {conv(m, code, y), m.constant({1, 1, 4}, Floats(4, 0.1f))}, out);
       m.io({y}, {out});
     },
     {"(PRELU) fused into operator 0", "inferred shape [1,8,8,4] but is declared [1,4,4,4]"}},
    {"fused ADD's intermediate was written by an earlier operator",
     [](ModelBuilder& m, Op code, bool hostile) {
       const int x = m.tensor(kLarge), y = m.tensor(kSmall);
       const int t = hostile ? m.op(kNeg, {x}, kLarge) : m.tensor(kSmall);
       m.write(kAdd, {conv(m, code, y), y}, t);
       m.io({x, y}, {m.op(kRelu, {t}, kSmall)});
     },
     {"(ADD) fused into operator 1", "also written by operator 0 (NEG) as [1,64,64,4]"}},
    // Tensors whose channels the file leaves open: the fusion goes by the
    // declared shapes, which agree; the inferred ones (the convolution's 8
    // channels, the input's 1) must bear it out.
    {"fused residual ADD of fewer channels than the convolution's",
     [](ModelBuilder& m, Op code, bool hostile) {
       const Dims open = hostile ? Dims{1, 8, 8, -1} : kSmall;
       const int x = m.tensor({1, 8, 8, hostile ? 8 : 4}), r = m.tensor(kSmall, open), t = m.tensor(kSmall, open);
       conv_into(m, code, x, hostile ? 8 : 4, t);
       const int out = m.tensor(kSmall, open);
       m.write(kAdd, {t, r}, out);
       m.io({x, r}, {out});
     },
     {"fused residual ADD", "differs from the output [1,8,8,8]"}},
    {"fused PRELU with fewer slopes than the convolution's channels",
     [](ModelBuilder& m, Op code, bool hostile) {
       const Dims open = hostile ? Dims{1, 8, 8, -1} : kSmall;
       const int x = m.tensor({1, 8, 8, hostile ? 8 : 4}), t = m.tensor(kSmall, open), out = m.tensor(kSmall, open);
       conv_into(m, code, x, hostile ? 8 : 4, t);
       m.write(kPrelu, {t, m.constant({1, 1, 4}, Floats(4, 0.1f))}, out);
       m.io({x}, {out});
     },
     {"fused PRELU: slope", "for 8 output channels"}},
};

TEST(HostileGraphs, FusedWritesAreCheckedLikeAnyOther) {
  for (const Hostile& c : kCases)
    for (Op code : {kConv2D, kDepthwiseConv2D})
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
