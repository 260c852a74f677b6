#include "runtime/ops/reduce.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_mean(OpContext& ctx) { return prepare_reduce(ctx, true); }

}  // namespace runtime
