// End-to-end: the bridge playing JPEG files.
#include <turbojpeg.h>

#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;

void write_jpeg(const fs::path& path, int width, int height, uint8_t grey) {
  const std::vector<uint8_t> rgb(size_t(width) * height * 3, grey);
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(jpeg), std::streamsize(size));
  tjFree(jpeg);
  tjDestroy(h);
}

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("bridge-frames-" + std::to_string(getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() { fs::remove_all(path); }
};

// The next `count` running statuses of a bridge playing `frames`, kept alive meanwhile.
std::vector<wire::Bytes> statuses(const std::string& frames, size_t count) {
  RunningBridge b;
  b.start({"--frames", frames, "--models", shared_models()});
  std::vector<wire::Bytes> got;
  while (got.size() < count) {
    auto d = b.next_status("running", 3000);
    if (!d) break;
    got.push_back(*d);
    send_control(b.host, wire::kHeartbeat, 0);
  }
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 5000), 0);
  return got;
}

TEST(FramesEndToEnd, PlaysMatchingNamesInByteOrderAndReportsEachSizeChange) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  write_jpeg(dir.path / "b.jpg", 96, 64, 200);
  write_jpeg(dir.path / "a.jpeg", 64, 64, 50);
  write_jpeg(dir.path / "c.JPG", 128, 128, 0);  // wrong case
  write_jpeg(dir.path / ".jpg", 200, 200, 0);   // name too short
  std::ofstream(dir.path / "notes.txt") << "not a frame";
  std::vector<int> widths;
  for (const wire::Bytes& s : statuses(dir.path.string(), 8)) {
    if (status_number(s, "width") != 0) widths.push_back(static_cast<int>(status_number(s, "width")));
  }
  // Every frame changes the size, so each one is reported in the next pass.
  ASSERT_GE(widths.size(), 6u);
  widths.resize(6);
  EXPECT_EQ(widths, (std::vector<int>{64, 96, 64, 96, 64, 96}));
}

TEST(FramesEndToEnd, SingleFileRepeatsAtAboutThirtyFramesAndEmptyFolderMeasuresNothing) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  write_jpeg(dir.path / "only.jpg", 320, 240, 100);
  const auto played = statuses((dir.path / "only.jpg").string(), 4);
  ASSERT_EQ(played.size(), 4u);
  for (size_t i = 2; i < played.size(); ++i) {  // whole windows after the size change
    EXPECT_LE(status_number(played[i], "fps"), 30.5);     // paced by the pause between frames
    EXPECT_GE(status_number(played[i], "fps"), 10.0);
    EXPECT_NEAR(status_number(played[i], "frame_luma"), 100.0, 1.0);
  }
  fs::remove(dir.path / "only.jpg");
  const auto idle = statuses(dir.path.string(), 2);
  ASSERT_EQ(idle.size(), 2u);
  EXPECT_EQ(status_number(idle[1], "fps"), 0.0);
  EXPECT_EQ(status_number(idle[1], "frame_luma"), -1.0);
  EXPECT_EQ(status_number(idle[1], "width"), 0.0);
}

}  // namespace
}  // namespace bridge_test
