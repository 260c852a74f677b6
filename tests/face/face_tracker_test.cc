// The tracker's states on real pictures (searching, following, losing a face,
// finding another), the regions it carries from frame to frame, and which
// model sets `load` refuses with which message.
#include "face/face_tracker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "image/crop.h"
#include "image/load_image.h"
#include "tests/support/fixed_model.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_models;

const fs::path kShared = BRIDGE_SHARED_DIR;
const fs::path kModels = kShared / "models/face";
constexpr float kVerticalFov = 46.8f;  // a 640 x 480 camera seeing 60 degrees across
constexpr const char* kTensorMessage = "Face Landmarker models have unexpected tensors.";

Image picture(const fs::path& path) {
  Image image;
  EXPECT_TRUE(load_image(path.string(), image)) << path;
  return image;
}

// The stills of the test data with the number of faces a person counted.
std::vector<std::pair<std::string, int>> still_faces() {
  std::vector<std::pair<std::string, int>> stills;
  std::ifstream in(kShared / "testdata/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string file, source, license, faces;
    if (std::getline(row, file, '\t') && std::getline(row, source, '\t') &&
        std::getline(row, license, '\t') && std::getline(row, faces, '\t')) {
      stills.emplace_back(file, std::stoi(faces));
    }
  }
  return stills;
}

