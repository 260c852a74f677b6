#include "tools/track/trackers.h"

#include "image/load_image.h"
#include "tools/track/frame_files.h"

bool load_trackers(const TrackOptions& options, Trackers& trackers, std::string& error) {
  if (options.face) {
    trackers.face = std::make_unique<FaceTracker>();
    if (!trackers.face->load(options.models_dir + "/face", error)) return false;
  }
  if (options.hands) {
    trackers.hands = std::make_unique<HandTracker>();
    const char* set = options.lite ? "/hand-lite" : "/hand";
    if (!trackers.hands->load(options.models_dir + set, error)) return false;
  }
  return true;
}

void reset_trackers(Trackers& trackers) {
  if (trackers.face) trackers.face->tracking = false;
  if (trackers.hands) {
    trackers.hands->regions.clear();
    trackers.hands->frames_since_detection = 0;
  }
}

FrameRecord track_file(Trackers& trackers, const std::string& path, float fov, Image& image) {
  FrameRecord record;
  record.name = file_name(path);
  record.decoded = load_image(path, image);
  if (!record.decoded) return record;
  record.width = image.width;
  record.height = image.height;
  if (trackers.face) record.face = track_face(*trackers.face, image, fov);
  if (trackers.hands) record.hands = track_hands(*trackers.hands, image);
  return record;
}
