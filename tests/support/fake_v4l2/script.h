#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What one simulated capture device offers and how it misbehaves, read from a
// small text script (see parse_script). Everything the tests vary is here.
struct FakeFormat {
  uint32_t fourcc = 0;
  std::vector<std::pair<uint32_t, uint32_t>> sizes;  // discrete sizes
  bool stepwise = false;                             // offers a size range instead
};

enum class FakeBusy { kNever, kOpen, kReqbufs, kStreamon };
enum class FakeUnplug { kNever, kPoll, kDequeue };
enum class FakeDamage { kNone, kCorrupt, kEmpty, kOversized };

struct FakeDeviceScript {
  std::string path;  // e.g. /dev/videofake0; never exists on disk
  std::string card = "Fake Camera";
  uint32_t device_caps = 0;    // capture and streaming unless `caps` says otherwise
  uint32_t physical_caps = 0;  // the whole device's, reported in `capabilities`
  bool legacy_caps = false;    // no V4L2_CAP_DEVICE_CAPS: `capabilities` is the node's
  std::vector<FakeFormat> formats;
  bool refuse_other_formats = false;  // S_FMT of an unoffered format: EINVAL, not another one
  bool grant = false;                          // S_FMT answers this size, not the one asked for
  uint32_t grant_width = 0, grant_height = 0;
  uint32_t buffers = 0;                        // granted by REQBUFS; 0: as many as asked
  int exposure_priority = -1;                  // -1: no such control
  std::string frames_dir;                      // JPEG files played in byte order, cycled
  double rate = 30;                            // frames per second
  int burst = 1;               // frames delivered at each tick, all but the last stale; a tick
                               // finding fewer free buffers is lost whole
  FakeDamage damage = FakeDamage::kNone;  // oversized: claims a byte more than its buffer
  int damage_every = 0;                    // every Nth frame is damaged
  FakeBusy busy = FakeBusy::kNever;
  bool interrupt = false;         // every call fails once with EINTR before it works
  bool interrupt_always = false;  // every call fails with EINTR
  bool flood = false;             // a dequeue always finds a frame: never EAGAIN
  bool endless = false;    // every format and size index answers, however high
  FakeUnplug unplug = FakeUnplug::kNever;
  int unplug_after = 0;  // frames delivered before the device goes away
  int stray_after = 0;   // dequeues with a true index; every later one names a buffer
                         // never granted, and the buffer it filled is lost (0: never)
};

// Parses a script: one setting per line, `#` starts a comment, and every
// "device PATH" line starts a new device. The other lines are
//   card TEXT                   caps WORDS / physical_caps WORDS (capture streaming meta)
//   legacy_caps                 format FOURCC WxH... | format FOURCC step
//   refuse_other_formats        grant WxH            buffers N
//   exposure N                  frames DIR           rate FPS       burst N
//   damage corrupt|empty|oversized N
//   busy open|reqbufs|streamon  interrupt [always]   unplug N poll|dequeue
//   endless                     stray_index N        flood
// False with `error` naming the line when a line is not understood.
bool parse_script(const std::string& text, std::vector<FakeDeviceScript>& devices,
                  std::string& error);
