#include "image/load_image.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/image/test_jpeg.h"

namespace {

struct TempDir {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("image_test_" + std::to_string(::getpid()));
  TempDir() { std::filesystem::create_directories(path); }
  ~TempDir() { std::filesystem::remove_all(path); }
};

void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(LoadImage, DecodesFileWhateverItsName) {
  TempDir dir;
  write_file(dir.path / "frame.bin", compress_jpeg(textured_image(20, 10), TJSAMP_444, 90));
  Image out;
  ASSERT_TRUE(load_image((dir.path / "frame.bin").string(), out));
  EXPECT_EQ(out.width, 20);
  EXPECT_EQ(out.height, 10);
}

TEST(LoadImage, MissingDirectoryOrEmptyLeavesImageUntouched) {
  TempDir dir;
  write_file(dir.path / "empty.jpg", {});
  std::filesystem::create_directory(dir.path / "folder.jpg");
  const Image before = textured_image(3, 2);
  for (const char* name : {"missing.jpg", "folder.jpg", "empty.jpg"}) {
    Image out = before;
    EXPECT_FALSE(load_image((dir.path / name).string(), out)) << name;
    EXPECT_EQ(out.width, 3);
    EXPECT_TRUE(out.pixels == before.pixels) << name;
  }
}
