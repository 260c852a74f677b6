// model-bench MODEL [MODEL ...] [--runs N] [--profile | --layers] [--compare]
//
// Loads and compiles every MODEL for the CPU into one environment, as the
// bridge does (printing the time this took, the process's resident memory
// once all are loaded and the kernel family the convolutions use), then for
// each runs it a few times to warm up and N times (default 50) on constant
// inputs, and prints the median, minimum and maximum milliseconds per run.
// With --profile it also prints each operator
// type's share of the time, with --layers each step's (in execution order,
// with the shapes it writes and reads). BRIDGE_KERNELS=avx2 or =plain in the environment
// makes the runtime use a lower kernel family than the processor's best.
//
// --compare compiles each model once per vector family the processor runs
// (AVX2, AVX-512) and runs them in turn, one run of each per round, so that
// a shared, noisy machine slows them alike; it prints each family's median
// and minimum and the ratios of the AVX2 times to the widest family's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "runtime/kernels/kernel_family.h"
#include "runtime/litert.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Handles {
  LiteRtEnvironment env = nullptr;
  bool owns_env = true;
  LiteRtModel model = nullptr;
  LiteRtCompiledModel compiled = nullptr;
  std::vector<LiteRtTensorBuffer> inputs, outputs;
  std::vector<std::vector<float>> arrays;
  ~Handles() {
    for (auto b : inputs) LiteRtDestroyTensorBuffer(b);
    for (auto b : outputs) LiteRtDestroyTensorBuffer(b);
    LiteRtDestroyCompiledModel(compiled);
    LiteRtDestroyModel(model);
    if (owns_env) LiteRtDestroyEnvironment(env);
  }
};

bool bind(LiteRtTensor tensor, Handles& h, std::vector<LiteRtTensorBuffer>& into) {
  LiteRtRankedTensorType type{};
  if (LiteRtGetRankedTensorType(tensor, &type) != kLiteRtStatusOk) return false;
  size_t count = 1;
  for (uint32_t i = 0; i < type.layout.rank; ++i) {
    type.layout.dimensions[i] = std::max(type.layout.dimensions[i], 1);
    count *= static_cast<size_t>(type.layout.dimensions[i]);
  }
  h.arrays.emplace_back(count, 0.5f);
  LiteRtTensorBuffer b = nullptr;
  if (LiteRtCreateTensorBufferFromHostMemory(&type, h.arrays.back().data(), count * 4, nullptr, &b) !=
      kLiteRtStatusOk)
    return false;
  into.push_back(b);
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: model-bench MODEL [MODEL ...] [--runs N] [--profile | --layers] [--compare]\n");
  return 2;
}

// VmRSS of this process in MiB, or -1.
double resident_mib() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

// Loads and compiles one model, in `shared` or else an environment of its
// own, and binds constant-filled arrays to it.
bool load(const char* path, Handles& h, LiteRtEnvironment shared = nullptr) {
  h.arrays.reserve(64);
  h.env = shared;
  h.owns_env = !shared;
  if (!shared && LiteRtCreateEnvironment(0, nullptr, &h.env) != kLiteRtStatusOk) return false;
  if (LiteRtCreateModelFromFile(h.env, path, &h.model) != kLiteRtStatusOk) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, LiteRtGetEnvironmentLastError(h.env));
    return false;
  }
  if (LiteRtCreateCompiledModel(h.env, h.model, nullptr, &h.compiled) != kLiteRtStatusOk) {
    std::fprintf(stderr, "cannot compile %s: %s\n", path, LiteRtGetEnvironmentLastError(h.env));
    return false;
  }
  LiteRtSignature sig = nullptr;
  LiteRtParamIndex ni = 0, no = 0;
  LiteRtGetModelSignature(h.model, 0, &sig);
  LiteRtGetNumSignatureInputs(sig, &ni);
  LiteRtGetNumSignatureOutputs(sig, &no);
  if (ni + no > 64) return false;
  for (LiteRtParamIndex k = 0; k < ni; ++k) {
    LiteRtTensor t = nullptr;
    LiteRtGetSignatureInputTensorByIndex(sig, k, &t);
    if (!bind(t, h, h.inputs)) return false;
  }
  for (LiteRtParamIndex k = 0; k < no; ++k) {
    LiteRtTensor t = nullptr;
    LiteRtGetSignatureOutputTensorByIndex(sig, k, &t);
    if (!bind(t, h, h.outputs)) return false;
  }
  return true;
}

