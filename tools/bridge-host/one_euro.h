#pragma once

#include <array>

#include "tools/bridge-host/vmc_rotation.h"

// The One Euro filter: a low-pass whose cut-off frequency rises with the
// signal's speed, so a still signal loses its tremble while a fast movement
// keeps up with little lag. Cut-offs in Hz; `beta` in Hz per unit of speed
// (units per second).
struct OneEuroParams {
  float min_cutoff = 1.0f;
  float beta = 0.5f;
  float derivative_cutoff = 1.0f;
};

struct OneEuro {
  float value = 0;
  float derivative = 0;
  bool primed = false;
};

// Filters sample `x` taken `dt` seconds after the previous one. The first
// sample (and one after reset_one_euro) passes unchanged; a `dt` that is not
// positive (a repeated or reordered timestamp) keeps the last output.
float one_euro(OneEuro& filter, const OneEuroParams& params, float x, float dt);

// Forgets the signal: the next sample passes unchanged.
void reset_one_euro(OneEuro& filter);

// A rotation's filters, one per quaternion component (x, y, z, w).
using QuatFilter = std::array<OneEuro, 4>;

// Filters a unit quaternion component-wise and normalises the result. Each
// sample is first brought into the filter's hemisphere: q and -q are one
// rotation, and near half a turn a rotation's two forms would otherwise
// average out to no rotation at all.
Quat filter_rotation(QuatFilter& filter, const OneEuroParams& params, Quat q, float dt);
