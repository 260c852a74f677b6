#include "tools/track/track_options.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

bool parse_fov(const char* text, float& fov) {
  const char* end = text + std::strlen(text);
  const auto r = std::from_chars(text, end, fov);
  // Beyond these the vertical field of view is not a real angle.
  return r.ec == std::errc() && r.ptr == end && fov > 0.0f && fov < 180.0f;
}

}  // namespace

bool parse_track_options(int argc, const char* const* argv, const std::string& default_models,
                         TrackOptions& options, std::string& error) {
  options = TrackOptions{};
  options.models_dir = default_models;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--models" || arg == "--fov" || arg == "--draw";
    if (takes_value && i + 1 >= argc) {
      error = arg + " needs a value";
      return false;
    }
    if (arg == "--models") {
      options.models_dir = argv[++i];
    } else if (arg == "--fov") {
      if (!parse_fov(argv[++i], options.fov)) {
        error =
            std::string("--fov must be a number of degrees above 0 and below 180, not ") + argv[i];
        return false;
      }
    } else if (arg == "--draw") {
      options.draw_dir = argv[++i];
    } else if (arg == "--face" || arg == "--no-face") {
      options.face = arg == "--face";
    } else if (arg == "--hands") {
      options.hands = true;
    } else if (arg == "--lite") {
      options.lite = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      options.paths.push_back(arg);
    }
  }
  if (options.paths.empty()) {
    error = "no PATH given";
    return false;
  }
  if (!options.face && !options.hands) {
    error = "nothing to track: --no-face without --hands";
    return false;
  }
  if (options.lite && !options.hands) {
    // Silently tracking no hands would look like a set that finds none.
    error = "--lite chooses the hand models and needs --hands";
    return false;
  }
  return true;
}
