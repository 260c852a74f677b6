#include "runtime/ops/registry.h"

#include <iterator>

namespace runtime {

namespace {

// One row per operator this runtime runs; its prepare function lives in
// ops/<name>.cc.
constexpr OperatorRow kOperators[] = {
    {fb::BuiltinOperator_ADD, prepare_add},
    {fb::BuiltinOperator_CONCATENATION, prepare_concatenation},
    {fb::BuiltinOperator_CONV_2D, prepare_conv_2d},
    {fb::BuiltinOperator_DEPTHWISE_CONV_2D, prepare_depthwise_conv_2d},
    {fb::BuiltinOperator_DEQUANTIZE, prepare_dequantize},
    {fb::BuiltinOperator_FULLY_CONNECTED, prepare_fully_connected},
    {fb::BuiltinOperator_LOGISTIC, prepare_logistic},
    {fb::BuiltinOperator_MAX_POOL_2D, prepare_max_pool_2d},
    {fb::BuiltinOperator_MUL, prepare_mul},
    {fb::BuiltinOperator_RELU, prepare_relu},
    {fb::BuiltinOperator_RELU6, prepare_relu6},
    {fb::BuiltinOperator_RESHAPE, prepare_reshape},
    {fb::BuiltinOperator_RESIZE_BILINEAR, prepare_resize_bilinear},
    {fb::BuiltinOperator_PAD, prepare_pad},
    {fb::BuiltinOperator_TRANSPOSE, prepare_transpose},
    {fb::BuiltinOperator_MEAN, prepare_mean},
    {fb::BuiltinOperator_SUB, prepare_sub},
    {fb::BuiltinOperator_DIV, prepare_div},
    {fb::BuiltinOperator_STRIDED_SLICE, prepare_strided_slice},
    {fb::BuiltinOperator_PRELU, prepare_prelu},
    {fb::BuiltinOperator_NEG, prepare_neg},
    {fb::BuiltinOperator_SUM, prepare_sum},
    {fb::BuiltinOperator_SQRT, prepare_sqrt},
    {fb::BuiltinOperator_RSQRT, prepare_rsqrt},
    {fb::BuiltinOperator_SQUARED_DIFFERENCE, prepare_squared_difference},
};

}  // namespace

const OperatorRow* find_operator(int32_t code) {
  for (const OperatorRow& row : kOperators)
    if (row.code == code) return &row;
  return nullptr;
}

const char* operator_name(int32_t code) {
  const char* name = code >= fb::BuiltinOperator_MIN && code <= fb::BuiltinOperator_MAX
                         ? fb::EnumNameBuiltinOperator(static_cast<fb::BuiltinOperator>(code))
                         : "";
  return find_operator(code) && *name ? name : "unsupported operator";
}

}  // namespace runtime
