#pragma once

// The files tracker tests read: pictures, and a scratch copy of a models
// folder (links to the real files, any of which a test replaces with bytes of
// its own or removes).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/load_image.h"

// The shared folder: models, frames, photographs and what the real runtime reported.
inline const std::filesystem::path kShared = BRIDGE_SHARED_DIR;

inline Image picture(const std::filesystem::path& path) {
  Image image;
  EXPECT_TRUE(load_image(path.string(), image)) << path;
  return image;
}

struct ModelsCopy {
  explicit ModelsCopy(const std::filesystem::path& from) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    for (const auto& file : std::filesystem::directory_iterator(from))
      std::filesystem::create_symlink(file.path(), dir / file.path().filename());
  }
  ~ModelsCopy() { std::filesystem::remove_all(dir); }
  void replace(const std::string& file, const std::vector<uint8_t>& bytes) const {
    std::filesystem::remove(dir / file);
    std::ofstream(dir / file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  // Loads `tracker` from the copy: the error message, empty when it loaded.
  template <typename Tracker>
  std::string load(Tracker& tracker) const {
    std::string error;
    const bool loaded = tracker.load(dir.string(), error);
    EXPECT_EQ(loaded, error.empty()) << error;
    return error;
  }
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("models_copy_" + std::to_string(::getpid()));
};
