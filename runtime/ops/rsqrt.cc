#include <cmath>

#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Rsqrt {
  float operator()(float x) const { return 1.f / std::sqrt(x); }
};
}  // namespace

bool prepare_rsqrt(OpContext& ctx) { return prepare_unary<Rsqrt>(ctx); }

}  // namespace runtime
