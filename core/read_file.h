#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

// Replaces `bytes` with the whole regular file at `path`: true when it was
// read to its end and holds at most `limit` bytes, and begins with `start`
// when that is given. The files read this way (frames, face geometry) are
// named by the user and untrusted:
// - the open never blocks (O_NONBLOCK: a FIFO without a writer would wait
//   forever) and the file type is judged on the open descriptor, so a FIFO,
//   a device or a directory is refused however the path was reached;
// - the size the file claims is believed only when it is too large: files
//   under /proc and /sys say 0 and can go on without end, so reading stops
//   at `limit` + 1 bytes;
// - a file that does not begin with `start` is left after its first read.
// On false `bytes` holds whatever was read.
inline bool read_regular_file(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                              std::span<const uint8_t> start = {}) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
            static_cast<uint64_t>(info.st_size) <= limit;
  if (ok) bytes.reserve(static_cast<size_t>(info.st_size));
  uint8_t chunk[size_t{1} << 16];
  while (ok) {
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit + 1 - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    const size_t done = bytes.size();
    bytes.insert(bytes.end(), chunk, chunk + n);
    ok = bytes.size() <= limit &&
         (bytes.size() < start.size() || done >= start.size() ||
          std::memcmp(bytes.data(), start.data(), start.size()) == 0);
  }
  ::close(fd);
  return ok && bytes.size() >= start.size();
}
