#include "camera/discovery.h"

#include <gtest/gtest.h>

TEST(CameraDiscovery, PathAndSizeOrderAndJson) {
  std::vector<std::string> paths = {"/dev/video10", "/dev/video2", "/dev/video1"};
  sort_camera_paths(paths);
  EXPECT_EQ(paths, (std::vector<std::string>{"/dev/video1", "/dev/video2", "/dev/video10"}));
  std::vector<std::pair<int, int>> sizes = {{1280, 720}, {640, 480}, {640, 360}, {640, 480}};
  sort_camera_sizes(sizes);
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{640, 360}, {640, 480}, {1280, 720}}));
  EXPECT_EQ(cameras_json(std::vector<CameraInfo>{}), "{\"cameras\":[]}");
  EXPECT_EQ(cameras_json({{"/dev/video0", "Cam", {{320, 240}, {640, 480}}},
                          {"/dev/video2", "A \"B\" \\ \xc3\xa9", {{640, 480}}}}),
            "{\"cameras\":[{\"path\":\"/dev/video0\",\"name\":\"Cam\",\"sizes\":[[320,240],"
            "[640,480]]},{\"path\":\"/dev/video2\",\"name\":\"A \\\"B\\\" \\\\ \xc3\xa9\","
            "\"sizes\":[[640,480]]}]}");
  EXPECT_EQ(cameras_json().rfind("{\"cameras\":[", 0), 0u);  // this machine's devices
}
