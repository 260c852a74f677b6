#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "tests/support/fake_v4l2/frames.h"
#include "tests/support/fake_v4l2/script.h"

// One open simulated capture device: the driver's side of memory-mapped
// streaming. The buffers live in a memfd, so the caller maps them for real;
// frames are written into them as their time comes, at the script's rate.
struct FakeDriver {
  const FakeDeviceScript* script = nullptr;
  int memfd = -1;
  std::function<void(const std::string&)> log;  // one event per line

  uint32_t pixel_format = 0;
  uint32_t width = 0, height = 0;
  int exposure_priority = -1;
  FakeFrames frames;
  uint32_t buffer_count = 0;
  uint64_t buffer_bytes = 0;
  std::deque<uint32_t> queued;  // handed to the driver by the caller, to be filled
  struct Filled {
    uint32_t index;
    uint32_t bytes;
  };
  std::deque<Filled> filled;  // waiting to be dequeued, oldest first
  bool streaming = false;
  bool unplugged = false;
  bool interrupt_next = true;  // alternates when the script asks for EINTR
  int64_t next_tick_ns = 0;
  uint64_t delivered = 0;  // frames written into a buffer (stale ones excluded)
  uint64_t dequeued = 0;
};

// Answers one ioctl like a V4L2 capture driver: 0, or -1 with errno set.
int fake_ioctl(FakeDriver& d, unsigned long request, void* arg);

// poll() on the device for POLLIN: the revents, 0 after `timeout_ms` without
// a frame, or -1 with errno (EINTR) like the real call.
int fake_poll(FakeDriver& d, int timeout_ms, short& revents);
