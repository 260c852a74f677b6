// The track tool as built, on sample frames: one JSON line per frame with the
// parts asked for, each PATH a fresh sequence, an annotated PNG per frame.
// (What the trackers compute is the trackers' tests' business.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;
const std::string kTool = BRIDGE_BINARY_DIR "/tools/track/track";

struct ToolRun {
  int status = -1;
  std::vector<nlohmann::json> lines;
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
  for (std::string line; std::getline(lines, line);) run.lines.push_back(nlohmann::json::parse(line));
  return run;
}

// Width and height from a PNG file's header; 0 x 0 when it is not one.
std::pair<uint32_t, uint32_t> png_size(const fs::path& path) {
  unsigned char head[24] = {};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(head), sizeof head);
  if (std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) return {0, 0};
  const auto be32 = [&](int at) { return uint32_t{head[at]} << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3]; };
  return {be32(16), be32(20)};
}

class TrackTool : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kShared / "frames/000024.jpg") || !fs::exists(kShared / "models/face")) {
      GTEST_SKIP() << "shared files not available";
    }
    dir = fs::temp_directory_path() / ("track_tool_test_" + std::to_string(::getpid()));
    fs::create_directories(dir / "frames");
    // Copies, so that no fault of the tool can write over the shared frames.
    // A hand is in view from frame 23 on.
    for (const char* name : {"000023.jpg", "000024.jpg"}) fs::copy_file(kShared / "frames" / name, dir / "frames" / name);
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  std::string models() const { return "--models " + (kShared / "models").string(); }
  fs::path dir;
};

TEST_F(TrackTool, OneLinePerFrameEachPathAfreshAndADrawingPerFrame) {
  const std::string frames = (dir / "frames").string();
  const ToolRun run = run_track(models() + " --hands --draw " + (dir / "drawn").string() + " " + frames + " " +
                                frames + "/000023.jpg");
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 3u);
  for (size_t f = 0; f < 3; ++f) {
    SCOPED_TRACE(f);
    const nlohmann::json& line = run.lines[f];
    EXPECT_EQ(line["frame"], f == 1 ? "000024.jpg" : "000023.jpg");
    EXPECT_EQ(line["width"], 640);
    EXPECT_EQ(line["face"]["found"], true);
    EXPECT_EQ(line["face"]["landmarks"].size(), 478u);
    // The second frame follows what the first found; the third PATH starts afresh.
    EXPECT_EQ(line["face"]["state_before"], f == 1 ? "tracking" : "searching");
    EXPECT_EQ(line["hands"]["ran_detector"], f != 1);
    EXPECT_EQ(line["hands"]["followed_before"], f == 1 ? 1 : 0);
    ASSERT_EQ(line["hands"]["hands"].size(), 1u);
    EXPECT_EQ(line["hands"]["hands"][0]["landmarks"].size(), 21u);
  }
  const auto [width, height] = png_size(dir / "drawn/000024.png");
  EXPECT_EQ(width, 640u);
  EXPECT_GT(height, 480u);  // the caption is on a strip below the frame

  EXPECT_EQ(run_track(models() + " --no-face " + frames).status, 2);  // nothing to track
}

}  // namespace
