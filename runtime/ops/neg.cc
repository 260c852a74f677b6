#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Neg {
  float operator()(float x) const { return -x; }
};
}  // namespace

bool prepare_neg(OpContext& ctx) { return prepare_unary<Neg>(ctx); }

}  // namespace runtime
