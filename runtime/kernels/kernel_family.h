#pragma once

#include <memory>
#include <string>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// The sets of kernels, from the most portable up: plain loops, AVX2 with FMA,
// AVX-512. Each family runs on every processor that runs the ones above it.
enum class KernelFamily { kPlain, kAvx2, kAvx512 };

// The highest family this processor runs.
KernelFamily processor_kernel_family();

// The family a model compiled now uses: the processor's, unless the
// environment variable BRIDGE_KERNELS names a lower one ("plain", "avx2") so
// that families can be compared on one machine. A higher family than the
// processor runs, or a name that is not a family, is ignored.
KernelFamily chosen_kernel_family();

// "plain", "avx2" or "avx512".
const char* kernel_family_name(KernelFamily family);

// The convolution of Conv2DKernel::create from a given family, which the
// processor must run; the shape and post-ops must have passed check_conv2d.
std::unique_ptr<Conv2DKernel> make_conv2d(KernelFamily family, const Conv2DShape& shape,
                                          const float* weights, const float* bias,
                                          const Conv2DPostOps& post);

// FullyConnectedKernel::create with a given family (lowered to what the
// processor runs): null with `error` set for a bad shape.
std::unique_ptr<FullyConnectedKernel> make_fully_connected(KernelFamily family,
                                                           const FullyConnectedShape& shape,
                                                           const float* weights, const float* bias,
                                                           Activation activation,
                                                           std::string& error);

}  // namespace runtime::kernels
