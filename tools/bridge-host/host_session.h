#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/header.h"

// The host's side of the link to one bridge child process: the loopback
// socket it listens on, the token it chose, its control sequence counter.
// Used by the bridge-host tool and by the end-to-end tests.
struct HostSession {
  int socket = -1;
  int port = 0;
  wire::Token token{};
  uint64_t control_sequence = 0;
  pid_t child = -1;
  sockaddr_in bridge_address{};  // learned from the bridge's first datagram
  bool bridge_known = false;
};

// A token from the system's random source, and its 32-digit form.
wire::Token random_token();
std::string token_hex(const wire::Token& token);

// Binds the host socket to 127.0.0.1 on a free port and picks a fresh token.
bool open_host(HostSession& host, std::string& error);

// Starts `bridge_path --port P --token T args...` as a child process.
bool start_bridge(HostSession& host, const std::string& bridge_path,
                  const std::vector<std::string>& args, std::string& error);

// Waits up to `timeout_ms` for one datagram from the bridge.
std::optional<wire::Bytes> receive_datagram(HostSession& host, int timeout_ms);

// Sends a control datagram with the next sequence number; false while the
// bridge's address is not known yet.
bool send_control(HostSession& host, uint16_t type, uint64_t value);

// Sends raw bytes to the bridge from the host socket (tests use it for
// malformed datagrams).
bool send_raw(const HostSession& host, const wire::Bytes& bytes);

// Exit status of the child once it has ended within `timeout_ms`: 0-255, or
// 128 + signal number; -1 while it is still running.
int wait_bridge(HostSession& host, int timeout_ms);

void close_host(HostSession& host);
