#include "app/settings.h"

#include <cmath>
#include <stdexcept>

#include "wire/header.h"
#include "wire/token.h"

namespace {

constexpr const char* kPortTokenRequired = "Port and 32-digit token required";
constexpr const char* kInvalidCamera = "Invalid camera size, field of view or device";

bool apply_flag(const std::string& arg, Settings& s) {
  if (arg == "--discover") {
    s.discover = true;
  } else if (arg == "--face") {
    s.option_bits |= wire::kFaceBit;
  } else if (arg == "--hands") {
    s.option_bits |= wire::kHandsBit;
  } else if (arg == "--hands-lite") {
    s.option_bits |= wire::kLiteBit;
  } else {
    return false;
  }
  return true;
}

// std::stoi and std::stof throw with their own name as the message, which is
// exactly what the command line reports.
bool apply_value(const std::string& arg, const std::string& value, Settings& s) {
  if (arg == "--port") {
    s.port = std::stoi(value);
  } else if (arg == "--token") {
    s.token = value;
  } else if (arg == "--device") {
    s.device = value;
  } else if (arg == "--width") {
    s.width = std::stoi(value);
  } else if (arg == "--height") {
    s.height = std::stoi(value);
  } else if (arg == "--frames") {
    s.frames_dir = value;
  } else if (arg == "--models") {
    s.models_root = value;
  } else if (arg == "--fov") {
    s.fov = std::stof(value);
  } else {
    return false;
  }
  return true;
}

}  // namespace

Settings parse_command_line(const std::vector<std::string>& args) {
  if (args.empty()) throw std::invalid_argument(kPortTokenRequired);
  Settings s;
  for (size_t i = 0; i < args.size();) {
    const std::string& arg = args[i];
    if (apply_flag(arg, s)) {
      i += 1;
      continue;
    }
    // A value is taken verbatim, even when it looks like an option itself.
    if (i + 1 == args.size() || !apply_value(arg, args[i + 1], s)) {
      throw std::invalid_argument("Unknown/missing argument: " + arg);
    }
    i += 2;
  }
  return s;
}

void validate_settings(const Settings& s) {
  if (s.port < 1 || s.port > 65535) throw std::invalid_argument(kPortTokenRequired);
  if (!wire::token_from_hex(s.token)) throw std::invalid_argument(kPortTokenRequired);
  const bool size_ok = s.width >= 64 && s.width <= 4096 && s.height >= 64 && s.height <= 4096;
  const bool fov_ok = s.fov >= 20.0f && s.fov <= 150.0f;  // false for NaN
  if (!size_ok || !fov_ok || s.device.size() > 256) throw std::invalid_argument(kInvalidCamera);
}
