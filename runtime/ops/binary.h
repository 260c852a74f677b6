#pragma once

#include "runtime/ops/op.h"

namespace runtime {

enum class BinaryOp { kAdd, kSub, kMul, kDiv, kSquaredDifference, kPrelu };

// The one element-wise path behind ADD, SUB, MUL, DIV, SQUARED_DIFFERENCE and
// PRELU: numpy-style broadcasting of the two inputs, an optional fused
// activation read from `activation` (null: none).
bool prepare_binary(OpContext& ctx, BinaryOp op, const fb::ArithmeticOptions* options);

}  // namespace runtime
