// Hostile and malformed model files: every one is refused at load (or, for
// an operator-level fault, at compile) without crashing or reading outside
// the file. Under AddressSanitizer an over-read fails these tests.
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/runtime/op_test_support.h"

namespace testing_models {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> small_model() {
  ModelBuilder m;
  const int in = m.tensor({1, 4, 4, 2}), out = m.tensor({1, 4, 4, 3});
  m.op(kConv2D, {in, m.constant({3, 1, 1, 2}, {1, 2, 3, 4, 5, 6}), m.constant({3}, {0.5f, 0, -1})}, {out},
       conv_options(fb::Padding_SAME, 1, 1));
  m.inputs({in});
  m.outputs({out});
  return m.finish();
}

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ModelLoader, RefusesEmptyAndForeignBytes) {
  EXPECT_FALSE(Runner({}).loaded());
  EXPECT_FALSE(Runner({'T', 'F', 'L', '3'}).loaded());
  EXPECT_FALSE(Runner(std::vector<uint8_t>(64, 0xff)).loaded());
  auto bytes = small_model();
  bytes[4] = 'X';  // file identifier
  EXPECT_FALSE(Runner(bytes).loaded());
}

TEST(ModelLoader, EveryTruncationOfASmallModelIsRefused) {
  const auto bytes = small_model();
  ASSERT_TRUE(Runner(bytes).compiled());
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    Runner r(cut);
    EXPECT_FALSE(r.compiled()) << "length " << n;
  }
}

TEST(ModelLoader, TruncationsOfABundledModelAreRefused) {
  const fs::path path = fs::path(BRIDGE_SHARED_DIR) / "models/face/face_blendshapes.tflite";
  if (!fs::exists(path)) GTEST_SKIP() << "shared models not available";
  const auto bytes = read_file(path);
  // Dense over the header and tables at the end, sparse through the weights.
  std::vector<size_t> lengths;
  for (size_t n = 0; n < 256; ++n) lengths.push_back(n);
  for (size_t n = 256; n < bytes.size(); n += bytes.size() / 97) lengths.push_back(n);
  for (size_t n = bytes.size() > 2048 ? bytes.size() - 2048 : 0; n < bytes.size(); n += 7) lengths.push_back(n);
  for (size_t n : lengths) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(Runner(cut).loaded()) << "length " << n;
  }
}

TEST(ModelLoader, RandomBytesAtRandomOffsetsNeverCrash) {
  std::mt19937 rng(1234);
  const auto original = small_model();
  for (int i = 0; i < 2000; ++i) {
    auto bytes = original;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    Runner r(bytes);
    if (r.compiled()) r.run_current();  // a mutated model that still compiles must also run safely
  }
}

