#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fake_v4l2/script.h"

using FakeBytes = std::vector<uint8_t>;

// The payloads a simulated device delivers once its format and size are set.
struct FakeFrames {
  std::vector<FakeBytes> frames;  // played in turn, then again from the first
  FakeBytes stale;                // what a burst delivers before its last frame: a 64 x 48 grey
                                  // JPEG in MJPEG, a grey frame of the granted size in YUYV
};

// MJPEG: the script's JPEG files as they are. YUYV: the files decoded, scaled
// to `width` x `height` and converted.
bool make_frames(const FakeDeviceScript& script, bool mjpeg, uint32_t width, uint32_t height,
                 FakeFrames& out, std::string& error);
