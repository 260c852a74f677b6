#pragma once

// Reading what the real runtime's pipeline reported, one JSON object per
// line, and summarising frame-by-frame differences.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

inline std::vector<nlohmann::json> read_json_lines(const std::filesystem::path& path) {
  std::vector<nlohmann::json> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

// The q-quantile (0..1) of `v` by nearest rank below; 0 for no values.
inline double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}
