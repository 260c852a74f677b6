#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/model.h"

namespace runtime {

// A strided read of a source tensor: output element (i0, i1, ...) in row-major
// order comes from src[offset + sum_k i_k * stride_k]. Shared by TRANSPOSE
// and STRIDED_SLICE, whose compile steps only differ in how they fill it.
struct StridedView {
  int rank = 0;
  int64_t dims[kMaxRank] = {};
  int64_t stride[kMaxRank] = {};
  int64_t offset = 0;

  int64_t elements() const {
    int64_t n = 1;
    for (int i = 0; i < rank; ++i) n *= dims[i];
    return n;
  }
};

// Row-major element strides of a shape.
inline void contiguous_strides(const Shape& s, int64_t* strides) {
  int64_t step = 1;
  for (int i = s.rank - 1; i >= 0; --i) {
    strides[i] = step;
    step *= s.dims[i];
  }
}

inline void gather(const float* src, float* dst, const StridedView& v) {
  if (v.elements() == 0) return;
  if (v.rank == 0) {
    dst[0] = src[v.offset];
    return;
  }
  const int inner = v.rank - 1;
  const int64_t n = v.dims[inner], s = v.stride[inner];
  int64_t index[kMaxRank] = {};
  int64_t outer = 1;
  for (int i = 0; i < inner; ++i) outer *= v.dims[i];
  int64_t base = v.offset;
  for (int64_t o = 0; o < outer; ++o) {
    if (s == 1) {
      std::memcpy(dst, src + base, static_cast<size_t>(n) * sizeof(float));
    } else {
      for (int64_t i = 0; i < n; ++i) dst[i] = src[base + i * s];
    }
    dst += n;
    for (int d = inner - 1; d >= 0; --d) {
      base += v.stride[d];
      if (++index[d] < v.dims[d]) break;
      base -= v.stride[d] * v.dims[d];
      index[d] = 0;
    }
  }
}

}  // namespace runtime
