// The tracker's states on real pictures (searching, following, losing a face,
// finding another), which model sets `load` refuses with which message, and
// the presence and coefficient values the landmark step acts on. (Regions,
// landmarks and poses frame by frame: face_reference_test.cc.)
#include "face/face_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <tuple>

#include "tests/support/fixed_model.h"
#include "tests/support/tracker_files.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_models;

const fs::path kModels = kShared / "models/face";
constexpr float kVerticalFov = 46.8f;  // a 640 x 480 camera seeing 60 degrees across
constexpr const char* kTensorMessage = "Face Landmarker models have unexpected tensors.";

void expect_nothing_found(const FaceResult& r) {
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.landmarks.empty());
  EXPECT_EQ(*std::max_element(r.blendshapes.begin(), r.blendshapes.end()), 0.0f);
  EXPECT_EQ(*std::min_element(r.blendshapes.begin(), r.blendshapes.end()), 0.0f);
  EXPECT_EQ(r.pose.translation, (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(r.pose.rotation, (std::array<float, 4>{0, 0, 0, 1}));
}

class FaceTracking : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kModels) || !fs::exists(kShared / "testdata/stills") ||
        !fs::exists(kShared / "frames")) {
      GTEST_SKIP() << "shared models and pictures not available";
    }
    std::string error;
    ASSERT_TRUE(tracker.load(kModels.string(), error)) << error;
  }
  FaceTracker tracker;
};

TEST_F(FaceTracking, FollowsLosesAndFindsAgain) {
  const Image face = picture(kShared / "frames/000001.jpg");
  const Image next = picture(kShared / "frames/000002.jpg");
  // A cup on a table where the face was: nothing in the followed region.
  const Image empty = picture(kShared / "testdata/stills/noface_02.jpg");
  const Image other = picture(kShared / "testdata/stills/face_frontal_01.jpg");
  struct Step {
    const Image& image;
    bool clear_tracking, detector, found;
    const char* what;
  };
  const Step steps[] = {
      {face, false, true, true, "a first face is reported in the frame that detects it"},
      {next, false, false, true, "a followed face skips the detector"},
      {empty, false, false, false, "the face gone: lost on this very frame"},
      {empty, false, true, false, "searching again on the next frame"},
      {other, false, true, true, "another face, detected afresh"},
      {other, false, false, true, "and followed"},
      {other, true, true, true, "tracking switched off and on: detector again"},
  };
  RotatedRect followed{};
  std::vector<RotatedRect> used;
  std::vector<FaceResult> results;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.clear_tracking) tracker.tracking = false;
    results.push_back(tracker.process(s.image, kVerticalFov));
    const FaceResult& r = results.back();
    used.push_back(tracker.steps.roi_used);
    EXPECT_EQ(tracker.steps.ran_detector, s.detector);
    EXPECT_EQ(r.found, s.found);
    EXPECT_EQ(tracker.tracking, s.found);
    if (s.found) {
      EXPECT_EQ(r.landmarks.size(), 478u);
    } else {
      expect_nothing_found(r);
    }
    if (!s.detector) {  // the region carried over from the frame before
      EXPECT_EQ(used.back().cx, followed.cx);
      EXPECT_EQ(used.back().width, followed.width);
    }
    followed = tracker.roi;
  }

  // The new face is looked for where a fresh tracker finds it in that
  // picture, not where the first face was.
  FaceTracker fresh;
  std::string error;
  ASSERT_TRUE(fresh.load(kModels.string(), error)) << error;
  const FaceResult first = fresh.process(other, kVerticalFov);
  ASSERT_TRUE(first.found && results[4].found);
  const RotatedRect a = used[4], b = fresh.steps.roi_used;
  EXPECT_EQ(std::tie(a.cx, a.cy, a.width, a.rotation), std::tie(b.cx, b.cy, b.width, b.rotation));
  EXPECT_EQ(results[4].blendshapes, first.blendshapes);
  EXPECT_GT(std::hypot(a.cx - used[1].cx, a.cy - used[1].cy), 0.25f * used[1].width);
}

