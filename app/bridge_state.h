#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "inference/inference_model.h"
#include "wire/token.h"

// Sums and counts of one status window, kept by frame processing and the
// face and hand stages; turned into statistics by each running status.
struct StatusWindow {
  int frame_count = 0;
  double inference_ms_sum = 0.0;
  double frame_luma_sum = 0.0;
  int face_frames = 0;
  int faces_found = 0;
  double face_luma_sum = 0.0;
  int hand_count = 0;
  double hand_luma_sum = 0.0;
};

// Everything main keeps from start-up to exit. Every stage reads and writes it.
struct BridgeState {
  // The process that started the bridge (its parent at start-up). The run
  // ends as soon as the parent is another: the host is gone.
  pid_t parent = 0;
  int socket = -1;  // non-blocking UDP socket bound to 127.0.0.1, connected to the host
  sockaddr_in host_address{};  // destination of every datagram, only accepted source
  wire::Token token{};
  uint64_t sequence = 0;  // last number sent; shared by status, face and hands datagrams
  std::string models_root;
  float fov = 60.0f;  // horizontal, degrees
  std::string camera_name;
  int frame_width = 0;
  int frame_height = 0;

  // Statistics of the last status window; -1 means nothing was measured.
  double fps = 0.0;
  double inference_ms = 0.0;
  double frame_luma = -1.0;
  double face_luma = -1.0;
  double hand_luma = -1.0;
  double face_found = -1.0;

  // Every tracker's models, which run one after another, share one arena
  // for their activations. Declared before the trackers, so it outlives them.
  ModelEnvironment models;

  // Loaded at start-up and kept for the whole run, whether or not face
  // tracking is on: the host may switch it on at any time.
  std::unique_ptr<FaceTracker> face_tracker;

  // Loaded lazily in the first pass with hand tracking on, from the set the
  // lite bit selects; replaced when that bit changes.
  std::unique_ptr<HandTracker> hand_tracker;
  uint64_t hand_model_lite = 0;  // the lite bit (4) the present tracker was loaded with

  uint64_t option_bits = 0;
  bool hands_available = false;
  std::string hands_message;

  uint64_t last_control_sequence = 0;
  int64_t last_contact = 0;  // steady clock, ns
  int64_t status_due = 0;
  int64_t window_start = 0;
  StatusWindow window;

  // Frame source: the camera, or in frames mode `frame_files` played in
  // order, over and over.
  bool frames_mode = false;
  Camera camera;
  std::vector<std::string> frame_files;
  uint64_t frame_index = 0;  // frame file reads attempted
};
