#pragma once

#include <cstddef>
#include <new>
#include <vector>

// Standard allocator whose storage is aligned to 64 bytes, so the runtime's
// vector kernels can read and write model tensors in place. Stateless.
template <typename T>
struct AlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlignment{64};

  AlignedAllocator() noexcept = default;
  template <typename U>
  AlignedAllocator(const AlignedAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new(n * sizeof(T), kAlignment));
  }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }

  template <typename U>
  bool operator==(const AlignedAllocator<U>&) const noexcept { return true; }
};

// A model's input or output array.
using FloatArray = std::vector<float, AlignedAllocator<float>>;
