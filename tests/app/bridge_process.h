#pragma once

// Helpers for tests that run the real bridge executable.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tools/bridge-host/host_session.h"
#include "wire/header.h"

namespace bridge_test {

inline std::string bridge_path() { return BRIDGE_BINARY_DIR "/app/bridge"; }
inline std::string shared_models() { return BRIDGE_SHARED_DIR "/models"; }
inline bool have_shared_models() { return access(BRIDGE_SHARED_DIR "/models/face", R_OK) == 0; }

// Payload of a datagram as text.
inline std::string payload(const wire::Bytes& d) {
  return d.size() > wire::kHeaderSize ? std::string(d.begin() + wire::kHeaderSize, d.end()) : "";
}
inline uint16_t type_of(const wire::Bytes& d) { return wire::get_u16(d.data() + 6); }
inline uint64_t sequence_of(const wire::Bytes& d) { return wire::get_u64(d.data() + 24); }
inline bool is_status(const wire::Bytes& d, const std::string& state) {
  return type_of(d) == wire::kStatus &&
         payload(d).rfind("{\"state\":\"" + state + "\"", 0) == 0;
}

// A bridge child with a host session around it; killed if the test forgets it.
struct RunningBridge {
  HostSession host;
  ~RunningBridge() { close_host(host); }

  void start(const std::vector<std::string>& args) {
    std::string error;
    ASSERT_TRUE(open_host(host, error)) << error;
    ASSERT_TRUE(start_bridge(host, bridge_path(), args, error)) << error;
  }

  // The next datagram that satisfies `want`, within `timeout_ms`.
  template <typename Want>
  std::optional<wire::Bytes> next(Want want, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto d = receive_datagram(host, static_cast<int>(left.count()));
      if (d && want(*d)) return d;
    }
  }
  std::optional<wire::Bytes> next_status(const std::string& state, int timeout_ms) {
    return next([&](const wire::Bytes& d) { return is_status(d, state); }, timeout_ms);
  }
};

// A finished run of the bridge with captured output.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the bridge with `args` to its end (it must end within 10 s).
Finished run_to_end(const std::vector<std::string>& args);

}  // namespace bridge_test
