#include <algorithm>

#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Relu {
  float operator()(float x) const { return std::max(x, 0.f); }
};
}  // namespace

// A RELU right after a convolution is usually folded into it (see conv_common).
bool prepare_relu(OpContext& ctx) { return prepare_unary<Relu>(ctx); }

}  // namespace runtime
