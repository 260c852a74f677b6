#pragma once

#include <string>
#include <vector>

inline constexpr char kTrackUsage[] =
    "usage: track [--models DIR] [--fov DEG] [--draw OUTDIR] [--no-face] [--hands [--lite]]\n"
    "             PATH...\n"
    "  PATH: a JPEG file, or a directory whose .jpg/.jpeg files are frames in name order\n"
    "  --models   the folder holding face/, hand/ and hand-lite/ (default: the bridge's models)\n"
    "  --fov      horizontal field of view in degrees, default 60\n"
    "  --draw     write an annotated copy of each frame to OUTDIR/<name>.png\n"
    "  --no-face  do not track the face (it is tracked by default; --face turns it back on)\n"
    "  --hands    track up to two hands as well\n"
    "  --lite     with --hands: the lite hand models (hand-lite/) instead of hand/\n";

// The parsed command line of the track tool.
struct TrackOptions {
  std::string models_dir;  // holds face/, hand/ and hand-lite/
  float fov = 60.0f;       // horizontal, degrees
  std::string draw_dir;    // empty: nothing drawn
  bool face = true;
  bool hands = false;
  bool lite = false;  // the hand models from hand-lite/
  std::vector<std::string> paths;
};

// Parses argv[1..argc). `default_models` is used unless --models is given.
// The face is tracked unless --no-face is given (of --face and --no-face the
// last one counts); hands only with --hands. On a bad command line, which
// includes one that tracks nothing and --lite without --hands, returns false
// with a one-line message.
bool parse_track_options(int argc, const char* const* argv, const std::string& default_models,
                         TrackOptions& options, std::string& error);
