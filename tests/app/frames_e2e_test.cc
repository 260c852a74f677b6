// End-to-end: the bridge playing JPEG files.
#include <sys/stat.h>
#include <turbojpeg.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "tests/support/arithmetic_jpeg.h"
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

// A progressive file that decodes for many seconds without a work bound:
// a small picture's last scan repeated to 490 scans (under the library's own
// limit of 500), its frame header claiming 4096 x 4096 pixels, with zeros
// enough in its first scan to code that many blocks. When `hidden`, all
// scans after the tenth (the most a frame this large may have) follow a
// comment segment of length 0, which the library steps over.
void write_costly_jpeg(const fs::path& path, bool hidden = false) {
  std::vector<uint8_t> rgb(64 * 64 * 3);
  for (size_t k = 0; k < rgb.size(); ++k) rgb[k] = uint8_t(k / 3 % 64 * 2 + (k * 2654435761u >> 27));
  tjhandle h = tjInitCompress();
  unsigned char* data = nullptr;
  unsigned long size = 0;
  tjCompress2(h, rgb.data(), 64, 0, 64, TJPF_RGB, &data, &size, TJSAMP_420, 90, TJFLAG_PROGRESSIVE);
  const std::vector<uint8_t> jpeg(data, data + size);
  tjFree(data);
  tjDestroy(h);
  const uint8_t sos[2] = {0xFF, 0xDA}, sof[2] = {0xFF, 0xC2};
  const auto last_scan = std::find_end(jpeg.begin(), jpeg.end(), sos, sos + 2);
  std::vector<uint8_t> costly(jpeg.begin(), jpeg.end() - 2);
  for (int k = 0; k < 480; ++k) costly.insert(costly.end(), last_scan, jpeg.end() - 2);
  costly.insert(costly.end(), {0xFF, 0xD9});
  const auto header = std::search(costly.begin(), costly.end(), sof, sof + 2) - costly.begin();
  const uint8_t dims[4] = {0x10, 0x00, 0x10, 0x00};  // height, width: 4096
  std::copy(dims, dims + 4, costly.begin() + header + 5);
  std::vector<long> scans;  // only markers hold 0xFF 0xDA: the library stuffs its data
  for (size_t at = 0; at + 1 < costly.size(); ++at) {
    if (costly[at] == 0xFF && costly[at + 1] == 0xDA) scans.push_back(long(at));
  }
  if (hidden) costly.insert(costly.begin() + scans[10], {0xFF, 0xFE, 0x00, 0x00});
  // The zeros go before the first marker after the first scan's header.
  size_t first_end = size_t(scans[0]) + 2 + (size_t(costly[size_t(scans[0]) + 2]) << 8 | costly[size_t(scans[0]) + 3]);
  while (!(costly[first_end] == 0xFF && costly[first_end + 1] != 0x00)) ++first_end;
  costly.insert(costly.begin() + long(first_end), 4096 * 4096 / 64 / 8, 0);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<char*>(costly.data()), std::streamsize(costly.size()));
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
    EXPECT_GE(status_number(played[i], "fps"), 5.0);
    EXPECT_NEAR(status_number(played[i], "frame_luma"), 100.0, 1.0);
  }
  fs::remove(dir.path / "only.jpg");
  const auto idle = statuses(dir.path.string(), 2);
  ASSERT_EQ(idle.size(), 2u);
  EXPECT_EQ(status_number(idle[1], "fps"), 0.0);
  EXPECT_EQ(status_number(idle[1], "frame_luma"), -1.0);
  EXPECT_EQ(status_number(idle[1], "width"), 0.0);
}

// Files a frame folder may hold by mistake cost only their own frame: a link
// to an endless file under /proc, a device, a FIFO, a picture that would take
// a second to decode. The good frames keep playing at their pace and a stop
// is obeyed at once.
TEST(FramesEndToEnd, EndlessSpecialAndCostlyFilesCostOnlyTheirFrame) {
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models();
  TempDir dir;
  for (const char* name : {"a1.jpg", "a2.jpg", "a3.jpg"}) write_jpeg(dir.path / name, 96, 64, 120);
  fs::create_symlink("/proc/self/pagemap", dir.path / "b_endless.jpg");
  fs::create_symlink("/dev/zero", dir.path / "c_device.jpg");
  ASSERT_EQ(mkfifo((dir.path / "d_fifo.jpg").c_str(), 0600), 0);
  write_costly_jpeg(dir.path / "e_costly.jpg");
  write_costly_jpeg(dir.path / "f_hidden_scans.jpg", true);
  const std::vector<uint8_t> arithmetic = arithmetic_jpeg(2048, 2048);  // slow to decode, and not 96 wide
  std::ofstream(dir.path / "g_arithmetic.jpg", std::ios::binary)
      .write(reinterpret_cast<const char*>(arithmetic.data()), std::streamsize(arithmetic.size()));
  RunningBridge b;
  b.start({"--frames", dir.path.string(), "--models", shared_models()});
  std::vector<wire::Bytes> got;
  while (got.size() < 3) {  // the third covers a whole second of playing
    const auto d = b.next_status("running", 3000);
    if (!d) break;
    got.push_back(*d);
    send_control(b.host, wire::kHeartbeat, 0);
  }
  ASSERT_EQ(got.size(), 3u) << "statuses must keep coming";
  for (const wire::Bytes& s : got) {  // only the good frames are shown
    EXPECT_TRUE(status_number(s, "width") == 0 || status_number(s, "width") == 96) << payload(s);
  }
  EXPECT_EQ(status_number(got[2], "width"), 96.0);
  // Three good frames in nine passes of 33 ms: about 10 a second; each
  // costly read would take that down to one or two.
  EXPECT_GE(status_number(got[2], "fps"), 5.0) << payload(got[2]);
  send_control(b.host, wire::kStop, 0);
  EXPECT_EQ(wait_bridge(b.host, 2000), 0);
}

}  // namespace
}  // namespace bridge_test
