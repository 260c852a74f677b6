#include "detection/anchors.h"

#include <cmath>
#include <cstddef>

std::vector<Anchor> ssd_anchors(int input_size, const std::vector<int>& strides) {
  std::vector<Anchor> anchors;
  std::size_t layer_start = 0;
  while (layer_start < strides.size()) {
    const int stride = strides[layer_start];
    std::size_t layer_end = layer_start + 1;
    while (layer_end < strides.size() && strides[layer_end] == stride) ++layer_end;
    const int per_cell = 2 * static_cast<int>(layer_end - layer_start);
    layer_start = layer_end;

    // A stride of 0 would make the grid side infinite; it is a layer without
    // anchors, like any other that leaves no grid.
    if (stride <= 0) continue;
    const int grid = static_cast<int>(
        std::ceil(static_cast<float>(input_size) / static_cast<float>(stride)));
    if (grid <= 0) continue;

    const float side = static_cast<float>(grid);
    for (int row = 0; row < grid; ++row) {
      const float y = (static_cast<float>(row) + 0.5f) / side;
      for (int col = 0; col < grid; ++col) {
        const float x = (static_cast<float>(col) + 0.5f) / side;
        anchors.insert(anchors.end(), static_cast<std::size_t>(per_cell), Anchor{x, y});
      }
    }
  }
  return anchors;
}
