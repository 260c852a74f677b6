// The guard zones of test builds catch what AddressSanitizer cannot: a
// masked vector store one lane past a buffer's end, and a step writing past
// its arena slot into the next tensor's.
#include <immintrin.h>

#include "runtime/graph.h"
#include "runtime/kernels/guard_zones.h"
#include "runtime/compiler/passes.h"
#include "tests/kernels/guarded.h"
#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

// Stores `lanes` floats of 7 at `p` the way the kernels store a channel tail.
__attribute__((target("avx2"))) void masked_store(float* p, int lanes) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  _mm256_maskstore_ps(p, _mm256_cmpgt_epi32(_mm256_set1_epi32(lanes), lane), _mm256_set1_ps(7.f));
}

TEST(GuardZones, CatchAMaskedTailStoreOneLanePastTheEnd) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  for (int lanes : {5, 6}) {
    kernels_test::Guarded test_buffer(std::vector<float>(5, 0.f));
    masked_store(test_buffer.data(), lanes);
    EXPECT_EQ(test_buffer.damage().empty(), lanes == 5) << lanes;
  }
  if (runtime::kGuardFloats == 0) GTEST_SKIP() << "the runtime's own zones are off in this build";
  EXPECT_DEATH(
      {
        runtime::AlignedFloats store(5);
        masked_store(store.data(), 6);
      },
      "guard zone damaged: a buffer of the runtime");
}

// Writes one float past the end of its output.
class OverrunKernel final : public runtime::Kernel {
 public:
  OverrunKernel(int out, int64_t count) : out_(out), count_(count) {}
  void run(runtime::TensorData data) override { data[out_][count_] = 1.f; }

 private:
  int out_;
  int64_t count_;
};

TEST(GuardZones, CatchAStepWritingPastItsArenaSlot) {
  if (runtime::kGuardFloats == 0) GTEST_SKIP() << "the runtime's zones are off in this build";
  ModelBuilder m;
  const Dims s = {1, 4, 4, 2};
  const int in = m.tensor(s);
  m.io({in}, {m.op(kNeg, {m.op(kNeg, {in}, s)}, s)});
  std::string error;
  auto model = runtime::Model::parse(m.finish(), error);
  ASSERT_TRUE(model) << error;
  std::vector<float> x(32, 1.f), y(32);
  float* inputs[] = {x.data()};
  float* outputs[] = {y.data()};
  auto plain = runtime::Graph::compile(*model, {runtime::Shape::of({1, 4, 4, 2})}, error);
  ASSERT_TRUE(plain) << error;
  runtime::AlignedFloats arena(plain->arena_bytes() / sizeof(float));
  plain->run(inputs, outputs, arena.data());
  EXPECT_EQ(y[0], 1.f);
  // The passes of a compile, with the first step's kernel swapped afterwards.
  runtime::CompiledGraph compiled;
  runtime::CompileState st{*model, compiled, error, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
  ASSERT_TRUE(runtime::read_and_verify(st, {runtime::Shape::of({1, 4, 4, 2})}) && runtime::load_constants(st));
  runtime::schedule(st);
  runtime::rewrite(st);
  ASSERT_TRUE(runtime::prepare_operators(st) && runtime::check_writes(st) && runtime::plan_memory(st)) << error;
  st.steps()[0].kernel = std::make_unique<OverrunKernel>(1, 32);
  runtime::Graph graph(std::move(compiled));
  EXPECT_DEATH(graph.run(inputs, outputs, arena.data()), "step 0 \\(NEG\\) wrote outside its output, tensor 1 \\[1,4,4,2\\]");
}

}  // namespace
}  // namespace testing_models
