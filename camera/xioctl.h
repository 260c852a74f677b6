#pragma once

#include <sys/ioctl.h>

#include <cerrno>

// ioctl, repeated while a signal interrupts it; a driver that answers
// "interrupted" every time gets that failure back after a while instead of
// holding the bridge for ever.
inline int xioctl(int fd, unsigned long request, void* arg) {
  int r, tries = 0;
  do {
    r = ioctl(fd, request, arg);
  } while (r == -1 && errno == EINTR && ++tries < 100);
  return r;
}
