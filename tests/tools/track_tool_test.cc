// The track tool on two consecutive sample frames: its JSON lines parse, say
// what the face and hand trackers in this process compute on the same
// frames (numbers read back to the very same floats, state carried from the
// first frame to the second, the hand model set asked for), its drawings are
// PNG files of the frame's width, and bad input gives the documented exit
// statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "image/load_image.h"
#include "tools/track/tracking.h"

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

void expect_floats(const nlohmann::json& j, const std::vector<float>& values) {
  ASSERT_EQ(j.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(as_float(j[i]), values[i]) << i;
}

template <std::size_t N>
void expect_points(const nlohmann::json& j, const std::array<Point, N>& points) {
  ASSERT_EQ(j.size(), N);
  for (std::size_t i = 0; i < N; ++i) {
    SCOPED_TRACE(i);
    expect_floats(j[i], {points[i].x, points[i].y, points[i].z});
  }
}

// Width and height from the header of the PNG file at `path`; false when it
// is not a PNG file.
bool png_size(const fs::path& path, uint32_t& width, uint32_t& height) {
  unsigned char head[24] = {};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(head), sizeof head);
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (std::memcmp(head, signature, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) {
    return false;
  }
  const auto be32 = [&](int at) {
    return uint32_t{head[at]} << 24 | uint32_t{head[at + 1]} << 16 | uint32_t{head[at + 2]} << 8 |
           head[at + 3];
  };
  width = be32(16);
  height = be32(20);
  return true;
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

    EXPECT_TRUE(line["hands"].is_null());
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

    uint32_t width = 0, height = 0;
    ASSERT_TRUE(png_size(dir / "drawn" / fs::path(name).replace_extension(".png"), width, height));
    EXPECT_EQ(width, static_cast<uint32_t>(image.width));
    // The caption is on a strip below the frame.
    EXPECT_GT(height, static_cast<uint32_t>(image.height));
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
      {models() + " --no-face " + frame, 2, 0},
      {models() + " --lite " + frame, 2, 0},
      {"--models " + dir.string() + " --no-face --hands " + frame, 1, 0},
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

// A hand is in view from frame 23 on: the first frame finds it with the
// palm detector, the second follows it. --lite must load the lite set,
// which gives other numbers than the full one.
TEST_F(TrackTool, HandsMatchTheTracker) {
  fs::create_directories(dir / "hand_frames");
  const std::vector<std::string> names = {"000023.jpg", "000024.jpg"};
  for (const std::string& name : names) {
    fs::copy_file(kShared / "frames" / name, dir / "hand_frames" / name);
  }
  struct Case {
    const char* args;
    const char* models;
    bool face;
  };
  for (const Case& c :
       {Case{"--hands", "hand", true}, Case{"--no-face --hands --lite", "hand-lite", false}}) {
    SCOPED_TRACE(c.args);
    const ToolRun run = run_track(models() + " " + c.args + " " + (dir / "hand_frames").string());
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), names.size());
    HandTracker tracker;
    std::string error;
    ASSERT_TRUE(tracker.load((kShared / "models" / c.models).string(), error)) << error;
    for (std::size_t f = 0; f < names.size(); ++f) {
      SCOPED_TRACE(names[f]);
      const nlohmann::json line = nlohmann::json::parse(run.lines[f]);
      EXPECT_EQ(line["face"].is_null(), !c.face);
      Image image;
      ASSERT_TRUE(load_image((dir / "hand_frames" / names[f]).string(), image));
      const std::vector<HandResult> ours = tracker.process(image);
      ASSERT_FALSE(ours.empty());
      const nlohmann::json& hands = line["hands"];
      EXPECT_EQ(hands["ran_detector"], f == 0);
      EXPECT_EQ(hands["followed_before"], f == 0 ? 0u : ours.size());
      ASSERT_EQ(hands["palms"].size(), tracker.steps.palms.size());
      for (std::size_t i = 0; i < tracker.steps.palms.size(); ++i) {
        const Detection& d = tracker.steps.palms[i];
        expect_floats(hands["palms"][i]["box"], {d.xmin, d.ymin, d.xmax, d.ymax});
        EXPECT_EQ(as_float(hands["palms"][i]["score"]), d.score);
        ASSERT_EQ(hands["palms"][i]["keypoints"].size(), 7u);
        expect_floats(hands["palms"][i]["keypoints"][6], {d.keypoints[6].x, d.keypoints[6].y});
      }
      ASSERT_EQ(hands["hands"].size(), ours.size());
      for (std::size_t i = 0; i < ours.size(); ++i) {
        const nlohmann::json& hand = hands["hands"][i];
        EXPECT_EQ(hand["handedness"], ours[i].handedness);
        EXPECT_EQ(as_float(hand["handedness_score"]), ours[i].handedness_score);
        expect_floats(hand["center"], {ours[i].center_x, ours[i].center_y});
        EXPECT_EQ(as_float(hand["scale"]), ours[i].scale);
        expect_points(hand["landmarks"], ours[i].landmarks);
        expect_points(hand["world_landmarks"], ours[i].world_landmarks);
        expect_region(hand["region_used"], tracker.steps.regions_used[i]);
        expect_region(hand["region"], tracker.regions[i]);
      }
    }
  }

  // Each PATH starts afresh: a still given twice is found twice the same way.
  const std::string still = (dir / "hand_frames" / names[0]).string();
  const ToolRun twice = run_track(models() + " --no-face --hands " + still + " " + still);
  ASSERT_EQ(twice.lines.size(), 2u);
  const nlohmann::json first = nlohmann::json::parse(twice.lines[0])["hands"];
  const nlohmann::json second = nlohmann::json::parse(twice.lines[1])["hands"];
  EXPECT_EQ(second["followed_before"], 0);
  EXPECT_EQ(second["hands"], first["hands"]);
}

}  // namespace
