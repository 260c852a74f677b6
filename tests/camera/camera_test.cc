#include "camera/camera.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>

namespace {

constexpr uint32_t kBufferBytes = 4096;

struct Fake;
Fake* fake = nullptr;

// A scripted capture driver and a camera to open on it. The device is a memfd,
// so buffers map for real; ioctl and poll below answer for it.
struct Fake {
  bool mjpeg = true, streaming = false;
  uint32_t width = 1280, height = 720, granted = 4;  // every S_FMT's size; buffers given
  int exposure_priority = 1;                         // -1: no such control
  int interrupt = 1;                                 // calls that fail with EINTR first
  short poll_events = POLLIN;
  int dequeue_error = EAGAIN;     // once `ready` is empty
  bool endless = false;           // a driver with a frame for every dequeue
  std::deque<v4l2_buffer> ready;  // oldest first
  std::vector<uint32_t> queued;   // indices handed back
  int memfd = memfd_create("fake_camera", 0);
  Camera camera;
  std::string error = "untouched";

  Fake() {
    EXPECT_EQ(ftruncate(memfd, 8 * kBufferBytes), 0);
    fake = this;
  }
  ~Fake() {
    camera.close();
    fake = nullptr;
    ::close(memfd);
  }
  bool open() { return camera.open("/proc/self/fd/" + std::to_string(memfd), 640, 480, error); }
  void deliver(uint32_t index, uint32_t bytes, uint8_t fill) {
    const std::vector<uint8_t> data(bytes, fill);
    EXPECT_EQ(pwrite(memfd, data.data(), bytes, off_t{index} * kBufferBytes), ssize_t(bytes));
    ready.emplace_back();
    ready.back().index = index;
    ready.back().bytesused = bytes;
  }
  static int fail(int e) { return errno = e, -1; }
  int handle(unsigned long request, void* arg) {
    if (interrupt > 0) return --interrupt, fail(EINTR);
    auto* buf = static_cast<v4l2_buffer*>(arg);
    auto* ctrl = static_cast<v4l2_control*>(arg);
    auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
    if (request == VIDIOC_QUERYCAP) {
      std::strcpy(reinterpret_cast<char*>(static_cast<v4l2_capability*>(arg)->card), "Fake Cam");
    } else if (request == VIDIOC_S_FMT) {
      if (!mjpeg) pix.pixelformat = V4L2_PIX_FMT_YUYV;
      pix.width = width;
      pix.height = height;
    } else if (request == VIDIOC_G_CTRL || request == VIDIOC_S_CTRL) {
      if (exposure_priority < 0 || ctrl->id != V4L2_CID_EXPOSURE_AUTO_PRIORITY) return fail(EINVAL);
      if (request == VIDIOC_G_CTRL) ctrl->value = exposure_priority;
      if (request == VIDIOC_S_CTRL) exposure_priority = ctrl->value;
    } else if (request == VIDIOC_REQBUFS) {
      static_cast<v4l2_requestbuffers*>(arg)->count = granted;
    } else if (request == VIDIOC_QUERYBUF) {
      buf->length = kBufferBytes;
      buf->m.offset = buf->index * kBufferBytes;
    } else if (request == VIDIOC_QBUF) {
      queued.push_back(buf->index);
    } else if (request == VIDIOC_DQBUF) {
      if (ready.empty() && endless) deliver(0, 1024, 16);
      if (ready.empty()) return fail(dequeue_error);
      *buf = ready.front();
      ready.pop_front();
    } else if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
      streaming = request == VIDIOC_STREAMON;
    }
    return 0;
  }
};

bool is_fake(int fd) {
  struct stat a {}, b {};
  return fake != nullptr && fstat(fd, &a) == 0 && fstat(fake->memfd, &b) == 0 &&
         a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  return is_fake(fd) ? fake->handle(request, arg) : int(syscall(SYS_ioctl, fd, request, arg));
}

// The C library declares the array write-only, so reading it looks uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  if (count != 1 || !is_fake(fds[0].fd)) return int(syscall(SYS_poll, fds, count, timeout));
  fds[0].revents = fake->poll_events;
  return fake->poll_events != 0 ? 1 : 0;
}
#pragma GCC diagnostic pop

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

