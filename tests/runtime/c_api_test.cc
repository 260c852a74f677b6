// The C interface's edges: null handles, counts and sizes that do not match,
// resizing rules, and the failure results each call documents.
#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

struct Loaded {
  LiteRtEnvironment env = nullptr;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  explicit Loaded(const std::vector<uint8_t>& bytes) {
    LiteRtCreateEnvironment(0, nullptr, &env);
    LiteRtCreateModelFromBuffer(env, bytes.data(), bytes.size(), &model);
    LiteRtCreateCompiledModel(env, model, nullptr, &compiled);
  }
  ~Loaded() {
    LiteRtDestroyCompiledModel(compiled);
    LiteRtDestroyModel(model);
    LiteRtDestroyEnvironment(env);
  }
};

std::vector<uint8_t> dynamic_neg() {
  ModelBuilder m;
  const int in = m.tensor({1, 3}, {-1, 3}), out = m.tensor({1, 3}, {-1, 3});
  m.op(kNeg, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  return m.finish();
}

LiteRtTensorBuffer buffer_over(std::vector<float>& data, std::vector<int32_t> dims) {
  LiteRtRankedTensorType type{};
  type.element_type = kLiteRtElementTypeFloat32;
  type.layout.rank = static_cast<uint32_t>(dims.size());
  for (size_t i = 0; i < dims.size(); ++i) type.layout.dimensions[i] = dims[i];
  LiteRtTensorBuffer b = nullptr;
  EXPECT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), data.size() * 4, nullptr, &b), kLiteRtStatusOk);
  return b;
}

TEST(CApi, DestroyAcceptsNull) {
  LiteRtDestroyEnvironment(nullptr);
  LiteRtDestroyModel(nullptr);
  LiteRtDestroyOptions(nullptr);
  LiteRtDestroyCompiledModel(nullptr);
  LiteRtDestroyTensorBuffer(nullptr);
}

TEST(CApi, NullArgumentsAreRefused) {
  EXPECT_EQ(LiteRtCreateEnvironment(0, nullptr, nullptr), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtCreateEnvironment(2, nullptr, nullptr), kLiteRtStatusErrorInvalidArgument);
  LiteRtModel model = nullptr;
  EXPECT_EQ(LiteRtCreateModelFromFile(nullptr, "x", &model), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtSetOptionsHardwareAccelerators(nullptr, kLiteRtHwAcceleratorCpu), kLiteRtStatusErrorInvalidArgument);
  LiteRtRankedTensorType type{};
  EXPECT_EQ(LiteRtGetRankedTensorType(nullptr, &type), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(nullptr, 0, 0, nullptr, 0, nullptr), kLiteRtStatusErrorInvalidArgument);
  EXPECT_STREQ(LiteRtGetEnvironmentLastError(nullptr), "");
}

TEST(CApi, SignatureLookups) {
  Loaded l(dynamic_neg());
  ASSERT_NE(l.compiled, nullptr);
  LiteRtSignature sig = nullptr;
  EXPECT_EQ(LiteRtGetModelSignature(l.model, 1, &sig), kLiteRtStatusErrorNotFound);
  ASSERT_EQ(LiteRtGetModelSignature(l.model, 0, &sig), kLiteRtStatusOk);
  LiteRtTensor t = nullptr;
  EXPECT_EQ(LiteRtGetSignatureInputTensorByIndex(sig, 1, &t), kLiteRtStatusErrorNotFound);
  EXPECT_EQ(LiteRtGetSignatureOutputTensorByIndex(sig, 1, &t), kLiteRtStatusErrorNotFound);
  ASSERT_EQ(LiteRtGetSignatureInputTensorByIndex(sig, 0, &t), kLiteRtStatusOk);
  LiteRtRankedTensorType type{};
  ASSERT_EQ(LiteRtGetRankedTensorType(t, &type), kLiteRtStatusOk);
  EXPECT_EQ(type.element_type, kLiteRtElementTypeFloat32);
  ASSERT_EQ(type.layout.rank, 2u);
  EXPECT_EQ(type.layout.dimensions[0], -1);  // the shape signature, dynamic batch included
  EXPECT_EQ(type.layout.dimensions[1], 3);
}

