#include "app/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in loopback_address(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int open_bridge_socket(const sockaddr_in& host) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  const sockaddr_in local = loopback_address(0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<const sockaddr*>(&host), sizeof host) != 0) {
    close(fd);
    return -1;
  }
  (void)fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}
