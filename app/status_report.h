#pragma once

#include <string>

#include "app/bridge_state.h"

// The status JSON document for the current state, with no white space and the
// keys in their fixed order. Never longer than a status datagram allows: when
// the free texts would push it over, the longest of them is shortened (and
// marked with an ellipsis) until it fits.
std::string status_document(const BridgeState& state, const std::string& state_name,
                            const std::string& code, const std::string& message);

// Sends a status datagram with the next sequence number; a failed send is lost.
void send_status(BridgeState& state, const std::string& state_name, const std::string& code,
                 const std::string& message);
