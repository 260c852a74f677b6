#pragma once

#include "image/crop.h"

// The builds of crop_to_tensor's sampling loop, among which it chooses by
// processor; all give the same results. Exposed so that tests can hold each
// to that. All require w, h >= 1.

// Baseline x86-64 (SSE2) or plain C++ elsewhere; defined in crop.cc.
void crop_to_tensor_baseline(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                             float hi, float* out);

// SSE4.1; defined in crop_sse41.cc, built only for x86-64 (where the build
// defines BRIDGE_CROP_SSE41), and only to be called where the processor
// reports SSE4.1.
void crop_to_tensor_sse41(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                          float hi, float* out);

// AVX2 without FMA; defined in crop_avx2.cc, built where crop_sse41.cc is,
// and only to be called where the processor reports AVX2.
void crop_to_tensor_avx2(const Image& image, const RotatedRect& rect, int w, int h, float lo,
                         float hi, float* out);
