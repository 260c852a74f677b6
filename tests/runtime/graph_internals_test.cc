// Fusion decisions and memory planning, seen from the compiled graph (how
// many steps, how large the arena) and from the planner itself.
#include <unistd.h>

#include <fstream>
#include <random>

#include "runtime/graph.h"
#include "runtime/kernels/guard_zones.h"
#include "runtime/compiler/passes.h"
#include "runtime/compiler/planner.h"
#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

// The steps and arena bytes of a model file compiled at its signature's
// shapes; zeros when it does not compile.
std::pair<size_t, size_t> compiled(std::vector<uint8_t> bytes) {
  std::string error;
  auto model = runtime::Model::parse(std::move(bytes), error);
  EXPECT_TRUE(model) << error;
  if (!model) return {0, 0};
  std::vector<runtime::Shape> shapes;
  for (int t : model->signature().inputs) shapes.push_back(model->tensors()[t].shape);
  auto graph = runtime::Graph::compile(*model, shapes, error);
  EXPECT_TRUE(graph) << error;
  return graph ? std::pair{graph->num_steps(), graph->arena_bytes()} : std::pair<size_t, size_t>{0, 0};
}

TEST(GraphInternals, FusionDecisions) {
  const Dims s = {1, 4, 4, 2};
  // After a 1x1 conv: residual ADD and PRELU fuse; so does a PRELU whose slope is dequantized after the
  // conv; an intermediate read elsewhere stays; a residual computed after the conv still fuses; an ADD
  // that broadcasts and a PRELU whose slope varies along a row stay apart (and the graph compiles).
  for (auto [chain, expected] :
       {std::pair{0, 1u}, std::pair{1, 1u}, std::pair{2, 3u}, std::pair{3, 2u}, std::pair{4, 2u}, std::pair{5, 2u}}) {
    ModelBuilder m;
    const int in = m.tensor(s);
    const int conv =
        m.op(kConv2D, {in, m.constant({2, 1, 1, 2}, {1, 0, 0, 1}), -1}, s, conv_options(fb::Padding_SAME, 1));
    const int slope = chain == 1 ? m.op(kDequantize, {m.half({1, 1, 2}, {0x2e66, 0x3400})}, {1, 1, 2})
                                 : m.constant({1, 1, 2}, {0.1f, 0.2f});
    if (chain < 2) m.io({in}, {m.op(kPrelu, {chain ? conv : m.op(kAdd, {conv, in}, s), slope}, s)});
    if (chain == 2) m.io({in}, {m.op(kAdd, {conv, in}, s), m.op(kNeg, {conv}, s)});
    if (chain == 3) m.io({in}, {m.op(kAdd, {conv, m.op(kNeg, {in}, s)}, s)});
    if (chain == 4) m.io({in}, {m.op(kAdd, {conv, m.constant({1, 1, 1, 2}, {1, 2})}, s)});
    if (chain == 5) m.io({in}, {m.op(kPrelu, {conv, m.constant({1, 4, 1, 2}, Floats(8, 0.1f))}, s)});
    EXPECT_EQ(compiled(m.finish()).first, expected) << chain;
  }
  // A spatial PAD folds into a VALID conv only; a channel PAD never.
  for (auto [spatial, valid, expected] :
       {std::tuple{true, true, 1u}, std::tuple{true, false, 2u}, std::tuple{false, true, 2u}}) {
    ModelBuilder m;
    const int in = m.tensor({1, 4, 4, 1});
    const std::vector<int32_t> pads =
        spatial ? std::vector{0, 0, 1, 1, 1, 1, 0, 0} : std::vector{0, 0, 0, 0, 0, 0, 0, 1};
    const Dims padded_shape = spatial ? Dims{1, 6, 6, 1} : Dims{1, 4, 4, 2};
    const int padded = m.op(kPad, {in, m.ints({4, 2}, pads)}, padded_shape);
    const Dims filter = {1, spatial ? 3 : 1, spatial ? 3 : 1, padded_shape[3]};
    const Dims out = spatial && !valid ? Dims{1, 6, 6, 1} : Dims{1, 4, 4, 1};
    m.io({in}, {m.op(kConv2D, {padded, m.constant(filter, Floats(count(filter), 1.f)), -1}, out,
                     conv_options(valid ? fb::Padding_VALID : fb::Padding_SAME, 1))});
    EXPECT_EQ(compiled(m.finish()).first, expected) << "spatial " << spatial << " valid " << valid;
  }
  // Twelve NEGs over 1000 floats: at most two intermediates alive at once.
  ModelBuilder chain;
  int t = chain.tensor({1000});
  const int first = t;
  for (int i = 0; i < 12; ++i) t = chain.op(kNeg, {t}, {1000});
  chain.io({first}, {t});
  const auto [n, bytes] = compiled(chain.finish());
  EXPECT_EQ(n, 12u);
  EXPECT_LE(bytes, 2 * (4032u + 2 * runtime::kGuardFloats * sizeof(float)));
  // A dequantized constant folds away: one step, no arena.
  ModelBuilder folded;
  const int in = folded.tensor({2});
  folded.io({in}, {folded.op(kMul, {in, folded.op(kDequantize, {folded.half({2}, {0x3c00, 0x4000})}, {2})}, {2})});
  EXPECT_EQ(compiled(folded.finish()), (std::pair<size_t, size_t>{1, 0}));
}

