#include "runtime/kernels/aligned_floats.h"

#include <cstring>
#include <new>

#include "runtime/kernels/guard_zones.h"

namespace runtime {

AlignedFloats::AlignedFloats(size_t count) : size_(count) {
  if (!count) return;
  const size_t all = count + 2 * kGuardFloats;
  data_ = static_cast<float*>(::operator new(all * sizeof(float), std::align_val_t{64})) + kGuardFloats;
  std::memset(data_, 0, count * sizeof(float));
  if constexpr (kGuardFloats > 0) poison_guards(data_, count);
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
  if (!data_) return;
  if constexpr (kGuardFloats > 0)
    if (!guards_intact(data_, size_)) guard_damaged("a buffer of the runtime (weights, scratch, constants or arena)");
  ::operator delete(data_ - kGuardFloats, std::align_val_t{64});
}

}  // namespace runtime
