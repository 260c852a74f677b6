// The C interface's failure results: null handles, buffers that do not match,
// and resizing only where the signature allows; and the arena that the
// compiled models of one environment share. (Compile errors and their
// messages: inference_model_test.cc and hostile_graph_test.cc.)
#include "tests/runtime/model_builder.h"

namespace testing_models {
namespace {

struct Loaded {
  LiteRtEnvironment env = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  std::vector<LiteRtTensorBuffer> buffers;
  Loaded(Dims shape, Dims signature) {
    ModelBuilder m;
    // Three negations: out = -in, through two activations in the arena.
    int t[4];
    for (int& k : t) k = m.tensor(shape, signature);
    for (int k = 0; k < 3; ++k) m.write(kNeg, {t[k]}, t[k + 1]);
    const int in = t[0], out = t[3];
    m.io({in}, {out});
    const auto bytes = m.finish();
    LiteRtCreateEnvironment(0, nullptr, &env);
    LiteRtCreateModelFromBuffer(env, bytes.data(), bytes.size(), &model);
    LiteRtCreateCompiledModel(env, model, nullptr, &compiled);
  }
  ~Loaded() {
    for (auto b : buffers) LiteRtDestroyTensorBuffer(b);
    LiteRtDestroyCompiledModel(compiled);
    LiteRtDestroyModel(model);
    LiteRtDestroyEnvironment(env);
  }
  LiteRtTensorBuffer over(Floats& data, const Dims& dims) {
    LiteRtRankedTensorType type{kLiteRtElementTypeFloat32, {static_cast<uint32_t>(dims.size()), {}}};
    std::copy(dims.begin(), dims.end(), type.layout.dimensions);
    EXPECT_EQ(
        LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), data.size() * 4, nullptr, &buffers.emplace_back()),
        kLiteRtStatusOk);
    return buffers.back();
  }
  LiteRtStatus run(LiteRtTensorBuffer in, LiteRtTensorBuffer out, LiteRtParamIndex signature = 0) {
    return LiteRtRunCompiledModel(compiled, signature, 1, &in, 1, &out);
  }
  LiteRtStatus resize(std::vector<int> dims, LiteRtParamIndex input = 0) {
    return LiteRtCompiledModelResizeInputTensor(compiled, 0, input, dims.data(), dims.size());
  }
};

// Destroying null is allowed; a null handle is refused (two representatives).
TEST(CApi, NullArgumentsAndBadBuffersAreRefused) {
  LiteRtDestroyCompiledModel(nullptr);
  LiteRtModel model = nullptr;
  LiteRtRankedTensorType type{kLiteRtElementTypeFloat32, {2, {2, 3}}};
  EXPECT_EQ(LiteRtCreateModelFromFile(nullptr, "x", &model), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(nullptr, 0, 0, nullptr, 0, nullptr), kLiteRtStatusErrorInvalidArgument);

  Floats data(6);
  LiteRtTensorBuffer b = nullptr;
  auto create = [&](void* p, size_t bytes) {
    return LiteRtCreateTensorBufferFromHostMemory(&type, p, bytes, nullptr, &b);
  };
  EXPECT_EQ(create(data.data(), 20), kLiteRtStatusErrorInvalidArgument) << "too small";
  EXPECT_EQ(create(reinterpret_cast<char*>(data.data()) + 1, 20), kLiteRtStatusErrorInvalidArgument) << "misaligned";
  type.layout.dimensions[0] = -1;
  EXPECT_EQ(create(data.data(), 24), kLiteRtStatusErrorInvalidArgument) << "dynamic dimension";
  type.layout.dimensions[0] = 2;
  type.element_type = kLiteRtElementTypeInt32;
  EXPECT_EQ(create(data.data(), 24), kLiteRtStatusErrorInvalidArgument) << "not float";
}

