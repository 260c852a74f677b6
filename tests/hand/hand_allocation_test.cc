// While two hands are followed, a frame allocates only the result vector:
// every allocation of the process is counted during process().
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "hand/hand_tracker.h"
#include "image/load_image.h"
#include "tests/support/allocation_counter.h"

namespace {

// The allocations of one process() call, the result's own included.
long allocations_of(HandTracker& tracker, const Image& image, std::size_t& hands) {
  start_counting();
  hands = tracker.process(image).size();
  return stop_counting();
}

TEST(HandTrackerProcess, FollowingAllocatesOnlyTheResults) {
  const std::filesystem::path shared = BRIDGE_SHARED_DIR;
  const std::filesystem::path stills = shared / "testdata/stills";
  if (!std::filesystem::exists(stills / "hands_two_01.jpg") ||
      !std::filesystem::exists(shared / "models/hand")) {
    GTEST_SKIP() << "shared files not available";
  }
  HandTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load((shared / "models/hand").string(), error)) << error;
  Image two, one;
  ASSERT_TRUE(load_image((stills / "hands_two_01.jpg").string(), two));
  ASSERT_TRUE(load_image((stills / "hand_single_01.jpg").string(), one));

  std::size_t hands = 0;
  allocations_of(tracker, two, hands);  // the detector and the runtime's first runs
  ASSERT_EQ(hands, 2u);
  long followed = 0;
  for (int call = 0; call < 8; ++call) {
    followed = allocations_of(tracker, two, hands);
    ASSERT_EQ(hands, 2u);
    ASSERT_FALSE(tracker.steps.ran_detector);
    EXPECT_GE(followed, 1);
    EXPECT_LE(followed, 2) << "more than the result vector, grown once per hand";
  }

  // Detector calls also allocate the palm candidates: counted, not bounded.
  tracker.regions.clear();
  long detecting = allocations_of(tracker, two, hands);
  ASSERT_TRUE(tracker.steps.ran_detector && hands == 2);
  tracker.regions.clear();
  allocations_of(tracker, one, hands);
  ASSERT_EQ(hands, 1u);
  long one_followed = 0, one_detecting = 0;
  for (int call = 1; call <= 5; ++call) {
    const long n = allocations_of(tracker, one, hands);
    ASSERT_EQ(hands, 1u);
    (tracker.steps.ran_detector ? one_detecting : one_followed) = n;
  }
  EXPECT_EQ(one_followed, 1);
  std::printf(
      "allocations per call: two hands followed %ld, found by the detector %ld; "
      "one hand followed %ld, with the detector %ld\n",
      followed, detecting, one_followed, one_detecting);
  RecordProperty("two_followed", static_cast<int>(followed));
  RecordProperty("two_detected", static_cast<int>(detecting));
  RecordProperty("one_detecting", static_cast<int>(one_detecting));
}

TEST(HandTrackerProcess, CounterSeesAnAllocation) {
  start_counting();
  void* volatile p = ::operator new(16);  // a direct call, which may not be elided
  const long n = stop_counting();
  ::operator delete(p);
  EXPECT_EQ(n, 1);
}

}  // namespace
