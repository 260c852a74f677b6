#pragma once

#include <string>

#include "tools/track/frame_record.h"

// The record as one line of JSON, without the newline:
// {"frame":..,"width":..,"height":..,"face":{..},"hands":{..}} for a decoded
// frame, with null for a part that is off, and
// {"frame":..,"error":"cannot read or decode"} otherwise.
std::string frame_json_line(const FrameRecord& record);

// The "face" object of the line.
std::string face_json(const FaceFrame& face);
