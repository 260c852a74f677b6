#pragma once

// Running the trackers over a frame file and recording what they did.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/point.h"
#include "core/rotated_rect.h"
#include "detection/detection.h"
#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "image/image.h"
#include "tools/track/options.h"

// Coordinates multiplied by `factor`, for drawing on a copy of the frame
// enlarged that many times. A region keeps its rotation.
Point scaled(Point p, float factor);
RotatedRect scaled(RotatedRect r, float factor);
Detection scaled(const Detection& d, float factor);

// One frame through the face tracker, with what the tracker did inside.
struct FaceFrame {
  FaceResult result;
  FaceSteps steps;
  // The tracker's state after the frame: while tracking, `roi_after` is the
  // region the next frame's landmark step will sample.
  bool tracking_after = false;
  RotatedRect roi_after;
  double total_ms = 0.0;  // the whole process() call
};

// The vertical field of view (degrees) of a width x height frame seen with
// the given horizontal one.
float vertical_fov(float horizontal_fov, int width, int height);

// Runs `tracker` on `image` (horizontal field of view in degrees) and
// records the result and the steps.
FaceFrame track_face(FaceTracker& tracker, const Image& image, float horizontal_fov);

// `face` with every coordinate (landmarks, detection, regions) multiplied by
// `factor`, for drawing on a copy of the frame enlarged that many times.
FaceFrame scaled(const FaceFrame& face, float factor);

// One frame through the hand tracker, with what the tracker did inside.
struct HandFrame {
  std::vector<HandResult> hands;
  HandSteps steps;
  // The regions the next frame's landmark steps will sample: one per hand of
  // `hands`, in the same order.
  std::vector<RotatedRect> regions_after;
};

// Runs `tracker` on `image` and records the hands and the steps.
HandFrame track_hands(HandTracker& tracker, const Image& image);

// `frame` with every image coordinate (landmarks, palms, regions) multiplied
// by `factor`, for drawing on a copy of the frame enlarged that many times.
// The 3-D landmarks, which are not in pixels, stay as they are.
HandFrame scaled(const HandFrame& frame, float factor);

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

// The trackers of the parts the command line switched on; a part that is
// off has none. Owned for the whole run, used from one thread.
struct Trackers {
  std::unique_ptr<FaceTracker> face;
  std::unique_ptr<HandTracker> hands;
};

// Loads the models of every part that is on. On failure returns false with
// the loader's message.
bool load_trackers(const TrackOptions& options, Trackers& trackers, std::string& error);

// Starts a new sequence of frames: nothing followed in earlier frames is
// carried over.
void reset_trackers(Trackers& trackers);

// Reads and decodes the file at `path` into `image` and runs every loaded
// tracker on it. A file that cannot be read or decoded gives a record with
// `decoded` false and leaves the trackers as they were.
FrameRecord track_file(Trackers& trackers, const std::string& path, float fov, Image& image);
