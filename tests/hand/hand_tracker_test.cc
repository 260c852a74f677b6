// The tracker's bookkeeping on real pictures: when the palm detector runs,
// how detected palms and followed hands merge, how many hands come back and
// in which order; which model sets `load` refuses with which message; and
// the presence and handedness values the landmark step acts on. (The sample
// frames one by one: hand_reference_test.cc.)
#include "hand/hand_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <tuple>

#include "detection/regions.h"
#include "tests/support/fixed_model.h"
#include "tests/support/tracker_files.h"

namespace {

namespace fs = std::filesystem;
using testing_models::Dims;
using testing_models::Floats;

const fs::path kModels = kShared / "models";
const fs::path kStills = kShared / "testdata/stills";
constexpr const char* kTensorMessage = "Hand Landmarker models have unexpected tensors.";

auto fields(const RotatedRect& r) { return std::tie(r.cx, r.cy, r.width, r.height, r.rotation); }

// Two pictures of one width, one above the other.
Image stacked(const Image& top, const Image& bottom) {
  Image out{top.width, top.height + bottom.height, top.pixels};
  out.pixels.insert(out.pixels.end(), bottom.pixels.begin(), bottom.pixels.end());
  return out;
}

// The picture with rows [from, to) painted black.
Image blanked(Image image, int from, int to) {
  const std::size_t row = static_cast<std::size_t>(image.width) * 3;
  std::fill(image.pixels.begin() + static_cast<std::ptrdiff_t>(row * from),
            image.pixels.begin() + static_cast<std::ptrdiff_t>(row * to), uint8_t{0});
  return image;
}

// A hand lies in the region it was found in: its landmarks' mean within the
// region's inner circle.
void expect_inside(const HandResult& hand, const RotatedRect& region, const Image& image) {
  const float w = static_cast<float>(image.width), h = static_cast<float>(image.height);
  const float x = hand.center_x * w + w * 0.5f, y = hand.center_y * w + h * 0.5f;
  EXPECT_LT(std::hypot(x - region.cx, y - region.cy), 0.5f * region.width)
      << "hand at " << x << ", " << y << " outside the region at " << region.cx << ", "
      << region.cy;
}

class HandTracking : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kModels / "hand") || !fs::exists(kStills) || !fs::exists(kShared / "frames")) {
      GTEST_SKIP() << "shared models and pictures not available";
    }
    std::string error;
    ASSERT_TRUE(tracker.load((kModels / "hand").string(), error)) << error;
  }

  // One process() call; `before` keeps the regions it started from.
  std::vector<HandResult> step(const Image& image) {
    before = tracker.regions;
    std::vector<HandResult> results = tracker.process(image);
    EXPECT_LE(results.size(), kMaxHands);
    EXPECT_EQ(tracker.regions.size(), results.size());
    EXPECT_EQ(tracker.steps.regions_used.size(), results.size());
    EXPECT_EQ(tracker.steps.followed_before, before.size());
    return results;
  }

  // What the hand stage does when hand tracking is switched off.
  void forget() {
    tracker.regions.clear();
    tracker.frames_since_detection = 0;
  }

  HandTracker tracker;
  std::vector<RotatedRect> before;
};

// Two followed regions on one hand: both find it, and the second finding,
// whose next region lands on the first one's, is dropped.
TEST_F(HandTracking, OneHandFollowedTwiceIsOneHand) {
  const Image image = picture(kStills / "hand_single_01.jpg");
  ASSERT_EQ(step(image).size(), 1u);
  const RotatedRect r = tracker.regions[0];
  const RotatedRect shifted{r.cx + 0.2f * r.width, r.cy, 1.3f * r.width, 1.3f * r.height,
                            r.rotation};
  tracker.regions = {r, shifted};
  EXPECT_EQ(step(image).size(), 1u);
  EXPECT_FALSE(tracker.steps.ran_detector);
  EXPECT_EQ(fields(tracker.steps.regions_used[0]), fields(r));
  // The shifted region alone finds the hand too.
  tracker.regions = {shifted};
  EXPECT_EQ(step(image).size(), 1u);
}

