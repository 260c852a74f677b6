#pragma once

#include <cstddef>

namespace runtime {

// Storage whose start is aligned for vector kernels; sized once, never grown.
// Zeroed when made. Buffers of 2 MiB or more lie in transparent huge pages
// where the system grants them.
class AlignedFloats {
 public:
  AlignedFloats() = default;
  explicit AlignedFloats(size_t count);
  AlignedFloats(AlignedFloats&& o) noexcept : data_(o.data_), size_(o.size_), mapped_(o.mapped_) {
    o.data_ = nullptr;
    o.size_ = 0;
    o.mapped_ = false;
  }
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
  bool mapped_ = false;  // an mmap of whole huge pages, not operator new
};

}  // namespace runtime
