#pragma once

#include <memory>
#include <string>

#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "image/image.h"
#include "tools/track/frame_record.h"
#include "tools/track/track_options.h"

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
