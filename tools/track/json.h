#pragma once

// The track tool's JSON lines: one per frame, with what each tracker did.

#include <cstddef>
#include <string>

#include "core/point.h"
#include "core/rotated_rect.h"
#include "detection/detection.h"
#include "tools/track/tracking.h"

// Pieces of a JSON line, appended to `out`.

// The shortest decimal text that reads back to exactly `v` as a float;
// null for NaN and the infinities, which JSON cannot carry.
void append_number(std::string& out, float v);

// [v0,v1,...] of `count` floats.
void append_floats(std::string& out, const float* values, std::size_t count);

// "key": with the key quoted as JSON; a comma first unless `first`.
void append_key(std::string& out, const char* key, bool first = false);

// Milliseconds rounded to whole microseconds, as a number.
void append_ms(std::string& out, double ms);

// [cx,cy,width,height,rotation].
void append_region(std::string& out, const RotatedRect& r);

// [[x,y,z],...] of `count` points.
void append_points(std::string& out, const Point* points, std::size_t count);

// {"box":[xmin,ymin,xmax,ymax],"score":..,"keypoints":[[x,y],...]}: a
// detector's keypoints carry no depth.
void append_detection(std::string& out, const Detection& d);

// The "hands" object of a frame's JSON line: whether the palm detector ran
// and how many hands were followed into the frame, the palms it found, each
// hand found (side, centre, scale, image and 3-D landmarks, the region it
// was found in and the one kept for the next frame) and the milliseconds of
// both steps.
std::string hands_json(const HandFrame& frame);

// The record as one line of JSON, without the newline:
// {"frame":..,"width":..,"height":..,"face":{..},"hands":{..}} for a decoded
// frame, with null for a part that is off, and
// {"frame":..,"error":"cannot read or decode"} otherwise.
std::string frame_json_line(const FrameRecord& record);

// The "face" object of the line.
std::string face_json(const FaceFrame& face);
