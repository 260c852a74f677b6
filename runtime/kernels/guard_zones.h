#pragma once

// Guard zones around the runtime's own buffers, for test builds.
// AddressSanitizer does not see the masked vector loads and stores the
// kernels use for channel tails, nor a write from one tensor's slot of the
// arena into the next. With BRIDGE_GUARD_ZONES every aligned buffer (packed
// weights, scratch, constants, the arena) and every arena slot gets a
// vector's width of poisoned floats on each side; buffers check theirs when
// freed, arena slots after each step that writes them, and a damaged zone
// ends the process with a message naming the buffer. Without it the zones
// have width 0 and cost nothing.
#include <cstddef>

namespace runtime {

#ifdef BRIDGE_GUARD_ZONES
inline constexpr size_t kGuardFloats = 16;  // one 512-bit vector, 64 bytes: alignment is kept
#else
inline constexpr size_t kGuardFloats = 0;
#endif

// Poisons the kGuardFloats floats before `data` and after data[count].
void poison_guards(float* data, size_t count);
// True while both zones around data[0, count) hold their poison.
bool guards_intact(const float* data, size_t count);
// Prints what was damaged and aborts.
[[noreturn]] void guard_damaged(const char* what);

}  // namespace runtime
