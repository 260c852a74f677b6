#pragma once

#include <string>
#include <utility>
#include <vector>

// One capture device the bridge could use.
struct CameraInfo {
  std::string path;                        // "/dev/videoN", usable as --device
  std::string name;                        // the card name
  std::vector<std::pair<int, int>> sizes;  // distinct discrete MJPEG/YUYV sizes, ascending
};

// The /dev/video* devices that can stream MJPEG or YUYV at a fixed size, in
// path order (shorter first, so video2 precedes video10). Never fails: what
// cannot be opened or queried is left out. Only queries; never streams.
std::vector<CameraInfo> list_cameras();

// Path order: a shorter path first, equal lengths in byte order.
void sort_camera_paths(std::vector<std::string>& paths);

// Ascending by width, then height, each size once (a camera offering a size
// in both MJPEG and YUYV lists it once).
void sort_camera_sizes(std::vector<std::pair<int, int>>& sizes);

// {"cameras":[{"path":...,"name":...,"sizes":[[w,h],...]},...]} without white space.
std::string cameras_json(const std::vector<CameraInfo>& cameras);

// cameras_json(list_cameras()).
std::string cameras_json();
