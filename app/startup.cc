#include "app/startup.h"

#include <unistd.h>

#include <exception>
#include <new>
#include <string>

#include "app/bridge_state.h"
#include "app/face_stage.h"
#include "app/frame_source.h"
#include "app/hand_stage.h"
#include "app/main_loop.h"
#include "app/models_dir.h"
#include "app/status_report.h"
#include "app/udp_socket.h"

namespace {

constexpr int kExitError = 1;
constexpr int kExitSocket = 3;

// Everything after the socket: state, "starting" status, models, frame
// source, main loop.
int run_with_socket(BridgeState& state, const Settings& settings) {
  hand_stage_start(state);
  send_status(state, "starting", "", "Loading models\xE2\x80\xA6");
  if (!face_stage_start(state)) return kExitError;
  if (!frame_source_start(state, settings)) return kExitError;

  const int status = run_main_loop(state);
  if (status != 0) return status;  // a lost camera ends the process where it was found
  close(state.socket);
  frame_source_stop(state);
  return 0;
}

}  // namespace

int run_bridge(const Settings& settings) {
  const pid_t parent = getppid();
  const std::string models_root =
      settings.models_root.empty() ? default_models_root() : settings.models_root;
  const wire::Token token = *wire::token_from_hex(settings.token);  // validated before

  const sockaddr_in host = loopback_address(settings.port);
  const int fd = open_bridge_socket(host);
  if (fd < 0) return kExitSocket;

  BridgeState state;
  state.parent = parent;
  state.socket = fd;
  state.host_address = host;
  state.token = token;
  state.models_root = models_root;
  state.fov = settings.fov;
  state.frames_mode = !settings.frames_dir.empty();
  state.camera_name = state.frames_mode ? "frames" : settings.device;
  state.option_bits = settings.option_bits;
  // Whatever escapes (memory that start-up or a model load could not have,
  // a fault of ours) still ends as an error the host hears of, with the
  // camera's exposure setting given back, not as an abort.
  std::string failure;
  try {
    return run_with_socket(state, settings);
  } catch (const std::bad_alloc&) {
    failure = "The bridge ran out of memory.";
  } catch (const std::exception& e) {
    failure = std::string("The bridge failed: ") + e.what() + ".";
  } catch (...) {
    failure = "The bridge failed.";
  }
  frame_source_stop(state);
  try {
    send_status(state, "error", "internal_error", failure);
  } catch (...) {
    // Not even the status could be made; the exit status still tells.
  }
  return kExitError;
}
