// track [--models DIR] [--fov DEG] [--draw OUTDIR] [--no-face] [--hands [--lite]] PATH...
//
// Runs the trackers in-process over JPEG frames and prints one JSON line per
// frame with what each tracker did inside (detector or followed regions,
// landmarks, pose, blendshapes, hands, timings); with --draw also writes an
// annotated copy of each frame as PNG. Each PATH is its own sequence: a
// still never inherits a region of the one before it. Exit status 0 when every
// frame was read (and drawn), 1 when the models could not be loaded or a
// frame could not be read or drawn, 2 on a bad command line, which includes
// a --draw folder that frames are read from (drawings would replace them).
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "image/image.h"
#include "tools/track/annotate.h"
#include "tools/track/canvas.h"
#include "tools/track/json.h"
#include "tools/track/options.h"
#include "tools/track/tracking.h"

int main(int argc, char** argv) {
  TrackOptions options;
  std::string error;
  if (!parse_track_options(argc, argv, BRIDGE_MODELS_DIR, options, error)) {
    std::fprintf(stderr, "track: %s\n%s", error.c_str(), kTrackUsage);
    return 2;
  }
  for (const std::string& path : options.paths) {
    if (!options.draw_dir.empty() && is_frame_directory_of(options.draw_dir, path)) {
      std::fprintf(stderr, "track: --draw %s would write over the frames of %s\n",
                   options.draw_dir.c_str(), path.c_str());
      return 2;
    }
  }
  Trackers trackers;
  if (!load_trackers(options, trackers, error)) {
    std::fprintf(stderr, "track: %s\n", error.c_str());
    return 1;
  }
  if (!options.draw_dir.empty() && mkdir(options.draw_dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "track: cannot create %s.\n", options.draw_dir.c_str());
    return 1;
  }

  bool all_well = true;
  Image image;
  for (const std::string& path : options.paths) {
    reset_trackers(trackers);
    const std::vector<std::string> files = frame_files(path);
    if (files.empty()) {
      std::fprintf(stderr, "track: no .jpg or .jpeg files in %s.\n", path.c_str());
      all_well = false;
    }
    for (const std::string& file : files) {
      const FrameRecord record = track_file(trackers, file, options.fov, image);
      std::printf("%s\n", frame_json_line(record).c_str());
      std::fflush(stdout);
      all_well = all_well && record.decoded;
      if (options.draw_dir.empty() || !record.decoded) continue;
      const std::string out = options.draw_dir + "/" + without_extension(record.name) + ".png";
      if (!write_png(out, draw_frame(image, record), error)) {
        std::fprintf(stderr, "track: %s\n", error.c_str());
        all_well = false;
      }
    }
  }
  return all_well ? 0 : 1;
}
