#pragma once

// Floats between two guard zones of poison. AddressSanitizer does not check
// the masked AVX2 loads and stores the kernels use for channel tails, so the
// tests give every buffer a kernel touches these zones and check after each
// run that nothing wrote into them; the poison is a NaN, so a read past the
// end shows up as NaN in the results.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kernels_test {

class Guarded {
 public:
  // Two AVX2 vectors of floats on each side: more than any tail can reach.
  static constexpr size_t kGuard = 16;
  static constexpr uint32_t kPoison = 0x7fbadbad;  // a signalling NaN

  // The values start `lead` floats past the start of a 64-byte cache line:
  // 0 as the runtime's own tensors, others as a caller's arrays may.
  explicit Guarded(const std::vector<float>& values, size_t lead = 0)
      : size_(values.size()), all_(values.size() + 2 * kGuard + kLine) {
    const auto at = reinterpret_cast<uintptr_t>(all_.data() + kGuard) / sizeof(float);
    start_ = kGuard + (lead % kLine + kLine - at % kLine) % kLine;
    poison(0, start_);
    poison(start_ + size_, all_.size());
    if (size_) std::memcpy(data(), values.data(), size_ * sizeof(float));
  }
  float* data() { return all_.data() + start_; }
  const float* data() const { return all_.data() + start_; }
  size_t size() const { return size_; }
  std::vector<float> values() const { return std::vector<float>(data(), data() + size_); }
  // Empty while both zones hold their poison; else where the first change is,
  // counted from the buffer's start (negative: before it).
  std::string damage() const {
    for (size_t i = 0; i < all_.size(); ++i) {
      if (i == start_) i += size_;
      if (i >= all_.size()) break;
      uint32_t bits;
      std::memcpy(&bits, &all_[i], sizeof bits);
      if (bits != kPoison)
        return "guard float " + std::to_string(static_cast<long>(i) - static_cast<long>(start_)) + " of a buffer of " +
               std::to_string(size_) + " changed";
    }
    return {};
  }

 private:
  void poison(size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) std::memcpy(&all_[i], &kPoison, sizeof kPoison);
  }
  static constexpr size_t kLine = 64 / sizeof(float);
  size_t size_, start_ = kGuard;
  std::vector<float> all_;
};

}  // namespace kernels_test
