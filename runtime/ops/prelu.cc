#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

// out = x >= 0 ? x : x * slope, the slope broadcast into x. A PRELU right
// after a convolution is usually folded into it instead (see conv_common).
bool prepare_prelu(OpContext& ctx) { return prepare_binary(ctx, BinaryOp::kPrelu, nullptr); }

}  // namespace runtime
