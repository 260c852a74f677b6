#pragma once

#include <string>
#include <vector>

inline constexpr char kTrackUsage[] =
    "usage: track [--models DIR] [--fov DEG] [--draw OUTDIR] [--face] PATH...\n"
    "  PATH: a JPEG file, or a directory whose .jpg/.jpeg files are frames in name order\n"
    "  --models  the folder holding face/ (default: the bridge's models)\n"
    "  --fov     horizontal field of view in degrees, default 60\n"
    "  --draw    write an annotated copy of each frame to OUTDIR/<name>.jpg\n"
    "  --face    track the face (the default when no part is named)\n";

// The parsed command line of the track tool.
struct TrackOptions {
  std::string models_dir;  // holds face/
  float fov = 60.0f;       // horizontal, degrees
  std::string draw_dir;    // empty: nothing drawn
  bool face = false;
  std::vector<std::string> paths;
};

// Parses argv[1..argc). `default_models` is used unless --models is given.
// Face tracking is on when --face is given or no tracking part is named. On
// a bad command line returns false with a one-line message.
bool parse_track_options(int argc, const char* const* argv, const std::string& default_models,
                         TrackOptions& options, std::string& error);
