#pragma once

// The track tool's command line and the frame files its paths name.

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

// The frames of one command-line path: the ".jpg" and ".jpeg" files of a
// directory in byte order of their names, or the path alone when it is not
// a directory (whether it exists is for the reader to find out).
std::vector<std::string> frame_files(const std::string& path);

// True when `dir` is the directory that `path` (a frame directory, or a
// file) reads its frames from: drawings written there could replace frames.
// False when either does not exist.
bool is_frame_directory_of(const std::string& dir, const std::string& path);

// The part of `path` after its last '/'.
std::string file_name(const std::string& path);

// `name` without its last extension ("a.b.jpg" gives "a.b"; a name that
// only starts with a dot keeps it).
std::string without_extension(const std::string& name);
