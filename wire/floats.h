#pragma once

#include <cstdint>

#include "wire/header.h"

namespace wire {

// Appends `count` floats, each as its IEEE-754 single-precision bit pattern in
// little-endian byte order, whatever the machine's own byte order. Shared by
// the face and hands encoders.
void floats(Bytes& out, const float* values, uint32_t count);

}  // namespace wire
