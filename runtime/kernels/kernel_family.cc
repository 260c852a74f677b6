#include "runtime/kernels/kernel_family.h"

#include <cstdlib>
#include <cstring>

#include "runtime/kernels/depthwise_conv.h"
#include "runtime/kernels/gemm_conv.h"
#include "runtime/kernels/matvec_conv.h"
#include "runtime/kernels/plain_conv.h"
#include "runtime/kernels/vector_support.h"

namespace runtime::kernels {

KernelFamily processor_kernel_family() {
  if (!has_vector_kernels()) return KernelFamily::kPlain;
  return has_avx512_kernels() ? KernelFamily::kAvx512 : KernelFamily::kAvx2;
}

KernelFamily chosen_kernel_family() {
  const KernelFamily best = processor_kernel_family();
  const char* wanted = std::getenv("BRIDGE_KERNELS");
  if (!wanted) return best;
  for (KernelFamily f : {KernelFamily::kPlain, KernelFamily::kAvx2, KernelFamily::kAvx512})
    if (!std::strcmp(wanted, kernel_family_name(f))) return f < best ? f : best;
  return best;
}

const char* kernel_family_name(KernelFamily family) {
  switch (family) {
    case KernelFamily::kPlain: return "plain";
    case KernelFamily::kAvx2: return "avx2";
    case KernelFamily::kAvx512: return "avx512";
  }
  return "plain";
}

std::unique_ptr<Conv2DKernel> make_conv2d(KernelFamily family, const Conv2DShape& shape,
                                          const float* weights, const float* bias,
                                          const Conv2DPostOps& post) {
  // Never above what the processor runs, whatever the caller asked for.
  if (family > processor_kernel_family()) family = processor_kernel_family();
  switch (family) {
    case KernelFamily::kPlain: return make_plain_conv2d(shape, weights, bias, post);
    case KernelFamily::kAvx2:
      if (shape.groups > 1) return make_depthwise_conv2d(shape, weights, bias, post);
      if (auto product = make_matvec_conv2d(shape, weights, bias, post)) return product;
      return make_gemm_conv2d(shape, weights, bias, post);
    case KernelFamily::kAvx512:
      if (shape.groups > 1) return make_depthwise_conv2d_avx512(shape, weights, bias, post);
      // Bound by reading its weights, it runs as fast on 256-bit vectors.
      if (auto product = make_matvec_conv2d(shape, weights, bias, post)) return product;
      return make_gemm_conv2d_avx512(shape, weights, bias, post);
  }
  return make_plain_conv2d(shape, weights, bias, post);
}

}  // namespace runtime::kernels
