#pragma once

#include <string>

#include "wire/header.h"

// One line of JSON describing a datagram from the bridge: its header fields
// and, for a status, the document as an object; for a face, "found",
// "translation", "rotation" and "blendshapes" (an object keyed by blendshape
// name); for hands, "hands", an array with each hand's "handedness" (0 or 1),
// "handedness_score", "center" [x, y], "scale" and "landmarks" (21 [x, y, z]);
// floats in their shortest exact text and non-finite ones as null.
// Malformed datagrams are described as such, never trusted.
std::string datagram_json(const wire::Bytes& datagram);
