// The bridge: tracks a face and hands from a camera or JPEG files and streams
// the results to the host application that started it, as UDP datagrams on
// the loopback interface.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/startup.h"
#include "app/stop_signal.h"
#include "camera/discovery.h"

int main(int argc, char** argv) {
  install_stop_signals();
  Settings settings;
  // The command line is the only place where failures arrive as exceptions:
  // one line on standard error and status 2, before anything is opened.
  try {
    settings = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (settings.discover) {
      const std::string list = cameras_json() + "\n";
      // A list that did not reach its reader (a full disk, a closed output)
      // is an error, not an empty success.
      if (std::fwrite(list.data(), 1, list.size(), stdout) != list.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Cannot write the camera list: %s.\n", std::strerror(errno));
        return 1;
      }
      return 0;
    }
    validate_settings(settings);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  return run_bridge(settings);
}
