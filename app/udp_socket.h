#pragma once

#include <netinet/in.h>

// 127.0.0.1 with `port`.
sockaddr_in loopback_address(int port);

// A UDP socket bound to 127.0.0.1 on a port the system picks, connected to
// `host` and made non-blocking; -1 when it cannot be created, bound or
// connected. Being connected, it receives datagrams from `host` only: the
// kernel drops those of any other local program before they take room in
// the receive queue, so no flood can crowd out the host's heartbeats. The
// price is that a connected socket reports the host's port being closed
// (while the host restarts) as ECONNREFUSED on a later receive or send.
int open_bridge_socket(const sockaddr_in& host);
