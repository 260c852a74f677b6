// The model-run tool end to end: a reference case in, out<k>.f32 files in
// the same format, and failures reported through its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::vector<float> read_floats(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<float> v(in ? static_cast<size_t>(in.tellg()) / sizeof(float) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(float)));
  return v;
}

int run_tool(const std::string& args) {
  const std::string tool = std::string(BRIDGE_BINARY_DIR) + "/tools/model-run/model-run";
  const int status = std::system((tool + " " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModelRunTool, WritesOutputsInTheReferenceFormat) {
  const fs::path shared = BRIDGE_SHARED_DIR;
  const fs::path model = shared / "models/face/face_detector.tflite";
  const fs::path cases = shared / "reference/face/face_detector/c_astronaut";
  if (!fs::exists(model) || !fs::exists(cases)) GTEST_SKIP() << "shared data not available";
  const fs::path out = fs::temp_directory_path() / ("model_run_tool_test_" + std::to_string(::getpid()));
  fs::create_directories(out);
  ASSERT_EQ(run_tool(model.string() + " " + (cases / "input0.f32").string() + " " + out.string()), 0);
  for (const char* name : {"out0.f32", "out1.f32"}) {
    const auto expected = read_floats(cases / name), actual = read_floats(out / name);
    ASSERT_EQ(actual.size(), expected.size()) << name;
    float max_abs = 0;
    for (float e : expected) max_abs = std::max(max_abs, std::fabs(e));
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_NEAR(actual[i], expected[i], 1e-4f + 1e-5f * max_abs) << name << " at " << i;
  }
  fs::remove_all(out);
}

TEST(ModelRunTool, FailuresGiveExitStatusOne) {
  const fs::path shared = BRIDGE_SHARED_DIR;
  const fs::path model = shared / "models/face/face_detector.tflite";
  if (!fs::exists(model)) GTEST_SKIP() << "shared data not available";
  const fs::path tmp = fs::temp_directory_path();
  EXPECT_EQ(run_tool(model.string() + " " + tmp.string()), 1) << "no input given";
  EXPECT_EQ(run_tool("/nonexistent.tflite /nonexistent.f32 " + tmp.string()), 1) << "missing model";
  EXPECT_EQ(run_tool(model.string() + " " + model.string() + " " + tmp.string()), 1) << "input of the wrong size";
  EXPECT_EQ(run_tool(""), 2) << "usage";
}

}  // namespace
