#include "app/frame_source.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "app/clock.h"
#include "app/status_report.h"
#include "image/load_image.h"

namespace {

constexpr int kCameraTimeoutMs = 100;
constexpr long kFramePauseNs = 33'000'000;

bool has_frame_suffix(const std::string& name) {
  auto ends_with = [&](const std::string& suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return name.size() > 4 && (ends_with(".jpg") || ends_with(".jpeg"));
}

std::vector<std::string> list_frame_files(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return {dir};  // a single file, shown over and over
  std::vector<std::string> files;
  while (const dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (has_frame_suffix(name)) files.push_back(dir + "/" + name);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  return files;
}

// Sleeps the whole pause even when a signal interrupts it; the loop checks
// the stop flag once the frame is done.
void pause_between_frames() {
  timespec rest{0, kFramePauseNs};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

}  // namespace

bool frame_source_start(BridgeState& state, const Settings& settings) {
  if (state.frames_mode) {
    state.frame_files = list_frame_files(settings.frames_dir);
    return true;
  }
  std::string error;
  if (!state.camera.open(settings.device, settings.width, settings.height, error)) {
    send_status(state, "error", "camera_unavailable", error);
    return false;
  }
  state.camera_name = state.camera.name;
  return true;
}

FrameTake take_frame(BridgeState& state, Image& image) {
  if (!state.frames_mode) {
    std::string error;
    if (state.camera.read(image, kCameraTimeoutMs, error)) return FrameTake::kFrame;
    if (error.empty()) return FrameTake::kNone;
    send_status(state, "error", "camera_lost", error);
    return FrameTake::kLost;
  }
  pause_between_frames();
  if (state.frame_files.empty()) return FrameTake::kNone;
  const std::string& path = state.frame_files[state.frame_index % state.frame_files.size()];
  state.frame_index += 1;
  return load_image(path, image) ? FrameTake::kFrame : FrameTake::kNone;
}

void frame_source_stop(BridgeState& state) { state.camera.close(); }
