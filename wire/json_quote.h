#pragma once

#include <string>

namespace wire {

// The JSON string literal for `text`, quotes included. Works on bytes: quote
// and backslash are escaped with a backslash, bytes below 0x20 as \u00XX
// (lower-case hex), everything else (UTF-8 included) passes unchanged.
std::string json_quote(const std::string& text);

}  // namespace wire
