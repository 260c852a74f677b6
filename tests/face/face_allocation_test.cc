// While a face is followed, a frame allocates only the result's landmark
// vector: every allocation path of the process (operator new and, outside
// sanitizer builds, malloc and friends) is counted during process().
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "face/face_tracker.h"
#include "image/load_image.h"
#include "tests/support/allocation_counter.h"

namespace {

// The allocations of one process() call, the result's own included.
long allocations_of(FaceTracker& tracker, const Image& image, bool& found) {
  start_counting();
  found = tracker.process(image, 46.8f).found;
  return stop_counting();
}

TEST(FaceTrackerProcess, FollowingAllocatesOnlyTheLandmarks) {
  const std::filesystem::path shared = BRIDGE_SHARED_DIR;
  if (!std::filesystem::exists(shared / "frames/000003.jpg"))
    GTEST_SKIP() << "shared files not available";
  FaceTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load((shared / "models/face").string(), error)) << error;
  Image frames[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(load_image((shared / ("frames/00000" + std::to_string(i + 1) + ".jpg")).string(),
                           frames[i]));
  }
  bool found = false;
  allocations_of(tracker, frames[0], found);  // the runtime's first-run work
  ASSERT_TRUE(found && tracker.tracking);
  for (int round = 0; round < 3; ++round) {
    for (const Image& frame : frames) {
      EXPECT_EQ(allocations_of(tracker, frame, found), 1);
      ASSERT_TRUE(found && tracker.tracking);
    }
  }
  // The head pose solver's share, named when the count above is off.
  const std::vector<Point> landmarks = tracker.process(frames[0], 46.8f).landmarks;
  HeadPose pose;
  start_counting();
  const bool solved = tracker.geometry.solve(landmarks, 640, 480, 46.8f, pose);
  const long solving = stop_counting();
  EXPECT_TRUE(solved);
  EXPECT_EQ(solving, 0) << "FaceGeometry::solve";
  // Searching also allocates the detector's candidate lists: counted, not bounded.
  for (const Image& frame : frames) {
    tracker.tracking = false;
    const long searching = allocations_of(tracker, frame, found);
    ASSERT_TRUE(found && tracker.steps.ran_detector);
    std::printf("searching frame: %ld allocations\n", searching);
    RecordProperty("searching_allocations", static_cast<int>(searching));
  }
}

}  // namespace