// profile: 0 none, 1 per operator type, 2 per step.
bool bench(const char* path, Handles& h, int runs, int profile) {
  auto run = [&] {
    return LiteRtRunCompiledModel(h.compiled, 0, h.inputs.size(), h.inputs.data(), h.outputs.size(),
                                  h.outputs.data()) == kLiteRtStatusOk;
  };
  for (int i = 0; i < 5; ++i)
    if (!run()) return false;
  if (profile) LiteRtCompiledModelSetProfiling(h.compiled, profile);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (!run()) return false;
    times.push_back(ms_since(start));
  }
  std::sort(times.begin(), times.end());
  std::printf("%s: %d runs: median %.3f ms, min %.3f ms, max %.3f ms\n", path, runs, times[times.size() / 2],
              times.front(), times.back());
  if (!profile) return true;
  size_t n = 0;
  LiteRtCompiledModelGetNumProfileEntries(h.compiled, &n);
  uint64_t total = 0;
  std::vector<std::pair<uint64_t, std::string>> rows;
  for (size_t i = 0; i < n; ++i) {
    const char* name = nullptr;
    uint64_t ns = 0, steps = 0;
    LiteRtCompiledModelGetProfileEntry(h.compiled, i, &name, &ns, &steps);
    total += ns;
    rows.emplace_back(ns, profile == 2 ? std::to_string(i) + " " + name
                                       : std::string(name) + " (" + std::to_string(steps / static_cast<uint64_t>(runs)) + " steps)");
  }
  if (profile == 1) std::sort(rows.rbegin(), rows.rend());
  for (const auto& [ns, name] : rows)
    std::printf("  %5.1f%%  %8.3f ms/run  %s\n",
                total ? 100.0 * static_cast<double>(ns) / static_cast<double>(total) : 0.0,
                static_cast<double>(ns) / 1e6 / runs, name.c_str());
  return true;
}

using runtime::kernels::KernelFamily;

// Every model under every vector family, run in rounds; see the top.
int compare(const std::vector<const char*>& paths, int runs) {
  std::vector<KernelFamily> families;
  for (KernelFamily f : {KernelFamily::kAvx2, KernelFamily::kAvx512})
    if (f <= runtime::kernels::processor_kernel_family()) families.push_back(f);
  if (families.empty()) {
    std::fprintf(stderr, "this processor runs no vector kernels\n");
    return 1;
  }
  const char* forced = std::getenv("BRIDGE_KERNELS");
  const std::string restore = forced ? forced : "";
  std::printf("%-48s", "model (median / min ms per run)");
  for (KernelFamily f : families) std::printf("  %-17s", runtime::kernels::kernel_family_name(f));
  std::printf("  avx2 / widest (median, min)\n");
  for (const char* path : paths) {
    std::vector<std::unique_ptr<Handles>> models;
    for (KernelFamily f : families) {
      setenv("BRIDGE_KERNELS", runtime::kernels::kernel_family_name(f), 1);
      models.push_back(std::make_unique<Handles>());
      if (!load(path, *models.back())) return 1;
    }
    if (forced)
      setenv("BRIDGE_KERNELS", restore.c_str(), 1);
    else
      unsetenv("BRIDGE_KERNELS");
    std::vector<std::vector<double>> times(families.size());
    for (int round = -5; round < runs; ++round)
      for (size_t k = 0; k < families.size(); ++k) {
        Handles& h = *models[k];
        const auto start = Clock::now();
        if (LiteRtRunCompiledModel(h.compiled, 0, h.inputs.size(), h.inputs.data(), h.outputs.size(),
                                   h.outputs.data()) != kLiteRtStatusOk)
          return 1;
        if (round >= 0) times[k].push_back(ms_since(start));  // the first rounds warm up
      }
    std::printf("%-48s", path);
    for (auto& t : times) {
      std::sort(t.begin(), t.end());
      std::printf("  %7.3f / %7.3f", t[t.size() / 2], t.front());
    }
    std::printf("  %.2fx %.2fx\n", times.front()[runs / 2] / times.back()[runs / 2],
                times.front().front() / times.back().front());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> paths;
  int runs = 50;
  int profile = 0;
  bool side_by_side = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
      if (runs < 1) return usage();
    } else if (!std::strcmp(argv[i], "--profile")) {
      profile = 1;
    } else if (!std::strcmp(argv[i], "--layers")) {
      profile = 2;
    } else if (!std::strcmp(argv[i], "--compare")) {
      side_by_side = true;
    } else if (argv[i][0] == '-') {
      return usage();
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.empty()) return usage();
  if (side_by_side) return compare(paths, runs);
  // One environment for all, as in the bridge: the models share one arena.
  LiteRtEnvironment shared = nullptr;
  if (LiteRtCreateEnvironment(0, nullptr, &shared) != kLiteRtStatusOk) return 1;
  std::vector<std::unique_ptr<Handles>> models;
  const auto load_start = Clock::now();
  for (const char* path : paths) {
    models.push_back(std::make_unique<Handles>());
    if (!load(path, *models.back(), shared)) return 1;
  }
  std::printf("load+compile of %zu model(s): %.1f ms; resident memory %.1f MiB; kernels %s\n", paths.size(),
              ms_since(load_start), resident_mib(),
              runtime::kernels::kernel_family_name(runtime::kernels::chosen_kernel_family()));
  for (size_t i = 0; i < paths.size(); ++i)
    if (!bench(paths[i], *models[i], runs, profile)) return 1;
  models.clear();
  LiteRtDestroyEnvironment(shared);
  return 0;
}