TEST(Camera, NegotiatesAdoptsDriverSizeRestoresExposureNeedsBuffers) {
  Fake f;
  ASSERT_TRUE(f.open());  // after repeating the interrupted first call
  EXPECT_TRUE(f.error == "untouched" && f.camera.mjpeg && f.camera.name == "Fake Cam");
  EXPECT_TRUE(f.camera.width == 1280 && f.camera.height == 720);
  EXPECT_EQ(f.queued, (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(f.camera.buffers.size() == 4 && f.streaming && f.exposure_priority == 0);
  f.camera.close();
  EXPECT_TRUE(!f.streaming && f.exposure_priority == 1);
  EXPECT_TRUE(f.camera.buffers.empty() && f.camera.fd == -1);

  Fake one;
  one.granted = 1;
  EXPECT_FALSE(one.open());
  EXPECT_EQ(one.error, "Camera Fake Cam has no capture buffers.");
  EXPECT_TRUE(one.camera.fd == -1 && one.exposure_priority == 1);  // restored on failing

  Fake empty;  // a driver settling on an empty size, without the exposure control
  empty.mjpeg = false;
  empty.exposure_priority = -1;
  empty.width = empty.height = 0;
  ASSERT_TRUE(empty.open());
  empty.deliver(0, 64, 128);
  Image image = {2, 1, {1, 2, 3, 4, 5, 6}};
  EXPECT_FALSE(empty.camera.read(image, 100, empty.error));  // no frame, not a 0 x 0 one
  EXPECT_TRUE(image.width == 2 && empty.error.empty());
  empty.camera.close();
  EXPECT_EQ(empty.exposure_priority, -1);
}

TEST(Camera, YuyvReadsTheNewestFrameDropsShortAndOversizedReportsLoss) {
  Fake f;
  f.mjpeg = false;
  f.width = 32;
  f.height = 16;  // 1024 bytes of YUYV
  ASSERT_TRUE(f.open());
  f.queued.clear();
  f.deliver(0, 1024, 16);  // red 0
  f.deliver(1, 1024, 16);
  f.deliver(2, 1024, 235);  // red 255
  Image image;
  ASSERT_TRUE(f.camera.read(image, 100, f.error));
  EXPECT_TRUE(f.error.empty() && !f.camera.mjpeg && image.width == 32 && image.pixels[0] == 255);
  EXPECT_EQ(f.queued, (std::vector<uint32_t>{0, 1, 2}));  // the older two undecoded
  f.deliver(3, 1023, 16);
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  f.deliver(3, kBufferBytes + 1, 16);
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  EXPECT_FALSE(f.camera.read(image, 100, f.error));  // nothing waiting
  EXPECT_TRUE(f.error.empty() && f.queued == (std::vector<uint32_t>{0, 1, 2, 3, 3}));
  const std::string lost = "Camera Fake Cam stopped delivering frames (unplugged?).";
  f.dequeue_error = ENODEV;
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  EXPECT_EQ(f.error, lost);
  f.poll_events = POLLERR;
  f.error.clear();
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  EXPECT_EQ(f.error, lost);
}

// Drivers that never say "no more" or "done" must not hold the bridge.
TEST(Camera, EndlessDriverAnswersEndInsteadOfHanging) {
  Fake endless;
  endless.mjpeg = false;
  endless.width = 32;
  endless.height = 16;
  ASSERT_TRUE(endless.open());
  endless.endless = true;
  Image image;
  EXPECT_TRUE(endless.camera.read(image, 100, endless.error));  // the newest, after a bounded drain
  EXPECT_TRUE(endless.error.empty() && image.width == 32);

  Fake interrupted;
  interrupted.interrupt = 1 << 30;  // every call interrupted
  EXPECT_FALSE(interrupted.open());
  EXPECT_EQ(interrupted.error, "/proc/self/fd/" + std::to_string(interrupted.memfd) + " is not a video device.");
}
