// Deterministic stand-in for libFuzzer: feeds a fuzz target its seed inputs,
// then a fixed number of mutations of them (bit flips, byte overwrites,
// truncations, insertions, splices of interesting values). The same
// command line always produces the same inputs, so a failure reproduces.
//
//   target [--iterations N] [SEED ...]     a SEED that does not exist is skipped
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

bool read_file(const char* path, Bytes& out) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;  // a directory would throw below
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void run_one(const Bytes& input) {
  // Copy into an exact-size heap block so AddressSanitizer sees any over-read.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.size() ? input.size() : 1));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

void mutate(Bytes& b, std::mt19937_64& rng) {
  static const uint64_t kInteresting[] = {0, 1, 0x7f, 0x80, 0xff, 0x7fff, 0x8000, 0xffff,
                                          0x7fffffff, 0x80000000u, 0xffffffffu,
                                          0xffffffffffffffffull};
  auto pick = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    switch (rng() % 6) {
      case 0:  // flip a bit
        if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:  // overwrite a byte
        if (!b.empty()) b[pick(b.size())] = static_cast<uint8_t>(rng());
        break;
      case 2:  // truncate
        b.resize(pick(b.size() + 1));
        break;
      case 3: {  // insert random bytes
        const size_t at = pick(b.size() + 1);
        const size_t n = 1 + rng() % 8;
        for (size_t i = 0; i < n; ++i) b.insert(b.begin() + at, static_cast<uint8_t>(rng()));
        break;
      }
      case 4: {  // write an interesting little-endian value
        const uint64_t v = kInteresting[pick(std::size(kInteresting))];
        const size_t width = size_t{1} << (rng() % 4);
        if (b.size() >= width) {
          const size_t at = pick(b.size() - width + 1);
          for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
        break;
      }
      default: {  // duplicate a chunk
        if (b.size() > 1) {
          const size_t from = pick(b.size());
          const size_t n = 1 + pick(std::min<size_t>(b.size() - from, 64));
          const Bytes chunk(b.begin() + from, b.begin() + from + n);
          b.insert(b.begin() + pick(b.size() + 1), chunk.begin(), chunk.end());
        }
        break;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 10000;
  std::vector<Bytes> seeds;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0 && i + 1 < argc) {
      iterations = std::atol(argv[++i]);
    } else {
      Bytes b;
      if (read_file(argv[i], b)) seeds.push_back(std::move(b));
    }
  }
  if (seeds.empty()) seeds.push_back({});
  for (const Bytes& s : seeds) run_one(s);

  std::mt19937_64 rng(0x5eed);
  for (long it = 0; it < iterations; ++it) {
    Bytes b = seeds[it % seeds.size()];
    mutate(b, rng);
    run_one(b);
  }
  std::printf("%ld inputs from %zu seeds\n", iterations + static_cast<long>(seeds.size()),
              seeds.size());
  return 0;
}
