// Finger bends on photographs, from the landmarks the real hand tracker
// finds there: open hands stay nearly straight, a fist bends every finger,
// a raised palm folds only its thumb, a thumbs-up keeps only its thumb
// straight, and fingers bend towards the palm.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/wire_records.h"
#include "hand/hand_tracker.h"
#include "image/load_image.h"
#include "tools/bridge-host/vmc_fingers.h"
#include "wire/hands.h"

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;

// The hands the tracker finds on one photograph, as the hands datagram
// carries them.
std::vector<wire::Hand> hands_on(const std::string& still) {
  HandTracker tracker;
  std::string error;
  EXPECT_TRUE(tracker.load((kShared / "models/hand").string(), error)) << error;
  Image image;
  EXPECT_TRUE(load_image((kShared / "testdata/stills" / still).string(), image)) << still;
  std::vector<wire::Hand> out;
  for (const HandResult& r : tracker.process(image)) out.push_back(hand_record(r));
  return out;
}

struct Bends {
  FingerBones bones;
  float degrees[kFingerCount];
};

// Each hand's bends, printed.
std::vector<Bends> bends_on(const std::string& still, size_t expected_hands) {
  std::vector<Bends> out;
  for (const wire::Hand& hand : hands_on(still)) {
    Bends b{finger_bones(hand, false), {}};
    for (int f = 0; f < kFingerCount; ++f) b.degrees[f] = b.bones.bend[static_cast<size_t>(f)];
    std::printf("%s hand %zu: thumb %.0f index %.0f middle %.0f ring %.0f little %.0f degrees\n",
                still.c_str(), out.size(), b.degrees[0], b.degrees[1], b.degrees[2], b.degrees[3],
                b.degrees[4]);
    out.push_back(b);
  }
  EXPECT_EQ(out.size(), expected_hands) << still;
  return out;
}

class VmcPhotos : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kShared / "models/hand") || !fs::exists(kShared / "testdata/stills"))
      GTEST_SKIP() << "shared models and photographs not available";
  }
};

TEST_F(VmcPhotos, OpenHandsBendEachFingerLessThan45Degrees) {
  for (const Bends& b : bends_on("hands_two_01.jpg", 2))
    for (int f = 0; f < kFingerCount; ++f) EXPECT_LT(b.degrees[f], 45.0f) << "finger " << f;
}

TEST_F(VmcPhotos, FistBendsEveryFingerMoreThan120DegreesTowardsThePalm) {
  for (const Bends& b : bends_on("hand_single_05.jpg", 1)) {
    const float outward = b.bones.side == kAvatarRight ? 1.0f : -1.0f;
    for (int f = 1; f < kFingerCount; ++f) {
      EXPECT_GT(b.degrees[f], 120.0f) << "finger " << f;
      // Palm down: the finger's middle segment points down.
      const Quat middle = b.bones.bones[3 * f] * b.bones.bones[3 * f + 1];
      EXPECT_LT(rotate(middle, Vec3{outward, 0, 0}).y, -0.5f) << "finger " << f;
    }
  }
}

TEST_F(VmcPhotos, RaisedPalmKeepsFourFingersStraightAndFoldsTheThumb) {
  const std::vector<wire::Hand> hands = hands_on("face_hands_07.jpg");
  ASSERT_EQ(hands.size(), 1u);
  EXPECT_GT(palm_normal(hands[0]).z, 0.5f);  // the palm faces the camera
  for (const Bends& b : bends_on("face_hands_07.jpg", 1)) {
    for (int f = 1; f < kFingerCount; ++f) {
      EXPECT_LT(b.degrees[f], 45.0f) << "finger " << f;
      EXPECT_GT(b.degrees[0], b.degrees[f]) << "finger " << f;
    }
  }
}

TEST_F(VmcPhotos, ThumbsUpKeepsTheThumbStraighterThanEveryFinger) {
  for (const Bends& b : bends_on("hand_single_01.jpg", 1))
    for (int f = 1; f < kFingerCount; ++f) EXPECT_LT(b.degrees[0], b.degrees[f]) << "finger " << f;
}

}  // namespace
