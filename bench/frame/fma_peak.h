#pragma once

#include "runtime/kernels/kernel_family.h"

// What one core of this processor computes at most with the vector width of
// `family`, in GFLOP/s (a fused multiply-add counts as two): a loop of
// independent FMAs on registers, no memory, timed for about `seconds`. The
// share of this that a model reaches says how far it is from the processor,
// whatever the clock speed of the machine it ran on.
double fma_peak_gflops(runtime::kernels::KernelFamily family, double seconds = 0.3);
