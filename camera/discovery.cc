#include "camera/discovery.h"
#include "camera/xioctl.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wire/json_quote.h"

namespace {

std::vector<std::string> video_paths() {
  std::vector<std::string> paths;
  DIR* dev = opendir("/dev");
  if (dev == nullptr) return paths;
  while (const dirent* entry = readdir(dev)) {
    if (std::strncmp(entry->d_name, "video", 5) == 0) {
      paths.push_back(std::string("/dev/") + entry->d_name);
    }
  }
  closedir(dev);
  sort_camera_paths(paths);
  return paths;
}

// Real devices offer a handful of formats and a few dozen sizes; a driver
// that never says "no more" must not keep discovery going for ever.
constexpr uint32_t kMaxFormats = 64, kMaxSizes = 1024;

void add_discrete_sizes(int fd, uint32_t pixel_format, std::vector<std::pair<int, int>>& sizes) {
  for (uint32_t index = 0; index < kMaxSizes; ++index) {
    v4l2_frmsizeenum size{};
    size.index = index;
    size.pixel_format = pixel_format;
    if (xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) return;
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) return;
    sizes.emplace_back(static_cast<int>(size.discrete.width),
                       static_cast<int>(size.discrete.height));
  }
}

// False when the device is not a streaming capture device offering a
// discrete MJPEG or YUYV size.
bool describe(int fd, const std::string& path, CameraInfo& info) {
  v4l2_capability cap{};
  if (xioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) return false;
  const uint32_t caps =
      (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) return false;
  const char* card = reinterpret_cast<const char*>(cap.card);
  info = {path, std::string(card, strnlen(card, sizeof cap.card)), {}};
  for (uint32_t index = 0; index < kMaxFormats; ++index) {
    v4l2_fmtdesc fmt{};
    fmt.index = index;
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_ENUM_FMT, &fmt) != 0) break;
    if (fmt.pixelformat == V4L2_PIX_FMT_MJPEG || fmt.pixelformat == V4L2_PIX_FMT_YUYV) {
      add_discrete_sizes(fd, fmt.pixelformat, info.sizes);
    }
  }
  sort_camera_sizes(info.sizes);
  return !info.sizes.empty();
}

}  // namespace

void sort_camera_paths(std::vector<std::string>& paths) {
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
}

void sort_camera_sizes(std::vector<std::pair<int, int>>& sizes) {
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
}

std::vector<CameraInfo> list_cameras() {
  std::vector<CameraInfo> cameras;
  for (const std::string& path : video_paths()) {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) continue;
    CameraInfo info;
    if (describe(fd, path, info)) cameras.push_back(std::move(info));
    close(fd);
  }
  return cameras;
}

std::string cameras_json(const std::vector<CameraInfo>& cameras) {
  std::string out = "{\"cameras\":[";
  for (size_t i = 0; i < cameras.size(); ++i) {
    const CameraInfo& c = cameras[i];
    if (i > 0) out += ",";
    out += "{\"path\":" + wire::json_quote(c.path) + ",\"name\":" + wire::json_quote(c.name) +
           ",\"sizes\":[";
    for (size_t k = 0; k < c.sizes.size(); ++k) {
      if (k > 0) out += ",";
      out += '[';
      out += std::to_string(c.sizes[k].first);
      out += ',';
      out += std::to_string(c.sizes[k].second);
      out += ']';
    }
    out += "]}";
  }
  return out + "]}";
}

std::string cameras_json() { return cameras_json(list_cameras()); }
