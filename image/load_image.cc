#include "image/load_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "image/decode_jpeg.h"

namespace {

// Far above any JPEG of the largest accepted frame size.
constexpr off_t kMaxFileBytes = off_t{256} << 20;

// Every byte of a regular file, or nothing when it cannot be opened, is not
// a regular file or is implausibly large, or a read fails. A directory, a
// FIFO (whose open would block) or a device such as /dev/zero (which never
// ends) is no frame. Plain descriptors rather than a file stream: the stream
// library throws on such reads.
std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return bytes;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes) {
    ::close(fd);
    return bytes;
  }
  bytes.reserve(static_cast<size_t>(info.st_size));
  uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      bytes.insert(bytes.end(), chunk, chunk + n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      bytes.clear();
      break;
    }
  }
  ::close(fd);
  return bytes;
}

}  // namespace

bool load_image(const std::string& path, Image& out) {
  const std::vector<uint8_t> bytes = read_file(path);
  if (bytes.empty()) return false;
  return decode_jpeg(bytes.data(), bytes.size(), out);
}