TEST_F(HandTracking, TwoHandsFollowedWithoutTheDetector) {
  const Image two = picture(kStills / "hands_two_01.jpg");
  const Image black = blanked(two, 0, two.height);
  enum Change { kNone, kForgetAll, kDropSecond };
  struct Step {
    const Image& image;
    Change change;
    bool detector;
    std::size_t hands;
    int counter;
    const char* what;
  };
  const Step steps[] = {
      {two, kNone, true, 2, 0, "both hands returned by the call that detects them"},
      {two, kNone, false, 2, 1, "followed without the detector"},
      {two, kNone, false, 2, 2, "followed"},
      {two, kNone, false, 2, 3, "followed"},
      {two, kNone, false, 2, 4, "followed"},
      {two, kNone, false, 2, 5, "not even on the fifth call"},
      {two, kDropSecond, true, 2, 0, "one left after five calls: detector at once, other found"},
      {two, kNone, false, 2, 1, "two followed again"},
      {black, kNone, false, 0, 2, "both gone: lost in a call without the detector"},
      {black, kNone, true, 0, 0, "searching"},
      {two, kNone, true, 2, 0, "found again"},
      {two, kForgetAll, true, 2, 0, "hand tracking switched off and on: detector again"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    RotatedRect dropped{};
    if (s.change == kForgetAll) forget();
    if (s.change == kDropSecond) {
      dropped = tracker.regions.back();
      tracker.regions.pop_back();
    }
    const std::vector<HandResult> results = step(s.image);
    EXPECT_EQ(tracker.steps.ran_detector, s.detector);
    ASSERT_EQ(results.size(), s.hands);
    EXPECT_EQ(tracker.frames_since_detection, s.counter);
    // Followed hands first, in the order of the regions they were followed in.
    if (results.size() >= before.size()) {
      for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(fields(tracker.steps.regions_used[i]), fields(before[i])) << i;
      }
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
      expect_inside(results[i], tracker.steps.regions_used[i], s.image);
    }
    if (s.change == kDropSecond) expect_inside(results[1], dropped, s.image);
  }
}

// Four hands in view, one followed that the detector does not pick: the
// detector's two palms would make three hands.
TEST_F(HandTracking, NeverMoreThanTwoHands) {
  const Image two = picture(kStills / "hands_two_01.jpg");
  const Image four = stacked(two, two);
  std::vector<RotatedRect> hands;  // all four, found with one half blacked out at a time
  for (const auto& [from, to] : {std::pair{0, two.height}, std::pair{two.height, four.height}}) {
    forget();
    step(blanked(four, from, to));
    hands.insert(hands.end(), tracker.regions.begin(), tracker.regions.end());
  }
  ASSERT_EQ(hands.size(), 4u);
  forget();
  ASSERT_EQ(step(four).size(), 2u);
  const std::vector<RotatedRect> picked = tracker.regions;
  const auto overlap = [&](const RotatedRect& h) {
    return std::max(iou(h, picked[0]), iou(h, picked[1]));
  };
  const auto other = std::min_element(hands.begin(), hands.end(),
                                      [&](auto& a, auto& b) { return overlap(a) < overlap(b); });
  ASSERT_LT(overlap(*other), 0.25f);

  forget();
  tracker.regions.push_back(*other);
  tracker.frames_since_detection = 4;
  const std::vector<HandResult> results = step(four);
  EXPECT_TRUE(tracker.steps.ran_detector);
  EXPECT_EQ(tracker.steps.palms.size(), 2u);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(fields(tracker.steps.regions_used[0]), fields(*other)) << "the followed hand first";
}

constexpr const char* kDetector = "hand_detector.tflite";
constexpr const char* kLandmarks = "hand_landmarks_detector.tflite";

// The landmark model's four outputs: landmarks in crop pixels, presence,
// handedness and 3-D landmarks, with landmarks spread over the crop.
std::vector<Floats> landmark_outputs(float presence, float handedness) {
  Floats crop(63), world(63);
  for (int i = 0; i < 21; ++i) {
    crop[3 * i] = 20.0f + 8.0f * static_cast<float>(i);
    crop[3 * i + 1] = 200.0f - 7.0f * static_cast<float>(i % 5);
    world[3 * i] = 0.004f * static_cast<float>(i);
    world[3 * i + 1] = -0.003f * static_cast<float>(i % 7);
  }
  return {crop, {presence}, {handedness}, world};
}