// The real models compile to as many steps as their rewrites leave: a lost
// fusion (a PRELU or residual ADD running on its own) shows up here even
// though every result stays right.
TEST(GraphInternals, RealModelsKeepTheirFusions) {
  const std::string dir = BRIDGE_SHARED_DIR "/models/";
  if (access((dir + "face").c_str(), R_OK) != 0) GTEST_SKIP() << "no models at " << dir;
  const std::pair<const char*, size_t> models[] = {
      {"face/face_detector.tflite", 57},          {"face/face_landmarks_detector.tflite", 117},
      {"face/face_blendshapes.tflite", 129},      {"hand/hand_detector.tflite", 80},
      {"hand/hand_landmarks_detector.tflite", 54}, {"hand-lite/hand_detector.tflite", 70},
      {"hand-lite/hand_landmarks_detector.tflite", 55}};
  for (const auto& [file, expected] : models) {
    std::ifstream in(dir + file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(compiled(std::move(bytes)).first, expected) << file;
  }
}

// check_writes alone, after the passes before it ran on a conv -> RELU graph,
// with the result of one faulty rewrite injected: each is refused by its rule,
// however the rewrite came about.
TEST(GraphInternals, CheckWritesRefusesEveryFaultyRewrite) {
  ModelBuilder m;
  const Dims s = {1, 4, 4, 2};
  const int in = m.tensor(s), weights = m.constant({2, 1, 1, 2}, {1, 0, 0, 1});
  const int conv = m.op(kConv2D, {in, weights, -1}, s, conv_options(fb::Padding_SAME, 1));
  const int out = m.op(kRelu, {conv}, s);
  m.io({in}, {out});
  std::string error;
  auto model = runtime::Model::parse(m.finish(), error);
  ASSERT_TRUE(model) << error;
  using State = runtime::CompileState;
  const std::pair<void (*)(State&, int), const char*> faults[] = {
      {[](State&, int) {}, ""},
      {[](State& st, int w) { st.definitions.push_back({w, 0, 1, st.shapes()[w]}); }, "is a constant of the file"},
      {[](State& st, int) { st.definitions.push_back({0, 0, 1, st.shapes()[0]}); }, "is a model input"},
      {[](State& st, int) { st.definitions.push_back({3, 1, 1, st.shapes()[3]}); }, "one writer"},
      {[](State& st, int) { st.definitions.back().shape = runtime::Shape::of({1, 4, 4, 3}); }, "is declared [1,4,4,2]"},
      {[](State& st, int w) { st.steps()[0].writes.push_back(w); }, "whose shape no operator set"},
      {[](State& st, int) { st.steps()[0].reads.push_back(2); }, "neither a constant, a signature input nor"},
  };
  for (const auto& [inject, rule] : faults) {
    runtime::CompiledGraph graph;
    State st{*model, graph, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    ASSERT_TRUE(runtime::read_and_verify(st, {runtime::Shape::of({1, 4, 4, 2})}) && runtime::load_constants(st));
    runtime::schedule(st);
    runtime::rewrite(st);
    ASSERT_TRUE(runtime::prepare_operators(st)) << error;
    ASSERT_EQ(st.steps().size(), 1u) << "the RELU fuses";
    inject(st, weights);
    EXPECT_EQ(runtime::check_writes(st), !*rule) << rule;
    EXPECT_NE(error.find(rule), std::string::npos) << error;
  }
}

TEST(GraphInternals, PlannerNeverOverlapsLiveTensors) {
  using runtime::kArenaAlignment;
  auto check = [](const std::vector<runtime::Lifetime>& ts) {
    const runtime::ArenaPlan plan = runtime::plan_arena(ts);
    EXPECT_EQ(plan.offsets.size(), ts.size());
    for (size_t i = 0; i < ts.size() && i < plan.offsets.size(); ++i) {
      EXPECT_EQ(plan.offsets[i] % kArenaAlignment, 0u);
      EXPECT_LE(plan.offsets[i] + ts[i].bytes, plan.bytes);
      for (size_t j = i + 1; j < ts.size(); ++j)
        EXPECT_FALSE(ts[i].first <= ts[j].last && ts[j].first <= ts[i].last &&
                     plan.offsets[i] < plan.offsets[j] + ts[j].bytes && plan.offsets[j] < plan.offsets[i] + ts[i].bytes)
            << i << " and " << j;
    }
    return plan.bytes;
  };
  std::vector<runtime::Lifetime> chain;  // t_i written at step i, read at i+1
  for (int i = 0; i < 20; ++i) chain.push_back({1000, i, i + 1});
  EXPECT_EQ(check(chain), 2 * 1024u);
  EXPECT_EQ(check({}), 0u);
  check({{0, 0, 0}, {0, 0, 1}});
  std::mt19937 rng(42);
  for (int round = 0; round < 50; ++round) {
    std::vector<runtime::Lifetime> ts;
    size_t total = 0;
    for (int i = 0; i < 60; ++i) {
      const int first = static_cast<int>(rng() % 40), last = first + static_cast<int>(rng() % 10);
      ts.push_back({1 + rng() % 5000, first, last});
      total += (ts.back().bytes + kArenaAlignment - 1) / kArenaAlignment * kArenaAlignment;
    }
    EXPECT_LE(check(ts), total);
  }
}

}  // namespace
}  // namespace testing_models
