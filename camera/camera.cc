#include "camera/camera.h"
#include "camera/xioctl.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/decode_jpeg.h"
#include "image/yuyv_to_rgb.h"

namespace {

constexpr int kBuffersAsked = 4;
constexpr unsigned kFewestBuffers = 2;

std::string card_name(const v4l2_capability& cap) {
  const char* card = reinterpret_cast<const char*>(cap.card);
  return std::string(card, strnlen(card, sizeof cap.card));
}

std::string busy(const std::string& what) {
  return "Camera " + what + " is busy; close other programs using it.";
}

}  // namespace

Camera::~Camera() { close(); }

bool Camera::open(const std::string& device, int want_width, int want_height, std::string& error) {
  close();
  fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    error =
        e == EBUSY ? busy(device) : "Cannot open camera " + device + ": " + std::strerror(e) + ".";
    return false;
  }
  auto fail = [&](std::string message) {
    error = std::move(message);
    close();
    return false;
  };

  v4l2_capability cap{};
  if (xioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) return fail(device + " is not a video device.");
  name = card_name(cap);

  bool format_taken = false;
  for (const uint32_t pixel_format : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV}) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = static_cast<uint32_t>(want_width);
    fmt.fmt.pix.height = static_cast<uint32_t>(want_height);
    fmt.fmt.pix.pixelformat = pixel_format;
    if (xioctl(fd, VIDIOC_S_FMT, &fmt) == 0 && fmt.fmt.pix.pixelformat == pixel_format) {
      mjpeg = pixel_format == V4L2_PIX_FMT_MJPEG;
      width = static_cast<int>(fmt.fmt.pix.width);
      height = static_cast<int>(fmt.fmt.pix.height);
      format_taken = true;
      break;
    }
  }
  if (!format_taken) return fail("Camera " + name + " offers neither MJPEG nor YUYV.");

  // Exposure priority lets the driver lower the frame rate in dim light;
  // tracking wants a steady rate. A device without the control is used as is.
  v4l2_control ctrl{};
  ctrl.id = V4L2_CID_EXPOSURE_AUTO_PRIORITY;
  if (xioctl(fd, VIDIOC_G_CTRL, &ctrl) == 0 && ctrl.value != 0) {
    const int old_value = ctrl.value;
    ctrl.value = 0;
    if (xioctl(fd, VIDIOC_S_CTRL, &ctrl) == 0) saved_exposure_priority = old_value;
  }

  v4l2_streamparm parm{};
  parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  parm.parm.capture.timeperframe.numerator = 1;
  parm.parm.capture.timeperframe.denominator = 30;
  (void)xioctl(fd, VIDIOC_S_PARM, &parm);

  v4l2_requestbuffers req{};
  req.count = kBuffersAsked;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (xioctl(fd, VIDIOC_REQBUFS, &req) != 0) {
    return fail(errno == EBUSY ? busy(name) : "Camera " + name + " has no capture buffers.");
  }
  if (req.count < kFewestBuffers) return fail("Camera " + name + " has no capture buffers.");

  for (uint32_t i = 0; i < req.count; ++i) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = i;
    if (xioctl(fd, VIDIOC_QUERYBUF, &buf) != 0) return fail("Cannot map camera buffers.");
    void* start = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buf.m.offset);
    if (start == MAP_FAILED) return fail("Cannot map camera buffers.");
    buffers.push_back({start, buf.length});
    if (xioctl(fd, VIDIOC_QBUF, &buf) != 0) return fail("Cannot queue camera buffers.");
  }

  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(fd, VIDIOC_STREAMON, &type) != 0) {
    return fail(errno == EBUSY ? busy(name) : "Cannot start camera " + name + ".");
  }
  streaming = true;
  return true;
}

bool Camera::read(Image& image, int timeout_ms, std::string& error) {
  error.clear();
  pollfd p{fd, POLLIN, 0};
  const int ready = poll(&p, 1, timeout_ms);
  if (ready == 0 || (ready < 0 && errno == EINTR)) return false;
  if (ready < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return lost(error);

  // Keep only the newest frame: every older one goes straight back to the
  // driver undecoded, so latency stays at one frame when we fall behind.
  v4l2_buffer held{};
  bool holding = false;
  int dequeue_errno = 0;
  // A driver cannot have more frames waiting than it has buffers; one that
  // keeps answering is taken to have none left rather than drained for ever.
  for (size_t dequeued = 0;; ++dequeued) {
    if (dequeued > 2 * buffers.size()) {
      dequeue_errno = EAGAIN;
      break;
    }
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd, VIDIOC_DQBUF, &buf) != 0) {
      dequeue_errno = errno;
      break;
    }
    // An index we never mapped: the driver no longer agrees with us about
    // its buffers, and whichever buffer it stands for can never be queued
    // again. Waiting on would only see the buffers run out one by one.
    if (buf.index >= buffers.size()) {
      dequeue_errno = EINVAL;
      break;
    }
    if (holding) (void)xioctl(fd, VIDIOC_QBUF, &held);
    held = buf;
    holding = true;
  }
  if (dequeue_errno != EAGAIN) {
    if (holding) (void)xioctl(fd, VIDIOC_QBUF, &held);
    return lost(error);
  }
  if (!holding) return false;

  bool decoded = false;
  try {
    decoded = decode_held(held, image);
  } catch (const std::bad_alloc&) {
    // Only this frame is lost: its buffer still goes back to the driver.
  }
  (void)xioctl(fd, VIDIOC_QBUF, &held);
  return decoded;
}

bool Camera::decode_held(const v4l2_buffer& held, Image& image) const {
  // The buffer's index and byte count come from the driver: a frame that
  // claims a buffer we did not map, or more bytes than the mapping holds, is
  // dropped instead of being read past the mapping.
  if (held.index >= buffers.size() || held.bytesused > buffers[held.index].length) return false;
  const auto* data = static_cast<const uint8_t*>(buffers[held.index].start);
  if (mjpeg) return held.bytesused > 0 && decode_jpeg(data, held.bytesused, image);
  // A driver that settled on an empty size delivers no usable frame.
  if (width < 1 || height < 1) return false;
  if (uint64_t{held.bytesused} < uint64_t(width) * uint64_t(height) * 2) return false;
  yuyv_to_rgb(data, width, height, image);
  return true;
}

bool Camera::lost(std::string& error) const {
  error = "Camera " + name + " stopped delivering frames (unplugged?).";
  return false;
}

void Camera::close() {
  if (fd >= 0) {
    if (streaming) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      (void)xioctl(fd, VIDIOC_STREAMOFF, &type);
    }
    if (saved_exposure_priority >= 0) {
      v4l2_control ctrl{};
      ctrl.id = V4L2_CID_EXPOSURE_AUTO_PRIORITY;
      ctrl.value = saved_exposure_priority;
      (void)xioctl(fd, VIDIOC_S_CTRL, &ctrl);
    }
  }
  for (const Buffer& b : buffers) munmap(b.start, b.length);
  buffers.clear();
  saved_exposure_priority = -1;
  if (fd >= 0) ::close(fd);
  fd = -1;
  streaming = false;
}