TEST_F(HandTracking, LoadChecksTheModelSet) {
  for (const char* file : {kDetector, kLandmarks}) {
    SCOPED_TRACE(file);
    ModelsCopy models(kModels / "hand");
    fs::remove(models.dir / file);
    HandTracker t;
    EXPECT_EQ(models.load(t), "Cannot load model " + (models.dir / file).string() + ".");
  }

  const char *detector = kDetector, *landmarks = kLandmarks;
  const Dims landmark_in{1, 224, 224, 3}, detector_in{1, 192, 192, 3};
  const Floats boxes(36288), scores(2016);
  std::vector<Floats> four = landmark_outputs(1, 1);
  expect_loads<HandTracker>(kModels / "hand", kTensorMessage, {
      {landmarks, {landmark_in}, four, true, "the four outputs"},
      {landmarks, {landmark_in}, {four[0], four[1], four[2], four[3], {0}}, false, "five outputs"},
      {landmarks, {landmark_in}, {four[0], four[1], four[2]}, false, "three outputs"},
      {landmarks, {landmark_in}, {Floats(60), four[1], four[2], four[3]}, false, "20 landmarks"},
      {landmarks, {landmark_in}, {four[0], four[1], four[2], Floats(60)}, false, "20 in 3-D"},
      {landmarks, {{1, 256, 256, 3}}, four, false, "a 256 x 256 crop"},
      {landmarks, {landmark_in, {1, 1}}, four, false, "a second input"},
      {detector, {detector_in}, {scores, boxes}, true, "scores first"},
      {detector, {detector_in}, {boxes, {0}, scores, Floats(7)}, true, "other outputs too"},
      {detector, {detector_in}, {boxes}, false, "no scores"},
      {detector, {detector_in}, {scores}, false, "no boxes"},
      {detector, {{1, 128, 128, 3}}, {boxes, scores}, false, "a 128 x 128 input"},
  });
}

// Of several detector outputs of one size the last is read: scores that
// find palms everywhere or nowhere, in either order.
TEST_F(HandTracking, LastDetectorOutputOfASizeIsRead) {
  const Floats everywhere(2016, 10.0f), nowhere(2016, -10.0f), boxes(36288, 0.0f);
  const Image image{640, 480, std::vector<uint8_t>(640 * 480 * 3, 90)};
  for (const bool last_finds : {false, true}) {
    SCOPED_TRACE(last_finds ? "palms from the last scores" : "none from the last scores");
    const Floats& first = last_finds ? nowhere : everywhere;
    const Floats& last = last_finds ? everywhere : nowhere;
    const StandIn model{kDetector, {{1, 192, 192, 3}}, {first, boxes, last}};
    HandTracker t;
    ASSERT_EQ(load_with(t, kModels / "hand", model), "");
    t.process(image);
    EXPECT_TRUE(t.steps.ran_detector);
    EXPECT_EQ(t.steps.palms.size(), last_finds ? 2u : 0u);
  }
}

// The presence value gates the step, a value that is not a number included;
// the handedness value gives the flag and its confidence.
TEST_F(HandTracking, PresenceAndHandedness) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float presence, handedness;
    bool found, right;
    float score;
  } cases[] = {
      {0.5f, 0.3f, true, false, 0.7f}, {0.49f, 0.9f, false, false, 0}, {nan, 0.9f, false, false, 0},
      {0.9f, 0.5f, true, true, 0.5f},  {1.0f, 0.8f, true, true, 0.8f},
      {0.9f, nan, false, false, 0},  // would reach the host as a score that is not a number
  };
  const Image image{640, 480, std::vector<uint8_t>(640 * 480 * 3, 90)};
  const RotatedRect region{320, 240, 224, 224, 0.3f};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "presence " << c.presence << ", handedness " << c.handedness);
    const StandIn model{kLandmarks, {{1, 224, 224, 3}}, landmark_outputs(c.presence, c.handedness)};
    HandTracker t;
    ASSERT_EQ(load_with(t, kModels / "hand", model), "");
    HandResult result;
    const RotatedRect untouched{1, 2, 3, 4, 5};
    RotatedRect next = untouched;
    ASSERT_EQ(t.landmarks(image, region, result, next), c.found);
    if (!c.found) {
      EXPECT_EQ(fields(next), fields(untouched));
      continue;
    }
    EXPECT_EQ(result.handedness, c.right);
    EXPECT_NEAR(result.handedness_score, c.score, 1e-6f);
    EXPECT_EQ(next.width, next.height);
  }
}

}  // namespace
