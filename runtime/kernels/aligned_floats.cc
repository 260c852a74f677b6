#include "runtime/kernels/aligned_floats.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "runtime/kernels/guard_zones.h"

namespace runtime {
namespace {

// Buffers of at least one huge page (a model's arena, its larger constants)
// are mapped on huge-page boundaries and marked for transparent huge pages:
// a model run sweeps megabytes of activations, and in 4 KiB pages its TLB
// misses and the placement of those pages in the caches changed a frame's
// time by a quarter from one process to the next.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;

// Only whole small pages: the huge pages cover what they can from the
// start, the last part stays in small pages, and nothing is reserved that
// the buffer does not use.
size_t mapped_bytes(size_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }

// `bytes` in whole pages, starting on a huge-page boundary; null on failure.
void* map_huge(size_t bytes) {
  const size_t size = mapped_bytes(bytes);
  void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) ::munmap(raw, aligned - start);
  const uintptr_t end = start + size + kHugePage;
  if (end > aligned + size) ::munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  // Only advice: where the kernel has no huge pages the mapping stays usable.
  ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

AlignedFloats::AlignedFloats(size_t count) : size_(count) {
  if (!count) return;
  const size_t bytes = (count + 2 * kGuardFloats) * sizeof(float);
  void* memory = bytes >= kHugePage ? map_huge(bytes) : nullptr;
  if (memory) {
    data_ = static_cast<float*>(memory) + kGuardFloats;  // fresh mappings are zero
    mapped_ = true;
  } else {
    data_ = static_cast<float*>(::operator new(bytes, std::align_val_t{64})) + kGuardFloats;
    std::memset(data_, 0, count * sizeof(float));
  }
  if constexpr (kGuardFloats > 0) poison_guards(data_, count);
}

AlignedFloats& AlignedFloats::operator=(AlignedFloats&& o) noexcept {
  if (this != &o) {
    this->~AlignedFloats();
    data_ = o.data_;
    size_ = o.size_;
    mapped_ = o.mapped_;
    o.data_ = nullptr;
    o.size_ = 0;
    o.mapped_ = false;
  }
  return *this;
}

AlignedFloats::~AlignedFloats() {
  if (!data_) return;
  if constexpr (kGuardFloats > 0)
    if (!guards_intact(data_, size_)) guard_damaged("a buffer of the runtime (weights, scratch, constants or arena)");
  const size_t bytes = (size_ + 2 * kGuardFloats) * sizeof(float);
  if (mapped_)
    ::munmap(data_ - kGuardFloats, mapped_bytes(bytes));
  else
    ::operator delete(data_ - kGuardFloats, std::align_val_t{64});
}

}  // namespace runtime
