// bridge-host: a reference host for the bridge. Starts the bridge as a child
// with a fresh token and its own loopback port, keeps it alive with a
// heartbeat every second, forwards option changes typed on standard input,
// and shows what it receives. On a terminal that is one line a second (frame
// rate, the head's angles, the strongest blendshapes, the hands seen, the
// inference time) and, with --summary, a summary in words at the end.
// Otherwise, or with --json, every datagram is one JSON line; with --summary, a
// last line {"summary":{"frames":N,"faces_found":M,"hand_frames":F,"hands":H,
// "median_inference_ms":X}} tells how many face datagrams came, how many had
// a face, how many hands datagrams came, how many hands they held in all, and
// the median of the "inference_ms" of the running statuses whose window had
// frames (X null when none did).
//
//   bridge-host [--bridge PATH] [--seconds N] [--summary] [--json] [bridge options...]
//
// Bridge options forwarded: --frames DIR, --device PATH, --models DIR,
// --fov DEG, --width N, --height N, --face, --hands, --hands-lite.
// Standard input: "options N" (0-7), "heartbeat", "stop". Ctrl-C or the end
// of input (without --seconds) sends a stop and waits for the bridge.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "tools/bridge-host/datagram_json.h"
#include "tools/bridge-host/host_session.h"
#include "tools/bridge-host/live_view.h"
#include "tools/bridge-host/run_summary.h"
#include "tools/bridge-host/vmc_relay.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

struct Options {
  std::string bridge = BRIDGE_EXECUTABLE;
  double seconds = 0;  // 0: until Ctrl-C or end of input
  bool summary = false;
  bool json = !isatty(STDOUT_FILENO);  // lines a second only for a person
  std::vector<std::string> bridge_args;
  bool vmc = false;
  VmcAddress vmc_address;
  VmcSettings vmc_settings;
};

int usage(const std::string& why) {
  std::fprintf(stderr,
               "bridge-host: %s\nusage: bridge-host [--bridge PATH] [--seconds N] [--summary] [--json] "
               "[--vmc [[HOST:]PORT]] [--vmc-unmirrored] [--vmc-raw] "
               "[--frames DIR] [--device PATH] [--models DIR] [--fov DEG] [--width N] [--height N] "
               "[--face] [--hands] [--hands-lite]\n",
               why.c_str());
  return 2;
}

bool parse(int argc, char** argv, Options& o, std::string& error) {
  const std::set<std::string> flags = {"--face", "--hands", "--hands-lite"};
  const std::set<std::string> values = {"--frames", "--device", "--models", "--fov", "--width",
                                        "--height"};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (flags.count(a)) {
      o.bridge_args.push_back(a);
    } else if (a == "--summary") {
      o.summary = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--vmc") {
      o.vmc = true;
      if (i + 1 < argc && argv[i + 1][0] != '-' && !parse_vmc_address(argv[++i], o.vmc_address, error))
        return false;
    } else if (a == "--vmc-unmirrored") {
      o.vmc_settings.mirrored = false;
    } else if (a == "--vmc-raw") {
      o.vmc_settings.smoothing = false;
    } else if (i + 1 >= argc) {
      error = "missing value or unknown option: " + a;
      return false;
    } else if (a == "--bridge") {
      o.bridge = argv[++i];
    } else if (a == "--seconds") {
      o.seconds = std::atof(argv[++i]);
    } else if (values.count(a)) {
      o.bridge_args.push_back(a);
      o.bridge_args.push_back(argv[++i]);
    } else {
      error = "unknown option: " + a;
      return false;
    }
  }
  const VmcSettings defaults;
  if (!o.vmc && (o.vmc_settings.mirrored != defaults.mirrored ||
                 o.vmc_settings.smoothing != defaults.smoothing)) {
    error = "--vmc-unmirrored and --vmc-raw go with --vmc";
    return false;
  }
  // An avatar wants the face and the fingers.
  if (o.vmc) {
    for (const char* flag : {"--face", "--hands"})
      if (std::find(o.bridge_args.begin(), o.bridge_args.end(), flag) == o.bridge_args.end())
        o.bridge_args.push_back(flag);
  }
  return true;
}

// Applies one line typed by the user; false for the end of the session.
bool apply_line(HostSession& host, const std::string& line) {
  if (line == "stop") return false;
  if (line == "heartbeat") {
    send_control(host, wire::kHeartbeat, 0);
  } else if (line.rfind("options ", 0) == 0) {
    send_control(host, wire::kOptions, std::strtoull(line.c_str() + 8, nullptr, 10));
  } else if (!line.empty()) {
    std::fprintf(stderr, "bridge-host: type \"options N\" (0-7), \"heartbeat\" or \"stop\"\n");
  }
  return true;
}