TEST(CApi, TensorBufferCreationChecksItsArguments) {
  std::vector<float> data(6);
  LiteRtRankedTensorType type{};
  type.element_type = kLiteRtElementTypeFloat32;
  type.layout.rank = 2;
  type.layout.dimensions[0] = 2;
  type.layout.dimensions[1] = 3;
  LiteRtTensorBuffer b = nullptr;
  EXPECT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), 20, nullptr, &b),
            kLiteRtStatusErrorInvalidArgument) << "too small";
  type.layout.dimensions[0] = -1;
  EXPECT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), 24, nullptr, &b),
            kLiteRtStatusErrorInvalidArgument) << "dynamic dimension";
  type.layout.dimensions[0] = 2;
  type.element_type = kLiteRtElementTypeInt32;
  EXPECT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), 24, nullptr, &b),
            kLiteRtStatusErrorInvalidArgument) << "not float";
  type.element_type = kLiteRtElementTypeFloat32;
  EXPECT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, reinterpret_cast<char*>(data.data()) + 1, 20, nullptr, &b),
            kLiteRtStatusErrorInvalidArgument) << "misaligned";
  ASSERT_EQ(LiteRtCreateTensorBufferFromHostMemory(&type, data.data(), 24, nullptr, &b), kLiteRtStatusOk);
  LiteRtDestroyTensorBuffer(b);
}

TEST(CApi, RunRefusesMismatchedBuffersWithoutTouchingThem) {
  Loaded l(dynamic_neg());
  ASSERT_NE(l.compiled, nullptr);
  std::vector<float> in = {1, 2, 3}, out = {7, 7, 7}, small = {5, 5}, big = {9, 9, 9, 9};
  LiteRtTensorBuffer bin = buffer_over(in, {1, 3}), bout = buffer_over(out, {1, 3});
  LiteRtTensorBuffer bsmall = buffer_over(small, {1, 2}), bbig = buffer_over(big, {1, 4});
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bin, 1, &bsmall), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bin, 1, &bbig), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bbig, 1, &bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 0, nullptr, 1, &bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 1, 1, &bin, 1, &bout), kLiteRtStatusErrorNotFound);
  LiteRtTensorBuffer null_buffer = nullptr;
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &null_buffer, 1, &bout), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(small, (std::vector<float>{5, 5}));
  EXPECT_EQ(big, (std::vector<float>{9, 9, 9, 9}));
  EXPECT_EQ(out, (std::vector<float>{7, 7, 7}));
  ASSERT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bin, 1, &bout), kLiteRtStatusOk);
  EXPECT_EQ(out, (std::vector<float>{-1, -2, -3}));
  for (auto b : {bin, bout, bsmall, bbig}) LiteRtDestroyTensorBuffer(b);
}

TEST(CApi, ResizeOnlyWhereTheSignatureAllows) {
  Loaded l(dynamic_neg());
  ASSERT_NE(l.compiled, nullptr);
  const int wrong_rank[] = {2};
  EXPECT_EQ(LiteRtCompiledModelResizeInputTensor(l.compiled, 0, 0, wrong_rank, 1), kLiteRtStatusErrorInvalidArgument);
  const int fixed_changed[] = {1, 4};
  EXPECT_EQ(LiteRtCompiledModelResizeInputTensor(l.compiled, 0, 0, fixed_changed, 2),
            kLiteRtStatusErrorInvalidArgument);
  const int zero[] = {0, 3};
  EXPECT_EQ(LiteRtCompiledModelResizeInputTensor(l.compiled, 0, 0, zero, 2), kLiteRtStatusErrorInvalidArgument);
  EXPECT_EQ(LiteRtCompiledModelResizeInputTensor(l.compiled, 0, 1, fixed_changed, 2), kLiteRtStatusErrorNotFound);
  // Batch 2: the graph recompiles; buffers of the old size are then refused.
  const int batch2[] = {2, 3};
  ASSERT_EQ(LiteRtCompiledModelResizeInputTensor(l.compiled, 0, 0, batch2, 2), kLiteRtStatusOk);
  std::vector<float> in = {1, 2, 3, 4, 5, 6}, out(6), old(3);
  LiteRtTensorBuffer bin = buffer_over(in, {2, 3}), bout = buffer_over(out, {2, 3}), bold = buffer_over(old, {1, 3});
  EXPECT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bin, 1, &bold), kLiteRtStatusErrorInvalidArgument);
  ASSERT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bin, 1, &bout), kLiteRtStatusOk);
  EXPECT_EQ(out, (std::vector<float>{-1, -2, -3, -4, -5, -6}));
  for (auto b : {bin, bout, bold}) LiteRtDestroyTensorBuffer(b);
}

