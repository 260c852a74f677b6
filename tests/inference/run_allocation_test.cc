// run() must not allocate: every allocation path of the process (operator new
// and, outside sanitizer builds, malloc and friends) is counted while real
// models run.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "inference/inference_model.h"

namespace {
bool counting = false;  // process state: the replaced functions have no other way to reach the test
long allocations = 0;

void count() {
  if (counting) ++allocations;
}

void start() {
  allocations = 0;
  counting = true;
}
}  // namespace

// new pairs with malloc and delete with free by design, which GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  count();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return count(), std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return count(), std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* malloc(size_t n) { return count(), __libc_malloc(n); }
void* calloc(size_t n, size_t m) { return count(), __libc_calloc(n, m); }
void* realloc(void* p, size_t n) { return count(), __libc_realloc(p, n); }
void* memalign(size_t a, size_t n) { return count(), __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { return count(), __libc_memalign(a, n); }
int posix_memalign(void** out, size_t a, size_t n) {
  count();
  void* p = __libc_memalign(a, n);
  return p ? (*out = p, 0) : ENOMEM;
}
}
#endif

namespace {

TEST(InferenceModelRun, AllocatesNothing) {
  const std::filesystem::path models = std::filesystem::path(BRIDGE_SHARED_DIR) / "models";
  if (!std::filesystem::exists(models / "face")) GTEST_SKIP() << "shared models not available";
  for (const char* file :
       {"face/face_detector.tflite", "face/face_landmarks_detector.tflite",
        "face/face_blendshapes.tflite", "hand/hand_detector.tflite",
        "hand/hand_landmarks_detector.tflite", "hand-lite/hand_detector.tflite",
        "hand-lite/hand_landmarks_detector.tflite"}) {
    InferenceModel model;
    std::string error;
    ASSERT_TRUE(model.load((models / file).string(), error)) << error;
    ASSERT_TRUE(model.run());
    start();
    const bool ok = model.run() && model.run();
    counting = false;
    EXPECT_TRUE(ok) << file;
    EXPECT_EQ(allocations, 0) << file;
  }
}

TEST(InferenceModelRun, CounterSeesAnAllocation) {
  start();
  void* volatile p = ::operator new(16);  // a direct call, which may not be elided
  counting = false;
  ::operator delete(p);
  EXPECT_GE(allocations, 1);
}

}  // namespace