// What the host shows: every datagram as JSON, or a line a second.
struct Display {
  bool json = true;
  RunSummary summary;
  LiveView view;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double next_line = 1.0;  // seconds since start
  VmcRelay* vmc = nullptr;  // set with --vmc
};

// Prints a datagram as its JSON line, or keeps it for the next view line,
// and counts it into the summary.
void show(const wire::Bytes& datagram, Display& display) {
  if (display.json) std::printf("%s\n", datagram_json(datagram).c_str());
  else add_to_view(display.view, datagram);
  add_to_summary(display.summary, datagram);
  if (display.vmc) relay_datagram(*display.vmc, datagram);
}

// A view line once a second.
void tick(Display& display) {
  if (display.json) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - display.start).count();
  if (seconds < display.next_line) return;
  std::printf("%s\n", view_line(display.view, seconds).c_str());
  std::fflush(stdout);
  display.next_line = std::floor(seconds) + 1.0;
}

// Drains what the bridge sent before it ended, then the summary if asked.
void finish(HostSession& host, Display& display, const Options& options) {
  while (auto d = receive_datagram(host, 0)) show(*d, display);
  if (display.vmc) {
    VmcRelay& vmc = *display.vmc;
    flush_relay(vmc);
    float median_us = 0, p90_us = 0;
    relay_frame_cost(vmc, median_us, p90_us);
    std::fprintf(stderr,
                 "bridge-host: VMC: %ld frames to %s port %d (%ld not sent); converting and sending "
                 "a frame took %.1f us (median), %.1f us (90th percentile)\n",
                 vmc.frames, options.vmc_address.host.c_str(), options.vmc_address.port,
                 vmc.sender.failed, median_us, p90_us);
    close_vmc(vmc.sender);
  }
  if (options.summary)
    std::printf("%s\n", display.json ? summary_json(display.summary).c_str()
                                     : ("summary: " + summary_text(display.summary)).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse(argc, argv, options, error)) return usage(error);
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  std::signal(SIGPIPE, SIG_IGN);

  VmcRelay vmc;
  if (options.vmc) {
    vmc.state = make_vmc_state(options.vmc_settings);
    if (!open_vmc(vmc.sender, options.vmc_address, error)) {
      std::fprintf(stderr, "bridge-host: %s\n", error.c_str());
      return 1;
    }
  }

  HostSession host;
  if (!open_host(host, error) || !start_bridge(host, options.bridge, options.bridge_args, error)) {
    std::fprintf(stderr, "bridge-host: %s\n", error.c_str());
    close_vmc(vmc.sender);
    return 1;
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto next_heartbeat = start;
  bool input_open = true;
  bool session_on = true;
  std::string pending;
  Display display;
  display.json = options.json;
  if (options.vmc) display.vmc = &vmc;
  int status = -1;
  while (session_on && !interrupted) {
    if (options.seconds > 0 &&
        Clock::now() - start >= std::chrono::duration<double>(options.seconds)) {
      break;
    }
    if (Clock::now() >= next_heartbeat) {
      send_control(host, wire::kHeartbeat, 0);
      next_heartbeat += std::chrono::seconds(1);
    }
    pollfd fds[2] = {{host.socket, POLLIN, 0}, {input_open ? 0 : -1, POLLIN, 0}};
    if (poll(fds, 2, 50) > 0) {
      if (fds[0].revents & POLLIN) {
        if (auto d = receive_datagram(host, 0)) show(*d, display);
        if (display.json) std::fflush(stdout);
      }
      if (fds[1].revents & (POLLIN | POLLHUP)) {
        char buf[256];
        const ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) {
          input_open = false;
          if (options.seconds <= 0) session_on = false;
        } else {
          pending.append(buf, static_cast<size_t>(n));
          for (size_t nl; session_on && (nl = pending.find('\n')) != std::string::npos;) {
            session_on = apply_line(host, pending.substr(0, nl));
            pending.erase(0, nl + 1);
          }
        }
      }
    }
    tick(display);
    status = wait_bridge(host, 0);
    if (status >= 0) {
      std::fprintf(stderr, "bridge-host: the bridge ended by itself with status %d\n", status);
      finish(host, display, options);
      close_host(host);
      return status == 0 ? 0 : 1;
    }
  }

  send_control(host, wire::kStop, 0);
  status = wait_bridge(host, 5000);
  finish(host, display, options);
  if (status < 0) {
    std::fprintf(stderr, "bridge-host: the bridge did not stop within 5 s; killed\n");
    close_host(host);
    return 1;
  }
  std::fprintf(stderr, "bridge-host: the bridge exited with status %d\n", status);
  close_host(host);
  return status == 0 ? 0 : 1;
}
