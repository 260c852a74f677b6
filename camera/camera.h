#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"

struct v4l2_buffer;

// One Video4Linux2 capture device, memory-mapped and streaming, that hands out
// the newest frame the driver holds, decoded to RGB. Owns its descriptor and
// its mappings; close() releases them and the destructor calls it.
class Camera {
 public:
  struct Buffer {
    void* start = nullptr;  // the driver's mapping, owned by the camera
    uint64_t length = 0;
  };

  Camera() = default;
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  // Negotiates MJPEG, else YUYV, at the driver's size nearest to the request,
  // asks for 30 frames per second, turns exposure priority off while open and
  // starts streaming. On failure `error` holds the reason and the camera is closed.
  bool open(const std::string& device, int width, int height, std::string& error);

  // Waits at most `timeout_ms` and decodes the newest frame into `image`,
  // handing older ones back undecoded. False with an empty `error`: no frame
  // this time. False with a message: the camera is lost.
  bool read(Image& image, int timeout_ms, std::string& error);

  // Stops streaming, restores exposure priority, unmaps and closes. Safe at
  // any time and repeatedly.
  void close();

  int fd = -1;  // -1 when closed
  bool mjpeg = false;
  bool streaming = false;
  int saved_exposure_priority = -1;
  int width = 0;
  int height = 0;
  std::string name;             // the card name, known once open succeeded
  std::vector<Buffer> buffers;  // in driver index order

 private:
  // Decodes the dequeued buffer `held` into `image`; false for a frame that
  // is empty, too short for its size, or not decodable.
  bool decode_held(const v4l2_buffer& held, Image& image) const;
  // Sets the lost-camera message and returns false.
  bool lost(std::string& error) const;
};