void expect_nothing_found(const FaceResult& r) {
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.landmarks.empty());
  EXPECT_EQ(*std::max_element(r.blendshapes.begin(), r.blendshapes.end()), 0.0f);
  EXPECT_EQ(*std::min_element(r.blendshapes.begin(), r.blendshapes.end()), 0.0f);
  EXPECT_EQ(r.pose.translation, (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(r.pose.rotation, (std::array<float, 4>{0, 0, 0, 1}));
}

float distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The next region seen through the crop that will sample it: a square 1.5
// times the landmarks' larger extent around their bounds, with the line from
// eye corner 33 to eye corner 263 running along the crop's rows.
void expect_region_follows(const RotatedRect& next, const std::vector<Point>& landmarks) {
  float min_x = std::numeric_limits<float>::max(), max_x = -min_x, min_y = min_x, max_y = -min_x;
  for (const Point& p : landmarks) {
    min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
  }
  const float side = 1.5f * std::max(max_x - min_x, max_y - min_y);
  const auto at = [&](float i, float j) { return crop_to_image(next, 256, 256, Point{i, j, 0}); };
  const Point origin = at(0, 0), across = at(256, 0), down = at(0, 256), middle = at(128, 128);
  EXPECT_NEAR(distance(origin, across), side, 0.01f * side);
  EXPECT_NEAR(distance(origin, down), side, 0.01f * side);
  EXPECT_NEAR(middle.x, (min_x + max_x) * 0.5f, 0.01f * side);
  EXPECT_NEAR(middle.y, (min_y + max_y) * 0.5f, 0.01f * side);
  const Point row{across.x - origin.x, across.y - origin.y, 0};
  const Point eyes{landmarks[263].x - landmarks[33].x, landmarks[263].y - landmarks[33].y, 0};
  const float tilt = std::atan2(row.x * eyes.y - row.y * eyes.x, row.x * eyes.x + row.y * eyes.y);
  EXPECT_LT(std::abs(tilt), 0.5f * 3.1415927f / 180.0f) << "eye corners not level in the crop";
}

double rotation_degrees(const std::array<float, 4>& a, const std::array<float, 4>& b) {
  double dot = 0;
  for (int i = 0; i < 4; ++i) dot += double{a[i]} * b[i];
  return 2.0 * std::acos(std::min(1.0, std::abs(dot))) * 180.0 / 3.141592653589793;
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

TEST_F(FaceTracking, NoFaceInPicturesWithoutOne) {
  int stills = 0;
  for (const auto& [file, faces] : still_faces()) {
    if (faces != 0) continue;
    ++stills;
    tracker.tracking = false;
    const FaceResult r = tracker.process(picture(kShared / "testdata" / file), kVerticalFov);
    EXPECT_FALSE(r.found) << file;
    EXPECT_FALSE(tracker.tracking) << file;
  }
  EXPECT_GE(stills, 3);
}

TEST_F(FaceTracking, RegionsAndPoseStepsOverTheSampleFrames) {
  std::vector<fs::path> frames;
  for (const auto& entry : fs::directory_iterator(kShared / "frames")) {
    if (entry.path().extension() == ".jpg") frames.push_back(entry.path());
  }
  std::sort(frames.begin(), frames.end());
  bool before = false;
  std::array<float, 4> rotation{};
  int steps = 0;
  double largest = 0;
  for (const fs::path& frame : frames) {
    SCOPED_TRACE(frame.filename().string());
    const FaceResult r = tracker.process(picture(frame), kVerticalFov);
    if (tracker.tracking) expect_region_follows(tracker.roi, r.landmarks);
    if (r.found && before) {
      ++steps;
      largest = std::max(largest, rotation_degrees(r.pose.rotation, rotation));
    }
    before = r.found;
    rotation = r.pose.rotation;
  }
  EXPECT_GE(steps, 100);
  EXPECT_LE(largest, 10.0);
  std::printf("largest rotation between found frames: %.2f degrees over %d steps\n", largest,
              steps);
}

// A scratch copy of the face models folder: links to the real files, any of
// which a test replaces or removes.
struct ModelsCopy {
  ModelsCopy() {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* file :
         {"face_detector.tflite", "face_landmarks_detector.tflite", "face_blendshapes.tflite",
          "geometry_pipeline_metadata_landmarks.binarypb"}) {
      fs::create_symlink(kModels / file, dir / file);
    }
  }
  ~ModelsCopy() { fs::remove_all(dir); }
  void replace(const std::string& file, const std::vector<uint8_t>& bytes) const {
    fs::remove(dir / file);
    std::ofstream(dir / file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string load(FaceTracker& tracker) const {
    std::string error;
    const bool loaded = tracker.load(dir.string(), error);
    EXPECT_EQ(loaded, error.empty()) << error;
    return error;
  }
  const fs::path dir =
      fs::temp_directory_path() / ("face_tracker_test_" + std::to_string(::getpid()));
};

Floats zeros(size_t n) { return Floats(n, 0.0f); }

TEST_F(FaceTracking, LoadChecksTheModelSet) {
  {
    // A missing model ends loading before the geometry file is read.
    ModelsCopy models;
    fs::remove(models.dir / "face_blendshapes.tflite");
    models.replace("geometry_pipeline_metadata_landmarks.binarypb", {1, 2, 3});
    InferenceModel missing;
    std::string expected;
    ASSERT_FALSE(missing.load((models.dir / "face_blendshapes.tflite").string(), expected));
    FaceTracker t;
    EXPECT_EQ(models.load(t), expected);
  }
  const char *detector = "face_detector.tflite", *landmarks = "face_landmarks_detector.tflite",
             *blendshapes = "face_blendshapes.tflite";
  const Dims detector_in{1, 128, 128, 3}, landmark_in{1, 256, 256, 3}, blendshape_in{1, 146, 2};
  struct Case {
    const char* file;
    std::vector<Dims> inputs;
    std::vector<Floats> outputs;
    bool loads;
    const char* what;
  };
  const Case cases[] = {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelsCopy models;
    models.replace(c.file, fixed_model(c.inputs, c.outputs));
    FaceTracker t;
    EXPECT_EQ(models.load(t), c.loads ? "" : kTensorMessage);
  }
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
    ModelsCopy models;
    std::vector<Floats> outputs{Floats(1434, 128.0f)};
    for (float logit : c.logits) outputs.push_back({logit});
    models.replace("face_landmarks_detector.tflite", fixed_model({{1, 256, 256, 3}}, outputs));
    FaceTracker t;
    ASSERT_EQ(models.load(t), "");
    FaceResult r;
    EXPECT_EQ(t.landmarks(face, RotatedRect{320, 240, 300, 300, 0}, r), c.present);
    EXPECT_EQ(r.landmarks.size(), c.present ? 478u : 0u);
  }
}

TEST(FaceCoefficients, ClampedIntoTheUnitRangeWithNotANumberAsZero) {
  if (!fs::exists(kShared / "models/face")) GTEST_SKIP() << "shared models not available";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Floats raw(52, 0.5f);
  raw[0] = 7.0f;  // the neutral score, never reported
  raw[1] = -0.2f;
  raw[2] = 1.3f;
  raw[3] = nan;
  ModelsCopy models;
  models.replace("face_blendshapes.tflite", fixed_model({{1, 146, 2}}, {raw}));
  FaceTracker t;
  ASSERT_EQ(models.load(t), "");
  FaceResult r;
  ASSERT_TRUE(t.landmarks(picture(kShared / "frames/000001.jpg"), RotatedRect{297, 240, 320, 320, 0}, r));
  EXPECT_EQ(r.blendshapes[0], 0.0f);
  EXPECT_EQ(r.blendshapes[1], 1.0f);
  EXPECT_EQ(r.blendshapes[2], 0.0f);
  EXPECT_EQ(r.blendshapes[3], 0.5f);
}

}  // namespace
