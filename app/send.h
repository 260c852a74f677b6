#pragma once

#include "app/bridge_state.h"
#include "wire/header.h"

// Sends one datagram to the host. The result is ignored on purpose: a
// datagram that cannot be sent is simply lost, as UDP would lose it.
void send_datagram(const BridgeState& state, const wire::Bytes& datagram);
