// The track tool on two consecutive sample frames: its JSON lines parse, say
// what the tracker in this process computes on the same frames (numbers
// read back to the very same floats, state carried from the first frame to
// the second), its drawings decode, and bad input gives the documented exit
// statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "face/face_tracker.h"
#include "image/load_image.h"
#include "tools/track/face_frame.h"

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;
const std::string kTool = BRIDGE_BINARY_DIR "/tools/track/track";

struct ToolRun {
  int status = -1;
  std::vector<std::string> lines;
};

ToolRun run_track(const std::string& args) {
  ToolRun run;
  FILE* out = popen((kTool + " " + args + " 2>/dev/null").c_str(), "r");
  if (out == nullptr) return run;
  std::string text;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  const int status = pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
  return run;
}

float as_float(const nlohmann::json& v) { return static_cast<float>(v.get<double>()); }

void expect_region(const nlohmann::json& j, const RotatedRect& r) {
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(as_float(j[0]), r.cx);
  EXPECT_EQ(as_float(j[1]), r.cy);
  EXPECT_EQ(as_float(j[2]), r.width);
  EXPECT_EQ(as_float(j[3]), r.height);
  EXPECT_EQ(as_float(j[4]), r.rotation);
}

class TrackTool : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kShared / "frames/000002.jpg") || !fs::exists(kShared / "models/face")) {
      GTEST_SKIP() << "shared files not available";
    }
    dir = fs::temp_directory_path() / ("track_tool_test_" + std::to_string(::getpid()));
    fs::create_directories(dir / "frames");
    for (const char* name : {"000001.jpg", "000002.jpg"}) {
      // Copies, so that no fault of the tool can write over the shared frames.
      fs::copy_file(kShared / "frames" / name, dir / "frames" / name);
    }
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  std::string models() const { return "--models " + (kShared / "models").string(); }
  fs::path dir;
};

TEST_F(TrackTool, LinesMatchTheTrackerAndDrawingsDecode) {
  const ToolRun run =
      run_track(models() + " --draw " + (dir / "drawn").string() + " " + (dir / "frames").string());
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 2u);

  FaceTracker tracker;
  std::string error;
  ASSERT_TRUE(tracker.load((kShared / "models/face").string(), error)) << error;
  for (int f = 0; f < 2; ++f) {
    SCOPED_TRACE(f);
    const nlohmann::json line = nlohmann::json::parse(run.lines[f]);
    const std::string name = f == 0 ? "000001.jpg" : "000002.jpg";
    Image image;
    ASSERT_TRUE(load_image((dir / "frames" / name).string(), image));
    const FaceFrame frame = track_face(tracker, image, 60.0f);
    const FaceResult& ours = frame.result;
    ASSERT_TRUE(ours.found);

    EXPECT_EQ(line["frame"], name);
    EXPECT_EQ(line["width"], image.width);
    EXPECT_EQ(line["height"], image.height);
    const nlohmann::json& face = line["face"];
    EXPECT_EQ(face["found"], true);
    // The first frame finds the face with the detector; the second follows it.
    EXPECT_EQ(face["state_before"], f == 0 ? "searching" : "tracking");
    EXPECT_EQ(face["state_after"], "tracking");
    EXPECT_EQ(face["ran_detector"], f == 0);
    EXPECT_EQ(face["detection"].is_null(), f == 1);
    if (f == 0) {
      EXPECT_EQ(face["detection"]["keypoints"].size(), 6u);
    }
    expect_region(face["roi_used"], frame.steps.roi_used);
    expect_region(face["roi"], frame.roi_after);
    ASSERT_EQ(face["landmarks"].size(), ours.landmarks.size());
    for (std::size_t i = 0; i < ours.landmarks.size(); ++i) {
      const nlohmann::json& p = face["landmarks"][i];
      ASSERT_EQ(p.size(), 3u);
      ASSERT_EQ(as_float(p[0]), ours.landmarks[i].x) << i;
      ASSERT_EQ(as_float(p[1]), ours.landmarks[i].y) << i;
      ASSERT_EQ(as_float(p[2]), ours.landmarks[i].z) << i;
    }
    ASSERT_EQ(face["blendshapes"].size(), static_cast<std::size_t>(kBlendshapeCount));
    for (int i = 0; i < kBlendshapeCount; ++i) {
      EXPECT_EQ(as_float(face["blendshapes"][FaceTracker::kBlendshapeNames[i]]),
                ours.blendshapes[i])
          << FaceTracker::kBlendshapeNames[i];
    }
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(as_float(face["pose"]["rotation"][i]), ours.pose.rotation[i]);
    }
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(as_float(face["pose"]["translation"][i]), ours.pose.translation[i]);
    }
    EXPECT_GT(face["ms"]["total"].get<double>(), 0.0);

    Image drawn;
    ASSERT_TRUE(load_image((dir / "drawn" / name).string(), drawn));
    EXPECT_EQ(drawn.width, image.width);
    EXPECT_EQ(drawn.height, image.height);
  }
}

TEST_F(TrackTool, BadInputExitStatuses) {
  const std::string frames = (dir / "frames").string();
  const std::string frame = frames + "/000001.jpg";
  const auto frame_size = fs::file_size(frame);
  const fs::path text = dir / "not_a_frame.jpg";
  std::fclose(std::fopen(text.c_str(), "w"));
  struct Case {
    std::string args;
    int status;
    std::size_t lines;
  };
  const Case cases[] = {
      {models() + " --colour " + frame, 2, 0},
      {models() + " --fov 180 " + frame, 2, 0},
      {models() + " --fov 60x " + frame, 2, 0},
      {models(), 2, 0},
      {"--models " + dir.string() + " " + frame, 1, 0},
      {models() + " " + (dir / "missing.jpg").string(), 1, 0},
      {models() + " " + text.string() + " " + frame, 1, 2},
      // Drawings would replace the frames they are drawn from.
      {models() + " --draw " + frames + " " + frames, 2, 0},
      {models() + " --draw " + frames + " " + frame, 2, 0},
  };
  for (const Case& c : cases) {
    const ToolRun run = run_track(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    if (c.lines == 0) continue;
    ASSERT_EQ(run.lines.size(), c.lines) << c.args;
    // The unreadable file is reported and the next one still tracked.
    EXPECT_EQ(nlohmann::json::parse(run.lines[0])["error"], "cannot read or decode");
    EXPECT_EQ(nlohmann::json::parse(run.lines[1])["face"]["found"], true);
  }
  EXPECT_EQ(fs::file_size(frame), frame_size);
}

}  // namespace
