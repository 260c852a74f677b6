// Every reference case through InferenceModel: each output element within
// 1e-4 + 1e-5 * max|reference output| of the reference, NaN exactly where
// the reference is NaN, with each kernel family this processor runs. Skips
// when the shared folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "inference/inference_model.h"
#include "runtime/kernels/kernel_family.h"

#include "tests/support/float_file.h"

namespace {

namespace fs = std::filesystem;
using runtime::kernels::KernelFamily;

// Sets BRIDGE_KERNELS, which models compiled meanwhile read, for one test
// (each runs in a process of its own).
struct ForcedKernels {
  explicit ForcedKernels(KernelFamily f) { setenv("BRIDGE_KERNELS", runtime::kernels::kernel_family_name(f), 1); }
  ~ForcedKernels() { unsetenv("BRIDGE_KERNELS"); }
};

class Reference : public testing::TestWithParam<KernelFamily> {};

TEST_P(Reference, EveryCaseOfEveryModel) {
  const fs::path shared = BRIDGE_SHARED_DIR;
  if (!fs::exists(shared / "reference")) GTEST_SKIP() << "shared data not available";
  if (GetParam() > runtime::kernels::processor_kernel_family())
    GTEST_SKIP() << "this processor does not run these kernels";
  const ForcedKernels forced(GetParam());
  ASSERT_EQ(runtime::kernels::chosen_kernel_family(), GetParam());
  for (const char* name : {"face/face_detector", "face/face_landmarks_detector", "face/face_blendshapes",
                           "hand/hand_detector", "hand/hand_landmarks_detector", "hand-lite/hand_detector",
                           "hand-lite/hand_landmarks_detector"}) {
    InferenceModel model;
    std::string error;
    ASSERT_TRUE(model.load((shared / "models" / (std::string(name) + ".tflite")).string(), error)) << error;
    std::vector<fs::path> cases;
    for (const auto& entry : fs::directory_iterator(shared / "reference" / name))
      if (entry.is_directory()) cases.push_back(entry.path());
    std::sort(cases.begin(), cases.end());
    ASSERT_FALSE(cases.empty()) << name;
    for (const fs::path& dir : cases) {
      SCOPED_TRACE(dir.string());
      for (size_t k = 0; k < model.input_count(); ++k) {
        const auto input = read_floats(dir / ("input" + std::to_string(k) + ".f32"));
        ASSERT_EQ(input.size(), model.input(k).size());
        std::copy(input.begin(), input.end(), model.input(k).begin());
      }
      ASSERT_TRUE(model.run());
      for (size_t k = 0; k < model.output_count(); ++k) {
        const auto expected = read_floats(dir / ("out" + std::to_string(k) + ".f32"));
        const auto actual = model.output(k);
        ASSERT_EQ(expected.size(), actual.size()) << "output " << k;
        float max_abs = 0;
        for (float e : expected) max_abs = std::isnan(e) ? max_abs : std::max(max_abs, std::fabs(e));
        const float tolerance = 1e-4f + 1e-5f * max_abs;
        size_t bad = 0, first = 0;
        for (size_t i = expected.size(); i-- > 0;)
          if (std::isnan(expected[i]) ? !std::isnan(actual[i]) : !(std::fabs(expected[i] - actual[i]) <= tolerance))
            ++bad, first = i;
        EXPECT_EQ(bad, 0u) << "output " << k << " at " << first << ": " << actual[first] << " for " << expected[first]
                           << ", tolerance " << tolerance;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EachKernelFamily, Reference,
                         testing::Values(KernelFamily::kPlain, KernelFamily::kAvx2,
                                         KernelFamily::kAvx512),
                         [](const testing::TestParamInfo<KernelFamily>& info) {
                           return std::string(runtime::kernels::kernel_family_name(info.param));
                         });

}  // namespace
