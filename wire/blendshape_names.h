#pragma once

#include "wire/face.h"

namespace wire {

// The meaning and order of the face datagram's coefficients (ARKit's names,
// case as they are written there). Hosts map them by position, so the order
// never changes.
extern const char* const kBlendshapeNames[kFaceBlendshapeCount];

}  // namespace wire
