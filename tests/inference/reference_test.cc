// Every reference case through InferenceModel: each output element within
// 1e-4 + 1e-5 * max|reference output| of what the real runtime produced
// (NaN exactly where the reference is NaN).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "inference/inference_model.h"

namespace {

namespace fs = std::filesystem;

const fs::path kShared = BRIDGE_SHARED_DIR;

std::vector<float> read_floats(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> v;
  if (!in) return v;
  in.seekg(0, std::ios::end);
  v.resize(static_cast<size_t>(in.tellg()) / sizeof(float));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(float)));
  return v;
}

struct Case {
  std::string model;  // relative to models/ and reference/, without extension
};

class ReferenceTest : public testing::TestWithParam<const char*> {};

TEST_P(ReferenceTest, MatchesTheRealRuntimeOnEveryCase) {
  const std::string name = GetParam();
  const fs::path model_path = kShared / "models" / (name + ".tflite");
  const fs::path cases = kShared / "reference" / name;
  if (!fs::exists(model_path) || !fs::exists(cases)) GTEST_SKIP() << "shared data not available";

  InferenceModel model;
  std::string error;
  ASSERT_TRUE(model.load(model_path.string(), error)) << error;
  std::vector<fs::path> dirs;
  for (const auto& entry : fs::directory_iterator(cases))
    if (entry.is_directory()) dirs.push_back(entry.path());
  std::sort(dirs.begin(), dirs.end());
  ASSERT_FALSE(dirs.empty());
  for (const fs::path& dir : dirs) {
    SCOPED_TRACE(dir.string());
    for (size_t k = 0; k < model.inputs.size(); ++k) {
      const std::vector<float> input = read_floats(dir / ("input" + std::to_string(k) + ".f32"));
      ASSERT_EQ(input.size(), model.inputs[k].size());
      std::copy(input.begin(), input.end(), model.inputs[k].begin());
    }
    ASSERT_TRUE(model.run());
    for (size_t k = 0; k < model.outputs.size(); ++k) {
      const std::vector<float> expected = read_floats(dir / ("out" + std::to_string(k) + ".f32"));
      const auto& actual = model.outputs[k];
      ASSERT_EQ(expected.size(), actual.size()) << "output " << k;
      float max_abs = 0;
      for (float e : expected)
        if (!std::isnan(e)) max_abs = std::max(max_abs, std::fabs(e));
      const float tolerance = 1e-4f + 1e-5f * max_abs;
      size_t bad = 0;
      float worst = 0;
      size_t worst_at = 0;
      for (size_t i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i]) != std::isnan(actual[i])) {
          ++bad;
          continue;
        }
        if (std::isnan(expected[i])) continue;
        const float diff = std::fabs(expected[i] - actual[i]);
        if (diff > tolerance) ++bad;
        if (diff > worst) {
          worst = diff;
          worst_at = i;
        }
      }
      EXPECT_EQ(bad, 0u) << "output " << k << ": worst difference " << worst << " at " << worst_at
                         << " (expected " << expected[worst_at] << ", got " << actual[worst_at]
                         << ", tolerance " << tolerance << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllModels, ReferenceTest,
                         testing::Values("face/face_detector", "face/face_landmarks_detector",
                                         "face/face_blendshapes", "hand/hand_detector",
                                         "hand/hand_landmarks_detector", "hand-lite/hand_detector",
                                         "hand-lite/hand_landmarks_detector"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string s = info.param;
                           for (char& c : s)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return s;
                         });

}  // namespace
