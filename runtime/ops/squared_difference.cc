#include "runtime/ops/binary.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_squared_difference(OpContext& ctx) { return prepare_binary(ctx, BinaryOp::kSquaredDifference, nullptr); }

}  // namespace runtime
