#include "runtime/kernels/conv2d.h"

#include "runtime/kernels/kernel_family.h"
#include "runtime/kernels/shape_check.h"

namespace runtime {

std::unique_ptr<Conv2DKernel> Conv2DKernel::create(const Conv2DShape& shape, const float* weights,
                                                   const float* bias, const Conv2DPostOps& post,
                                                   std::string& error) {
  if (!kernels::check_conv2d(shape, weights, post, error)) return nullptr;
  return kernels::make_conv2d(kernels::chosen_kernel_family(), shape, weights, bias, post);
}

}  // namespace runtime
