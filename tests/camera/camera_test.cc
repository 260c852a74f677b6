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
#include <string>
#include <vector>

// No capture device exists on a build machine, so these tests stand a
// scripted driver behind ioctl and poll: the test defines both, and calls on
// any descriptor other than the fake device's go on to the kernel. The fake
// device is a memfd, so the camera maps its buffers for real.
namespace {

constexpr uint32_t kBufferBytes = 4096;

struct FakeDriver {
  bool mjpeg = true;             // accepts MJPEG
  uint32_t answer_width = 1280;  // the size every S_FMT answers with
  uint32_t answer_height = 720;
  int exposure_priority = 1;  // -1: the control does not exist
  uint32_t granted = 4;
  int eintr_left = 1;  // fail this many calls with EINTR first
  short poll_events = POLLIN;
  int dequeue_error = EAGAIN;     // once `ready` is empty
  std::deque<v4l2_buffer> ready;  // frames the driver holds, oldest first
  std::vector<uint32_t> queued;   // indices handed back, in order
  bool streaming = false;
  int memfd = memfd_create("fake_camera", 0);
  struct stat id {};

  FakeDriver() {
    ftruncate(memfd, 8 * kBufferBytes);
    fstat(memfd, &id);
  }
  ~FakeDriver() { ::close(memfd); }
  std::string path() const { return "/proc/self/fd/" + std::to_string(memfd); }

  // A frame of `bytes` bytes, all of value `fill`, waiting in buffer `index`.
  void deliver(uint32_t index, uint32_t bytes, uint8_t fill) {
    const std::vector<uint8_t> data(bytes, fill);
    pwrite(memfd, data.data(), bytes, off_t{index} * kBufferBytes);
    v4l2_buffer b{};
    b.index = index;
    b.bytesused = bytes;
    ready.push_back(b);
  }

  int fail(int e) {
    errno = e;
    return -1;
  }

  int handle(unsigned long request, void* arg) {
    if (eintr_left > 0) return --eintr_left, fail(EINTR);
    switch (request) {
      case VIDIOC_QUERYCAP:
        std::strcpy(reinterpret_cast<char*>(static_cast<v4l2_capability*>(arg)->card), "Fake Cam");
        return 0;
      case VIDIOC_S_FMT: {
        v4l2_pix_format& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
        if (pix.pixelformat == V4L2_PIX_FMT_MJPEG && !mjpeg) pix.pixelformat = V4L2_PIX_FMT_YUYV;
        pix.width = answer_width;
        pix.height = answer_height;
        return 0;
      }
      case VIDIOC_G_CTRL:
      case VIDIOC_S_CTRL: {
        auto* c = static_cast<v4l2_control*>(arg);
        if (exposure_priority < 0 || c->id != V4L2_CID_EXPOSURE_AUTO_PRIORITY) return fail(EINVAL);
        if (request == VIDIOC_G_CTRL) {
          c->value = exposure_priority;
        } else {
          exposure_priority = c->value;
        }
        return 0;
      }
      case VIDIOC_REQBUFS:
        static_cast<v4l2_requestbuffers*>(arg)->count = granted;
        return 0;
      case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        b->length = kBufferBytes;
        b->m.offset = b->index * kBufferBytes;
        return 0;
      }
      case VIDIOC_QBUF:
        queued.push_back(static_cast<v4l2_buffer*>(arg)->index);
        return 0;
      case VIDIOC_DQBUF:
        if (ready.empty()) return fail(dequeue_error);
        *static_cast<v4l2_buffer*>(arg) = ready.front();
        ready.pop_front();
        return 0;
      case VIDIOC_STREAMON:
      case VIDIOC_STREAMOFF:
        streaming = request == VIDIOC_STREAMON;
        return 0;
      default:
        return 0;  // S_PARM
    }
  }
};

// The driver that the definitions below stand in for; set by FakeCamera.
FakeDriver* fake_driver = nullptr;

bool is_fake(int fd) {
  struct stat s {};
  return fake_driver != nullptr && fstat(fd, &s) == 0 && s.st_ino == fake_driver->id.st_ino &&
         s.st_dev == fake_driver->id.st_dev;
}

// A scripted driver installed for one test, with a camera opened on it at
// 640 x 480 (the driver answers with its own size).
struct FakeCamera : FakeDriver {
  Camera camera;
  std::string error = "untouched";
  FakeCamera() { fake_driver = this; }
  ~FakeCamera() {
    camera.close();
    fake_driver = nullptr;
  }
  bool open() { return camera.open(path(), 640, 480, error); }
};

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (is_fake(fd)) return fake_driver->handle(request, arg);
  return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

