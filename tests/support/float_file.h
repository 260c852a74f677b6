#pragma once

#include <filesystem>
#include <fstream>
#include <vector>

// A raw little-endian float32 file as written by the reference runtime and by
// model-run; empty when the file cannot be read.
inline std::vector<float> read_floats(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<float> v(in ? static_cast<size_t>(in.tellg()) / sizeof(float) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(float)));
  return v;
}
