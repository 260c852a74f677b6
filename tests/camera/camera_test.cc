// What needs no capture device; everything a driver does is played on the
// simulated device (tests/support/fake_v4l2) in tests/app/camera_e2e_test.cc.
#include "camera/camera.h"

#include <gtest/gtest.h>

TEST(Camera, OpenFailuresNameThePathAndLeaveItClosed) {
  Camera camera;
  std::string error;
  EXPECT_FALSE(camera.open("/nonexistent", 640, 480, error));
  EXPECT_EQ(error, "Cannot open camera /nonexistent: No such file or directory.");
  EXPECT_FALSE(camera.open("/dev/null", 640, 480, error));
  EXPECT_EQ(error, "/dev/null is not a video device.");
  EXPECT_EQ(camera.fd, -1);
  camera.close();
  Image image;
  EXPECT_FALSE(camera.read(image, 0, error));  // closed: no frame, no message
  EXPECT_EQ(error, "");
}
