// The SSE4.1 copy of the crop sampling loop (see crop_sampler.h); this file
// is compiled with -msse4.1 and called only where the processor has it.
#include "image/crop_sampler.h"

void crop_to_tensor_sse41(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                          float hi, float* out) {
  sample_region(image, rect, w, h, lo, hi, out);
}