TEST(CApi, SignatureRunAndResizeRules) {
  Loaded l({1, 3}, {-1, 3});
  ASSERT_NE(l.compiled, nullptr);
  LiteRtSignature sig = nullptr;
  LiteRtTensor t = nullptr;
  EXPECT_EQ(LiteRtGetModelSignature(l.model, 1, &sig), kLiteRtStatusErrorNotFound);
  ASSERT_EQ(LiteRtGetModelSignature(l.model, 0, &sig), kLiteRtStatusOk);
  EXPECT_EQ(LiteRtGetSignatureInputTensorByIndex(sig, 1, &t), kLiteRtStatusErrorNotFound);
  EXPECT_EQ(LiteRtGetSignatureOutputTensorByIndex(sig, 1, &t), kLiteRtStatusErrorNotFound);

  // Buffers of the wrong size or count are refused and left untouched.
  Floats in = {1, 2, 3}, out = {7, 7, 7}, small = {5, 5}, big = {9, 9, 9, 9};
  LiteRtTensorBuffer bin = l.over(in, {1, 3}), bout = l.over(out, {1, 3}), bbig = l.over(big, {1, 4});
  EXPECT_EQ(l.run(bin, l.over(small, {1, 2})), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(l.run(bbig, bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(l.run(nullptr, bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 0, nullptr, 1, &bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(l.run(bin, bout, 1), kLiteRtStatusErrorNotFound);
  EXPECT_EQ(small, (Floats{5, 5}));
  EXPECT_EQ(out, (Floats{7, 7, 7}));
  ASSERT_EQ(l.run(bin, bout), kLiteRtStatusOk);
  EXPECT_EQ(out, (Floats{-1, -2, -3}));

  // Only the dynamic dimension may change; then buffers of the old size are refused.
  EXPECT_EQ(l.resize({2}), kLiteRtStatusErrorInvalidArgument) << "rank";
  EXPECT_EQ(l.resize({1, 4}), kLiteRtStatusErrorInvalidArgument) << "fixed dimension";
  EXPECT_EQ(l.resize({0, 3}), kLiteRtStatusErrorInvalidArgument) << "zero";
  EXPECT_EQ(l.resize({2, 3}, 1), kLiteRtStatusErrorNotFound);
  ASSERT_EQ(l.resize({2, 3}), kLiteRtStatusOk);
  Floats in2 = {1, 2, 3, 4, 5, 6}, out2(6);
  LiteRtTensorBuffer bin2 = l.over(in2, {2, 3});
  EXPECT_EQ(l.run(bin2, bout), kLiteRtStatusErrorInvalidArgument);
  ASSERT_EQ(l.run(bin2, l.over(out2, {2, 3})), kLiteRtStatusOk);
  EXPECT_EQ(out2, (Floats{-1, -2, -3, -4, -5, -6}));
}

// A model compiled later for a larger input grows the shared arena; the
// first, compiled for the smaller one, still runs right in the new memory.
// (Under the address sanitizer, either reading a freed or a too-small
// arena fails here.)
TEST(CApi, CompiledModelsOfOneEnvironmentShareItsArena) {
  Loaded l({1, 3}, {-1, 3});
  LiteRtCompiledModel wide = nullptr;
  ASSERT_EQ(LiteRtCreateCompiledModel(l.env, l.model, nullptr, &wide), kLiteRtStatusOk);
  const std::vector<int> dims = {64, 3};
  ASSERT_EQ(LiteRtCompiledModelResizeInputTensor(wide, 0, 0, dims.data(), dims.size()), kLiteRtStatusOk);
  Floats in = {1, 2, 3}, out(3), wide_in(192), wide_out(192);
  for (size_t i = 0; i < wide_in.size(); ++i) wide_in[i] = static_cast<float>(i);
  LiteRtTensorBuffer bin = l.over(in, {1, 3}), bout = l.over(out, {1, 3});
  LiteRtTensorBuffer wide_buffers[] = {l.over(wide_in, {64, 3}), l.over(wide_out, {64, 3})};
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(l.run(bin, bout), kLiteRtStatusOk);
    EXPECT_EQ(out, (Floats{-1, -2, -3}));
    ASSERT_EQ(LiteRtRunCompiledModel(wide, 0, 1, &wide_buffers[0], 1, &wide_buffers[1]), kLiteRtStatusOk);
    EXPECT_EQ(wide_out[191], -191.f);
    EXPECT_EQ(wide_out[5], -5.f);
  }
  LiteRtDestroyCompiledModel(wide);
}

}  // namespace
}  // namespace testing_models
