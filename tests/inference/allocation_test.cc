// A model run allocates nothing, and a tracked frame only its result: every
// allocation of the process is counted (tests/support/allocation_counter).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/tracker_files.h"

namespace {

namespace fs = std::filesystem;

TEST(Allocations, AModelRunAllocatesNothing) {
  if (!fs::exists(kShared / "models/face")) GTEST_SKIP() << "shared models not available";
  for (const char* file :
       {"face/face_detector.tflite", "face/face_landmarks_detector.tflite", "face/face_blendshapes.tflite",
        "hand/hand_detector.tflite", "hand/hand_landmarks_detector.tflite", "hand-lite/hand_detector.tflite",
        "hand-lite/hand_landmarks_detector.tflite"}) {
    InferenceModel model;
    std::string error;
    ASSERT_TRUE(model.load((kShared / "models" / file).string(), error)) << error;
    ASSERT_TRUE(model.run());
    bool ok = false;
    EXPECT_EQ(allocations_of([&] { ok = model.run() && model.run(); }), 0) << file;
    EXPECT_TRUE(ok) << file;
  }
}

// While a face is followed a frame allocates only the result's landmarks;
// the head pose solver nothing. Searching also allocates the detector's
// candidate lists: counted, not bounded.
TEST(Allocations, AFollowedFaceAllocatesOnlyItsLandmarks) {
  if (!fs::exists(kShared / "frames/000003.jpg")) GTEST_SKIP() << "shared files not available";
  FaceTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load((kShared / "models/face").string(), error)) << error;
  const Image frames[3] = {picture(kShared / "frames/000001.jpg"), picture(kShared / "frames/000002.jpg"),
                           picture(kShared / "frames/000003.jpg")};
  FaceResult result = tracker.process(frames[0], 46.8f);  // the runtime's first-run work
  ASSERT_TRUE(result.found && tracker.tracking);
  for (int round = 0; round < 3; ++round) {
    for (const Image& frame : frames) {
      EXPECT_EQ(allocations_of([&] { result = tracker.process(frame, 46.8f); }), 1);
      ASSERT_TRUE(result.found && tracker.tracking);
    }
  }
  HeadPose pose;
  EXPECT_EQ(allocations_of([&] { EXPECT_TRUE(tracker.geometry.solve(result.landmarks, 640, 480, 46.8f, pose)); }), 0);
  tracker.tracking = false;
  const long searching = allocations_of([&] { result = tracker.process(frames[0], 46.8f); });
  ASSERT_TRUE(result.found && tracker.steps.ran_detector);
  std::printf("searching frame: %ld allocations\n", searching);
}

// While two hands are followed a call allocates only the result vector
// (grown once per hand); one hand, the same.
TEST(Allocations, FollowedHandsAllocateOnlyTheResults) {
  const fs::path stills = kShared / "testdata/stills";
  if (!fs::exists(stills / "hands_two_01.jpg") || !fs::exists(kShared / "models/hand")) {
    GTEST_SKIP() << "shared files not available";
  }
  HandTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load((kShared / "models/hand").string(), error)) << error;
  std::vector<HandResult> hands;
  for (const auto& [still, count] : {std::pair{"hands_two_01.jpg", 2u}, {"hand_single_01.jpg", 1u}}) {
    SCOPED_TRACE(still);
    const Image image = picture(stills / still);
    tracker.regions.clear();
    hands = tracker.process(image);  // the detector and the runtime's first runs
    ASSERT_EQ(hands.size(), count);
    for (int call = 0; call < 4; ++call) {  // not yet the fifth: no detector
      const long n = allocations_of([&] { hands = tracker.process(image); });
      ASSERT_EQ(hands.size(), count);
      ASSERT_FALSE(tracker.steps.ran_detector);
      EXPECT_GE(n, 1);
      EXPECT_LE(n, 2);
    }
  }
}

}  // namespace
