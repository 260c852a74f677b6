#pragma once

#include <string>

#include "runtime/kernels/conv2d.h"

namespace runtime::kernels {

// Load-time checks shared by every implementation of the kernels: after they
// pass, run() trusts the geometry. Each failure names the value and the rule.
bool check_conv2d(const Conv2DShape& shape, const float* weights, const Conv2DPostOps& post,
                  std::string& error);
bool check_fully_connected(const FullyConnectedShape& shape, const float* weights,
                           Activation activation, std::string& error);

}  // namespace runtime::kernels
