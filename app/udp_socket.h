#pragma once

#include <netinet/in.h>

// 127.0.0.1 with `port`.
sockaddr_in loopback_address(int port);

// A UDP socket bound to 127.0.0.1 on a port the system picks, made
// non-blocking; -1 when it cannot be created or bound.
int open_bridge_socket();