TEST(CApi, OptionsWithoutTheCpuAreRefused) {
  const auto bytes = dynamic_neg();
  LiteRtEnvironment env = nullptr;
  ASSERT_EQ(LiteRtCreateEnvironment(0, nullptr, &env), kLiteRtStatusOk);
  LiteRtModel model = nullptr;
  ASSERT_EQ(LiteRtCreateModelFromBuffer(env, bytes.data(), bytes.size(), &model), kLiteRtStatusOk);
  LiteRtOptions options = nullptr;
  ASSERT_EQ(LiteRtCreateOptions(&options), kLiteRtStatusOk);
  LiteRtSetOptionsHardwareAccelerators(options, kLiteRtHwAcceleratorNone);
  LiteRtCompiledModel compiled = nullptr;
  EXPECT_EQ(LiteRtCreateCompiledModel(env, model, options, &compiled), kLiteRtStatusErrorUnsupported);
  EXPECT_EQ(compiled, nullptr);
  LiteRtDestroyOptions(options);
  LiteRtDestroyModel(model);
  LiteRtDestroyEnvironment(env);
}

TEST(CApi, CompileFailureExplainsItself) {
  ModelBuilder m;
  const int in = m.tensor({4}), out = m.tensor({4});
  m.op(kUnsupportedTanh, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  std::string error;
  ASSERT_TRUE(compile_fails(m, &error));
  EXPECT_NE(error.find("operator 0"), std::string::npos) << error;
  EXPECT_NE(error.find("not supported"), std::string::npos) << error;
}

TEST(CApi, ProfileCountsEveryStepByOperatorType) {
  ModelBuilder m;
  const int in = m.tensor({4}), a = m.tensor({4}), b = m.tensor({4});
  m.op(kNeg, {in}, {a});
  m.op(kNeg, {a}, {b});
  m.inputs({in});
  m.outputs({b});
  Loaded l(m.finish());
  ASSERT_NE(l.compiled, nullptr);
  std::vector<float> x(4), y(4);
  LiteRtTensorBuffer bx = buffer_over(x, {4}), by = buffer_over(y, {4});
  ASSERT_EQ(LiteRtCompiledModelSetProfiling(l.compiled, 1), kLiteRtStatusOk);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(LiteRtRunCompiledModel(l.compiled, 0, 1, &bx, 1, &by), kLiteRtStatusOk);
  size_t n = 0;
  ASSERT_EQ(LiteRtCompiledModelGetNumProfileEntries(l.compiled, &n), kLiteRtStatusOk);
  ASSERT_EQ(n, 1u);
  const char* name = nullptr;
  uint64_t ns = 0, steps = 0;
  ASSERT_EQ(LiteRtCompiledModelGetProfileEntry(l.compiled, 0, &name, &ns, &steps), kLiteRtStatusOk);
  EXPECT_STREQ(name, "NEG");
  EXPECT_EQ(steps, 6u);
  LiteRtDestroyTensorBuffer(bx);
  LiteRtDestroyTensorBuffer(by);
}

}  // namespace
}  // namespace testing_models
