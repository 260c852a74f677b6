// End-to-end: the bridge playing JPEG files.
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "tests/support/compress_jpeg.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;

void write_jpeg(const fs::path& path, int width, int height, uint8_t grey) {
  const auto jpeg = compress_jpeg(std::vector<uint8_t>(size_t(width) * height * 3, grey), width, height, TJSAMP_420);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
}

TEST(FramesEndToEnd, PlaysMatchingNamesInByteOrderAndReportsEachSizeChange) {
  SKIP_WITHOUT_MODELS();
  ScratchDir dir("bridge-frames");
  write_jpeg(dir.path / "b.jpg", 96, 64, 200);
  write_jpeg(dir.path / "a.jpeg", 64, 64, 50);
  write_jpeg(dir.path / "ab.jpg", 80, 64, 50);
  write_jpeg(dir.path / "c.JPG", 128, 128, 0);  // wrong case
  write_jpeg(dir.path / ".jpg", 200, 200, 0);   // name too short
  std::ofstream(dir.path / "notes.txt") << "not a frame";
  RunningBridge b;
  b.start({"--frames", dir.path.string(), "--models", shared_models()});
  const auto got = b.record([&](auto& got) { return count_of(got, wire::kStatus) > 8; }, 30);
  b.stop();
  std::vector<int> widths;
  for (const wire::Bytes& s : statuses_in(got, "running")) {
    if (status_number(s, "width") != 0) widths.push_back(static_cast<int>(status_number(s, "width")));
  }
  // Every frame changes the size, so each one is reported in the next pass.
  ASSERT_GE(widths.size(), 6u);
  widths.resize(6);
  EXPECT_EQ(widths, (std::vector<int>{64, 80, 96, 64, 80, 96}));
}

}  // namespace
}  // namespace bridge_test
