#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace wire {

// The 16 bytes the host chooses, copied into every datagram and compared on
// every control datagram.
using Token = std::array<uint8_t, 16>;

// Parses the 32-hexadecimal-digit form (either case, no prefix, no white
// space); empty when the text is anything else.
std::optional<Token> token_from_hex(const std::string& text);

}  // namespace wire
