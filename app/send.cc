#include "app/send.h"

#include <sys/socket.h>

void send_datagram(const BridgeState& state, const wire::Bytes& datagram) {
  (void)sendto(state.socket, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&state.host_address), sizeof state.host_address);
}
