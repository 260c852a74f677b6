// InferenceModel's loading sequence and messages, on small models written to
// temporary files and on the bundled models when they are present.
#include "inference/inference_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/runtime/model_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_models;

// A file in the test's own temporary folder, removed afterwards.
class TempFile {
 public:
  TempFile(const std::string& name, const std::vector<uint8_t>& bytes)
      : path_(fs::temp_directory_path() / ("inference_model_test_" + std::to_string(::getpid()) + "_" + name)) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { fs::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

std::vector<uint8_t> neg_model(Dims shape, Dims signature = {}) {
  ModelBuilder m;
  const int in = m.tensor(shape, signature), out = m.tensor(shape, signature);
  m.op(kNeg, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  return m.finish();
}

TEST(InferenceModelLoad, MissingFileGivesTheLoadMessage) {
  InferenceModel model;
  std::string error = "previous text";
  EXPECT_FALSE(model.load("/nonexistent/dir/model.tflite", error));
  EXPECT_EQ(error, "Cannot load model /nonexistent/dir/model.tflite.");
}

TEST(InferenceModelLoad, DirectoryGivesTheLoadMessage) {
  const std::string dir = fs::temp_directory_path().string();
  InferenceModel model;
  std::string error;
  EXPECT_FALSE(model.load(dir, error));
  EXPECT_EQ(error, "Cannot load model " + dir + ".");
}

TEST(InferenceModelRunState, RunWithoutASuccessfulLoadFailsQuietly) {
  InferenceModel never_loaded;
  EXPECT_FALSE(never_loaded.run());
  InferenceModel failed;
  std::string error;
  EXPECT_FALSE(failed.load("/nonexistent/model.tflite", error));
  EXPECT_FALSE(failed.run());
}

TEST(InferenceModelLoad, EmptyAndForeignFilesGiveTheLoadMessage) {
  for (const auto& [name, bytes] :
       {std::pair<std::string, std::vector<uint8_t>>{"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}},
        {"zeros", std::vector<uint8_t>(4096, 0)}}) {
    TempFile file(name, bytes);
    InferenceModel model;
    std::string error;
    EXPECT_FALSE(model.load(file.path(), error)) << name;
    EXPECT_EQ(error, "Cannot load model " + file.path() + ".");
  }
}

TEST(InferenceModelLoad, UnsupportedOperatorGivesTheCompileMessage) {
  ModelBuilder m;
  const int in = m.tensor({4}), out = m.tensor({4});
  m.op(kUnsupportedTanh, {in}, {out});
  m.inputs({in});
  m.outputs({out});
  TempFile file("tanh", m.finish());
  InferenceModel model;
  std::string error;
  EXPECT_FALSE(model.load(file.path(), error));
  EXPECT_EQ(error, "Cannot compile model " + file.path() + ".");
}

TEST(InferenceModelLoad, IntegerInputGivesTheInputMessage) {
  // The integer input is declared but read by nothing, so the model compiles
  // and the input check is what refuses it.
  ModelBuilder m;
  const int ints = m.tensor({2}, {}, fb::TensorType_INT32);
  const int in = m.tensor({3}), out = m.tensor({3});
  m.op(kNeg, {in}, {out});
  m.inputs({ints, in});
  m.outputs({out});
  TempFile file("int_input", m.finish());
  InferenceModel model;
  std::string error;
  EXPECT_FALSE(model.load(file.path(), error));
  EXPECT_EQ(error, "Unsupported model input in " + file.path() + ".");
}

TEST(InferenceModelLoad, IntegerOutputGivesTheOutputMessage) {
  ModelBuilder m;
  const int in = m.tensor({3}), out = m.tensor({3});
  const int ints = m.constant_ints({2}, {1, 2});
  m.op(kNeg, {in}, {out});
  m.inputs({in});
  m.outputs({out, ints});
  TempFile file("int_output", m.finish());
  InferenceModel model;
  std::string error;
  EXPECT_FALSE(model.load(file.path(), error));
  EXPECT_EQ(error, "Unsupported model output in " + file.path() + ".");
}

TEST(InferenceModelLoad, DynamicBatchIsFixedToOne) {
  TempFile file("dynamic", neg_model({1, 3}, {-1, 3}));
  InferenceModel model;
  std::string error;
  ASSERT_TRUE(model.load(file.path(), error)) << error;
  ASSERT_EQ(model.inputs.size(), 1u);
  ASSERT_EQ(model.inputs[0].size(), 3u);
  ASSERT_EQ(model.outputs[0].size(), 3u);
  model.inputs[0] = {1.f, -2.f, 3.f};
  ASSERT_TRUE(model.run());
  EXPECT_EQ(model.outputs[0], (FloatArray{-1.f, 2.f, -3.f}));
}

TEST(InferenceModelLoad, ScalarTensorGetsOneElement) {
  TempFile file("scalar", neg_model({}));
  InferenceModel model;
  std::string error;
  ASSERT_TRUE(model.load(file.path(), error)) << error;
  ASSERT_EQ(model.inputs[0].size(), 1u);
  ASSERT_EQ(model.outputs[0].size(), 1u);
  model.inputs[0][0] = 4.f;
  ASSERT_TRUE(model.run());
  EXPECT_EQ(model.outputs[0][0], -4.f);
}

TEST(InferenceModelLoad, ArraysAreAlignedForTheKernels) {
  TempFile file("aligned", neg_model({1, 5}));
  InferenceModel model;
  std::string error;
  ASSERT_TRUE(model.load(file.path(), error)) << error;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(model.inputs[0].data()) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(model.outputs[0].data()) % 64, 0u);
}

TEST(InferenceModelLoad, SignatureOrderWinsOverTheSubgraphLists) {
  // Subgraph inputs (a, b), signature (b, a); outputs likewise swapped.
  ModelBuilder m;
  const int a = m.tensor({2}), b = m.tensor({3}), na = m.tensor({2}), nb = m.tensor({3});
  m.op(kNeg, {a}, {na});
  m.op(kNeg, {b}, {nb});
  m.inputs({a, b});
  m.outputs({na, nb});
  m.signature({b, a}, {nb, na});
  TempFile file("signature", m.finish());
  InferenceModel model;
  std::string error;
  ASSERT_TRUE(model.load(file.path(), error)) << error;
  ASSERT_EQ(model.inputs.size(), 2u);
  EXPECT_EQ(model.inputs[0].size(), 3u);
  EXPECT_EQ(model.inputs[1].size(), 2u);
  model.inputs[0] = {1, 2, 3};
  model.inputs[1] = {4, 5};
  ASSERT_TRUE(model.run());
  EXPECT_EQ(model.outputs[0], (FloatArray{-1, -2, -3}));
  EXPECT_EQ(model.outputs[1], (FloatArray{-4, -5}));
}

TEST(InferenceModelLoad, BundledModelsHaveTheExpectedTensorSizes) {
  const fs::path models = fs::path(BRIDGE_SHARED_DIR) / "models";
  if (!fs::exists(models / "face")) GTEST_SKIP() << "shared models not available";
  struct Expect {
    const char* file;
    std::vector<size_t> inputs, outputs;
  };
  for (const Expect& e : {Expect{"face/face_landmarks_detector.tflite", {256 * 256 * 3}, {1434, 1, 1}},
                          Expect{"face/face_blendshapes.tflite", {146 * 2}, {52}},
                          Expect{"hand/hand_landmarks_detector.tflite", {224 * 224 * 3}, {63, 1, 1, 63}}}) {
    InferenceModel model;
    std::string error;
    ASSERT_TRUE(model.load((models / e.file).string(), error)) << error;
    std::vector<size_t> in, out;
    for (const auto& a : model.inputs) in.push_back(a.size());
    for (const auto& a : model.outputs) out.push_back(a.size());
    EXPECT_EQ(in, e.inputs) << e.file;
    EXPECT_EQ(out, e.outputs) << e.file;
  }
}

}  // namespace
