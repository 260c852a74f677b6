#pragma once

#include <string>

// Where the VMC messages go: "[HOST:]PORT", HOST a name or address
// ("[::1]" for an IPv6 one), 127.0.0.1 when left out; PORT 1-65535.
struct VmcAddress {
  std::string host = "127.0.0.1";
  int port = 39539;  // where avatar programs listen by default
};

// False with a message for anything else.
bool parse_vmc_address(const std::string& text, VmcAddress& address, std::string& error);
