// Finger bends on photographs, from the landmarks the real hand tracker
// finds there: open hands stay nearly straight, a fist bends every finger
// towards the palm, a raised palm folds only its thumb, a thumbs-up or down
// keeps only its thumb straight. The open hand's resting bend was set on
// hands_two_01; hands_two_05 and face_hands_05 hold it to photographs it
// was not set on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/wire_records.h"
#include "hand/hand_tracker.h"
#include "tests/support/tracker_files.h"
#include "tools/bridge-host/vmc_fingers.h"

namespace {

const std::string kShared = BRIDGE_SHARED_DIR;

TEST(VmcPhotos, FingerBendsOfOpenHandsAFistARaisedPalmAndAThumbsUp) {
  if (!std::filesystem::exists(kShared + "/testdata/stills")) GTEST_SKIP() << "shared photographs not available";
  HandTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load(kShared + "/models/hand", error)) << error;
  enum Shape { kOpen, kFist, kRaisedPalm, kThumbsUp };
  const struct {
    const char* still;
    size_t hands;
    Shape shape;
  } cases[] = {{"hands_two_01.jpg", 2, kOpen},
               {"hand_single_05.jpg", 1, kFist},
               {"face_hands_07.jpg", 1, kRaisedPalm},
               {"hand_single_01.jpg", 1, kThumbsUp},
               {"hands_two_05.jpg", 1, kOpen},
               {"face_hands_05.jpg", 1, kThumbsUp}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.still);
    const Image image = picture(kShared + "/testdata/stills/" + c.still);
    tracker.regions.clear();
    const std::vector<HandResult> found = tracker.process(image);
    ASSERT_EQ(found.size(), c.hands);
    for (const HandResult& result : found) {
      const wire::Hand hand = hand_record(result);
      const FingerBones b = finger_bones(hand, false);
      const auto& bend = b.bend;
      std::printf("%s: thumb %.0f index %.0f middle %.0f ring %.0f little %.0f degrees\n", c.still, bend[0],
                  bend[1], bend[2], bend[3], bend[4]);
      const float outward = b.side == kAvatarRight ? 1.0f : -1.0f;
      if (c.shape == kRaisedPalm) {
        EXPECT_GT(palm_normal(hand).z, 0.5f);  // the palm faces the camera
      }
      for (size_t f = 1; f < kFingerCount; ++f) {
        SCOPED_TRACE(f);
        switch (c.shape) {
          case kOpen:
            EXPECT_LT(std::max(bend[0], bend[f]), 45.0f);
            break;
          case kRaisedPalm:
            EXPECT_LT(bend[f], 45.0f);
            EXPECT_GT(bend[0], bend[f]);
            break;
          case kThumbsUp:
            EXPECT_LT(bend[0], bend[f]);
            break;
          case kFist:
            EXPECT_GT(bend[f], 120.0f);
            // Palm down: the finger's middle segment points down.
            EXPECT_LT(rotate(b.bones[3 * f] * b.bones[3 * f + 1], Vec3{outward, 0, 0}).y, -0.5f);
        }
      }
    }
  }
}

}  // namespace
