#pragma once

// What every tracking benchmark reports with its figures: timings are only
// comparable on the same processor in the same sitting.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

// The processor's name and whether it has AVX-512, from /proc/cpuinfo: printed
// and added to the benchmark report's context.
inline void describe_processor() {
  std::ifstream in("/proc/cpuinfo");
  std::string model = "unknown", flags;
  for (std::string line; std::getline(in, line);) {
    const std::size_t start = line.find_first_not_of(" \t", line.find(':') + 1);
    const std::string value =
        line.find(':') == std::string::npos || start == std::string::npos ? "" : line.substr(start);
    if (line.rfind("model name", 0) == 0 && model == "unknown") model = value;
    if (line.rfind("flags", 0) == 0 && flags.empty()) flags = " " + value + " ";
  }
  const bool avx512 = flags.find(" avx512f ") != std::string::npos;
  std::printf("processor: %s, avx512f %s\n", model.c_str(), avx512 ? "yes" : "no");
  benchmark::AddCustomContext("processor", model);
  benchmark::AddCustomContext("avx512f", avx512 ? "yes" : "no");
}

// Medians over five repetitions, in milliseconds.
inline void repeat(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}
