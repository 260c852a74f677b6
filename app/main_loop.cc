#include "app/main_loop.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "app/clock.h"
#include "app/face_stage.h"
#include "app/frame_source.h"
#include "app/hand_stage.h"
#include "app/process_frame.h"
#include "app/status_report.h"
#include "app/stop_signal.h"
#include "wire/control.h"

namespace {

constexpr int64_t kLivenessLimitNs = 3'000'000'000;
constexpr int64_t kStatusPeriodNs = 1'000'000'000;
constexpr int kControlsPerPass = 64;
constexpr size_t kReceiveBuffer = 64;

bool from_host(const BridgeState& state, const sockaddr_in& source) {
  return source.sin_family == AF_INET &&
         source.sin_addr.s_addr == state.host_address.sin_addr.s_addr &&
         source.sin_port == state.host_address.sin_port;
}

void apply_option_bits(BridgeState& state, uint64_t bits, int64_t now) {
  state.option_bits = bits;
  face_stage_options_changed(state);
  hand_stage_options_changed(state);
  state.status_due = now;  // this pass reports the change
}

}  // namespace

bool host_gone(const BridgeState& state) {
  // Not the parent-death signal: it fires when the thread that started the
  // bridge ends, and a host may start it from a thread that ends while the
  // host lives on. The parent process id changes only when the process is
  // gone (the bridge is then handed to a reaper).
  return getppid() != state.parent;
}

void drain_control(BridgeState& state, int64_t now) {
  uint8_t buffer[kReceiveBuffer];
  for (int i = 0; i < kControlsPerPass; ++i) {
    sockaddr_in source{};
    socklen_t source_size = sizeof source;
    const ssize_t n = recvfrom(state.socket, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&source), &source_size);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // nothing pending
    // Any other failure (ECONNREFUSED: the connected socket learnt that the
    // host's port was closed for a moment) reports a past event and clears
    // it; the datagrams behind it are still to be read.
    if (n < 0) continue;
    // The socket is connected to the host, so the kernel already drops
    // everyone else's datagrams; the check stays as the rule itself.
    if (!from_host(state, source)) continue;
    const auto control = wire::decode_control(wire::Bytes(buffer, buffer + n), state.token);
    if (!control || control->sequence <= state.last_control_sequence) continue;
    if (control->type == wire::kStop) {
      stopped = 1;
    } else if (control->type == wire::kOptions && control->value != state.option_bits) {
      apply_option_bits(state, control->value, now);
    }
    state.last_control_sequence = control->sequence;
    state.last_contact = now;
  }
}

void send_running_status(BridgeState& state, int64_t now) {
  const StatusWindow& w = state.window;
  const double elapsed = static_cast<double>(now - state.window_start) / 1e9;
  state.fps = elapsed > 0 ? w.frame_count / elapsed : 0.0;
  state.inference_ms = w.frame_count ? w.inference_ms_sum / w.frame_count : 0.0;
  state.frame_luma = w.frame_count ? w.frame_luma_sum / w.frame_count : -1.0;
  state.face_found = w.face_frames ? static_cast<double>(w.faces_found) / w.face_frames : -1.0;
  state.face_luma = w.faces_found ? w.face_luma_sum / w.faces_found : -1.0;
  state.hand_luma = w.hand_count ? w.hand_luma_sum / w.hand_count : -1.0;
  send_status(state, "running", "", "");
  state.window = {};
  state.window_start = now;
  state.status_due = now + kStatusPeriodNs;
}

int run_main_loop(BridgeState& state) {
  const int64_t start = steady_now_ns();
  state.last_contact = start;
  state.status_due = start;
  state.window_start = start;
  Image image;
  while (!stopped) {
    const int64_t now = steady_now_ns();
    // The waiting control datagrams are read before liveness is judged: a
    // host whose heartbeats queued up behind a long frame is alive.
    drain_control(state, now);
    if (stopped || now - state.last_contact > kLivenessLimitNs || host_gone(state)) break;
    if (hand_stage_load(state) || now >= state.status_due) send_running_status(state, now);
    try {
      const FrameTake take = take_frame(state, image);
      if (take == FrameTake::kLost) return 1;
      if (take == FrameTake::kFrame) process_frame(state, image);
    } catch (const std::bad_alloc&) {
      // Memory that one frame needed and could not have costs that frame
      // only; the next may be smaller, or the memory free again.
    }
  }
  return 0;
}