Floats zeros(size_t n) { return Floats(n, 0.0f); }

TEST_F(FaceTracking, LoadChecksTheModelSet) {
  {
    // A missing model ends loading before the geometry file is read.
    ModelsCopy models(kModels);
    fs::remove(models.dir / "face_blendshapes.tflite");
    models.replace("geometry_pipeline_metadata_landmarks.binarypb", {1, 2, 3});
    FaceTracker t;
    EXPECT_EQ(models.load(t), "Cannot load model " + (models.dir / "face_blendshapes.tflite").string() + ".");
  }
  const char *detector = "face_detector.tflite", *landmarks = "face_landmarks_detector.tflite",
             *blendshapes = "face_blendshapes.tflite";
  const Dims detector_in{1, 128, 128, 3}, landmark_in{1, 256, 256, 3}, blendshape_in{1, 146, 2};
  expect_loads<FaceTracker>(kModels, kTensorMessage, {
      {detector, {detector_in}, {zeros(14336), zeros(896)}, true, "detector sizes"},
      {detector, {{1, 64, 64, 3}}, {zeros(14336), zeros(896)}, false, "64 x 64 detector"},
      {detector, {detector_in, {1, 4}}, {zeros(14336), zeros(896)}, false, "second input"},
      {detector, {detector_in}, {zeros(14336)}, false, "no scores"},
      {landmarks, {landmark_in}, {zeros(1434), zeros(1)}, true, "landmark sizes"},
      {landmarks, {landmark_in}, {zeros(1434)}, false, "no presence output"},
      {landmarks, {{1, 192, 192, 3}}, {zeros(1434), zeros(1)}, false, "small crop"},
      {blendshapes, {blendshape_in}, {zeros(52)}, true, "blendshape sizes"},
      {blendshapes, {blendshape_in}, {zeros(51)}, false, "51 coefficients"},
      {blendshapes, {{1, 478, 2}}, {zeros(52)}, false, "every landmark as input"},
  });
}

// Presence is the sigmoid of the landmark model's first single-float output;
// a second one (a score that stays near 0 on faces) does not decide it.
TEST_F(FaceTracking, PresenceFromTheFirstSingleFloat) {
  const Image face = picture(kShared / "frames/000001.jpg");
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    Floats logits;
    bool present;
  } cases[] = {
      {{3, -3}, true}, {{-3, 3}, false}, {{0}, true}, {{-0.01f}, false}, {{nan, 3}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.logits));
    std::vector<Floats> outputs{Floats(1434, 128.0f)};
    for (float logit : c.logits) outputs.push_back({logit});
    const StandIn model{"face_landmarks_detector.tflite", {{1, 256, 256, 3}}, outputs};
    FaceTracker t;
    ASSERT_EQ(load_with(t, kModels, model), "");
    FaceResult r;
    EXPECT_EQ(t.landmarks(face, RotatedRect{320, 240, 300, 300, 0}, r), c.present);
    EXPECT_EQ(r.landmarks.size(), c.present ? 478u : 0u);
  }
}

TEST_F(FaceTracking, CoefficientsClampedIntoTheUnitRangeWithNotANumberAsZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Floats raw(52, 0.5f);
  raw[0] = 7.0f;  // the neutral score, never reported
  raw[1] = -0.2f;
  raw[2] = 1.3f;
  raw[3] = nan;
  FaceTracker t;
  ASSERT_EQ(load_with(t, kModels, {"face_blendshapes.tflite", {{1, 146, 2}}, {raw}}), "");
  FaceResult r;
  ASSERT_TRUE(t.landmarks(picture(kShared / "frames/000001.jpg"), RotatedRect{297, 240, 320, 320, 0}, r));
  EXPECT_EQ(r.blendshapes[0], 0.0f);
  EXPECT_EQ(r.blendshapes[1], 1.0f);
  EXPECT_EQ(r.blendshapes[2], 0.0f);
  EXPECT_EQ(r.blendshapes[3], 0.5f);
}

}  // namespace
