#include "image/load_image.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/image/test_jpeg.h"

TEST(LoadImage, DecodesAnyNameRefusesMissingDirectoryAndEmpty) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("load_image_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "folder.jpg");
  const std::vector<uint8_t> jpeg = compress_jpeg(textured_image(20, 10), TJSAMP_444, 90);
  std::ofstream(dir / "frame.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  std::ofstream(dir / "empty.jpg").close();
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);  // opening it for reading would block

  Image out;
  EXPECT_TRUE(load_image((dir / "frame.bin").string(), out));
  EXPECT_EQ(out.width, 20);
  const Image before = textured_image(3, 2);
  for (const char* name : {"missing.jpg", "folder.jpg", "empty.jpg", "fifo.jpg"}) {
    out = before;
    EXPECT_FALSE(load_image((dir / name).string(), out)) << name;
    EXPECT_TRUE(out.width == 3 && out.pixels == before.pixels) << name;
  }
  EXPECT_FALSE(load_image("/dev/zero", out));  // a device that never ends
  EXPECT_TRUE(out.width == 3 && out.pixels == before.pixels);
  std::filesystem::remove_all(dir);
}
