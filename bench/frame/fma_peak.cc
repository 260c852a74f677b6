#include "bench/frame/fma_peak.h"

#include <immintrin.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using runtime::kernels::KernelFamily;

// Twelve chains of FMAs: more than the latency times the number of FMA pipes
// of current processors, so every pipe stays busy.
constexpr int kChains = 12;
constexpr long kRounds = 1 << 16;

// The same loop per vector width; the compiler keeps the chains in
// registers.
__attribute__((target("avx512f"))) double chains512(long rounds, float& sink) {
  __m512 acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = _mm512_set1_ps(1.0f + 0.001f * static_cast<float>(i));
  const __m512 a = _mm512_set1_ps(0.999999f), b = _mm512_set1_ps(1e-7f);
  for (long r = 0; r < rounds; ++r)
    for (int i = 0; i < kChains; ++i) acc[i] = _mm512_fmadd_ps(acc[i], a, b);
  alignas(64) float lanes[16];
  for (int i = 0; i < kChains; ++i) {
    _mm512_store_ps(lanes, acc[i]);
    sink += lanes[0];
  }
  return static_cast<double>(rounds) * kChains * 2.0 * 16;
}

__attribute__((target("avx2,fma"))) double chains256(long rounds, float& sink) {
  __m256 acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = _mm256_set1_ps(1.0f + 0.001f * static_cast<float>(i));
  const __m256 a = _mm256_set1_ps(0.999999f), b = _mm256_set1_ps(1e-7f);
  for (long r = 0; r < rounds; ++r)
    for (int i = 0; i < kChains; ++i) acc[i] = _mm256_fmadd_ps(acc[i], a, b);
  alignas(32) float lanes[8];
  for (int i = 0; i < kChains; ++i) {
    _mm256_store_ps(lanes, acc[i]);
    sink += lanes[0];
  }
  return static_cast<double>(rounds) * kChains * 2.0 * 8;
}

double chains_scalar(long rounds, float& sink) {
  float acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = 1.0f + 0.001f * static_cast<float>(i);
  for (long r = 0; r < rounds; ++r)
    for (float& x : acc) x = x * 0.999999f + 1e-7f;
  for (float x : acc) sink += x;
  return static_cast<double>(rounds) * kChains * 2.0;
}

}  // namespace

double fma_peak_gflops(KernelFamily family, double seconds) {
  float sink = 0.0f;
  double best = 0.0;
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  // The best of many short rounds: a round another process interrupted
  // does not count against the processor.
  while (Clock::now() < until) {
    const auto start = Clock::now();
    const double flops = family == KernelFamily::kAvx512 ? chains512(kRounds, sink)
                         : family == KernelFamily::kAvx2 ? chains256(kRounds, sink)
                                                         : chains_scalar(kRounds, sink);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (s > 0.0 && flops / s > best) best = flops / s;
  }
  volatile float keep = sink;
  (void)keep;
  return best / 1e9;
}
