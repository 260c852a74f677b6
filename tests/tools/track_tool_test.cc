// The track tool as built runs: a JSON line for a frame with the parts asked
// for, and its drawing. (What the trackers compute is the trackers' tests'
// business.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

namespace fs = std::filesystem;
const fs::path kShared = BRIDGE_SHARED_DIR;

TEST(TrackTool, TracksAFrameAndDrawsIt) {
  if (!fs::exists(kShared / "frames/000023.jpg") || !fs::exists(kShared / "models/face")) {
    GTEST_SKIP() << "shared files not available";
  }
  const fs::path drawn = fs::temp_directory_path() / ("track_tool_test_" + std::to_string(getpid()));
  const std::string command = BRIDGE_BINARY_DIR "/tools/track/track --models " + (kShared / "models").string() +
                              " --hands --draw " + drawn.string() + " " + (kShared / "frames/000023.jpg").string();
  const fs::path line = drawn.string() + ".json";
  ASSERT_EQ(std::system((command + " > " + line.string()).c_str()), 0) << command;
  const auto frame = nlohmann::json::parse(std::ifstream(line));  // a hand from frame 23 on
  EXPECT_EQ(frame["face"]["landmarks"].size(), 478u);
  ASSERT_EQ(frame["hands"]["hands"].size(), 1u);
  EXPECT_EQ(frame["hands"]["hands"][0]["landmarks"].size(), 21u);
  EXPECT_GT(fs::file_size(drawn / "000023.png"), 0u);
  fs::remove_all(drawn);
  fs::remove(line);
}

}  // namespace
