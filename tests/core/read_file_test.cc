#include "core/read_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

TEST(ReadRegularFile, WholeFilesUpToTheLimitAndNothingThatCouldBlockOrNeverEnd) {
  const fs::path dir = fs::temp_directory_path() / ("read_file_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Bytes content = {0xFF, 0xD8, 1, 2, 3, 4, 5, 6};
  std::ofstream(dir / "file", std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const Bytes start = {0xFF, 0xD8}, other = {0xFF, 0xD9}, longer(9, 0xFF);
  const struct {
    fs::path path;
    size_t limit;
    Bytes start;
    bool read;
    size_t bytes_after;  // how far it read
    std::string why;
  } cases[] = {
      {dir / "file", 8, {}, true, 8, ""},
      {dir / "file", 8, start, true, 8, ""},
      {dir / "file", 7, {}, false, 0, "too large"},  // refused on the size it claims, unread
      {dir / "file", 8, other, false, 8, "not of the expected kind"},
      {dir / "file", 8, longer, false, 8, "not of the expected kind"},
      {dir / "fifo", 8, {}, false, 0, "not a regular file"},  // a blocking open would wait
      {dir / "missing", 8, {}, false, 0, "No such file or directory"},
      // Says 0 bytes and never ends: refused a page past its claim, whatever
      // the limit, at once and without the memory of the limit.
      {"/proc/self/pagemap", size_t{1} << 30, {}, false, 4096, "longer than it claims"},
  };
  for (const auto& c : cases) {
    Bytes bytes = {7};
    std::string why;
    EXPECT_EQ(read_regular_file(c.path.string(), c.limit, bytes, c.start, &why), c.read) << c.path;
    EXPECT_EQ(why, c.why) << c.path;
    EXPECT_EQ(bytes.size(), c.bytes_after) << c.path;
    if (c.read) {
      EXPECT_EQ(bytes, content);
    }
  }
  fs::remove_all(dir);
}

}  // namespace
