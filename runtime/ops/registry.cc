#include "runtime/ops/registry.h"

#include <iterator>

namespace runtime {

namespace {

// Builtin operator codes of the .tflite format.
constexpr OperatorRow kOperators[] = {
    {0, "ADD", prepare_add},
    {2, "CONCATENATION", prepare_concatenation},
    {3, "CONV_2D", prepare_conv_2d},
    {4, "DEPTHWISE_CONV_2D", prepare_depthwise_conv_2d},
    {6, "DEQUANTIZE", prepare_dequantize},
    {9, "FULLY_CONNECTED", prepare_fully_connected},
    {14, "LOGISTIC", prepare_logistic},
    {17, "MAX_POOL_2D", prepare_max_pool_2d},
    {18, "MUL", prepare_mul},
    {19, "RELU", prepare_relu},
    {21, "RELU6", prepare_relu6},
    {22, "RESHAPE", prepare_reshape},
    {23, "RESIZE_BILINEAR", prepare_resize_bilinear},
    {34, "PAD", prepare_pad},
    {39, "TRANSPOSE", prepare_transpose},
    {40, "MEAN", prepare_mean},
    {41, "SUB", prepare_sub},
    {42, "DIV", prepare_div},
    {45, "STRIDED_SLICE", prepare_strided_slice},
    {54, "PRELU", prepare_prelu},
    {59, "NEG", prepare_neg},
    {74, "SUM", prepare_sum},
    {75, "SQRT", prepare_sqrt},
    {76, "RSQRT", prepare_rsqrt},
    {99, "SQUARED_DIFFERENCE", prepare_squared_difference},
};

}  // namespace

const OperatorRow* find_operator(int32_t code) {
  for (const OperatorRow& row : kOperators)
    if (row.code == code) return &row;
  return nullptr;
}

const char* operator_name(int32_t code) {
  const OperatorRow* row = find_operator(code);
  return row ? row->name : "unsupported operator";
}

}  // namespace runtime
