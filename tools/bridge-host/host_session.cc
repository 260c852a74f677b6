#include "tools/bridge-host/host_session.h"

#include <arpa/inet.h>
#include <poll.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "wire/control.h"

extern char** environ;

wire::Token random_token() {
  wire::Token t{};
  size_t got = 0;
  while (got < t.size()) {
    const ssize_t n = getrandom(t.data() + got, t.size() - got, 0);
    if (n > 0) got += static_cast<size_t>(n);
  }
  return t;
}

std::string token_hex(const wire::Token& token) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (const uint8_t b : token) {
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 0xF]);
  }
  return s;
}

bool open_host(HostSession& host, std::string& error) {
  host.socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (host.socket < 0) {
    error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (bind(host.socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(host.socket, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    error = std::string("cannot bind a loopback UDP port: ") + std::strerror(errno);
    return false;
  }
  host.port = ntohs(a.sin_port);
  host.token = random_token();
  return true;
}

bool start_bridge(HostSession& host, const std::string& bridge_path,
                  const std::vector<std::string>& args, std::string& error) {
  std::vector<std::string> argv_text = {bridge_path, "--port", std::to_string(host.port),
                                        "--token", token_hex(host.token)};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_text) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int r = posix_spawn(&host.child, bridge_path.c_str(), nullptr, nullptr, argv.data(), environ);
  if (r != 0) {
    host.child = -1;
    error = "cannot start " + bridge_path + ": " + std::strerror(r);
    return false;
  }
  return true;
}

std::optional<wire::Bytes> receive_datagram(HostSession& host, int timeout_ms) {
  pollfd p{host.socket, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
  wire::Bytes buffer(65536);
  sockaddr_in source{};
  socklen_t size = sizeof source;
  const ssize_t n = recvfrom(host.socket, buffer.data(), buffer.size(), 0,
                             reinterpret_cast<sockaddr*>(&source), &size);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  host.bridge_address = source;
  host.bridge_known = true;
  return buffer;
}

bool send_raw(const HostSession& host, const wire::Bytes& bytes) {
  if (!host.bridge_known) return false;
  return sendto(host.socket, bytes.data(), bytes.size(), 0,
                reinterpret_cast<const sockaddr*>(&host.bridge_address),
                sizeof host.bridge_address) == static_cast<ssize_t>(bytes.size());
}

bool send_control(HostSession& host, uint16_t type, uint64_t value) {
  host.control_sequence += 1;
  return send_raw(host, wire::control(host.token, host.control_sequence, type, value));
}

int wait_bridge(HostSession& host, int timeout_ms) {
  if (host.child < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(host.child, &status, WNOHANG);
    if (r == host.child) {
      host.child = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (r < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void close_host(HostSession& host) {
  if (host.child > 0) {
    kill(host.child, SIGKILL);
    waitpid(host.child, nullptr, 0);
    host.child = -1;
  }
  if (host.socket >= 0) close(host.socket);
  host.socket = -1;
}
