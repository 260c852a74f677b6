#include "runtime/kernels/conv2d_bands.h"

#include <algorithm>

namespace runtime::kernels {

std::vector<Band> plan_bands(const Conv2DShape& s, size_t band_bytes) {
  const size_t row_bytes = size_t(s.out_width) * s.out_channels * sizeof(float);
  const int rows = static_cast<int>(std::clamp<size_t>(band_bytes / row_bytes, 1, s.out_height));
  if (s.batch != 1 || rows >= s.out_height) return {Band{0, 0, s}};

  const int reach = (s.kernel_height - 1) * s.dilation_height + 1;
  std::vector<Band> bands;
  for (int first = 0; first < s.out_height; first += rows) {
    const int last = std::min(first + rows, s.out_height);  // exclusive
    // Rows of the padded input this band reads, then the part inside the image.
    const int begin = first * s.stride_height - s.pad_top;
    const int end = (last - 1) * s.stride_height - s.pad_top + reach;
    Band band{first, std::max(begin, 0), s};
    band.shape.pad_top = std::max(-begin, 0);
    band.shape.pad_bottom = std::max(end - s.in_height, 0);
    band.shape.in_height = std::min(end, s.in_height) - band.in_row;
    band.shape.out_height = last - first;
    // Padding wider than the kernel's reach can leave a band with no input
    // row at all; such a convolution stays whole.
    if (band.shape.in_height < 1) return {Band{0, 0, s}};
    bands.push_back(band);
  }
  return bands;
}

bool same_geometry(const Conv2DShape& a, const Conv2DShape& b) {
  return a.in_height == b.in_height && a.out_height == b.out_height && a.pad_top == b.pad_top &&
         a.pad_bottom == b.pad_bottom;
}

}  // namespace runtime::kernels
