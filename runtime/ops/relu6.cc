#include <algorithm>

#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Relu6 {
  float operator()(float x) const { return std::min(std::max(x, 0.f), 6.f); }
};
}  // namespace

bool prepare_relu6(OpContext& ctx) { return prepare_unary<Relu6>(ctx); }

}  // namespace runtime
