#include "runtime/kernels/aligned_floats.h"

#include <cstring>
#include <new>

namespace runtime {

AlignedFloats::AlignedFloats(size_t count)
    : data_(count ? static_cast<float*>(::operator new(count * sizeof(float), std::align_val_t{64})) : nullptr),
      size_(count) {
  if (count) std::memset(data_, 0, count * sizeof(float));
}

AlignedFloats& AlignedFloats::operator=(AlignedFloats&& o) noexcept {
  if (this != &o) {
    this->~AlignedFloats();
    data_ = o.data_;
    size_ = o.size_;
    o.data_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

AlignedFloats::~AlignedFloats() {
  if (data_) ::operator delete(data_, std::align_val_t{64});
}

}  // namespace runtime
