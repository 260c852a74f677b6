#include <cmath>

#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Sqrt {
  float operator()(float x) const { return std::sqrt(x); }
};
}  // namespace

bool prepare_sqrt(OpContext& ctx) { return prepare_unary<Sqrt>(ctx); }

}  // namespace runtime
