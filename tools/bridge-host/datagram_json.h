#pragma once

#include <string>

#include "wire/header.h"

// One line of JSON describing a datagram from the bridge: its header fields
// and, for a status, the document as an object. Malformed datagrams are
// described as such, never trusted.
std::string datagram_json(const wire::Bytes& datagram);
