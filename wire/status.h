#pragma once

#include <cstdint>
#include <string>

#include "wire/header.h"

namespace wire {

constexpr size_t kMaxStatusDocument = 4048;  // so a status datagram fits 4096 bytes

// A status datagram carrying `document` unchanged. Throws
// std::invalid_argument("status bounds") for a document over 4048 bytes.
Bytes status(const Token& token, uint64_t sequence, const std::string& document);

}  // namespace wire
