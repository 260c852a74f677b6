#pragma once

#include <array>
#include <cstdint>

#include "tools/bridge-host/vmc_pose.h"
#include "tools/bridge-host/vmc_sender.h"
#include "wire/header.h"

// Turns the bridge's datagrams into one VMC bundle per frame. A frame's
// face datagram waits for the hands datagram with the same timestamp that
// follows it, so face and fingers go out together; without hands (hand
// tracking off or unavailable) it goes out when the next frame's face comes,
// or at the end.
struct VmcRelay {
  VmcState state;
  VmcSender sender;
  wire::Face face;
  bool face_pending = false;
  uint64_t face_timestamp = 0;  // microseconds, the bridge's clock
  bool started = false;
  uint64_t start_timestamp = 0;
  long frames = 0;
  // Microseconds spent converting and sending each of the last frames (a
  // ring, so that keeping them allocates nothing).
  std::array<float, 4096> frame_us{};
};

// The median and the 90th percentile of the recorded frame times, in
// microseconds (0 without frames).
void relay_frame_cost(const VmcRelay& relay, float& median_us, float& p90_us);

// Takes one datagram from the bridge; anything but face and hands datagrams
// is ignored.
void relay_datagram(VmcRelay& relay, const wire::Bytes& datagram);

// Sends a face still waiting for its hands.
void flush_relay(VmcRelay& relay);
