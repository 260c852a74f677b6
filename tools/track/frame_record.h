#pragma once

#include <optional>
#include <string>

#include "tools/track/face_frame.h"
#include "tools/track/hand_frame.h"

// Everything the tool learnt about one frame file: the source of its JSON
// line and of its annotated copy. Each tracking part fills its own member
// and is absent when that part is off.
struct FrameRecord {
  std::string name;      // the file name, without its folder
  bool decoded = false;  // false: the file could not be read or decoded
  int width = 0;
  int height = 0;
  std::optional<FaceFrame> face;
  std::optional<HandFrame> hands;
};
