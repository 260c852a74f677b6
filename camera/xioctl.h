#pragma once

#include <sys/ioctl.h>

#include <cerrno>

// ioctl, repeated for as long as a signal interrupts it.
inline int xioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ioctl(fd, request, arg);
  } while (r == -1 && errno == EINTR);
  return r;
}
