#include "tools/track/frame_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace {

bool has_frame_suffix(const std::string& name) {
  auto ends_with = [&](const std::string& suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with(".jpg") || ends_with(".jpeg");
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<std::string> frame_files(const std::string& path) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return {path};
  const std::string prefix = !path.empty() && path.back() == '/' ? path : path + "/";
  std::vector<std::string> files;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (has_frame_suffix(name)) files.push_back(prefix + name);
  }
  // std::string compares as unsigned bytes: the order does not depend on
  // the locale or on the directory's own order.
  std::sort(files.begin(), files.end());
  return files;
}

bool is_frame_directory_of(const std::string& dir, const std::string& path) {
  struct stat d, p;
  if (stat(dir.c_str(), &d) != 0 || stat(path.c_str(), &p) != 0) return false;
  if (!S_ISDIR(p.st_mode)) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    if (stat(parent.c_str(), &p) != 0) return false;
  }
  return d.st_dev == p.st_dev && d.st_ino == p.st_ino;
}

std::string file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string without_extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}
