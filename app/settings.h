#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The parsed command line. Defaults are what a bare `--port P --token T` runs with.
struct Settings {
  int port = 0;
  std::string token;
  std::string device = "/dev/video0";
  int width = 640;
  int height = 480;
  std::string frames_dir;   // empty: camera mode
  std::string models_root;  // empty: "models" next to the executable
  float fov = 60.0f;        // horizontal field of view, degrees
  bool discover = false;
  uint64_t option_bits = 0;  // face 1, hands 2, lite 4
};

// Walks the arguments after the program name. Throws a standard exception
// whose message is the one line to print: "Unknown/missing argument: X",
// "stoi", "stof" or "Port and 32-digit token required".
Settings parse_command_line(const std::vector<std::string>& args);

// Checks port, token, frame size, field of view and device length, in that
// order; throws with the message of the first failing check.
void validate_settings(const Settings& settings);
