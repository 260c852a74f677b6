#include <cstring>

#include "runtime/ops/registry.h"

namespace runtime {

namespace {

float half_to_float(uint16_t h) {
  const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
  const uint32_t exponent = (h >> 10) & 0x1fu;
  uint32_t mantissa = h & 0x3ffu;
  uint32_t bits;
  if (exponent == 0x1f) {
    bits = sign | 0x7f800000u | (mantissa << 13);  // infinity or NaN
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  } else if (mantissa == 0) {
    bits = sign;
  } else {  // subnormal half: normalise
    int e = -1;
    do {
      ++e;
      mantissa <<= 1;
    } while ((mantissa & 0x400u) == 0);
    bits = sign | static_cast<uint32_t>(112 - e) << 23 | ((mantissa & 0x3ffu) << 13);
  }
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace

// Float16 constants (the models' weights) become float32 constants once, at
// compile; nothing runs per frame. A DEQUANTIZE of anything else is not
// supported.
bool prepare_dequantize(OpContext& ctx) {
  if (!ctx.expect_counts(1, 1, 1) || !ctx.float_output(0)) return false;
  const int in = ctx.input(0), out = ctx.output(0);
  if (in < 0 || ctx.type(in) != fb::TensorType_FLOAT16 || !ctx.has_constant(in))
    return ctx.fail("only constant float16 inputs are supported");
  std::vector<uint16_t> halves;
  if (!ctx.constant_halves(in, halves)) return false;
  std::vector<float> values(halves.size());
  for (size_t i = 0; i < halves.size(); ++i) values[i] = half_to_float(halves[i]);
  ctx.set_shape(out, ctx.shape(in));
  ctx.set_constant(out, std::move(values));
  return true;
}

}  // namespace runtime
