#pragma once

#include "runtime/ops/op.h"

namespace runtime {

// The one reduction path behind MEAN and SUM: sums over the constant axes
// (negative ones count from the end), optionally divided by the count.
bool prepare_reduce(OpContext& ctx, bool mean);

}  // namespace runtime
