#include <cmath>

#include "runtime/ops/registry.h"
#include "runtime/ops/unary.h"

namespace runtime {

namespace {
struct Logistic {
  // Written so that neither branch overflows: exp of a non-positive number.
  float operator()(float x) const {
    if (x >= 0.f) return 1.f / (1.f + std::exp(-x));
    const float e = std::exp(x);
    return e / (1.f + e);
  }
};
}  // namespace

bool prepare_logistic(OpContext& ctx) { return prepare_unary<Logistic>(ctx); }

}  // namespace runtime
