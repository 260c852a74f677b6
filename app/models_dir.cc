#include "app/models_dir.h"

#include <unistd.h>

std::string models_dir_beside(const std::string& executable_path) {
  const size_t slash = executable_path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? executable_path : executable_path.substr(0, slash);
  return dir + "/models";
}

std::string default_models_root() {
  char buffer[4095];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return models_dir_beside(n > 0 ? std::string(buffer, static_cast<size_t>(n)) : ".");
}
