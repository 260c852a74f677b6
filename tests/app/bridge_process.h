#pragma once

// Helpers for tests that run the real bridge executable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/bridge-host/host_session.h"
#include "tools/bridge-host/json_member.h"

namespace bridge_test {

using Clock = std::chrono::steady_clock;
inline double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

inline std::string bridge_path() { return BRIDGE_BINARY_DIR "/app/bridge"; }
inline std::string shared_models() { return BRIDGE_SHARED_DIR "/models"; }
inline bool have_shared_models() { return access(BRIDGE_SHARED_DIR "/models/face", R_OK) == 0; }
#define SKIP_WITHOUT_MODELS() \
  if (!have_shared_models()) GTEST_SKIP() << "no models at " << shared_models()

// A fresh folder for one test, removed with its object.
struct ScratchDir {
  const std::filesystem::path path;
  explicit ScratchDir(const std::string& name)
      : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
};

inline std::string payload(const wire::Bytes& d) {
  return std::string(d.begin() + std::min(d.size(), wire::kHeaderSize), d.end());
}
inline uint64_t sequence_of(const wire::Bytes& d) { return wire::get_u64(d.data() + 24); }
inline uint16_t type_of(const wire::Bytes& d) { return wire::get_u16(d.data() + 6); }
inline uint64_t value_of(const wire::Bytes& d) { return wire::get_u64(d.data() + 32); }

// The raw text of `key`'s value in a status document ("<missing>" without it).
inline std::string status_text(const wire::Bytes& status, const std::string& key) {
  return json_member(payload(status), key).value_or("<missing>");
}
// The number `key` holds in a status document; -99 without it.
inline double status_number(const wire::Bytes& status, const std::string& key) {
  const std::string text = status_text(status, key);
  return text == "<missing>" ? -99 : std::atof(text.c_str());
}

// A bridge child with a host session around it; killed if the test forgets it.
struct RunningBridge {
  HostSession host;
  ~RunningBridge() { close_host(host); }

  void start(const std::vector<std::string>& args, const std::string& binary = bridge_path()) {
    std::string error;
    ASSERT_TRUE(open_host(host, error)) << error;
    // The child must not inherit the host's socket: it would hold the host's
    // port for as long as it runs.
    ASSERT_EQ(fcntl(host.socket, F_SETFD, FD_CLOEXEC), 0);
    ASSERT_TRUE(start_bridge(host, binary, args, error)) << error;
  }

  // The next status datagram in `state` within `timeout_ms`; others are skipped.
  std::optional<wire::Bytes> next_status(const std::string& state, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      auto d = receive_datagram(host, static_cast<int>(left.count()) + 1);
      if (d && wire::get_u16(d->data() + 6) == wire::kStatus &&
          payload(*d).rfind("{\"state\":\"" + state + "\"", 0) == 0) {
        return d;
      }
    }
    return std::nullopt;
  }
  // Reads and drops everything for `ms`.
  void skip_for(int ms) { next_status("\x01", ms); }
  // A heartbeat every `step_ms` for `seconds`; what arrives is dropped.
  void keep_alive(double seconds, int step_ms) {
    for (const auto start = Clock::now(); seconds_since(start) < seconds; skip_for(step_ms))
      send_control(host, wire::kHeartbeat, 0);
  }

  // Every datagram, heartbeating meanwhile, until `enough` holds for what
  // came so far or `seconds` have passed.
  std::vector<wire::Bytes> record(const std::function<bool(const std::vector<wire::Bytes>&)>& enough,
                                  double seconds = 60) {
    std::vector<wire::Bytes> got;
    for (const auto start = Clock::now(); !enough(got) && seconds_since(start) < seconds;) {
      if (auto d = receive_datagram(host, 50)) got.push_back(*d);
      send_control(host, wire::kHeartbeat, 0);
    }
    return got;
  }
  // Stops the bridge and expects it to end with status 0.
  void stop() {
    send_control(host, wire::kStop, 0);
    EXPECT_EQ(wait_bridge(host, 20000), 0);
  }
};

// How many of `got` are of `type`; the statuses among them in `state`.
inline int count_of(const std::vector<wire::Bytes>& got, uint16_t type) {
  return int(std::count_if(got.begin(), got.end(), [&](const wire::Bytes& d) { return type_of(d) == type; }));
}
inline std::vector<wire::Bytes> statuses_in(const std::vector<wire::Bytes>& got,
                                            const std::string& state) {
  std::vector<wire::Bytes> found;
  std::copy_if(got.begin(), got.end(), std::back_inserter(found), [&](const wire::Bytes& d) {
    return type_of(d) == wire::kStatus && status_text(d, "state") == "\"" + state + "\"";
  });
  return found;
}

// A finished run of the bridge with its captured output.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the bridge with `args` to its end (at most 10 s); its standard output
// goes to `stdout_path` when one is given (and is then not captured).
Finished run_to_end(const std::vector<std::string>& args, const std::string& stdout_path = "");

// Starts `command` (its program looked up in PATH) reading nothing, its
// standard output into `out` and, when `err` is given, its errors there: the
// child's id, or -1 when it cannot start.
pid_t spawn(std::vector<std::string> command, const std::string& out, const std::string& err = "");
// How the child `pid` ended (as wait_bridge tells it), killed if it has not
// within `timeout_ms`.
int wait_child(pid_t pid, int timeout_ms);

// A shell script that runs `command` (e.g. "ulimit -v 163840") and then
// execs the bridge with the arguments it was given, for RunningBridge::start;
// removed with its object.
struct BridgeScript {
  std::string path;
  explicit BridgeScript(const std::string& command);
  ~BridgeScript();
};

// True in a build with AddressSanitizer, whose shadow memory needs more
// address space and stack than the limits some tests set.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace bridge_test
