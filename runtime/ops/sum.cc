#include "runtime/ops/reduce.h"
#include "runtime/ops/registry.h"

namespace runtime {

bool prepare_sum(OpContext& ctx) { return prepare_reduce(ctx, false); }

}  // namespace runtime
