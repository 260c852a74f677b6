#pragma once

#include <cstddef>

namespace runtime {

// Storage whose start is aligned for vector kernels; sized once, never grown.
class AlignedFloats {
 public:
  AlignedFloats() = default;
  explicit AlignedFloats(size_t count);
  AlignedFloats(AlignedFloats&& o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr; o.size_ = 0; }
  AlignedFloats& operator=(AlignedFloats&& o) noexcept;
  AlignedFloats(const AlignedFloats&) = delete;
  AlignedFloats& operator=(const AlignedFloats&) = delete;
  ~AlignedFloats();
  float* data() { return data_; }
  const float* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  float* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace runtime
