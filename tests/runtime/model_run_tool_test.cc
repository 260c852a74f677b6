// The model-run tool runs: a reference case in, its outputs out, and a refusal
// of input of the wrong size. (What the runtime computes: the reference test.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "tests/support/float_file.h"

namespace {

namespace fs = std::filesystem;

int run_tool(const std::string& args) {
  const int status = std::system((BRIDGE_BINARY_DIR "/tools/model-run/model-run " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModelRunTool, ReferenceCaseAndBadInput) {
  const fs::path model = fs::path(BRIDGE_SHARED_DIR) / "models/face/face_detector.tflite";
  const fs::path cases = fs::path(BRIDGE_SHARED_DIR) / "reference/face/face_detector/c_astronaut";
  if (!fs::exists(model) || !fs::exists(cases)) GTEST_SKIP() << "shared data not available";
  const fs::path out = fs::temp_directory_path() / ("model_run_tool_test_" + std::to_string(::getpid()));
  fs::create_directories(out);
  ASSERT_EQ(run_tool(model.string() + " " + (cases / "input0.f32").string() + " " + out.string()), 0);
  for (const char* name : {"out0.f32", "out1.f32"}) {
    const auto expected = read_floats(cases / name), actual = read_floats(out / name);
    ASSERT_EQ(actual.size(), expected.size()) << name;
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_NEAR(actual[i], expected[i], 1e-3f * (1 + std::fabs(expected[i])));
  }
  EXPECT_EQ(run_tool(model.string() + " " + model.string() + " " + out.string()), 1) << "input of the wrong size";
  fs::remove_all(out);
}

}  // namespace
