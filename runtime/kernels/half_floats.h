#pragma once

#include <cstdint>

namespace runtime::kernels {

// Weights kept as float16 and widened as the kernels read them: every weight
// of our model files is exactly a float16 value (the files store them so), so
// the products are the same bit for bit, and the layers that read more weight
// than they compute with read half the bytes.

// Whether this processor widens float16 in hardware (F16C, with AVX2 on every
// processor we run).
inline bool has_half_floats() { return __builtin_cpu_supports("f16c"); }

// `w` as float16 bits, or false where it is no float16 value (NaN never
// compares equal, so NaN weights stay float). Needs has_half_floats().
bool to_half(float w, uint16_t& half);

}  // namespace runtime::kernels