TEST(ModelLoader, TensorIndexOutOfRange) {
  ModelBuilder m;
  const int in = m.tensor({2}), out = m.tensor({2});
  m.op(kNeg, {in + 7}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_FALSE(Runner(m.finish()).loaded());

  ModelBuilder n;
  const int a = n.tensor({2}), b = n.tensor({2});
  n.op(kNeg, {a}, {b});
  n.inputs({a});
  n.outputs({b + 1});
  EXPECT_FALSE(Runner(n.finish()).loaded());

  ModelBuilder s;
  const int c = s.tensor({2}), d = s.tensor({2});
  s.op(kNeg, {c}, {d});
  s.inputs({c});
  s.outputs({d});
  s.signature({c}, {d + 5});
  EXPECT_FALSE(Runner(s.finish()).loaded());
}

TEST(ModelLoader, ShapesThatOverflowOrMakeNoSense) {
  for (const Dims& shape : {Dims{65536, 65536, 65536}, Dims{-5, 2}, Dims{1, 2, 3, 4, 5, 6, 7, 8, 9},
                            Dims{2147483647, 2}}) {
    ModelBuilder m;
    const int in = m.tensor(shape), out = m.tensor({2});
    m.op(kNeg, {in}, {out});
    m.inputs({in});
    m.outputs({out});
    EXPECT_FALSE(Runner(m.finish()).loaded()) << shape.size();
  }
  ModelBuilder sig;  // signature disagreeing with the shape
  const int in = sig.tensor({1, 3}, {2, 3}), out = sig.tensor({1, 3});
  sig.op(kNeg, {in}, {out});
  sig.inputs({in});
  sig.outputs({out});
  EXPECT_FALSE(Runner(sig.finish()).loaded());
}

TEST(ModelLoader, ConstantDataOfTheWrongSize) {
  ModelBuilder m;
  const int in = m.tensor({4}), out = m.tensor({4});
  m.op(kAdd, {in, m.constant({4}, {1, 2, 3})}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_FALSE(Runner(m.finish()).loaded());
}

TEST(ModelLoader, IndexFieldsOutOfRange) {
  // Built by hand: an operator code index and a buffer index past their lists.
  for (int fault = 0; fault < 2; ++fault) {
    flatbuffers::FlatBufferBuilder b;
    std::vector<flatbuffers::Offset<fb::Buffer>> buffers = {fb::CreateBuffer(b)};
    std::vector<flatbuffers::Offset<fb::Tensor>> tensors = {
        fb::CreateTensor(b, b.CreateVector(std::vector<int32_t>{2}), fb::TensorType_FLOAT32, fault == 1 ? 9u : 0u),
        fb::CreateTensor(b, b.CreateVector(std::vector<int32_t>{2}))};
    auto op = fb::CreateOperator(b, fault == 0 ? 3u : 0u, b.CreateVector(std::vector<int32_t>{0}),
                                 b.CreateVector(std::vector<int32_t>{1}));
    auto graph = fb::CreateSubGraph(b, b.CreateVector(tensors), b.CreateVector(std::vector<int32_t>{0}),
                                    b.CreateVector(std::vector<int32_t>{1}), b.CreateVector(std::vector{op}));
    auto codes = b.CreateVector(std::vector{fb::CreateOperatorCode(b, kNeg, 0, 1, kNeg)});
    b.Finish(fb::CreateModel(b, 3, codes, b.CreateVector(std::vector{graph}), 0, b.CreateVector(buffers)),
             fb::ModelIdentifier());
    EXPECT_FALSE(Runner(std::vector<uint8_t>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize())).loaded())
        << "fault " << fault;
  }
}

TEST(ModelLoader, OperatorCodeFromEitherField) {
  // Old files fill only the one-byte field, new ones also the 32-bit one.
  for (const auto& [old_field, new_field] : {std::pair<int8_t, int32_t>{kNeg, 0}, {kNeg, kNeg}, {0, kNeg}}) {
    flatbuffers::FlatBufferBuilder b;
    std::vector<flatbuffers::Offset<fb::Tensor>> tensors = {
        fb::CreateTensor(b, b.CreateVector(std::vector<int32_t>{2})),
        fb::CreateTensor(b, b.CreateVector(std::vector<int32_t>{2}))};
    auto op = fb::CreateOperator(b, 0, b.CreateVector(std::vector<int32_t>{0}), b.CreateVector(std::vector<int32_t>{1}));
    auto graph = fb::CreateSubGraph(b, b.CreateVector(tensors), b.CreateVector(std::vector<int32_t>{0}),
                                    b.CreateVector(std::vector<int32_t>{1}), b.CreateVector(std::vector{op}));
    auto codes = b.CreateVector(std::vector{fb::CreateOperatorCode(b, old_field, 0, 1, new_field)});
    b.Finish(fb::CreateModel(b, 3, codes, b.CreateVector(std::vector{graph}), 0,
                             b.CreateVector(std::vector{fb::CreateBuffer(b)})),
             fb::ModelIdentifier());
    Runner r(std::vector<uint8_t>(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()));
    ASSERT_TRUE(r.compiled()) << r.error();
    ASSERT_TRUE(r.run({{1.f, -2.f}}));
    EXPECT_EQ(r.outputs[0], (std::vector<float>{-1.f, 2.f}));
  }
}

TEST(ModelLoader, GraphOrderFaultsFailToCompile) {
  // Reads a tensor that no earlier operator writes.
  ModelBuilder m;
  const int in = m.tensor({2}), mid = m.tensor({2}), out = m.tensor({2});
  m.op(kNeg, {mid}, {out});
  m.op(kNeg, {in}, {mid});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));

  // Writes a graph input.
  ModelBuilder w;
  const int a = w.tensor({2}), b = w.tensor({2});
  w.op(kNeg, {b}, {a});
  w.inputs({a, b});
  w.outputs({a});
  EXPECT_TRUE(compile_fails(w));

  // Two operators write one tensor.
  ModelBuilder t;
  const int x = t.tensor({2}), y = t.tensor({2});
  t.op(kNeg, {x}, {y});
  t.op(kRelu, {x}, {y});
  t.inputs({x});
  t.outputs({y});
  EXPECT_TRUE(compile_fails(t));
}

TEST(ModelLoader, OperatorsAskingForHugeOutputsFailToCompile) {
  // Each output dimension is legal on its own; together they are not.
  ModelBuilder pad;
  const int in = pad.tensor({1, 1, 1, 1, 1, 1, 1, 1}), out = pad.tensor({});
  pad.op(kPad, {in, pad.constant_ints({8, 2}, std::vector<int32_t>(16, 1 << 25))}, {out});
  pad.inputs({in});
  pad.outputs({out});
  EXPECT_TRUE(compile_fails(pad));

  ModelBuilder resize;
  const int x = resize.tensor({1, 2, 2, 4096}), y = resize.tensor({});
  resize.op(kResizeBilinear, {x, resize.constant_ints({2}, {1 << 13, 1 << 13})}, {y}, resize_options(false, false));
  resize.inputs({x});
  resize.outputs({y});
  EXPECT_TRUE(compile_fails(resize));
}

TEST(ModelLoader, ActivationsBeyondTheArenaLimitFailToCompile) {
  // Five 256 MiB tensors alive at once: refused before any of it is reserved.
  ModelBuilder m;
  const Dims big = {1 << 26};
  const int x = m.tensor(big);
  std::vector<int> branches;
  for (int i = 0; i < 5; ++i) {
    branches.push_back(m.tensor(big));
    m.op(kNeg, {x}, {branches.back()});
  }
  int sum = branches[0];
  for (int i = 1; i < 5; ++i) {
    const int next = m.tensor(big);
    m.op(kAdd, {sum, branches[i]}, {next});
    sum = next;
  }
  m.inputs({x});
  m.outputs({sum});
  std::string error;
  EXPECT_TRUE(compile_fails(m, &error));
  EXPECT_NE(error.find("activations need"), std::string::npos) << error;
}

TEST(ModelLoader, VariableTensorFailsToCompile) {
  // A variable carries state between runs, which this runtime does not keep.
  ModelBuilder m;
  const int in = m.tensor({2}), state = m.tensor({2}), out = m.tensor({2});
  m.mark_variable(state);
  m.op(kAdd, {in, state}, {out});
  m.inputs({in});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

TEST(ModelLoader, DeclaredShapeThatDisagreesWithInferenceFailsToCompile) {
  ModelBuilder m;
  const int a = m.tensor({2, 3}), b = m.tensor({3}), out = m.tensor({2, 4});
  m.op(kAdd, {a, b}, {out});
  m.inputs({a, b});
  m.outputs({out});
  EXPECT_TRUE(compile_fails(m));
}

}  // namespace
}  // namespace testing_models
