// End-to-end: the bridge playing JPEG files from a directory.
#include <sys/stat.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;

void write_jpeg(const fs::path& path, int width, int height, uint8_t grey) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3, grey);
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0), 0);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(jpeg), std::streamsize(size));
  tjFree(jpeg);
  tjDestroy(h);
}

struct TempDir {
  fs::path path;
  TempDir() {
    char t[] = "/tmp/bridge-frames-XXXXXX";
    path = mkdtemp(t);
  }
  ~TempDir() { fs::remove_all(path); }
};

// Extracts a number field of a status document.
double field(const wire::Bytes& d, const std::string& key) {
  const std::string doc = payload(d);
  const size_t at = doc.find("\"" + key + "\":");
  return at == std::string::npos ? -99 : std::atof(doc.c_str() + at + key.size() + 3);
}

TEST(FramesEndToEnd, PlaysMatchingNamesInByteOrderAndReportsEachSizeChange) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  write_jpeg(dir.path / "b.jpg", 96, 64, 200);
  write_jpeg(dir.path / "a.jpeg", 64, 64, 50);
  write_jpeg(dir.path / "c.JPG", 128, 128, 0);          // wrong case: ignored
  std::ofstream(dir.path / "notes.txt") << "not a frame";  // ignored
  write_jpeg(dir.path / ".jpg", 200, 200, 0);            // name too short: ignored

  RunningBridge b;
  b.start({"--frames", dir.path.string(), "--models", shared_models()});
  std::vector<int> widths;
  while (widths.size() < 6) {
    const auto d = b.next_status("running", 3000);
    ASSERT_TRUE(d) << "statuses stopped after " << widths.size();
    const int w = static_cast<int>(field(*d, "width"));
    if (w != 0) widths.push_back(w);
    EXPECT_NE(payload(*d).find("\"camera\":\"frames\""), std::string::npos);
    send_control(b.host, wire::kHeartbeat, 0);
  }
  // Every frame changes the size, so each one is reported on the next pass.
  EXPECT_EQ(widths, (std::vector<int>{64, 96, 64, 96, 64, 96}));
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 5000), 0);
}

TEST(FramesEndToEnd, SingleFileRepeatsAtAboutThirtyFramesPerSecond) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  write_jpeg(dir.path / "only.jpg", 320, 240, 100);
  RunningBridge b;
  b.start({"--frames", (dir.path / "only.jpg").string(), "--models", shared_models()});
  std::vector<double> fps;
  for (int i = 0; i < 4; ++i) {
    const auto d = b.next_status("running", 3000);
    ASSERT_TRUE(d);
    send_control(b.host, wire::kHeartbeat, 0);
    if (field(*d, "width") == 320 && field(*d, "fps") > 0) {
      fps.push_back(field(*d, "fps"));
      EXPECT_NEAR(field(*d, "frame_luma"), 100.0, 1.0);
    }
  }
  ASSERT_FALSE(fps.empty());
  for (const double f : fps) {
    EXPECT_LE(f, 30.5);  // paced by the pause between frames
    EXPECT_GE(f, 10.0);
  }
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 5000), 0);
}

TEST(FramesEndToEnd, DirectoryWithoutFramesReportsNothingMeasured) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  std::ofstream(dir.path / "readme.txt") << "nothing to play";
  RunningBridge b;
  b.start({"--frames", dir.path.string(), "--models", shared_models()});
  ASSERT_TRUE(b.next_status("running", 3000));
  send_control(b.host, wire::kHeartbeat, 0);
  const auto d = b.next_status("running", 3000);
  ASSERT_TRUE(d);
  EXPECT_EQ(field(*d, "fps"), 0.0);
  EXPECT_EQ(field(*d, "frame_luma"), -1.0);
  EXPECT_EQ(field(*d, "width"), 0.0);
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 5000), 0);
}

}  // namespace
}  // namespace bridge_test
