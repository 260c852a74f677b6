// run() must not allocate: every allocation of the process is counted while
// real models run.
#include <gtest/gtest.h>

#include <filesystem>

#include "inference/inference_model.h"
#include "tests/support/allocation_counter.h"

namespace {

TEST(InferenceModelRun, AllocatesNothing) {
  const std::filesystem::path models = std::filesystem::path(BRIDGE_SHARED_DIR) / "models";
  if (!std::filesystem::exists(models / "face")) GTEST_SKIP() << "shared models not available";
  for (const char* file :
       {"face/face_detector.tflite", "face/face_landmarks_detector.tflite",
        "face/face_blendshapes.tflite", "hand/hand_detector.tflite",
        "hand/hand_landmarks_detector.tflite", "hand-lite/hand_detector.tflite",
        "hand-lite/hand_landmarks_detector.tflite"}) {
    InferenceModel model;
    std::string error;
    ASSERT_TRUE(model.load((models / file).string(), error)) << error;
    ASSERT_TRUE(model.run());
    start_counting();
    const bool ok = model.run() && model.run();
    const long allocations = stop_counting();
    EXPECT_TRUE(ok) << file;
    EXPECT_EQ(allocations, 0) << file;
  }
}

TEST(InferenceModelRun, CounterSeesAnAllocation) {
  start_counting();
  void* volatile p = ::operator new(16);  // a direct call, which may not be elided
  const long allocations = stop_counting();
  ::operator delete(p);
  EXPECT_GE(allocations, 1);
}

}  // namespace
