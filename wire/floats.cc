#include "wire/floats.h"

#include <cstring>

namespace wire {

void floats(Bytes& out, const float* values, uint32_t count) {
  static_assert(sizeof(float) == sizeof(uint32_t), "floats travel as 32-bit patterns");
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bits = 0;
    std::memcpy(&bits, &values[i], sizeof bits);  // the bit pattern, without aliasing the float
    put_u32(out, bits);
  }
}

}  // namespace wire
