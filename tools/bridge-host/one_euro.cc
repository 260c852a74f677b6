#include "tools/bridge-host/one_euro.h"

#include <cmath>

namespace {

// The smoothing factor of a first-order low-pass with this cut-off.
float alpha(float cutoff, float dt) {
  const float tau = 1.0f / (2.0f * 3.1415927f * cutoff);
  return 1.0f / (1.0f + tau / dt);
}

}  // namespace

float one_euro(OneEuro& f, const OneEuroParams& p, float x, float dt) {
  if (!f.primed || !std::isfinite(f.value)) {
    f = {x, 0, true};
    return x;
  }
  if (!(dt > 0)) return f.value;
  const float speed = (x - f.value) / dt;
  f.derivative += alpha(p.derivative_cutoff, dt) * (speed - f.derivative);
  const float cutoff = p.min_cutoff + p.beta * std::fabs(f.derivative);
  f.value += alpha(cutoff, dt) * (x - f.value);
  return f.value;
}

void reset_one_euro(OneEuro& filter) { filter.primed = false; }

Quat filter_rotation(QuatFilter& f, const OneEuroParams& p, Quat q, float dt) {
  if (f[0].primed && q.x * f[0].value + q.y * f[1].value + q.z * f[2].value + q.w * f[3].value < 0)
    q = {-q.x, -q.y, -q.z, -q.w};
  return normalized(Quat{one_euro(f[0], p, q.x, dt), one_euro(f[1], p, q.y, dt),
                         one_euro(f[2], p, q.z, dt), one_euro(f[3], p, q.w, dt)});
}
