#pragma once

#include "runtime/ops/op.h"

namespace runtime {

// Prepare functions, one per operator file.
bool prepare_add(OpContext& ctx);
bool prepare_concatenation(OpContext& ctx);
bool prepare_conv_2d(OpContext& ctx);
bool prepare_depthwise_conv_2d(OpContext& ctx);
bool prepare_dequantize(OpContext& ctx);
bool prepare_div(OpContext& ctx);
bool prepare_fully_connected(OpContext& ctx);
bool prepare_logistic(OpContext& ctx);
bool prepare_max_pool_2d(OpContext& ctx);
bool prepare_mean(OpContext& ctx);
bool prepare_mul(OpContext& ctx);
bool prepare_neg(OpContext& ctx);
bool prepare_pad(OpContext& ctx);
bool prepare_prelu(OpContext& ctx);
bool prepare_relu(OpContext& ctx);
bool prepare_relu6(OpContext& ctx);
bool prepare_reshape(OpContext& ctx);
bool prepare_resize_bilinear(OpContext& ctx);
bool prepare_rsqrt(OpContext& ctx);
bool prepare_sqrt(OpContext& ctx);
bool prepare_squared_difference(OpContext& ctx);
bool prepare_strided_slice(OpContext& ctx);
bool prepare_sub(OpContext& ctx);
bool prepare_sum(OpContext& ctx);
bool prepare_transpose(OpContext& ctx);

}  // namespace runtime
