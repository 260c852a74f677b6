#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

// Replaces `bytes` with the whole regular file at `path`: true when it was
// read to its end and holds at most `limit` bytes, and begins with `start`
// when that is given. The files read this way (frames, face geometry,
// models) are named by the user and untrusted:
// - the open never blocks (O_NONBLOCK: a FIFO without a writer would wait
//   forever) and the file type is judged on the open descriptor, so a FIFO,
//   a device or a directory is refused however the path was reached;
// - the size the file claims bounds the read: a file with more bytes than
//   it claims is refused after a page more, so files under /proc and /sys,
//   which claim 0 (or 4096) bytes and may go on without end, cost a read or
//   two (a file that grew while it was read is refused too);
// - a file that does not begin with `start` is refused.
// On false `bytes` holds whatever was read, and `why`, when given, a short
// reason ("Too many open files", "not a regular file", ...).
inline bool read_regular_file(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                              std::span<const uint8_t> start = {}, std::string* why = nullptr) {
  bytes.clear();
  const auto fail = [&](const char* reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int e = errno;
    ::close(fd);
    return fail(std::strerror(e));
  }
  const char* refused = nullptr;
  if (!S_ISREG(info.st_mode)) {
    refused = "not a regular file";
  } else if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > limit) {
    refused = "too large";
  }
  // Read straight into `bytes` (no buffer on the stack), a page past the
  // claimed size to see whether the file ends where it says (a page, not a
  // byte: some files under /proc refuse reads of odd sizes).
  constexpr size_t kPastClaim = 4096;
  const size_t claimed = refused ? 0 : static_cast<size_t>(info.st_size);
  if (!refused) bytes.resize(claimed + kPastClaim);
  size_t done = 0;
  while (!refused && done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refused = std::strerror(errno);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(done);
  if (refused) return fail(refused);
  if (done > claimed) return fail("longer than it claims");
  // (memcmp may not be given the null data of an empty span, even for 0 bytes.)
  if (!start.empty() && (done < start.size() || std::memcmp(bytes.data(), start.data(), start.size()) != 0)) {
    return fail("not of the expected kind");
  }
  return true;
}
