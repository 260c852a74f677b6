#include "runtime/kernels/conv2d.h"

#include "runtime/kernels/depthwise_conv.h"
#include "runtime/kernels/gemm_conv.h"
#include "runtime/kernels/plain_conv.h"
#include "runtime/kernels/shape_check.h"
#include "runtime/kernels/vector_support.h"

namespace runtime {

std::unique_ptr<Conv2DKernel> Conv2DKernel::create(const Conv2DShape& shape, const float* weights,
                                                   const float* bias, const Conv2DPostOps& post,
                                                   std::string& error) {
  if (!kernels::check_conv2d(shape, weights, post, error)) return nullptr;
  if (!kernels::has_vector_kernels()) return kernels::make_plain_conv2d(shape, weights, bias, post);
  if (shape.groups > 1) return kernels::make_depthwise_conv2d(shape, weights, bias, post);
  return kernels::make_gemm_conv2d(shape, weights, bias, post);
}

}  // namespace runtime