// The C library declares the array write-only, which makes reading its
// descriptors look like a read of uninitialised memory to the compiler.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  if (count == 1 && is_fake(fds[0].fd)) {
    fds[0].revents = fake_driver->poll_events;
    return fake_driver->poll_events != 0 ? 1 : 0;
  }
  return static_cast<int>(syscall(SYS_poll, fds, count, timeout));
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
  camera.close();
  Image image;
  EXPECT_FALSE(camera.read(image, 0, error));  // closed: no frame, no message
  EXPECT_EQ(error, "");
}

TEST(Camera, NegotiatesAdoptsDriverSizeAndRestoresExposure) {
  FakeCamera f;
  ASSERT_TRUE(f.open());  // the first ioctl was interrupted and repeated
  EXPECT_EQ(f.error, "untouched");
  EXPECT_TRUE(f.camera.mjpeg);
  EXPECT_EQ(f.camera.width, 1280);
  EXPECT_EQ(f.camera.height, 720);
  EXPECT_EQ(f.camera.name, "Fake Cam");
  EXPECT_EQ(f.camera.buffers.size(), 4u);
  EXPECT_EQ(f.queued, (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(f.streaming);
  EXPECT_EQ(f.exposure_priority, 0);
  f.camera.close();
  EXPECT_EQ(f.exposure_priority, 1);
  EXPECT_FALSE(f.streaming);
  EXPECT_TRUE(f.camera.buffers.empty());
  EXPECT_EQ(f.camera.fd, -1);
}

TEST(Camera, FallsBackToYuyvEmptySizeGivesNoFramesTooFewBuffersRefused) {
  FakeCamera yuyv;
  yuyv.mjpeg = false;
  yuyv.exposure_priority = -1;
  yuyv.answer_width = 0;  // a driver that settles on an empty size
  yuyv.answer_height = 0;
  ASSERT_TRUE(yuyv.open());
  EXPECT_FALSE(yuyv.camera.mjpeg);
  yuyv.deliver(0, 64, 128);
  Image image = {2, 1, {1, 2, 3, 4, 5, 6}};
  EXPECT_FALSE(yuyv.camera.read(image, 100, yuyv.error));  // no frame, not a 0 x 0 one
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(yuyv.error, "");
  yuyv.camera.close();
  EXPECT_EQ(yuyv.exposure_priority, -1);

  FakeCamera one;
  one.granted = 1;
  EXPECT_FALSE(one.open());
  EXPECT_EQ(one.error, "Camera Fake Cam has no capture buffers.");
  EXPECT_EQ(one.camera.fd, -1);
  EXPECT_EQ(one.exposure_priority, 1);  // restored by the close after the failure
}

TEST(Camera, ReadDecodesOnlyTheNewestFrame) {
  FakeCamera f;
  f.mjpeg = false;
  f.answer_width = 32;
  f.answer_height = 16;  // 1024 bytes of YUYV
  ASSERT_TRUE(f.open());
  f.queued.clear();
  f.deliver(0, 1024, 16);  // every byte 16: red 0
  f.deliver(1, 1024, 16);
  f.deliver(2, 1024, 235);  // every byte 235: red 255
  Image image;
  std::string error = "stale";
  ASSERT_TRUE(f.camera.read(image, 100, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(image.width, 32);
  EXPECT_EQ(f.queued, (std::vector<uint32_t>{0, 1, 2}));  // the older two undecoded
  EXPECT_EQ(image.pixels[0], 255);

  // Too short for 32 x 16, or more bytes than were mapped: dropped, requeued.
  f.queued.clear();
  f.deliver(3, 1023, 16);
  EXPECT_FALSE(f.camera.read(image, 100, error));
  f.deliver(3, kBufferBytes + 1, 16);
  EXPECT_FALSE(f.camera.read(image, 100, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(f.queued, (std::vector<uint32_t>{3, 3}));
  EXPECT_FALSE(f.camera.read(image, 100, error));  // nothing waiting
  EXPECT_EQ(error, "");
}

TEST(Camera, UnpluggedCameraIsReportedLost) {
  FakeCamera f;
  ASSERT_TRUE(f.open());
  Image image;
  f.dequeue_error = ENODEV;
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  EXPECT_EQ(f.error, "Camera Fake Cam stopped delivering frames (unplugged?).");
  f.poll_events = POLLERR;
  f.error.clear();
  EXPECT_FALSE(f.camera.read(image, 100, f.error));
  EXPECT_EQ(f.error, "Camera Fake Cam stopped delivering frames (unplugged?).");
}
