#include "tools/track/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

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

namespace {

bool has_frame_suffix(const std::string& name) {
  auto ends_with = [&](const std::string& suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with(".jpg") || ends_with(".jpeg");
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<std::string> frame_files(const std::string& path) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return {path};
  const std::string prefix = !path.empty() && path.back() == '/' ? path : path + "/";
  std::vector<std::string> files;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (has_frame_suffix(name)) files.push_back(prefix + name);
  }
  // std::string compares as unsigned bytes: the order does not depend on
  // the locale or on the directory's own order.
  std::sort(files.begin(), files.end());
  return files;
}

bool is_frame_directory_of(const std::string& dir, const std::string& path) {
  struct stat d, p;
  if (stat(dir.c_str(), &d) != 0 || stat(path.c_str(), &p) != 0) return false;
  if (!S_ISDIR(p.st_mode)) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    if (stat(parent.c_str(), &p) != 0) return false;
  }
  return d.st_dev == p.st_dev && d.st_ino == p.st_ino;
}

std::string file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string without_extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}
